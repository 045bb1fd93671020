#include "historysearch.h"

#include "bytefilter.h"
#include "textscan.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace
{

constexpr qint64 LinesPerRead = 4096;
constexpr qint64 BytesPerRead = qint64(1) << 20;

bool before(const SearchHit &a, const SearchHit &b, bool hex)
{
    if (hex)
        return a.pos < b.pos;
    return a.line != b.line ? a.line < b.line : a.offset < b.offset;
}

// Marks each received line of a batch that holds a place `find` gives
// (`length` bytes from it, all within the line). `find` answers the next
// place in the batch's bytes from an offset on, or -1; after a line is
// marked it goes on from that line's end.
template <class Find>
void markLines(const std::vector<HistoryLine> &batch, qint64 spanFrom, qsizetype length,
               quint8 mark, std::vector<quint8> &marks, Find find)
{
    size_t i = 0;
    for (qsizetype at = find(0); at >= 0;) {
        while (i < batch.size() && (batch[i].kind != HistoryLine::Received ||
                                    batch[i].pos - spanFrom + batch[i].length <= at))
            ++i;
        if (i == batch.size())
            return;
        const qsizetype begin = batch[i].pos - spanFrom, end = begin + batch[i].length;
        if (at >= begin && at + length <= end) {
            marks[i] |= mark;
            at = find(end);
        } else {
            at = find(at + 1);
        }
    }
}

} // namespace

std::optional<QByteArray> SearchPattern::hexBytes(const QString &text)
{
    QByteArray digits;
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        if (!std::isxdigit(c.unicode() < 0x80 ? c.unicode() : 0))
            return std::nullopt;
        digits.append(char(c.unicode()));
    }
    if (digits.isEmpty() || digits.size() % 2 != 0)
        return std::nullopt;
    return QByteArray::fromHex(digits);
}

HistorySearch::HistorySearch(std::shared_ptr<const HistoryLog> log, SearchPattern pattern,
                             TextReading reading)
    : m_log(std::move(log)), m_pattern(std::move(pattern)), m_reading(reading)
{
}

bool HistorySearch::scan(qint64 from, qint64 to,
                         const std::function<bool(const SearchHit &)> &onHit,
                         const Progress &progress) const
{
    from = std::max(from, m_log->beginLine());
    to = std::min(to, m_log->endLine());
    if (m_pattern.isEmpty() || from >= to)
        return true;
    return m_pattern.mode == SearchPattern::Text ? scanText(from, to, onHit, progress)
                                                 : scanBytes(from, to, onHit, progress);
}

bool HistorySearch::scanText(qint64 from, qint64 to,
                             const std::function<bool(const SearchHit &)> &onHit,
                             const Progress &progress) const
{
    const Qt::CaseSensitivity cs =
        m_pattern.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const ByteFilter filter(m_pattern.text, cs, m_pattern.decode);
    const bool byBytes = m_reading == TextReading::BytesFirst && filter.usable();
    TextScan scan(m_pattern, from, onHit);
    std::vector<quint8> marks;
    QByteArray buffer;
    // One line earlier, for a hit that begins there and ends in `from`.
    const qint64 start = std::max(m_log->beginLine(), from - 1);
    for (qint64 n = start; n < to;) {
        const std::vector<HistoryLine> batch = m_log->lines(n, std::min(LinesPerRead, to - n));
        if (batch.empty())
            return true;
        // The received lines of a batch lie one after another in the stream:
        // their bytes are read in one go. Lines read a moment ago may have
        // gone meanwhile: then they come empty.
        qint64 spanFrom = -1, spanTo = -1;
        for (const HistoryLine &line : batch) {
            if (line.kind == HistoryLine::Received) {
                spanFrom = spanFrom < 0 ? line.pos : spanFrom;
                spanTo = line.pos + line.length;
            }
        }
        qint64 readFrom = spanFrom;
        QByteArray span =
            spanFrom < 0 ? QByteArray() : m_log->received(spanFrom, spanTo, &readFrom);
        if (readFrom != spanFrom || span.size() != spanTo - spanFrom)
            span.clear();
        marks.assign(batch.size(), 0);
        // A pattern that only bytes above 127 can show has nothing to look
        // for in a batch without them.
        const bool beyondAscii = filter.needsBeyondAscii();
        if (byBytes && !span.isEmpty() &&
            (!beyondAscii || ByteFilter::findBeyondAscii(span, 0) >= 0)) {
            markLines(batch, spanFrom, filter.runLength(), ByteFilter::HoldsRun, marks,
                      [&](qsizetype at) { return filter.findRun(span, at); });
            for (const QByteArray &spelling : filter.otherSpellings()) {
                markLines(batch, spanFrom, spelling.size(), ByteFilter::OtherSpelling, marks,
                          [&](qsizetype at) { return filter.find(span, at, spelling); });
            }
            if (beyondAscii) {
                markLines(batch, spanFrom, 1, ByteFilter::BeyondAscii, marks,
                          [&](qsizetype at) { return ByteFilter::findBeyondAscii(span, at); });
            }
            if (filter.hides()) {
                markLines(batch, spanFrom, 1, ByteFilter::HasEsc, marks, [&](qsizetype at) {
                    const void *esc =
                        std::memchr(span.constData() + at, 0x1b, size_t(span.size() - at));
                    return esc ? static_cast<const char *>(esc) - span.constData() : -1;
                });
            }
        }
        // Decoded: every line when the bytes cannot tell, and a piece that
        // goes on from the one before (a hit may span the cut).
        auto reading = [&](size_t i, QByteArrayView bytes) {
            if (!byBytes || batch[i].continued())
                return ByteFilter::Decoded;
            // Otherwise whether a line is ASCII only matters for one that
            // holds the run: it is asked of that line alone.
            quint8 mark = marks[i];
            if (!beyondAscii && (mark & ByteFilter::HoldsRun) &&
                ByteFilter::findBeyondAscii(bytes, 0) >= 0)
                mark |= ByteFilter::BeyondAscii;
            return filter.reading(bytes, mark, buffer);
        };
        for (size_t i = 0; i < batch.size(); ++i) {
            const HistoryLine &line = batch[i];
            n = line.number + 1;
            // A hidden command leaves the piece before it to join the one after.
            if (line.kind == HistoryLine::Sent && !m_pattern.sentLines)
                continue;
            if (line.kind != HistoryLine::Received) {
                if (!scan.take(line, m_log->content(line)))
                    return true;
                continue;
            }
            const qsizetype at = span.isEmpty() ? 0 : line.pos - spanFrom;
            const QByteArrayView bytes =
                QByteArrayView(span).sliced(at, span.isEmpty() ? 0 : line.length);
            switch (reading(i, bytes)) {
            case ByteFilter::NotAtAll:
                scan.pass(line, bytes);
                break;
            case ByteFilter::InBytes:
                if (!scan.takeBytes(line, bytes, filter))
                    return true;
                break;
            case ByteFilter::Decoded:
                if (!scan.take(line, bytes))
                    return true;
                break;
            }
        }
        scan.keepPending();
        if (progress && !progress(double(n - start) / double(to - start)))
            return false;
    }
    return true;
}

bool HistorySearch::scanBytes(qint64 from, qint64 to,
                              const std::function<bool(const SearchHit &)> &onHit,
                              const Progress &progress) const
{
    const QByteArray &needle = m_pattern.bytes;
    const qint64 m = needle.size();
    // The stream from the first received line of the range to the first
    // after it: line ends included, so a hit may span them.
    qint64 fromPos = -1;
    for (qint64 n = from; n < to && fromPos < 0; n += 64) {
        for (const HistoryLine &l : m_log->lines(n, std::min<qint64>(64, to - n))) {
            if (l.kind == HistoryLine::Received) {
                fromPos = l.pos;
                break;
            }
        }
    }
    if (fromPos < 0)
        return true;
    const qint64 toPos = m_log->receivedEndOf(to - 1);
    const qint64 streamEnd = m_log->receivedEnd();
    for (qint64 p = fromPos; p < toPos;) {
        const qint64 chunkEnd = std::min(toPos, p + BytesPerRead);
        // m - 1 bytes more, for a hit that begins before the chunk's end.
        qint64 start = p;
        const QByteArray data = m_log->received(p, std::min(streamEnd, chunkEnd + m - 1), &start);
        if (data.isEmpty())
            return true;
        if (start != p) { // older bytes went meanwhile: go on where the kept ones begin
            p = start;
            continue;
        }
        qint64 next = chunkEnd;
        for (qint64 k = 0; k < chunkEnd - p;) {
            const void *found = ::memmem(data.constData() + k, size_t(data.size() - k),
                                         needle.constData(), size_t(m));
            if (!found)
                break;
            const qint64 at = static_cast<const char *>(found) - data.constData();
            if (at >= chunkEnd - p)
                break;
            SearchHit hit;
            hit.pos = p + at;
            hit.length = m;
            if (!onHit(hit))
                return true;
            k = at + m;
            next = std::max(next, p + k);
        }
        p = next;
        if (progress && !progress(double(p - fromPos) / double(toPos - fromPos)))
            return false;
    }
    return true;
}

qint64 HistorySearch::count(qint64 from, qint64 to, const Progress &progress) const
{
    qint64 hits = 0;
    if (!scan(
            from, to, [&hits](const SearchHit &) { return ++hits, true; }, progress))
        return -1;
    return hits;
}

std::vector<SearchHit> HistorySearch::hitsIn(qint64 from, qint64 to) const
{
    std::vector<SearchHit> hits;
    scan(from, to, [&hits](const SearchHit &hit) {
        hits.push_back(hit);
        return hits.size() < 100000;
    });
    return hits;
}

SearchHit HistorySearch::located(SearchHit hit) const
{
    if (hit.line < 0 && hit.pos >= 0) {
        hit.line = m_log->lineAt(hit.pos);
        hit.offset = hit.pos - m_log->line(hit.line).pos;
    }
    return hit;
}

std::optional<SearchHit> HistorySearch::next(const SearchHit &from, bool forward,
                                             const Progress &progress) const
{
    const bool hex = m_pattern.mode == SearchPattern::Hex;
    const qint64 begin = m_log->beginLine();
    const qint64 end = m_log->endLine();
    SearchHit here = from;
    if (hex && here.pos < 0)
        here.pos = here.line < begin ? -1 : m_log->line(std::min(here.line, end - 1)).pos;
    const qint64 startLine = std::clamp(hex && here.pos >= 0 ? m_log->lineAt(here.pos) : here.line,
                                        begin, std::max(begin, end - 1));
    // Forward: from the line of the place to the end, then from the start
    // (the search goes round). Backward the same way down, in blocks whose
    // last hit before the place is the one.
    const double total = double(std::max<qint64>(1, end - begin));
    double done = 0;
    auto share = [&](qint64 lines) {
        return [&, lines](double part) {
            return !progress || progress((done + part * double(lines)) / total);
        };
    };
    std::optional<SearchHit> found;
    if (forward) {
        // Round again from the start up to the first hit there is: a hit is
        // found where it ends, and one that begins at the place may end in a
        // piece after a hidden command, beyond the place's line.
        for (const bool wrapped : {false, true}) {
            const qint64 a = wrapped ? begin : startLine;
            const qint64 b = end;
            if (!scan(
                    a, b,
                    [&](const SearchHit &hit) {
                        if (!wrapped && !before(here, hit, hex))
                            return true;
                        found = hit;
                        return false;
                    },
                    share(b - a)))
                return std::nullopt;
            if (found)
                return located(*found);
            done += double(b - a);
        }
        return std::nullopt;
    }
    qint64 block = 256;
    for (qint64 b = startLine + 1, round = 0; round < 2; ++round, b = end) {
        const qint64 stop = round == 0 ? begin : startLine;
        for (qint64 a; b > stop; b = a) {
            a = std::max(stop, b - block);
            block = std::min<qint64>(block * 2, LinesPerRead * 16);
            if (!scan(
                    a, b,
                    [&](const SearchHit &hit) {
                        if (round == 0 && !before(hit, here, hex))
                            return false;
                        found = hit;
                        return true;
                    },
                    share(b - a)))
                return std::nullopt;
            if (found)
                return located(*found);
            done += double(b - a);
        }
    }
    return std::nullopt;
}
