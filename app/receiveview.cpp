#include "receiveview.h"

#include "cachedcontrols.h"

#include "bytenames.h"
#include "codepage.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <cmath>
#include <cstring>
#include <functional>

namespace
{

constexpr int Margin = 3; // between the frame and the text

// The lines without their CR LF: the rows of the box start at these. A text
// that ends with CR LF has an empty last block, where the next line appears.
QList<QByteArray> blocksOf(const QList<QByteArray> &lines)
{
    QList<QByteArray> blocks;
    blocks.reserve(lines.size() + 1);
    QByteArray pending;
    for (const QByteArray &line : lines) {
        qsizetype from = 0;
        for (;;) {
            const qsizetype at = line.indexOf("\r\n", from);
            if (at < 0)
                break;
            if (from == 0 && pending.isEmpty()) {
                blocks.append(line.first(at));
            } else {
                pending += QByteArrayView(line).sliced(from, at - from);
                blocks.append(std::exchange(pending, {}));
            }
            from = at + 2;
        }
        pending += QByteArrayView(line).sliced(from);
    }
    blocks.append(pending);
    return blocks;
}

// Copies a few pixels, four at a time: a cell is a handful of pixels wide,
// too few for a call to memcpy to pay.
QRgb *copyPixels(const QRgb *from, int count, QRgb *to)
{
    for (; count >= 4; count -= 4, from += 4, to += 4)
        std::memcpy(to, from, 4 * sizeof(QRgb));
    for (; count > 0; --count)
        *to++ = *from++;
    return to;
}

} // namespace

ReceiveView::ReceiveView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBar(new CachedScrollBar(Qt::Vertical));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    // The box paints its ground itself, with the text, in one go.
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    prepareFont();

    // Twenty pictures a second are more than anyone reads text at; more often
    // would cost a slow line's worth of CPU for nothing. While text keeps
    // coming the frame timer keeps running: a running coarse timer settles on
    // the same beat as the window's other 50 ms timers (the activity bar), so
    // the whole window is painted and handed to the screen once a beat.
    m_frame.setInterval(50);
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
    m_lines.clear();
    m_changed = true;
    if (!m_frame.isActive())
        m_frame.start();
}

void ReceiveView::setLines(const QList<QByteArray> &lines)
{
    m_lines = lines;
    m_changed = true;
    if (!m_frame.isActive())
        m_frame.start();
}

void ReceiveView::prepareFont()
{
    const QFont main = font();
    QFont small = main;
    const qreal size = main.pixelSize() > 0 ? main.pixelSize() : QFontInfo(main).pixelSize();
    small.setPixelSize(std::max(7, int(std::lround(size * 0.62))));
    m_font = QRawFont::fromFont(main);
    m_small = QRawFont::fromFont(small);

    const QFontMetricsF metrics(main);
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    m_ascent = std::round(metrics.ascent() + (m_lineHeight - metrics.height()) / 2);
    const QFontMetricsF smallMetrics(small);
    m_smallBaseline =
        std::round((m_lineHeight + smallMetrics.ascent() - smallMetrics.descent()) / 2);

    auto glyphsOf = [](const QRawFont &font, const QString &text, Cell &cell) {
        const QList<quint32> glyphs = font.glyphIndexesForString(text);
        const QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs);
        qreal x = 0;
        cell.count = 0;
        for (qsizetype i = 0; i < glyphs.size() && i < qsizetype(cell.glyph.size()); ++i) {
            if (glyphs[i] == 0)
                return -1.0; // not in the font
            cell.glyph[cell.count] = glyphs[i];
            cell.dx[cell.count] = x;
            ++cell.count;
            // Whole pixels: a glyph at a fractional place is rendered anew for
            // each fraction instead of coming from the glyph cache.
            x += std::round(advances[i].x());
        }
        return x;
    };
    for (int b = 0; b < 256; ++b) {
        Cell &cell = m_cells[b];
        ShownByte shown = shownAs(uchar(b));
        qreal width = -1;
        if (!shown.boxed)
            width = glyphsOf(m_font, shown.text, cell);
        if (width < 0) {
            // A character the font lacks would be one more empty box, alike
            // for all of them: its code says which byte came.
            if (!shown.boxed)
                shown.text = QString::number(b, 16).toUpper();
            shown.boxed = true;
            width = glyphsOf(m_small, shown.text, cell);
            for (qsizetype i = 0; i < cell.count; ++i)
                cell.dx[i] += 3;
            width = std::ceil(std::max<qreal>(width, 0) + 7);
        }
        cell.boxed = shown.boxed;
        cell.width = width;
    }
    m_layoutWidth = -1;
    forgetPictures();
}

int ReceiveView::lineHeight() const
{
    return m_lineHeight;
}

int ReceiveView::textLeft() const
{
    return Margin;
}

int ReceiveView::firstRow() const
{
    return verticalScrollBar()->value();
}

QByteArrayView ReceiveView::rowBytes(const Row &row) const
{
    return QByteArrayView(m_blocks[row.block]).sliced(row.begin, row.end - row.begin);
}

void ReceiveView::layoutRows()
{
    const qreal width = std::max(1, viewport()->width() - 2 * Margin);
    m_layoutWidth = viewport()->width();
    m_rows.clear();
    for (qsizetype b = 0; b < m_blocks.size(); ++b) {
        const QByteArray &block = m_blocks[b];
        const auto *bytes = reinterpret_cast<const uchar *>(block.constData());
        qsizetype begin = 0;
        qreal x = 0;
        for (qsizetype i = 0; i < block.size(); ++i) {
            const qreal w = m_cells[bytes[i]].width;
            // Wrap anywhere, but never leave a row empty.
            if (x + w > width && i > begin) {
                m_rows.push_back({b, begin, i});
                begin = i;
                x = 0;
            }
            x += w;
        }
        m_rows.push_back({b, begin, block.size()});
    }
}

void ReceiveView::updateScrollBar(bool toEnd)
{
    QScrollBar *bar = verticalScrollBar();
    const int inSight = std::max(1, (viewport()->height() - Margin) / m_lineHeight);
    const bool atEnd = bar->value() >= bar->maximum();
    // The steps are set only when they change: setting them repaints the bar
    // even when they stay the same.
    bar->setRange(0, std::max(0, int(m_rows.size()) - inSight));
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
    QList<QByteArray> blocks = blocksOf(m_lines);

    // The selection stays on its text while old lines leave at the top:
    // find how many blocks left, every later complete block unchanged.
    if (hasSelection()) {
        qsizetype drop = -1;
        for (qsizetype d = 0; d < m_blocks.size() && drop < 0; ++d) {
            const qsizetype rest = m_blocks.size() - d;
            bool same = rest <= blocks.size();
            for (qsizetype i = 0; same && i < rest - 1; ++i)
                same = m_blocks[d + i] == blocks[i];
            if (same)
                drop = d;
        }
        m_anchor.block -= drop < 0 ? m_blocks.size() : drop;
        m_cursor.block -= drop < 0 ? m_blocks.size() : drop;
        if (m_anchor.block < 0 || m_cursor.block < 0)
            m_anchor = m_cursor = Pos{blocks.size() - 1, blocks.last().size()};
    } else {
        m_anchor = m_cursor = Pos{blocks.size() - 1, blocks.last().size()};
    }

    // What is painted now, to repaint only the rows that change. The old
    // blocks stay alive until the rows are compared.
    const auto before = viewsInSight();
    const int beforeFirst = firstRow();
    const QList<QByteArray> oldBlocks = std::exchange(m_blocks, std::move(blocks));
    layoutRows();
    m_syncing = true;
    updateScrollBar(true);
    m_syncing = false;
    const auto after = viewsInSight();

    QRect changed;
    if (beforeFirst != firstRow() && hasSelection()) {
        changed = viewport()->rect(); // the selection moves with its rows
    } else {
        const qsizetype n = std::max(before.size(), after.size());
        for (qsizetype i = 0; i < n; ++i) {
            if (i >= after.size() || i >= before.size() || before[i] != after[i])
                changed |=
                    QRect(0, Margin + int(i) * m_lineHeight, viewport()->width(), m_lineHeight);
        }
        if (hasFocus()) // the caret sits at the end of the newest text
            changed |=
                QRect(0, Margin + int(std::max<qsizetype>(after.size() - 1, 0)) * m_lineHeight,
                      viewport()->width(), m_lineHeight);
    }
    if (!changed.isEmpty())
        viewport()->update(changed);
}

QVarLengthArray<QByteArrayView, 32> ReceiveView::viewsInSight() const
{
    QVarLengthArray<QByteArrayView, 32> rows;
    if (m_rows.empty())
        return rows;
    const qsizetype first = std::min<qsizetype>(firstRow(), qsizetype(m_rows.size()) - 1);
    const qsizetype last = std::min<qsizetype>(
        qsizetype(m_rows.size()),
        first + (viewport()->height() - Margin + m_lineHeight - 1) / m_lineHeight);
    for (qsizetype r = first; r < last; ++r)
        rows.append(rowBytes(m_rows[size_t(r)]));
    return rows;
}

QList<QByteArray> ReceiveView::rowsInSight() const
{
    QList<QByteArray> rows;
    for (QByteArrayView row : viewsInSight())
        rows.append(row.toByteArray());
    return rows;
}

qreal ReceiveView::xOf(const Row &row, qsizetype at) const
{
    qreal x = textLeft();
    const QByteArray &block = m_blocks[row.block];
    for (qsizetype i = row.begin; i < at && i < row.end; ++i)
        x += m_cells[uchar(block[i])].width;
    return x;
}

QColor ReceiveView::penFor(bool boxed, bool selected) const
{
    const QPalette &pal = palette();
    if (selected)
        return pal.color(QPalette::HighlightedText);
    return pal.color(boxed ? QPalette::PlaceholderText : QPalette::Text);
}

const QImage &ReceiveView::cellPicture(uchar byte, bool selected)
{
    QImage &picture = m_cellPictures[size_t(byte) * 2 + (selected ? 1 : 0)];
    const Cell &cell = m_cells[byte];
    if (picture.isNull() && cell.width >= 1) {
        const int ratio = int(m_pictureRatio);
        picture = QImage(int(cell.width) * ratio, m_lineHeight * ratio, QImage::Format_RGB32);
        picture.setDevicePixelRatio(ratio);
        picture.fill(palette().color(selected ? QPalette::Highlight : QPalette::Base));
        QPainter painter(&picture);
        painter.setPen(penFor(cell.boxed, selected));
        if (cell.boxed)
            painter.drawRect(QRectF(1.5, 1.5, cell.width - 3, m_lineHeight - 3));
        QList<quint32> glyphs;
        QList<QPointF> places;
        const qreal baseline = cell.boxed ? m_smallBaseline : m_ascent;
        for (int g = 0; g < cell.count; ++g) {
            glyphs.append(cell.glyph[size_t(g)]);
            places.append(QPointF(cell.dx[size_t(g)], baseline));
        }
        if (!glyphs.isEmpty()) {
            QGlyphRun run;
            run.setRawFont(cell.boxed ? m_small : m_font);
            run.setGlyphIndexes(glyphs);
            run.setPositions(places);
            painter.drawGlyphRun(QPointF(0, 0), run);
        }
    }
    return picture;
}

void ReceiveView::paintEvent(QPaintEvent *event)
{
    if (m_layoutWidth != viewport()->width()) {
        layoutRows();
        updateScrollBar(false);
    }
    QPainter painter(viewport());
    const QRect clip = event->rect();
    const qreal ratio = viewport()->devicePixelRatio();
    if (ratio != m_pictureRatio) {
        m_pictureRatio = ratio;
        forgetPictures();
    }
    // A cell covers whole device pixels only at a whole pixel ratio; at
    // any other the glyphs are drawn in place.
    const int shown =
        ratio == std::round(ratio) ? composeRows(painter, clip) : drawRows(painter, clip);

    // The ground above the first row and below the last.
    const QBrush ground = palette().brush(QPalette::Base);
    painter.fillRect(clip & QRect(0, 0, viewport()->width(), Margin), ground);
    const int below = Margin + shown * m_lineHeight;
    painter.fillRect(clip & QRect(0, below, viewport()->width(), viewport()->height() - below),
                     ground);

    if (hasFocus()) {
        const qsizetype r = rowOf(m_cursor);
        if (r >= firstRow()) {
            const int top = Margin + int(r - firstRow()) * m_lineHeight;
            const int x = int(xOf(m_rows[size_t(r)], m_cursor.at));
            painter.fillRect(QRect(x, top, 1, m_lineHeight), palette().color(QPalette::Text));
        }
    }
}

int ReceiveView::forRowsMeeting(const QRect &clip,
                                const std::function<void(const Row &, int)> &paint) const
{
    const qsizetype first = firstRow();
    int shown = 0;
    for (qsizetype r = first; r < qsizetype(m_rows.size()); ++r, ++shown) {
        const int top = Margin + int(r - first) * m_lineHeight;
        if (top >= viewport()->height())
            break;
        if (top + m_lineHeight > clip.top() && top <= clip.bottom())
            paint(m_rows[size_t(r)], top);
    }
    return shown;
}

int ReceiveView::composeRows(QPainter &painter, const QRect &clip)
{
    // Each row is put together from the cells' pictures, a copy per scan
    // line, and handed to the painter in one piece: at a fast line every row
    // is new in every frame, and drawing its glyphs one by one cost more than
    // everything else the window does.
    const int ratio = int(m_pictureRatio);
    const int width = viewport()->width() * ratio;
    const int height = m_lineHeight * ratio;
    if (m_rowPicture.width() != width || m_rowPicture.height() != height) {
        m_rowPicture = QImage(width, height, QImage::Format_RGB32);
        m_rowPicture.setDevicePixelRatio(ratio);
    }
    const QRgb base = palette().color(QPalette::Base).rgb();
    const QRgb highlight = palette().color(QPalette::Highlight).rgb();
    const Pos from = std::min(m_anchor, m_cursor);
    const Pos to = std::max(m_anchor, m_cursor);
    // Where each cell's picture lies, looked up once per row: the copies
    // below are a few pixels each, and a call per copy would cost more.
    struct Piece {
        const QRgb *bits;
        qsizetype stride;
        int width;
    };
    QVarLengthArray<Piece, 256> pieces;
    return forRowsMeeting(clip, [&](const Row &row, int top) {
        const QByteArray &block = m_blocks[row.block];
        pieces.clear();
        int end = std::min(Margin * ratio, width);
        for (qsizetype i = row.begin; i < row.end && end < width; ++i) {
            const Pos here{row.block, i};
            const QImage &cell = cellPicture(uchar(block[i]), from <= here && here < to);
            const int w = std::min(cell.width(), width - end);
            pieces.append({reinterpret_cast<const QRgb *>(cell.constBits()),
                           cell.bytesPerLine() / qsizetype(sizeof(QRgb)), w});
            end += w;
        }
        // A selection across a line break shows as a little room after it.
        const bool room = row.end == block.size() && from <= Pos{row.block, row.end} &&
                          Pos{row.block, row.end} < to;
        const int roomEnd = room ? std::min(end + 4 * ratio, width) : end;

        QRgb *bits = reinterpret_cast<QRgb *>(m_rowPicture.bits());
        const qsizetype stride = m_rowPicture.bytesPerLine() / qsizetype(sizeof(QRgb));
        for (int y = 0; y < height; ++y) {
            QRgb *line = bits + y * stride;
            QRgb *out = std::fill_n(line, std::min(Margin * ratio, width), base);
            for (const Piece &piece : pieces)
                out = copyPixels(piece.bits + y * piece.stride, piece.width, out);
            std::fill(line + end, line + roomEnd, highlight);
            std::fill(line + roomEnd, line + width, base);
        }
        painter.drawImage(QPoint(0, top), m_rowPicture);
    });
}

int ReceiveView::drawRows(QPainter &painter, const QRect &clip)
{
    const QPalette &pal = palette();
    const Pos from = std::min(m_anchor, m_cursor);
    const Pos to = std::max(m_anchor, m_cursor);

    // Glyphs gather in four runs, drawn at the end: plain and boxed, each
    // normal and selected.
    QList<quint32> glyphs[4];
    QList<QPointF> places[4];
    QList<QRectF> boxes[2];
    QList<QRectF> selected;

    const int shown = forRowsMeeting(clip, [&](const Row &row, int top) {
        painter.fillRect(QRect(0, top, viewport()->width(), m_lineHeight),
                         pal.brush(QPalette::Base));
        const QByteArray &block = m_blocks[row.block];
        qreal x = textLeft();
        for (qsizetype i = row.begin; i < row.end; ++i) {
            const Cell &cell = m_cells[uchar(block[i])];
            const Pos here{row.block, i};
            const bool sel = from <= here && here < to;
            if (sel)
                selected.append(QRectF(x, top, cell.width, m_lineHeight));
            const int run = (cell.boxed ? 2 : 0) + (sel ? 1 : 0);
            const qreal baseline = top + (cell.boxed ? m_smallBaseline : m_ascent);
            for (int g = 0; g < cell.count; ++g) {
                glyphs[run].append(cell.glyph[size_t(g)]);
                places[run].append(QPointF(x + cell.dx[size_t(g)], baseline));
            }
            if (cell.boxed)
                boxes[sel ? 1 : 0].append(
                    QRectF(x + 1.5, top + 1.5, cell.width - 3, m_lineHeight - 3));
            x += cell.width;
        }
        if (row.end == block.size() && from <= Pos{row.block, row.end} &&
            Pos{row.block, row.end} < to)
            selected.append(QRectF(x, top, 4, m_lineHeight));
    });

    for (const QRectF &r : std::as_const(selected))
        painter.fillRect(r, pal.brush(QPalette::Highlight));
    for (int k = 0; k < 2; ++k) {
        if (boxes[k].isEmpty())
            continue;
        painter.setPen(QPen(penFor(true, k == 1), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRects(boxes[k]);
    }
    for (int k = 0; k < 4; ++k) {
        if (glyphs[k].isEmpty())
            continue;
        QGlyphRun run;
        run.setRawFont(k < 2 ? m_font : m_small);
        run.setGlyphIndexes(glyphs[k]);
        run.setPositions(places[k]);
        painter.setPen(penFor(k >= 2, k % 2 == 1));
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
    return shown;
}

void ReceiveView::forgetPictures()
{
    for (QImage &picture : m_cellPictures)
        picture = QImage();
}

void ReceiveView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    layoutRows();
    updateScrollBar(false);
}

void ReceiveView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        forgetPictures();
    if (event->type() == QEvent::FontChange) {
        prepareFont();
        layoutRows();
        updateScrollBar(false);
        viewport()->update();
    }
}

qsizetype ReceiveView::rowOf(const Pos &pos) const
{
    // Rows are few (a screenful and a bit): a walk from the end is enough.
    for (qsizetype r = qsizetype(m_rows.size()) - 1; r >= 0; --r) {
        const Row &row = m_rows[size_t(r)];
        if (row.block == pos.block && row.begin <= pos.at)
            return r;
    }
    return 0;
}

ReceiveView::Pos ReceiveView::hit(const QPoint &point) const
{
    if (m_rows.empty())
        return {};
    const qsizetype r = std::clamp<qsizetype>(firstRow() + (point.y() - Margin) / m_lineHeight -
                                                  (point.y() < Margin ? 1 : 0),
                                              0, qsizetype(m_rows.size()) - 1);
    const Row &row = m_rows[size_t(r)];
    const QByteArray &block = m_blocks[row.block];
    qreal x = textLeft();
    for (qsizetype i = row.begin; i < row.end; ++i) {
        const qreal w = m_cells[uchar(block[i])].width;
        if (point.x() < x + w / 2)
            return {row.block, i};
        x += w;
    }
    // Past the end of a wrapped row: before the first byte of the next one.
    return {row.block, row.end};
}

void ReceiveView::moveCursor(const Pos &to, bool keepAnchor)
{
    m_cursor = to;
    if (!keepAnchor)
        m_anchor = to;
    ensureVisible(to);
    viewport()->update();
}

void ReceiveView::ensureVisible(const Pos &pos)
{
    const int r = int(rowOf(pos));
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
    // A word: the run of bytes around the click that are neither blanks nor
    // boxed names.
    const Pos at = hit(event->position().toPoint());
    const QByteArray &block = m_blocks[at.block];
    auto inWord = [&](qsizetype i) { return block[i] != ' ' && !m_cells[uchar(block[i])].boxed; };
    qsizetype begin = at.at, end = at.at;
    while (begin > 0 && inWord(begin - 1))
        --begin;
    while (end < block.size() && inWord(end))
        ++end;
    m_anchor = {at.block, begin};
    m_cursor = {at.block, end};
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
    Pos to = m_cursor;
    const qsizetype r = rowOf(m_cursor);
    const Row &row = m_rows[size_t(r)];
    auto aimAt = [&](qsizetype target) {
        if (m_wantedX < 0)
            m_wantedX = xOf(row, m_cursor.at);
        const qsizetype t = std::clamp<qsizetype>(target, 0, qsizetype(m_rows.size()) - 1);
        const int y = Margin + int(t - firstRow()) * m_lineHeight + m_lineHeight / 2;
        return hit(QPoint(int(m_wantedX), y));
    };
    switch (event->key()) {
    case Qt::Key_Left:
        if (to.at > 0)
            --to.at;
        else if (to.block > 0)
            to = {to.block - 1, m_blocks[to.block - 1].size()};
        break;
    case Qt::Key_Right:
        if (to.at < m_blocks[to.block].size())
            ++to.at;
        else if (to.block + 1 < m_blocks.size())
            to = {to.block + 1, 0};
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
        to = ctrl ? Pos{m_blocks.size() - 1, m_blocks.last().size()} : Pos{row.block, row.end};
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
    copyAction->setEnabled(hasSelection());
    menu.addSeparator();
    QAction *all = menu.addAction(QStringLiteral("Alles auswählen"), this, &ReceiveView::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
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
    const Pos from = std::min(m_anchor, m_cursor);
    const Pos to = std::max(m_anchor, m_cursor);
    QString text;
    for (qsizetype b = from.block; b <= to.block && b < m_blocks.size(); ++b) {
        const QByteArray &block = m_blocks[b];
        const qsizetype begin = b == from.block ? from.at : 0;
        const qsizetype end = b == to.block ? to.at : block.size();
        for (qsizetype i = begin; i < end; ++i) {
            const uchar byte = uchar(block[i]);
            const ShownByte shown = shownAs(byte);
            if (byte == '\t')
                text += QLatin1Char('\t');
            else if (shown.boxed && byte != 0xa0 && byte != 0xad)
                text += QLatin1Char('<') + shown.text + QLatin1Char('>');
            else
                text += charFromByte(byte);
        }
        if (b != to.block)
            text += QLatin1Char('\n');
    }
    return text;
}

void ReceiveView::selectAll()
{
    m_anchor = {};
    m_cursor = {m_blocks.size() - 1, m_blocks.last().size()};
    viewport()->update();
}

void ReceiveView::copy() const
{
    if (hasSelection())
        QApplication::clipboard()->setText(selectedText());
}
