// Ports on a serial server, end to end: the real window and port layer, the
// real ser2net on 127.0.0.1 serving a pseudo-terminal of the test, port 5 a
// link to its address in a temporary folder.

#include "codepage.h"
#include "deviceserialport.h"
#include "fakes.h"
#include "networkline.h"
#include "networkredial.h"
#include "ser2netserver.h"
#include "support.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <qpa/qwindowsysteminterface.h>

#include <atomic>
#include <semaphore>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using Accepter = Ser2NetServer::Accepter;
Q_DECLARE_METATYPE(Accepter)

// A hostile server on 127.0.0.1, in a thread of its own with blocking writes.
// It takes one client and agrees to the options and to the window's first
// settings unread; once started it sends rounds of option requests as fast as
// it can, each after four line bytes (a 255 and a CR NUL among them), reading
// a few bytes of the answers a round or none. It stops after 512 MB at most.
class PesteringServer
{
public:
    // The line's bytes of the first rounds, `n` of them.
    static QByteArray lineBytes(qsizetype n)
    {
        QByteArray b;
        for (quint32 r = 0; b.size() < n; ++r)
            b += QByteArray("\xff\r\0", 3) + char(r);
        return b.first(n);
    }

    explicit PesteringServer(bool reads) : m_reads(reads)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&a), size) == 0 &&
            ::listen(m_listener, 1) == 0 &&
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&a), &size) == 0)
            m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~PesteringServer()
    {
        m_stop = true;
        m_go.release();
        ::shutdown(m_listener, SHUT_RDWR);
        if (const int c = m_client; c >= 0)
            ::shutdown(c, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
        if (m_client >= 0)
            ::close(m_client);
    }
    QString url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_port); }
    void start() { m_go.release(); }

private:
    bool sendAll(QByteArrayView b)
    {
        ssize_t n = 0;
        for (qsizetype at = 0; at < b.size(); at += n)
            if ((n = ::send(m_client, b.data() + at, size_t(b.size() - at), MSG_NOSIGNAL)) <= 0)
                return false;
        return true;
    }
    void serve()
    {
        m_client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::shutdown(m_listener, SHUT_RDWR); // later calls are refused
        // Stopped meanwhile, the destructor may have missed this client.
        if (m_client < 0 || m_stop ||
            !sendAll(QByteArray::fromHex("fffb00 fffd00 fffb03 fffd03 fffd2c"
                                         "fffa2c65 00002580 fff0 fffa2c66 08 fff0"
                                         "fffa2c67 01 fff0 fffa2c68 01 fff0")))
            return;
        m_go.acquire();
        const QByteArray storm =
            QByteArray::fromHex("fffb01 fffc01 fffd01 fffe01 fffd03 fffe03 fffbc8 fffd2c");
        quint32 round = 0;
        char buffer[16];
        for (qint64 sent = 0; !m_stop && sent < 512 << 20;) {
            QByteArray burst;
            for (int i = 0; i < 64; ++i, ++round)
                burst += QByteArray("\xff\xff\r\0", 4) +
                         (quint8(round) == 0xff ? QByteArray(2, char(0xff))
                                                : QByteArray(1, char(round))) +
                         storm;
            if (!sendAll(burst))
                return;
            sent += burst.size();
            if (m_reads)
                ::recv(m_client, buffer, sizeof buffer, MSG_DONTWAIT);
        }
    }

    const bool m_reads;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<int> m_client = -1;
    std::atomic<bool> m_stop = false;
    std::binary_semaphore m_go{0};
    std::thread m_thread;
};

// What a stubborn serial server answers to what came from the client: it
// agrees to every option and answers every COM-PORT-OPTION request as asked,
// except that DTR stays on and the baud rate stays the first one asked for.
static QByteArray stubbornAnswers(QByteArray &heard, QByteArray &firstBaud)
{
    QByteArray out;
    for (qsizetype at; (at = heard.indexOf("\xff\xfa\x2c")) >= 0;) {
        const qsizetype end = heard.indexOf("\xff\xf0", at);
        if (end < 0)
            break;
        QByteArray request = heard.mid(at + 3, end - at - 3); // command, value
        heard.remove(0, end + 2);
        if (request == QByteArray("\x05\x09", 2)) // DTR off
            request[1] = 8;
        if (request.startsWith('\x01'))
            request = firstBaud.isEmpty() ? (firstBaud = request) : firstBaud;
        request[0] = char(request[0] + 100);
        out += "\xff\xfa\x2c" + request + "\xff\xf0";
    }
    return out;
}

// The resident memory of this process, in kB.
static qint64 residentKb()
{
    const QByteArray status = contentOf(QStringLiteral("/proc/self/status"));
    return status.sliced(status.indexOf("VmRSS:") + 6).trimmed().split(' ').first().toLongLong();
}

class TestNetwork : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir; // links, ser2net's files, the capture
    std::unique_ptr<FarEnd> pty;
    std::unique_ptr<Ser2NetServer> server;
    std::unique_ptr<Rig> rig;
    Rig::Controls *f = nullptr;

    // The server on the pty (or on `device`), port 5 linked to `target`
    // (its address when empty), the window on it; nothing opened yet.
    bool serve(Accepter accepter, const QString &device = {}, const QString &target = {})
    {
        server = std::make_unique<Ser2NetServer>(
            dir->path(), device.isEmpty() ? pty->slavePath() : device, accepter);
        if (!server->start()) {
            qWarning("%s", qPrintable(server->errorText()));
            return false;
        }
        if (!QFile::link(target.isEmpty() ? server->url() : target, dir->filePath("com5")))
            return false;
        auto *port = new DeviceSerialPort(
            {PortMap(dir->path(), [] { return QStringList(); }), {dir->path()}});
        rig = std::make_unique<Rig>(port);
        f = &rig->f;
        f->Comport->setEditText("5");
        return true;
    }
    bool startCapture() { return rig->startCapture(dir->filePath("capture.bin")); }
    QString fakeUrl(const QTcpServer &s) const
    {
        return QStringLiteral("rfc2217://127.0.0.1:%1").arg(s.serverPort());
    }
    QByteArray captured() const { return contentOf(dir->filePath("capture.bin")); }
    // Clicks "Öffnen"; whether the server's answer came and was shown.
    bool clickOpen()
    {
        f->Verbind->click();
        return QTest::qWaitFor([&] { return !rig->window.port().isOpening(); }, 10000);
    }
    QByteArray atDevice(qsizetype n) { return receiveWhileRunning(*pty, n, 10000); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!Ser2NetServer::available())
            QSKIP("ser2net is not installed (scripts/setup.sh --test installs it)");
    }
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        pty = std::make_unique<FarEnd>();
        QVERIFY(pty->isValid());
    }
    void cleanup()
    {
        // Closed as the operator closes it, not destroyed while still waiting.
        if (rig)
            rig->window.close();
        rig.reset();
        server.reset();
        pty.reset();
        dir.reset();
    }

    // The window's speed and stop bits reach the far device (a raw TCP
    // server has no say in them). Every byte value both ways, telnet's 255
    // and CR included, arrives unchanged, ten megabytes of it coming in;
    // nothing of the protocol reaches the capture.
    void bytesUnchanged_data()
    {
        QTest::addColumn<Accepter>("accepter");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<bool>("twoStops");
        QTest::addColumn<uint>("speed"); // what the device is set to; 0: not looked at
        QTest::addColumn<int>("times");  // every byte value comes in this often
        QTest::newRow("rfc2217, 19200, 2 stop bits, a flood in")
            << Accepter::Rfc2217 << "19200" << true << uint(B19200) << 10 * 1024 * 1024 / 256;
        QTest::newRow("raw tcp") << Accepter::RawTcp << "9600" << false << 0u << 4;
    }
    void bytesUnchanged()
    {
        QFETCH(Accepter, accepter);
        QFETCH(QString, baud);
        QFETCH(bool, twoStops);
        QFETCH(uint, speed);
        QFETCH(int, times);
        QVERIFY(serve(accepter));
        f->Baud->setEditText(baud);
        rig->control<QRadioButton>(twoStops ? "zwei" : "eins")->setChecked(true);
        QVERIFY(clickOpen());
        QCOMPARE(rig->lamp(), Lamp::Green);
        termios t{};
        QVERIFY(tcgetattr(pty->slave(), &t) == 0);
        if (speed) {
            QCOMPARE(uint(cfgetospeed(&t)), speed);
            QCOMPARE(bool(t.c_cflag & CSTOPB), twoStops);
        }
        QVERIFY(startCapture());

        const QByteArray out = allValues(4) + "\r\r\n\xff";
        rig->window.port().setOutput(textFromBytes(out));
        QCOMPARE(atDevice(out.size()), out);
        const QByteArray in = allValues(times) + "\r\r\n\xff";
        QVERIFY(pty->send(in));
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(dir->filePath("capture.bin")).size(), in.size(), 30000);
        QVERIFY(captured() == in);
        QVERIFY(rig->boxes.shown.isEmpty());
    }

    // Ports that cannot be had tell the operator as a local port does. A
    // server that never answers the options does not set its line: it opens.
    void refusals_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("message"); // empty: none (error 380); "-": the port opens
        const QString missing = " Com 5 existiert nicht!";
        const QString taken = " Com 5 ist bereits von einem anderen Programm geöffnet!";
        QTest::newRow("server not running") << "stopped" << missing;
        QTest::newRow("server cannot open its device") << "nodevice" << missing;
        QTest::newRow("another client has it (rfc2217)") << "taken" << taken;
        QTest::newRow("another client has it (tcp)") << "takentcp" << taken;
        QTest::newRow("server sets another baud rate") << "otherbaud" << QString();
        QTest::newRow("server keeps asking for options") << "pestering" << missing;
        QTest::newRow("server never answers the options") << "silent"
                                                          << "-";
    }
    void refusals()
    {
        QFETCH(QString, situation);
        QFETCH(QString, message);
        const Accepter accepter = situation == "takentcp" ? Accepter::RawTcp : Accepter::Rfc2217;
        const QString device = situation == "nodevice" ? dir->filePath("gone") : QString();
        const bool opens = message == "-";
        // Answers every baud rate with 1200, DO and DONT suppress-go-ahead
        // over and over, or nothing at all.
        QTcpServer fake;
        const QByteArray says =
            situation == "otherbaud"
                ? QByteArray::fromHex("fffb00 fffd00 fffd2c fffa2c65000004b0fff0")
            : situation == "pestering"
                ? QByteArray::fromHex("fffd03 fffe03").repeated(Rfc2217Client::AnswerBudget)
                : QByteArray();
        const bool faked = !says.isEmpty() || opens;
        QVERIFY(!faked || fake.listen(QHostAddress::LocalHost));
        connect(&fake, &QTcpServer::newConnection, this,
                [&] { fake.nextPendingConnection()->write(says); });
        QVERIFY(serve(accepter, device, faked ? fakeUrl(fake) : QString()));
        QTcpSocket first;
        if (situation.startsWith("taken")) {
            first.connectToHost(QHostAddress::LocalHost, server->port());
            QVERIFY(first.waitForConnected(2000));
            if (accepter == Accepter::Rfc2217)
                QVERIFY(first.waitForReadyRead(2000)); // ser2net's hello: it is served
        }
        if (situation == "stopped")
            server->stop();
        QVERIFY(clickOpen());
        QCOMPARE(rig->lamp(), opens ? Lamp::Green : Lamp::Red);
        QCOMPARE(rig->window.port().PortOpen(), opens);
        QCOMPARE(rig->boxes.shown.join('\n'),
                 message.isEmpty() || opens ? "" : "Comportfehler|Information|Ok|" + message);
    }

    // A server that answers a change of the open port with another value
    // than asked: nothing is told before its answer, then once, and what
    // holds afterwards is shown (the line as the server has it, the old
    // settings). The change runs as the lamp's menu runs it.
    void serverRefusesAChange_data()
    {
        QTest::addColumn<QString>("change"); // "DTR" off, or "settings"
        QTest::addColumn<QString>("told");   // %1: the server's address
        QTest::newRow("DTR") << "DTR"
                             << "Fehler 8020: DTR lässt sich am Anschluss %1 nicht ausschalten "
                                "(der Server meldet sie unverändert)";
        QTest::newRow("settings") << "settings"
                                  << "Fehler 380: Ungültiger Eigenschaftswert: Einstellungen "
                                     "„19200,n,8,1“ am Anschluss %1 nicht möglich";
    }
    void serverRefusesAChange()
    {
        QFETCH(QString, change);
        QFETCH(QString, told);
        QTcpServer stubborn;
        QVERIFY(stubborn.listen(QHostAddress::LocalHost));
        QByteArray heard, firstBaud;
        connect(&stubborn, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *client = stubborn.nextPendingConnection();
            client->write(QByteArray::fromHex("fffb00 fffd00 fffd2c"));
            connect(client, &QTcpSocket::readyRead, client, [&, client] {
                heard += client->readAll();
                client->write(stubbornAnswers(heard, firstBaud));
            });
        });
        QVERIFY(serve(Accepter::Rfc2217, {}, fakeUrl(stubborn)));
        QVERIFY(clickOpen());
        QCOMPARE(rig->lamp(), Lamp::Green);
        SerialPort &port = rig->window.port();
        QSignalSpy answered(&port, &SerialPort::serverAnswered);
        rig->window.reporter().run([&] {
            if (change == "DTR")
                port.modemLines().setDtr(false);
            else
                port.setSettings("19200,n,8,1");
        });
        QVERIFY(rig->boxes.shown.isEmpty());
        QVERIFY(answered.wait());
        QTRY_COMPARE(rig->boxes.shown,
                     QStringList{"Kavro|Critical|Ok|" + told.arg(fakeUrl(stubborn))});
        QCOMPARE(answered.size(), 1);
        QCOMPARE(port.Settings(), QStringLiteral("9600,n,8,1"));
        QVERIFY2(shownToolTip(f->Shape1).startsWith("Ausgänge: DTR an, RTS an"),
                 qPrintable(shownToolTip(f->Shape1)));
    }

    // While the opening waits (an rfc2217:// server that never answers the
    // options, a tcp:// server that does not take the call yet), what the
    // operator does comes from the window system and is dropped, not
    // replayed: more clicks on "Öffnen", keys typed into the command box
    // (letters, Return, Tab), a click on a stop-bit button. Closing the
    // window cancels the opening without a word and ends the program as
    // always.
    void operatorWhileOpening_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("doing"); // "clicks", "typing", "close"
        QTest::newRow("two more clicks and two Space keys on Öffnen") << "rfc2217"
                                                                      << "clicks";
        QTest::newRow("rfc2217: typing, Return, Tab, a click on „zwei“") << "rfc2217"
                                                                         << "typing";
        QTest::newRow("tcp: typing, Return, Tab, a click on „zwei“") << "tcp"
                                                                     << "typing";
        QTest::newRow("the window is closed") << "rfc2217"
                                              << "close";
    }
    void operatorWhileOpening()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, doing);
        const bool closing = doing == "close";
        // rfc2217: a server that takes the call and then says nothing. tcp: one
        // whose queue of calls not yet taken is full, so that the kernel
        // drops ours until the one waiting is taken.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const int busy = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int waiting = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const auto closeBoth = qScopeGuard([&] {
            ::close(busy);
            ::close(waiting);
        });
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        QVERIFY(::bind(busy, reinterpret_cast<sockaddr *>(&a), size) == 0 &&
                ::listen(busy, 0) == 0 &&
                ::getsockname(busy, reinterpret_cast<sockaddr *>(&a), &size) == 0 &&
                ::connect(waiting, reinterpret_cast<sockaddr *>(&a), size) == 0);
        const QString url = scheme == "tcp" ? QString("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port))
                                            : fakeUrl(silent);
        QVERIFY(serve(Accepter::Rfc2217, {}, url));
        rig->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig->window));
        QVERIFY(startCapture());
        QWindow *window = rig->window.windowHandle();
        QRadioButton *two = rig->control<QRadioButton>("zwei");
        QWidget *focus = doing == "clicks" ? static_cast<QWidget *>(f->Verbind) : f->SendWin;
        focus->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), focus);
        const auto click = [&](QWidget *w) {
            const QPoint at = w->mapTo(&rig->window, w->rect().center());
            const QPointF global = window->mapToGlobal(at);
            QWindowSystemInterface::handleMouseEvent(window, at, global, Qt::LeftButton,
                                                     Qt::LeftButton, QEvent::MouseButtonPress);
            QWindowSystemInterface::handleMouseEvent(window, at, global, Qt::NoButton,
                                                     Qt::LeftButton, QEvent::MouseButtonRelease);
        };
        const auto key = [&](int k, const QString &text = {}) {
            for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
                QWindowSystemInterface::handleKeyEvent(window, type, k, {}, text);
        };
        int ended = 0;
        QObject thisTest; // what it asks for ends with it
        connect(&rig->window.port(), &SerialPort::openingEnded, &thisTest, [&] { ++ended; });
        int connections = 0;
        connect(&silent, &QTcpServer::newConnection, this, [&] { ++connections; });
        f->Verbind->click();
        QVERIFY(rig->window.port().isOpening());
        if (closing)
            QWindowSystemInterface::handleCloseEvent(window);
        for (int i = 0; i < 2 && doing == "clicks"; ++i) {
            click(f->Verbind);
            key(Qt::Key_Space, " ");
        }
        if (doing == "typing") {
            key(Qt::Key_A, "a");
            key(Qt::Key_B, "b");
            key(Qt::Key_Return, "\r");
            key(Qt::Key_Tab, "\t");
            click(two);
        }
        // Once the window has had all of it, the tcp server takes the call
        // waiting before ours.
        QWindowSystemInterface::flushWindowSystemEvents();
        ::close(::accept4(busy, nullptr, nullptr, SOCK_CLOEXEC));
        QTRY_VERIFY_WITH_TIMEOUT(!rig->window.port().isOpening(), 10000);
        QCOMPARE(rig->window.port().PortOpen(), !closing);
        QCoreApplication::processEvents(); // whatever the window system still holds
        if (closing)
            QTRY_VERIFY(!rig->window.isVisible());
        QCOMPARE(rig->window.capture().files().isOpen(1), !closing); // Form_Unload ran
        if (!closing)
            QCOMPARE(rig->lamp(), Lamp::Green);
        QCOMPARE(ended, 1);
        QCOMPARE(connections, scheme == "rfc2217" ? 1 : 0);
        QVERIFY(rig->boxes.shown.isEmpty());
        if (doing != "typing")
            return;
        QCOMPARE(f->SendWin->text(), QString());
        QCOMPARE(QApplication::focusWidget(), focus);
        QVERIFY(!two->isChecked());
    }

    // A server stopped while the port is open is waited for like a vanished
    // device, and called again once it is back; the capture goes on.
    void serverComesBack()
    {
        QVERIFY(serve(Accepter::Rfc2217));
        QVERIFY(clickOpen());
        QVERIFY(startCapture());
        QVERIFY(pty->send("before\r\n"));
        QTRY_COMPARE(captured(), QByteArray("before\r\n"));
        server->stop();
        QTRY_COMPARE(rig->lamp(), Lamp::Amber);
        QVERIFY2(f->Shape1->toolTip().contains(server->url()), qPrintable(f->Shape1->toolTip()));
        QCOMPARE(f->Verbind->text(), QStringLiteral("Schließen"));

        rig->send("RESET");
        QVERIFY2(rig->boxes.toldOnly(8021), qPrintable(rig->boxes.shown.join('\n')));

        QVERIFY2(server->start(), qPrintable(server->errorText()));
        QTRY_COMPARE_WITH_TIMEOUT(rig->lamp(), Lamp::Green, 10000);
        // Only the lines of the open port are left.
        QVERIFY2(shownToolTip(f->Shape1).startsWith("Ausgänge: "),
                 qPrintable(shownToolTip(f->Shape1)));
        QVERIFY(pty->send("after\r\n"));
        QTRY_COMPARE(captured(), QByteArray("before\r\nafter\r\n"));
        rig->send("AT");
        QCOMPARE(atDevice(3), QByteArray("AT\r")); // RESET was not kept
    }

    // A server that keeps refusing is called after ever longer pauses, up to
    // eight seconds.
    void callsAgainWithinTheLongestPause()
    {
        NetworkLine line(*NetworkAddress::parse(u"rfc2217://127.0.0.1:1"));
        NetworkRedial redial(line, LineSettings{});
        QList<int> pauses{redial.pauseMs()};
        for (int refusals = 0; refusals < 6; ++refusals) {
            Q_EMIT line.refused(Err::PortNotFound, {});
            pauses.append(redial.pauseMs());
        }
        QCOMPARE(pauses, (QList<int>{1000, 2000, 4000, 8000, 8000, 8000, 8000}));
    }

    // A server that keeps asking for options once the port is open, reading
    // the answers slowly or not at all, is given up as gone (amber) before
    // memory grows by 16 MB; the line's bytes among them reach the capture.
    void pesteringServer_data()
    {
        QTest::addColumn<bool>("reads");
        QTest::newRow("reads slowly") << true;
        QTest::newRow("reads nothing") << false;
    }
    void pesteringServer()
    {
        QFETCH(bool, reads);
        PesteringServer storm(reads);
        QVERIFY(serve(Accepter::Rfc2217, {}, storm.url()));
        QVERIFY(clickOpen());
        QCOMPARE(rig->lamp(), Lamp::Green);
        QVERIFY(startCapture());
        const qint64 before = residentKb();
        qint64 peak = before;
        storm.start();
        QVERIFY(QTest::qWaitFor(
            [&] {
                peak = std::max(peak, residentKb());
                return rig->lamp() == Lamp::Amber;
            },
            20000));
        QVERIFY2(peak - before < 16 * 1024, qPrintable(QString::number(peak - before) + " kB"));
        // Every request up to the budget is read, and the bytes before them.
        const qsizetype least = 4 * (Rfc2217Client::AnswerBudget / 5);
        QTRY_VERIFY(captured().size() >= least);
        const QByteArray got = captured();
        QVERIFY(got == PesteringServer::lineBytes(got.size()));
    }
};

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
