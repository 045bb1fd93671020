// The telnet framing of network ports on its own, then against the real
// ser2net on 127.0.0.1 with a pseudo-terminal of the test as its device.

#include "farend.h"
#include "rfc2217.h"
#include "ser2netserver.h"

#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/ioctl.h>
#include <termios.h>

using Line = Rfc2217Client::Line;
using Verdict = Rfc2217Client::Verdict;
Q_DECLARE_METATYPE(Line)

// The kernel's termios2 carries any rate as a number (see tst_port).
struct Termios2
{
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line, c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

static QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

static QByteArray allValues(int times = 1)
{
    QByteArray b;
    for (int i = 0; i < 256 * times; ++i)
        b.append(char(i));
    return b;
}

// What ser2net sends first on its telnet(rfc2217) accepter, and the server's
// consent to what our opening asks.
static const QByteArray serverHello = bytes({255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253,
                                             0, 255, 251, 0, 255, 253, 44});
static const QByteArray consent = bytes({255, 251, 0, 255, 253, 0, 255, 253, 44});

// A client of the real server, driving the codec as a network port would.
struct Client
{
    QTcpSocket socket;
    Rfc2217Client codec;
    bool telnet;
    QByteArray data;

    Client(quint16 port, bool telnet) : telnet(telnet)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            if (!this->telnet) {
                data += socket.readAll();
                return;
            }
            QByteArray reply;
            codec.decode(socket.readAll(), data, reply);
            socket.write(reply);
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (telnet)
            socket.write(codec.opening());
    }
    void send(const QByteArray &b) { socket.write(telnet ? codec.encode(b) : b); }
};

class TestRfc2217 : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void decodeAtEverySplit_data()
    {
        QTest::addColumn<QByteArray>("prefix"); // fed whole first, after our opening
        QTest::addColumn<QByteArray>("stream"); // then split at every position
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray baud19200 = bytes({255, 250, 44, 101, 0, 0, 0x4b, 0, 255, 240});
        QTest::newRow("ser2net's hello") << QByteArray() << serverHello << QByteArray()
                                         << bytes({255, 254, 1});
        QTest::newRow("IAC IAC is one 255") << consent << bytes({'a', 255, 255, 255, 255, 'b'})
                                            << bytes({'a', 255, 255, 'b'}) << QByteArray();
        QTest::newRow("answer between data") << consent << "ab" + baud19200 + "cd" << QByteArray("abcd")
                                             << QByteArray();
        QTest::newRow("255 inside an answer") << consent << bytes({255, 250, 44, 101, 0, 0, 0, 255, 255, 255, 240, 'x'})
                                              << QByteArray("x") << QByteArray();
        QTest::newRow("requests between data") << consent << bytes({'x', 255, 251, 1, 255, 253, 24, 255, 241, 'y'})
                                               << QByteArray("xy") << bytes({255, 254, 1, 255, 252, 24});
        QTest::newRow("unended subnegotiation") << consent << bytes({'x', 255, 250, 44, 107, 0, 255, 251, 1, 'y'})
                                                << QByteArray("xy") << bytes({255, 254, 1});
        QTest::newRow("agreed options not answered again") << consent << consent + serverHello
                                                           << QByteArray() << bytes({255, 254, 1});
        QTest::newRow("binary: CR NUL stays") << consent << QByteArray("a\r\0b\r", 5) << QByteArray("a\r\0b\r", 5)
                                              << QByteArray();
        QTest::newRow("NVT: CR NUL is CR") << bytes({255, 252, 0}) << QByteArray("a\r\0b\r\nc\r\0\0", 10)
                                           << QByteArray("a\rb\r\nc\r\0", 8) << QByteArray();
    }
    void decodeAtEverySplit()
    {
        QFETCH(QByteArray, prefix);
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, reply);
        for (qsizetype split = 0; split <= stream.size(); ++split) {
            Rfc2217Client codec;
            codec.opening();
            QByteArray gotData, gotReply;
            codec.decode(prefix, gotData, gotReply);
            gotData.clear();
            gotReply.clear();
            codec.decode(stream.first(split), gotData, gotReply);
            codec.decode(stream.sliced(split), gotData, gotReply);
            QCOMPARE(gotData, data);
            QCOMPARE(gotReply, reply);
        }
    }

    void allBytesBothWays_data()
    {
        QTest::addColumn<QByteArray>("agreement");
        QTest::addColumn<qsizetype>("encodedSize");
        QTest::newRow("binary") << consent << qsizetype(257 * 4);
        QTest::newRow("NVT both ways") << bytes({255, 252, 0, 255, 254, 0}) << qsizetype(258 * 4);
    }
    void allBytesBothWays()
    {
        QFETCH(QByteArray, agreement);
        QFETCH(qsizetype, encodedSize);
        Rfc2217Client codec;
        QByteArray data, reply;
        codec.opening();
        codec.decode(agreement, data, reply);
        const QByteArray all = allValues(4);
        const QByteArray wire = codec.encode(all);
        QCOMPARE(wire.size(), encodedSize);
        for (int chunk : {1, 2, 3, 7, 255, 256, 1024}) { // servers send the way they encode
            data.clear();
            for (qsizetype at = 0; at < wire.size(); at += chunk)
                codec.decode(QByteArrayView(wire).sliced(at, qMin<qsizetype>(chunk, wire.size() - at)), data, reply);
            QCOMPARE(data, all);
        }
    }

    void settings_data()
    {
        QTest::addColumn<Line>("line");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<Verdict>("verdict");
        const Line asked{19200, 8, 'n', 2};
        // What ser2net answered to it.
        const QByteArray agreed = bytes({255, 250, 44, 101, 0, 0, 0x4b, 0, 255, 240, 255, 250, 44, 102, 8, 255, 240,
                                         255, 250, 44, 103, 1, 255, 240, 255, 250, 44, 104, 2, 255, 240});
        QTest::newRow("all agreed") << asked << agreed << Verdict::Agreed;
        QTest::newRow("stop size not answered") << asked << agreed.first(agreed.size() - 7) << Verdict::Waiting;
        QTest::newRow("other baud") << asked << bytes({255, 250, 44, 101, 0, 0, 0x25, 0x80, 255, 240})
                                    << Verdict::Differs;
        QTest::newRow("unknown parity code") << asked << bytes({255, 250, 44, 103, 9, 255, 240}) << Verdict::Differs;
        QTest::newRow("baud with a 255 byte") << Line{0xff00ff, 5, 's', 1.5}
                                              << bytes({255, 250, 44, 101, 0, 255, 255, 0, 255, 255, 255, 240})
                                              << Verdict::Waiting;
    }
    void settings()
    {
        QFETCH(Line, line);
        QFETCH(QByteArray, answers);
        QFETCH(Verdict, verdict);
        Rfc2217Client codec;
        QByteArray data, reply;
        const QByteArray request = codec.requestSettings(line);
        Rfc2217Client().decode(request, data, reply); // a 255 not doubled would end up as data
        QVERIFY(!request.isEmpty() && data.isEmpty());
        codec.decode(answers, data, reply);
        QCOMPARE(codec.verdict(line), verdict);
        QVERIFY(data.isEmpty());
        for (const Line &bad : {Line{0, 8, 'n', 1}, Line{9600, 9, 'n', 1}, Line{9600, 8, 'x', 1}, Line{9600, 8, 'n', 3}})
            QVERIFY(codec.requestSettings(bad).isEmpty());
    }

    void liveSettingsReachDevice_data()
    {
        QTest::addColumn<Line>("line");
        QTest::newRow("19200, 2 stop bits") << Line{19200, 8, 'n', 2};
        QTest::newRow("250000, odd, 7 bits") << Line{250000, 7, 'o', 1};
        QTest::newRow("300, mark, 5 bits") << Line{300, 5, 'm', 2};
    }
    void liveSettingsReachDevice()
    {
        // A pty keeps 8 data bits and no parity, so only speed and stop bits
        // can be seen at the device.
        QFETCH(Line, line);
        FarEnd pty;
        Ser2NetServer server(m_dir.path(), pty.slavePath());
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        Client client(server.port(), true);
        client.socket.write(client.codec.requestSettings(line));
        QTRY_COMPARE_WITH_TIMEOUT(client.codec.verdict(line), Verdict::Agreed, 2000);
        QVERIFY(client.codec.comPortAgreed() && client.codec.sendsBinary() && client.codec.receivesBinary());
        Termios2 t{};
        QTRY_VERIFY((ioctl(pty.slave(), _IOR('T', 0x2A, Termios2), &t), t.c_ospeed == line.baud));
        QCOMPARE(bool(t.c_cflag & CSTOPB), line.stopBits == 2);
    }

    void liveBytesUnchanged_data()
    {
        QTest::addColumn<bool>("telnet");
        QTest::newRow("rfc2217") << true;
        QTest::newRow("raw tcp") << false;
    }
    void liveBytesUnchanged()
    {
        QFETCH(bool, telnet);
        FarEnd pty;
        Ser2NetServer server(m_dir.path(), pty.slavePath(),
                             telnet ? Ser2NetServer::Accepter::Rfc2217 : Ser2NetServer::Accepter::RawTcp);
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        Client client(server.port(), telnet);
        QTRY_VERIFY(!telnet || client.codec.sendsBinary()); // before, a CR would go out as CR NUL
        const QByteArray all = allValues(64) + "\r\n\r";
        client.send(all);
        QByteArray atDevice;
        QTRY_COMPARE_WITH_TIMEOUT((atDevice += pty.receive(1, 5)).size(), all.size(), 5000);
        QCOMPARE(atDevice, all);
        QVERIFY(pty.send(all));
        QTRY_COMPARE_WITH_TIMEOUT(client.data.size(), all.size(), 5000);
        QCOMPARE(client.data, all);

        // A second client is turned away at once, with a word why.
        Client second(server.port(), telnet);
        QTRY_COMPARE_WITH_TIMEOUT(second.socket.state(), QAbstractSocket::UnconnectedState, 2000);
        QVERIFY2(second.data.contains("Port already in use"), second.data.constData());

        // A server that goes away closes the connection; back, it serves again.
        server.stop();
        QTRY_COMPARE_WITH_TIMEOUT(client.socket.state(), QAbstractSocket::UnconnectedState, 2000);
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        Client again(server.port(), telnet);
        again.send("back");
        QByteArray back;
        QTRY_COMPARE_WITH_TIMEOUT(back += pty.receive(1, 5), QByteArray("back"), 5000);
    }
};

QTEST_GUILESS_MAIN(TestRfc2217)
#include "tst_rfc2217.moc"
