#include "runlock.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{

// The files of one run: history-<pid>-<n>.lock, held with flock for the life
// of the log, and history-<pid>-<n>-<segment>.data, .index, .notes.
const QRegularExpression &lockName()
{
    static const QRegularExpression re(QStringLiteral("^(history-\\d+-\\d+)\\.lock$"));
    return re;
}

// Removes what runs that ended without cleaning up left behind: their lock
// is no longer held. Files of running ones and anything else stay.
void removeStale(const QString &folder)
{
    QDir dir(folder);
    const QStringList locks =
        dir.entryList({QStringLiteral("history-*.lock")}, QDir::Files | QDir::Hidden);
    for (const QString &name : locks) {
        const QRegularExpressionMatch m = lockName().match(name);
        if (!m.hasMatch())
            continue;
        const int fd = ::open(QFile::encodeName(dir.filePath(name)).constData(),
                              O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            const QStringList files =
                dir.entryList({m.captured(1) + QStringLiteral("-*")}, QDir::Files | QDir::Hidden);
            static const QRegularExpression own(
                QStringLiteral("^history-\\d+-\\d+-\\d+\\.(data|index|notes)$"));
            for (const QString &f : files) {
                if (own.match(f).hasMatch())
                    dir.remove(f);
            }
            dir.remove(name);
        }
        ::close(fd);
    }
}

} // namespace

RunLock::~RunLock()
{
    release();
}

bool RunLock::take(const QString &folder, FileFault &fault)
{
    if (m_fd >= 0)
        return true;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        fault = {QFileInfo(folder).exists() ? ENOTDIR : EACCES, folder};
        return false;
    }
    removeStale(folder);

    // The lock is taken under a name the clean-up above ignores and then
    // renamed, so another Kavro starting at the same moment never sees it
    // unheld.
    static std::atomic<int> runs{0};
    const QString prefix = QDir(folder).filePath(
        QStringLiteral("history-%1-%2").arg(::getpid()).arg(runs.fetch_add(1)));
    const QString making = prefix + QStringLiteral(".lock.new");
    const int fd = ::open(QFile::encodeName(making).constData(),
                          O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        fault = {errno, making};
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::rename(QFile::encodeName(making).constData(),
                 QFile::encodeName(prefix + QStringLiteral(".lock")).constData()) != 0) {
        fault = {errno, making};
        ::close(fd);
        ::unlink(QFile::encodeName(making).constData());
        return false;
    }
    m_fd = fd;
    m_prefix = prefix;
    return true;
}

void RunLock::release()
{
    if (m_fd < 0)
        return;
    ::unlink(QFile::encodeName(m_prefix + QStringLiteral(".lock")).constData());
    ::close(m_fd);
    m_fd = -1;
}
