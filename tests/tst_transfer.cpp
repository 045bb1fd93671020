// Sending and receiving files through a real pseudo-terminal, with
// independent programs on the far end: lrzsz for every protocol and way,
// python3-xmodem for XMODEM; a relay in between that changes or drops a
// byte.
#include "fdline.h"
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
    void farEndSilent_data();
    void farEndSilent();
    void folderFull();
    void garbage_data();
    void garbage();
    void cancelTellsFarEnd();
    void farEndCancels_data();
    void farEndCancels();
    void receivedNamesNeverOverwrite();
    void zmodemStartAcrossPieces_data();
    void zmodemStartAcrossPieces();
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

void TestTransfer::farEndSilent_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<bool>("weSend");
    QTest::newRow("XMODEM senden") << Protocol::Xmodem << true;
    QTest::newRow("ZMODEM empfangen") << Protocol::Zmodem << false;
}

// Nobody on the line: given up after the silence, with lrzsz ended and the
// far end told.
void TestTransfer::farEndSilent()
{
    QFETCH(Protocol, protocol);
    QFETCH(bool, weSend);
    Line line;
    ProtocolTransfer transfer(line.near);
    transfer.setSilenceLimit(500);
    line.near.received = [&](QByteArrayView b) { transfer.take(b); };
    QSignalSpy done(&transfer, &ProtocolTransfer::finished);
    const QString path = line.ourFolder.filePath("datei.bin");
    QVERIFY(writeFile(path, "x"));
    if (weSend)
        transfer.send(protocol, path);
    else
        transfer.receive(protocol, line.ourFolder.path());
    const TransferOutcome outcome = outcomeOf(done);
    QVERIFY(!outcome.ok);
    QCOMPARE(outcome.message, QStringLiteral("Die Gegenstelle antwortet nicht."));
    QVERIFY(!transfer.running());
    QTRY_VERIFY(line.relay.passedToFar() >= ProtocolTransfer::cancelSequence().size());
}

// The folder fills up while a file arrives: said so, and nothing claims
// success.
void TestTransfer::folderFull()
{
    Line line;
    QVERIFY(writeFile(line.farFolder.filePath("datei.bin"), randomBytes(200000, 8)));
    ProtocolTransfer transfer(line.near);
    line.near.received = [&](QByteArrayView b) { transfer.take(b); };
    QSignalSpy done(&transfer, &ProtocolTransfer::finished);
    TransferOutcome outcome;
    {
        // lrzsz inherits the limit: its files stop growing at 50.000 bytes.
        FileSizeLimit limit(50000);
        QVERIFY(limit.ok());
        transfer.receive(Protocol::Zmodem, line.ourFolder.path());
        line.startFar("sz", {"-b", "datei.bin"});
        outcome = outcomeOf(done);
    }
    QVERIFY(!outcome.ok);
    QCOMPARE(outcome.message,
             QStringLiteral("Der Ordner „%1“ ist voll oder nimmt keine so große Datei an.")
                 .arg(line.ourFolder.path()));
    for (const QString &file : outcome.files)
        QVERIFY2(file.endsWith(".teilweise"), qPrintable(file));
    // The board's sz was told.
    QVERIFY(line.farEnded());
    QVERIFY(line.far.exitCode() != 0);
}

void TestTransfer::garbage_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<bool>("weSend");
    QTest::newRow("XMODEM senden") << Protocol::Xmodem << true;
    QTest::newRow("XMODEM empfangen") << Protocol::Xmodem << false;
    QTest::newRow("ZMODEM senden") << Protocol::Zmodem << true;
    QTest::newRow("ZMODEM empfangen") << Protocol::Zmodem << false;
}

// A device that chatters instead of speaking the protocol: the transfer
// stops with a message, never a success.
void TestTransfer::garbage()
{
    QFETCH(Protocol, protocol);
    QFETCH(bool, weSend);
    Line line;
    ProtocolTransfer transfer(line.near);
    line.near.received = [&](QByteArrayView b) { transfer.take(b); };
    QSignalSpy done(&transfer, &ProtocolTransfer::finished);
    const QString path = line.ourFolder.filePath("datei.bin");
    QVERIFY(writeFile(path, randomBytes(5000, 4)));
    transfer.setStallLimit(3000);
    line.startFar("/usr/bin/python3", {"-c", "import os,time\n"
                                             "for i in range(1200):\n"
                                             "    os.write(1, b'Temperatur 21,5 Grad\\r\\n')\n"
                                             "    time.sleep(0.05)\n"});
    if (weSend)
        transfer.send(protocol, path);
    else
        transfer.receive(protocol, line.ourFolder.path());
    const TransferOutcome outcome = outcomeOf(done);
    QVERIFY(!outcome.ok);
    QCOMPARE(outcome.message,
             QStringLiteral("Von der Gegenstelle kommt kein %1, nur Unverständliches.")
                 .arg(ProtocolTransfer::protocolName(protocol)));
    line.far.kill();
    QVERIFY(line.farEnded());
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

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
