#pragma once

#include "seriesstore.h"

#include <optional>
#include <vector>

// What the X axis shows.
enum class XAxis : quint8 {
    Time,   // the time of each line's first byte
    Row,    // the plotted line's number, from 1
    Series, // the values of one series (XY): every other series against it
};

// The part of the store a frame shows.
struct PlotView {
    XAxis axis = XAxis::Time;
    int xSeries = -1; // XAxis::Series
    // Time: msecs since the epoch; Row: row numbers (row 0 is line 1);
    // Series: the X series' values.
    double xFrom = 0;
    double xTo = 1;
    qint64 rowEnd = 0; // rows [0, rowEnd) are drawn: a paused plot holds it
    // XAxis::Series: the rows drawn, those of the time in sight before.
    qint64 xyFrom = 0;
    qint64 xyTo = 0;
    int width = 1; // pixel columns
};

// One series in a frame over the time or the row axis: for each pixel column
// with points the smallest, largest, first and last value, so that a frame
// costs as much as the window is wide, however many points it covers.
struct Trace {
    struct Column {
        int x = 0;
        double min = 0, max = 0, first = 0, last = 0;
    };
    struct Point {
        double x = 0; // in columns, outside [0, width)
        double value = 0;
    };
    int series = -1;
    std::vector<Column> columns;
    // The nearest points outside on either side, for the lines that leave
    // the picture.
    std::optional<Point> before, after;
};

// One series against the X series: the rows in pieces of about a
// two-hundredth of the width's worth, each the box its points span (a
// point when it holds one).
struct XYTrace {
    struct Box {
        double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    };
    int series = -1;
    std::vector<Box> boxes;
};

struct PlotFrame {
    std::vector<Trace> traces;
    std::vector<XYTrace> xy;
    // What the drawn points span, for autoscaling.
    SeriesStore::Range xRange, yRange;
};

// The frame of the series given (the X series of an XY view is left out).
PlotFrame makeFrame(const SeriesStore &store, const PlotView &view, const std::vector<int> &series);

// The value a series holds at a row: its last point at or before it
// (folded points have none).
std::optional<double> valueAtRow(const SeriesStore &store, int series, qint64 row);
