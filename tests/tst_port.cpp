// The port layer: port numbers to devices, the settings texts, and the device
// port on pseudo-terminals made here, linked as port 7 in a temporary folder.
// No real serial port is touched. The far end vanishing is tested through the
// window (tst_terminal).

#include "deviceserialport.h"
#include "kavroerror.h"
#include "linesettings.h"
#include "portmap.h"
#include "farend.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

// The kernel's termios2 carries any rate as a number; <asm/termbits.h>,
// which declares it, clashes with <termios.h>.
struct Termios2
{
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line, c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

Q_DECLARE_METATYPE(LineSettings)

template<typename F>
static int errorOf(F f)
{
    try {
        f();
    } catch (const KavroError &e) {
        return e.number();
    }
    return 0;
}

class TestPort : public QObject
{
    Q_OBJECT
    QTemporaryDir m_links;

    void prepare(DeviceSerialPort &port, const QString &device, const QString &settings = "9600,n,8,1")
    {
        QFile::remove(m_links.filePath("com7"));
        QFile::link(device, m_links.filePath("com7"));
        port.setPortMap(PortMap(m_links.path(), [] { return QStringList(); }));
        port.setCommPort(7);
        port.setSettings(settings);
    }

private Q_SLOTS:
    void ordering()
    {
        const QStringList devices{"/dev/ttyAMA10", "/dev/ttyACM0", "/dev/ttyS10", "/dev/ttyUSB1", "/dev/ttyAMA9",
                                  "/dev/ttyS", "/dev/ttyS2", "/dev/ttyUSB0"};
        QCOMPARE(PortMap::ordered(devices),
                 (QStringList{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0",
                              "/dev/ttyAMA9", "/dev/ttyAMA10", "/dev/ttyS"}));
    }

    void mapping_data()
    {
        QTest::addColumn<QString>("link"); // "n=device"; no device: dangling
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("expected"); // empty: error 8002
        QTest::newRow("first") << "" << 1 << "ttyS2";
        QTest::newRow("ttyS10 after ttyS2") << "" << 2 << "ttyS10";
        QTest::newRow("last") << "" << 4 << "ttyACM0";
        QTest::newRow("beyond the last") << "" << 5 << "";
        QTest::newRow("zero") << "" << 0 << "";
        QTest::newRow("negative") << "" << -1 << "";
        QTest::newRow("link wins") << "1=ttyUSB0" << 1 << "ttyUSB0";
        QTest::newRow("link number skipped") << "2=other" << 3 << "ttyS10";
        QTest::newRow("linked device still counted") << "9=ttyS10" << 2 << "ttyS10";
        QTest::newRow("dangling link") << "2=" << 2 << "";
        QTest::newRow("com01 is no link for 1") << "01=ttyUSB0" << 1 << "ttyS2";
    }
    void mapping()
    {
        QFETCH(QString, link);
        QFETCH(int, port);
        QFETCH(QString, expected);
        // Empty files stand in for devices; ttyS2 is reported twice.
        QTemporaryDir dir;
        QStringList system;
        for (const char *name : {"ttyACM0", "ttyS10", "ttyUSB0", "ttyS2", "ttyS2", "other"}) {
            QFile(dir.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
            system.append(dir.filePath(QLatin1String(name)));
        }
        system.removeLast();
        QDir().mkpath(dir.filePath(QStringLiteral("ports")));
        const QString target = link.section(u'=', 1);
        if (!link.isEmpty())
            QVERIFY(QFile::link(dir.filePath(target.isEmpty() ? QStringLiteral("missing") : target),
                                dir.filePath(QStringLiteral("ports/com") + link.section(u'=', 0, 0))));
        const PortMap map(dir.filePath(QStringLiteral("ports")), [system] { return system; });
        QString got;
        QCOMPARE(errorOf([&] { got = map.device(qint16(port)); }), expected.isEmpty() ? Err::PortNotFound : 0);
        QCOMPARE(got, expected.isEmpty() ? QString() : dir.filePath(expected));
    }

    void linkDirFromEnvironment_data()
    {
        QTest::addColumn<QByteArray>("xdg"); // "-": unset
        QTest::addColumn<QString>("expected");
        QTest::newRow("set") << QByteArray("/tmp/x") << "/tmp/x/kavro/ports";
        QTest::newRow("empty") << QByteArray() << QDir::homePath() + "/.config/kavro/ports";
        QTest::newRow("unset") << QByteArray("-") << QDir::homePath() + "/.config/kavro/ports";
    }
    void linkDirFromEnvironment()
    {
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        xdg == "-" ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", xdg);
        QCOMPARE(PortMap::defaultLinkDir(), expected);
    }

    void settingsReachDevice_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<LineSettings>("parsed");
        QTest::addColumn<uint>("speedConstant"); // 0: a rate without one
        QTest::addColumn<uint>("flags");         // of PARODD, CMSPAR, CSTOPB
        using P = QSerialPort;
        auto row = [](const char *text, LineSettings parsed, uint speed, uint flags) {
            QTest::newRow(text) << QString(text) << parsed << speed << flags;
        };
        row("9600,n,8,1", {9600, P::NoParity, P::Data8, P::OneStop}, B9600, 0);
        row(" 9600 , n ,8, 1 ", {}, B9600, 0);
        row("19200,e,7,2", {19200, P::EvenParity, P::Data7, P::TwoStop}, B19200, CSTOPB);
        row("250000,o,5,1.5", {250000, P::OddParity, P::Data5, P::OneAndHalfStop}, 0, PARODD | CSTOPB);
        row("300,m,6,1", {300, P::MarkParity, P::Data6, P::OneStop}, B300, PARODD | CMSPAR);
        row("12345,S,8,2", {12345, P::SpaceParity, P::Data8, P::TwoStop}, 0, CMSPAR | CSTOPB);
    }
    void settingsReachDevice()
    {
        // The kernel keeps a pty at CS8 without PARENB whatever it is told, so
        // data bits and parity enable cannot be seen here; the rest can.
        QFETCH(QString, settings);
        QFETCH(LineSettings, parsed);
        QFETCH(uint, speedConstant);
        QFETCH(uint, flags);
        QCOMPARE(LineSettings::parse(settings), parsed);
        FarEnd pty;
        DeviceSerialPort port;
        prepare(port, pty.slavePath(), settings);
        port.setPortOpen(true);
        QCOMPARE(port.devicePath(), pty.slavePath());
        QCOMPARE(port.Settings(), settings);
        Termios2 t{};
        QCOMPARE(ioctl(pty.slave(), _IOR('T', 0x2A, Termios2), &t), 0);
        QCOMPARE(t.c_ospeed, uint(parsed.baud));
        QCOMPARE(t.c_ispeed, uint(parsed.baud));
        QCOMPARE(t.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), flags);
        termios classic{};
        tcgetattr(pty.slave(), &classic);
        QVERIFY(!speedConstant || (cfgetospeed(&classic) == speedConstant && cfgetispeed(&classic) == speedConstant));
    }

    void refused_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("error");
        QTest::newRow("second instance") << "second" << Err::PortInUse;
        QTest::newRow("live lock, ASCII") << "lock ascii" << Err::PortInUse;
        QTest::newRow("live lock, binary") << "lock binary" << Err::PortInUse;
        QTest::newRow("live lock, short name") << "lock short" << Err::PortInUse;
        QTest::newRow("stale lock is ignored") << "lock stale" << 0;
        QTest::newRow("flock held elsewhere") << "flock" << Err::PortInUse;
        QTest::newRow("exclusive flag, even for root") << "exclusive" << Err::PortInUse;
        QTest::newRow("dangling link") << "dangling" << Err::PortNotFound;
        QTest::newRow("no such port") << "port 8" << Err::PortNotFound;
        for (const char *bad : {"9600,,8,1", "", "0,n,8,1", "-9600,n,8,1", "4294967296,n,8,1", "abc", "9600,x,8,1",
                                "9600,n,9,1", "9600,n,8,3", "9600,n,8,1,1", "9600,n,8,1.5"})
            QTest::newRow(*bad ? bad : "empty settings") << QString("settings ") + bad << Err::InvalidValue;
        QTest::newRow("output while closed") << "output" << Err::PortNotOpen;
    }
    void refused()
    {
        QFETCH(QString, situation);
        QFETCH(int, error);
        FarEnd pty;
        const QString name = pty.slavePath().section(u'/', -1);
        const QString lockFile = "/run/lock/LCK.." + (situation == "lock short" ? name : "pts_" + name);
        int blocker = -1;
        const auto cleanup = qScopeGuard([&] { QFile::remove(lockFile); ::close(blocker); });
        DeviceSerialPort port, other;
        prepare(other, pty.slavePath());
        prepare(port, situation == "dangling" ? "/dev/pts/kavro-missing" : pty.slavePath());
        if (situation == "second") {
            other.setPortOpen(true);
        } else if (situation.startsWith("lock")) {
            pid_t pid = getppid();
            if (situation == "lock stale" && (pid = fork()) == 0)
                _exit(0); // a process that has ended
            waitpid(pid, nullptr, 0);
            QFile f(lockFile);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(situation == "lock binary" ? QByteArray(reinterpret_cast<const char *>(&pid), 4)
                                               : QByteArray::number(pid).rightJustified(10, ' ') + '\n');
        } else if (situation == "exclusive") {
            QCOMPARE(::ioctl(pty.slave(), TIOCEXCL), 0);
        } else if (situation == "flock") {
            blocker = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDWR | O_NOCTTY);
            QCOMPARE(flock(blocker, LOCK_EX | LOCK_NB), 0);
        }
        QCOMPARE(errorOf([&] {
                     if (situation.startsWith("port "))
                         port.setCommPort(qint16(situation.mid(5).toInt()));
                     if (situation.startsWith("settings "))
                         port.setSettings(situation.mid(9));
                     situation == "output" ? port.setOutput("x") : port.setPortOpen(true);
                 }),
                 error);
        QCOMPARE(port.PortOpen(), error == 0);
        if (error == Err::PortInUse) { // nothing stays held: with the obstacle gone it opens
            other.setPortOpen(false);
            QFile::remove(lockFile);
            ::close(std::exchange(blocker, -1));
            ::ioctl(pty.slave(), TIOCNXCL);
            port.setPortOpen(true);
        }
    }

    void bytesPassUnchanged_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("perEvent"); // what the receive handler takes per event; 0: all
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        QTest::newRow("all byte values") << QString::fromLatin1(all) << all << 0;
        QTest::newRow("handler takes one per event") << QString::fromLatin1(all) << all << 1;
        QTest::newRow("no Latin-1 byte") << QStringLiteral(u"€ \U0001F600!") << QByteArray("? ?!") << 0;
        QTest::newRow("more than the pty holds") << QString(200000, u'\xff') << QByteArray(200000, '\xff') << 0;
    }
    void bytesPassUnchanged()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(int, perEvent);
        FarEnd pty;
        DeviceSerialPort port;
        prepare(port, pty.slavePath());
        port.setPortOpen(true);

        port.setOutput(text);
        port.setOutput(QStringLiteral("|")); // the end mark, so an empty text shows too
        QByteArray out;
        for (int round = 0; out.size() <= bytes.size() && round < 2000; ++round) {
            QCoreApplication::processEvents(); // the rest of a long text goes out from here
            out += pty.receive(1, 5);
        }
        QCOMPARE(out, bytes + '|');

        QByteArray in;
        connect(&port, &SerialPort::OnComm, this, [&] {
            for (int n = 0; port.InBufferCount() > 0 && (perEvent == 0 || n < perEvent); ++n) {
                const QByteArrayView unit = port.Input();
                in += unit.size() == 1 ? unit : QByteArrayView("<not one byte>");
            }
        });
        bool sent = false; // the far end writes from a thread: the pty holds less than this
        std::thread farEnd([&] { sent = pty.send(bytes + '|'); });
        QTRY_COMPARE_WITH_TIMEOUT(in.size(), bytes.size() + 1, 20000);
        farEnd.join();
        QVERIFY(sent);
        QCOMPARE(in, bytes + '|');
        QVERIFY(port.Input().isEmpty());
    }
};

QTEST_MAIN(TestPort)
#include "tst_port.moc"
