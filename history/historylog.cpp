#include "historylog.h"

#include "kavroerror.h"
#include "sequences.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{

constexpr size_t FlushEvery = 256; // index records gathered before one write
constexpr qint64 MaxNote = qint64(16) << 20;
constexpr quint64 TimeMask = (quint64(1) << 48) - 1;

quint64 stampOf(qint64 time, HistoryLine::Kind kind, quint8 flags)
{
    return (quint64(time) & TimeMask) | quint64(flags) << 48 | quint64(kind) << 56;
}

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

QString describe(int err)
{
    try {
        raiseFileError(err);
    } catch (const KavroError &e) {
        return e.description();
    }
}

} // namespace

struct HistoryLog::Segment {
    qint64 number = 0;
    int data = -1;
    int index = -1;
    int notes = -1;
    qint64 dataBegin = 0; // stream position of its first byte
    qint64 dataSize = 0;
    qint64 notesSize = 0;
    qint64 firstLine = 0;
    qint64 lines = 0;   // finished records, in the file and in the tail
    qint64 flushed = 0; // records in the index file
    std::vector<Record> tail;

    // What its files take, or will once the tail is written.
    qint64 size() const { return dataSize + notesSize + lines * RecordSize; }

    ~Segment()
    {
        for (const int fd : {data, index, notes}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

HistoryLog::HistoryLog(Options options)
    : m_options(std::move(options)),
      m_segmentSize(std::clamp<qint64>(m_options.budget / 8, 1024, qint64(256) << 20))
{
    prepareFolder();
}

HistoryLog::~HistoryLog()
{
    close();
}

bool HistoryLog::prepareFolder()
{
    if (m_lock >= 0)
        return true;
    const QString folder = m_options.folder;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        fail(QFileInfo(folder).exists() ? ENOTDIR : EACCES, folder);
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
        const int err = errno;
        fail(err, making);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::rename(QFile::encodeName(making).constData(),
                 QFile::encodeName(prefix + QStringLiteral(".lock")).constData()) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(QFile::encodeName(making).constData());
        fail(err, making);
        return false;
    }
    m_lock = fd;
    m_prefix = prefix;
    return true;
}

QString HistoryLog::path(qint64 segment, const char *suffix) const
{
    return m_prefix + QStringLiteral("-%1.").arg(segment) + QLatin1String(suffix);
}

void HistoryLog::fail(int err, const QString &path)
{
    if (m_failed)
        return;
    m_failed = true;
    m_failure = QStringLiteral("%1 (%2)").arg(describe(err), QDir::toNativeSeparators(path));
}

void HistoryLog::removeFiles(Segment &segment)
{
    for (const char *suffix : {"data", "index", "notes"})
        ::unlink(QFile::encodeName(path(segment.number, suffix)).constData());
}

bool HistoryLog::rotate()
{
    if (!m_segments.empty() && !flush(*m_segments.back()))
        return false;
    auto segment = std::make_shared<Segment>();
    segment->number = m_nextSegment++;
    segment->dataBegin = m_streamEnd;
    segment->firstLine = m_nextLine;
    for (const char *suffix : {"data", "index"}) {
        const int fd = openFile(path(segment->number, suffix));
        if (fd < 0) {
            const int err = errno;
            fail(err, path(segment->number, suffix));
            removeFiles(*segment);
            return false;
        }
        (segment->data < 0 ? segment->data : segment->index) = fd;
    }
    m_segments.push_back(std::move(segment));
    dropOld();
    return true;
}

void HistoryLog::dropOld()
{
    // Called with a new segment just begun: what the ones before it take
    // stays within the budget, so the new one can grow to its full size.
    // The index of short lines outweighs their bytes, so every file counts.
    qint64 kept = 0;
    for (const SegmentPtr &segment : m_segments)
        kept += segment->size();
    while (m_segments.size() > 1) {
        const SegmentPtr &front = m_segments.front();
        if (kept <= m_options.budget || front.get() == m_openSegment)
            break;
        kept -= front->size();
        m_droppedBytes += front->dataSize;
        m_droppedTime = m_options.clock ? m_options.clock() : QDateTime::currentMSecsSinceEpoch();
        m_showDropped = true;
        ++m_generation;
        removeFiles(*front);
        m_segments.pop_front();
    }
}

bool HistoryLog::flush(Segment &segment)
{
    if (segment.tail.empty())
        return true;
    if (!writeAll(segment.index, reinterpret_cast<const char *>(segment.tail.data()),
                  qint64(segment.tail.size()) * RecordSize)) {
        const int err = errno;
        fail(err, path(segment.number, "index"));
        return false;
    }
    segment.flushed += qint64(segment.tail.size());
    segment.tail.clear();
    return true;
}

void HistoryLog::push(Segment &segment, const Record &record)
{
    segment.tail.push_back(record);
    ++segment.lines;
    if (&segment != m_segments.back().get() || segment.tail.size() >= FlushEvery)
        flush(segment);
}

void HistoryLog::openPiece(qint64 pos, qint64 time, quint8 flags)
{
    m_open = Record{stampOf(time, HistoryLine::Received, flags), pos, 0, 0};
    m_openNumber = m_nextLine++;
    m_openSegment = m_segments.back().get();
    m_recentCount = 0;
}

void HistoryLog::finishPiece()
{
    push(*m_openSegment, *m_open);
    m_open.reset();
    m_openSegment = nullptr;
}

void HistoryLog::remember(const char *p, qsizetype n)
{
    const int size = int(m_recent.size());
    if (n >= size) {
        std::memcpy(m_recent.data(), p + n - size, size_t(size));
        m_recentCount = size;
        return;
    }
    const int keep = std::min(m_recentCount, size - int(n));
    std::memmove(m_recent.data(), m_recent.data() + m_recentCount - keep, size_t(keep));
    std::memcpy(m_recent.data() + keep, p, size_t(n));
    m_recentCount = keep + int(n);
}

void HistoryLog::cutPiece(uchar next, qint64 time)
{
    // The piece is full and the line goes on. Bytes at its end that begin a
    // character or an escape sequence the next byte belongs to move on with
    // it, so that each piece shows whole characters and sequences.
    const int count = m_recentCount;
    qint64 moved = unfinishedTail(QByteArrayView(m_recent.data(), count), next);
    if (moved >= qint64(m_open->length))
        moved = 0;
    const Record full = *m_open;
    m_open->length -= quint32(moved);
    finishPiece();
    openPiece(full.pos + full.length - moved, time, HistoryLine::Continued);
    m_open->length = quint32(moved);
    std::memmove(m_recent.data(), m_recent.data() + count - moved, size_t(moved));
    m_recentCount = int(moved);
}

void HistoryLog::scan(const char *p, qsizetype n, qint64 base, qint64 time)
{
    // Line ends are found with memchr; the positions of the next CR and LF
    // are kept, so each is searched for once per stretch of the piece.
    qsizetype nextCr = -1, nextLf = -1;
    auto nextEnd = [&](qsizetype from) {
        if (nextCr < from) {
            const void *q = std::memchr(p + from, '\r', size_t(n - from));
            nextCr = q ? static_cast<const char *>(q) - p : n;
        }
        if (nextLf < from) {
            const void *q = std::memchr(p + from, '\n', size_t(n - from));
            nextLf = q ? static_cast<const char *>(q) - p : n;
        }
        return std::min(nextCr, nextLf);
    };
    const qint64 limit = m_options.pieceLength;
    qsizetype i = 0;
    qsizetype pieceFrom = 0; // where the growing piece's bytes in this event begin
    while (i < n) {
        // Lines end as in the receive box; a run of text is taken whole.
        const LineEnds::Role role = m_lineEnds.take(p[i]);
        if (role == LineEnds::Swallowed) {
            ++i;
            continue;
        }
        if (role == LineEnds::End) {
            if (m_open)
                finishPiece();
            else if (!std::exchange(m_continueNext, false)) // an empty line
                openPiece(base + i, time, 0), finishPiece();
            ++i;
            continue;
        }
        const qsizetype stop = nextEnd(i);
        while (i < stop) {
            if (!m_open) {
                openPiece(base + i, time,
                          std::exchange(m_continueNext, false) ? HistoryLine::Continued : 0);
                pieceFrom = i;
            }
            if (m_open->length >= limit) {
                remember(p + pieceFrom, i - pieceFrom);
                cutPiece(uchar(p[i]), time);
                pieceFrom = i;
                continue;
            }
            const qsizetype take = std::min<qsizetype>(stop - i, limit - m_open->length);
            m_open->length += quint32(take);
            i += take;
        }
    }
    if (m_open)
        remember(p + pieceFrom, n - pieceFrom);
}

void HistoryLog::appendReceived(QByteArrayView bytes)
{
    if (m_failed || bytes.isEmpty())
        return;
    const qint64 time = m_options.clock ? m_options.clock() : QDateTime::currentMSecsSinceEpoch();
    std::lock_guard lock(m_mutex);
    // A large piece goes in parts: a part of short lines brings index records
    // of up to twelve times its size, and a segment should not outgrow its
    // size by much before the next one begins.
    const qsizetype part = qsizetype(m_segmentSize / 64);
    while (!bytes.isEmpty()) {
        if ((m_segments.empty() || m_segments.back()->size() >= m_segmentSize) && !rotate())
            return;
        const QByteArrayView now = bytes.first(std::min(bytes.size(), part));
        bytes = bytes.sliced(now.size());
        Segment &segment = *m_segments.back();
        if (!writeAll(segment.data, now.data(), now.size())) {
            const int err = errno;
            fail(err, path(segment.number, "data"));
            return;
        }
        segment.dataSize += now.size();
        const qint64 base = m_streamEnd;
        m_streamEnd += now.size();
        scan(now.data(), now.size(), base, time);
    }
}

void HistoryLog::appendSent(QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        appendNote(HistoryLine::Sent, bytes.first(std::min(bytes.size(), MaxNote)), false);
}

void HistoryLog::appendMarker(const QString &text, bool newSession)
{
    appendNote(HistoryLine::Marker, text.toUtf8(), newSession);
}

void HistoryLog::appendNote(HistoryLine::Kind kind, QByteArrayView bytes, bool newSession)
{
    if (m_failed)
        return;
    const qint64 time = m_options.clock ? m_options.clock() : QDateTime::currentMSecsSinceEpoch();
    std::lock_guard lock(m_mutex);
    // A command sent in the middle of a received line comes between its
    // pieces, and the rest of the line goes on after it; a marker ends it.
    const bool interrupted = m_open.has_value();
    if (m_open)
        finishPiece();
    m_continueNext = interrupted && kind == HistoryLine::Sent;
    if (newSession)
        m_lineEnds.reset();
    if ((m_segments.empty() || m_segments.back()->size() >= m_segmentSize) && !rotate())
        return;
    Segment &segment = *m_segments.back();
    if (segment.notes < 0)
        segment.notes = openFile(path(segment.number, "notes"));
    if (segment.notes < 0 || !writeAll(segment.notes, bytes.data(), bytes.size())) {
        const int err = errno;
        fail(err, path(segment.number, "notes"));
        return;
    }
    const Record record{stampOf(time, kind, 0), m_streamEnd, quint32(bytes.size()),
                        quint32(segment.notesSize)};
    segment.notesSize += bytes.size();
    ++m_nextLine;
    push(segment, record);
}

void HistoryLog::clear()
{
    std::lock_guard lock(m_mutex);
    for (const SegmentPtr &segment : m_segments)
        removeFiles(*segment);
    m_segments.clear();
    m_open.reset();
    m_openSegment = nullptr;
    m_continueNext = false;
    m_droppedBytes = 0;
    m_showDropped = false;
    ++m_generation;
    m_failed = false;
    m_failure.clear();
    prepareFolder();
}

void HistoryLog::close()
{
    // The names go; the open files stay readable for whoever still reads.
    std::lock_guard lock(m_mutex);
    for (const SegmentPtr &segment : m_segments)
        removeFiles(*segment);
    if (m_lock >= 0) {
        ::unlink(QFile::encodeName(m_prefix + QStringLiteral(".lock")).constData());
        ::close(m_lock);
        m_lock = -1;
    }
    m_failed = true; // nothing more is written
}

HistoryLog::SegmentPtr HistoryLog::segmentOfLine(qint64 number) const
{
    auto it = std::upper_bound(m_segments.begin(), m_segments.end(), number,
                               [](qint64 n, const SegmentPtr &s) { return n < s->firstLine; });
    if (it == m_segments.begin())
        return {};
    return *(it - 1);
}

HistoryLine HistoryLog::droppedMarker() const
{
    HistoryLine line;
    line.number = m_segments.empty() ? m_nextLine - 1 : m_segments.front()->firstLine - 1;
    line.time = m_droppedTime;
    line.pos = m_segments.empty() ? m_streamEnd : m_segments.front()->dataBegin;
    line.kind = HistoryLine::Marker;
    line.flags = HistoryLine::Dropped;
    return line;
}

qint64 HistoryLog::beginLine() const
{
    std::lock_guard lock(m_mutex);
    if (m_segments.empty())
        return m_nextLine;
    return m_segments.front()->firstLine - (m_showDropped ? 1 : 0);
}

qint64 HistoryLog::endLine() const
{
    std::lock_guard lock(m_mutex);
    return m_nextLine;
}

std::vector<HistoryLine> HistoryLog::lines(qint64 from, qint64 count) const
{
    std::vector<HistoryLine> out;
    // What to read, gathered under the lock; the files are read after it.
    struct Part {
        SegmentPtr segment;
        qint64 first;
        qint64 count;
    };
    std::vector<Part> parts;
    std::vector<Record> inMemory; // records of the tails and the growing piece, in order
    std::vector<qint64> memoryNumbers;
    {
        std::lock_guard lock(m_mutex);
        if (m_segments.empty())
            return out;
        const qint64 begin = m_segments.front()->firstLine;
        qint64 to = std::min(m_nextLine, from + count);
        if (m_showDropped && from == begin - 1 && to > from) {
            out.push_back(droppedMarker());
            ++from;
        }
        from = std::max(from, begin);
        for (auto it =
                 std::upper_bound(m_segments.begin(), m_segments.end(), from,
                                  [](qint64 n, const SegmentPtr &s) { return n < s->firstLine; }) -
                 1;
             it != m_segments.end() && from < to; ++it) {
            const Segment &s = **it;
            const qint64 inFile = std::min(to, s.firstLine + s.flushed);
            if (from < inFile) {
                parts.push_back({*it, from - s.firstLine, inFile - from});
                from = inFile;
            }
            const qint64 inTail = std::min(to, s.firstLine + s.lines);
            for (; from < inTail; ++from) {
                inMemory.push_back(s.tail[size_t(from - s.firstLine - s.flushed)]);
                memoryNumbers.push_back(from);
                parts.push_back({nullptr, from, 1});
            }
            if (m_open && from == m_openNumber && from < to && it->get() == m_openSegment) {
                inMemory.push_back(*m_open);
                memoryNumbers.push_back(from);
                parts.push_back({nullptr, from, 1});
                ++from;
            }
        }
    }
    std::vector<Record> records;
    size_t memory = 0;
    for (const Part &part : parts) {
        records.clear();
        qint64 first = part.first;
        if (part.segment) {
            if (!readRecords(part.segment, part.first, part.count, records))
                break;
            first += part.segment->firstLine;
        } else {
            records.push_back(inMemory[memory]);
            first = memoryNumbers[memory++];
        }
        for (const Record &r : records) {
            HistoryLine line;
            line.number = first++;
            line.time = qint64(r.stamp & TimeMask);
            line.flags = quint8(r.stamp >> 48);
            line.kind = HistoryLine::Kind(r.stamp >> 56);
            line.pos = r.pos;
            line.length = r.length;
            line.noteAt = r.noteAt;
            out.push_back(line);
        }
    }
    return out;
}

bool HistoryLog::readRecords(const SegmentPtr &segment, qint64 first, qint64 count,
                             std::vector<Record> &out) const
{
    out.resize(size_t(count));
    return readAll(segment->index, reinterpret_cast<char *>(out.data()), count * RecordSize,
                   first * RecordSize);
}

HistoryLine HistoryLog::line(qint64 number) const
{
    const std::vector<HistoryLine> one = lines(number, 1);
    return one.empty() ? HistoryLine() : one.front();
}

QByteArray HistoryLog::content(const HistoryLine &line) const
{
    if (line.kind == HistoryLine::Received)
        return readStream(line.pos, line.pos + line.length, true);
    if (line.flags & HistoryLine::Dropped) {
        const QLocale german(QLocale::German, QLocale::Germany);
        return QStringLiteral("Ältere Daten verworfen: %1 empfangen vor dem Beginn dieses Verlaufs")
            .arg(german.formattedDataSize(droppedBytes(), 1, QLocale::DataSizeSIFormat))
            .toUtf8();
    }
    SegmentPtr segment;
    {
        std::lock_guard lock(m_mutex);
        segment = segmentOfLine(line.number);
    }
    QByteArray bytes(line.length, Qt::Uninitialized);
    if (!segment || segment->notes < 0 ||
        !readAll(segment->notes, bytes.data(), bytes.size(), line.noteAt))
        return {};
    return bytes;
}

std::vector<QByteArray> HistoryLog::contents(const std::vector<HistoryLine> &lines) const
{
    qint64 from = -1, to = -1;
    for (const HistoryLine &l : lines) {
        if (l.kind == HistoryLine::Received) {
            if (from < 0)
                from = l.pos;
            to = l.pos + l.length;
        }
    }
    // Lines read a moment ago may have gone meanwhile: then they come empty.
    const QByteArray span = from < 0 ? QByteArray() : readStream(from, to, true);
    std::vector<QByteArray> out;
    out.reserve(lines.size());
    for (const HistoryLine &l : lines) {
        if (l.kind != HistoryLine::Received)
            out.push_back(content(l));
        else if (l.pos - from + l.length <= span.size())
            out.push_back(span.sliced(l.pos - from, l.length));
        else
            out.emplace_back();
    }
    return out;
}

QByteArray HistoryLog::received(qint64 from, qint64 to, qint64 *start) const
{
    return readStream(from, to, false, start);
}

QByteArray HistoryLog::readStream(qint64 from, qint64 to, bool whole, qint64 *start) const
{
    struct Part {
        SegmentPtr segment;
        qint64 at;
        qint64 size;
    };
    std::vector<Part> parts;
    {
        std::lock_guard lock(m_mutex);
        if (m_segments.empty())
            return {};
        if (whole && (from < m_segments.front()->dataBegin || to > m_streamEnd))
            return {};
        from = std::max(from, m_segments.front()->dataBegin);
        to = std::min(to, m_streamEnd);
        if (start)
            *start = from;
        for (const SegmentPtr &s : m_segments) {
            const qint64 a = std::max(from, s->dataBegin);
            const qint64 b = std::min(to, s->dataBegin + s->dataSize);
            if (a < b)
                parts.push_back({s, a - s->dataBegin, b - a});
        }
    }
    if (from >= to)
        return {};
    QByteArray bytes(to - from, Qt::Uninitialized);
    char *out = bytes.data();
    for (const Part &part : parts) {
        if (!readAll(part.segment->data, out, part.size, part.at))
            return {};
        out += part.size;
    }
    return bytes;
}

qint64 HistoryLog::receivedBegin() const
{
    std::lock_guard lock(m_mutex);
    return m_segments.empty() ? m_streamEnd : m_segments.front()->dataBegin;
}

qint64 HistoryLog::receivedEnd() const
{
    std::lock_guard lock(m_mutex);
    return m_streamEnd;
}

qint64 HistoryLog::lineAt(qint64 pos) const
{
    if (pos < receivedBegin() || pos >= receivedEnd())
        return -1;
    // The last line that starts at or before pos: positions never fall from
    // one line to the next.
    qint64 low = beginLine(), high = endLine();
    while (high - low > 1) {
        const qint64 mid = low + (high - low) / 2;
        if (line(mid).pos <= pos)
            low = mid;
        else
            high = mid;
    }
    // Sent lines and markers only sit between received ones.
    for (qint64 n = low; n >= beginLine();) {
        const qint64 from = std::max(beginLine(), n - 63);
        const std::vector<HistoryLine> batch = lines(from, n - from + 1);
        for (auto it = batch.rbegin(); it != batch.rend(); ++it) {
            if (it->kind == HistoryLine::Received)
                return it->number;
        }
        if (batch.empty())
            break;
        n = from - 1;
    }
    return -1;
}

qint64 HistoryLog::receivedEndOf(qint64 number) const
{
    const qint64 end = endLine();
    for (qint64 n = number + 1; n < end; n += 64) {
        for (const HistoryLine &l : lines(n, 64)) {
            if (l.kind == HistoryLine::Received)
                return l.pos;
        }
    }
    return receivedEnd();
}

bool HistoryLog::failed() const
{
    std::lock_guard lock(m_mutex);
    return m_failed;
}

QString HistoryLog::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

qint64 HistoryLog::droppedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_droppedBytes;
}

quint64 HistoryLog::generation() const
{
    std::lock_guard lock(m_mutex);
    return m_generation;
}

// ---------------------------------------------------------------------------

HistoryStore::HistoryStore(Options options, QObject *parent)
    : QObject(parent), m_clock(options.clock)
{
    m_log = std::make_shared<HistoryLog>(std::move(options));
    m_reportedFailure = m_log->failed();
}

HistoryStore::HistoryStore(const QString &folder, QObject *parent)
    : HistoryStore(Options{folder, qint64(1) << 30, 1024, {}}, parent)
{
}

HistoryStore::~HistoryStore()
{
    m_log->close();
}

QString HistoryStore::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/kavro");
}

template <class Write> void HistoryStore::guarded(Write write) noexcept
{
    try {
        write();
    } catch (...) {
        // Out of memory in the middle of it: the log stands as it was.
    }
    if (m_log->failed()) {
        if (!std::exchange(m_reportedFailure, true))
            Q_EMIT failedChanged(m_log->failure());
        return;
    }
    Q_EMIT grown();
}

void HistoryStore::appendReceived(QByteArrayView bytes) noexcept
{
    guarded([&] { m_log->appendReceived(bytes); });
}

void HistoryStore::appendSent(QByteArrayView bytes) noexcept
{
    guarded([&] { m_log->appendSent(bytes); });
}

void HistoryStore::appendMarker(const QString &text) noexcept
{
    guarded([&] { m_log->appendMarker(text); });
}

void HistoryStore::portOpened(int port, const QString &settings) noexcept
{
    guarded([&] {
        m_log->appendMarker(
            QStringLiteral("Com %1 geöffnet (%2), %3").arg(port).arg(settings, markerTime()), true);
    });
}

void HistoryStore::portClosed(int port) noexcept
{
    guarded([&] {
        m_log->appendMarker(QStringLiteral("Com %1 geschlossen, %2").arg(port).arg(markerTime()));
    });
}

QString HistoryStore::markerTime() const
{
    const qint64 now = m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
    return QDateTime::fromMSecsSinceEpoch(now).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

void HistoryStore::clear() noexcept
{
    try {
        m_log->clear();
    } catch (...) {
    }
    m_reportedFailure = m_log->failed();
    if (m_reportedFailure)
        Q_EMIT failedChanged(m_log->failure());
    Q_EMIT grown();
}
