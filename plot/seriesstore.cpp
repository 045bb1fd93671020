#include "seriesstore.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

constexpr double Powers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
constexpr int MostDecimals = 9;

// The value as a whole number times 10^-decimals, exactly; false when it is
// not one or does not fit.
bool asFixed(double value, int decimals, qint32 &out)
{
    const double scaled = value * Powers[decimals];
    if (!(std::fabs(scaled) <= double(std::numeric_limits<qint32>::max())))
        return false;
    const qint32 whole = qint32(std::llround(scaled));
    if (double(whole) / Powers[decimals] != value)
        return false;
    out = whole;
    return true;
}

} // namespace

SeriesStore::SeriesStore(qint64 budget) : m_budget(budget)
{
}

qint64 SeriesStore::addRow(qint64 time)
{
    // A chunk's times are kept as 32-bit steps from its first; a time that
    // does not fit (a clock set back or weeks between two lines) begins a
    // chunk of its own.
    const auto fits = [&](const RowChunk &c) {
        const qint64 offset = time - c.base;
        return c.count < ChunkSize && offset >= std::numeric_limits<qint32>::min() &&
               offset <= std::numeric_limits<qint32>::max();
    };
    if (m_rowChunks.empty() || !fits(m_rowChunks.back())) {
        RowChunk chunk;
        chunk.firstRow = m_rowCount;
        chunk.base = time;
        m_rowChunks.push_back(std::move(chunk));
    }
    RowChunk &c = m_rowChunks.back();
    c.offsets.push_back(qint32(time - c.base));
    ++c.count;
    m_bytes += qint64(sizeof(qint32));
    return m_rowCount++;
}

const SeriesStore::RowChunk &SeriesStore::rowChunkOf(qint64 row) const
{
    auto it = std::upper_bound(m_rowChunks.begin(), m_rowChunks.end(), row,
                               [](qint64 r, const RowChunk &c) { return r < c.firstRow; });
    return *(it - 1);
}

qint64 SeriesStore::timeOf(qint64 row) const
{
    const RowChunk &c = rowChunkOf(row);
    const qint64 at = row - c.firstRow;
    return c.base + (c.folded ? c.offsets[size_t(at / BlockSize)] : c.offsets[size_t(at)]);
}

qint64 SeriesStore::rowAt(qint64 time) const
{
    // The chunks' times rise, as the rows' do within them (a clock set back
    // leaves a step down that the search passes over).
    auto it = std::partition_point(m_rowChunks.begin(), m_rowChunks.end(), [&](const RowChunk &c) {
        const qint64 last = c.base + c.offsets.back();
        return last < time;
    });
    if (it == m_rowChunks.end())
        return m_rowCount;
    const RowChunk &c = *it;
    const auto at = std::partition_point(c.offsets.begin(), c.offsets.end(),
                                         [&](qint32 o) { return c.base + o < time; }) -
                    c.offsets.begin();
    if (!c.folded)
        return c.firstRow + at;
    // Within a folded chunk: the first row of the 64 that may hold it.
    return c.firstRow + std::max<qint64>(at - 1, 0) * BlockSize;
}

int SeriesStore::addSeries(const QString &name)
{
    m_series.push_back(Series{name, {}, {}, {}, 0, 0});
    return int(m_series.size()) - 1;
}

int SeriesStore::find(const QString &name) const
{
    for (size_t i = 0; i < m_series.size(); ++i) {
        if (m_series[i].name == name)
            return int(i);
    }
    return -1;
}

double SeriesStore::decode(const Chunk &chunk, int at)
{
    return chunk.decimals < 0 ? chunk.doubles[size_t(at)]
                              : double(chunk.fixed[size_t(at)]) / Powers[chunk.decimals];
}

void SeriesStore::encode(Chunk &chunk, double value)
{
    qint32 whole = 0;
    if (chunk.decimals >= 0) {
        if (asFixed(value, chunk.decimals, whole)) {
            chunk.fixed.push_back(whole);
            return;
        }
        // More decimals, when those before still fit.
        for (int d = chunk.decimals + 1; d <= MostDecimals; ++d) {
            if (!asFixed(value, d, whole))
                continue;
            const double scale = Powers[d - chunk.decimals];
            const bool room =
                std::all_of(chunk.fixed.begin(), chunk.fixed.end(), [scale](qint32 v) {
                    return std::fabs(double(v) * scale) <=
                           double(std::numeric_limits<qint32>::max());
                });
            if (!room)
                break;
            for (qint32 &v : chunk.fixed)
                v = qint32(double(v) * scale);
            chunk.decimals = qint8(d);
            chunk.fixed.push_back(whole);
            return;
        }
        // The chunk goes over to doubles.
        chunk.doubles.reserve(chunk.fixed.capacity());
        for (const qint32 v : chunk.fixed)
            chunk.doubles.push_back(double(v) / Powers[chunk.decimals]);
        std::vector<qint32>().swap(chunk.fixed);
        chunk.decimals = -1;
    }
    chunk.doubles.push_back(value);
}

qint64 SeriesStore::chunkBytes(const Chunk &chunk) const
{
    return qint64(chunk.fixed.size()) * 4 + qint64(chunk.doubles.size()) * 8 +
           qint64(chunk.rows.size()) * 8;
}

void SeriesStore::append(int series, double value)
{
    Series &s = m_series[size_t(series)];
    const qint64 row = m_rowCount - 1;
    if (s.chunks.empty() || s.chunks.back().count == ChunkSize) {
        Chunk chunk;
        chunk.firstRow = chunk.lastRow = row;
        s.chunks.push_back(std::move(chunk));
    }
    Chunk &c = s.chunks.back();
    const qint64 before = chunkBytes(c);
    if (c.count > 0 && c.rows.empty() && row != c.lastRow + 1) {
        // A gap: from here on the chunk keeps each point's row.
        c.rows.reserve(size_t(ChunkSize));
        for (qint64 r = c.firstRow; r <= c.lastRow; ++r)
            c.rows.push_back(r);
    }
    if (!c.rows.empty())
        c.rows.push_back(row);
    c.lastRow = row;
    encode(c, value);
    ++c.count;
    c.range.add(value);
    const qint64 point = s.count++;
    if (size_t(point / BlockSize) == s.blocks.size())
        s.blocks.emplace_back();
    s.blocks.back().add(value);
    if (size_t(point / GroupSize) == s.groups.size())
        s.groups.emplace_back();
    s.groups.back().add(value);
    m_bytes += chunkBytes(c) - before;
    if (point % BlockSize == 0)
        m_bytes += qint64(sizeof(Range));
    while (m_bytes > m_budget && [&] {
        const qint64 was = m_bytes;
        foldOldest();
        return m_bytes < was;
    }())
        ;
}

void SeriesStore::foldOldest()
{
    // The oldest chunk that is full, of any series.
    Series *oldest = nullptr;
    for (Series &s : m_series) {
        if (s.folded + 1 >= qint64(s.chunks.size()))
            continue; // only the growing chunk left
        if (!oldest ||
            s.chunks[size_t(s.folded)].firstRow < oldest->chunks[size_t(oldest->folded)].firstRow)
            oldest = &s;
    }
    if (!oldest)
        return;
    Chunk &c = oldest->chunks[size_t(oldest->folded++)];
    m_bytes -= chunkBytes(c);
    if (!c.rows.empty()) {
        std::vector<qint64> firsts;
        for (size_t i = 0; i < c.rows.size(); i += BlockSize)
            firsts.push_back(c.rows[i]);
        c.rows.swap(firsts);
    }
    std::vector<qint32>().swap(c.fixed);
    std::vector<double>().swap(c.doubles);
    c.folded = true;
    m_bytes += chunkBytes(c);

    // Rows whose every point is folded keep every 64th time.
    qint64 exactFrom = m_rowCount;
    for (const Series &s : m_series) {
        if (s.folded < qint64(s.chunks.size()))
            exactFrom = std::min(exactFrom, s.chunks[size_t(s.folded)].firstRow);
    }
    for (RowChunk &r : m_rowChunks) {
        if (r.folded)
            continue;
        if (&r == &m_rowChunks.back() || r.firstRow + r.count > exactFrom)
            break;
        std::vector<qint32> firsts;
        for (size_t i = 0; i < r.offsets.size(); i += BlockSize)
            firsts.push_back(r.offsets[i]);
        m_bytes -= qint64(r.offsets.size() - firsts.size()) * qint64(sizeof(qint32));
        r.offsets.swap(firsts);
        r.folded = true;
        m_foldedRows = r.firstRow + r.count;
    }
}

qint64 SeriesStore::pointAtRow(int series, qint64 row) const
{
    const Series &s = m_series[size_t(series)];
    auto it = std::partition_point(s.chunks.begin(), s.chunks.end(),
                                   [row](const Chunk &c) { return c.lastRow < row; });
    if (it == s.chunks.end())
        return s.count;
    const Chunk &c = *it;
    const qint64 first = qint64(it - s.chunks.begin()) * ChunkSize;
    if (row <= c.firstRow)
        return first;
    if (c.rows.empty()) {
        // Folded or not, the rows follow one another.
        return first + (row - c.firstRow);
    }
    const qint64 at = std::lower_bound(c.rows.begin(), c.rows.end(), row) - c.rows.begin();
    if (!c.folded)
        return first + at;
    return first + std::max<qint64>(at - 1, 0) * BlockSize;
}

qint64 SeriesStore::rowOf(int series, qint64 point) const
{
    const Chunk &c = m_series[size_t(series)].chunks[size_t(point / ChunkSize)];
    const qint64 at = point % ChunkSize;
    if (c.rows.empty())
        return c.firstRow + at;
    return c.folded ? c.rows[size_t(at / BlockSize)] : c.rows[size_t(at)];
}

std::optional<double> SeriesStore::value(int series, qint64 point) const
{
    const Chunk &c = m_series[size_t(series)].chunks[size_t(point / ChunkSize)];
    if (c.folded)
        return std::nullopt;
    return decode(c, int(point % ChunkSize));
}

SeriesStore::Range SeriesStore::range(int series, qint64 from, qint64 to) const
{
    const Series &s = m_series[size_t(series)];
    Range r;
    from = std::max<qint64>(from, 0);
    to = std::min(to, s.count);
    qint64 p = from;
    while (p < to) {
        if (p % GroupSize == 0 && p + GroupSize <= to) {
            r.add(s.groups[size_t(p / GroupSize)]);
            p += GroupSize;
            continue;
        }
        const Chunk &c = s.chunks[size_t(p / ChunkSize)];
        if (p % ChunkSize == 0 && p + ChunkSize <= to) {
            r.add(c.range);
            p += ChunkSize;
            continue;
        }
        if (c.folded || (p % BlockSize == 0 && p + BlockSize <= to)) {
            r.add(s.blocks[size_t(p / BlockSize)]);
            p = (p / BlockSize + 1) * BlockSize;
            continue;
        }
        // Single points up to the next 64, within this chunk.
        const qint64 stop = std::min(to, (p / BlockSize + 1) * BlockSize);
        const int base = int(p % ChunkSize);
        const int n = int(stop - p);
        if (c.decimals < 0) {
            for (int i = 0; i < n; ++i)
                r.add(c.doubles[size_t(base + i)]);
        } else {
            qint32 lo = c.fixed[size_t(base)], hi = lo;
            for (int i = 1; i < n; ++i) {
                lo = std::min(lo, c.fixed[size_t(base + i)]);
                hi = std::max(hi, c.fixed[size_t(base + i)]);
            }
            r.add(double(lo) / Powers[c.decimals]);
            r.add(double(hi) / Powers[c.decimals]);
        }
        p = stop;
    }
    return r;
}
