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
    for (const char c : bytes) {
        if (uchar(c) < 0x20 || uchar(c) > 0x7e)
            out += QStringLiteral("%%1").arg(uchar(c), 2, 16, QLatin1Char('0')).toUpper();
        else
            out += QLatin1Char(c);
    }
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
        for (const HistoryLine &l : log().lines(log().beginLine(), 1 << 20)) {
            const char kind = "RSM"[l.kind];
            out << QStringLiteral("%1 %2%3 %4")
                       .arg(l.time)
                       .arg(QLatin1Char(kind))
                       .arg(l.continued() ? QStringLiteral("+") : QString())
                       .arg(escaped(log().content(l)));
        }
        return out;
    }
};

// The cells of each line, colours carried from line to line, as copied text
// joined by "|"; checks that every byte is shown or hidden exactly once.
QString decoded(HistoryLog &log, const DecodeOptions &options,
                QList<std::vector<Cell>> *all = nullptr)
{
    QStringList texts;
    TextStyle style;
    for (const HistoryLine &l : log.lines(log.beginLine(), 1000)) {
        const QByteArray bytes = log.content(l);
        std::vector<Cell> cells;
        decodeLine(bytes, options, style, cells);
        int next = 0;
        for (const Cell &c : cells) {
            if (c.begin != next || c.size < 1)
                return QStringLiteral("byte %1 lost").arg(next);
            next += c.size;
        }
        if (next != bytes.size())
            return QStringLiteral("bytes after %1 lost").arg(next);
        QString text;
        for (const Cell &c : cells)
            appendCopyText(c, text);
        texts << text;
        if (all)
            all->append(cells);
    }
    return texts.join(QLatin1Char('|'));
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
        // cover it without gap or overlap.
        HistoryLog &log = rig.log();
        QCOMPARE(log.received(log.receivedBegin(), log.receivedEnd()), events.join());
        qint64 at = 0;
        for (const HistoryLine &l : log.lines(log.beginLine(), 100)) {
            QCOMPARE(l.pos, at);
            at = log.receivedEndOf(l.number);
            for (qint64 pos = l.pos; pos < at; ++pos) // and each byte is found in its line
                QCOMPARE(log.lineAt(pos), l.number);
        }
        QCOMPARE(at, events.join().size());
    }

    void sentAndMarkers()
    {
        Rig rig;
        rig.receive({"> "});
        rig.store.appendSent("AT\r");
        rig.receive({"OK\r"});
        rig.store.portClosed(3);
        rig.store.portOpened(3, QStringLiteral("9600,n,8,1"));
        // A new opening pairs line ends afresh, as the receive box does.
        rig.receive({"\nB\r\n"});
        const QStringList lines = rig.lines();
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines.mid(0, 3), (QStringList{"2000 R > ", "2000 S AT%0D", "3000 R+ OK"}));
        QVERIFY(lines[3].startsWith("3000 M Com 3 geschlossen, 01.01.1970 00:00:03"));
        QVERIFY(lines[4].contains("M Com 3 ge%C3%B6ffnet (9600,n,8,1)"));
        QCOMPARE(lines.mid(5), (QStringList{"4000 R ", "4000 R B"}));
        // Only received bytes are saved as exact bytes.
        const QString file = rig.dir.filePath("exakt.bin");
        const HistoryLog &log = rig.log();
        const auto [from, to] = HistoryExport::receivedRange(log, log.beginLine(), log.endLine());
        QCOMPARE(HistoryExport::saveBytes(log, from, to, file), QString());
        QCOMPARE(contentOf(file), QByteArray("> OK\r\nB\r\n"));
        const QString text = rig.dir.filePath("text.txt");
        QCOMPARE(HistoryExport::saveText(log, log.beginLine(), log.endLine(), {}, false, text),
                 QString());
        const QList<QByteArray> saved = contentOf(text).split('\n');
        QCOMPARE(saved.first(), "1970-01-01 00:00:02.000  > OK");
        QCOMPARE(saved.last(), "");
        QCOMPARE(saved[saved.size() - 2], "1970-01-01 00:00:04.000  B");
    }

    void decoder_data()
    {
        QTest::addColumn<Events>("events");
        QTest::addColumn<int>("charset");
        QTest::addColumn<bool>("colours");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("word"); // shown in colour `colour` (-1: default)
        QTest::addColumn<int>("colour");
        const int win = int(Charset::Windows1252), utf = int(Charset::Utf8),
                  autom = int(Charset::Automatic);
        QTest::newRow("UTF-8 character split across events")
            << Events{"21,5 \xC2", "\xB0"
                                   "C\r\n"}
            << autom << true << QString::fromUtf8("21,5 °C") << QString() << -1;
        QTest::newRow("the same in Windows-1252")
            << Events{"21,5 \xC2", "\xB0"
                                   "C\r\n"}
            << win << true << QString::fromUtf8("21,5 Â°C") << QString() << -1;
        QTest::newRow("invalid UTF-8, each byte boxed")
            << Events{"a\xFF\xE2\x82(\xED\xA0\x80\r\n"} << utf << true
            << QString("a<FF><E2><82>(<ED><A0><80>") << QString() << -1;
        QTest::newRow("automatic takes invalid UTF-8 as Windows-1252")
            << Events{"\xC3\xA4\xFF\r\n"} << autom << true << QString::fromUtf8("Ã¤ÿ") << QString()
            << -1;
        QTest::newRow("controls boxed in UTF-8 too")
            << Events{"\t\x7f\xC2\x85\xC2\xA0x\r\n"} << utf << true
            << QString::fromUtf8("\t<DEL><85>\u00a0x") << QString() << -1;
        QTest::newRow("SGR split across events")
            << Events{"\x1b[3", "1mERR\x1b[0m ok\r\n"} << autom << true << QString("ERR ok")
            << QString("ERR") << 1;
        QTest::newRow("256 colours, bright, reset by 39")
            << Events{"\x1b[38;5;208mA\x1b[39m\x1b[92mB\r\n"} << autom << true << QString("AB")
            << QString("A") << 208;
        QTest::newRow("colour carried to the next line")
            << Events{"\x1b[32mI (12) boot\r\n", "weiter\x1b[0m\r\n"} << autom << true
            << QString("I (12) boot|weiter") << QString("weiter") << 2;
        QTest::newRow("cursor moves and titles hidden")
            << Events{"\x1b[2J\x1b[H\x1b]0;Titel\x07\x1b(BTop\r\n"} << autom << true
            << QString("Top") << QString() << -1;
        QTest::newRow("colours off: the escape boxed, the rest as it came")
            << Events{"\x1b[31mR\r\n"} << autom << false << QString("<ESC>[31mR") << QString()
            << -1;
        QTest::newRow("a line end inside a sequence")
            << Events{"\x1b[3", "1\r\nm\x1b[\r\n", "\x1b"} << autom << true
            << QString("<ESC>[31|m<ESC>[|<ESC>") << QString() << -1;
    }
    void decoder()
    {
        QFETCH(Events, events);
        QFETCH(int, charset);
        QFETCH(bool, colours);
        QFETCH(QString, shown);
        QFETCH(QString, word);
        QFETCH(int, colour);
        Rig rig;
        rig.receive(events);
        QList<std::vector<Cell>> lines;
        QCOMPARE(decoded(rig.log(), {Charset(charset), colours}, &lines), shown);
        if (word.isEmpty())
            return;
        for (const std::vector<Cell> &cells : lines) {
            QString text;
            for (const Cell &c : cells)
                appendCopyText(c, text);
            const qsizetype at = text.indexOf(word);
            if (at < 0)
                continue;
            qsizetype i = -1;
            for (const Cell &c : cells) {
                if (c.kind == Cell::Hidden)
                    continue;
                ++i;
                const bool inWord = i >= at && i < at + word.size();
                QCOMPARE(c.style.foreground == TextColour::indexed(colour), inWord);
            }
            return;
        }
        QFAIL("word not shown");
    }

    // Whatever comes, every byte is shown or hidden exactly once (what a
    // fuzzer checks at length), in every character set and with colours on
    // and off.
    void decoderKeepsEveryByte_data()
    {
        QTest::addColumn<quint64>("seed");
        for (quint64 seed = 1; seed <= 4; ++seed)
            QTest::addRow("seed %llu", seed) << seed;
    }
    void decoderKeepsEveryByte()
    {
        QFETCH(quint64, seed);
        // Random bytes, many of them escapes, brackets, digits and lead
        // bytes of UTF-8, so that sequences of every kind begin and break off.
        std::mt19937_64 random(seed);
        const QByteArray pieces[] = {"\x1b", "[",    "]",    ";",        "38;5;",
                                     "m",    "\x07", "\xc3", "\xe2\x82", "\xf0\x9f",
                                     "\x80", "1",    "\\",   "(",        "P"};
        QByteArray bytes;
        while (bytes.size() < 4000) {
            const quint64 r = random();
            bytes += r % 3 ? pieces[(r >> 8) % std::size(pieces)] : QByteArray(1, char(r >> 16));
        }
        for (const Charset charset : {Charset::Windows1252, Charset::Utf8, Charset::Automatic}) {
            for (const bool colours : {false, true}) {
                for (qsizetype at = 0; at < bytes.size(); at += 97) {
                    const QByteArrayView line = QByteArrayView(bytes).sliced(
                        at, std::min<qsizetype>(97, bytes.size() - at));
                    TextStyle style;
                    std::vector<Cell> cells;
                    decodeLine(line, {charset, colours}, style, cells);
                    int next = 0;
                    for (const Cell &c : cells) {
                        QCOMPARE(c.begin, next);
                        QVERIFY(c.size >= 1);
                        next += c.size;
                    }
                    QCOMPARE(next, line.size());
                }
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
        const HistorySearch direct(rig.store.log(), pattern);
        auto all = [&] { return direct.count(rig.log().beginLine(), rig.log().endLine()); };
        add(100);
        QTRY_VERIFY(!jobs.counting());
        QCOMPARE(jobs.hits(), 25);
        add(2000); // old data goes
        QVERIFY(rig.log().droppedBytes() > 0);
        QTRY_VERIFY(!jobs.counting());
        QCOMPARE(jobs.hits(), all());
        QVERIFY(jobs.hits() < 525);
    }

    // A search beside the window reads while lines come and old ones go.
    void readWhileWriting()
    {
        Rig rig(4 * 1024);
        std::atomic<bool> stop{false};
        std::atomic<int> wrong{0};
        const std::shared_ptr<const HistoryLog> log = rig.store.log();
        std::thread reader([&] {
            while (!stop) {
                const std::vector<HistoryLine> lines = log->lines(log->beginLine(), 200);
                const std::vector<QByteArray> contents = log->contents(lines);
                for (size_t i = 0; i < lines.size(); ++i) {
                    // Gone meanwhile is fine; wrong bytes are not.
                    if (!contents[i].isEmpty() && lines[i].kind == HistoryLine::Received &&
                        contents[i] != "Zeile " + QByteArray::number(lines[i].time))
                        ++wrong;
                }
            }
        });
        for (int i = 1; i <= 20000; ++i) {
            rig.now = i;
            rig.store.appendReceived("Zeile " + QByteArray::number(i) + "\r\n");
        }
        stop = true;
        reader.join();
        QCOMPARE(wrong.load(), 0);
        QVERIFY(rig.log().droppedBytes() > 0);
    }

    void droppedOldData()
    {
        Rig rig(8 * 1024);
        QByteArray all;
        for (int i = 1; i <= 2000; ++i) {
            const QByteArray line = "Zeile " + QByteArray::number(i) + "\r\n";
            rig.now = i * 1000;
            rig.store.appendReceived(line);
            all += line;
        }
        HistoryLog &log = rig.log();
        QVERIFY(log.droppedBytes() > 0);
        QVERIFY(log.receivedEnd() - log.receivedBegin() >= 8 * 1024);
        QVERIFY(log.receivedEnd() - log.receivedBegin() < 12 * 1024);
        // One marker says so; after it every kept line with its own time.
        const std::vector<HistoryLine> lines = log.lines(log.beginLine(), 5000);
        QCOMPARE(lines.front().kind, HistoryLine::Marker);
        QVERIFY(QString::fromUtf8(log.content(lines.front())).startsWith("Ältere Daten verworfen"));
        for (size_t i = 1; i < lines.size(); ++i) {
            QCOMPARE(lines[i].kind, HistoryLine::Received);
            QCOMPARE(log.content(lines[i]), "Zeile " + QByteArray::number(lines[i].time / 1000));
        }
        QCOMPARE(lines.back().time, 2000000);
        QCOMPARE(log.received(log.receivedBegin(), log.receivedEnd()),
                 all.right(log.receivedEnd() - log.receivedBegin()));
        // The files stay few.
        QVERIFY(QDir(rig.dir.path()).entryList(QDir::Files).size() <= 3 * 10 + 1);
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
        QTest::newRow("hex across a line end")
            << Events{"A\r\nB\r\n"} << true << "0d0a42" << false << 1 << qint64(1) << "";
        QTest::newRow("not hex") << Events{"A\r\n"} << true << "1B 5" << false << -1 << qint64(-1)
                                 << "";
        const Events interrupted{"> nee", "→AT\r", "dle\r\n"};
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
        Rig rig(8 * 1024, 16);
        rig.receive(events);
        SearchPattern p;
        p.sentLines = without != "Gesendete";
        p.decode.colours = without != "Farben";
        p.mode = hex ? SearchPattern::Hex : SearchPattern::Text;
        p.caseSensitive = caseSensitive;
        if (hex) {
            const std::optional<QByteArray> bytes = SearchPattern::hexBytes(pattern);
            QCOMPARE(bytes.has_value(), hits >= 0);
            if (!bytes)
                return;
            p.bytes = *bytes;
        } else {
            p.text = pattern;
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
        QCOMPARE(search.next(*last, true)->line, first->line); // round to the start
        QCOMPARE(search.hitsIn(log.beginLine(), log.endLine()).size(), size_t(hits));
    }

    // The time column asks for the offset from UTC once per quarter hour:
    // it still changes where summer time begins and ends.
    void localTimesAcrossSummerTime_data()
    {
        QTest::addColumn<qint64>("change");               // msecs since the epoch
        QTest::newRow("spring") << qint64(1774746000000); // 2026-03-29 01:00 UTC
        QTest::newRow("autumn") << qint64(1792890000000); // 2026-10-25 01:00 UTC
    }
    void localTimesAcrossSummerTime()
    {
        QFETCH(qint64, change);
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QVERIFY(QDateTime::fromMSecsSinceEpoch(change - 1).offsetFromUtc() !=
                QDateTime::fromMSecsSinceEpoch(change).offsetFromUtc());
        TimeText times;
        for (qint64 t = change - 3600000; t < change + 3600000; t += 7 * 60000 + 123) {
            const QDateTime local = QDateTime::fromMSecsSinceEpoch(t);
            QCOMPARE(times.dateAndTime(t), local.toString("yyyy-MM-dd hh:mm:ss.zzz"));
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
        QString folder = dir.path();
        if (!limit) {
            folder = dir.filePath("datei");
            QVERIFY(writeFile(folder, "x"));
        }
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
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KAVRO_HISTORY_CHILD", dir.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForReadyRead(20000));
        QCOMPARE(child.readAll(), "bereit\n");
        const QStringList withChild = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(withChild.size(), before.size() + 3); // its lock, data and index
        child.kill();
        QVERIFY(child.waitForFinished());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), withChild);

        QVERIFY(writeFile(dir.filePath("history-1-2-3.txt"), "fremd"));
        QVERIFY(writeFile(dir.filePath("andere.data"), "fremd"));
        const HistoryStore next(dir.path());
        QStringList expected = before + QStringList{"andere.data", "history-1-2-3.txt"};
        expected.sort();
        const QStringList left = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
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
        std::fputs("bereit\n", stdout);
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    TestHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
