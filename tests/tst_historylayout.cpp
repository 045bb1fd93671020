// The history's rows in sight, planned from the log without a window: hex
// rows across line ends, markers, sent lines, continued pieces, the colours
// carried in from lines above, and hidden sequences with a hit in them; and
// a copy of a selection too large for the clipboard.

#include "historylayout.h"
#include "historyspoken.h"

#include <QtTest>

#include <ctime>

namespace
{

// What comes, in order: 'r' received bytes, 's' a command sent, 'm' a marker.
using Events = QList<std::pair<char, QByteArray>>;

} // namespace

class TestHistoryLayout : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> folder;
    std::shared_ptr<HistoryLog> log;
    qint64 now = 0;

    // Each event a second after the one before, from 10:00:00.000 UTC.
    void write(const Events &events)
    {
        now = 36000000;
        for (const auto &[kind, bytes] : events) {
            if (kind == 'r')
                log->appendReceived(bytes);
            else if (kind == 's')
                log->appendSent(bytes);
            else
                log->appendMarker(QString::fromUtf8(bytes));
            now += 1000;
        }
    }
    // A cell a column wide, a boxed one as wide as its name in angle
    // brackets, as the copied text has it.
    static HistoryLayout::Metrics metrics()
    {
        return {0, 1, [](const Cell &cell) {
                    return cell.kind == Cell::Hidden  ? 0
                           : cell.kind == Cell::Boxed ? int(boxLabel(cell).size()) + 2
                                                      : 1;
                }};
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        // Pieces of at most 16 bytes, so that a short line is cut.
        log = std::make_shared<HistoryLog>(
            HistoryLog::Options{folder->path(), 1 << 26, 16, [this] { return now; }});
    }
    void cleanup()
    {
        log.reset();
        folder.reset();
    }

    void rowsInSight_data()
    {
        QTest::addColumn<Events>("events");
        QTest::addColumn<HistoryLayout::Choices>("choices");
        QTest::addColumn<QByteArray>("hexSearch"); // empty: none
        QTest::addColumn<int>("top");              // -1: following the end
        QTest::addColumn<QStringList>("rows");
        // The colour of each row's first cell, from the colour sequences.
        QTest::addColumn<QList<quint32>>("colours");
        const HistoryLayout::Choices text;
        HistoryLayout::Choices hex;
        hex.hex = true;
        HistoryLayout::Choices noSent;
        noSent.sent = false;
        const quint32 none = TextColour::Default;
        const quint32 red = TextColour::indexed(1), green = TextColour::indexed(2);

        QTest::newRow("hex rows across line ends, each with its first byte's time")
            << Events{{'r', "0123456789\r\n"}, {'r', "abcdefghij\r\n"}} << hex << QByteArray() << -1
            << QStringList{"00000000  10:00:00.000  30 31 32 33 34 35 36 37  38 39 0D 0A 61 62 "
                           "63 64  0123456789··abcd",
                           "00000010  10:00:01.000  65 66 67 68 69 6A 0D 0A" +
                               QString(27, QLatin1Char(' ')) + "efghij··"}
            << QList<quint32>{none, none};
        QTest::newRow("a marker ends the colours")
            << Events{{'r', "\x1b[31mrot\r\n"}, {'m', "Com 1 geschlossen"}, {'r', "weiter\r\n"}}
            << text << QByteArray() << -1
            << QStringList{"10:00:00.000  rot", "10:00:01.000  Com 1 geschlossen",
                           "10:00:02.000  weiter"}
            << QList<quint32>{red, none, none};
        QTest::newRow("a sent line, in its own colours, between received ones")
            << Events{{'r', "\x1b[31mrot\r\n"}, {'s', "AT\r"}, {'r', "OK\r\n"}} << text
            << QByteArray() << -1
            << QStringList{"10:00:00.000  rot", "10:00:01.000  → AT<CR>", "10:00:02.000  OK"}
            << QList<quint32>{red, none, red};
        QTest::newRow("sent lines not shown")
            << Events{{'r', "> "}, {'s', "AT\r"}, {'r', "OK\r\n"}} << noSent << QByteArray() << -1
            << QStringList{"10:00:00.000  > ", "OK"} << QList<quint32>{none, none};
        QTest::newRow("a continued piece without a time")
            << Events{{'r', "ABCDEFGHIJKLMNOPQRSTUV\r\n"}} << text << QByteArray() << -1
            << QStringList{"10:00:00.000  ABCDEFGHIJKLMNOP", "QRSTUV"}
            << QList<quint32>{none, none};
        QTest::newRow("colours carried in from a line above those in sight")
            << Events{{'r', "\x1b[32mgruen\r\na\r\nb\r\nc\r\n"}} << text << QByteArray() << 2
            << QStringList{"10:00:00.000  b", "10:00:00.000  c"} << QList<quint32>{green, green};
        QTest::newRow("a hidden sequence with a hit shown as it came, the rest hidden")
            << Events{{'r', "\x1b[31mROT\x1b[0m ok\r\n"}} << text << QByteArray("\x1b[3") << -1
            << QStringList{"10:00:00.000  <ESC>[31mROT ok"} << QList<quint32>{none};
    }
    void rowsInSight()
    {
        QFETCH(Events, events);
        QFETCH(HistoryLayout::Choices, choices);
        QFETCH(QByteArray, hexSearch);
        QFETCH(int, top);
        QFETCH(QStringList, rows);
        QFETCH(QList<quint32>, colours);
        write(events);
        HistoryLayout layout(log, metrics());
        layout.setChoices(choices);
        layout.setRoom(int(rows.size()), int(rows.size()));
        if (!hexSearch.isEmpty()) {
            SearchPattern pattern;
            pattern.mode = SearchPattern::Hex;
            pattern.bytes = hexSearch;
            pattern.decode = choices.decode;
            layout.setSearch(pattern);
        }
        if (top >= 0) {
            layout.hold();
            layout.scrolledTo(top);
        }
        layout.plan();
        QStringList shown;
        QList<quint32> firstColours;
        for (const HistoryRow &row : layout.rows()) {
            shown.append(SpokenRows::rowText(layout, row));
            const auto first = std::find_if(row.cells.begin(), row.cells.end(),
                                            [](const Cell &c) { return c.kind != Cell::Hidden; });
            firstColours.append(first == row.cells.end() ? TextColour::Default
                                                         : first->style.foreground);
        }
        QCOMPARE(shown, rows);
        QCOMPARE(firstColours, colours);
    }

    // A selection larger than the clipboard takes is not copied; one that
    // is, is copied whole; a copy stopped midway gives nothing.
    void copyText()
    {
        QByteArray lines;
        for (int i = 0; i < 100001; ++i)
            lines += "x\r\n";
        write({{'r', lines}});
        HistoryLayout layout(log, metrics());
        layout.select({0, 0}, {100000, 1});
        QVERIFY(!HistorySelection::copyText(*log, *layout.copyRange()));
        layout.select({1, 0}, {99999, 1});
        const std::optional<QString> text = HistorySelection::copyText(*log, *layout.copyRange());
        QVERIFY(text);
        QCOMPARE(text->count(QLatin1Char('\n')), 99998);
        QCOMPARE(text->first(16), "10:00:00.000  x\n");
        int reports = 0;
        QVERIFY(!HistorySelection::copyText(*log, *layout.copyRange(),
                                            [&reports](double) { return ++reports < 3; }));
        QCOMPARE(reports, 3);
    }
};

QTEST_GUILESS_MAIN(TestHistoryLayout)
#include "tst_historylayout.moc"
