#include "plotcanvas.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace
{

// Told apart on a light ground, also by most who cannot tell red from green:
// the first ten stand out most, the next six are darker.
constexpr QRgb Palette[16] = {
    0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b, 0xe377c2, 0x17becf,
    0xbcbd22, 0x7f7f7f, 0x393b79, 0x843c39, 0x637939, 0x8c6d31, 0x7b4173, 0x000000,
};

constexpr double MostSpan = 1e15;

} // namespace

QString PlotCanvas::timeText(qint64 msecs, qint64 step, bool withDate)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(msecs);
    QString format = step < 1000    ? QStringLiteral("hh:mm:ss,zzz")
                     : step < 60000 ? QStringLiteral("hh:mm:ss")
                                    : QStringLiteral("hh:mm");
    if (withDate)
        format.prepend(QStringLiteral("dd.MM. "));
    return t.toString(format);
}

int PlotCanvas::clampPixel(double p)
{
    return int(std::lround(std::clamp(p, -1e6, 1e6)));
}

PlotCanvas::PlotCanvas(const SeriesStore &store, QWidget *parent) : QWidget(parent), m_store(store)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(240, 160);
}

QColor PlotCanvas::colour(int series)
{
    return QColor(Palette[series % 16]);
}

Qt::PenStyle PlotCanvas::dash(int series)
{
    static constexpr Qt::PenStyle Dashes[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                              Qt::DashDotLine};
    return Dashes[(series / 16) % 4];
}

QString PlotCanvas::valueText(double v)
{
    return QLocale(QLocale::German).toString(v, 'g', 6);
}

QString PlotCanvas::xText(double x) const
{
    switch (m_axis) {
    case XAxis::Time:
        return timeText(qint64(std::floor(x)), 1, false);
    case XAxis::Row:
        return QLocale(QLocale::German).toString(qint64(std::floor(x)) + 1);
    case XAxis::Series:
        break;
    }
    return valueText(x);
}

void PlotCanvas::setAxis(XAxis axis, int xSeries)
{
    if (axis == XAxis::Series) {
        // Drawn are the rows of the time or lines in sight.
        m_xy = true;
        m_xSeries = xSeries;
        m_xyWhole = true;
    } else {
        m_xy = false;
        if (axis != m_axis) {
            m_axis = axis;
            m_whole = m_following = true;
            m_cursors[0] = m_cursors[1] = std::nullopt;
        }
    }
    update();
    Q_EMIT viewChanged();
}

void PlotCanvas::setHidden(int series, bool hidden)
{
    if (hidden)
        m_hidden.insert(series);
    else
        m_hidden.erase(series);
    update();
}

void PlotCanvas::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    m_pausedRows = m_store.rows();
    update();
    Q_EMIT viewChanged();
}

void PlotCanvas::setAutoscale(bool on)
{
    m_autoscale = on;
    if (on)
        m_xyWhole = true;
    update();
    Q_EMIT viewChanged();
}

void PlotCanvas::setYRange(double from, double to)
{
    if (!(to > from) || !std::isfinite(from) || !std::isfinite(to))
        return;
    m_autoscale = false;
    m_yFrom = from;
    m_yTo = to;
    update();
    Q_EMIT viewChanged();
}

void PlotCanvas::showAll()
{
    m_whole = m_following = true;
    m_xyWhole = true;
    update();
    Q_EMIT viewChanged();
}

void PlotCanvas::follow()
{
    m_following = true;
    update();
    Q_EMIT viewChanged();
}

qint64 PlotCanvas::rowEnd() const
{
    return m_paused ? std::min(m_pausedRows, m_store.rows()) : m_store.rows();
}

std::pair<qint64, qint64> PlotCanvas::rowsInSight() const
{
    const qint64 end = rowEnd();
    auto rowOf = [&](double x) {
        if (m_axis == XAxis::Row)
            return qint64(std::clamp(std::ceil(x), 0.0, double(end)));
        return std::min(end, m_store.rowAt(qint64(std::ceil(std::clamp(x, -9e15, 9e15)))));
    };
    return {rowOf(m_xFrom), rowOf(m_xTo)};
}

std::optional<qint64> PlotCanvas::cursorRow(int which) const
{
    if (!m_cursors[which] || rowEnd() == 0)
        return std::nullopt;
    const double x = *m_cursors[which];
    const qint64 next = m_axis == XAxis::Row
                            ? qint64(std::clamp(std::floor(x) + 1, 0.0, double(rowEnd())))
                            : std::min(rowEnd(), m_store.rowAt(qint64(std::floor(x)) + 1));
    if (next == 0)
        return std::nullopt;
    return next - 1;
}

void PlotCanvas::setCursorAt(int which, std::optional<double> x)
{
    m_cursors[which] = x;
    update();
    Q_EMIT viewChanged();
}

QRect PlotCanvas::plotRect(const QRect &area) const
{
    const QFontMetrics fm = fontMetrics();
    const int left = fm.horizontalAdvance(QStringLiteral("-8.888,88e+88")) + Gap;
    const int bottom = fm.height() + Gap;
    return area.adjusted(left, fm.height() / 2 + 2, -fm.horizontalAdvance(QLatin1Char('8')) * 4,
                         -bottom);
}

int PlotCanvas::yPixel(double value, const QRect &r) const
{
    return r.bottom() - clampPixel((value - m_yFrom) / (m_yTo - m_yFrom) * (r.height() - 1));
}

int PlotCanvas::xPixel(double x) const
{
    const QRect r = plotRect();
    if (m_xy)
        return r.left() + clampPixel((x - m_xyFrom) / (m_xyTo - m_xyFrom) * (r.width() - 1));
    return r.left() +
           int(std::floor(std::clamp((x - m_xFrom) / (m_xTo - m_xFrom) * r.width(), -1e6, 1e6)));
}

double PlotCanvas::xAt(int pixel) const
{
    const QRect r = plotRect();
    if (m_xy)
        return m_xyFrom +
               double(pixel - r.left()) / std::max(1, r.width() - 1) * (m_xyTo - m_xyFrom);
    return m_xFrom + (double(pixel - r.left()) + 0.5) / r.width() * (m_xTo - m_xFrom);
}

double PlotCanvas::yAt(int pixel) const
{
    const QRect r = plotRect();
    return m_yFrom + double(r.bottom() - pixel) / std::max(1, r.height() - 1) * (m_yTo - m_yFrom);
}

void PlotCanvas::updateRange(int width)
{
    const qint64 end = rowEnd();
    if (end <= 0)
        return;
    const bool time = m_axis == XAxis::Time;
    const double first = time ? double(m_store.timeOf(0)) : 0.0;
    const double last = time ? double(m_store.timeOf(end - 1)) : double(end - 1);
    // The newest line in the last column.
    if (m_whole) {
        // A hair less than a column more, against rounding.
        const double step = last > first ? (last - first) / std::max(1, width - 1) * 0.9999 : 1.0;
        m_xFrom = first;
        m_xTo = last + step;
    } else if (m_following) {
        const double span = m_xTo - m_xFrom;
        m_xTo = last + span / std::max(1, width);
        m_xFrom = m_xTo - span;
    }
}

std::vector<int> PlotCanvas::shownSeries() const
{
    std::vector<int> out;
    for (int s = 0; s < m_store.seriesCount(); ++s) {
        if (!isHidden(s) && !(m_xy && s == m_xSeries))
            out.push_back(s);
    }
    return out;
}

void PlotCanvas::refresh()
{
    // Nothing to do while nobody sees it; shown again, it paints anyway.
    if (isVisible() && !m_paused)
        update();
}

void PlotCanvas::zoomX(double factor, double around)
{
    if (m_xy) {
        m_xyWhole = false;
        const double span = std::clamp((m_xyTo - m_xyFrom) * factor, LeastSpan, MostSpan);
        const double share = (around - m_xyFrom) / (m_xyTo - m_xyFrom);
        m_xyFrom = around - span * share;
        m_xyTo = m_xyFrom + span;
        return;
    }
    const double span = std::clamp((m_xTo - m_xFrom) * factor, 10.0, MostSpan);
    const double share = (around - m_xFrom) / (m_xTo - m_xFrom);
    m_whole = false;
    m_xFrom = around - span * share;
    m_xTo = m_xFrom + span;
    // Still following while the newest line stays in sight.
    const qint64 end = rowEnd();
    const double last = end == 0                ? 0
                        : m_axis == XAxis::Time ? double(m_store.timeOf(end - 1))
                                                : double(end - 1);
    m_following = m_xTo > last;
}

void PlotCanvas::zoomY(double factor, double around)
{
    m_autoscale = false;
    const double span = std::clamp((m_yTo - m_yFrom) * factor, LeastSpan * 1e-6, MostSpan);
    const double share = (around - m_yFrom) / (m_yTo - m_yFrom);
    m_yFrom = around - span * share;
    m_yTo = m_yFrom + span;
}

void PlotCanvas::wheelEvent(QWheelEvent *event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    const double factor = std::pow(1.25, -notches);
    const QPoint at = event->position().toPoint();
    if (m_xy) {
        zoomX(factor, xAt(at.x()));
        zoomY(factor, yAt(at.y()));
    } else if (event->modifiers() & Qt::ControlModifier) {
        zoomY(factor, yAt(at.y()));
    } else {
        zoomX(factor, xAt(at.x()));
    }
    update();
    showHover(at);
    Q_EMIT viewChanged();
}

void PlotCanvas::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_dragFrom = event->position().toPoint();
    if (m_xy) {
        m_dragFromX = m_xyFrom;
        m_dragToX = m_xyTo;
    } else {
        m_dragFromX = m_xFrom;
        m_dragToX = m_xTo;
    }
    m_dragFromY = m_yFrom;
    m_dragToY = m_yTo;
    setCursor(Qt::ClosedHandCursor);
}

void PlotCanvas::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    if (m_dragFrom && (event->buttons() & Qt::LeftButton)) {
        const QRect r = plotRect();
        const double dx = double(at.x() - m_dragFrom->x()) / r.width() * (m_dragToX - m_dragFromX);
        if (m_xy) {
            m_xyWhole = false;
            m_xyFrom = m_dragFromX - dx;
            m_xyTo = m_dragToX - dx;
        } else if (dx != 0) {
            m_whole = false;
            m_xFrom = m_dragFromX - dx;
            m_xTo = m_dragToX - dx;
            const qint64 end = rowEnd();
            const double last = end == 0                ? 0
                                : m_axis == XAxis::Time ? double(m_store.timeOf(end - 1))
                                                        : double(end - 1);
            m_following = m_xTo > last;
        }
        // The values move along once they are fixed.
        if (!m_autoscale || m_xy) {
            m_autoscale = false;
            const double dy =
                double(at.y() - m_dragFrom->y()) / r.height() * (m_dragToY - m_dragFromY);
            m_yFrom = m_dragFromY + dy;
            m_yTo = m_dragToY + dy;
        }
        update();
        Q_EMIT viewChanged();
    }
    showHover(at);
}

void PlotCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragFrom.reset();
        unsetCursor();
    }
}

void PlotCanvas::leaveEvent(QEvent *)
{
    m_mouse = QPoint(-1, -1);
    Q_EMIT hovered(QString());
}

void PlotCanvas::showHover(const QPoint &at)
{
    m_mouse = at;
    if (!plotRect().contains(at)) {
        Q_EMIT hovered(QString());
        return;
    }
    if (m_xy) {
        Q_EMIT hovered(
            QStringLiteral("X %1 · Y %2").arg(valueText(xAt(at.x())), valueText(yAt(at.y()))));
        return;
    }
    Q_EMIT hovered(
        QStringLiteral("%1 %2 · Wert %3")
            .arg(m_axis == XAxis::Time ? QStringLiteral("Zeit") : QStringLiteral("Zeile"),
                 xText(xAt(at.x())), valueText(yAt(at.y()))));
}

void PlotCanvas::keyPressEvent(QKeyEvent *event)
{
    const bool inside = plotRect().contains(m_mouse);
    switch (event->key()) {
    case Qt::Key_End:
        return follow();
    case Qt::Key_Home:
        return showAll();
    case Qt::Key_1:
    case Qt::Key_2:
        if (inside && !m_xy)
            return setCursorAt(event->key() == Qt::Key_1 ? 0 : 1, xAt(m_mouse.x()));
        break;
    case Qt::Key_Escape:
        if (m_cursors[0] || m_cursors[1]) {
            m_cursors[0] = m_cursors[1] = std::nullopt;
            update();
            Q_EMIT viewChanged();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

void PlotCanvas::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    const double x = xAt(event->pos().x());
    const bool inside = plotRect().contains(event->pos()) && !m_xy;
    QAction *one =
        menu.addAction(QStringLiteral("Cursor 1 hierher"), this, [this, x] { setCursorAt(0, x); });
    one->setShortcut(Qt::Key_1);
    one->setEnabled(inside);
    QAction *two =
        menu.addAction(QStringLiteral("Cursor 2 hierher"), this, [this, x] { setCursorAt(1, x); });
    two->setShortcut(Qt::Key_2);
    two->setEnabled(inside);
    QAction *none = menu.addAction(QStringLiteral("Cursor entfernen"), this, [this] {
        m_cursors[0] = m_cursors[1] = std::nullopt;
        update();
        Q_EMIT viewChanged();
    });
    none->setShortcut(Qt::Key_Escape);
    none->setEnabled(m_cursors[0] || m_cursors[1]);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Alles zeigen"), this, &PlotCanvas::showAll)
        ->setShortcut(Qt::Key_Home);
    menu.addAction(QStringLiteral("Dem Neuesten folgen"), this, &PlotCanvas::follow)
        ->setShortcut(Qt::Key_End);
    menu.exec(event->globalPos());
}
