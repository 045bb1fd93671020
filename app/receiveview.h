#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRawFont>
#include <QTimer>
#include <QVarLengthArray>

#include <array>
#include <functional>
#include <vector>

// The receive box `Empfang`. Its text is a list of byte lines, each complete
// line ending in CR LF; text() is exactly their join, written once per receive
// event. The box paints these few lines itself, one cell per byte, wrapping
// anywhere: no text document, no layout engine, no shaping per frame. The
// picture follows the text at most twenty times a second and repaints only the
// rows that changed, so a line trickling in at 115200 baud costs the window
// about what reading it costs.
//
// Every byte is shown so that an operator can tell which it was: Windows-1252
// characters as themselves, control bytes and the few invisible ones as a
// small boxed name in a muted colour ("ESC", "NUL", "90").
class ReceiveView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit ReceiveView(QWidget *parent = nullptr);

    // The text as the handler wrote it: one character per received byte.
    QString text() const;
    QByteArray textBytes() const;
    // Empties the box.
    void clearText();
    // Replaces the text by these lines (shared, not copied).
    void setLines(const QList<QByteArray> &lines);

    // Brings the picture up to date now instead of at the next frame.
    void syncNow();

    // The rows in sight, each as the bytes it shows (wrapped rows apart).
    QList<QByteArray> rowsInSight() const;

    // The selection, as the operator would paste it: line breaks as "\n", a
    // tab as a tab, other boxed bytes as their name in angle brackets.
    QString selectedText() const;
    void selectAll();
    void copy() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // A place in the text: a line (block) and a byte in it; the end of a
    // block is its size.
    struct Pos {
        qsizetype block = 0;
        qsizetype at = 0;
        auto operator<=>(const Pos &) const = default;
    };
    // One painted row: a piece of a block.
    struct Row {
        qsizetype block;
        qsizetype begin;
        qsizetype end;
    };
    // How a byte is drawn, made once per font.
    struct Cell {
        qreal width = 0;
        bool boxed = false;
        quint8 count = 0;               // glyphs used
        std::array<quint32, 4> glyph{}; // in the main font, or the small one when boxed
        std::array<qreal, 4> dx{};
    };

    void prepareFont();
    QColor penFor(bool boxed, bool selected) const;
    const QImage &cellPicture(uchar byte, bool selected);
    void forgetPictures();
    // Calls paint(row, top) for each row in sight that meets clip; answers
    // how many rows are in sight. The two painters below answer the same.
    int forRowsMeeting(const QRect &clip, const std::function<void(const Row &, int)> &paint) const;
    int composeRows(QPainter &painter, const QRect &clip);
    int drawRows(QPainter &painter, const QRect &clip);
    void layoutRows();
    void updateScrollBar(bool toEnd);
    int lineHeight() const;
    int textLeft() const;
    int firstRow() const;
    QByteArrayView rowBytes(const Row &row) const;
    QVarLengthArray<QByteArrayView, 32> viewsInSight() const;
    qreal xOf(const Row &row, qsizetype at) const;
    Pos hit(const QPoint &point) const;
    qsizetype rowOf(const Pos &pos) const;
    void moveCursor(const Pos &to, bool keepAnchor);
    void ensureVisible(const Pos &pos);
    bool hasSelection() const { return m_anchor != m_cursor; }

    QList<QByteArray> m_lines;                // what the handler wrote
    QList<QByteArray> m_blocks{QByteArray()}; // on show: the lines without their CR LF
    std::vector<Row> m_rows;
    std::array<Cell, 256> m_cells;
    QRawFont m_font;
    QRawFont m_small;
    qreal m_ascent = 0;
    qreal m_smallBaseline = 0;
    int m_lineHeight = 1;
    int m_layoutWidth = -1;
    Pos m_anchor;
    Pos m_cursor;
    qreal m_wantedX = -1;   // where Up and Down aim
    bool m_syncing = false; // syncNow repaints what changed itself
    bool m_changed = false; // the text changed since the picture was made
    QTimer m_frame;
    // Each byte's cell as painted, plain and selected, made when first shown
    // and forgotten with a new font, palette or pixel ratio.
    std::array<QImage, 512> m_cellPictures;
    qreal m_pictureRatio = 1;
    QImage m_rowPicture;
};
