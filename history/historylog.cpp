#include "historylog.h"

#include "kavroerror.h"
#include "markertext.h"
#include "segmentfiles.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>

namespace
{
constexpr qsizetype FlushEvery = 256; // index records gathered before one write
constexpr qint64 MaxNote = qint64(16) << 20;
} // namespace

HistoryLog::HistoryLog(Options options)
    : m_options(std::move(options)),
      m_segmentSize(std::clamp<qint64>(m_options.budget / 8, 1024, qint64(256) << 20)),
      m_cutter(m_options.pieceLength)
{
    static_assert(RecordSize == HistoryRecord::Size);
    prepareFolder();
}

HistoryLog::~HistoryLog()
{
    close();
}

qint64 HistoryLog::now() const
{
    return m_options.clock ? m_options.clock() : QDateTime::currentMSecsSinceEpoch();
}

bool HistoryLog::prepareFolder()
{
    FileFault fault;
    if (m_lock.take(m_options.folder, fault))
        return true;
    fail(fault);
    return false;
}

void HistoryLog::fail(const FileFault &fault)
{
    if (m_failed)
        return;
    m_failed = true;
    m_failure = QStringLiteral("%1 (%2)").arg(fileFailure(fault.err).description,
                                              QDir::toNativeSeparators(fault.path));
}

bool HistoryLog::rotate()
{
    FileFault fault;
    if (!m_segments.empty() && !m_segments.back()->flush(fault)) {
        fail(fault);
        return false;
    }
    auto segment =
        std::make_shared<SegmentFiles>(m_lock.prefix(), m_nextSegment++, m_streamEnd, m_nextLine);
    if (!segment->create(fault)) {
        fail(fault);
        return false;
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
        m_droppedBytes += front->dataSize();
        m_droppedTime = now();
        m_showDropped = true;
        ++m_generation;
        front->removeFiles();
        m_segments.pop_front();
    }
}

void HistoryLog::push(SegmentFiles &segment, const HistoryRecord &record)
{
    segment.add(record);
    FileFault fault;
    if ((&segment != m_segments.back().get() || segment.unwritten() >= FlushEvery) &&
        !segment.flush(fault))
        fail(fault);
}

void HistoryLog::pieceBegun(const PieceCutter::Piece &)
{
    m_openNumber = m_nextLine++;
    m_openTime = m_receivedTime;
    m_openSegment = m_segments.back().get();
}

void HistoryLog::pieceEnded(const PieceCutter::Piece &piece)
{
    push(*m_openSegment, HistoryRecord::of(m_openTime, HistoryLine::Received, piece.flags,
                                           piece.pos, piece.length));
    m_openSegment = nullptr;
}

void HistoryLog::appendReceived(QByteArrayView bytes)
{
    appendReceived(bytes, now());
}

void HistoryLog::appendReceived(QByteArrayView bytes, qint64 time)
{
    if (m_failed || bytes.isEmpty())
        return;
    std::lock_guard lock(m_mutex);
    m_receivedTime = time;
    // A large piece goes in parts: a part of short lines brings index records
    // of up to twelve times its size, and a segment should not outgrow its
    // size by much before the next one begins.
    const qsizetype part = qsizetype(m_segmentSize / 64);
    while (!bytes.isEmpty()) {
        if ((m_segments.empty() || m_segments.back()->size() >= m_segmentSize) && !rotate())
            return;
        const QByteArrayView piece = bytes.first(std::min(bytes.size(), part));
        bytes = bytes.sliced(piece.size());
        FileFault fault;
        if (!m_segments.back()->appendData(piece, fault)) {
            fail(fault);
            return;
        }
        const qint64 base = m_streamEnd;
        m_streamEnd += piece.size();
        m_cutter.feed(piece.data(), piece.size(), base, *this);
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

void HistoryLog::appendRemark(const QString &text)
{
    appendNote(HistoryLine::Marker, text.toUtf8(), false, HistoryLine::Remark);
}

void HistoryLog::appendNote(HistoryLine::Kind kind, QByteArrayView bytes, bool newSession,
                            quint8 flags)
{
    if (m_failed)
        return;
    const qint64 time = now();
    std::lock_guard lock(m_mutex);
    // A command sent in the middle of a received line comes between its
    // pieces, and the rest of the line goes on after it; a marker ends it.
    m_cutter.interrupt(kind == HistoryLine::Sent || (flags & HistoryLine::Remark), *this);
    if (newSession)
        m_cutter.newSession();
    if ((m_segments.empty() || m_segments.back()->size() >= m_segmentSize) && !rotate())
        return;
    SegmentFiles &segment = *m_segments.back();
    qint64 at = 0;
    FileFault fault;
    if (!segment.appendNote(bytes, at, fault)) {
        fail(fault);
        return;
    }
    ++m_nextLine;
    push(segment, HistoryRecord::of(time, kind, flags, m_streamEnd, bytes.size(), at));
}

void HistoryLog::clear()
{
    std::lock_guard lock(m_mutex);
    for (const SegmentPtr &segment : m_segments)
        segment->removeFiles();
    m_segments.clear();
    m_cutter.drop();
    m_openSegment = nullptr;
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
        segment->removeFiles();
    m_lock.release();
    m_failed = true; // nothing more is written
}

HistoryLog::SegmentPtr HistoryLog::segmentOfLine(qint64 number) const
{
    auto it = std::upper_bound(m_segments.begin(), m_segments.end(), number,
                               [](qint64 n, const SegmentPtr &s) { return n < s->firstLine(); });
    if (it == m_segments.begin())
        return {};
    return *(it - 1);
}

HistoryLine HistoryLog::droppedMarker() const
{
    HistoryLine line;
    line.number = m_segments.empty() ? m_nextLine - 1 : m_segments.front()->firstLine() - 1;
    line.time = m_droppedTime;
    line.pos = m_segments.empty() ? m_streamEnd : m_segments.front()->dataBegin();
    line.kind = HistoryLine::Marker;
    line.flags = HistoryLine::Dropped;
    return line;
}

qint64 HistoryLog::beginLine() const
{
    std::lock_guard lock(m_mutex);
    if (m_segments.empty())
        return m_nextLine;
    return m_segments.front()->firstLine() - (m_showDropped ? 1 : 0);
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
    std::vector<HistoryRecord> inMemory; // records of the tails and the growing piece, in order
    std::vector<qint64> memoryNumbers;
    {
        std::lock_guard lock(m_mutex);
        if (m_segments.empty())
            return out;
        const qint64 begin = m_segments.front()->firstLine();
        qint64 to = std::min(m_nextLine, from + count);
        if (m_showDropped && from == begin - 1 && to > from) {
            out.push_back(droppedMarker());
            ++from;
        }
        from = std::max(from, begin);
        for (auto it = std::upper_bound(
                           m_segments.begin(), m_segments.end(), from,
                           [](qint64 n, const SegmentPtr &s) { return n < s->firstLine(); }) -
                       1;
             it != m_segments.end() && from < to; ++it) {
            const SegmentFiles &s = **it;
            const qint64 inFile = std::min(to, s.firstLine() + s.flushed());
            if (from < inFile) {
                parts.push_back({*it, from - s.firstLine(), inFile - from});
                from = inFile;
            }
            const qint64 inTail = std::min(to, s.firstLine() + s.lines());
            for (; from < inTail; ++from) {
                inMemory.push_back(s.unwrittenRecord(from - s.firstLine()));
                memoryNumbers.push_back(from);
                parts.push_back({nullptr, from, 1});
            }
            const std::optional<PieceCutter::Piece> &open = m_cutter.growing();
            if (open && from == m_openNumber && from < to && it->get() == m_openSegment) {
                inMemory.push_back(HistoryRecord::of(m_openTime, HistoryLine::Received, open->flags,
                                                     open->pos, open->length));
                memoryNumbers.push_back(from);
                parts.push_back({nullptr, from, 1});
                ++from;
            }
        }
    }
    std::vector<HistoryRecord> records;
    size_t memory = 0;
    for (const Part &part : parts) {
        records.clear();
        qint64 first = part.first;
        if (part.segment) {
            if (!part.segment->readRecords(part.first, part.count, records))
                break;
            first += part.segment->firstLine();
        } else {
            records.push_back(inMemory[memory]);
            first = memoryNumbers[memory++];
        }
        for (const HistoryRecord &r : records)
            out.push_back(r.line(first++));
    }
    return out;
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
        return MarkerText::dropped(droppedBytes()).toUtf8();
    }
    SegmentPtr segment;
    {
        std::lock_guard lock(m_mutex);
        segment = segmentOfLine(line.number);
    }
    QByteArray bytes(line.length, Qt::Uninitialized);
    if (!segment || !segment->readNote(bytes.data(), line.noteAt, bytes.size()))
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
        if (whole && (from < m_segments.front()->dataBegin() || to > m_streamEnd))
            return {};
        from = std::max(from, m_segments.front()->dataBegin());
        to = std::min(to, m_streamEnd);
        if (start)
            *start = from;
        for (const SegmentPtr &s : m_segments) {
            const qint64 a = std::max(from, s->dataBegin());
            const qint64 b = std::min(to, s->dataBegin() + s->dataSize());
            if (a < b)
                parts.push_back({s, a - s->dataBegin(), b - a});
        }
    }
    if (from >= to)
        return {};
    QByteArray bytes(to - from, Qt::Uninitialized);
    char *out = bytes.data();
    for (const Part &part : parts) {
        if (!part.segment->readData(out, part.at, part.size))
            return {};
        out += part.size;
    }
    return bytes;
}

qint64 HistoryLog::receivedBegin() const
{
    std::lock_guard lock(m_mutex);
    return m_segments.empty() ? m_streamEnd : m_segments.front()->dataBegin();
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
