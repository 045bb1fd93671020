// The port on pseudo-terminals made here, linked as port 7 in a temporary
// folder, with a lock folder of its own: as a device, and where the port's
// state machine is meant to behave the same over either transport, through
// the real ser2net on rfc2217:// and tcp:// too. No real serial port is
// touched.

#include "codepage.h"
#include "deviceserialport.h"
#include "readpacer.h"
#include "ser2netserver.h"
#include "support.h"

#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

// The kernel's termios2 (any rate as a number); <asm/termbits.h> clashes.
struct Termios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line, c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

// A far end and port 7 open on it: the device itself, or through ser2net.
struct OpenLine {
    std::unique_ptr<FarEnd> pty = std::make_unique<FarEnd>();
    QTemporaryDir serverFiles;
    std::unique_ptr<Ser2NetServer> server;
    std::unique_ptr<DeviceSerialPort> port;
};

class TestPort : public QObject
{
    Q_OBJECT
    QTemporaryDir m_links;
    QTemporaryDir m_locks;

    void transportRows(const QStringList &transports)
    {
        QTest::addColumn<QString>("transport"); // "device", "rfc2217", "tcp"
        for (const QString &t : transports)
            QTest::newRow(qPrintable(t)) << t;
    }
    // The line of the row, open once the server (if any) has answered.
    bool open(OpenLine &line, const QString &transport)
    {
        QString target = line.pty->slavePath();
        if (transport != "device") {
            line.server = std::make_unique<Ser2NetServer>(line.serverFiles.path(), target,
                                                          transport == "tcp"
                                                              ? Ser2NetServer::Accepter::RawTcp
                                                              : Ser2NetServer::Accepter::Rfc2217);
            if (!line.server->start()) {
                qWarning("%s", qPrintable(line.server->errorText()));
                return false;
            }
            target = line.server->url();
        }
        line.port = portOn(target);
        line.port->setPortOpen(true);
        return QTest::qWaitFor([&] { return line.port->PortOpen(); }, 10000);
    }
    // Port 7 linked to `device`, closed; only this test's own devices (no
    // system ports) and its own lock folder.
    std::unique_ptr<DeviceSerialPort> portOn(const QString &device,
                                             const QString &settings = "9600,n,8,1")
    {
        QFile::remove(m_links.filePath("com7"));
        QFile::link(device, m_links.filePath("com7"));
        auto port = std::make_unique<DeviceSerialPort>(DeviceSerialPort::Environment{
            PortMap(m_links.path(), [] { return QStringList(); }), {m_locks.path()}});
        port->setCommPort(7);
        port->setSettings(settings);
        return port;
    }

private Q_SLOTS:
    void init()
    {
        const QByteArray tag = QTest::currentDataTag();
        if ((tag == "rfc2217" || tag == "tcp") && !Ser2NetServer::available())
            QSKIP("ser2net is not installed (scripts/setup.sh --test installs it)");
    }

    void settingsReachDevice_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<uint>("baud");
        QTest::addColumn<uint>("speedConstant"); // 0: a rate without one
        QTest::addColumn<uint>("flags");         // of PARODD, CMSPAR, CSTOPB
        auto row = [](const char *text, uint baud, uint speed, uint flags) {
            QTest::newRow(text) << QString(text) << baud << speed << flags;
        };
        row("19200,e,7,2", 19200, B19200, CSTOPB);
        row("250000,o,5,1.5", 250000, 0, PARODD | CSTOPB);
        row("300,m,6,1", 300, B300, PARODD | CMSPAR);
        row("12345,S,8,2", 12345, 0, CMSPAR | CSTOPB);
    }
    void settingsReachDevice()
    {
        // The kernel keeps a pty at CS8 without PARENB whatever it is told, so
        // data bits and parity enable cannot be seen here; the rest can.
        QFETCH(QString, settings);
        QFETCH(uint, baud);
        QFETCH(uint, speedConstant);
        QFETCH(uint, flags);
        FarEnd pty;
        const auto port = portOn(pty.slavePath(), settings);
        port->setPortOpen(true);
        QCOMPARE(port->Settings(), settings);
        Termios2 t{};
        QCOMPARE(ioctl(pty.slave(), _IOR('T', 0x2A, Termios2), &t), 0);
        QCOMPARE(t.c_ospeed, baud);
        QCOMPARE(t.c_ispeed, baud);
        QCOMPARE(t.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), flags);
        termios classic{};
        tcgetattr(pty.slave(), &classic);
        QVERIFY(!speedConstant ||
                (cfgetospeed(&classic) == speedConstant && cfgetispeed(&classic) == speedConstant));
    }

    void refused_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("error");
        QTest::newRow("second instance") << "second" << Err::PortInUse;
        QTest::newRow("live lock, ASCII") << "lock ascii" << Err::PortInUse;
        QTest::newRow("live lock, binary") << "lock binary" << Err::PortInUse;
        QTest::newRow("live lock, short name") << "lock short" << Err::PortInUse;
        // One whose process has ended goes, whoever left it.
        QTest::newRow("stale lock is removed") << "lock stale" << 0;
        QTest::newRow("flock held elsewhere") << "flock" << Err::PortInUse;
        QTest::newRow("exclusive flag, even for root") << "exclusive" << Err::PortInUse;
        QTest::newRow("dangling link") << "dangling" << Err::PortNotFound;
        QTest::newRow("settings the port cannot take")
            << "settings 9600,n,8,1.5" << Err::InvalidValue;
        // A Kavro that ends in any way, even killed, leaves nothing behind.
        QTest::newRow("another Kavro, then killed") << "killed" << Err::PortInUse;
        // Another program's exclusive flag outlives it on a pseudo-terminal;
        // nobody holds the port any more, so it opens (the kernel lets only
        // root open a device so marked).
        QTest::newRow("exclusive flag of a killed program") << "flag left" << 0;
    }
    void refused()
    {
        QFETCH(QString, situation);
        QFETCH(int, error);
        FarEnd pty;
        const QString name = pty.slavePath().section(u'/', -1);
        const QString lockFile =
            m_locks.filePath("LCK.." + (situation == "lock short" ? name : "pts_" + name));
        int blocker = -1;
        pid_t holder = 0;
        const auto other = portOn(pty.slavePath());
        const auto port =
            portOn(situation == "dangling" ? "/dev/pts/kavro-missing" : pty.slavePath());
        // Every obstacle gone: the other port closed, no lock file, no flock,
        // no exclusive flag, no other program.
        const auto release = [&] {
            other->setPortOpen(false);
            QFile::remove(lockFile);
            ::close(std::exchange(blocker, -1));
            ::ioctl(pty.slave(), TIOCNXCL);
            if (const pid_t killed = std::exchange(holder, 0); killed > 0) {
                QCOMPARE(::kill(killed, SIGKILL), 0);
                QCOMPARE(::waitpid(killed, nullptr, 0), killed);
            }
        };
        const auto cleanup = qScopeGuard(release);
        if (situation == "second") {
            other->setPortOpen(true);
        } else if (situation.startsWith("lock")) {
            pid_t pid = getppid();
            if (situation == "lock stale" && (pid = fork()) == 0)
                _exit(0); // a process that has ended
            waitpid(pid, nullptr, 0);
            QVERIFY(writeFile(lockFile, situation == "lock binary"
                                            ? QByteArray(reinterpret_cast<const char *>(&pid), 4)
                                            : QByteArray::number(pid).rightJustified(10) + '\n'));
        } else if (situation == "exclusive") {
            QCOMPARE(::ioctl(pty.slave(), TIOCEXCL), 0);
        } else if (situation == "flock") {
            blocker = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDWR | O_NOCTTY);
            QCOMPARE(flock(blocker, LOCK_EX | LOCK_NB), 0);
        } else if (situation == "flag left" || situation == "killed") {
            if (situation == "flag left" && ::geteuid() != 0)
                QSKIP("only root opens a device with the exclusive flag");
            if (situation == "flag left")
                pty.closeSlave(); // only the other program has it open
            const QByteArray slave = QFile::encodeName(pty.slavePath());
            int ready[2];
            QCOMPARE(::pipe(ready), 0);
            if ((holder = fork()) == 0) {
                if (situation == "killed")
                    other->setPortOpen(true);
                else
                    ::ioctl(::open(slave.constData(), O_RDWR | O_NOCTTY), TIOCEXCL);
                [[maybe_unused]] const auto n = ::write(ready[1], "x", 1);
                ::pause();
                _exit(0);
            }
            char c = 0;
            QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
            ::close(ready[0]);
            ::close(ready[1]);
            if (situation == "flag left")
                release();
        }
        QCOMPARE(errorOf([&] {
                     if (situation.startsWith("settings "))
                         port->setSettings(situation.mid(9));
                     port->setPortOpen(true);
                 }),
                 error);
        QCOMPARE(port->PortOpen(), error == 0);
        if (situation.startsWith("lock"))
            QCOMPARE(QFile::exists(lockFile), situation != "lock stale");
        if (error == Err::PortInUse) { // nothing stays held: with the obstacle gone it opens
            release();
            port->setPortOpen(true);
        }
    }

    // Every byte value goes out and comes back as it was, one byte a unit,
    // also to a handler that takes one unit per event and leaves the rest.
    void bytesPassUnchanged_data() { transportRows({"device", "rfc2217", "tcp"}); }
    void bytesPassUnchanged()
    {
        QFETCH(QString, transport);
        const QByteArray bytes = allValues() + '|'; // the end mark shows a surplus
        OpenLine line;
        QVERIFY(open(line, transport));
        FarEnd &pty = *line.pty;
        DeviceSerialPort &port = *line.port;
        port.setOutput(textFromBytes(allValues()));
        port.setOutput(QStringLiteral("|"));
        QCOMPARE(receiveWhileRunning(pty, bytes.size()), bytes);

        QByteArray in;
        connect(&port, &SerialPort::OnComm, this, [&] {
            if (port.InBufferCount() > 0) {
                const QByteArrayView unit = port.Input();
                in += unit.size() == 1 ? unit : QByteArrayView("<not one byte>");
            }
        });
        QVERIFY(pty.send(bytes));
        QTRY_COMPARE(in, bytes);
        QVERIFY(port.Input().isEmpty());
    }

    // The line goes away while open (a device pulled, a server stopped) and
    // comes back (the device under a new name the link is pointed at, the
    // server started again). Meanwhile the port stays open and waits, with
    // what came before still readable; output and the lines are refused and
    // nothing is kept. Once back, bytes pass both ways.
    void lineGoesAwayAndComesBack_data() { transportRows({"device", "rfc2217"}); }
    void lineGoesAwayAndComesBack()
    {
        QFETCH(QString, transport);
        OpenLine line;
        QVERIFY(open(line, transport));
        DeviceSerialPort &port = *line.port;
        QByteArray in;
        connect(&port, &SerialPort::OnComm, this, [&] {
            while (port.InBufferCount() > 0)
                in += port.Input();
        });
        QSignalSpy waiting(&port, &SerialPort::WaitingChanged);
        QVERIFY(line.pty->send("before"));
        QTRY_COMPARE(in, QByteArray("before"));

        if (transport == "device") {
            line.pty->closeSlave();
            line.pty->closeMaster();
        } else {
            line.server->stop();
        }
        QVERIFY(waiting.wait(5000));
        QCOMPARE(waiting.last().at(0).toBool(), true);
        QVERIFY(port.PortOpen());
        QCOMPARE(port.modemLines().lineAccess(), LineAccess::Away);
        QCOMPARE(errorOf([&] { port.setOutput("RESET"); }), Err::PortGone);
        QCOMPARE(errorOf([&] { port.modemLines().setDtr(false); }), Err::PortGone);

        if (transport == "device") {
            line.pty = std::make_unique<FarEnd>();
            const QString link = m_links.filePath("com7");
            QVERIFY(QFile::link(line.pty->slavePath(), link + ".new"));
            QCOMPARE(::rename(QFile::encodeName(link + ".new").constData(),
                              QFile::encodeName(link).constData()),
                     0);
        } else {
            QVERIFY2(line.server->start(), qPrintable(line.server->errorText()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!waiting.last().at(0).toBool(), 10000);
        QCOMPARE(port.modemLines().lineAccess(), LineAccess::Full);
        port.setOutput("AT");
        QCOMPARE(receiveWhileRunning(*line.pty, 2), QByteArray("AT"));
        QVERIFY(line.pty->send("after"));
        QTRY_COMPARE(in, QByteArray("beforeafter"));
    }

    // What waited before the opening is dropped; what the device sends the
    // moment the line is set up is the operator's.
    void bytesRightAfterOpeningArrive()
    {
        FarEnd pty;
        const auto owned = portOn(pty.slavePath(), "57600,n,8,1");
        DeviceSerialPort &port = *owned;
        QVERIFY(pty.send("stale"));
        std::thread greeter([&] { // greets as soon as it sees the new speed
            termios t{};
            for (int i = 0; i < 5'000'000 && cfgetospeed(&t) != B57600; ++i)
                tcgetattr(pty.master(), &t);
            pty.send("hello");
        });
        port.setPortOpen(true);
        greeter.join();
        QByteArray in;
        QTRY_VERIFY([&] {
            while (port.InBufferCount() > 0)
                in += port.Input();
            return in.size() >= 5;
        }());
        QCOMPARE(in, QByteArray("hello"));
    }

    // A slow line is taken in once a beat: its pieces, a few bytes every
    // 10 ms as an adapter at 115200 baud delivers them, make fewer receive
    // events than pieces, and after each the port rests. After a quiet spell
    // it reads again at once. QSerialPort offers no way to pause reading; if
    // a Qt update takes away what the pacing holds on to, this fails.
    void slowLineIsTakenInOnceABeat()
    {
        FarEnd pty;
        const auto owned = portOn(pty.slavePath(), "115200,n,8,1");
        DeviceSerialPort &port = *owned;
        port.setPortOpen(true);
        auto *pacer = port.findChild<ReadPacer *>();
        QVERIFY(pacer);
        int events = 0;
        bool restedAfterAPiece = false;
        QByteArray in;
        connect(&port, &SerialPort::OnComm, this, [&] {
            ++events;
            while (port.InBufferCount() > 0)
                in += port.Input();
        });
        // Rest state is looked at right after each event has been handled.
        QTimer look;
        connect(&look, &QTimer::timeout, this, [&] { restedAfterAPiece |= pacer->resting(); });
        look.start(1);
        const QByteArray piece = "0123456789ab";
        const int pieces = 40;
        int sent = 0;
        QTimer sender;
        connect(&sender, &QTimer::timeout, this, [&] {
            if (sent < pieces && pty.send(piece))
                ++sent;
        });
        sender.start(10);
        QTRY_COMPARE_WITH_TIMEOUT(in.size(), piece.size() * pieces, 10000);
        sender.stop();
        look.stop();
        QVERIFY2(pacer->engaged() && restedAfterAPiece, "the read notifier was never rested");
        QVERIFY2(events < pieces / 2, qPrintable(QString::number(events)));
        // A quiet spell ends the rest: the next piece is read as it comes.
        QTRY_VERIFY(!pacer->resting());
        const int before = events;
        QVERIFY(pty.send("x"));
        QTRY_COMPARE(events, before + 1);
        QVERIFY(in.endsWith('x'));
    }
};

QTEST_GUILESS_MAIN(TestPort)
#include "tst_port.moc"
