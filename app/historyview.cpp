#include "historyview.h"

#include "beat.h"
#include "cachedcontrols.h"
#include "historyspoken.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace
{

constexpr int Margin = 4;
constexpr int StreamFrameMs = 200;

constexpr QRgb SentColour = qRgb(0x1c, 0x5f, 0xa8);
constexpr QRgb MarkerColour = qRgb(0x44, 0x44, 0x44);
constexpr QRgb MarkerBand = qRgb(0xe3, 0xea, 0xf3);
constexpr QRgb HitColour = qRgb(0xff, 0xe3, 0x6e);
constexpr QRgb CurrentHitColour = qRgb(0xff, 0x9f, 0x40);

} // namespace

QFont historyFont()
{
    QFont mono(QStringLiteral("Liberation Mono"));
    mono.setStyleHint(QFont::Monospace);
    mono.setFixedPitch(true);
    mono.setPixelSize(13);
    return mono;
}

HistoryView::HistoryView(std::shared_ptr<const HistoryLog> log, QWidget *parent)
    : QAbstractScrollArea(parent), m_layout(std::move(log), {})
{
    installSpokenTextAccessible();
    setAccessibleName(QStringLiteral("Verlauf"));
    setFocusPolicy(Qt::StrongFocus);
    // The bar changes with every frame of a busy line: it keeps its pictures.
    setVerticalScrollBar(new CachedScrollBar(Qt::Vertical));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFont(historyFont());
    useFont();

    // New lines show on the coarse 50 ms beat the main window's timers
    // share. While they keep coming, five pictures a second: following, every
    // picture moves the whole view, and each costs as much to hand to the
    // screen as all of the main window's; nobody reads a log that scrolls
    // faster.
    m_frame.setInterval(BeatMs);
    m_frame.setTimerType(Qt::CoarseTimer);
    connect(&m_frame, &QTimer::timeout, this, [this] {
        if (m_changed) {
            syncNow();
            m_frame.setInterval(StreamFrameMs);
        } else {
            m_frame.stop();
            m_frame.setInterval(BeatMs);
        }
    });
}

void HistoryView::useFont()
{
    m_cells.setFont(font());
    // Columns of whole pixels, as a terminal has them: every cell then falls
    // on whole pixels, and rows are put together from kept pictures.
    m_layout.setMetrics(
        {Margin, m_cells.columnWidth(), [this](const Cell &cell) { return m_cells.width(cell); }});
    const int lineHeight = m_cells.lineHeight();
    const int room = viewport()->height() - Margin;
    m_layout.setRoom(room / lineHeight, (room + lineHeight - 1) / lineHeight);
}

void HistoryView::refresh()
{
    updateBars();
    if (!m_layout.planned()) {
        m_layout.plan();
        updateBars(); // the widest row may have grown
        spokenChanged();
    }
    viewport()->update();
}

void HistoryView::setChoices(const Choices &choices)
{
    if (choices == m_layout.choices())
        return;
    m_layout.setChoices(choices);
    refresh();
    Q_EMIT stateChanged();
}

void HistoryView::logChanged()
{
    m_changed = true;
    if (!m_frame.isActive())
        m_frame.start();
}

void HistoryView::syncNow()
{
    m_changed = false;
    // The rows in sight before, to move the picture where they stay instead
    // of painting them anew: a slow line adds a row or two a frame.
    std::vector<qint64> was;
    if (m_layout.planned()) {
        for (const HistoryRow &row : m_layout.rows())
            was.push_back(m_layout.keyOf(row));
    }
    const int wasOffset = rowOffset();
    const bool endInSight = m_layout.endInSight();
    const qint64 before = m_layout.top();
    updateBars();
    Q_EMIT stateChanged();
    // Held still, a frame costs nothing unless what is in sight changed: the
    // growing last line, or lines dropped under it.
    if (!endInSight && before == m_layout.top() && m_layout.planned())
        return;
    m_layout.invalidate();
    m_layout.plan();
    updateBars();
    spokenChanged();
    const std::vector<HistoryRow> &rows = m_layout.rows();
    const auto it =
        rows.empty() ? was.end() : std::find(was.begin(), was.end(), m_layout.keyOf(rows.front()));
    const qsizetype moved = it - was.begin();
    bool same = m_layout.following() && it != was.end() && rowOffset() == wasOffset;
    for (qsizetype i = 0; same && i + moved < qsizetype(was.size()); ++i)
        same =
            i < qsizetype(rows.size()) && m_layout.keyOf(rows[size_t(i)]) == was[size_t(i + moved)];
    if (!same) {
        viewport()->update();
        return;
    }
    if (moved > 0)
        viewport()->scroll(0, -int(moved) * m_cells.lineHeight());
    // From the row that was last (it may have grown) down.
    const int top = rowTop(size_t(std::max<qsizetype>(0, qsizetype(was.size()) - 1 - moved)));
    viewport()->update(QRect(0, top, viewport()->width(), viewport()->height() - top));
}

void HistoryView::updateBars()
{
    QScrollBar *bar = verticalScrollBar();
    m_settingBars = true;
    bar->setRange(0, m_layout.scrollMaximum());
    if (bar->pageStep() != m_layout.room())
        bar->setPageStep(m_layout.room());
    bar->setSingleStep(1);
    bar->setValue(m_layout.settledScroll());
    QScrollBar *across = horizontalScrollBar();
    across->setRange(0, std::max(0, m_layout.widest() + Margin - viewport()->width()));
    across->setPageStep(viewport()->width());
    across->setSingleStep(columnWidth() * 4);
    m_settingBars = false;
}

void HistoryView::scrollContentsBy(int, int dy)
{
    if (m_settingBars) {
        if (dy != 0)
            m_layout.invalidate(); // the caller plans the rows anew
        return;
    }
    if (dy == 0)
        return viewport()->update();
    const bool wasFollowing = m_layout.following();
    m_layout.scrolledTo(verticalScrollBar()->value());
    refresh();
    if (wasFollowing != m_layout.following())
        Q_EMIT stateChanged();
}

void HistoryView::hold()
{
    if (!m_layout.following())
        return;
    m_layout.hold();
    refresh();
    Q_EMIT stateChanged();
}

void HistoryView::follow()
{
    m_layout.follow();
    refresh();
    Q_EMIT stateChanged();
}

void HistoryView::toStart()
{
    m_layout.toStart();
    refresh();
    Q_EMIT stateChanged();
}

void HistoryView::setSearch(const SearchPattern &pattern)
{
    m_layout.setSearch(pattern);
    refresh();
}

void HistoryView::showHit(const SearchHit &hit)
{
    m_layout.showHit(hit);
    refresh();
    Q_EMIT stateChanged();
    // The hit's cells in sight across.
    if (const std::optional<int> x = m_layout.currentLeft()) {
        QScrollBar *across = horizontalScrollBar();
        if (*x < across->value() || *x > across->value() + viewport()->width() - 40)
            across->setValue(std::max(0, *x - viewport()->width() / 3));
    }
}

// ---------------------------------------------------------------------------
// Painting.

int HistoryView::rowOffset() const
{
    const int height = Margin + int(m_layout.rows().size()) * m_cells.lineHeight();
    return m_layout.onBottomEdge() ? std::min(0, viewport()->height() - height) : 0;
}

int HistoryView::rowTop(size_t row) const
{
    return Margin + rowOffset() + int(row) * m_cells.lineHeight();
}

void HistoryView::paintEvent(QPaintEvent *event)
{
    // The rows are planned when the log or the place in sight changes:
    // nothing is read from the files here.
    if (!m_layout.planned())
        QMetaObject::invokeMethod(this, &HistoryView::refresh, Qt::QueuedConnection);
    QPainter painter(viewport());
    const QRect clip = event->rect();
    const QRgb base = palette().color(QPalette::Base).rgb();
    const int lineHeight = m_cells.lineHeight();
    const int width = viewport()->width();
    const int left = -horizontalScrollBar()->value();
    const std::vector<HistoryRow> &rows = m_layout.rows();
    {
        CellPainter::Frame frame(m_cells, painter, width);
        for (size_t i = 0; i < rows.size(); ++i) {
            const int top = rowTop(i);
            if (top > clip.bottom() || top + lineHeight <= clip.top())
                continue;
            if (choices().hex)
                placeHex(rows[i], left, m_placed);
            else
                placeText(rows[i], left, m_placed);
            frame.row(top, base, m_placed);
        }
    }
    // The ground above the first row and below the last.
    const QColor ground = QColor::fromRgb(base);
    const int first = rowTop(0), end = rowTop(rows.size());
    painter.fillRect(clip & QRect(0, 0, width, first), ground);
    painter.fillRect(clip & QRect(0, end, width, viewport()->height() - end), ground);
}

void HistoryView::placeText(const HistoryRow &row, int left, std::vector<PlacedCell> &cells)
{
    cells.clear();
    const QPalette &pal = palette();
    const HistoryLine &line = row.line;
    ViewColours colours = ViewColours::of(pal);
    if (line.kind == HistoryLine::Sent)
        colours.text = SentColour;
    const int cw = columnWidth();
    const int right = viewport()->width();
    const auto put = [&](int x, const CellAppearance &a) {
        if (x < right && x + a.width > 0)
            cells.push_back({x, m_cells.idOf(a)});
    };
    if (choices().times && !line.continued()) {
        int x = left + Margin;
        for (const QChar c : row.time)
            put(std::exchange(x, x + cw),
                m_cells.character(c.unicode(), colours.muted, colours.ground, cw));
    }
    const int textLeft = left + m_layout.textLeft();
    if (line.kind == HistoryLine::Sent)
        put(textLeft - 2 * cw, m_cells.character(U'→', SentColour, colours.ground, cw));
    else if (line.continued())
        put(textLeft - 2 * cw, m_cells.character(U'»', colours.muted, colours.ground, cw));

    if (line.kind == HistoryLine::Marker) {
        // The program's own text, bold on a band to the right edge.
        CellAppearance band;
        band.form = CellAppearance::Ground;
        band.ground = MarkerBand;
        band.width = quint16(cw);
        put(textLeft - cw, band);
        int x = textLeft;
        for (const char32_t c : QString::fromUtf8(row.bytes).toUcs4()) {
            Cell cell;
            cell.code = c;
            const int w = m_cells.width(cell);
            put(std::exchange(x, x + w), m_cells.character(c, MarkerColour, MarkerBand, w, true));
        }
        x = std::max(x, 0);
        band.width = quint16(std::max(0, right - x));
        put(x, band);
        return;
    }

    const auto [selectedFrom, selectedTo] = m_layout.selectedIn(row);
    const auto [currentFrom, currentTo] = m_layout.currentIn(row);
    const CellMark selected{pal.color(QPalette::Highlight).rgb(),
                            pal.color(QPalette::HighlightedText).rgba()};
    const CellMark current{CurrentHitColour, 0};
    const CellMark hit{HitColour, 0};
    for (size_t i = 0; i < row.cells.size(); ++i) {
        const Cell &cell = row.cells[i];
        const int x = textLeft + row.x[i];
        if (x >= right)
            break;
        if (cell.kind == Cell::Hidden || x + row.x[i + 1] - row.x[i] <= 0)
            continue;
        const auto in = [&cell](qint64 from, qint64 to) {
            return cell.begin < to && cell.begin + cell.size > from;
        };
        const CellMark *mark = nullptr;
        if (cell.begin >= selectedFrom && cell.begin < selectedTo)
            mark = &selected;
        else if (in(currentFrom, currentTo))
            mark = &current;
        else if (std::any_of(row.hits.begin(), row.hits.end(),
                             [&](const auto &h) { return in(h.first, h.second); }))
            mark = &hit;
        cells.push_back({x, m_cells.idOf(m_cells.appearance(cell, colours, mark))});
    }
}

void HistoryView::placeHex(const HistoryRow &row, int left, std::vector<PlacedCell> &cells)
{
    cells.clear();
    const QPalette &pal = palette();
    const ViewColours colours = ViewColours::of(pal);
    const int cw = columnWidth();
    const auto text = [&](int x, const QString &chars) {
        for (const QChar c : chars)
            cells.push_back(
                {std::exchange(x, x + cw),
                 m_cells.idOf(m_cells.character(c.unicode(), colours.muted, colours.ground, cw))});
    };
    text(left + Margin, m_layout.offsetText(row.pos));
    if (choices().times && !row.time.isEmpty())
        text(left + m_layout.timeLeft(), row.time);

    const auto [selectedFrom, selectedTo] = m_layout.selectedIn(row);
    const auto [currentFrom, currentTo] = m_layout.currentIn(row);
    const QRgb highlightedText = pal.color(QPalette::HighlightedText).rgba();
    // The ground and pen of each byte.
    const auto inks = [&](qint64 pos, QRgb pen) -> std::pair<QRgb, QRgb> {
        if (pos >= selectedFrom && pos < selectedTo)
            return {pal.color(QPalette::Highlight).rgb(), highlightedText};
        if (pos >= currentFrom && pos < currentTo)
            return {CurrentHitColour, pen};
        for (const auto &[from, to] : row.hits)
            if (pos >= from && pos < to)
                return {HitColour, pen};
        return {colours.ground, pen};
    };
    const int lead = int(row.pos % HexRowBytes);
    // The digits, then the characters: cells go left to right.
    for (qsizetype i = 0; i < row.bytes.size(); ++i) {
        const auto [ground, pen] = inks(row.pos + i, colours.text);
        const QString digits = HistoryRows::hexDigits(uchar(row.bytes[i]));
        const int x = left + m_layout.hexLeft(lead + int(i));
        cells.push_back({x, m_cells.idOf(m_cells.character(digits[0].unicode(), pen, ground, cw))});
        cells.push_back(
            {x + cw, m_cells.idOf(m_cells.character(digits[1].unicode(), pen, ground, cw))});
    }
    for (qsizetype i = 0; i < row.bytes.size(); ++i) {
        const QChar c = HistoryRows::columnChar(uchar(row.bytes[i]));
        const auto [ground, pen] =
            inks(row.pos + i, c == QChar(0x00b7) ? colours.muted : colours.text);
        cells.push_back({left + m_layout.charLeft(lead + int(i)),
                         m_cells.idOf(m_cells.character(c.unicode(), pen, ground, cw))});
    }
}

void HistoryView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    const int lineHeight = m_cells.lineHeight();
    const int room = viewport()->height() - Margin;
    m_layout.setRoom(room / lineHeight, (room + lineHeight - 1) / lineHeight);
    refresh();
}

void HistoryView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        useFont();
        refresh();
    }
}

// ---------------------------------------------------------------------------
// Selection and keys.

std::optional<size_t> HistoryView::rowAt(int y) const
{
    const size_t rows = m_layout.rows().size();
    if (rows == 0)
        return std::nullopt;
    const int index = (y - Margin - rowOffset()) / m_cells.lineHeight();
    return size_t(std::clamp(index, 0, int(rows) - 1));
}

void HistoryView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    // Selecting holds the picture still; End follows again.
    hold();
    const QPoint at = event->position().toPoint();
    const std::optional<size_t> row = rowAt(at.y());
    const std::optional<Place> place =
        row ? m_layout.placeAt(*row, at.x() + horizontalScrollBar()->value()) : std::nullopt;
    if (!place)
        return;
    const bool extend = event->modifiers() & Qt::ShiftModifier && m_layout.anchor();
    m_layout.select(extend ? *m_layout.anchor() : *place, *place);
    viewport()->update();
    Q_EMIT stateChanged();
}

void HistoryView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || !m_layout.anchor())
        return QAbstractScrollArea::mouseMoveEvent(event);
    const QPoint at = event->position().toPoint();
    const std::optional<size_t> row = rowAt(at.y());
    if (!row)
        return;
    if (const auto place = m_layout.placeAt(*row, at.x() + horizontalScrollBar()->value())) {
        m_layout.select(*m_layout.anchor(), *place);
        viewport()->update();
    }
}

void HistoryView::selectAll()
{
    m_layout.selectAll();
    refresh();
    Q_EMIT stateChanged();
}

void HistoryView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        if (hasSelection())
            Q_EMIT copyRequested();
        return;
    }
    if (event == QKeySequence::SelectAll)
        return selectAll();
    QScrollBar *bar = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_End:
        return follow();
    case Qt::Key_Home:
        return toStart();
    case Qt::Key_Up:
        return bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    case Qt::Key_Down:
        return bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    case Qt::Key_PageUp:
        return bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    case Qt::Key_PageDown:
        return bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    case Qt::Key_Escape:
        m_layout.clearSelection();
        viewport()->update();
        return;
    default:
        return QAbstractScrollArea::keyPressEvent(event);
    }
}

QStringList HistoryView::rowsInSight() const
{
    QStringList rows;
    for (const HistoryRow &row : m_layout.rows())
        rows.append(SpokenRows::rowText(m_layout, row));
    return rows;
}

// ---------------------------------------------------------------------------
// What a screen reader is told.

QString HistoryView::spokenText() const
{
    return SpokenRows(m_layout).text();
}

int HistoryView::spokenCursor() const
{
    return m_layout.cursor() ? SpokenRows(m_layout).offsetOf(*m_layout.cursor()) : 0;
}

std::pair<int, int> HistoryView::spokenSelection() const
{
    const SpokenRows spoken(m_layout);
    const int cursor = m_layout.cursor() ? spoken.offsetOf(*m_layout.cursor()) : 0;
    if (!hasSelection())
        return {cursor, cursor};
    const int anchor = spoken.offsetOf(*m_layout.anchor());
    return {std::min(anchor, cursor), std::max(anchor, cursor)};
}

void HistoryView::selectSpoken(int anchor, int cursor)
{
    const SpokenRows spoken(m_layout);
    const std::optional<Place> from = spoken.placeOf(anchor), to = spoken.placeOf(cursor);
    if (!from || !to)
        return;
    hold();
    m_layout.select(*from, *to);
    viewport()->update();
    Q_EMIT stateChanged();
}

QRect HistoryView::spokenRect(int offset) const
{
    const SpokenRows spoken(m_layout);
    if (offset < 0 || size_t(offset) >= spoken.chars().size())
        return {};
    const SpokenRows::Char &c = spoken.chars()[size_t(offset)];
    const QRect r(c.x - horizontalScrollBar()->value(), rowTop(c.row), std::max(1, c.width),
                  m_cells.lineHeight());
    if (!viewport()->rect().intersects(r))
        return {};
    return QRect(viewport()->mapTo(this, r.topLeft()), r.size());
}

int HistoryView::spokenOffsetAt(const QPoint &point) const
{
    const std::optional<size_t> row = rowAt(point.y());
    return row ? SpokenRows(m_layout).offsetAt(*row, point.x() + horizontalScrollBar()->value())
               : 0;
}

void HistoryView::spokenChanged()
{
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::TextUpdated);
        QAccessible::updateAccessibility(&event);
    }
}
