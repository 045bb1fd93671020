#pragma once

#include "receivelayout.h"

#include <QFont>
#include <QHash>
#include <QImage>
#include <QPalette>
#include <QRawFont>

#include <array>

class QPainter;

// How the receive box draws bytes. Every byte has a cell, made once per font:
// a character of the code page, or its name drawn small in a box (ESC, NUL,
// 90) in a muted colour, so that an operator can tell which byte came. Rows
// are painted from these cells in one of two ways: at a whole pixel ratio each
// row is put together from kept pictures of its cells, a copy per scan line,
// and handed to the painter in one piece (at a fast line every row is new in
// every frame, and drawing glyph by glyph cost more than everything else the
// window does); at any other ratio a cell would not fall on whole device
// pixels, and the glyphs are drawn in place.
class CellPictures
{
public:
    CellPictures();

    // Makes the cells for this font; forgets the pictures.
    void setFont(const QFont &font);
    // The pictures were made for another palette, style or pixel ratio.
    void forget();

    const std::array<qreal, 256> &widths() const { return m_widths; }
    const std::array<bool, 256> &boxed() const { return m_boxed; }
    int lineHeight() const { return m_lineHeight; }

    // One row to paint, and the top of its line.
    struct Placed {
        qsizetype row;
        int top;
    };
    // How wide a decoded cell is drawn: its character in the box's font, or
    // its name or code small in a box.
    qreal unitWidth(const Cell &cell);

    // Paints these rows of the layout, `left` pixels in, on a ground as wide
    // as `width`, in the palette's colours (the selection highlighted).
    // Decoded rows are drawn cell by cell in the colours their sequences set.
    void paint(QPainter &painter, const ReceiveLayout &layout, const QList<Placed> &rows, int left,
               int width, const QPalette &palette);

private:
    struct ByteCell {
        bool boxed = false;
        quint8 count = 0;               // glyphs used
        std::array<quint32, 4> glyph{}; // in the main font, or the small one when boxed
        std::array<qreal, 4> dx{};
    };

    QColor penFor(bool boxed, bool selected, const QPalette &palette) const;
    const QImage &picture(uchar byte, bool selected, const QPalette &palette);
    void compose(QPainter &painter, const ReceiveLayout &layout, const QList<Placed> &rows,
                 int left, int width, const QPalette &palette);
    void drawInPlace(QPainter &painter, const ReceiveLayout &layout, const QList<Placed> &rows,
                     int left, int width, const QPalette &palette);
    void drawDecoded(QPainter &painter, const ReceiveLayout &layout, const QList<Placed> &rows,
                     int left, int width, const QPalette &palette);

    std::array<ByteCell, 256> m_cells;
    std::array<qreal, 256> m_widths{};
    std::array<bool, 256> m_boxed{};
    QFont m_mainFont;
    QFont m_smallFont;
    QHash<char32_t, qreal> m_charWidths;
    QHash<QString, qreal> m_labelWidths;
    QRawFont m_font;
    QRawFont m_small;
    qreal m_ascent = 0;
    qreal m_smallBaseline = 0;
    int m_lineHeight = 1;
    // Each byte's cell as painted, plain and selected, made when first shown.
    std::array<QImage, 512> m_pictures;
    int m_ratio = 1;
    QImage m_rowPicture;
};
