#include "cellpainter.h"

#include "bytenames.h"
#include "codepage.h"
#include "textcolours.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPaintDevice>
#include <QPainter>
#include <QPalette>
#include <QTextLayout>
#include <QVarLengthArray>

#include <cmath>
#include <cstring>

namespace
{

// Kept appearances at most: beyond them the pictures start again.
constexpr size_t MostAppearances = 8192;

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

bool isBoxed(CellAppearance::Form form)
{
    return form == CellAppearance::Named || form == CellAppearance::Numbered;
}

} // namespace

ViewColours ViewColours::of(const QPalette &palette)
{
    return {palette.color(QPalette::Text).rgba(), palette.color(QPalette::PlaceholderText).rgba(),
            palette.color(QPalette::Base).rgb()};
}

size_t CellPainter::AppearanceHash::operator()(const CellAppearance &a) const
{
    return qHashMulti(0, quint32(a.code), a.pen, a.ground, a.width, quint8(a.form), a.underline);
}

CellPainter::CellPainter() = default;

void CellPainter::setFont(const QFont &main)
{
    m_fonts[MainFont] = main;
    m_fonts[BoldFont] = main;
    m_fonts[BoldFont].setBold(true);
    m_fonts[SmallFont] = main;
    const qreal size = main.pixelSize() > 0 ? main.pixelSize() : QFontInfo(main).pixelSize();
    m_fonts[SmallFont].setPixelSize(std::max(7, int(std::lround(size * 0.62))));
    m_raw.clear();
    for (const QFont &font : m_fonts)
        m_raw.push_back(QRawFont::fromFont(font));

    const QFontMetricsF metrics(main);
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    m_ascent = std::round(metrics.ascent() + (m_lineHeight - metrics.height()) / 2);
    m_columnWidth = std::max(1, int(std::lround(metrics.horizontalAdvance(QLatin1Char('0')))));
    m_underlineTop = m_ascent + std::max<qreal>(1, std::round(metrics.underlinePos()));
    m_underlineHeight = std::max<qreal>(1, std::round(metrics.lineWidth()));
    const QFontMetricsF smallMetrics(m_fonts[SmallFont]);
    m_smallBaseline =
        std::round((m_lineHeight + smallMetrics.ascent() - smallMetrics.descent()) / 2);

    m_latinKnown = {};
    for (QHash<char32_t, Glyph> &glyphs : m_glyphs)
        glyphs.clear();
    m_labels.clear();
    for (int b = 0; b < 256; ++b) {
        const Cell cell = byteCell(uchar(b));
        m_boxedBytes[size_t(b)] = cell.kind == Cell::Boxed;
        m_byteWidths[size_t(b)] = width(cell);
    }
    m_ids.clear();
    m_appearances.clear();
    m_pictures.clear();
    ++m_generation;
}

Cell CellPainter::byteCell(uchar byte)
{
    Cell cell;
    cell.size = 1;
    cell.code = charFromByte(byte).unicode();
    cell.kind = shownAs(byte).boxed ? Cell::Boxed : Cell::Char;
    return cell;
}

CellPainter::Glyph CellPainter::resolve(char32_t code, bool bold)
{
    const int face = bold ? BoldFont : MainFont;
    const QString text = QString::fromUcs4(&code, 1);
    const auto advanceOf = [](const QRawFont &font, quint32 index) {
        // Whole pixels: a glyph at a fractional place is rendered anew for
        // each fraction instead of coming from the glyph cache.
        return int(std::lround(font.advancesForGlyphIndexes(QList<quint32>{index}).value(0).x()));
    };
    if (const quint32 own = m_raw[size_t(face)].glyphIndexesForString(text).value(0))
        return {own, face, advanceOf(m_raw[size_t(face)], own)};
    // The font lacks it: the one Qt falls back on, as its text would show it.
    QTextLayout layout(text, m_fonts[face]);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (runs.size() != 1 || runs[0].glyphIndexes().size() != 1 || runs[0].glyphIndexes()[0] == 0)
        return {}; // no font has it
    const QRawFont raw = runs[0].rawFont();
    const quint32 index = runs[0].glyphIndexes()[0];
    auto it = std::find(m_raw.begin() + 3, m_raw.end(), raw);
    if (it == m_raw.end())
        it = m_raw.insert(m_raw.end(), raw);
    return {index, int(it - m_raw.begin()), advanceOf(raw, index)};
}

const CellPainter::Glyph &CellPainter::glyph(char32_t code, bool bold)
{
    if (code < 256) {
        Glyph &g = m_latin[bold][code];
        if (!std::exchange(m_latinKnown[bold][code], true))
            g = resolve(code, bold);
        return g;
    }
    auto it = m_glyphs[bold].constFind(code);
    if (it == m_glyphs[bold].cend())
        it = m_glyphs[bold].insert(code, resolve(code, bold));
    return *it;
}

const CellPainter::Label &CellPainter::label(char32_t code, bool numbered)
{
    Cell cell;
    cell.kind = Cell::Boxed;
    cell.code = code;
    cell.invalid = numbered;
    const QString text = boxLabel(cell);
    auto it = m_labels.constFind(text);
    if (it != m_labels.cend())
        return *it;
    const QRawFont &small = m_raw[SmallFont];
    Label l;
    l.glyphs = small.glyphIndexesForString(text);
    const QList<QPointF> advances = small.advancesForGlyphIndexes(l.glyphs);
    qreal x = 3; // inside the box, a pixel of room on each side
    for (const QPointF &advance : advances) {
        l.places.append(QPointF(x, m_smallBaseline));
        x += std::round(advance.x());
    }
    l.width = int(std::ceil(x + 4));
    return *m_labels.insert(text, l);
}

int CellPainter::width(const Cell &cell)
{
    switch (cell.kind) {
    case Cell::Hidden:
        return 0;
    case Cell::Boxed:
        return label(cell.code, cell.invalid).width;
    case Cell::Char:
        break;
    }
    const Glyph &g = glyph(cell.code, false);
    // Bold text keeps the places of the plain text.
    return g.font >= 0 ? std::max(1, g.advance) : label(cell.code, true).width;
}

CellAppearance CellPainter::appearance(const Cell &cell, const ViewColours &colours,
                                       const CellMark *mark)
{
    CellAppearance a;
    a.code = cell.code;
    a.width = quint16(width(cell));
    const QColor own = groundColour(cell.style.background);
    a.ground = mark ? mark->ground : own.isValid() ? own.rgb() : colours.ground;
    const bool missing = cell.kind == Cell::Char && glyph(cell.code, false).font < 0;
    if (cell.kind == Cell::Boxed || missing) {
        a.form = cell.invalid || missing ? CellAppearance::Numbered : CellAppearance::Named;
        // A boxed name stays muted whatever colour the text around it has.
        a.pen = textColour(TextColour::Default,
                           QColor::fromRgba(cell.invalid ? InvalidColour : colours.muted),
                           QColor::fromRgb(a.ground))
                    .rgba();
    } else {
        a.form = cell.style.bold ? CellAppearance::Bold : CellAppearance::Glyph;
        a.underline = cell.style.underline;
        a.pen = textColour(cell.style.foreground, QColor::fromRgba(colours.text),
                           QColor::fromRgb(a.ground))
                    .rgba();
    }
    if (mark && mark->pen)
        a.pen = mark->pen;
    return a;
}

CellAppearance CellPainter::character(char32_t code, QRgb pen, QRgb ground, int width, bool bold)
{
    CellAppearance a;
    a.code = code;
    a.pen = pen;
    a.ground = ground;
    a.width = quint16(width);
    if (glyph(code, bold).font < 0)
        a.form = CellAppearance::Numbered;
    else
        a.form = bold ? CellAppearance::Bold : CellAppearance::Glyph;
    return a;
}

CellPainter::CellId CellPainter::idOf(const CellAppearance &appearance)
{
    const auto [it, added] = m_ids.try_emplace(appearance, CellId(m_appearances.size()));
    if (added) {
        m_appearances.push_back(appearance);
        m_pictures.emplace_back();
    }
    return it->second;
}

void CellPainter::drawCell(QPainter &painter, QPointF at, const CellAppearance &a)
{
    const QColor pen = QColor::fromRgba(a.pen);
    QGlyphRun run;
    if (isBoxed(a.form)) {
        painter.setPen(QPen(pen, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(at.x() + 1.5, at.y() + 1.5, a.width - 3, m_lineHeight - 3));
        const Label &l = label(a.code, a.form == CellAppearance::Numbered);
        run.setRawFont(m_raw[SmallFont]);
        run.setGlyphIndexes(l.glyphs);
        run.setPositions(l.places);
    } else if (a.form != CellAppearance::Ground) {
        const Glyph &g = glyph(a.code, a.form == CellAppearance::Bold);
        run.setRawFont(m_raw[size_t(g.font)]);
        run.setGlyphIndexes({g.index});
        run.setPositions({QPointF(0, m_ascent)});
        if (a.underline)
            painter.fillRect(QRectF(at.x(), at.y() + m_underlineTop, a.width, m_underlineHeight),
                             pen);
    }
    if (!run.glyphIndexes().isEmpty()) {
        painter.setPen(pen);
        painter.drawGlyphRun(at, run);
    }
}

const CellPainter::Picture &CellPainter::picture(CellId id)
{
    Picture &p = m_pictures[id];
    if (!p.bits) {
        const CellAppearance &a = m_appearances[id];
        const int ratio = m_pictureRatio;
        p.image =
            QImage(std::max<int>(1, a.width) * ratio, m_lineHeight * ratio, QImage::Format_RGB32);
        p.image.setDevicePixelRatio(ratio);
        p.image.fill(a.ground);
        {
            QPainter painter(&p.image);
            drawCell(painter, QPointF(0, 0), a);
        }
        p.bits = reinterpret_cast<const QRgb *>(std::as_const(p.image).bits());
        p.stride = p.image.bytesPerLine() / qsizetype(sizeof(QRgb));
        p.width = p.image.width();
    }
    return p;
}

void CellPainter::forgetPictures(int ratio)
{
    m_pictureRatio = ratio;
    for (Picture &picture : m_pictures)
        picture = Picture();
}

CellPainter::Frame::Frame(CellPainter &cells, QPainter &painter, int width)
    : m_cells(cells), m_painter(painter), m_width(width)
{
    if (cells.m_appearances.size() > MostAppearances) {
        cells.m_ids.clear();
        cells.m_appearances.clear();
        cells.m_pictures.clear();
        ++cells.m_generation;
    }
    const qreal ratio = painter.device()->devicePixelRatio();
    if (ratio == std::round(ratio)) {
        m_ratio = int(ratio);
        if (m_ratio != cells.m_pictureRatio)
            cells.forgetPictures(m_ratio);
    }
}

CellPainter::Frame::~Frame()
{
    for (const auto &[pen, boxes] : m_boxes) {
        m_painter.setPen(QPen(QColor::fromRgba(pen), 1));
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawRects(boxes);
    }
    for (const auto &[key, run] : m_runs) {
        QGlyphRun glyphs;
        glyphs.setRawFont(m_cells.m_raw[size_t(key.first)]);
        glyphs.setGlyphIndexes(run.glyphs);
        glyphs.setPositions(run.places);
        m_painter.setPen(QColor::fromRgba(key.second));
        m_painter.drawGlyphRun(QPointF(0, 0), glyphs);
    }
}

void CellPainter::Frame::row(int top, QRgb ground, std::span<const PlacedCell> cells)
{
    if (m_ratio > 0)
        compose(top, ground, cells);
    else
        gather(top, ground, cells);
}

void CellPainter::Frame::compose(int top, QRgb ground, std::span<const PlacedCell> cells)
{
    const int ratio = m_ratio;
    const int w = m_width * ratio;
    const int height = m_cells.m_lineHeight * ratio;
    QImage &row = m_cells.m_rowPicture;
    if (row.width() != w || row.height() != height) {
        row = QImage(std::max(1, w), height, QImage::Format_RGB32);
        row.setDevicePixelRatio(ratio);
    }
    // Where each cell's picture goes, clipped, looked up once per row: the
    // copies below are a few pixels each, and a call per copy would cost more.
    struct Span {
        const QRgb *bits;
        qsizetype stride;
        int from; // in the row
        int to;
    };
    QVarLengthArray<Span, 256> spans;
    for (const PlacedCell &cell : cells) {
        const int x = cell.x * ratio;
        if (x >= w)
            break;
        const Picture &kept = m_cells.m_pictures[cell.id];
        const Picture &p = kept.bits ? kept : m_cells.picture(cell.id);
        const int from = std::max(0, -x);
        const int to = std::min(p.width, w - x);
        if (from < to)
            spans.append({p.bits + from, p.stride, x + from, x + to});
    }
    QRgb *bits = reinterpret_cast<QRgb *>(row.bits());
    const qsizetype stride = row.bytesPerLine() / qsizetype(sizeof(QRgb));
    for (int y = 0; y < height; ++y) {
        QRgb *line = bits + y * stride;
        QRgb *out = line;
        for (const Span &span : spans) {
            if (line + span.from > out) // cells come left to right; between them, the ground
                out = std::fill_n(out, line + span.from - out, ground);
            out = copyPixels(span.bits + y * span.stride, span.to - span.from, line + span.from);
        }
        std::fill(out, line + w, ground);
    }
    m_painter.drawImage(QPoint(0, top), row);
}

void CellPainter::Frame::gather(int top, QRgb ground, std::span<const PlacedCell> cells)
{
    const CellPainter &c = m_cells;
    const int height = c.m_lineHeight;
    m_painter.fillRect(QRect(0, top, m_width, height), QColor::fromRgb(ground));
    for (const PlacedCell &cell : cells) {
        if (cell.x >= m_width)
            break;
        const CellAppearance &a = c.m_appearances[cell.id];
        if (cell.x + a.width <= 0)
            continue;
        const QRectF box(cell.x, top, a.width, height);
        if (a.ground != ground)
            m_painter.fillRect(box, QColor::fromRgb(a.ground));
        if (isBoxed(a.form)) {
            m_boxes[a.pen].append(box.adjusted(1.5, 1.5, -1.5, -1.5));
            const Label &l = m_cells.label(a.code, a.form == CellAppearance::Numbered);
            Run &run = m_runs[{SmallFont, a.pen}];
            run.glyphs += l.glyphs;
            for (const QPointF &p : l.places)
                run.places.append(box.topLeft() + p);
        } else if (a.form != CellAppearance::Ground) {
            const Glyph &g = m_cells.glyph(a.code, a.form == CellAppearance::Bold);
            Run &run = m_runs[{g.font, a.pen}];
            run.glyphs.append(g.index);
            run.places.append(QPointF(cell.x, top + c.m_ascent));
            if (a.underline)
                m_painter.fillRect(
                    QRectF(cell.x, top + c.m_underlineTop, a.width, c.m_underlineHeight),
                    QColor::fromRgba(a.pen));
        }
    }
}
