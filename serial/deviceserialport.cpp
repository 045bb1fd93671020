#include "deviceserialport.h"

#include "codepage.h"
#include "kavroerror.h"
#include "networkline.h"
#include "portstatus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// Pseudo-terminal slaves (Unix 98 ptys) have these major numbers.
constexpr unsigned PtySlaveMajorFirst = 136;
constexpr unsigned PtySlaveMajorLast = 143;

[[noreturn]] void portInUse(const QString &device)
{
    raisePortError(EBUSY, device);
}

} // namespace

struct DeviceSerialPort::Private {
    Private(DeviceSerialPort *owner, const Environment &environment)
        : q(owner), port(new QSerialPort(owner)), env(environment)
    {
    }

    DeviceSerialPort *const q;
    QSerialPort *const port;
    const Environment env;

    qint16 commPort = 1;
    QString settingsText = QStringLiteral("9600,n,8,1");
    LineSettings settings;

    bool open = false;         // what PortOpen reports
    bool lost = false;         // the device failed while open and is given up
    bool absent = false;       // the device vanished while open and is waited for
    QString linkPath;          // the com<n> link the device was found by, if any
    quint64 lostLinkStamp = 0; // that link's inode and time when the device vanished
    QString absentAbout;       // what the lamp's tooltip says meanwhile
    QFileSystemWatcher *watcher = nullptr;
    QTimer *lookAgain = nullptr;
    // A slow look whether the open device is still there, for the rare
    // vanishing that QSerialPort does not report.
    QTimer *presence = nullptr;
    // A slow line is taken in once a beat instead of with every piece the
    // device delivers (a USB adapter at 115200 baud sends a few bytes every
    // millisecond or so). After an event that took in little, QSerialPort's
    // read notifier rests until the next beat of a 50 ms coarse timer, which
    // the system fires together with the window's own 50 ms timers; what
    // arrived meanwhile makes one event. The first piece after a quiet spell
    // is taken at once, and a fast line never rests, so nothing waits longer
    // than a beat and the system's buffers hold at most a beat's worth. Slow
    // means: less than RestBelow bytes in the last 100 to 200 ms, counted in
    // two buckets of 100 ms; a flood fills them at once, even while single
    // pieces of it are small.
    static constexpr qsizetype RestBelow = 4096;
    QTimer *rest = nullptr;
    bool resting = false;
    QPointer<QSocketNotifier> readNotifier;
    QElapsedTimer clock;
    qint64 bucketStart = 0;
    qsizetype lately[2] = {0, 0};

    void restAfter(qsizetype taken)
    {
        if (!clock.isValid())
            clock.start();
        const qint64 now = clock.elapsed();
        if (now - bucketStart >= 100) {
            lately[0] = now - bucketStart < 200 ? lately[1] : 0;
            lately[1] = 0;
            bucketStart = now;
        }
        lately[1] += taken;
        if (net || lately[0] + lately[1] >= RestBelow || !port->isOpen())
            return;
        if (!readNotifier) {
            const auto notifiers = port->findChildren<QSocketNotifier *>();
            for (QSocketNotifier *n : notifiers)
                if (n->type() == QSocketNotifier::Read && n->socket() == port->handle())
                    readNotifier = n;
        }
        // A QSerialPort that reads without such a notifier is read as the
        // pieces come.
        if (!readNotifier || !readNotifier->isEnabled())
            return;
        readNotifier->setEnabled(false);
        resting = true;
        if (!rest) {
            rest = new QTimer(q);
            rest->setInterval(50);
            rest->setTimerType(Qt::CoarseTimer);
            QObject::connect(rest, &QTimer::timeout, q, [this] { endRest(); });
        }
        if (!rest->isActive())
            rest->start();
    }
    void endRest()
    {
        // The timer keeps the beat while the line keeps the port resting.
        if (!resting) {
            if (rest)
                rest->stop();
            return;
        }
        resting = false;
        if (readNotifier && port->isOpen())
            readNotifier->setEnabled(true);
    }
    // QSerialPort makes a new notifier with every opening.
    void forgetNotifier()
    {
        endRest();
        readNotifier = nullptr;
    }

    // The port on a serial server the open port is (null for a device), and
    // the pause before the next try to reach it again while it is away.
    NetworkLine *net = nullptr;
    QTimer *callAgain = nullptr;
    int callAgainMs = 0;
    int lostNumber = 0; // what Output reports then
    QString lostText;
    bool writing = false;     // setOutput is handing bytes to QSerialPort
    bool writeFailed = false; // ... and a write failed meanwhile
    QString device;
    int guard = -1; // our own descriptor, holding the flock

    // Received bytes are taken from QSerialPort in one piece (q->m_in); Input
    // hands them out one at a time without copying.
    bool raiseQueued = false;

    // Where the bytes of the open port come from: the device, or the
    // connection to the serial server. Everything that only reads and writes
    // goes through here and does not know which.
    QIODevice *line() const { return net ? static_cast<QIODevice *>(net) : port; }

    qsizetype waiting() const
    {
        qsizetype n = q->m_in.size() - q->m_inNext;
        if (line()->isOpen())
            n += qsizetype(line()->bytesAvailable());
        return n;
    }

    // What QSerialPort holds that Input has not taken yet. Asking costs a
    // handful of calls, which the receive handler would pay for every
    // character. QSerialPort's buffer only grows while the event loop runs,
    // and every raise of OnComm marks that it may have grown; once it was found
    // empty, it stays empty until then.
    qsizetype portHolds()
    {
        if (!q->m_inMore)
            return 0;
        const qsizetype n = line()->isOpen() ? qsizetype(line()->bytesAvailable()) : 0;
        if (n == 0)
            q->m_inMore = false;
        return n;
    }

    void releaseGuard()
    {
        if (guard >= 0) {
            ::flock(guard, LOCK_UN);
            ::close(guard);
        }
        guard = -1;
    }

    void closeAll()
    {
        if (port->isOpen())
            port->close();
        if (net) {
            // It may be inside its own wait for the server (a window closed
            // meanwhile): it goes when that has returned.
            net->disconnect(q);
            std::exchange(net, nullptr)->dispose();
        }
        forgetNotifier();
        releaseGuard();
        port->clearError();
        const bool wasAbsent = absent;
        stopWatching();
        if (presence)
            presence->stop();
        open = false;
        absent = false;
        linkPath.clear();
        lost = false;
        lostNumber = 0;
        lostText.clear();
        writeFailed = false;
        device.clear();
        q->m_in.clear();
        q->m_inNext = 0;
        if (wasAbsent)
            Q_EMIT q->WaitingChanged(false, {});
    }

    bool gone() const { return hungUp() || !QFileInfo::exists(device); }

    bool hungUp() const
    {
        if (guard < 0)
            return true;
        pollfd p{guard, 0, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
    }

    bool isPseudoTerminal() const
    {
        struct stat st {
        };
        if (guard < 0 || ::fstat(guard, &st) != 0 || !S_ISCHR(st.st_mode))
            return false;
        return major(st.st_rdev) >= PtySlaveMajorFirst && major(st.st_rdev) <= PtySlaveMajorLast;
    }

    bool applySettings(const LineSettings &s)
    {
        if (net)
            return net->setLine(s);
        // With five data bits a UART told to use two stop bits sends one and
        // a half, and 1.5 comes only with five data bits.
        const QSerialPort::StopBits stop =
            s.stopBits == LineSettings::StopBits::One ? QSerialPort::OneStop : QSerialPort::TwoStop;
        static const QSerialPort::Parity parities[] = {
            QSerialPort::NoParity, QSerialPort::EvenParity, QSerialPort::OddParity,
            QSerialPort::MarkParity, QSerialPort::SpaceParity};
        // A pseudo-terminal has no line: the kernel keeps it at 8 data bits
        // without parity whatever is asked. The bytes pass all the same, so
        // the character format is not held against it.
        const bool lineless = isPseudoTerminal();
        port->clearError();
        bool ok = port->setBaudRate(s.baud) && port->setStopBits(stop) &&
                  port->setFlowControl(QSerialPort::NoFlowControl);
        ok = (port->setDataBits(QSerialPort::DataBits(s.dataBits)) || lineless) && ok;
        ok = (port->setParity(parities[int(s.parity)]) || lineless) && ok;
        port->clearError();
        return ok;
    }

    // The device failed or went away (a USB adapter pulled, the far end of a
    // pseudo-terminal closed). It is given back to the system at once so that
    // it can come back under its name; what was received stays readable and
    // the port counts as open until it is closed.
    void lose(int number, const QString &text)
    {
        if (lost || absent)
            return;
        if (presence)
            presence->stop();
        forgetNotifier();
        QByteArray left = q->m_in.mid(q->m_inNext);
        if (line()->isOpen()) {
            left.append(line()->readAll());
            line()->close();
        }
        q->m_in = std::move(left);
        q->m_inNext = 0;
        releaseGuard();
        port->clearError();
        if (number == Err::PortGone) {
            // The same device may well come back (a board reset, an adapter
            // plugged in again): wait for it.
            absent = true;
            lostLinkStamp = linkStamp();
            absentAbout = absentText();
            if (net)
                startCalling();
            else
                startWatching();
            Q_EMIT q->WaitingChanged(true, absentAbout);
        } else {
            lost = true;
            lostNumber = number;
            lostText = text;
        }
        if (!q->m_in.isEmpty())
            raiseLater();
    }

    // What the operator is told while the device is away.
    QString absentText() const
    {
        if (net)
            return QStringLiteral(
                       "Der Anschluss %1 ist nicht mehr erreichbar. Kavro wartet darauf und "
                       "verbindet wieder, sobald der Server ihn annimmt.")
                .arg(linkPath.isEmpty() ? device : QStringLiteral("%1 (%2)").arg(linkPath, device));
        const QString what =
            linkPath.isEmpty()
                ? device
                : QStringLiteral("%1 (%2)").arg(linkPath, QFileInfo(linkPath).symLinkTarget());
        return QStringLiteral(
                   "Das Gerät %1 ist nicht mehr da. Kavro wartet darauf und öffnet es wieder, "
                   "sobald es zurück ist.")
            .arg(what);
    }

    QString busyText(const QString &target) const
    {
        QString who = QStringLiteral("ein anderes Programm");
        if (const pid_t pid = PortStatus::flockHolder(target); pid > 0) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            const QString name = comm.open(QIODevice::ReadOnly)
                                     ? QString::fromLocal8Bit(comm.readAll().trimmed())
                                     : QString();
            who += name.isEmpty() ? QStringLiteral(" (Prozess %1)").arg(pid)
                                  : QStringLiteral(" (%1, Prozess %2)").arg(name).arg(pid);
        }
        return QStringLiteral(
                   "Das Gerät %1 ist wieder da, aber %2 hat es geöffnet. Kavro wartet, bis es "
                   "frei ist.")
            .arg(target, who);
    }

    // The system hands out the numbers of pseudo-terminals again, to anyone: a
    // /dev/pts/N that appears under the old name, with no link pointed anew
    // at it, is the same device only when nobody else has it open. A terminal
    // of somebody's session always is, and it is not taken.
    bool strangerTerminal(const QString &target) const
    {
        if (!linkPath.isEmpty() && linkStamp() != lostLinkStamp)
            return false; // the link was made anew: somebody pointed it at the device
        struct stat st {
        };
        if (::stat(QFile::encodeName(target).constData(), &st) != 0 || !S_ISCHR(st.st_mode) ||
            major(st.st_rdev) < PtySlaveMajorFirst || major(st.st_rdev) > PtySlaveMajorLast)
            return false;
        return PortStatus::heldElsewhere(target, -1);
    }

    // Tells a link made anew from the old one, even with the same target.
    quint64 linkStamp() const
    {
        struct stat st {
        };
        if (::lstat(QFile::encodeName(linkPath).constData(), &st) != 0)
            return 0;
        return quint64(st.st_ino) * 1000003u + quint64(st.st_mtim.tv_nsec) +
               quint64(st.st_mtim.tv_sec);
    }

    // The device waited for is the one the link points to now (a by-id link
    // follows its adapter to whatever name it gets), else the same path.
    QString returnedDevice() const
    {
        return linkPath.isEmpty() ? device : QFileInfo(linkPath).canonicalFilePath();
    }

    // Looking costs nothing while nothing changes: the folders where the
    // device and its link appear are watched, with a slow look now and then
    // for what no folder tells (another program letting go of the device,
    // or the system granting access a moment after the device appeared).
    void watchPresence()
    {
        if (!presence) {
            presence = new QTimer(q);
            presence->setInterval(1000);
            QObject::connect(presence, &QTimer::timeout, q, [this] {
                if (open && !lost && !absent && !net && gone())
                    lose(Err::PortGone,
                         QStringLiteral("Das Gerät %1 ist nicht mehr vorhanden").arg(device));
            });
        }
        presence->start();
    }

    void startWatching()
    {
        if (!watcher) {
            watcher = new QFileSystemWatcher(q);
            QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, q,
                             [this] { lookSoon(); });
            QObject::connect(watcher, &QFileSystemWatcher::fileChanged, q, [this] { lookSoon(); });
            lookAgain = new QTimer(q);
            lookAgain->setInterval(1000);
            QObject::connect(lookAgain, &QTimer::timeout, q, [this] { tryReturn(); });
        }
        watchFolders();
        lookAgain->start();
    }

    void watchFolders()
    {
        QStringList folders{QFileInfo(device).absolutePath(), QStringLiteral("/dev")};
        if (!linkPath.isEmpty()) {
            folders << QFileInfo(linkPath).absolutePath();
            const QString target = QFileInfo(linkPath).symLinkTarget();
            if (!target.isEmpty())
                folders << QFileInfo(target).absolutePath();
        }
        folders.removeDuplicates();
        // Every terminal window and login opens and closes entries in
        // /dev/pts; the slow look finds a pseudo-terminal that comes back.
        folders.removeAll(QStringLiteral("/dev/pts"));
        for (const QString &folder : std::as_const(folders)) {
            if (QFileInfo(folder).isDir() && !watcher->directories().contains(folder))
                watcher->addPath(folder);
        }
    }

    // A server that went away is called again, first after a second, then
    // after ever longer pauses up to eight seconds, so that a rack of
    // Kavros does not hammer a server that is rebooting.
    void startCalling()
    {
        if (!callAgain) {
            callAgain = new QTimer(q);
            callAgain->setSingleShot(true);
            QObject::connect(callAgain, &QTimer::timeout, q, [this] {
                if (absent && net)
                    net->begin(settings);
            });
        }
        callAgainMs = 1000;
        callAgain->start(callAgainMs);
    }

    void netReturned()
    {
        if (!absent)
            return;
        absent = false;
        q->m_inMore = true;
        Q_EMIT q->WaitingChanged(false, {});
        if (waiting() > 0)
            raiseLater();
    }

    void netRefused(int number)
    {
        if (!absent)
            return;
        const QString about =
            number == Err::PortInUse
                ? QStringLiteral(
                      "Der Anschluss %1 ist wieder erreichbar, aber ein anderes Programm hat ihn "
                      "geöffnet. Kavro wartet, bis er frei ist.")
                      .arg(device)
                : absentText();
        callAgainMs = std::min(callAgainMs * 2, 8000);
        callAgain->start(callAgainMs);
        if (about != absentAbout) {
            absentAbout = about;
            Q_EMIT q->WaitingChanged(true, absentAbout);
        }
    }

    // Opens the port on a serial server with the settings in force; throws
    // KavroError.
    void openNetwork(const NetworkAddress &address)
    {
        NetworkLine *const opening = new NetworkLine(address, q);
        net = opening;
        QObject::connect(net, &NetworkLine::readyRead, q, [this] { onReadyRead(); });
        QObject::connect(net, &NetworkLine::dropped, q, [this] {
            lose(Err::PortGone, QStringLiteral("Die Verbindung zu %1 ist abgebrochen").arg(device));
        });
        QObject::connect(net, &NetworkLine::opened, q, [this] { netReturned(); });
        QObject::connect(net, &NetworkLine::refused, q, [this](int number) { netRefused(number); });
        try {
            opening->open(settings);
        } catch (const KavroError &) {
            // Unless the port was closed meanwhile, which took it along.
            if (net == opening) {
                net->disconnect(q);
                std::exchange(net, nullptr)->dispose();
            }
            throw;
        }
    }

    void stopWatching()
    {
        if (callAgain)
            callAgain->stop();
        if (!watcher)
            return;
        lookAgain->stop();
        const QStringList watched = watcher->directories() + watcher->files();
        if (!watched.isEmpty())
            watcher->removePaths(watched);
    }

    // A change in a watched folder: look now, and once more shortly, since
    // the system finishes a new device (its access rights, its by-id link)
    // a moment after it appears.
    void lookSoon()
    {
        tryReturn();
        if (absent)
            QTimer::singleShot(200, q, [this] { tryReturn(); });
    }

    void tryReturn()
    {
        if (!absent)
            return;
        watchFolders();
        const QString target = returnedDevice();
        QString about = absentAbout;
        if (!target.isEmpty() && QFileInfo::exists(target) && !strangerTerminal(target)) {
            try {
                openDevice(target, false);
                device = target;
                absent = false;
                stopWatching();
                watchPresence();
                q->m_inMore = true;
                Q_EMIT q->WaitingChanged(false, {});
                if (waiting() > 0)
                    raiseLater();
                return;
            } catch (const KavroError &e) {
                // Another program took it meanwhile: it is not taken from
                // it; Kavro waits until it is free.
                about = e.number() == Err::PortInUse ? busyText(target) : absentText();
            }
        } else {
            about = absentText();
        }
        if (about != absentAbout) {
            absentAbout = about;
            Q_EMIT q->WaitingChanged(true, absentAbout);
        }
    }

    // Opens the device with the settings in force; throws KavroError.
    void openDevice(const QString &device, bool fresh)
    {
        const QByteArray native = QFile::encodeName(device);
        // What is not there is missing, whatever lock file still names it;
        // what is no serial device is not even opened (a FIFO or a device
        // of another kind may act on an open).
        struct stat st {
        };
        if (::stat(native.constData(), &st) != 0)
            raisePortError(errno, device);
        if (!PortStatus::isSerialDevice(device))
            raiseError(Err::PortOpenFailed,
                       QStringLiteral("Der Anschluss %1 ist kein serielles Gerät").arg(device));
        if (PortStatus::lockedByOtherProgram(device, env.lockDirs))
            portInUse(device);

        // Our own descriptor comes first: its errno tells the reasons apart that
        // QSerialPort reports all as PermissionError, and its flock marks the port
        // as taken for every program that asks (TIOCEXCL does not stop root).
        const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            raisePortError(errno, device);
        // Whatever waited in the device from before the operator's opening
        // belongs to nobody; what comes from now on is the operator's. A device
        // that came back keeps what it sent since.
        if (fresh)
            ::tcflush(fd, TCIOFLUSH);
        // Root opens a device despite its exclusive flag; the flag says that
        // another program holds the port, as long as one does. A flag nobody holds
        // any more was left by a program that ended while the device lived on (a
        // pseudo-terminal lives as long as its far end), and is taken down.
        int exclusive = 0;
        if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
            if (PortStatus::heldElsewhere(device, fd)) {
                ::close(fd);
                portInUse(device);
            }
            ::ioctl(fd, TIOCNXCL);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno;
            ::close(fd);
            if (e == EWOULDBLOCK)
                portInUse(device);
            raiseError(Err::PortOpenFailed,
                       QStringLiteral("Der Anschluss %1 kann nicht gesperrt werden (%2)")
                           .arg(device, QString::fromLocal8Bit(std::strerror(e))));
        }
        guard = fd;

        port->clearError();
        port->setPortName(device);
        forgetNotifier();
        if (!port->open(QIODevice::ReadWrite)) {
            const QSerialPort::SerialPortError error = port->error();
            const QString reason = port->errorString();
            releaseGuard();
            port->clearError();
            switch (error) {
            case QSerialPort::DeviceNotFoundError:
                raiseError(
                    Err::PortNotFound,
                    QStringLiteral("Ungültige Portnummer: Gerät %1 nicht vorhanden").arg(device));
            case QSerialPort::PermissionError:
                // Our own open went through, so this is QSerialPort's lock file or
                // a program that took the port in the meantime.
                if (PortStatus::lockedByOtherProgram(device, env.lockDirs))
                    portInUse(device);
                raiseError(Err::PortAccess,
                           QStringLiteral("Zugriff auf den Anschluss %1 verweigert (%2)")
                               .arg(device, reason));
            default:
                raiseError(Err::PortOpenFailed,
                           QStringLiteral("Der Anschluss %1 kann nicht geöffnet werden (%2)")
                               .arg(device, reason));
            }
        }

        // QSerialPort marks the device exclusive. On real hardware the mark goes
        // with the last close, even when Kavro is killed; a pseudo-terminal would
        // keep it for as long as its far end lives and refuse every later opening.
        // There the flock and the lock file, which die with the process, do.
        if (isPseudoTerminal())
            ::ioctl(int(port->handle()), TIOCNXCL);

        if (!applySettings(settings)) {
            port->close();
            releaseGuard();
            raiseError(
                Err::InvalidValue,
                QStringLiteral(
                    "Ungültiger Eigenschaftswert: Einstellungen „%1“ am Anschluss %2 nicht möglich")
                    .arg(settingsText, device));
        }
    }

    void onError(QSerialPort::SerialPortError error)
    {
        if (!open || lost || absent)
            return;
        switch (error) {
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
            break;
        default:
            // Setters report through their results, which are checked where
            // they are called.
            return;
        }
        if (gone()) {
            lose(Err::PortGone,
                 QStringLiteral("Das Gerät %1 ist nicht mehr vorhanden").arg(device));
        } else if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError) {
            // A device that is being pulled may fail a read a moment before
            // the system shows it gone; look again before calling it dead.
            // Reading has stopped meanwhile, so this cannot turn into a loop.
            QTimer::singleShot(100, q, [this, error] {
                if (!open || lost || absent)
                    return;
                if (gone())
                    lose(Err::PortGone,
                         QStringLiteral("Das Gerät %1 ist nicht mehr vorhanden").arg(device));
                else if (error == QSerialPort::ReadError)
                    lose(Err::PortIo, QStringLiteral("Lesefehler am Anschluss %1").arg(device));
            });
        } else if (error == QSerialPort::WriteError) {
            // A failure of the command being handed over is that command's;
            // one found while the rest of an earlier command went out in the
            // background is told at once, and the next command goes out.
            if (writing)
                writeFailed = true;
            else
                Q_EMIT q->Failed(KavroError(
                    Err::PortIo,
                    QStringLiteral("Schreibfehler am Anschluss %1: ein gesendeter Befehl "
                                   "ist nicht vollständig angekommen")
                        .arg(device)));
        }
        // A ResourceError of a device that is still there is a full output
        // buffer (Qt reports EAGAIN so); the rest is sent when there is room.
        port->clearError();
    }

    void onReadyRead()
    {
        q->m_inMore = true;
        const qsizetype before = waiting();
        Q_EMIT q->OnComm();
        if (waiting() > 0)
            raiseLater();
        else
            restAfter(before);
    }

    // The receive handler ended with characters still waiting (it failed, or
    // a dialog of it was open). They get one more event; after that only a
    // handler that keeps taking characters gets more, so a handler that fails
    // on every call does not spin.
    void raiseLater()
    {
        if (raiseQueued)
            return;
        raiseQueued = true;
        QMetaObject::invokeMethod(
            q,
            [this] {
                raiseQueued = false;
                q->m_inMore = true;
                const qsizetype before = waiting();
                if (before == 0)
                    return;
                Q_EMIT q->OnComm();
                const qsizetype after = waiting();
                if (after > 0 && after < before)
                    raiseLater();
            },
            Qt::QueuedConnection);
    }
};

DeviceSerialPort::Environment DeviceSerialPort::system()
{
    return {PortMap(PortMap::defaultLinkDir(),
                    [] {
                        QList<SystemPort> devices;
                        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
                        for (const QSerialPortInfo &info : ports) {
                            SystemPort port{info.systemLocation(),
                                            info.description(),
                                            info.manufacturer(),
                                            info.serialNumber(),
                                            {},
                                            {}};
                            if (info.hasVendorIdentifier())
                                port.vendorId = info.vendorIdentifier();
                            if (info.hasProductIdentifier())
                                port.productId = info.productIdentifier();
                            devices.append(port);
                        }
                        return devices;
                    }),
            {QStringLiteral("/run/lock"), QStringLiteral("/var/lock")},
            {QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")}};
}

DeviceSerialPort::DeviceSerialPort(QObject *parent) : DeviceSerialPort(system(), parent)
{
}

DeviceSerialPort::DeviceSerialPort(const Environment &environment, QObject *parent)
    : SerialPort(parent), d(new Private(this, environment))
{
    connect(d->port, &QSerialPort::readyRead, this, [this] { d->onReadyRead(); });
    connect(d->port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { d->onError(error); });
}

DeviceSerialPort::~DeviceSerialPort()
{
    d->closeAll();
    delete d->port;
    delete d;
}

bool DeviceSerialPort::PortOpen() const
{
    return d->open;
}

void DeviceSerialPort::setPortOpen(bool open)
{
    if (!open) {
        d->closeAll();
        return;
    }
    if (d->open)
        raiseError(Err::PortInUse, QStringLiteral("Anschluss bereits geöffnet: %1").arg(d->device));

    const QString device = d->env.map.device(d->commPort);
    if (const std::optional<NetworkAddress> address = NetworkAddress::parse(device))
        d->openNetwork(*address);
    else
        d->openDevice(device, true);
    const QString link =
        d->env.map.linkDir() + QStringLiteral("/com") + QString::number(d->commPort);
    d->linkPath = QFileInfo(link).isSymLink() ? link : QString();
    m_in.clear();
    m_inNext = 0;
    m_inMore = true;
    d->device = device;
    d->open = true;
    if (!d->net) // a network port learns of a dropped connection by itself
        d->watchPresence();
}

qint16 DeviceSerialPort::CommPort() const
{
    return d->commPort;
}

void DeviceSerialPort::setCommPort(qint16 port)
{
    PortMap::checkNumber(port);
    if (d->open)
        raiseError(Err::InvalidValue,
                   QStringLiteral("Ungültiger Eigenschaftswert: die Portnummer lässt sich nur bei "
                                  "geschlossenem Anschluss ändern"));
    d->commPort = port;
}

QString DeviceSerialPort::Settings() const
{
    return d->settingsText;
}

void DeviceSerialPort::setSettings(const QString &settings)
{
    const LineSettings parsed = LineSettings::parse(settings);
    // An open port takes new settings at once, as long as it still has its
    // device; a refusal leaves the old ones in force.
    if (d->open && !d->lost && !d->absent && !d->applySettings(parsed)) {
        d->applySettings(d->settings);
        raiseError(
            Err::InvalidValue,
            QStringLiteral(
                "Ungültiger Eigenschaftswert: Einstellungen „%1“ am Anschluss %2 nicht möglich")
                .arg(settings, d->device));
    }
    d->settings = parsed;
    d->settingsText = settings;
}

void DeviceSerialPort::setOutput(const QString &text)
{
    if (!d->open)
        raiseError(Err::PortNotOpen);
    if (d->lost)
        raiseError(d->lostNumber, d->lostText);
    // Nothing is kept for later: a stale command must not reach a board that
    // has just been reset.
    if (d->absent)
        raiseError(Err::PortGone,
                   d->absentAbout + QStringLiteral(" Der Befehl wurde nicht gesendet."));
    if (text.isEmpty())
        return;

    const QByteArray bytes = bytesFromText(text);

    d->port->clearError();
    d->writing = true;
    d->writeFailed = false;
    const qint64 queued = d->line()->write(bytes);
    if (queued == bytes.size() && !d->net)
        d->port->flush(); // pushes what the device takes now; the rest follows
    d->writing = false;
    if (d->lost)
        raiseError(d->lostNumber, d->lostText);
    if (queued != bytes.size() || d->port->error() == QSerialPort::WriteError || d->writeFailed) {
        d->writeFailed = false;
        d->port->clearError();
        raiseError(Err::PortIo, QStringLiteral("Schreibfehler am Anschluss %1").arg(d->device));
    }
    d->port->clearError();
}

qint16 DeviceSerialPort::waitingCount()
{
    if (!d->open)
        return 0;
    const qsizetype n = m_in.size() - m_inNext + d->portHolds();
    return qint16(std::min<qsizetype>(n, std::numeric_limits<qint16>::max()));
}

QByteArrayView DeviceSerialPort::takeIn()
{
    if (!d->line()->isOpen() || d->line()->bytesAvailable() <= 0)
        return {};
    m_in = d->line()->readAll();
    m_inNext = 0;
    if (m_in.isEmpty())
        return {};
    return QByteArrayView(m_in.constData() + m_inNext++, 1);
}

const DeviceSerialPort::Environment &DeviceSerialPort::environment() const
{
    return d->env;
}

QString DeviceSerialPort::DevicePath() const
{
    return d->device;
}
