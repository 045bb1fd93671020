#include "plotcanvas.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <cmath>

// How the canvas paints: the curves (or XY points), the axes with round
// steps, the cursors and the legend, on the screen and into exported pictures.

namespace
{

const QColor Grid(0xe4, 0xe4, 0xe4);
const QColor AxisText(0x40, 0x40, 0x40);
const QColor CursorColour(0x30, 0x30, 0x30);

// Round steps for an axis: 1, 2 and 5 times a power of ten, at most `count`
// ticks over [from, to].
double niceStep(double from, double to, int count)
{
    const double raw = (to - from) / std::max(count, 1);
    if (!(raw > 0) || !std::isfinite(raw))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw)
            return m * power;
    }
    return 10 * power;
}

// Round steps for a time axis, in msecs.
qint64 timeStep(double span, int count)
{
    static constexpr qint64 Steps[] = {
        1,        2,        5,        10,        20,        50,         100,        200,
        500,      1000,     2000,     5000,      10000,     15000,      30000,      60000,
        120000,   300000,   600000,   900000,    1800000,   3600000,    7200000,    10800000,
        21600000, 43200000, 86400000, 172800000, 604800000, 2592000000, 31536000000};
    const double raw = span / std::max(count, 1);
    for (const qint64 s : Steps) {
        if (double(s) >= raw)
            return s;
    }
    return Steps[std::size(Steps) - 1];
}

} // namespace

void PlotCanvas::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintPlot(painter, rect());
}

void PlotCanvas::paintPlot(QPainter &painter, const QRect &area, bool legend)
{
    const QRect r = plotRect(area);
    painter.setFont(font());
    painter.fillRect(area, Qt::white);
    if (r.width() < 2 || r.height() < 2)
        return;
    updateRange(r.width());
    PlotView view;
    view.axis = m_xy ? XAxis::Series : m_axis;
    view.xSeries = m_xSeries;
    view.xFrom = m_xFrom;
    view.xTo = m_xTo;
    view.rowEnd = rowEnd();
    std::tie(view.xyFrom, view.xyTo) = rowsInSight();
    view.width = r.width();
    const PlotFrame frame = makeFrame(m_store, view, shownSeries());

    auto widened = [](SeriesStore::Range range, double &from, double &to) {
        if (range.isEmpty())
            return;
        double margin = (range.max - range.min) * 0.05;
        if (margin < LeastSpan * std::max(1.0, std::fabs(range.max)))
            margin = std::max(std::fabs(range.max) * 0.1, 0.5);
        from = range.min - margin;
        to = range.max + margin;
    };
    if (m_autoscale)
        widened(frame.yRange, m_yFrom, m_yTo);
    if (m_xy && m_xyWhole)
        widened(frame.xRange, m_xyFrom, m_xyTo);

    drawAxes(painter, r);
    painter.save();
    painter.setClipRect(r);
    if (m_xy)
        drawXY(painter, r, frame);
    else
        drawTraces(painter, r, frame);
    // The cursors.
    if (!m_xy) {
        for (int k = 0; k < 2; ++k) {
            if (!m_cursors[k])
                continue;
            const int x =
                r.left() +
                int(std::floor(std::clamp((*m_cursors[k] - m_xFrom) / (m_xTo - m_xFrom) * r.width(),
                                          -1e6, 1e6)));
            QPen pen(CursorColour, 1, Qt::DashLine);
            pen.setCosmetic(true);
            painter.setPen(pen);
            painter.drawLine(x, r.top(), x, r.bottom());
            painter.drawText(QRect(x + 3, r.top() + 1, 40, fontMetrics().height()),
                             Qt::AlignLeft | Qt::AlignTop, QString::number(k + 1));
        }
    }
    if (legend)
        drawLegend(painter, r);
    painter.restore();
    painter.setPen(AxisText);
    painter.drawRect(r.adjusted(-1, -1, 0, 0));
}

void PlotCanvas::drawLegend(QPainter &painter, const QRect &r) const
{
    const QFontMetrics fm = painter.fontMetrics();
    const std::vector<int> series = shownSeries();
    if (series.empty())
        return;
    int width = 0;
    for (const int s : series)
        width = std::max(width, fm.horizontalAdvance(m_store.name(s)));
    const int line = fm.height();
    const QRect box(r.left() + Gap, r.top() + Gap, width + 3 * Gap + 24,
                    line * int(series.size()) + Gap);
    painter.fillRect(box, QColor(255, 255, 255, 230));
    painter.setPen(Grid);
    painter.drawRect(box);
    int y = box.top() + Gap / 2;
    for (const int s : series) {
        QPen pen(colour(s), 2, dash(s));
        painter.setPen(pen);
        painter.drawLine(box.left() + Gap, y + line / 2, box.left() + Gap + 24, y + line / 2);
        painter.setPen(AxisText);
        painter.drawText(QRect(box.left() + 2 * Gap + 24, y, width, line),
                         Qt::AlignLeft | Qt::AlignVCenter, m_store.name(s));
        y += line;
    }
}

void PlotCanvas::drawAxes(QPainter &painter, const QRect &r) const
{
    const QFontMetrics fm = painter.fontMetrics();
    painter.setFont(font());
    // Values.
    const double yStep = niceStep(m_yFrom, m_yTo, std::max(2, r.height() / (fm.height() * 3)));
    for (double v = std::ceil(m_yFrom / yStep) * yStep; v <= m_yTo; v += yStep) {
        const int y = yPixel(v, r);
        painter.setPen(Grid);
        painter.drawLine(r.left(), y, r.right(), y);
        painter.setPen(AxisText);
        const double shown = std::fabs(v) < yStep * 1e-9 ? 0.0 : v;
        painter.drawText(QRect(r.left() - Gap - 1000, y - fm.height() / 2, 1000, fm.height()),
                         Qt::AlignRight | Qt::AlignVCenter, valueText(shown));
    }
    // The X axis: times, line numbers or the X series' values.
    const int labelWidth = fm.horizontalAdvance(QStringLiteral("88.88. 88:88:88,888")) + 2 * Gap;
    const int count = std::max(2, r.width() / labelWidth);
    auto label = [&](int x, const QString &text) {
        painter.setPen(Grid);
        painter.drawLine(x, r.top(), x, r.bottom());
        painter.setPen(AxisText);
        painter.drawText(QRect(x - labelWidth / 2, r.bottom() + Gap / 2, labelWidth, fm.height()),
                         Qt::AlignHCenter | Qt::AlignTop, text);
    };
    if (m_xy) {
        const double step = niceStep(m_xyFrom, m_xyTo, count);
        for (double v = std::ceil(m_xyFrom / step) * step; v <= m_xyTo; v += step)
            label(r.left() + clampPixel((v - m_xyFrom) / (m_xyTo - m_xyFrom) * (r.width() - 1)),
                  valueText(std::fabs(v) < step * 1e-9 ? 0.0 : v));
        painter.drawText(r.adjusted(0, 0, -Gap, -Gap), Qt::AlignRight | Qt::AlignBottom,
                         m_xSeries >= 0 && m_xSeries < m_store.seriesCount()
                             ? m_store.name(m_xSeries)
                             : QString());
        return;
    }
    auto xOf = [&](double x) {
        return r.left() + int(std::floor((x - m_xFrom) / (m_xTo - m_xFrom) * r.width()));
    };
    if (m_axis == XAxis::Row) {
        // Line numbers from 1.
        const double step = std::max(1.0, niceStep(m_xFrom + 1, m_xTo + 1, count));
        for (double n = std::ceil((m_xFrom + 1) / step) * step; n - 1 < m_xTo; n += step)
            label(xOf(n - 1), QLocale(QLocale::German).toString(qint64(n)));
        return;
    }
    const qint64 step = timeStep(m_xTo - m_xFrom, count);
    const qint64 from = qint64(std::floor(m_xFrom));
    // Ticks on round local times.
    const qint64 offset = qint64(QDateTime::fromMSecsSinceEpoch(from).offsetFromUtc()) * 1000;
    const bool withDate = m_xTo - m_xFrom > 86400000.0 || step >= 86400000;
    qint64 t = ((from + offset) / step + 1) * step - offset;
    for (int n = 0; t < m_xTo && n < 1000; t += step, ++n)
        label(xOf(double(t)), timeText(t, step, withDate));
}

void PlotCanvas::drawTraces(QPainter &painter, const QRect &r, const PlotFrame &frame) const
{
    QList<QLine> lines;
    for (const Trace &t : frame.traces) {
        lines.clear();
        auto at = [&](double column, double value) {
            return QPointF(r.left() + column, yPixel(value, r));
        };
        std::optional<QPointF> previous;
        if (t.before) {
            // Where the line from the point before enters the picture.
            const QPointF from = at(t.before->x, t.before->value);
            const std::optional<QPointF> to =
                !t.columns.empty() ? std::optional(at(t.columns.front().x, t.columns.front().first))
                : t.after          ? std::optional(at(t.after->x, t.after->value))
                                   : std::nullopt;
            if (to && to->x() > from.x()) {
                const double x = std::max(from.x(), double(r.left() - 1));
                previous = QPointF(x, from.y() + (to->y() - from.y()) * (x - from.x()) /
                                                     (to->x() - from.x()));
            }
        }
        for (const Trace::Column &c : t.columns) {
            const int x = r.left() + c.x;
            const QPoint first(x, yPixel(c.first, r));
            if (previous)
                lines.append(QLine(previous->toPoint(), first));
            const int top = yPixel(c.max, r), bottom = yPixel(c.min, r);
            if (top != bottom || !previous)
                lines.append(QLine(x, top, x, bottom));
            previous = QPointF(x, yPixel(c.last, r));
        }
        if (t.after && previous) {
            const QPointF to = at(t.after->x, t.after->value);
            if (to.x() > previous->x()) {
                const double x = std::min(to.x(), double(r.right() + 1));
                lines.append(QLine(
                    previous->toPoint(),
                    QPointF(x, previous->y() + (to.y() - previous->y()) * (x - previous->x()) /
                                                   (to.x() - previous->x()))
                        .toPoint()));
            }
        }
        QPen pen(colour(t.series), 1, dash(t.series));
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.drawLines(lines);
        // Few points in sight: each is marked.
        if (qsizetype(t.columns.size()) * 8 <= r.width()) {
            for (const Trace::Column &c : t.columns) {
                if (c.min == c.max)
                    painter.fillRect(r.left() + c.x - 1, yPixel(c.min, r) - 1, 3, 3,
                                     colour(t.series));
            }
        }
    }
}

void PlotCanvas::drawXY(QPainter &painter, const QRect &r, const PlotFrame &frame) const
{
    auto xOf = [&](double v) {
        return r.left() + clampPixel((v - m_xyFrom) / (m_xyTo - m_xyFrom) * (r.width() - 1));
    };
    QList<QLine> lines;
    for (const XYTrace &t : frame.xy) {
        lines.clear();
        std::optional<QPoint> previous;
        QPen pen(colour(t.series), 1, dash(t.series));
        pen.setCosmetic(true);
        painter.setPen(pen);
        for (const XYTrace::Box &b : t.boxes) {
            const QRect box(QPoint(xOf(b.x0), yPixel(b.y1, r)), QPoint(xOf(b.x1), yPixel(b.y0, r)));
            if (previous)
                lines.append(QLine(*previous, box.center()));
            if (box.width() > 1 || box.height() > 1)
                painter.drawRect(box);
            previous = box.center();
        }
        painter.drawLines(lines);
        if (qsizetype(t.boxes.size()) * 8 <= r.width()) {
            for (const XYTrace::Box &b : t.boxes)
                painter.fillRect(xOf(b.x0) - 1, yPixel(b.y0, r) - 1, 3, 3, colour(t.series));
        }
    }
}
