#include "segmentfiles.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr quint64 TimeMask = (quint64(1) << 48) - 1;

bool writeAll(int fd, const char *p, qint64 n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, size_t(n));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = ENOSPC;
            return false;
        }
        p += w;
        n -= w;
    }
    return true;
}

bool readAll(int fd, char *p, qint64 n, qint64 at)
{
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, size_t(n), off_t(at));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= r;
        at += r;
    }
    return true;
}

int openFile(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(),
                  O_RDWR | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
}

} // namespace

HistoryRecord HistoryRecord::of(qint64 time, HistoryLine::Kind kind, quint8 flags, qint64 pos,
                                qint64 length, qint64 noteAt)
{
    return {(quint64(time) & TimeMask) | quint64(flags) << 48 | quint64(kind) << 56, pos,
            quint32(length), quint32(noteAt)};
}

HistoryLine HistoryRecord::line(qint64 number) const
{
    HistoryLine line;
    line.number = number;
    line.time = qint64(stamp & TimeMask);
    line.flags = quint8(stamp >> 48);
    line.kind = HistoryLine::Kind(stamp >> 56);
    line.pos = pos;
    line.length = length;
    line.noteAt = noteAt;
    return line;
}

SegmentFiles::SegmentFiles(const QString &prefix, qint64 number, qint64 dataBegin, qint64 firstLine)
    : m_prefix(prefix), m_number(number), m_dataBegin(dataBegin), m_firstLine(firstLine)
{
}

SegmentFiles::~SegmentFiles()
{
    for (const int fd : {m_data, m_index, m_notes.load()}) {
        if (fd >= 0)
            ::close(fd);
    }
}

QString SegmentFiles::path(const char *kind) const
{
    return m_prefix + QStringLiteral("-%1.").arg(m_number) + QLatin1String(kind);
}

bool SegmentFiles::create(FileFault &fault)
{
    for (int *fd : {&m_data, &m_index}) {
        const char *kind = fd == &m_data ? "data" : "index";
        *fd = openFile(path(kind));
        if (*fd < 0) {
            fault = {errno, path(kind)};
            removeFiles();
            return false;
        }
    }
    return true;
}

bool SegmentFiles::appendData(QByteArrayView bytes, FileFault &fault)
{
    if (!writeAll(m_data, bytes.data(), bytes.size())) {
        fault = {errno, path("data")};
        return false;
    }
    m_dataSize += bytes.size();
    return true;
}

bool SegmentFiles::appendNote(QByteArrayView bytes, qint64 &at, FileFault &fault)
{
    if (m_notes < 0)
        m_notes = openFile(path("notes"));
    if (m_notes < 0 || !writeAll(m_notes, bytes.data(), bytes.size())) {
        fault = {errno, path("notes")};
        return false;
    }
    at = m_notesSize;
    m_notesSize += bytes.size();
    return true;
}

void SegmentFiles::add(const HistoryRecord &record)
{
    m_tail.push_back(record);
    ++m_lines;
}

bool SegmentFiles::flush(FileFault &fault)
{
    if (m_tail.empty())
        return true;
    if (!writeAll(m_index, reinterpret_cast<const char *>(m_tail.data()),
                  qint64(m_tail.size()) * HistoryRecord::Size)) {
        fault = {errno, path("index")};
        return false;
    }
    m_flushed += qint64(m_tail.size());
    m_tail.clear();
    return true;
}

void SegmentFiles::removeFiles() const
{
    for (const char *kind : {"data", "index", "notes"})
        ::unlink(QFile::encodeName(path(kind)).constData());
}

bool SegmentFiles::readRecords(qint64 first, qint64 count, std::vector<HistoryRecord> &out) const
{
    out.resize(size_t(count));
    return readAll(m_index, reinterpret_cast<char *>(out.data()), count * HistoryRecord::Size,
                   first * HistoryRecord::Size);
}

bool SegmentFiles::readData(char *out, qint64 at, qint64 size) const
{
    return readAll(m_data, out, size, at);
}

bool SegmentFiles::readNote(char *out, qint64 at, qint64 size) const
{
    const int notes = m_notes;
    return notes >= 0 && readAll(notes, out, size, at);
}
