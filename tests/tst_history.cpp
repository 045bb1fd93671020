// The history store, its line decoder, search and saving: lines and times as
// the device sent them, the received bytes kept exactly, old data dropped,
// hits across pieces, full disks and files left by killed runs.

#include "historyexport.h"
#include "historyjobs.h"
#include "historysearch.h"
#include "historystore.h"
#include "linedecoder.h"
#include "support.h"

#include <QtTest>

#include <atomic>
#include <csignal>
#include <ctime>
#include <random>
#include <thread>

namespace
{

using Events = QList<QByteArray>;

// Control bytes and those above 126 as %XX.
QString escaped(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes)
        out += uchar(c) < 0x20 || uchar(c) > 0x7e
                   ? QStringLiteral("%%1").arg(uchar(c), 2, 16, QLatin1Char('0')).toUpper()
                   : QString(QLatin1Char(c));
    return out;
}

// A store in its own folder, on a clock the test sets.
struct Rig {
    QTemporaryDir dir;
    qint64 now = 1000;
    HistoryStore store;
    explicit Rig(qint64 budget = qint64(1) << 30, qint64 piece = 1024)
        : store({dir.path(), budget, piece, [this] { return now; }})
    {
    }
    // Each event a second after the one before; one that starts with "→"
    // is a command sent.
    void receive(const Events &events)
    {
        for (const QByteArray &e : events) {
            now += 1000;
            if (e.startsWith("→"))
                store.appendSent(e.mid(3));
            else
                store.appendReceived(e);
        }
    }
    HistoryLog &log() { return *store.log(); }
    // "time kind[+] text": + for a continued piece, the text escaped.
    QStringList lines()
    {
        QStringList out;
        for (const HistoryLine &l : log().lines(log().beginLine(), 1 << 20))
            out << QStringLiteral("%1 %2%3 %4")
                       .arg(l.time)
                       .arg(QLatin1Char("RSM"[l.kind]))
                       .arg(l.continued() ? QStringLiteral("+") : QString())
                       .arg(escaped(log().content(l)));
        return out;
    }
};

// The cells of a line; none when a byte is not shown or hidden exactly once.
std::optional<std::vector<Cell>> cellsOf(QByteArrayView bytes, const DecodeOptions &options,
                                         TextStyle &style)
{
    std::vector<Cell> cells;
    decodeLine(bytes, options, style, cells);
    int next = 0;
    for (const Cell &c : cells) {
        if (c.begin != next || c.size < 1)
            return std::nullopt;
        next += c.size;
    }
    return next == bytes.size() ? std::optional(cells) : std::nullopt;
}

// The lines as copied text joined by "|", colours carried from line to line;
// "{n}" where the text turns to colour n, "{#rrggbb}" to a colour given as
// red, green, blue, "{}" where back to the default.
QString decoded(HistoryLog &log, const DecodeOptions &options)
{
    QString text;
    TextStyle style;
    quint32 colour = TextColour::Default;
    for (const HistoryLine &l : log.lines(log.beginLine(), 1000)) {
        const std::optional<std::vector<Cell>> cells = cellsOf(log.content(l), options, style);
        if (!cells)
            return QStringLiteral("bytes lost in line %1").arg(l.number);
        for (const Cell &c : *cells) {
            if (c.kind != Cell::Hidden && c.style.foreground != colour) {
                colour = c.style.foreground;
                if (colour == TextColour::Default)
                    text += QStringLiteral("{}");
                else if (colour & TextColour::RgbFlag)
                    text += QStringLiteral("{#%1}").arg(colour ^ TextColour::RgbFlag, 6, 16,
                                                        QLatin1Char('0'));
                else
                    text += QStringLiteral("{%1}").arg(colour ^ TextColour::IndexedFlag);
            }
            appendCopyText(c, text);
        }
        text += QLatin1Char('|');
    }
    text.chop(1);
    return text;
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }

    void linesAndTimes_data()
    {
        QTest::addColumn<Events>("events");
        QTest::addColumn<qint64>("piece");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("pairing rule of the receive box")
            << Events{"A\r\nB\n\rC\r\rD\n\n\r\nE"} << qint64(1024)
            << QStringList{"2000 R A", "2000 R B", "2000 R C", "2000 R D", "2000 R ", "2000 R E"};
        QTest::newRow("pair split across events")
            << Events{"A\r", "\nB\r", "\r", "\r"} << qint64(1024)
            << QStringList{"2000 R A", "3000 R B", "5000 R "};
        QTest::newRow("time of the first byte")
            << Events{"Hel", "lo\r\nWor", "ld\r\n"} << qint64(1024)
            << QStringList{"2000 R Hello", "3000 R World"};
        QTest::newRow("endless line cut into pieces")
            << Events{QByteArray(20, 'x'), QByteArray(20, 'y') + "\r\n"} << qint64(16)
            << QStringList{"2000 R xxxxxxxxxxxxxxxx", "2000 R+ xxxxyyyyyyyyyyyy",
                           "3000 R+ yyyyyyyy"};
        QTest::newRow("a character is not cut")
            << Events{QByteArray(15, 'a') + "\xC2", "\xB0"
                                                    "C\r\n"}
            << qint64(16) << QStringList{"2000 R aaaaaaaaaaaaaaa", "3000 R+ %C2%B0C"};
        QTest::newRow("an escape sequence is not cut")
            << Events{QByteArray(12, 'a') + "\x1b[31mrot\r\n"} << qint64(16)
            << QStringList{"2000 R aaaaaaaaaaaa", "2000 R+ %1B[31mrot"};
        // A terminal reads a device control string up to ESC \: unfinished
        // at the cut, it moves on whole.
        QTest::newRow("a device control string is not cut")
            << Events{QByteArray(12, 'a') + "\x1bPq#0\x1b\\ok\r\n"} << qint64(16)
            << QStringList{"2000 R aaaaaaaaaaaa", "2000 R+ %1BPq#0%1B\\ok"};
    }
    void linesAndTimes()
    {
        QFETCH(Events, events);
        QFETCH(qint64, piece);
        QFETCH(QStringList, lines);
        Rig rig(qint64(1) << 20, piece);
        rig.receive(events);
        QCOMPARE(rig.lines(), lines);
        // The stream is kept exactly, and the lines with their line ends
        // cover it without gap or overlap, each byte found in its line.
        HistoryLog &log = rig.log();
        QCOMPARE(log.received(log.receivedBegin(), log.receivedEnd()), events.join());
        qint64 at = 0;
        for (const HistoryLine &l : log.lines(log.beginLine(), 100)) {
            QCOMPARE(l.pos, at);
            at = log.receivedEndOf(l.number);
            for (qint64 pos = l.pos; pos < at; ++pos)
                QCOMPARE(log.lineAt(pos), l.number);
        }
        QCOMPARE(at, events.join().size());

        // Each piece is handed on (to the plot) with the one clock reading
        // its lines got, on a clock that moves with every reading.
        QTemporaryDir dir;
        qint64 readings = 0;
        HistoryStore store({dir.path(), qint64(1) << 20, piece, [&] { return ++readings * 1000; }});
        std::vector<qint64> handed;
        connect(&store, &HistoryStore::received, this,
                [&handed](QByteArrayView, qint64 time) { handed.push_back(time); });
        for (const QByteArray &e : events)
            store.appendReceived(e);
        QCOMPARE(handed.size(), size_t(events.size()));
        for (const HistoryLine &l : store.log()->lines(0, 100))
            QVERIFY(std::find(handed.begin(), handed.end(), l.time) != handed.end());
    }

    // Commands and markers between the received lines: a line goes on after
    // a command that came in its middle, not after a line end or a marker.
    // A saved command's name and a sequence's remark stand with the
    // commands: they do not cut the received line they come in, and a text
    // saved without the commands leaves them out.
    void namedCommands()
    {
        Rig rig;
        rig.receive({"> "});
        rig.store.appendSent("AT\r", QStringLiteral("Befehl Status"));
        rig.receive({"OK\r\npar"});
        rig.store.appendRemark(QStringLiteral("Folge Init: OK erhalten"));
        rig.receive({"tial\r\n"});
        QCOMPARE(rig.lines(),
                 (QStringList{"2000 R > ", "2000 M Befehl Status", "2000 S AT%0D", "3000 R+ OK",
                              "3000 R par", "3000 M Folge Init: OK erhalten", "4000 R+ tial"}));
        const QString saved = rig.dir.filePath("verlauf.txt");
        for (const bool sent : {false, true}) {
            QCOMPARE(HistoryExport::saveText(rig.log(), rig.log().beginLine(), rig.log().endLine(),
                                             {}, sent, saved),
                     QString());
            QCOMPARE(QString::fromUtf8(contentOf(saved)),
                     sent ? QStringLiteral("1970-01-01 00:00:02.000  > \n"
                                           "1970-01-01 00:00:02.000  Befehl Status\n"
                                           "1970-01-01 00:00:02.000  → AT<CR>\n"
                                           "1970-01-01 00:00:03.000  OK\n"
                                           "1970-01-01 00:00:03.000  par\n"
                                           "1970-01-01 00:00:03.000  Folge Init: OK erhalten\n"
                                           "1970-01-01 00:00:04.000  tial\n")
                          : QStringLiteral("1970-01-01 00:00:02.000  > OK\n"
                                           "1970-01-01 00:00:03.000  partial\n"));
        }
    }

    void sentAndMarkers()
    {
        Rig rig;
        rig.receive({"> ", "→AT\r", "OK\r"});
        rig.store.portClosed(3);
        rig.store.portOpened(3, QStringLiteral("9600,n,8,1"));
        // A new opening pairs line ends afresh, as the receive box does.
        rig.receive({"\nB\r\n", "> ", "→ATI\r", "\r\nOK\r\n", "halb"});
        rig.store.portClosed(3);
        rig.receive({"danach\r\n"});
        const QStringList lines = rig.lines();
        QCOMPARE(lines.size(), 13);
        QCOMPARE(lines.mid(0, 3), (QStringList{"2000 R > ", "3000 S AT%0D", "4000 R+ OK"}));
        QVERIFY(lines[3].startsWith("4000 M Com 3 geschlossen, 01.01.1970 00:00:04"));
        QVERIFY(lines[4].contains("M Com 3 ge%C3%B6ffnet (9600,n,8,1)"));
        QCOMPARE(lines.mid(5, 7),
                 (QStringList{"5000 R ", "5000 R B", "6000 R > ", "7000 S ATI%0D", "8000 R OK",
                              "9000 R halb", "9000 M Com 3 geschlossen, 01.01.1970 00:00:09"}));
        QCOMPARE(lines.mid(12), (QStringList{"10000 R danach"}));

        // Saved as text and searched without the commands, only the answer
        // that went on after the first prompt joins it.
        const QString saved = rig.dir.filePath("verlauf.txt");
        QCOMPARE(HistoryExport::saveText(rig.log(), rig.log().beginLine(), rig.log().endLine(), {},
                                         false, saved),
                 QString());
        QCOMPARE(QString::fromUtf8(contentOf(saved)).split('\n'),
                 (QStringList{"1970-01-01 00:00:02.000  > OK",
                              "1970-01-01 00:00:04.000  Com 3 geschlossen, 01.01.1970 00:00:04",
                              "1970-01-01 00:00:04.000  Com 3 geöffnet (9600,n,8,1), 01.01.1970 "
                              "00:00:04",
                              "1970-01-01 00:00:05.000  ", "1970-01-01 00:00:05.000  B",
                              "1970-01-01 00:00:06.000  > ", "1970-01-01 00:00:08.000  OK",
                              "1970-01-01 00:00:09.000  halb",
                              "1970-01-01 00:00:09.000  Com 3 geschlossen, 01.01.1970 00:00:09",
                              "1970-01-01 00:00:10.000  danach", ""}));
        SearchPattern prompt;
        prompt.text = QStringLiteral("> OK");
        prompt.sentLines = false;
        QCOMPARE(HistorySearch(rig.store.log(), prompt)
                     .count(rig.log().beginLine(), rig.log().endLine()),
                 1);
    }

    void decoder_data()
    {
        QTest::addColumn<Events>("events");
        QTest::addColumn<int>("charset");
        QTest::addColumn<bool>("colours");
        QTest::addColumn<QString>("shown");
        const int utf = int(Charset::Utf8), autom = int(Charset::Automatic);
        QTest::newRow("UTF-8 character split across events")
            << Events{"21,5 \xC2", "\xB0"
                                   "C\r\n"}
            << autom << true << QString::fromUtf8("21,5 °C");
        QTest::newRow("invalid UTF-8, each byte boxed")
            << Events{"a\xFF\xE2\x82(\xED\xA0\x80\r\n"} << utf << true
            << QString("a<FF><E2><82>(<ED><A0><80>");
        QTest::newRow("automatic: a UTF-8 character at the line end")
            << Events{"gro\xC3\x9F\r\n"} << autom << true << QString::fromUtf8("groß");
        QTest::newRow("a 4-byte character across the cut of a long line")
            << Events{QByteArray(1021, 'a') + "\xF0\x9F", "\x98\x80\r\n"} << autom << true
            << QString(1021, 'a') + "|" + QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("automatic takes invalid UTF-8 as Windows-1252")
            << Events{"\xC3\xA4\xFF\r\n"} << autom << true << QString::fromUtf8("Ã¤ÿ");
        QTest::newRow("controls boxed in UTF-8 too")
            << Events{"\t\x7f\xC2\x85\xC2\xA0x\r\n"} << utf << true
            << QString::fromUtf8("\t<DEL><85>\u00a0x");
        QTest::newRow("SGR split across events")
            << Events{"\x1b[3", "1mERR\x1b[0m ok\r\n"} << autom << true << QString("{1}ERR{} ok");
        QTest::newRow("256 colours, bright, reset by 39")
            << Events{"\x1b[38;5;208mA\x1b[39m\x1b[92mB\x1b[39mC\r\n"} << autom << true
            << QString("{208}A{10}B{}C");
        QTest::newRow("colour as red, green, blue") << Events{"\x1b[38;2;10;20;30mA\x1b[0mB\r\n"}
                                                    << autom << true << QString("{#0a141e}A{}B");
        // Out of range: the colour stays; the next one is taken again.
        QTest::newRow("colour numbers beyond 255 ignored")
            << Events{"\x1b[31mA\x1b[38;5;999mB\x1b[38;2;1;2;256mC\x1b[38;5;255mD\r\n"} << autom
            << true << QString("{1}ABC{255}D");
        QTest::newRow("colour carried to the next line")
            << Events{"\x1b[32mI (12) boot\r\n", "weiter\x1b[0m\r\n"} << autom << true
            << QString("{2}I (12) boot|weiter");
        QTest::newRow("cursor moves and titles hidden")
            << Events{"\x1b"
                      "7\x1b[2J\x1b[H\x1b]0;Titel\x07\x1b(B\x1b(0Top\x1b"
                      "8\r\n"}
            << autom << true << QString("Top");
        QTest::newRow("colours off: the escape boxed, the rest as it came")
            << Events{"\x1b[31mR\r\n"} << autom << false << QString("<ESC>[31mR");
        QTest::newRow("a line end inside a sequence")
            << Events{"\x1b[3", "1\r\nm\x1b[\r\n", "\x1b"} << autom << true
            << QString("<ESC>[31|m<ESC>[|<ESC>");
    }
    void decoder()
    {
        QFETCH(Events, events);
        QFETCH(int, charset);
        QFETCH(bool, colours);
        QFETCH(QString, shown);
        Rig rig;
        rig.receive(events);
        QCOMPARE(decoded(rig.log(), {Charset(charset), colours}), shown);
    }

    // Whatever comes, every byte is shown or hidden exactly once, in every
    // character set and with colours on and off; a short run here, the
    // fuzzer of the line decoder checks it at length.
    void decoderKeepsEveryByte()
    {
        // Random bytes, many of them escapes, brackets, digits and lead
        // bytes of UTF-8, so that sequences of every kind begin and break off.
        std::mt19937_64 random(1);
        const QByteArray pieces[] = {"Na",   "del",  "NA",     "\x1b[31m", "\x1b", "[",
                                     "ä",    "\344", "\u212A", "\u017F",   "s",    "k",
                                     "\r\n", "\n",   " ",      "e"};
        QByteArray bytes;
        while (bytes.size() < 4000) {
            const quint64 r = random();
            bytes += r % 3 ? pieces[(r >> 8) % std::size(pieces)] : QByteArray(1, char(r >> 16));
        }
        for (const Charset charset : {Charset::Windows1252, Charset::Utf8, Charset::Automatic}) {
            for (const bool colours : {false, true}) {
                TextStyle style;
                for (qsizetype at = 0; at < bytes.size(); at += 97)
                    QVERIFY(cellsOf(QByteArrayView(bytes).sliced(at).first(
                                        std::min<qsizetype>(97, bytes.size() - at)),
                                    {charset, colours}, style));
            }
        }
    }

    // The count of hits beside the window follows lines that come and go.
    void countFollowsTheLog()
    {
        Rig rig(4 * 1024);
        HistoryJobs jobs(rig.store.log());
        SearchPattern pattern;
        pattern.text = QStringLiteral("treffer");
        jobs.setPattern(pattern);
        auto add = [&](int lines) {
            for (int i = 0; i < lines; ++i)
                rig.store.appendReceived(i % 4 ? "leer\r\n" : "ein Treffer\r\n");
            jobs.refresh();
        };
        add(100);
        QTRY_VERIFY(!jobs.counting());
        QCOMPARE(jobs.hits(), 25);
        add(2000); // old data goes
        QVERIFY(rig.log().droppedBytes() > 0);
        QTRY_VERIFY(!jobs.counting());
        QCOMPARE(jobs.hits(), HistorySearch(rig.store.log(), pattern)
                                  .count(rig.log().beginLine(), rig.log().endLine()));
        QVERIFY(jobs.hits() < 525);
    }

    // Neither what was counted for the pattern before nor a count cancelled
    // after it had ended on its thread, but before its result was taken in,
    // is added to the next pattern's.
    void cancelledCountNotAdded()
    {
        Rig rig;
        HistoryJobs jobs(rig.store.log());
        auto add = [&] {
            for (int i = 0; i < 100; ++i)
                rig.store.appendReceived(i % 4 ? "leer\r\n" : "ein Treffer\r\n");
            jobs.refresh();
        };
        add();
        SearchPattern pattern;
        pattern.text = QStringLiteral("e");
        jobs.setPattern(pattern);
        QTRY_VERIFY(!jobs.counting());
        add();
        QVERIFY(jobs.counting());
        QVERIFY(jobs.threads().waitForDone(20000)); // ended there, not taken in here
        jobs.stopCounting();
        pattern.text = QStringLiteral("treffer");
        jobs.setPattern(pattern);
        QTRY_VERIFY(!jobs.counting());
        QCOMPARE(jobs.hits(), 50);
    }

    // Old data goes while a search beside the window reads: it never gets
    // wrong bytes, and what is kept has its lines and times. Everything the
    // store writes counts toward its budget: a storm of empty lines, whose
    // index outweighs their bytes, stays within it too.
    void droppedOldData_data()
    {
        // %1 stands for the event's number, which is also its time in seconds.
        QTest::addColumn<QByteArray>("event");
        QTest::addColumn<QByteArray>("content"); // of each line in it
        QTest::addColumn<int>("events");
        QTest::newRow("numbered lines")
            << QByteArray("Zeile %1\r\n") << QByteArray("Zeile %1") << 5000;
        QTest::newRow("a storm of empty lines") << QByteArray("\r\n") << QByteArray() << 5000;
        QTest::newRow("empty lines in large pieces")
            << QByteArray("\r\n").repeated(2000) << QByteArray() << 20;
    }
    void droppedOldData()
    {
        QFETCH(QByteArray, event);
        QFETCH(QByteArray, content);
        QFETCH(int, events);
        auto numbered = [](QByteArray text, qint64 n) {
            return text.replace("%1", QByteArray::number(n));
        };
        const qint64 budget = 8 * 1024;
        Rig rig(budget);
        std::atomic<bool> stop{false};
        std::atomic<int> wrong{0};
        const std::shared_ptr<const HistoryLog> reading = rig.store.log();
        std::thread reader([&] {
            while (!stop) {
                const std::vector<HistoryLine> lines = reading->lines(reading->beginLine(), 200);
                const std::vector<QByteArray> contents = reading->contents(lines);
                for (size_t i = 0; i < lines.size(); ++i) // gone meanwhile is fine
                    wrong += !contents[i].isEmpty() && lines[i].kind == HistoryLine::Received &&
                             contents[i] != numbered(content, lines[i].time / 1000);
            }
        });
        QByteArray all;
        qint64 largest = 0; // the folder's files, every few events
        rig.now = 0;
        for (int n = 1; n <= events; ++n) {
            rig.now += 1000;
            all += numbered(event, n);
            rig.store.appendReceived(numbered(event, n));
            if (n % 4)
                continue;
            qint64 size = 0;
            for (const QFileInfo &file : QDir(rig.dir.path()).entryInfoList(QDir::Files))
                size += file.size();
            largest = std::max(largest, size);
        }
        stop = true;
        reader.join();
        QCOMPARE(wrong.load(), 0);
        QCOMPARE_LE(largest, budget * 5 / 4);
        HistoryLog &log = rig.log();
        QVERIFY(log.droppedBytes() > 0);
        // One marker says so; after it every kept line with its own time, none
        // missing, the last the newest.
        const std::vector<HistoryLine> lines = log.lines(log.beginLine(), 5000);
        QCOMPARE(lines.front().kind, HistoryLine::Marker);
        QVERIFY(QString::fromUtf8(log.content(lines.front())).startsWith("Ältere Daten verworfen"));
        QCOMPARE_GE(qint64(lines.size()), 150); // most of the budget kept
        for (size_t i = 1; i < lines.size(); ++i) {
            QCOMPARE(lines[i].kind, HistoryLine::Received);
            QCOMPARE(log.content(lines[i]), numbered(content, lines[i].time / 1000));
            const qint64 step = lines[i].time - lines[i - 1].time;
            QVERIFY(i == 1 || step == 1000 || (step == 0 && event.count('\n') > 1));
        }
        QCOMPARE(lines.back().time, events * 1000);
        QCOMPARE(log.received(log.receivedBegin(), log.receivedEnd()),
                 all.right(log.receivedEnd() - log.receivedBegin()));
        QVERIFY(QDir(rig.dir.path()).entryList(QDir::Files).size() <= 3 * 10 + 1); // files few
    }

    void search_data()
    {
        QTest::addColumn<Events>("events");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<int>("hits");
        QTest::addColumn<qint64>("firstPos"); // of the first hit in the stream
        QTest::addColumn<QString>("without"); // "Gesendete", "Farben": not shown
        const QByteArray cut = QByteArray(13, '.') + "needle" + QByteArray(20, '.') + "\r\n";
        QTest::newRow("text across the cut of a long line")
            << Events{cut, cut} << false << "NEEDLE" << false << 2 << qint64(13) << "";
        QTest::newRow("case") << Events{"Fehler fehler\r\n", "FEHLER\r\n"} << false << "fehler"
                              << true << 1 << qint64(7) << "";
        QTest::newRow("text in UTF-8")
            << Events{"T=21,5 \xC2\xB0"
                      "C\r\n"}
            << false << QString::fromUtf8("°C") << false << 1 << qint64(7) << "";
        // Segments are 1 KiB here: the second event starts the next one.
        QTest::newRow("hex across two segments")
            << Events{QByteArray(1023, 'a') + "\x1b", "[33mX\x1b[33m\r\n"} << true << "1B 5B 33"
            << false << 2 << qint64(1023) << "";
        const Events interrupted{"> nee", "→AT\r", "dle\r\n"};
        QTest::newRow("hex across the search's read blocks")
            << Events{QByteArray((1 << 20) - 1, 'a') + "\x1b[33m\r\n"} << true << "1B 5B 33"
            << false << 1 << qint64((1 << 20) - 1) << "";
        QTest::newRow("text across a hidden command")
            << interrupted << false << "needle" << false << 1 << qint64(2) << "Gesendete";
        QTest::newRow("no text across a command shown")
            << interrupted << false << "needle" << false << 0 << qint64(-1) << "";
        QTest::newRow("commands searched")
            << interrupted << false << "at" << false << 1 << qint64(-1) << "";
        QTest::newRow("hidden sequences not searched")
            << Events{"\x1b[31mrot\r\n"} << false << "31m" << false << 0 << qint64(-1) << "";
        QTest::newRow("shown ones are")
            << Events{"\x1b[31mrot\r\n"} << false << "31m" << false << 1 << qint64(2) << "Farben";
    }
    void search()
    {
        QFETCH(Events, events);
        QFETCH(bool, hex);
        QFETCH(QString, pattern);
        QFETCH(bool, caseSensitive);
        QFETCH(int, hits);
        QFETCH(qint64, firstPos);
        QFETCH(QString, without);
        // Segments of 1 KiB for the short rows; a long stream is kept whole.
        Rig rig(std::max<qint64>(8 * 1024, 8 * events.join().size()), 16);
        rig.receive(events);
        SearchPattern p;
        p.sentLines = without != "Gesendete";
        p.decode.colours = without != "Farben";
        p.mode = hex ? SearchPattern::Hex : SearchPattern::Text;
        p.caseSensitive = caseSensitive;
        p.text = pattern;
        if (hex) {
            const std::optional<QByteArray> bytes = SearchPattern::hexBytes(pattern);
            QVERIFY(bytes);
            p.bytes = *bytes;
        }
        const HistoryLog &log = rig.log();
        const HistorySearch search(rig.store.log(), p);
        QCOMPARE(search.count(log.beginLine(), log.endLine()), hits);
        // Forward from before the start to the first hit, backward from the
        // end to the last; both found where they are.
        const std::optional<SearchHit> first = search.next({log.beginLine() - 1, 0, -1, 0}, true);
        QCOMPARE(first.has_value(), hits > 0);
        if (!first)
            return;
        QCOMPARE(first->pos, firstPos);
        const std::optional<SearchHit> last =
            search.next({log.endLine(), 0, log.receivedEnd(), 0}, false);
        QVERIFY(last);
        const std::optional<SearchHit> round = search.next(*last, true); // to the start
        QVERIFY(round);
        QCOMPARE(round->line, first->line);
        QCOMPARE(search.hitsIn(log.beginLine(), log.endLine()).size(), size_t(hits));
    }

    // Text is looked for in the bytes first, and only the lines that may show
    // it are decoded: that finds exactly what decoding every line finds, in
    // every character set, colours on and off, with and without case, the
    // commands shown or not, through everything and in each line alone.
    void bytesFirstFindsWhatDecodingFinds_data()
    {
        QTest::addColumn<Events>("events");
        QTest::newRow("a board's UTF-8 log in colours")
            << Events{"\x1b[0;32mI (120) wlan: verbunden mit „Büro“\x1b[0m\r\n",
                      "\x1b[0;33mW (130) Temperatur 21,5 °C\x1b[0m\r\n", "E (140) Nadel\r\n"};
        // Octal, so that no letter after a byte is read as part of it.
        QTest::newRow("Windows-1252")
            << Events{"Temperatur 21,5 \260C\r\n", "Stra\337e \200 N\344del nadel\r\n"};
        QTest::newRow("sequences inside words")
            << Events{"Na\x1b[31mdel\r\n", "Na\x1b]0;Titel\adel\r\n",
                      "Na\x1bPq#\x1b\\del Na\x1b[del Na\x1b\r\n"};
        QTest::newRow("pieces cut at 1024 bytes")
            << Events{QByteArray(1021, '.') + "Nadel" + QByteArray(1020, '.') + "äNadel\r\n",
                      QByteArray(1022, '.') + "\x1b[31mNadel\r\n"};
        QTest::newRow("commands between pieces") << Events{
            "> Na", "→AT\r", "del\r\n", "Na", "→Nadel\r", "del\r\n", "Naa", "→AT\r", "a\r\n"};
        QTest::newRow("Kelvin sign and long s fold to k and s")
            << Events{"\u212Aelvin\r\n", "Kelvin\r\n", "Me\u017F\u017Fage\r\n"};
        // Bytes that begin and end lines, sequences and characters anywhere.
        std::mt19937_64 random(7);
        const QByteArray pieces[] = {
            "Na",           "del",      "NA", "\x1b[31m", "\x1b", "[",  "\xC3\xA4", "\xE4",
            "\xE2\x84\xAA", "\xC5\xBF", "s",  "k",        "\r\n", "\n", " ",        "e"};
        Events mixed;
        for (int i = 0; i < 120; ++i) {
            QByteArray event = i % 9 ? QByteArray() : QByteArray("→");
            for (quint64 r = random(); event.size() < 40; r = random())
                event += r % 50 ? pieces[r % std::size(pieces)] : QByteArray(700, '.');
            mixed << event;
        }
        QTest::newRow("mixed at random") << mixed;
    }
    void bytesFirstFindsWhatDecodingFinds()
    {
        QFETCH(Events, events);
        Rig rig;
        rig.receive(events);
        const HistoryLog &log = rig.log();
        auto found = [&](const HistorySearch &search, qint64 from, qint64 to) {
            QList<qint64> places;
            for (const SearchHit &h : search.hitsIn(from, to))
                places << h.line << h.offset << h.pos << h.length;
            return places;
        };
        const QStringList patterns{"Nadel", "NA",    "a",   "del N",  "°C",      "Büro",
                                   "ä",     "äN",    "°",   "Kelvin", "message", "31m",
                                   "at",    "\x1b[", ". N", "s",      "aa",      "\u212Aelvin"};
        for (const QString &text : patterns) {
            for (int choice = 0; choice < 3 * 8; ++choice) {
                SearchPattern p;
                p.text = text;
                p.decode = {Charset(choice % 3), bool(choice / 3 & 1)};
                p.caseSensitive = choice / 3 & 2;
                p.sentLines = choice / 3 & 4;
                const HistorySearch bytes(rig.store.log(), p);
                const HistorySearch decoding(rig.store.log(), p,
                                             HistorySearch::TextReading::DecodeAll);
                QCOMPARE(found(bytes, log.beginLine(), log.endLine()),
                         found(decoding, log.beginLine(), log.endLine()));
                // Each line alone, every fifth in turn, as the count's blocks
                // and the search for the next hit begin anywhere.
                for (qint64 line = log.beginLine() + choice % 5; line < log.endLine(); line += 5)
                    QCOMPARE(found(bytes, line, line + 1), found(decoding, line, line + 1));
            }
        }
    }

    // The time column asks for the offset from UTC once per quarter hour:
    // it still changes where summer time begins and ends (2026-03-29 and
    // 2026-10-25, 01:00 UTC).
    void localTimesAcrossSummerTime()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        for (const qint64 change : {qint64(1774746000000), qint64(1792890000000)}) {
            QVERIFY(QDateTime::fromMSecsSinceEpoch(change - 1).offsetFromUtc() !=
                    QDateTime::fromMSecsSinceEpoch(change).offsetFromUtc());
            TimeText times;
            for (qint64 t = change - 3600000; t < change + 3600000; t += 7 * 60000 + 123)
                QCOMPARE(times.dateAndTime(t),
                         QDateTime::fromMSecsSinceEpoch(t).toString("yyyy-MM-dd hh:mm:ss.zzz"));
        }
        qputenv("TZ", "UTC");
        tzset();
    }

    void failureStopsTheStore_data()
    {
        QTest::addColumn<bool>("limit");
        QTest::addColumn<QString>("says");
        QTest::newRow("disk full (file size limit)") << true << "größte erlaubte Dateigröße";
        QTest::newRow("folder is a file") << false << "Pfad";
    }
    void failureStopsTheStore()
    {
        QFETCH(bool, limit);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString folder = limit ? dir.path() : dir.filePath("datei");
        QVERIFY(limit || writeFile(folder, "x"));
        HistoryStore store({folder, qint64(1) << 20, 1024, {}});
        QSignalSpy failed(&store, &HistoryStore::failedChanged);
        {
            const FileSizeLimit small(16 * 1024);
            QVERIFY(small.ok());
            for (int i = 0; i < 50; ++i)
                store.appendReceived(QByteArray(1000, 'x') + "\r\n");
        }
        QVERIFY(store.failed());
        // Said once, not with every piece; a folder that fails at the start
        // is known before the first piece comes.
        QCOMPARE(failed.size(), limit ? 1 : 0);
        QVERIFY2(store.failure().contains(says), qPrintable(store.failure()));
        const HistoryLog &log = *store.log();
        if (limit) // what was written before stays readable
            QCOMPARE(log.content(log.line(log.beginLine())), QByteArray(1000, 'x'));
        // Cleared, it tries again.
        store.clear();
        store.appendReceived("neu\r\n");
        QCOMPARE(store.failed(), !limit);
    }

    void filesGoWithTheStore()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("history-fremd.data"), "anderes Programm"));
        auto store = std::make_unique<HistoryStore>(dir.path());
        store->appendReceived("x\r\n");
        store->appendSent("y");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 5);
        const std::shared_ptr<const HistoryLog> reader = store->log();
        store.reset();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"history-fremd.data"});
        QCOMPARE(reader->content(reader->line(reader->beginLine())), "x"); // still open for it
    }

    void staleFilesOfKilledRun()
    {
        QTemporaryDir dir;
        HistoryStore running(dir.path()); // a live run in the same folder
        running.appendReceived("lebt\r\n");
        const QStringList before = QDir(dir.path()).entryList(QDir::Files);
        QProcess child;
        QVERIFY(startHistoryChild(child, dir.path()));
        const QStringList withChild = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(withChild.size(), before.size() + 3); // its lock, data and index
        child.kill();
        QVERIFY(child.waitForFinished());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), withChild);

        QVERIFY(writeFile(dir.filePath("history-1-2-3.txt"), "fremd"));
        QVERIFY(writeFile(dir.filePath("andere.data"), "fremd"));
        const HistoryStore next(dir.path());
        const QStringList expected = before + QStringList{"andere.data", "history-1-2-3.txt"};
        const QStringList left = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(left.size(), expected.size() + 1); // and the lock of `next`
        for (const QString &f : expected)
            QVERIFY2(left.contains(f), qPrintable(f));
    }
};

// The child of staleFilesOfKilledRun: a run that gets killed.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("KAVRO_HISTORY_CHILD")) {
        HistoryStore store(qEnvironmentVariable("KAVRO_HISTORY_CHILD"));
        store.appendReceived("stirbt\r\n");
        sayReady();
        for (;;)
            ::pause();
    }
    TestHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
