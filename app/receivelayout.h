#pragma once

#include "linedecoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <vector>

// The receive box's text laid out: the lines as the handler wrote them,
// without their CR LF (the blocks), each cut into rows that fit the box's
// width, wrapping anywhere, and where the caret and the selection are. As
// the box shows bytes by default, each byte is one cell of the code page;
// with a character set or colour sequences chosen (decode()), each block is
// decoded into cells of linedecoder.h, a character of several bytes one
// cell, an escape sequence a hidden one. Places stay bytes either way. No
// widget: the box paints what this says, and the tests drive it directly.
class ReceiveLayout
{
public:
    // A place in the text: a block and a byte in it; the end of a block is
    // its size.
    struct Pos {
        qsizetype block = 0;
        qsizetype at = 0;
        auto operator<=>(const Pos &) const = default;
    };
    // One row: a piece of a block.
    struct Row {
        qsizetype block;
        qsizetype begin;
        qsizetype end;
    };

    // The width of each byte's cell; the layout keeps looking at it.
    explicit ReceiveLayout(const std::array<qreal, 256> &cellWidths);

    // A decoded cell and its width.
    struct Unit {
        Cell cell;
        qreal width = 0;
    };
    using UnitWidth = std::function<qreal(const Cell &)>;
    // Decodes the blocks with these options from now on, each cell as wide as
    // `width` says; nullopt shows bytes again. The colours one line leaves
    // set carry to the next, from the first line in the box on.
    void decode(const std::optional<DecodeOptions> &options, UnitWidth width);
    const std::optional<DecodeOptions> &decoding() const { return m_decoding; }
    // The decoded cells of a block (empty while bytes are shown).
    const std::vector<Unit> &units(qsizetype block) const { return m_units[size_t(block)]; }
    // The first of a block's cells that starts at or after byte `at`.
    qsizetype unitAt(qsizetype block, qsizetype at) const;

    // New text. The selection stays on its text while old lines leave at the
    // top; without one, the caret goes to the end. Rows are made again at the
    // next wrap().
    void setLines(const QList<QByteArray> &lines);
    // Cuts the blocks into rows no wider than `width`, never leaving a row
    // empty; nothing happens (false) when the text and width are those of the
    // last cut.
    bool wrap(qreal width);
    // The widths changed (a new font): the next wrap() cuts anew.
    void cellsChanged() { m_wrappedAt = -1; }

    const QList<QByteArray> &blocks() const { return m_blocks; }
    const std::vector<Row> &rows() const { return m_rows; }
    QByteArrayView rowBytes(const Row &row) const;
    // The row that holds a place (the later one where a wrapped row ends).
    qsizetype rowOf(const Pos &pos) const;
    // How far into its row a place is, in pixels.
    qreal xOf(const Row &row, qsizetype at) const;
    // The place nearest to x pixels into a row.
    Pos hit(qsizetype row, qreal x) const;
    Pos end() const { return {m_blocks.size() - 1, m_blocks.last().size()}; }

    // The caret and the selection between it and the anchor.
    Pos cursor() const { return m_cursor; }
    Pos anchor() const { return m_anchor; }
    void moveTo(const Pos &to, bool keepAnchor);
    void selectAll();
    // The run of bytes around a place that are neither blanks nor boxed.
    void selectWord(const Pos &at, const std::array<bool, 256> &boxed);
    bool hasSelection() const { return m_anchor != m_cursor; }
    bool selected(const Pos &pos) const;
    // Whether the line break after a row's block is selected.
    bool breakSelected(const Row &row) const;
    // The selection as the operator would paste it: line breaks as "\n", a
    // tab as a tab, other boxed bytes as their name in angle brackets.
    QString selectedText() const;

    // The whole text with one character per byte, for a screen reader: the
    // blocks joined by "\n", control bytes as their control pictures (␛ for
    // ESC), so that an offset into it is a place in the text and back.
    QString spokenText() const;
    qsizetype offsetOf(const Pos &pos) const;
    Pos posAt(qsizetype offset) const;

    // The place one byte before or after, across line breaks.
    Pos before(const Pos &pos) const;
    Pos after(const Pos &pos) const;

private:
    void decodeBlocks();
    // The width of the piece of a block from byte `from` up to `to`.
    qreal widthOf(qsizetype block, qsizetype from, qsizetype to) const;
    bool inWord(qsizetype block, qsizetype at, const std::array<bool, 256> &boxed) const;

    const std::array<qreal, 256> &m_widths;
    std::optional<DecodeOptions> m_decoding;
    UnitWidth m_unitWidth;
    std::vector<std::vector<Unit>> m_units;
    QList<QByteArray> m_blocks{QByteArray()};
    std::vector<Row> m_rows;
    qreal m_wrappedAt = -1;
    Pos m_anchor;
    Pos m_cursor;
};
