#include "cellpictures.h"

#include "bytenames.h"
#include "textcolours.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintDevice>
#include <QPainter>
#include <QVarLengthArray>

#include <cmath>
#include <cstring>

namespace
{

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

CellPictures::CellPictures() = default;

void CellPictures::setFont(const QFont &main)
{
    QFont small = main;
    m_mainFont = main;
    const qreal size = main.pixelSize() > 0 ? main.pixelSize() : QFontInfo(main).pixelSize();
    small.setPixelSize(std::max(7, int(std::lround(size * 0.62))));
    m_smallFont = small;
    m_charWidths.clear();
    m_labelWidths.clear();
    m_font = QRawFont::fromFont(main);
    m_small = QRawFont::fromFont(small);

    const QFontMetricsF metrics(main);
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    m_ascent = std::round(metrics.ascent() + (m_lineHeight - metrics.height()) / 2);
    const QFontMetricsF smallMetrics(small);
    m_smallBaseline =
        std::round((m_lineHeight + smallMetrics.ascent() - smallMetrics.descent()) / 2);

    auto glyphsOf = [](const QRawFont &font, const QString &text, ByteCell &cell) {
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
        ByteCell &cell = m_cells[b];
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
        m_boxed[b] = shown.boxed;
        m_widths[b] = width;
    }
    forget();
}

void CellPictures::forget()
{
    for (QImage &picture : m_pictures)
        picture = QImage();
}

QColor CellPictures::penFor(bool boxed, bool selected, const QPalette &palette) const
{
    if (selected)
        return palette.color(QPalette::HighlightedText);
    return palette.color(boxed ? QPalette::PlaceholderText : QPalette::Text);
}

const QImage &CellPictures::picture(uchar byte, bool selected, const QPalette &palette)
{
    QImage &picture = m_pictures[size_t(byte) * 2 + (selected ? 1 : 0)];
    const ByteCell &cell = m_cells[byte];
    const qreal width = m_widths[byte];
    if (picture.isNull() && width >= 1) {
        picture = QImage(int(width) * m_ratio, m_lineHeight * m_ratio, QImage::Format_RGB32);
        picture.setDevicePixelRatio(m_ratio);
        picture.fill(palette.color(selected ? QPalette::Highlight : QPalette::Base));
        QPainter painter(&picture);
        painter.setPen(penFor(cell.boxed, selected, palette));
        if (cell.boxed)
            painter.drawRect(QRectF(1.5, 1.5, width - 3, m_lineHeight - 3));
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

qreal CellPictures::unitWidth(const Cell &cell)
{
    if (cell.kind == Cell::Char) {
        auto it = m_charWidths.constFind(cell.code);
        if (it == m_charWidths.cend())
            it = m_charWidths.insert(
                cell.code,
                std::round(
                    QFontMetricsF(m_mainFont).horizontalAdvance(QString::fromUcs4(&cell.code, 1))));
        return std::max<qreal>(*it, 1);
    }
    const QString label = boxLabel(cell);
    auto it = m_labelWidths.constFind(label);
    if (it == m_labelWidths.cend())
        it = m_labelWidths.insert(
            label, std::ceil(QFontMetricsF(m_smallFont).horizontalAdvance(label) + 7));
    return *it;
}

void CellPictures::drawDecoded(QPainter &painter, const ReceiveLayout &layout,
                               const QList<Placed> &rows, int left, int width,
                               const QPalette &palette)
{
    // Few rows, drawn cell by cell: a character set or colours are a choice
    // for reading a board's log, not for a flood.
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    for (const Placed &placed : rows) {
        const int top = placed.top;
        const ReceiveLayout::Row &row = layout.rows()[size_t(placed.row)];
        painter.fillRect(QRect(0, top, width, m_lineHeight), palette.brush(QPalette::Base));
        const std::vector<ReceiveLayout::Unit> &units = layout.units(row.block);
        qreal x = left;
        for (qsizetype u = layout.unitAt(row.block, row.begin);
             u < qsizetype(units.size()) && units[size_t(u)].cell.begin < row.end; ++u) {
            const ReceiveLayout::Unit &unit = units[size_t(u)];
            if (unit.width <= 0)
                continue;
            const Cell &cell = unit.cell;
            const QRectF box(x, top, unit.width, m_lineHeight);
            const bool sel = layout.selected({row.block, cell.begin});
            const QColor ground =
                sel ? palette.color(QPalette::Highlight) : groundColour(cell.style.background);
            if (ground.isValid())
                painter.fillRect(box, ground);
            const bool boxed = cell.kind == Cell::Boxed;
            painter.setPen(sel ? palette.color(QPalette::HighlightedText)
                               : textColour(cell.style.foreground,
                                            boxed ? palette.color(QPalette::PlaceholderText) : text,
                                            ground.isValid() ? ground : base));
            if (boxed) {
                painter.setFont(m_smallFont);
                painter.setBrush(Qt::NoBrush);
                painter.drawRect(box.adjusted(1.5, 1.5, -1.5, -1.5));
                painter.drawText(QPointF(x + 3, top + m_smallBaseline), boxLabel(cell));
            } else {
                QFont f = m_mainFont;
                f.setBold(cell.style.bold);
                f.setUnderline(cell.style.underline);
                painter.setFont(f);
                painter.drawText(QPointF(x, top + m_ascent), QString::fromUcs4(&cell.code, 1));
            }
            x += unit.width;
        }
        if (layout.breakSelected(row))
            painter.fillRect(QRectF(x, top, 4, m_lineHeight), palette.brush(QPalette::Highlight));
    }
}

void CellPictures::paint(QPainter &painter, const ReceiveLayout &layout, const QList<Placed> &rows,
                         int left, int width, const QPalette &palette)
{
    if (layout.decoding()) {
        drawDecoded(painter, layout, rows, left, width, palette);
        return;
    }
    const qreal ratio = painter.device()->devicePixelRatio();
    if (ratio == std::round(ratio)) {
        if (int(ratio) != m_ratio) {
            m_ratio = int(ratio);
            forget();
        }
        compose(painter, layout, rows, left, width, palette);
    } else {
        drawInPlace(painter, layout, rows, left, width, palette);
    }
}

void CellPictures::compose(QPainter &painter, const ReceiveLayout &layout,
                           const QList<Placed> &rows, int left, int width, const QPalette &palette)
{
    const int ratio = m_ratio;
    const int w = width * ratio;
    const int height = m_lineHeight * ratio;
    if (m_rowPicture.width() != w || m_rowPicture.height() != height) {
        m_rowPicture = QImage(w, height, QImage::Format_RGB32);
        m_rowPicture.setDevicePixelRatio(ratio);
    }
    const QRgb base = palette.color(QPalette::Base).rgb();
    const QRgb highlight = palette.color(QPalette::Highlight).rgb();
    // Where each cell's picture lies, looked up once per row: the copies
    // below are a few pixels each, and a call per copy would cost more.
    struct Piece {
        const QRgb *bits;
        qsizetype stride;
        int width;
    };
    QVarLengthArray<Piece, 256> pieces;
    for (const Placed &placed : rows) {
        const ReceiveLayout::Row &row = layout.rows()[size_t(placed.row)];
        const QByteArray &block = layout.blocks()[row.block];
        pieces.clear();
        const int start = std::min(left * ratio, w);
        int end = start;
        for (qsizetype i = row.begin; i < row.end && end < w; ++i) {
            const QImage &cell = picture(uchar(block[i]), layout.selected({row.block, i}), palette);
            const int cw = std::min(cell.width(), w - end);
            pieces.append({reinterpret_cast<const QRgb *>(cell.constBits()),
                           cell.bytesPerLine() / qsizetype(sizeof(QRgb)), cw});
            end += cw;
        }
        // A selection across a line break shows as a little room after it.
        const int roomEnd = layout.breakSelected(row) ? std::min(end + 4 * ratio, w) : end;

        QRgb *bits = reinterpret_cast<QRgb *>(m_rowPicture.bits());
        const qsizetype stride = m_rowPicture.bytesPerLine() / qsizetype(sizeof(QRgb));
        for (int y = 0; y < height; ++y) {
            QRgb *line = bits + y * stride;
            QRgb *out = std::fill_n(line, start, base);
            for (const Piece &piece : pieces)
                out = copyPixels(piece.bits + y * piece.stride, piece.width, out);
            std::fill(line + end, line + roomEnd, highlight);
            std::fill(line + roomEnd, line + w, base);
        }
        painter.drawImage(QPoint(0, placed.top), m_rowPicture);
    }
}

void CellPictures::drawInPlace(QPainter &painter, const ReceiveLayout &layout,
                               const QList<Placed> &rows, int left, int width,
                               const QPalette &palette)
{
    // Glyphs gather in four runs, drawn at the end: plain and boxed, each
    // normal and selected.
    QList<quint32> glyphs[4];
    QList<QPointF> places[4];
    QList<QRectF> boxes[2];
    QList<QRectF> selected;

    for (const Placed &placed : rows) {
        const int top = placed.top;
        const ReceiveLayout::Row &row = layout.rows()[size_t(placed.row)];
        painter.fillRect(QRect(0, top, width, m_lineHeight), palette.brush(QPalette::Base));
        const QByteArray &block = layout.blocks()[row.block];
        qreal x = left;
        for (qsizetype i = row.begin; i < row.end; ++i) {
            const uchar byte = uchar(block[i]);
            const ByteCell &cell = m_cells[byte];
            const qreal cw = m_widths[byte];
            const bool sel = layout.selected({row.block, i});
            if (sel)
                selected.append(QRectF(x, top, cw, m_lineHeight));
            const int run = (cell.boxed ? 2 : 0) + (sel ? 1 : 0);
            const qreal baseline = top + (cell.boxed ? m_smallBaseline : m_ascent);
            for (int g = 0; g < cell.count; ++g) {
                glyphs[run].append(cell.glyph[size_t(g)]);
                places[run].append(QPointF(x + cell.dx[size_t(g)], baseline));
            }
            if (cell.boxed)
                boxes[sel ? 1 : 0].append(QRectF(x + 1.5, top + 1.5, cw - 3, m_lineHeight - 3));
            x += cw;
        }
        if (layout.breakSelected(row))
            selected.append(QRectF(x, top, 4, m_lineHeight));
    }

    for (const QRectF &r : std::as_const(selected))
        painter.fillRect(r, palette.brush(QPalette::Highlight));
    for (int k = 0; k < 2; ++k) {
        if (boxes[k].isEmpty())
            continue;
        painter.setPen(QPen(penFor(true, k == 1, palette), 1));
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
        painter.setPen(penFor(k >= 2, k % 2 == 1, palette));
        painter.drawGlyphRun(QPointF(0, 0), run);
    }
}
