// The simulated instrument as Kavro meets it: the real program on its own
// pseudo-terminal, linked as port 4 in a temporary folder, reached through the
// real port layer.

#include "deviceserialport.h"
#include "support.h"

#include <sys/prctl.h>

class TestInstrument : public QObject
{
    Q_OBJECT
    QTemporaryDir links;
    QProcess instrument;
    DeviceSerialPort port{{PortMap(links.path(), [] { return QStringList(); }), {links.path()}}};

    // What arrives, a little past the expected size, so that a surplus shows up too.
    QByteArray collect(qsizetype atLeast)
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        for (int settle = 0; settle < 5 && clock.elapsed() < 5000;
             settle += got.size() >= atLeast) {
            QTest::qWait(10);
            while (port.InBufferCount() > 0)
                got += port.Input();
        }
        return got;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Should this test die half-way, the instrument goes too.
        instrument.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        instrument.start(QStringLiteral(KAVRO_INSTRUMENT),
                         {"--link-dir", links.path(), "--port", "4"});
        QByteArray said; // the lines may come in pieces
        QTRY_VERIFY((said += instrument.readAllStandardOutput()).contains("Port 4: "));
        port.setCommPort(4);
        port.setPortOpen(true);
    }

    void cleanupTestCase()
    {
        port.setPortOpen(false);
        instrument.terminate();
        QVERIFY(instrument.waitForFinished());
        QCOMPARE(instrument.exitStatus(), QProcess::NormalExit);
        QCOMPARE(instrument.exitCode(), 0);
        QVERIFY(!QFileInfo(links.filePath("com4")).isSymLink()); // it takes its link along
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        auto row = [](const char *name, const QByteArray &sent, const QByteArray &reply) {
            QTest::newRow(name) << sent << reply;
        };
        row("AT, CR", "AT\r", "OK\r\n");
        row("lower case, LF", "at\n", "OK\r\n");
        row("LF CR, empty lines", "\r\n\nAT\n\r\r", "OK\r\n");
        row("ATI in Latin-1", "ATI\r", "Kavro Messger\xe4t-Simulator V1.0\r\n");
        row("unknown", "ATX\r", "ERROR\r\n");
        row("stream of nothing", "STREAM 0 10\r", "ERROR\r\n");
        row("BYTES", "bytes\r", allValues() + "\r\n");
        row("STREAM 3 1000", "STREAM 3 1000\r",
            "Messwert 00001: 12,419 V\r\nMesswert 00002: 12,338 V\r\n"
            "Messwert 00003: 12,257 V\r\nOK\r\n");
        row("CURVES 2 1000", "curves 2 1000\r",
            "temp:21.05,feuchte:53.0,sinus:0.100,saege:1\r\n"
            "temp:21.10,feuchte:53.0,sinus:0.199,saege:2\r\nOK\r\n");
        row("answers while streaming", "STREAM 2 5\rAT\r",
            "Messwert 00001: 12,419 V\r\nOK\r\nMesswert 00002: 12,338 V\r\nOK\r\n");
    }
    void replies()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        port.setOutput(QString::fromLatin1(sent));
        QCOMPARE(collect(reply.size()), reply);
    }
};

QTEST_GUILESS_MAIN(TestInstrument)
#include "tst_instrument.moc"
