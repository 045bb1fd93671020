// Sending a file's bytes or lines through a real pseudo-terminal: exact
// bytes, the new line ends, pauses and prompt waits honoured, and a file of
// 100 MB sent to the end with the event loop running meanwhile.
#include "fdline.h"
#include "filesender.h"
#include "support.h"

#include <QTemporaryDir>
#include <QtTest>

namespace
{
TransferOutcome outcomeOf(QSignalSpy &spy, int ms = 120000)
{
    if (spy.isEmpty() && !spy.wait(ms))
        return {false, false, QStringLiteral("<kein Ende>"), {}};
    return spy.first().first().value<TransferOutcome>();
}
} // namespace

class TestFileSender : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void sendFile_data();
    void sendFile();
    void promptAwaited();
    void promptNeverComes();
    void hundredMegabytes();
};

namespace
{
// The far end of a paced sending: what arrived, with our side on the slave.
struct PacedLine {
    FarEnd far;
    FdLine near{far.slave()};
    QByteArray got;
    qint64 count = 0;
    bool keep = true;
    QSocketNotifier notifier{far.master(), QSocketNotifier::Read};
    std::function<void()> arrived;
    PacedLine()
    {
        QObject::connect(&notifier, &QSocketNotifier::activated, &notifier, [this] {
            char buf[65536];
            const ssize_t n = ::read(far.master(), buf, sizeof buf);
            if (n > 0) {
                count += n;
                if (keep)
                    got.append(buf, n);
                if (arrived)
                    arrived();
            }
        });
    }
};
} // namespace

void TestFileSender::sendFile_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("terminator");
    QTest::addColumn<int>("byteDelay");
    QTest::addColumn<int>("lineDelay");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expected");
    const int bytes = int(FileSender::Mode::Bytes);
    const int lines = int(FileSender::Mode::Lines);
    const QByteArray every = allValues(300);
    QTest::newRow("Bytes unverändert") << bytes << QByteArray("\r") << 0 << 0 << every << every;
    QTest::newRow("Bytes mit Pause") << bytes << QByteArray("\r") << 4 << 0
                                     << QByteArray("a\r\nb\0c", 6) << QByteArray("a\r\nb\0c", 6);
    QTest::newRow("Zeilenenden gemischt")
        << lines << QByteArray("\r") << 0 << 0 << QByteArray("a\r\nb\nc\rd")
        << QByteArray("a\rb\rc\rd\r");
    QTest::newRow("leere Zeilen") << lines << QByteArray("\r\n") << 0 << 0
                                  << QByteArray("a\n\nb\r\n\r\n")
                                  << QByteArray("a\r\n\r\nb\r\n\r\n");
    QTest::newRow("CR CR") << lines << QByteArray("\n") << 0 << 0 << QByteArray("a\r\rb")
                           << QByteArray("a\n\nb\n");
    QTest::newRow("ohne Abschluss")
        << lines << QByteArray() << 0 << 0 << QByteArray("eins\r\nzwei") << QByteArray("einszwei");
    QTest::newRow("Zeilen mit Pause")
        << lines << QByteArray("\r\n") << 0 << 25 << numberedLines(4) << numberedLines(4);
    QTest::newRow("Zeilen, Bytes mit Pause")
        << lines << QByteArray("\n") << 3 << 10 << QByteArray("ab\ncd\n") << QByteArray("ab\ncd\n");
}

void TestFileSender::sendFile()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, terminator);
    QFETCH(int, byteDelay);
    QFETCH(int, lineDelay);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expected);
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath("datei.txt"), content));
    PacedLine line;
    FileSender sender(line.near);
    QSignalSpy done(&sender, &FileSender::finished);
    QElapsedTimer clock;
    clock.start();
    FileSender::Choice choice;
    choice.mode = FileSender::Mode(mode);
    choice.terminator = terminator;
    choice.byteDelayMs = byteDelay;
    choice.lineDelayMs = lineDelay;
    sender.start(folder.filePath("datei.txt"), choice);
    const TransferOutcome outcome = outcomeOf(done);
    QVERIFY2(outcome.ok, qPrintable(outcome.message));
    QTRY_COMPARE(line.got, expected);
    // The pauses are least times: the sending cannot have been quicker.
    const qint64 lineCount = mode == int(FileSender::Mode::Lines) ? expected.count('\n') : 0;
    QVERIFY(clock.elapsed() >= (expected.size() - 1) * byteDelay + (lineCount - 1) * lineDelay);
}

// After each line the sender waits for the device's prompt, which may come
// in pieces; the next line never goes before it.
void TestFileSender::promptAwaited()
{
    QTemporaryDir folder;
    const QByteArray content = numberedLines(5);
    QVERIFY(writeFile(folder.filePath("konfig.txt"), content));
    PacedLine line;
    FileSender sender(line.near);
    line.near.received = [&](QByteArrayView b) { sender.take(b); };
    QList<QByteArray> seenAtPrompt;
    int answered = 0;
    line.arrived = [&] {
        const int complete = int(line.got.count('\n'));
        while (answered < complete) {
            ++answered;
            // The device takes its time, then answers in two pieces.
            QTimer::singleShot(30, &line.notifier, [&] {
                seenAtPrompt << line.got;
                line.far.send("ok\r\n>");
                QTimer::singleShot(10, &line.notifier, [&] { line.far.send(" "); });
            });
        }
    };
    QSignalSpy done(&sender, &FileSender::finished);
    FileSender::Choice choice;
    choice.mode = FileSender::Mode::Lines;
    choice.terminator = "\r\n";
    choice.prompt = "> ";
    choice.promptTimeoutMs = 20000;
    sender.start(folder.filePath("konfig.txt"), choice);
    const TransferOutcome outcome = outcomeOf(done);
    QVERIFY2(outcome.ok, qPrintable(outcome.message));
    QCOMPARE(line.got, content);
    QCOMPARE(seenAtPrompt.size(), 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(seenAtPrompt.at(i), numberedLines(i + 1));
}

void TestFileSender::promptNeverComes()
{
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath("konfig.txt"), numberedLines(3)));
    PacedLine line;
    FileSender sender(line.near);
    line.near.received = [&](QByteArrayView b) { sender.take(b); };
    QSignalSpy done(&sender, &FileSender::finished);
    FileSender::Choice choice;
    choice.mode = FileSender::Mode::Lines;
    choice.prompt = "> ";
    choice.promptTimeoutMs = 200;
    sender.start(folder.filePath("konfig.txt"), choice);
    // An echo that is not the prompt does not count.
    QVERIFY(line.far.send(">"));
    const TransferOutcome outcome = outcomeOf(done);
    QVERIFY(!outcome.ok);
    QCOMPARE(outcome.message,
             QStringLiteral("Die Gegenstelle hat nach Zeile 1 nicht mit „> “ geantwortet "
                            "(200 ms gewartet)."));
    QCOMPARE(line.got, numberedLines(1));
}

// A file far larger than anything kept in memory goes out to its last byte,
// while the event loop keeps running.
void TestFileSender::hundredMegabytes()
{
    QTemporaryDir folder;
    const qint64 size = 100LL * 1000 * 1000;
    {
        QFile f(folder.filePath("gross.bin"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(size));
        QVERIFY(f.seek(size - 3));
        QVERIFY(f.write("end") == 3);
    }
    PacedLine line;
    line.keep = false;
    QByteArray last;
    line.arrived = [&] {};
    FileSender sender(line.near);
    QSignalSpy done(&sender, &FileSender::finished);
    QSignalSpy progress(&sender, &FileSender::progressed);
    int ticks = 0;
    QTimer beat;
    connect(&beat, &QTimer::timeout, this, [&] { ++ticks; });
    beat.start(20);
    sender.start(folder.filePath("gross.bin"), {});
    const TransferOutcome outcome = outcomeOf(done, 280000);
    QVERIFY2(outcome.ok, qPrintable(outcome.message));
    QTRY_COMPARE(line.count, size);
    QVERIFY(ticks > 0);
    QVERIFY(progress.size() > 1);
    QCOMPARE(progress.last().first().value<TransferProgress>().done, size);
}

QTEST_GUILESS_MAIN(TestFileSender)
#include "tst_filesender.moc"
