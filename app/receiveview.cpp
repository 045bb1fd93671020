#include "receiveview.h"

#include "beat.h"
#include "cachedcontrols.h"
#include "charsets.h"
#include "codepage.h"
#include "kavrosettings.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

namespace
{

constexpr int Margin = 3; // between the frame and the text

} // namespace

ReceiveView::ReceiveView(QWidget *parent) : QAbstractScrollArea(parent)
{
    // A screen reader reads the received lines.
    installSpokenTextAccessible();
    setAccessibleName(QStringLiteral("Empfang"));
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBar(new CachedScrollBar(Qt::Vertical));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    // The box paints its ground itself, with the text, in one go.
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_cells.setFont(font());
    // What the operator chose last time.
    const KavroSettings::ReceiveChoices chosen = KavroSettings().receiveChoices();
    m_decoding = {chosen.charset, chosen.colours};
    decodeAgain();

    // Twenty pictures a second are more than anyone reads text at; more often
    // would cost a slow line's worth of CPU for nothing. While text keeps
    // coming the frame timer keeps running: a running coarse timer settles on
    // the same beat as the window's other 50 ms timers (the activity bar), so
    // the whole window is painted and handed to the screen once a beat.
    m_frame.setInterval(BeatMs);
    m_frame.setTimerType(Qt::CoarseTimer);
    connect(&m_frame, &QTimer::timeout, this, [this] {
        if (m_changed)
            syncNow();
        else
            m_frame.stop();
    });
}

QString ReceiveView::text() const
{
    return textFromBytes(textBytes());
}

QByteArray ReceiveView::textBytes() const
{
    QByteArray t;
    for (const QByteArray &line : m_lines)
        t += line;
    return t;
}

void ReceiveView::clearText()
{
    setLines({});
}

void ReceiveView::setLines(const QList<QByteArray> &lines)
{
    m_lines = lines;
    m_changed = true;
    if (!m_frame.isActive())
        m_frame.start();
}

int ReceiveView::firstRow() const
{
    return verticalScrollBar()->value();
}

int ReceiveView::rowsThatFit() const
{
    return std::max(1, (viewport()->height() - Margin) / m_cells.lineHeight());
}

bool ReceiveView::relayout()
{
    return m_layout.wrap(std::max(1, viewport()->width() - 2 * Margin));
}

void ReceiveView::updateScrollBar(bool toEnd)
{
    QScrollBar *bar = verticalScrollBar();
    const int inSight = rowsThatFit();
    const bool atEnd = bar->value() >= bar->maximum();
    // The steps are set only when they change: setting them repaints the bar
    // even when they stay the same.
    bar->setRange(0, std::max(0, int(m_layout.rows().size()) - inSight));
    if (bar->pageStep() != inSight)
        bar->setPageStep(inSight);
    if (bar->singleStep() != 1)
        bar->setSingleStep(1);
    if (toEnd || atEnd)
        bar->setValue(bar->maximum());
}

void ReceiveView::syncNow()
{
    m_changed = false;
    // What is painted now, to repaint only the rows that change. The old
    // blocks stay alive until the rows are compared.
    const QList<QByteArray> oldBlocks = m_layout.blocks();
    const auto before = viewsInSight();
    const int beforeFirst = firstRow();
    m_layout.setLines(m_lines);
    relayout();
    m_syncing = true;
    updateScrollBar(true);
    m_syncing = false;
    const auto after = viewsInSight();

    QRect changed;
    const int lineHeight = m_cells.lineHeight();
    if (beforeFirst != firstRow() && m_layout.hasSelection()) {
        changed = viewport()->rect(); // the selection moves with its rows
    } else {
        const qsizetype n = std::max(before.size(), after.size());
        for (qsizetype i = 0; i < n; ++i) {
            if (i >= after.size() || i >= before.size() || before[i] != after[i])
                changed |= QRect(0, Margin + int(i) * lineHeight, viewport()->width(), lineHeight);
        }
        if (hasFocus()) // the caret sits at the end of the newest text
            changed |= QRect(0, Margin + int(std::max<qsizetype>(after.size() - 1, 0)) * lineHeight,
                             viewport()->width(), lineHeight);
    }
    if (!changed.isEmpty())
        viewport()->update(changed);
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::TextUpdated);
        QAccessible::updateAccessibility(&event);
    }
}

QVarLengthArray<QByteArrayView, 32> ReceiveView::viewsInSight() const
{
    QVarLengthArray<QByteArrayView, 32> rows;
    const auto &all = m_layout.rows();
    if (all.empty())
        return rows;
    const int lineHeight = m_cells.lineHeight();
    const qsizetype first = std::min<qsizetype>(firstRow(), qsizetype(all.size()) - 1);
    const qsizetype last =
        std::min<qsizetype>(qsizetype(all.size()),
                            first + (viewport()->height() - Margin + lineHeight - 1) / lineHeight);
    for (qsizetype r = first; r < last; ++r)
        rows.append(m_layout.rowBytes(all[size_t(r)]));
    return rows;
}

QList<QByteArray> ReceiveView::rowsInSight() const
{
    QList<QByteArray> rows;
    for (QByteArrayView row : viewsInSight())
        rows.append(row.toByteArray());
    return rows;
}

void ReceiveView::paintEvent(QPaintEvent *event)
{
    if (relayout())
        updateScrollBar(false);
    QPainter painter(viewport());
    const QRect clip = event->rect();
    const int width = viewport()->width();
    const int lineHeight = m_cells.lineHeight();

    const QRgb base = palette().color(QPalette::Base).rgb();
    const qsizetype first = firstRow();
    int shown = 0;
    {
        CellPainter::Frame frame(m_cells, painter, width);
        for (qsizetype r = first; r < qsizetype(m_layout.rows().size()); ++r, ++shown) {
            const int top = Margin + int(r - first) * lineHeight;
            if (top >= viewport()->height())
                break;
            if (top + lineHeight > clip.top() && top <= clip.bottom()) {
                placeRow(m_layout.rows()[size_t(r)], m_placed);
                frame.row(top, base, m_placed);
            }
        }
    }

    // The ground above the first row and below the last.
    const QBrush ground = palette().brush(QPalette::Base);
    painter.fillRect(clip & QRect(0, 0, width, Margin), ground);
    const int below = Margin + shown * lineHeight;
    painter.fillRect(clip & QRect(0, below, width, viewport()->height() - below), ground);

    if (hasFocus()) {
        const qsizetype r = m_layout.rowOf(m_layout.cursor());
        if (r >= firstRow()) {
            const int top = Margin + int(r - firstRow()) * lineHeight;
            const int x =
                Margin + int(m_layout.xOf(m_layout.rows()[size_t(r)], m_layout.cursor().at));
            painter.fillRect(QRect(x, top, 1, lineHeight), palette().color(QPalette::Text));
        }
    }
}

void ReceiveView::placeRow(const ReceiveLayout::Row &row,
                           std::vector<CellPainter::PlacedCell> &cells)
{
    const ViewColours colours = ViewColours::of(palette());
    const CellMark selection{palette().color(QPalette::Highlight).rgb(),
                             palette().color(QPalette::HighlightedText).rgba()};
    const int right = viewport()->width();
    cells.clear();
    int x = Margin;
    if (!m_layout.decoding()) {
        // A flood's rows are bytes: their cells are looked up by the byte.
        if (m_byteCellsMade != m_cells.generation()) {
            m_byteCells.fill(~CellPainter::CellId(0));
            m_byteCellsMade = m_cells.generation();
        }
        const QByteArray &block = m_layout.blocks()[row.block];
        for (qsizetype i = row.begin; i < row.end && x < right; ++i) {
            const uchar byte = uchar(block[i]);
            const bool selected = m_layout.selected({row.block, i});
            CellPainter::CellId &id = m_byteCells[size_t(byte) * 2 + (selected ? 1 : 0)];
            if (id == ~CellPainter::CellId(0))
                id = m_cells.idOf(m_cells.appearance(CellPainter::byteCell(byte), colours,
                                                     selected ? &selection : nullptr));
            cells.push_back({x, id});
            x += int(m_cells.byteWidths()[byte]);
        }
    } else {
        // Few rows, cell by cell: a character set or colours are a choice
        // for reading a board's log, not for a flood.
        const std::vector<ReceiveLayout::Unit> &units = m_layout.units(row.block);
        for (qsizetype u = m_layout.unitAt(row.block, row.begin);
             u < qsizetype(units.size()) && units[size_t(u)].cell.begin < row.end && x < right;
             ++u) {
            const ReceiveLayout::Unit &unit = units[size_t(u)];
            if (unit.width <= 0)
                continue;
            const bool selected = m_layout.selected({row.block, unit.cell.begin});
            cells.push_back({x, m_cells.idOf(m_cells.appearance(unit.cell, colours,
                                                                selected ? &selection : nullptr))});
            x += int(unit.width);
        }
    }
    // A selection across a line break shows as a little room after it.
    if (m_layout.breakSelected(row)) {
        CellAppearance room;
        room.form = CellAppearance::Ground;
        room.ground = selection.ground;
        room.width = 4;
        cells.push_back({x, m_cells.idOf(room)});
    }
}

void ReceiveView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
    updateScrollBar(false);
}

void ReceiveView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        m_byteCellsMade = 0; // the bytes' colours change
    if (event->type() == QEvent::FontChange) {
        m_cells.setFont(font());
        decodeAgain(); // the cells' widths changed
        m_layout.cellsChanged();
        relayout();
        updateScrollBar(false);
        viewport()->update();
    }
}

ReceiveView::Pos ReceiveView::hit(const QPoint &point) const
{
    const int lineHeight = m_cells.lineHeight();
    const qsizetype row =
        firstRow() + (point.y() - Margin) / lineHeight - (point.y() < Margin ? 1 : 0);
    return m_layout.hit(row, point.x() - Margin);
}

void ReceiveView::moveCursor(const Pos &to, bool keepAnchor)
{
    m_layout.moveTo(to, keepAnchor);
    ensureVisible(to);
    viewport()->update();
}

void ReceiveView::ensureVisible(const Pos &pos)
{
    const int r = int(m_layout.rowOf(pos));
    QScrollBar *bar = verticalScrollBar();
    if (r < bar->value())
        bar->setValue(r);
    else if (r >= bar->value() + bar->pageStep())
        bar->setValue(r - bar->pageStep() + 1);
}

void ReceiveView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    m_wantedX = -1;
    moveCursor(hit(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void ReceiveView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return QAbstractScrollArea::mouseMoveEvent(event);
    moveCursor(hit(event->position().toPoint()), true);
}

void ReceiveView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    m_layout.selectWord(hit(event->position().toPoint()), m_cells.boxedBytes());
    viewport()->update();
}

void ReceiveView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy)
        return copy();
    if (event == QKeySequence::SelectAll)
        return selectAll();

    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const Pos cursor = m_layout.cursor();
    Pos to = cursor;
    const qsizetype r = m_layout.rowOf(cursor);
    const ReceiveLayout::Row &row = m_layout.rows()[size_t(r)];
    auto aimAt = [&](qsizetype target) {
        if (m_wantedX < 0)
            m_wantedX = m_layout.xOf(row, cursor.at);
        return m_layout.hit(target, m_wantedX);
    };
    switch (event->key()) {
    case Qt::Key_Left:
        to = m_layout.before(cursor);
        break;
    case Qt::Key_Right:
        to = m_layout.after(cursor);
        break;
    case Qt::Key_Up:
        to = aimAt(r - 1);
        break;
    case Qt::Key_Down:
        to = aimAt(r + 1);
        break;
    case Qt::Key_PageUp:
        to = aimAt(r - verticalScrollBar()->pageStep());
        break;
    case Qt::Key_PageDown:
        to = aimAt(r + verticalScrollBar()->pageStep());
        break;
    case Qt::Key_Home:
        to = ctrl ? Pos{} : Pos{row.block, row.begin};
        break;
    case Qt::Key_End:
        to = ctrl ? m_layout.end() : Pos{row.block, row.end};
        break;
    default:
        return QAbstractScrollArea::keyPressEvent(event);
    }
    const int key = event->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_PageUp &&
        key != Qt::Key_PageDown)
        m_wantedX = -1;
    moveCursor(to, shift);
}

void ReceiveView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(QStringLiteral("Kopieren"), this, &ReceiveView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(m_layout.hasSelection());
    QAction *all = menu.addAction(QStringLiteral("Alles auswählen"), this, &ReceiveView::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    menu.addSeparator();
    QMenu *charsets = menu.addMenu(QStringLiteral("Zeichensatz"));
    for (const Charset charset : {Charset::Windows1252, Charset::Utf8, Charset::Automatic}) {
        QAction *a = charsets->addAction(charsetName(charset), this, [this, charset] {
            setDecoding({charset, m_decoding.colours});
        });
        a->setCheckable(true);
        a->setChecked(m_decoding.charset == charset);
    }
    QAction *colours = menu.addAction(QStringLiteral("Farben (ANSI)"), this, [this] {
        setDecoding({m_decoding.charset, !m_decoding.colours});
    });
    colours->setCheckable(true);
    colours->setChecked(m_decoding.colours);
    menu.addSeparator();
    QAction *history =
        menu.addAction(QStringLiteral("Verlauf…"), this, &ReceiveView::historyRequested);
    history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    QAction *plot = menu.addAction(QStringLiteral("Kurven…"), this, &ReceiveView::plotRequested);
    plot->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    menu.exec(event->globalPos());
}

DecodeOptions ReceiveView::decoding() const
{
    return m_decoding;
}

void ReceiveView::setDecoding(const DecodeOptions &options)
{
    if (options == m_decoding)
        return;
    m_decoding = options;
    KavroSettings().setReceiveChoices({options.charset, options.colours});
    decodeAgain();
    updateScrollBar(true);
    viewport()->update();
}

// Windows-1252 without colours is the box's own way, a cell a byte; any other
// choice decodes the lines.
void ReceiveView::decodeAgain()
{
    const bool plain = m_decoding == DecodeOptions{Charset::Windows1252, false};
    m_layout.decode(plain ? std::nullopt : std::optional<DecodeOptions>(m_decoding),
                    [this](const Cell &cell) { return qreal(m_cells.width(cell)); });
    relayout();
}

void ReceiveView::scrollContentsBy(int, int)
{
    if (!m_syncing)
        viewport()->update();
}

void ReceiveView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ReceiveView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

QString ReceiveView::selectedText() const
{
    return m_layout.selectedText();
}

void ReceiveView::selectAll()
{
    m_layout.selectAll();
    viewport()->update();
}

void ReceiveView::copy() const
{
    if (m_layout.hasSelection())
        QApplication::clipboard()->setText(selectedText());
}

namespace
{
int spokenOffset(qsizetype offset)
{
    return int(std::min<qsizetype>(offset, INT_MAX));
}
} // namespace

int ReceiveView::spokenCursor() const
{
    return spokenOffset(m_layout.offsetOf(m_layout.cursor()));
}

std::pair<int, int> ReceiveView::spokenSelection() const
{
    const int anchor = spokenOffset(m_layout.offsetOf(m_layout.anchor()));
    const int cursor = spokenCursor();
    return {std::min(anchor, cursor), std::max(anchor, cursor)};
}

QRect ReceiveView::spokenRect(int offset) const
{
    const ReceiveLayout::Pos pos = m_layout.posAt(offset);
    const qsizetype r = m_layout.rowOf(pos);
    const int lineHeight = m_cells.lineHeight();
    const int top = Margin + int(r - firstRow()) * lineHeight;
    if (m_layout.rows().empty() || r < firstRow() || top >= viewport()->height())
        return {};
    const ReceiveLayout::Row &row = m_layout.rows()[size_t(r)];
    const int x = Margin + int(m_layout.xOf(row, pos.at));
    const QByteArray &block = m_layout.blocks()[row.block];
    const int width = pos.at < block.size() ? int(m_cells.byteWidths()[uchar(block[pos.at])]) : 1;
    return QRect(viewport()->mapTo(this, QPoint(x, top)), QSize(width, lineHeight));
}

int ReceiveView::spokenOffsetAt(const QPoint &point) const
{
    return spokenOffset(m_layout.offsetOf(hit(point)));
}

void ReceiveView::selectSpoken(int anchor, int cursor)
{
    m_layout.moveTo(m_layout.posAt(anchor), false);
    moveCursor(m_layout.posAt(cursor), true);
}
