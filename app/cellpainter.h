#pragma once

#include "linedecoder.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRawFont>

#include <array>
#include <map>
#include <span>
#include <unordered_map>
#include <vector>

class QPainter;
class QPalette;

// An invalid byte of UTF-8, boxed: dark red, in every view.
constexpr QRgb InvalidColour = qRgb(0xb0, 0x00, 0x00);

// Everything about how one cell looks; the kept pictures are found by it.
struct CellAppearance {
    enum Form : quint8 {
        Glyph,    // the character `code`
        Bold,     // the character in the bold face
        Named,    // `code` by its name, small in a box (ESC, NBSP, 9D)
        Numbered, // `code` as hex digits, small in a box (an invalid byte, a
                  // character no font has)
        Ground,   // only the ground
    };
    char32_t code = 0;
    QRgb pen = 0; // with alpha: the muted colour is the text's, half seen
    QRgb ground = 0;
    quint16 width = 0;
    Form form = Glyph;
    bool underline = false;
    bool operator==(const CellAppearance &) const = default;
};

// A view's own colours, from its palette.
struct ViewColours {
    QRgb text = 0;  // the text, where a sequence set none
    QRgb muted = 0; // boxed names
    QRgb ground = 0;
    static ViewColours of(const QPalette &palette);
};

// What marks a cell over its own colours: the selection, a search hit.
struct CellMark {
    QRgb ground = 0;
    QRgb pen = 0; // 0: the cell keeps its pen, made readable on the mark
};

// How received text is drawn, in the receive box, the history and the
// command box alike: the same byte in the same font is the same pixels
// everywhere. Cells have whole-pixel widths: a character as wide as its
// glyph's advance, a byte without a character of its own (ESC, NUL, the C1
// controls) its name drawn small in a thin box, in the muted colour.
//
// Rows are painted from cells in one of two ways. At a whole pixel ratio
// each row is put together from kept pictures of its cells, a copy per scan
// line, and handed to the painter in one piece: at a fast line every row is
// new in every frame, and drawing glyph by glyph cost more than everything
// else the window does. At any other ratio a cell would not fall on whole
// device pixels, and the glyphs are drawn in place, gathered into a few runs.
// A character the font lacks is drawn from the font Qt falls back on; one no
// font has, as its code in a box.
class CellPainter
{
public:
    // A cell as a row holds it: the painter keeps its appearance and
    // picture under this number.
    using CellId = quint32;
    struct PlacedCell {
        int x; // from the row's left edge
        CellId id;
    };

    CellPainter();

    // Makes the cells for this font (and its bold face and the small one of
    // the boxed names); forgets every number handed out.
    void setFont(const QFont &font);

    int lineHeight() const { return m_lineHeight; }
    // Where the base line of the text lies below a cell's top.
    qreal ascent() const { return m_ascent; }
    // The width of a column of a monospaced text: the advance of a digit.
    int columnWidth() const { return m_columnWidth; }

    // The cell of a received byte in the code page (codepage.h): its
    // character, or its name in a box (bytenames.h).
    static Cell byteCell(uchar byte);
    // The widths of the code page's 256 cells, and which of them are boxed.
    const std::array<qreal, 256> &byteWidths() const { return m_byteWidths; }
    const std::array<bool, 256> &boxedBytes() const { return m_boxedBytes; }
    // How wide a decoded cell is drawn; 0 for a hidden one.
    int width(const Cell &cell);

    // How a decoded cell looks in a view: in the colours its sequences set,
    // the pen readable on its ground (textcolours.h), unless marked.
    CellAppearance appearance(const Cell &cell, const ViewColours &colours,
                              const CellMark *mark = nullptr);
    // A character in a place of its own width (a time, a mark, a hex digit).
    CellAppearance character(char32_t code, QRgb pen, QRgb ground, int width, bool bold = false);

    // The number of this appearance, the same for as long as the font stays.
    CellId idOf(const CellAppearance &appearance);
    // Bumped when numbers handed out before are no longer valid: a new font,
    // or too many appearances kept (a device that sends every colour there
    // is must not make the pictures grow without end).
    quint64 generation() const { return m_generation; }

    // Paints one cell with its top left at `at`, without its ground: the
    // command box draws its boxed bytes over its own.
    void drawCell(QPainter &painter, QPointF at, const CellAppearance &appearance);

    // Paints the rows of one frame, `width` pixels wide, top to bottom. The
    // frame may forget numbers handed out before (generation()): take them
    // after it starts.
    class Frame
    {
    public:
        Frame(CellPainter &cells, QPainter &painter, int width);
        ~Frame();
        Frame(const Frame &) = delete;
        Frame &operator=(const Frame &) = delete;
        // One row at `top`: these cells, left to right, and the ground
        // between and after them.
        void row(int top, QRgb ground, std::span<const PlacedCell> cells);

    private:
        void compose(int top, QRgb ground, std::span<const PlacedCell> cells);
        void gather(int top, QRgb ground, std::span<const PlacedCell> cells);

        CellPainter &m_cells;
        QPainter &m_painter;
        const int m_width;
        int m_ratio = 0; // 0: drawn in place
        // In place: the glyphs by font and pen, and the boxes by pen, drawn
        // at the end.
        struct Run {
            QList<quint32> glyphs;
            QList<QPointF> places;
        };
        std::map<std::pair<int, QRgb>, Run> m_runs;
        std::map<QRgb, QList<QRectF>> m_boxes;
    };

private:
    // A glyph of one of the fonts: the main face, the bold one, the small
    // one, or one Qt falls back on.
    struct Glyph {
        quint32 index = 0;
        int font = -1; // -1: no font has it
        int advance = 0;
    };
    struct Label {
        QList<quint32> glyphs;
        QList<QPointF> places; // from the cell's left, on the base line
        int width = 0;
    };
    enum FontIndex { MainFont, BoldFont, SmallFont };

    const Glyph &glyph(char32_t code, bool bold);
    Glyph resolve(char32_t code, bool bold);
    const Label &label(char32_t code, bool numbered);
    // A cell's picture, and where its pixels are: a row copies a few of
    // them per cell and scan line, too few for a call to QImage per cell.
    struct Picture {
        QImage image;
        const QRgb *bits = nullptr; // nullptr: not made yet
        qsizetype stride = 0;       // in pixels
        int width = 0;              // in device pixels
    };
    const Picture &picture(CellId id);
    void forgetPictures(int ratio);

    QFont m_fonts[3];
    std::vector<QRawFont> m_raw; // the three, then those fallen back on
    int m_lineHeight = 1;
    int m_columnWidth = 1;
    qreal m_ascent = 0;
    qreal m_smallBaseline = 0;
    qreal m_underlineTop = 0;
    qreal m_underlineHeight = 1;
    std::array<std::array<Glyph, 256>, 2> m_latin{}; // plain and bold, made when asked
    std::array<std::array<bool, 256>, 2> m_latinKnown{};
    QHash<char32_t, Glyph> m_glyphs[2];
    QHash<QString, Label> m_labels;
    std::array<qreal, 256> m_byteWidths{};
    std::array<bool, 256> m_boxedBytes{};

    struct AppearanceHash {
        size_t operator()(const CellAppearance &a) const;
    };
    std::unordered_map<CellAppearance, CellId, AppearanceHash> m_ids;
    std::vector<CellAppearance> m_appearances;
    std::vector<Picture> m_pictures; // by number, made when first painted
    int m_pictureRatio = 1;
    quint64 m_generation = 0;
    QImage m_rowPicture;
};
