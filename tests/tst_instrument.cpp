// The simulated instrument as Kavro meets it: the real program on its own
// pseudo-terminal, linked as port 4 in a temporary folder, reached through the
// real port layer. Its stream pacing is checked on the answer class with a
// clock of the test's own.

#include "deviceserialport.h"
#include "simulatedinstrument.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

class TestInstrument : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void replies_data();
    void replies();
    void pacing_data();
    void pacing();

private:
    QByteArray collect(qsizetype atLeast);

    QTemporaryDir links;
    QProcess instrument;
    DeviceSerialPort port;
};

void TestInstrument::initTestCase()
{
    // Should this test die half-way, the instrument goes too.
    instrument.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    instrument.start(QStringLiteral(KAVRO_INSTRUMENT),
                     {QStringLiteral("--link-dir"), links.path(), QStringLiteral("--port"), QStringLiteral("4")});
    QVERIFY(instrument.waitForStarted());
    QByteArray said; // the lines may come in pieces
    QTRY_VERIFY((said += instrument.readAllStandardOutput()).contains("Port 4: "));
    QVERIFY(QFileInfo(links.filePath("com4")).isSymLink());
    port.setPortMap(PortMap(links.path(), [] { return QStringList(); }));
    port.setCommPort(4);
    port.setPortOpen(true);
}

void TestInstrument::cleanupTestCase()
{
    port.setPortOpen(false);
    instrument.terminate();
    QVERIFY(instrument.waitForFinished());
    QCOMPARE(instrument.exitStatus(), QProcess::NormalExit);
    QCOMPARE(instrument.exitCode(), 0);
    QVERIFY(!QFileInfo(links.filePath("com4")).isSymLink()); // it takes its link along
}

QByteArray TestInstrument::collect(qsizetype atLeast)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    // A little past the expected size, so that a surplus shows up too.
    for (int settle = 0; settle < 5 && clock.elapsed() < 5000; settle += got.size() >= atLeast) {
        QTest::qWait(10);
        while (port.InBufferCount() > 0)
            got += port.Input();
    }
    return got;
}

void TestInstrument::replies_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("AT, CR") << QByteArray("AT\r") << QByteArray("OK\r\n");
    QTest::newRow("lower case, LF") << QByteArray("at\n") << QByteArray("OK\r\n");
    QTest::newRow("CR LF is one end") << QByteArray("AT\r\n") << QByteArray("OK\r\n");
    QTest::newRow("LF CR, empty lines") << QByteArray("\r\n\nAT\n\r\r") << QByteArray("OK\r\n");
    QTest::newRow("ATI in Latin-1") << QByteArray("ATI\r") << QByteArray("Kavro Messger\xe4t-Simulator V1.0\r\n");
    QTest::newRow("unknown") << QByteArray("ATX\r") << QByteArray("ERROR\r\n");
    QTest::newRow("stream of nothing") << QByteArray("STREAM 0 10\r") << QByteArray("ERROR\r\n");

    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    QTest::newRow("BYTES") << QByteArray("bytes\r") << all + "\r\n";

    QTest::newRow("STREAM 5 1000") << QByteArray("STREAM 5 1000\r")
                                   << QByteArray("Messwert 00001: 12,419 V\r\n"
                                                 "Messwert 00002: 12,338 V\r\n"
                                                 "Messwert 00003: 12,257 V\r\n"
                                                 "Messwert 00004: 12,176 V\r\n"
                                                 "Messwert 00005: 12,095 V\r\nOK\r\n");
    QTest::newRow("answers while streaming") << QByteArray("STREAM 2 5\rAT\r")
                                             << QByteArray("Messwert 00001: 12,419 V\r\nOK\r\n"
                                                           "Messwert 00002: 12,338 V\r\nOK\r\n");
}

void TestInstrument::replies()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, reply);
    port.setOutput(QString::fromLatin1(sent));
    QCOMPARE(collect(reply.size()), reply);
}

void TestInstrument::pacing_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<int>("lines"); // readings out by then

    QTest::newRow("first at once") << QByteArray("STREAM 3 2") << qint64(0) << 1;
    QTest::newRow("second not early") << QByteArray("STREAM 3 2") << qint64(499) << 1;
    QTest::newRow("second on time") << QByteArray("STREAM 3 2") << qint64(500) << 2;
    QTest::newRow("third of 3/s") << QByteArray("STREAM 4 3") << qint64(666) << 3;
    QTest::newRow("default 10/s") << QByteArray("STREAM 9") << qint64(250) << 3;
    QTest::newRow("late catches up") << QByteArray("STREAM 4 10") << qint64(10000) << 4;
    QTest::newRow("STOP ends it") << QByteArray("STREAM 4 10\rSTOP") << qint64(10000) << 1;
}

void TestInstrument::pacing()
{
    QFETCH(QByteArray, command);
    QFETCH(qint64, now);
    QFETCH(int, lines);
    Instrument instrument;
    QByteArray out = instrument.receive(command + "\r", 0);
    out += instrument.due(now);
    QCOMPARE(out.count("Messwert"), lines);
    QCOMPARE(out.endsWith("OK\r\n"), instrument.waitFor(now) < 0);
}

QTEST_MAIN(TestInstrument)
#include "tst_instrument.moc"
