// Sending and receiving files through a real pair of pseudo-terminals, with
// independent programs on the far end: lrzsz for every protocol and way,
// python3-xmodem for XMODEM; a relay in between that changes or drops a
// byte; and paced sending of bytes and lines.
#include "fdline.h"
#include "filesender.h"
#include "protocoltransfer.h"
#include "ptyrelay.h"
#include "receivedfiles.h"
#include "support.h"
#include "zmodemstart.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using Protocol = ProtocolTransfer::Protocol;
Q_DECLARE_METATYPE(Protocol)
Q_DECLARE_METATYPE(PtyRelay::Fault)

namespace
{

// The far end's XMODEM from python3-xmodem, on its standard input and output.
const char PythonXmodem[] = R"(import os, select, sys, xmodem
role, mode, path = sys.argv[1:4]
def getc(size, timeout=1):
    data = b''
    while len(data) < size:
        r, _, _ = select.select([0], [], [], timeout)
        if not r:
            return data or None
        d = os.read(0, size - len(data))
        if not d:
            return None
        data += d
    return data
def putc(data, timeout=1):
    os.write(1, data)
    return len(data)
m = xmodem.XMODEM(getc, putc, mode=mode)
if role == 'send':
    with open(path, 'rb') as f:
        ok = m.send(f, retry=8)
else:
    with open(path, 'wb') as f:
        ok = m.recv(f, crc_mode=1, retry=8) is not None
sys.exit(0 if ok else 1)
)";

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QByteArray b(n, '\0');
    QRandomGenerator gen(seed);
    for (auto &c : b)
        c = char(gen.bounded(256));
    return b;
}

// XMODEM carries no size: the last block is filled up with ^Z.
bool sameWithPadding(const QByteArray &got, const QByteArray &sent, bool padded)
{
    if (!padded)
        return got == sent;
    if (!got.startsWith(sent) || got.size() - sent.size() >= 1024)
        return false;
    return std::all_of(got.begin() + sent.size(), got.end(), [](char c) { return c == '\x1a'; });
}

// One line with a far end on it: the relay, our side's FdLine and the far
// end's program with its folder.
struct Line {
    PtyRelay relay;
    FdLine near{relay.nearSlave()};
    QProcess &far = relay.far();
    QTemporaryDir farFolder;
    QTemporaryDir ourFolder;

    void startFar(const QString &program, const QStringList &arguments)
    {
        relay.startFar(program, arguments, farFolder.path());
    }
    bool farEnded(int ms = 60000) { return relay.farEnded(ms); }
};

TransferOutcome outcomeOf(QSignalSpy &spy, int ms = 120000)
{
    if (spy.isEmpty() && !spy.wait(ms))
        return {false, false, QStringLiteral("<kein Ende>"), {}};
    return spy.first().first().value<TransferOutcome>();
}

QStringList farSender(Protocol protocol, const QString &file, bool python, QString *program)
{
    if (python) {
        *program = QStringLiteral("/usr/bin/python3");
        return {"-c", PythonXmodem, "send", protocol == Protocol::Xmodem1k ? "xmodem1k" : "xmodem",
                file};
    }
    switch (protocol) {
    case Protocol::Xmodem:
        *program = "sx";
        return {"-b", file};
    case Protocol::Xmodem1k:
        *program = "sx";
        return {"-b", "-k", file};
    case Protocol::Ymodem:
        *program = "sb";
        return {"-b", "-k", file};
    case Protocol::Zmodem:
        break;
    }
    *program = "sz";
    return {"-b", file};
}

QStringList farReceiver(Protocol protocol, const QString &file, bool python, QString *program)
{
    if (python) {
        *program = QStringLiteral("/usr/bin/python3");
        return {"-c", PythonXmodem, "recv", protocol == Protocol::Xmodem1k ? "xmodem1k" : "xmodem",
                file};
    }
    switch (protocol) {
    case Protocol::Xmodem:
    case Protocol::Xmodem1k:
        *program = "rx";
        return {"-b", "-c", file};
    case Protocol::Ymodem:
        *program = "rb";
        return {"-b"};
    case Protocol::Zmodem:
        break;
    }
    *program = "rz";
    return {"-b"};
}

} // namespace

Q_DECLARE_METATYPE(TransferOutcome)

class TestTransfer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<TransferOutcome>();
        qRegisterMetaType<TransferProgress>();
        if (!ProtocolTransfer::available())
            QSKIP("lrzsz is not installed");
    }
    void protocols_data();
    void protocols();
    void faults_data();
    void faults();
    void refusals_data();
    void refusals();
    void cancelTellsFarEnd();
    void farEndCancels_data();
    void farEndCancels();
    void receivedNamesNeverOverwrite();
    void zmodemStartAcrossPieces_data();
    void zmodemStartAcrossPieces();
    void sendFile_data();
    void sendFile();
    void promptAwaited();
    void promptNeverComes();
    void hundredMegabytes();
};

void TestTransfer::protocols_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<bool>("weSend");
    QTest::addColumn<bool>("python");
    QTest::addColumn<int>("size");
    const struct {
        Protocol protocol;
        const char *name;
    } protocols[] = {{Protocol::Xmodem, "XMODEM"},
                     {Protocol::Xmodem1k, "XMODEM-1K"},
                     {Protocol::Ymodem, "YMODEM"},
                     {Protocol::Zmodem, "ZMODEM"}};
    const int sizes[] = {0, 1, 127, 128, 129, 1023, 1024, 1025, 1 << 20};
    for (const auto &p : protocols) {
        const bool xmodem = p.protocol == Protocol::Xmodem || p.protocol == Protocol::Xmodem1k;
        for (bool weSend : {true, false}) {
            for (bool python : {false, true}) {
                if (python && !xmodem)
                    continue;
                for (int size : sizes) {
                    // XMODEM knows no empty file: there is no block to send.
                    if (xmodem && size == 0)
                        continue;
                    QTest::addRow("%s %s %s %d", p.name, weSend ? "senden" : "empfangen",
                                  python ? "python3-xmodem" : "lrzsz", size)
                        << p.protocol << weSend << python << size;
                }
            }
        }
    }
}

void TestTransfer::protocols()
{
    QFETCH(Protocol, protocol);
    QFETCH(bool, weSend);
    QFETCH(bool, python);
    QFETCH(int, size);
    Line line;
    QVERIFY(line.relay.isValid());
    const QByteArray content = randomBytes(size, quint32(size) * 7 + 1);
    ProtocolTransfer transfer(line.near);
    line.near.received = [&](QByteArrayView b) { transfer.take(b); };
    QSignalSpy done(&transfer, &ProtocolTransfer::finished);
    const bool padded = protocol == Protocol::Xmodem || protocol == Protocol::Xmodem1k;
    QString program;
    if (weSend) {
        const QString path = line.ourFolder.filePath("datei.bin");
        QVERIFY(writeFile(path, content));
        const QStringList args = farReceiver(protocol, "datei.bin", python, &program);
        line.startFar(program, args);
        transfer.send(protocol, path);
        const TransferOutcome outcome = outcomeOf(done, 60000);
        if (!outcome.ok)
            qDebug() << line.far.readAllStandardError() << line.near.got().toHex()
                     << line.relay.passedToFar() << line.relay.passedToNear();
        QVERIFY2(outcome.ok, qPrintable(outcome.message));
        QVERIFY(line.farEnded());
        QCOMPARE(line.far.exitCode(), 0);
        QVERIFY(sameWithPadding(contentOf(line.farFolder.filePath("datei.bin")), content, padded));
    } else {
        QVERIFY(writeFile(line.farFolder.filePath("datei.bin"), content));
        const QStringList args = farSender(protocol, "datei.bin", python, &program);
        line.startFar(program, args);
        transfer.receive(protocol, line.ourFolder.path());
        const TransferOutcome outcome = outcomeOf(done);
        QVERIFY2(outcome.ok, qPrintable(outcome.message));
        const QString name = padded ? "empfangen.bin" : "datei.bin";
        QCOMPARE(outcome.files, QStringList{line.ourFolder.filePath(name)});
        QVERIFY(sameWithPadding(contentOf(outcome.files.first()), content, padded));
        QVERIFY(line.farEnded());
        QCOMPARE(line.far.exitCode(), 0);
        // The private folder lrzsz wrote into is gone.
        QCOMPARE(QDir(line.ourFolder.path())
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{name});
    }
}

void TestTransfer::faults_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<bool>("weSend");
    QTest::addColumn<PtyRelay::Fault>("fault");
    QTest::addColumn<bool>("toFar");
    QTest::addColumn<int>("offset");
    const Protocol all[] = {Protocol::Xmodem, Protocol::Xmodem1k, Protocol::Ymodem,
                            Protocol::Zmodem};
    for (Protocol protocol : all) {
        const QString name = ProtocolTransfer::protocolName(protocol);
        for (bool weSend : {true, false}) {
            for (auto fault : {PtyRelay::Fault::Change, PtyRelay::Fault::Drop}) {
                // A byte in the middle of the data, and (changed only, as
                // lrzsz takes its time to recover) one of the first answers
                // on the way back.
                for (bool data : {true, false}) {
                    if (!data && (fault == PtyRelay::Fault::Drop || !weSend))
                        continue;
                    const bool toFar = weSend == data;
                    const int offset = data ? 20000 : 1;
                    QTest::addRow("%s %s %s %s", qPrintable(name), weSend ? "senden" : "empfangen",
                                  fault == PtyRelay::Fault::Change ? "geändert" : "fehlt",
                                  data ? "Daten" : "Antwort")
                        << protocol << weSend << fault << toFar << offset;
                }
            }
        }
    }
}

// A spoiled byte is found and sent again, or the transfer stops with a
// message: never success with other content.
void TestTransfer::faults()
{
    QFETCH(Protocol, protocol);
    QFETCH(bool, weSend);
    QFETCH(PtyRelay::Fault, fault);
    QFETCH(bool, toFar);
    QFETCH(int, offset);
    Line line;
    line.relay.setFault(fault, offset, toFar);
    const QByteArray content = randomBytes(64 * 1024, 99);
    ProtocolTransfer transfer(line.near);
    transfer.setSilenceLimit(30000);
    line.near.received = [&](QByteArrayView b) { transfer.take(b); };
    QSignalSpy done(&transfer, &ProtocolTransfer::finished);
    const bool padded = protocol == Protocol::Xmodem || protocol == Protocol::Xmodem1k;
    QString program;
    TransferOutcome outcome;
    QByteArray got;
    if (weSend) {
        const QString path = line.ourFolder.filePath("datei.bin");
        QVERIFY(writeFile(path, content));
        const QStringList args = farReceiver(protocol, "datei.bin", false, &program);
        line.startFar(program, args);
        transfer.send(protocol, path);
        outcome = outcomeOf(done);
        QVERIFY(line.farEnded());
        got = contentOf(line.farFolder.filePath("datei.bin"));
    } else {
        QVERIFY(writeFile(line.farFolder.filePath("datei.bin"), content));
        const QStringList args = farSender(protocol, "datei.bin", false, &program);
        line.startFar(program, args);
        transfer.receive(protocol, line.ourFolder.path());
        outcome = outcomeOf(done);
        QVERIFY(line.farEnded());
        if (outcome.ok) {
            QCOMPARE(outcome.files.size(), 1);
            got = contentOf(outcome.files.first());
        } else {
            // What came stays, under a name that says it is not whole.
            for (const QString &file : outcome.files)
                QVERIFY2(file.endsWith(".teilweise"), qPrintable(file));
        }
    }
    QVERIFY(line.relay.faultDone());
    if (outcome.ok)
        QVERIFY(sameWithPadding(got, content, padded));
    else
        QVERIFY(!outcome.message.isEmpty());
}

void TestTransfer::refusals_data()
{
    QTest::addColumn<bool>("weSend");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Datei fehlt") << true << "Die Datei „%1/fehlt.bin“ kann nicht gelesen werden.";
    QTest::newRow("Ordner fehlt") << false
                                  << "In den Ordner „%1/fehlt“ kann nicht geschrieben werden.";
}

void TestTransfer::refusals()
{
    QFETCH(bool, weSend);
    QFETCH(QString, expected);
    Line line;
    ProtocolTransfer transfer(line.near);
    QSignalSpy done(&transfer, &ProtocolTransfer::finished);
    if (weSend)
        transfer.send(Protocol::Zmodem, line.ourFolder.filePath("fehlt.bin"));
    else
        transfer.receive(Protocol::Zmodem, line.ourFolder.filePath("fehlt"));
    const TransferOutcome outcome = outcomeOf(done);
    QVERIFY(!outcome.ok);
    QCOMPARE(outcome.message, expected.arg(line.ourFolder.path()));
    QCOMPARE(line.near.putCount(), 0);
}

// "Abbrechen" in the middle: lrzsz ends, the far end gets the cancel
// sequence and gives up too, and nothing claims success.
void TestTransfer::cancelTellsFarEnd()
{
    Line line;
    line.relay.setRate(11520);
    ProtocolTransfer transfer(line.near);
    line.near.received = [&](QByteArrayView b) { transfer.take(b); };
    QSignalSpy done(&transfer, &ProtocolTransfer::finished);
    QSignalSpy progress(&transfer, &ProtocolTransfer::progressed);
    const QString path = line.ourFolder.filePath("gross.bin");
    QVERIFY(writeFile(path, randomBytes(1 << 20, 5)));
    line.startFar("rz", {"-b"});
    transfer.send(Protocol::Zmodem, path);
    QTRY_VERIFY_WITH_TIMEOUT(line.relay.passedToFar() > 4096, 30000);
    transfer.cancel();
    const TransferOutcome outcome = outcomeOf(done);
    QVERIFY(!outcome.ok);
    QVERIFY(outcome.cancelled);
    QCOMPARE(outcome.message, QStringLiteral("Abgebrochen."));
    QVERIFY(!transfer.running());
    QVERIFY(line.farEnded(30000));
    QVERIFY(line.far.exitCode() != 0);
    QVERIFY(line.near.got().size() > 0);
}

void TestTransfer::farEndCancels_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<bool>("weSend");
    QTest::addColumn<QByteArray>("before");
    // A board whose rx was stopped after asking for the first block, and
    // one whose sz was stopped before it began.
    QTest::newRow("XMODEM senden") << Protocol::Xmodem << true << QByteArray("C");
    QTest::newRow("YMODEM senden") << Protocol::Ymodem << true << QByteArray("C");
    QTest::newRow("ZMODEM empfangen") << Protocol::Zmodem << false << QByteArray();
    QTest::newRow("XMODEM empfangen") << Protocol::Xmodem << false << QByteArray();
}

void TestTransfer::farEndCancels()
{
    QFETCH(Protocol, protocol);
    QFETCH(bool, weSend);
    QFETCH(QByteArray, before);
    Line line;
    ProtocolTransfer transfer(line.near);
    line.near.received = [&](QByteArrayView b) { transfer.take(b); };
    QSignalSpy done(&transfer, &ProtocolTransfer::finished);
    const QString path = line.ourFolder.filePath("datei.bin");
    QVERIFY(writeFile(path, randomBytes(100000, 3)));
    if (weSend)
        transfer.send(protocol, path);
    else
        transfer.receive(protocol, line.ourFolder.path());
    line.startFar("/usr/bin/python3", {"-c", QStringLiteral("import os,time\n"
                                                            "os.write(1, bytes.fromhex('%1'))\n"
                                                            "time.sleep(0.3)\n"
                                                            "os.write(1, b'\\x18' * 8)\n"
                                                            "time.sleep(0.5)\n")
                                                 .arg(QString::fromLatin1(before.toHex()))});
    const TransferOutcome outcome = outcomeOf(done);
    QVERIFY(!outcome.ok);
    QCOMPARE(outcome.message, QStringLiteral("Die Gegenstelle hat die Übertragung abgebrochen."));
    QVERIFY(line.farEnded());
}

void TestTransfer::receivedNamesNeverOverwrite()
{
    QTemporaryDir inbox;
    QTemporaryDir target;
    QVERIFY(writeFile(target.filePath("bericht.txt"), "alt"));
    QVERIFY(writeFile(target.filePath("bericht (2).txt"), "alt 2"));
    QVERIFY(writeFile(inbox.filePath("bericht.txt"), "neu"));
    QVERIFY(writeFile(inbox.filePath("roh"), "roh"));
    QStringList failures;
    const QStringList landed = ReceivedFiles::moveAll(inbox.path(), target.path(), true, &failures);
    QCOMPARE(landed, (QStringList{target.filePath("bericht (3).txt"), target.filePath("roh")}));
    QCOMPARE(contentOf(target.filePath("bericht.txt")), QByteArray("alt"));
    QCOMPARE(contentOf(target.filePath("bericht (2).txt")), QByteArray("alt 2"));
    QCOMPARE(contentOf(target.filePath("bericht (3).txt")), QByteArray("neu"));
    QVERIFY(writeFile(inbox.filePath("roh"), "halb"));
    QCOMPARE(ReceivedFiles::moveAll(inbox.path(), target.path(), false, &failures),
             QStringList{target.filePath("roh.teilweise")});
    QVERIFY(failures.isEmpty());
}

void TestTransfer::zmodemStartAcrossPieces_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("startsAt");
    const QByteArray header = "**\x18"
                              "B00000000000000\r\x8a\x11";
    QTest::newRow("ganz") << QList<QByteArray>{"rz\r" + header} << 0;
    QTest::newRow("geteilt") << QList<QByteArray>{"rz\r*", "*\x18", "B0", "0000"} << 3;
    QTest::newRow("Byte für Byte") << QList<QByteArray>{"*", "*", "\x18", "B", "0", "0"} << 5;
    QTest::newRow("Antwort eines Empfängers") << QList<QByteArray>{"**\x18"
                                                                   "B0100000000"}
                                              << -1;
    QTest::newRow("Text mit Sternen") << QList<QByteArray>{"** B00 **", "\x18 B00"} << -1;
}

void TestTransfer::zmodemStartAcrossPieces()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, startsAt);
    ZmodemStart start;
    int found = -1;
    for (int i = 0; i < pieces.size(); ++i) {
        if (start.feed(pieces.at(i)) && found < 0)
            found = i;
    }
    QCOMPARE(found, startsAt);
}

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

void TestTransfer::sendFile_data()
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

void TestTransfer::sendFile()
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
void TestTransfer::promptAwaited()
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

void TestTransfer::promptNeverComes()
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
void TestTransfer::hundredMegabytes()
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

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
