// The plot's rooms without a widget: lines read as the device sent them
// (pieces split anywhere, lines run together, a decimal comma, a line of
// names, log text), every value kept exactly and its time that of the
// line's first byte, spans and frames that agree with every point, folding
// within the budget, and the CSV file.

#include "csvwriter.h"
#include "linereader.h"
#include "plotframe.h"
#include "seriesstore.h"
#include "support.h"

#include <QtTest>

#include <ctime>
#include <random>

Q_DECLARE_METATYPE(ReadingChoice)

namespace
{

QString number(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

// "name: v v v | name: v v" in the store's order.
QString contents(const SeriesStore &store)
{
    QStringList out;
    for (int s = 0; s < store.seriesCount(); ++s) {
        QString line = store.name(s) + u':';
        for (qint64 p = 0; p < store.points(s); ++p)
            line += u' ' + number(store.value(s, p).value_or(qQNaN()));
        out += line;
    }
    return out.join(QStringLiteral(" | "));
}

QString counts(const LineReader &reader)
{
    const LineReader::Counts c = reader.counts();
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(c.received)
        .arg(c.plotted)
        .arg(c.rejected)
        .arg(c.skipped)
        .arg(c.held);
}

} // namespace

class TestPlot : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }

    void readNumber_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<char>("mark");
        QTest::addColumn<QString>("value"); // empty: not a number
        QTest::newRow("point") << QByteArray("21.5") << '.' << "21.5";
        QTest::newRow("comma") << QByteArray("-0,25") << ',' << "-0.25";
        QTest::newRow("either") << QByteArray("+3,5") << char(0) << "3.5";
        QTest::newRow("exponent") << QByteArray("1.5e-3") << '.' << "0.0015";
        QTest::newRow("bare fraction") << QByteArray(".5") << '.' << "0.5";
        QTest::newRow("trailing mark") << QByteArray("5.") << '.' << "5";
        QTest::newRow("other mark") << QByteArray("21,5") << '.' << "";
        QTest::newRow("two marks") << QByteArray("1.2.3") << char(0) << "";
        QTest::newRow("unit") << QByteArray("21.5V") << '.' << "";
        QTest::newRow("blank") << QByteArray(" 1") << '.' << "";
        QTest::newRow("sign only") << QByteArray("-") << '.' << "";
        QTest::newRow("no exponent digits") << QByteArray("1e") << '.' << "";
        QTest::newRow("too large") << QByteArray("1e999") << '.' << "";
        QTest::newRow("hex") << QByteArray("0x10") << '.' << "";
        QTest::newRow("too long") << QByteArray(65, '1') << '.' << "";
    }
    void readNumber()
    {
        QFETCH(QByteArray, text);
        QFETCH(char, mark);
        QFETCH(QString, value);
        const std::optional<double> v = ::readNumber(text, mark);
        QCOMPARE(v ? number(*v) : QString(), value);
    }

    // Lines in pieces as the port hands them in; the counts are received,
    // plotted, rejected, skipped and held.
    void lines_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<ReadingChoice>("choice");
        QTest::addColumn<QString>("series");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<QString>("settled"); // format separator decimal, as numbers
        using L = QList<QByteArray>;
        const ReadingChoice automatic;
        QTest::newRow("pairs with commas") << L{"temp:21.5,feuchte:48\r\ntemp:21.6,feuchte:49\r\n"}
                                           << automatic << "temp: 21.5 21.6 | feuchte: 48 49"
                                           << "2 2 0 0 0"
                                           << "1 2 0";
        QTest::newRow("pairs with blanks and decimal commas")
            << L{"temp:21,5 feuchte:48\ntemp:21,75 feuchte:47\nTemp: 2,25 feuchte=-1\n"}
            << automatic << "temp: 21.5 21.75 | feuchte: 48 47 -1 | Temp: 2.25"
            << "3 3 0 0 0"
            << "1 1 0";
        QTest::newRow("pairs, a name joining later")
            << L{"a:1;b:2\r\na:3;b:4;c:5\r\nc:6\r\n"} << automatic << "a: 1 3 | b: 2 4 | c: 5 6"
            << "3 3 0 0 0"
            << "1 3 0";
        QTest::newRow("numbers with blanks and tabs")
            << L{"1 2\t3\r\n  4\t 5 6 \r\n"} << automatic << "1: 1 4 | 2: 2 5 | 3: 3 6"
            << "2 2 0 0 0"
            << "2 1 0";
        QTest::newRow("numbers with semicolons and decimal commas")
            << L{"21,5;48,1;\r\n21,6;48,2;\r\n"} << automatic << "1: 21.5 21.6 | 2: 48.1 48.2"
            << "2 2 0 0 0"
            << "2 3 0";
        QTest::newRow("numbers with commas")
            << L{"21.5,48.1\r\n21.6, 48.2\r\n"} << automatic << "1: 21.5 21.6 | 2: 48.1 48.2"
            << "2 2 0 0 0"
            << "2 2 0";
        QTest::newRow("a single decimal comma")
            << L{"21,5\r\n-3,25\r\n"} << automatic << "1: 21.5 -3.25"
            << "2 2 0 0 0"
            << "2 1 0";
        QTest::newRow("a line of names") << L{"Zeit [s];U [V]\r\n1;12,5\r\n2;12,25\r\n"}
                                         << ReadingChoice{ReadingFormat::Automatic,
                                                          Separator::Semicolon,
                                                          DecimalMark::Automatic,
                                                          {}}
                                         << "Zeit [s]: 1 2 | U [V]: 12.5 12.25"
                                         << "3 2 0 1 0"
                                         << "2 3 0";
        QTest::newRow("names that do not fit are log text")
            << L{"Messknoten bereit\r\n1 2 3\r\n4 5 6\r\n"} << automatic
            << "1: 1 4 | 2: 2 5 | 3: 3 6"
            << "3 2 0 1 0"
            << "2 1 0";
        QTest::newRow("split anywhere") << L{"21.5,4", "8.1\r", "\n21", ".6,48.2", "\r\n"}
                                        << automatic << "1: 21.5 21.6 | 2: 48.1 48.2"
                                        << "2 2 0 0 0"
                                        << "2 2 0";
        QTest::newRow("numbers run together")
            << L{"21.5,48.1\r\n21.6,48.221.7,48.3\r\n21.8,48.4\r\n"} << automatic
            << "1: 21.5 21.8 | 2: 48.1 48.4"
            << "3 2 1 0 0"
            << "2 2 0";
        QTest::newRow("blank numbers run together")
            << L{"1 2\r\n3 4\r\n5 67 8\r\n9 10\r\n"} << automatic << "1: 1 3 9 | 2: 2 4 10"
            << "4 3 1 0 0"
            << "2 1 0";
        QTest::newRow("pairs run together")
            << L{"temp:21.5,feuchte:48\r\ntemp:21.6,feuchte:49\r\ntemp:21.7,feuchte:50temp:21.8,"
                 "feuchte:51\r\ntemp:21.9,feuchte:52\r\n"}
            << automatic << "temp: 21.5 21.6 21.9 | feuchte: 48 49 52"
            << "4 3 1 0 0"
            << "1 2 0";
        QTest::newRow("a pair without its name")
            << L{":5 a:1\r\na:1\r\na:2\r\n"} << automatic << "a: 1 2"
            << "3 2 1 0 0"
            << "1 1 0";
        QTest::newRow("a broken first line is no series")
            << L{"mp:21.5,feuchte:48\r\ntemp:21.6,feuchte:49\r\n"} << automatic
            << "temp: 21.6 | feuchte: 49"
            << "2 1 1 0 0"
            << "1 2 0";
        QTest::newRow("a broken first count")
            << L{"8.1\r\n21.5,48.1\r\n21.6,48.2\r\n"} << automatic << "1: 21.5 21.6 | 2: 48.1 48.2"
            << "3 2 1 0 0"
            << "2 2 0";
        QTest::newRow("the first line waits for the second") << L{"1 2\r\n"} << automatic << ""
                                                             << "1 0 0 0 1"
                                                             << "";
        QTest::newRow("board log among numbers")
            << L{"I (312) boot: Messknoten V2.4 gestartet\r\n\r\n1 2\r\n3 4\r\nE (1510) mqtt: "
                 "Verbindung abgelehnt\r\n5 6\r\n"}
            << automatic << "1: 1 3 5 | 2: 2 4 6"
            << "6 3 0 3 0"
            << "2 1 0";
        QTest::newRow("a log line with numbers is rejected")
            << L{"1 2\r\n3 4\r\nTemperatur 21,5 C\r\n"} << automatic << "1: 1 3 | 2: 2 4"
            << "3 2 1 0 0"
            << "2 1 0";
        QTest::newRow("decimal point chosen")
            << L{"1 2\r\n3 4\r\n21,5 48\r\n"}
            << ReadingChoice{ReadingFormat::Numbers, Separator::Blank, DecimalMark::Point, {}}
            << "1: 1 3 | 2: 2 4"
            << "3 2 1 0 0"
            << "2 1 1";
        QTest::newRow("pattern") << L{"Messwert 00001: 11,523 V\r\nLOG\r\nMesswert 00002: 12 V\r\n"}
                                 << ReadingChoice{ReadingFormat::Pattern, Separator::Automatic,
                                                  DecimalMark::Automatic,
                                                  "Messwert (?<n>\\d+): (?<U>[\\d,]+) V"}
                                 << "n: 1 2 | U: 11.523 12"
                                 << "3 2 0 1 0"
                                 << "3 0 0";
        QTest::newRow("pattern group that is no number")
            << L{"U=12,5\r\nU=12,5,5\r\nU=13\r\n"}
            << ReadingChoice{ReadingFormat::Pattern, Separator::Automatic, DecimalMark::Automatic,
                             "U=(?<U>\\S+)"}
            << "U: 12.5 13"
            << "3 2 1 0 0"
            << "3 0 0";
        QTest::newRow("pattern without named group")
            << L{"1 2\r\n"}
            << ReadingChoice{ReadingFormat::Pattern, Separator::Automatic, DecimalMark::Automatic,
                             "(\\d)"}
            << ""
            << "1 0 0 1 0"
            << "3 0 0";
        QTest::newRow("line ends paired")
            << L{"1\r\r2\n\n3\r", "\n\r\n4\n\r"} << automatic << "1: 1 2 3 4"
            << "5 4 0 1 0"
            << "2 1 0";
        QTest::newRow("a line too long")
            << L{"1 2\r\n3 4\r\n" + QByteArray(5000, '5') + "\r\n6 7\r\n"} << automatic
            << "1: 1 3 6 | 2: 2 4 7"
            << "4 3 1 0 0"
            << "2 1 0";
    }
    void lines()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(ReadingChoice, choice);
        QFETCH(QString, series);
        QFETCH(QString, counts);
        QFETCH(QString, settled);
        SeriesStore store;
        LineReader reader(store);
        reader.setChoice(choice);
        qint64 time = 1000;
        for (const QByteArray &piece : pieces)
            reader.feed(piece, time += 10);
        QCOMPARE(contents(store), series);
        QCOMPARE(::counts(reader), counts);
        const std::optional<ReadingChoice> s = reader.settled();
        QCOMPARE(s ? QStringLiteral("%1 %2 %3")
                         .arg(int(s->format))
                         .arg(int(s->separator))
                         .arg(int(s->decimal))
                   : QString(),
                 settled);
    }

    // Each row's time is that of the piece its line's first byte came in,
    // as the history stamps it; a port's closing leaves an unfinished line
    // out, and its opening starts the pairing and the first-line rule anew.
    void timesAndSessions()
    {
        SeriesStore store;
        LineReader reader(store);
        reader.feed("1;2\r\n3;", 100);
        reader.feed("4\r", 200);
        reader.feed("\n5;6\r\n7;8", 300);
        reader.sessionEnded();
        QCOMPARE(::counts(reader), QStringLiteral("4 3 1 0 0"));
        reader.sessionStarted();
        reader.feed("\n9;10\r\n", 400); // the LF ends an empty line here
        QCOMPARE(::counts(reader), QStringLiteral("6 4 1 1 0"));
        QCOMPARE(store.rows(), 4);
        QCOMPARE(store.timeOf(0), 100);
        QCOMPARE(store.timeOf(1), 100);
        QCOMPARE(store.timeOf(2), 300);
        QCOMPARE(store.timeOf(3), 400);
        QCOMPARE(contents(store), QStringLiteral("1: 1 3 5 9 | 2: 2 4 6 10"));
    }

    // Values read back exactly whatever their digits, the spans agree with
    // every point, also across gaps and folded chunks, and folding keeps the
    // store within its budget.
    void store_data()
    {
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<int>("every"); // the second series has a point every n rows
        QTest::newRow("exact") << SeriesStore::DefaultBudget << 1;
        QTest::newRow("with gaps") << SeriesStore::DefaultBudget << 3;
        QTest::newRow("folded") << qint64(400'000) << 2;
    }
    void store()
    {
        QFETCH(qint64, budget);
        QFETCH(int, every);
        SeriesStore store(budget);
        const int a = store.addSeries(QStringLiteral("a"));
        const int b = store.addSeries(QStringLiteral("b"));
        std::mt19937_64 random(7);
        std::vector<double> va, vb;
        std::vector<qint64> rb;
        constexpr int Rows = 200'000;
        for (int r = 0; r < Rows; ++r) {
            store.addRow(1000 + r / 3);
            // Whole numbers, a few decimals, then any double now and again.
            const int kind = r / 10000 % 4;
            const double v = kind == 0   ? double(qint64(random() % 2000) - 1000)
                             : kind == 1 ? double(qint64(random() % 200000) - 100000) / 1000
                             : kind == 2 ? double(random() % 1000) / 7
                                         : double(qint64(random() % 4000000000) - 2000000000) / 10;
            store.append(a, v);
            va.push_back(v);
            if (r % every == 0) {
                const double w = double(random() % 100000) / 100;
                store.append(b, w);
                vb.push_back(w);
                rb.push_back(r);
            }
        }
        QVERIFY(store.bytes() <= budget + 2 * SeriesStore::ChunkSize * 12);
        const bool folding = budget < SeriesStore::DefaultBudget;
        QCOMPARE(store.foldedRows() > 0, folding);
        for (size_t p = 0; p < va.size(); ++p) {
            const std::optional<double> v = store.value(a, qint64(p));
            if (v)
                QCOMPARE(*v, va[p]);
            else
                QVERIFY(folding && qint64(p) < store.foldedRows() + SeriesStore::ChunkSize);
        }
        for (size_t p = 0; p < vb.size(); ++p) {
            // A folded point's row is that of the first of its 64.
            const std::optional<double> v = store.value(b, qint64(p));
            QCOMPARE(store.rowOf(b, qint64(p)), v ? rb[p] : rb[p / 64 * 64]);
            if (v) {
                QCOMPARE(*v, vb[p]);
                QCOMPARE(store.pointAtRow(b, rb[p]), qint64(p));
            }
        }
        // Within folded rows, the first of the 64 that may hold the time.
        const qint64 at = store.rowAt(1000 + 50'000);
        QVERIFY2(at <= 150'000 && at > 150'000 - (folding ? 64 : 1),
                 qPrintable(QString::number(at)));
        // Spans of stretches of every length against the points themselves:
        // exact where nothing is folded, never narrower where it is.
        for (int i = 0; i < 300; ++i) {
            const qint64 from = qint64(random() % va.size());
            const qint64 to = from + qint64(random() % (i < 150 ? 200 : 100'000));
            const SeriesStore::Range r = store.range(a, from, to);
            const auto end = va.begin() + std::min<qint64>(to, qint64(va.size()));
            const double lo = *std::min_element(va.begin() + from, end);
            const double hi = *std::max_element(va.begin() + from, end);
            if (folding) {
                QVERIFY(r.min <= lo && r.max >= hi);
            } else {
                QCOMPARE(r.min, lo);
                QCOMPARE(r.max, hi);
            }
        }
    }

    // A frame's columns hold the smallest, largest, first and last of the
    // points that fall in them, whatever the width, on either axis.
    void frame_data()
    {
        QTest::addColumn<int>("axis");
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::newRow("time, all") << int(XAxis::Time) << 640 << 0.0 << 100'000.0;
        QTest::newRow("time, a few points a column")
            << int(XAxis::Time) << 500 << 20'000.0 << 21'000.0;
        QTest::newRow("time, columns between points")
            << int(XAxis::Time) << 300 << 30'000.0 << 30'010.0;
        QTest::newRow("rows") << int(XAxis::Row) << 333 << 1000.0 << 150'000.0;
    }
    void frame()
    {
        QFETCH(int, axis);
        QFETCH(int, width);
        QFETCH(double, from);
        QFETCH(double, to);
        SeriesStore store;
        const int s = store.addSeries(QStringLiteral("s"));
        std::mt19937 random(3);
        std::vector<double> v;
        std::vector<qint64> time;
        for (int r = 0; r < 200'000; ++r) {
            time.push_back(r / 2);
            store.addRow(time.back());
            v.push_back(double(int(random() % 20001) - 10000) / 100);
            store.append(s, v.back());
        }
        PlotView view;
        view.axis = XAxis(axis);
        view.xFrom = from;
        view.xTo = to;
        view.width = width;
        view.rowEnd = store.rows() - 10; // a paused plot: the last ten are not drawn
        const PlotFrame frame = makeFrame(store, view, {s});
        QCOMPARE(frame.traces.size(), size_t(1));
        const Trace &t = frame.traces.front();
        std::map<int, Trace::Column> expected;
        qint64 lastBefore = -1, firstAfter = -1;
        for (qint64 r = 0; r < view.rowEnd; ++r) {
            const double x = axis == int(XAxis::Time) ? double(time[size_t(r)]) : double(r);
            const double column = (x - from) / (to - from) * width;
            if (column < 0) {
                lastBefore = r;
                continue;
            }
            if (column >= width) {
                if (firstAfter < 0)
                    firstAfter = r;
                continue;
            }
            const int c = int(column);
            const double value = v[size_t(r)];
            auto [it, fresh] =
                expected.try_emplace(c, Trace::Column{c, value, value, value, value});
            it->second.min = std::min(it->second.min, value);
            it->second.max = std::max(it->second.max, value);
            it->second.last = value;
        }
        QCOMPARE(t.columns.size(), expected.size());
        for (const Trace::Column &c : t.columns) {
            const Trace::Column &e = expected.at(c.x);
            QCOMPARE(c.min, e.min);
            QCOMPARE(c.max, e.max);
            QCOMPARE(c.first, e.first);
            QCOMPARE(c.last, e.last);
        }
        QCOMPARE(t.before.has_value(), lastBefore >= 0);
        if (t.before)
            QCOMPARE(t.before->value, v[size_t(lastBefore)]);
        QCOMPARE(t.after.has_value(), firstAfter >= 0);
        if (t.after)
            QCOMPARE(t.after->value, v[size_t(firstAfter)]);
    }

    // The file as a German spreadsheet reads it, the time as the history
    // shows it, a column per series, empty cells where a series had no value
    // in a line, names quoted where they must be.
    void csv_data()
    {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<QByteArray>("file");
        const QByteArray head = "Zeit;temp;\"a;\"\"b\"\"\"\r\n";
        QTest::newRow("all") << qint64(0) << qint64(99)
                             << head + "1970-01-01 10:00:00.125;21,5;-0,001\r\n"
                                       "1970-01-01 10:00:01.000;1e+21;\r\n"
                                       "1970-01-01 10:00:01.001;;3\r\n";
        QTest::newRow("range") << qint64(1) << qint64(2)
                               << head + "1970-01-01 10:00:01.000;1e+21;\r\n";
    }
    void csv()
    {
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(QByteArray, file);
        SeriesStore store;
        const int t = store.addSeries(QStringLiteral("temp"));
        const int w = store.addSeries(QStringLiteral("a;\"b\""));
        store.addRow(36'000'125);
        store.append(t, 21.5);
        store.append(w, -0.001);
        store.addRow(36'001'000);
        store.append(t, 1e21);
        store.addRow(36'001'001);
        store.append(w, 3);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kurven.csv"));
        CsvWriter writer(store, from, to, {t, w});
        QCOMPARE(writer.open(path), QString());
        while (writer.step(1)) {
        }
        QCOMPARE(writer.finish(), QString());
        QCOMPARE(contentOf(path), file);
    }
};

QTEST_GUILESS_MAIN(TestPlot)
#include "tst_plot.moc"
