#pragma once

#include "plotframe.h"

#include <QColor>
#include <QPoint>
#include <QWidget>

#include <optional>
#include <set>

class QPainter;

// The curves of the plot window: axes, grid, one line per series drawn from
// a frame as wide as the picture (plotframe.h), two cursors. It shows the
// whole session at first and follows the newest line; the wheel zooms (the
// time or line axis; with Ctrl the values), a drag moves the picture, End
// follows again. Painting costs what the width costs, whatever the points.
//
// It paints only when asked (refresh(), on the window's beat) and while it
// is in sight; a paused canvas holds the rows it had.
class PlotCanvas : public QWidget
{
    Q_OBJECT
public:
    explicit PlotCanvas(const SeriesStore &store, QWidget *parent = nullptr);

    // The X axis; for XAxis::Series the series the others are drawn against,
    // over the rows of the time in sight when it was chosen.
    void setAxis(XAxis axis, int xSeries = -1);
    XAxis axis() const { return m_xy ? XAxis::Series : m_axis; }
    int xSeries() const { return m_xSeries; }

    void setHidden(int series, bool hidden);
    bool isHidden(int series) const { return m_hidden.count(series) > 0; }

    // Paused: the picture holds the rows it shows; lines still come in.
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // Values from the points in sight, or the range given.
    void setAutoscale(bool on);
    bool autoscale() const { return m_autoscale; }
    void setYRange(double from, double to);
    std::pair<double, double> yRange() const { return {m_yFrom, m_yTo}; }

    // The whole session, following the newest line.
    void showAll();
    // The newest line at the right edge, the span as it is.
    void follow();
    bool following() const { return m_following; }

    // The X range in sight: msecs since the epoch, rows, or values.
    double xFrom() const { return m_xFrom; }
    double xTo() const { return m_xTo; }
    // The rows in sight on the time or line axis; the rows drawn in XY.
    std::pair<qint64, qint64> rowsInSight() const;
    qint64 rowEnd() const;

    // The cursors 0 and 1, at an X position; nullopt removes one.
    void setCursorAt(int which, std::optional<double> x);
    std::optional<double> cursorAt(int which) const { return m_cursors[which]; }
    // The row a cursor stands on (the last one at or before it).
    std::optional<qint64> cursorRow(int which) const;

    // Where the curves go, and where a value and an X position are drawn.
    QRect plotRect() const { return plotRect(rect()); }
    int yPixel(double value) const { return yPixel(value, plotRect()); }
    int xPixel(double x) const;

    // The picture into any device (the widget, a PNG, an SVG); a saved
    // picture names its curves in a legend.
    void paintPlot(QPainter &painter, const QRect &area, bool legend = false);
    // Takes in new rows: the range follows, the picture is painted anew.
    void refresh();

    // The 16 colours, then again with dashes.
    static QColor colour(int series);
    static Qt::PenStyle dash(int series);
    // An X position as the axis and the status line write it.
    QString xText(double x) const;
    static QString valueText(double v);

Q_SIGNALS:
    // What is under the mouse, for the status line; empty when nothing.
    void hovered(const QString &text);
    // The range, following, pausing or a cursor changed.
    void viewChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    static constexpr int Gap = 6;             // between the labels and the curves
    static constexpr double LeastSpan = 1e-3; // of a value axis, against rounding
    static QString timeText(qint64 msecs, qint64 step, bool withDate);
    static int clampPixel(double p);

    QRect plotRect(const QRect &area) const;
    int yPixel(double value, const QRect &r) const;
    void updateRange(int width);
    std::vector<int> shownSeries() const;
    double xAt(int pixel) const;
    double yAt(int pixel) const;
    void zoomX(double factor, double around);
    void zoomY(double factor, double around);
    void showHover(const QPoint &at);
    void drawAxes(QPainter &painter, const QRect &r) const;
    void drawTraces(QPainter &painter, const QRect &r, const PlotFrame &frame) const;
    void drawXY(QPainter &painter, const QRect &r, const PlotFrame &frame) const;
    void drawLegend(QPainter &painter, const QRect &r) const;

    const SeriesStore &m_store;
    XAxis m_axis = XAxis::Time; // the time or line axis, behind an XY view too
    bool m_xy = false;
    int m_xSeries = -1;
    std::set<int> m_hidden;
    bool m_paused = false;
    qint64 m_pausedRows = 0;
    bool m_autoscale = true;
    bool m_whole = true; // the whole session
    bool m_following = true;
    double m_xFrom = 0, m_xTo = 1;
    double m_yFrom = 0, m_yTo = 1;
    // XY: the value ranges in sight, and the rows drawn.
    double m_xyFrom = 0, m_xyTo = 1;
    bool m_xyWhole = true;
    std::optional<double> m_cursors[2];
    std::optional<QPoint> m_dragFrom;
    double m_dragFromX = 0, m_dragToX = 0, m_dragFromY = 0, m_dragToY = 0;
    QPoint m_mouse{-1, -1};
};
