#include "devicelock.h"

#include "kavroerror.h"
#include "portstatus.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
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

bool isPtySlave(const struct stat &st)
{
    return S_ISCHR(st.st_mode) && major(st.st_rdev) >= PtySlaveMajorFirst &&
           major(st.st_rdev) <= PtySlaveMajorLast;
}

[[noreturn]] void portInUse(const QString &device)
{
    raisePortError(EBUSY, device);
}

} // namespace

bool isPseudoTerminalDevice(const QString &device)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(device).constData(), &st) == 0 && isPtySlave(st);
}

std::unique_ptr<DeviceLock> DeviceLock::take(const QString &device, const QStringList &lockDirs,
                                             bool fresh)
{
    // What is not there is missing, whatever lock file still names it; what
    // is no serial device is not even opened (a FIFO or a device of another
    // kind may act on an open).
    struct stat st {
    };
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        raisePortError(errno, device);
    if (!PortStatus::isSerialDevice(device))
        raiseError(Err::PortOpenFailed,
                   QStringLiteral("Der Anschluss %1 ist kein serielles Gerät").arg(device));
    if (PortStatus::lockedByOtherProgram(device, lockDirs))
        portInUse(device);

    // Our own descriptor comes first: its errno tells the reasons apart that
    // QSerialPort reports all as PermissionError.
    const int fd =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        raisePortError(errno, device);
    std::unique_ptr<DeviceLock> lock(new DeviceLock(fd));
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
        if (PortStatus::heldElsewhere(device, fd))
            portInUse(device);
        ::ioctl(fd, TIOCNXCL);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        if (e == EWOULDBLOCK)
            portInUse(device);
        raiseError(Err::PortOpenFailed,
                   QStringLiteral("Der Anschluss %1 kann nicht gesperrt werden (%2)")
                       .arg(device, QString::fromLocal8Bit(std::strerror(e))));
    }
    // The device is ours now: what programs that ended left on it goes. A
    // stale lock file is stale whoever owns it; one that stays (root's, left
    // in /run/lock by a Kavro run with sudo and killed) is told, and the
    // device opens all the same.
    lock->m_left = PortStatus::removeStaleLocks(device, lockDirs);
    return lock;
}

DeviceLock::~DeviceLock()
{
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
}

bool DeviceLock::hungUp() const
{
    pollfd p{m_fd, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

QString DeviceLock::openName(const QString &device) const
{
    if (m_left.isEmpty())
        return device;
    return QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(m_fd);
}

QString DeviceLock::notice() const
{
    QStringList told;
    for (const PortStatus::LeftLock &left : m_left) {
        QString text =
            QStringLiteral("Die Sperrdatei %1 eines beendeten Programms (PID %2) ließ sich nicht "
                           "entfernen (%3); der Anschluss ist trotzdem geöffnet.")
                .arg(left.path, QString::number(left.pid),
                     QString::fromLocal8Bit(std::strerror(left.error)));
        if (left.error == EPERM || left.error == EACCES)
            text += QStringLiteral(" Entfernen mit „sudo rm %1“.").arg(left.path);
        told.append(text);
    }
    return told.join(QLatin1Char('\n'));
}

bool DeviceLock::isPseudoTerminal() const
{
    struct stat st {
    };
    return ::fstat(m_fd, &st) == 0 && isPtySlave(st);
}
