#include "portstatus.h"

#include "locktext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace
{

bool processAlive(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

bool inGroups(gid_t gid)
{
    if (gid == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    QList<gid_t> groups(count);
    const int got = ::getgroups(count, groups.data());
    return std::find(groups.cbegin(), groups.cbegin() + std::max(got, 0), gid) !=
           groups.cbegin() + std::max(got, 0);
}

// Whether the process with a flock on the device's inode number has the
// device itself open. A pseudo-terminal that went away while a process kept
// it open lives on without a name, with the inode number that the next one of
// its name gets: the lock then sits on that ghost. A process we cannot look
// into counts as holding the device; one that is not there for us at all (in
// another container sharing /dev/pts) does not.
bool holdsDevice(pid_t pid, const QString &device)
{
    const QString process = QStringLiteral("/proc/") + QString::number(pid);
    if (!QFileInfo::exists(process))
        return false;
    const QFileInfo fdDir(process + QStringLiteral("/fd"));
    if (!fdDir.isReadable())
        return true;
    const QString resolved = QFileInfo(device).canonicalFilePath();
    const QFileInfoList fds = QDir(fdDir.filePath()).entryInfoList(QDir::System);
    return std::any_of(fds.cbegin(), fds.cend(),
                       [&](const QFileInfo &fd) { return fd.symLinkTarget() == resolved; });
}

// A UUCP lock file naming the device, with the process it names (0: none).
struct LockFile {
    QString path;
    bool readable;
    pid_t pid;
};

// Programs name the lock file after the device path below /dev with '/'
// turned into '_' (LCK..pts_3) or after its last part only (LCK..3); both are
// looked for.
QList<LockFile> lockFilesOf(const QString &device, const QStringList &lockDirs)
{
    QStringList names;
    if (device.startsWith(QLatin1String("/dev/")))
        names.append(QStringLiteral("LCK..") +
                     device.mid(5).replace(QLatin1Char('/'), QLatin1Char('_')));
    names.append(QStringLiteral("LCK..") + QFileInfo(device).fileName());
    names.removeDuplicates();

    // /var/lock is mostly a link to /run/lock: each folder is looked into once.
    QStringList seen;
    QList<LockFile> found;
    for (const QString &dir : lockDirs) {
        const QString canonical = QFileInfo(dir).canonicalFilePath();
        if (seen.contains(canonical))
            continue;
        seen.append(canonical);
        for (const QString &name : std::as_const(names)) {
            QFile file(dir + QLatin1Char('/') + name);
            if (!file.exists())
                continue;
            const bool readable = file.open(QIODevice::ReadOnly);
            found.append({file.fileName(), readable, readable ? lockFilePid(file.read(64)) : 0});
        }
    }
    return found;
}

// Our own PID belongs to our own port (another instance is caught by the
// flock). A lock we may not even read was not left by us: better to call the
// port taken than to open it under another program's feet.
bool heldByOther(const LockFile &lock)
{
    return !lock.readable || (lock.pid > 0 && lock.pid != ::getpid() && processAlive(lock.pid));
}

// A lock whose process has ended is stale, whoever owns the file.
bool isStale(const LockFile &lock)
{
    return lock.readable && lock.pid > 0 && lock.pid != ::getpid() && !processAlive(lock.pid);
}

} // namespace

PortStatus::State PortStatus::look(const QString &device, const QStringList &lockDirs)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return Missing;
    if (!isSerialDevice(device))
        return NotSerial;
    if (lockedByOtherProgram(device, lockDirs))
        return Busy;
    if (!mayOpen(device))
        return NoAccess;
    const pid_t holder = flockHolder(device);
    if (holder == ::getpid())
        return OpenHere;
    return holder != 0 ? Busy : Free;
}

// The system files every terminal device under the class "tty" in /sys,
// except pseudo-terminals, which have no entry there. Where /sys says
// nothing (a pseudo-terminal, a container without it), any character device
// may be one; /dev/null and its kind are filed under other classes.
bool PortStatus::isSerialDevice(const QString &device)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const QString entry =
        QStringLiteral("/sys/dev/char/%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    if (!QFileInfo::exists(entry))
        return true;
    return QFileInfo(QFileInfo(entry + QStringLiteral("/subsystem")).symLinkTarget()).fileName() ==
           QLatin1String("tty");
}

bool PortStatus::lockedByOtherProgram(const QString &device, const QStringList &lockDirs)
{
    const QList<LockFile> locks = lockFilesOf(device, lockDirs);
    return std::any_of(locks.cbegin(), locks.cend(), heldByOther);
}

QList<PortStatus::LeftLock> PortStatus::removeStaleLocks(const QString &device,
                                                         const QStringList &lockDirs)
{
    QList<LeftLock> left;
    const QList<LockFile> locks = lockFilesOf(device, lockDirs);
    for (const LockFile &lock : locks) {
        if (!isStale(lock) || ::unlink(QFile::encodeName(lock.path).constData()) == 0)
            continue;
        const int error = errno;
        if (error != ENOENT) // another program was quicker
            left.append({lock.path, lock.pid, error});
    }
    return left;
}

// Opening takes an exclusive flock, which any flock of another holder
// refuses.
pid_t PortStatus::flockHolder(const QString &device)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return 0;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    const QList<pid_t> holders =
        flockHolders(locks.readAll(), lockedFileId(major(st.st_dev), minor(st.st_dev), st.st_ino));
    for (const pid_t pid : holders)
        if (holdsDevice(pid, device))
            return pid;
    return 0;
}

bool PortStatus::heldElsewhere(const QString &device, int own)
{
    const QString resolved = QFileInfo(device).canonicalFilePath();
    const QString self = QString::number(::getpid());
    const QFileInfoList processes =
        QDir(QStringLiteral("/proc")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo &process : processes) {
        bool isPid = false;
        process.fileName().toInt(&isPid);
        if (!isPid)
            continue;
        const QFileInfoList fds =
            QDir(process.filePath() + QStringLiteral("/fd")).entryInfoList(QDir::System);
        for (const QFileInfo &fd : fds) {
            if (fd.symLinkTarget() != resolved)
                continue;
            if (process.fileName() != self || fd.fileName().toInt() != own)
                return true;
        }
    }
    return false;
}

// The mode bits are checked against the effective user and groups the way
// the kernel checks them for an ordinary user, for root too: root may open
// anything, but a device whose mode gives nobody access is one it is not
// meant to use. Where the bits refuse an ordinary user, an access control list
// may still grant access (udev's "uaccess"), which faccessat knows.
bool PortStatus::mayOpen(const QString &device)
{
    const QByteArray native = QFile::encodeName(device);
    struct stat st {
    };
    if (::stat(native.constData(), &st) != 0)
        return false;
    mode_t wanted = S_IROTH | S_IWOTH;
    if (st.st_uid == ::geteuid())
        wanted = S_IRUSR | S_IWUSR;
    else if (inGroups(st.st_gid))
        wanted = S_IRGRP | S_IWGRP;
    if ((st.st_mode & wanted) == wanted)
        return true;
    return ::geteuid() != 0 &&
           ::faccessat(AT_FDCWD, native.constData(), R_OK | W_OK, AT_EACCESS) == 0;
}
