#include "plotframe.h"

#include <algorithm>
#include <cmath>

namespace
{

double valueOr(const SeriesStore &store, int series, qint64 point)
{
    if (const std::optional<double> v = store.value(series, point))
        return *v;
    // Folded: the middle of its 64.
    const SeriesStore::Range r = store.range(series, point, point + 1);
    return (r.min + r.max) / 2;
}

// The row boundaries of the pixel columns: column c holds rows
// [rows[c], rows[c + 1]).
std::vector<qint64> columnRows(const SeriesStore &store, const PlotView &view)
{
    std::vector<qint64> rows(size_t(view.width) + 1);
    const double step = (view.xTo - view.xFrom) / view.width;
    for (int c = 0; c <= view.width; ++c) {
        const double x = std::ceil(view.xFrom + step * c);
        qint64 row = 0;
        if (view.axis == XAxis::Time)
            row = x > 9e15 ? store.rows() : x < -9e15 ? 0 : store.rowAt(qint64(x));
        else
            row = qint64(std::clamp(x, 0.0, double(view.rowEnd)));
        rows[size_t(c)] = std::clamp<qint64>(row, 0, view.rowEnd);
    }
    return rows;
}

double columnOf(const SeriesStore &store, const PlotView &view, qint64 row)
{
    const double x = view.axis == XAxis::Time ? double(store.timeOf(row)) : double(row);
    return (x - view.xFrom) / (view.xTo - view.xFrom) * view.width;
}

Trace trace(const SeriesStore &store, const PlotView &view, const std::vector<qint64> &rows,
            int series, SeriesStore::Range &yRange)
{
    Trace t;
    t.series = series;
    const qint64 end = store.pointAtRow(series, view.rowEnd);
    qint64 from = std::min(store.pointAtRow(series, rows[0]), end);
    if (from > 0) {
        const qint64 p = from - 1;
        t.before =
            Trace::Point{columnOf(store, view, store.rowOf(series, p)), valueOr(store, series, p)};
    }
    for (int c = 0; c < view.width; ++c) {
        const qint64 to = std::min(store.pointAtRow(series, rows[size_t(c) + 1]), end);
        if (to > from) {
            const SeriesStore::Range r = store.range(series, from, to);
            t.columns.push_back(
                {c, r.min, r.max, valueOr(store, series, from), valueOr(store, series, to - 1)});
            yRange.add(r);
        }
        from = std::max(from, to);
    }
    if (from < end)
        t.after = Trace::Point{columnOf(store, view, store.rowOf(series, from)),
                               valueOr(store, series, from)};
    return t;
}

XYTrace xyTrace(const SeriesStore &store, const PlotView &view, int series, PlotFrame &frame)
{
    XYTrace t;
    t.series = series;
    const qint64 from = std::clamp<qint64>(view.xyFrom, 0, view.rowEnd);
    const qint64 to = std::clamp<qint64>(view.xyTo, from, view.rowEnd);
    const qint64 pieces = std::max(1, view.width * 2);
    const qint64 step = std::max<qint64>(1, (to - from + pieces - 1) / pieces);
    const int xs = view.xSeries;
    for (qint64 a = from; a < to; a += step) {
        const qint64 b = std::min(to, a + step);
        const qint64 px = store.pointAtRow(xs, a), pxEnd = store.pointAtRow(xs, b);
        const qint64 py = store.pointAtRow(series, a), pyEnd = store.pointAtRow(series, b);
        if (px >= pxEnd || py >= pyEnd)
            continue;
        if (step == 1 && (store.rowOf(xs, px) != a || store.rowOf(series, py) != a))
            continue;
        const SeriesStore::Range x = store.range(xs, px, pxEnd);
        const SeriesStore::Range y = store.range(series, py, pyEnd);
        t.boxes.push_back({x.min, x.max, y.min, y.max});
        frame.xRange.add(x);
        frame.yRange.add(y);
    }
    return t;
}

} // namespace

PlotFrame makeFrame(const SeriesStore &store, const PlotView &view, const std::vector<int> &series)
{
    PlotFrame frame;
    if (view.width <= 0 || !(view.xTo > view.xFrom) || view.rowEnd <= 0)
        return frame;
    if (view.axis == XAxis::Series) {
        if (view.xSeries < 0 || view.xSeries >= store.seriesCount())
            return frame;
        for (const int s : series) {
            if (s != view.xSeries)
                frame.xy.push_back(xyTrace(store, view, s, frame));
        }
        return frame;
    }
    const std::vector<qint64> rows = columnRows(store, view);
    for (const int s : series)
        frame.traces.push_back(trace(store, view, rows, s, frame.yRange));
    return frame;
}

std::optional<double> valueAtRow(const SeriesStore &store, int series, qint64 row)
{
    const qint64 p = store.pointAtRow(series, row + 1) - 1;
    if (p < 0)
        return std::nullopt;
    return store.value(series, p);
}
