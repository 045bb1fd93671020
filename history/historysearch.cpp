#include "historysearch.h"

#include <QStringMatcher>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace
{

constexpr qint64 LinesPerRead = 4096;
constexpr qint64 BytesPerRead = qint64(1) << 20;

// Each character's first byte in the UTF-8 of a marker's text.
void utf8Offsets(const QString &text, std::vector<int> &byteOf)
{
    byteOf.clear();
    int at = 0;
    for (const QChar c : text) {
        byteOf.push_back(at);
        at += c.unicode() < 0x80 ? 1 : c.unicode() < 0x800 ? 2 : c.isSurrogate() ? 2 : 3;
    }
}

bool before(const SearchHit &a, const SearchHit &b, bool hex)
{
    if (hex)
        return a.pos < b.pos;
    return a.line != b.line ? a.line < b.line : a.offset < b.offset;
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

HistorySearch::HistorySearch(std::shared_ptr<const HistoryLog> log, SearchPattern pattern)
    : m_log(std::move(log)), m_pattern(std::move(pattern))
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
    const QStringMatcher matcher(m_pattern.text,
                                 m_pattern.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
    const qsizetype m = m_pattern.text.size();
    // What is left of the piece before: its last characters, after its last
    // hit, that a hit across the cut can begin with.
    struct Carry {
        QString text;
        std::vector<int> byteOf;
        qint64 line = -1;
        qint64 length = 0;
    } carry;
    QString text, combined;
    std::vector<int> byteOf;
    // One line earlier, for a hit that begins there and ends in `from`.
    const qint64 start = std::max(m_log->beginLine(), from - 1);
    for (qint64 n = start; n < to;) {
        const std::vector<HistoryLine> batch = m_log->lines(n, std::min(LinesPerRead, to - n));
        if (batch.empty())
            return true;
        const std::vector<QByteArray> contents = m_log->contents(batch);
        for (size_t i = 0; i < batch.size(); ++i) {
            const HistoryLine &line = batch[i];
            n = line.number + 1;
            // A hidden command leaves the piece before it to join the one after.
            if (line.kind == HistoryLine::Sent && !m_pattern.sentLines)
                continue;
            const QByteArray &bytes = contents[i];
            if (line.kind == HistoryLine::Marker) {
                text = QString::fromUtf8(bytes);
                utf8Offsets(text, byteOf);
            } else {
                shownText(bytes, m_pattern.decode, text, &byteOf);
            }
            const bool joins = line.continued() && carry.line >= 0;
            const qsizetype prefix = joins ? carry.text.size() : 0;
            if (joins) {
                combined = carry.text;
                combined += text;
            }
            const QString &where = joins ? combined : text;
            auto byteAt = [&](qsizetype i) {
                return i >= text.size() ? qint64(bytes.size()) : qint64(byteOf[size_t(i)]);
            };
            qsizetype at = 0;
            for (qsizetype k; (k = matcher.indexIn(where, at)) >= 0; at = k + m) {
                SearchHit hit;
                const qint64 end = byteAt(k + m - prefix);
                if (k < prefix) {
                    hit.line = carry.line;
                    hit.offset = carry.byteOf[size_t(k)];
                    hit.length = carry.length - hit.offset + end;
                } else {
                    hit.line = line.number;
                    hit.offset = byteAt(k - prefix);
                    hit.length = end - hit.offset;
                }
                if (line.kind == HistoryLine::Received)
                    hit.pos = (k < prefix ? line.pos - carry.length : line.pos) + hit.offset;
                if (line.number >= from && !onHit(hit))
                    return true;
            }
            carry.line = -1;
            if (line.kind == HistoryLine::Received && m > 1) {
                const qsizetype keep = std::max({at - prefix, text.size() - (m - 1), qsizetype(0)});
                carry.text = text.sliced(keep);
                carry.byteOf.assign(byteOf.begin() + keep, byteOf.end());
                carry.line = line.number;
                carry.length = bytes.size();
            }
        }
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
