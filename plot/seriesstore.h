#pragma once

#include <QString>

#include <limits>
#include <optional>
#include <vector>

// Every point plotted since the start, for as long as the program runs: one
// row per plotted line with its time, and for each series its values at the
// rows it has one.
//
// A series keeps its values in chunks of 4096 points, as whole numbers times
// a power of ten where the values allow it exactly (4 bytes a point: what
// devices print, such as 21.53, is that), else as doubles; a row's time takes
// 4 bytes. Beside them each series keeps the smallest and largest value of
// every 64 points, of every chunk and of every 64 chunks, so a frame asks
// for the span of any stretch of points at the cost of a few hundred steps,
// however many points it holds.
//
// Memory is bounded: while the values take more than the budget, the oldest
// chunks are folded, that is only their spans of 64 points remain (about a
// sixteenth of their size); a frame still draws them, a saved file leaves
// them out.
class SeriesStore
{
public:
    static constexpr int BlockSize = 64;
    static constexpr int ChunkSize = 4096;
    static constexpr qint64 GroupSize = qint64(ChunkSize) * 64;
    static constexpr qint64 DefaultBudget = qint64(128) << 20;
    // A series' name as numbered series get them.
    struct Range {
        double min = std::numeric_limits<double>::infinity();
        double max = -std::numeric_limits<double>::infinity();
        bool isEmpty() const { return min > max; }
        void add(double v)
        {
            min = v < min ? v : min;
            max = v > max ? v : max;
        }
        void add(const Range &r)
        {
            min = r.min < min ? r.min : min;
            max = r.max > max ? r.max : max;
        }
    };

    explicit SeriesStore(qint64 budget = DefaultBudget);

    // Rows, numbered from 0: one per plotted line, with the time of its
    // first byte (msecs since the epoch).
    qint64 addRow(qint64 time);
    qint64 rows() const { return m_rowCount; }
    // A folded row's time is that of the first row of its 64.
    qint64 timeOf(qint64 row) const;
    // The first row whose time is at least `time`; rows() when none.
    qint64 rowAt(qint64 time) const;

    // Series, numbered from 0 in the order they came.
    int seriesCount() const { return int(m_series.size()); }
    int addSeries(const QString &name);
    // -1 when there is none of that name.
    int find(const QString &name) const;
    const QString &name(int series) const { return m_series[size_t(series)].name; }
    // A value of the series for the newest row; at most one per row.
    void append(int series, double value);

    // A series' points, numbered from 0.
    qint64 points(int series) const { return m_series[size_t(series)].count; }
    // The first point at or after the row; points() when none.
    qint64 pointAtRow(int series, qint64 row) const;
    qint64 rowOf(int series, qint64 point) const;
    // nullopt for a folded point.
    std::optional<double> value(int series, qint64 point) const;
    // The smallest and largest value of points [from, to); a folded point
    // counts with its 64.
    Range range(int series, qint64 from, qint64 to) const;

    // The rows before this one hold only folded points.
    qint64 foldedRows() const { return m_foldedRows; }
    // What the values, their rows and the times take.
    qint64 bytes() const { return m_bytes; }

private:
    struct RowChunk {
        qint64 firstRow = 0;
        qint64 base = 0;             // the time of its first row
        std::vector<qint32> offsets; // each row's time after base; folded: every 64th
        qint64 count = 0;
        bool folded = false;
    };
    struct Chunk {
        qint64 firstRow = 0;
        qint64 lastRow = 0;
        // The row of each point, while they do not follow one another
        // without a gap; folded: the first row of each 64.
        std::vector<qint64> rows;
        std::vector<qint32> fixed;   // value × 10^decimals
        std::vector<double> doubles; // when decimals < 0
        int count = 0;
        qint8 decimals = 0;
        bool folded = false;
        Range range;
    };
    struct Series {
        QString name;
        std::vector<Chunk> chunks;
        std::vector<Range> blocks; // of 64 points
        std::vector<Range> groups; // of 64 chunks
        qint64 count = 0;
        qint64 folded = 0; // chunks
    };

    const RowChunk &rowChunkOf(qint64 row) const;
    static double decode(const Chunk &chunk, int at);
    void encode(Chunk &chunk, double value);
    qint64 chunkBytes(const Chunk &chunk) const;
    void foldOldest();

    const qint64 m_budget;
    std::vector<RowChunk> m_rowChunks;
    qint64 m_rowCount = 0;
    qint64 m_foldedRows = 0;
    std::vector<Series> m_series;
    qint64 m_bytes = 0;
};
