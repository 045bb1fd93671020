#include "filenumbers.h"

#include "kavroerror.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

const QString NoPlainFile = QStringLiteral(
    "Das ist keine gewöhnliche Datei, sondern ein Ordner, eine Verknüpfung oder ein Gerät");

} // namespace

FileNumbers::~FileNumbers()
{
    for (int n = 0; n < int(m_slots.size()); ++n) {
        try {
            close(n);
        } catch (...) {
        }
    }
}

std::optional<qint64> FileNumbers::fileLength(const QString &path)
{
    // The name itself counts, not what a link points to: a link whose
    // target is gone is still there.
    struct stat st {
    };
    if (::lstat(nativePath(path).constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        raiseFileError(errno);
    }
    return qint64(st.st_size);
}

bool FileNumbers::remove(const QString &path)
{
    const QByteArray native = nativePath(path);
    struct stat st {
    };
    if (::lstat(native.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        raiseFileError(errno);
    }
    // Only plain files are deleted. A folder, a device or a link of that name
    // is not a capture file: removing a device node, or the link that pins a
    // serial adapter to its port number, would be a disaster.
    if (!S_ISREG(st.st_mode))
        raiseError(Err::PathAccess, NoPlainFile);
    // A file another capture records into is not taken from under it.
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(fd);
        if (busy)
            raiseError(
                Err::PermissionDenied,
                QStringLiteral("Die Datei wird gerade von einem anderen Programm beschrieben"));
    }
    if (::unlink(native.constData()) != 0) {
        if (errno == ENOENT)
            return false;
        raiseFileError(errno);
    }
    return true;
}

FileNumbers::Slot &FileNumbers::slot(int number)
{
    if (number < 1 || number >= int(m_slots.size()))
        raiseError(Err::BadFileNumber);
    return m_slots[size_t(number)];
}

const FileNumbers::Slot &FileNumbers::slot(int number) const
{
    return const_cast<FileNumbers *>(this)->slot(number);
}

void FileNumbers::openAppend(int number, const QString &path)
{
    Slot &s = slot(number);
    if (s.fd >= 0)
        raiseError(Err::FileAlreadyOpen);
    const int fd =
        ::open(nativePath(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        raiseFileError(errno);
    struct stat st {
    };
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        raiseFileError(err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        raiseError(Err::PathAccess, NoPlainFile);
    }
    // Marks the file as being written; a second Kavro asked to start on it
    // says so instead of deleting it. Another program's lock does not stop us.
    ::flock(fd, LOCK_EX | LOCK_NB);
    s.fd = fd;
    s.path = path;
    s.nativePath = nativePath(path);
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.used = 0;
}

void FileNumbers::append(Slot &s, QByteArrayView bytes)
{
    if (bytes.size() > s.capacity - s.used) {
        const qsizetype capacity = std::max(FlushAt, s.used + bytes.size());
        std::unique_ptr<char[]> grown(new char[size_t(capacity)]);
        if (s.used > 0)
            std::memcpy(grown.get(), s.data.get(), size_t(s.used));
        s.data = std::move(grown);
        s.capacity = capacity;
    }
    if (!bytes.isEmpty())
        std::memcpy(s.data.get() + s.used, bytes.data(), size_t(bytes.size()));
    s.used += bytes.size();
}

void FileNumbers::flush(int number)
{
    Slot &s = slot(number);
    if (s.fd < 0)
        raiseError(Err::BadFileNumber);
    qsizetype done = 0;
    while (done < s.used) {
        const ssize_t n = ::write(s.fd, s.data.get() + done, size_t(s.used - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            // What did reach the file stays counted; the rest cannot be
            // written and is dropped, so a later flush does not try again.
            s.used = 0;
            raiseFileError(err);
        }
        done += n;
    }
    const bool wrote = s.used > 0;
    s.used = 0;
    // Deleted or replaced from outside, the file takes everything written
    // into it out of sight.
    struct stat named {
    };
    if (wrote && (::stat(s.nativePath.constData(), &named) != 0 || named.st_dev != s.device ||
                  named.st_ino != s.inode))
        raiseError(Err::FileNotFound,
                   QStringLiteral("Sie wurde während der Aufzeichnung gelöscht oder ersetzt"));
}

void FileNumbers::close(int number)
{
    Slot &s = slot(number);
    if (s.fd < 0)
        return;
    const int fd = s.fd;
    auto finish = [&] {
        ::close(fd);
        s.fd = -1;
        s.used = 0;
    };
    try {
        flush(number);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

bool FileNumbers::isOpen(int number) const
{
    return slot(number).fd >= 0;
}

QString FileNumbers::path(int number) const
{
    return slot(number).path;
}
