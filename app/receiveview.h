#pragma once

#include "cellpainter.h"
#include "receivelayout.h"
#include "textaccessible.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QList>
#include <QTimer>
#include <QVarLengthArray>

// The receive box `Empfang`. Its text is a list of byte lines, each complete
// line ending in CR LF; text() is exactly their join, written once per receive
// event. The box paints these few lines itself, one cell per byte
// (cellpainter.h), wrapping anywhere (receivelayout.h): no text document, no
// layout engine, no shaping per frame. The picture follows the text at most
// twenty times a second and repaints only the rows that changed, so a line
// trickling in at 115200 baud costs the window about what reading it costs.
// A screen reader reads its lines through the accessibility interface
// (textaccessible.h): the whole text, one character per byte, control bytes
// as their control pictures (␛ for ESC).
class ReceiveView : public QAbstractScrollArea, public SpokenText
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

    // How the bytes are shown: by default as the code page's characters,
    // each byte one cell (Windows-1252, no colours); or decoded in another
    // character set, with the colours of a board's log. The operator picks
    // it in the context menu; it is remembered in the settings file.
    DecodeOptions decoding() const;
    void setDecoding(const DecodeOptions &options);

    // What a screen reader is told.
    QString spokenText() const override { return m_layout.spokenText(); }
    int spokenCursor() const override;
    std::pair<int, int> spokenSelection() const override;
    void selectSpoken(int anchor, int cursor) override;
    QRect spokenRect(int offset) const override;
    int spokenOffsetAt(const QPoint &point) const override;

Q_SIGNALS:
    // "Verlauf…" was chosen in the context menu.
    void historyRequested();
    // "Kurven…" was chosen in the context menu.
    void plotRequested();

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
    using Pos = ReceiveLayout::Pos;

    bool relayout();
    void decodeAgain();
    void updateScrollBar(bool toEnd);
    int firstRow() const;
    int rowsThatFit() const;
    QVarLengthArray<QByteArrayView, 32> viewsInSight() const;
    // The cells of one row, from the box's left edge.
    void placeRow(const ReceiveLayout::Row &row, std::vector<CellPainter::PlacedCell> &cells);
    Pos hit(const QPoint &point) const;
    void moveCursor(const Pos &to, bool keepAnchor);
    void ensureVisible(const Pos &pos);

    QList<QByteArray> m_lines; // what the handler wrote
    CellPainter m_cells;
    ReceiveLayout m_layout{m_cells.byteWidths()};
    // The cell of each byte, plain and selected, as the painter numbers it
    // (a byte's colours are the palette's); taken anew with a new palette or
    // when the painter's numbers change.
    std::array<CellPainter::CellId, 512> m_byteCells{};
    quint64 m_byteCellsMade = 0; // the painter's generation they were taken in; 0 none
    std::vector<CellPainter::PlacedCell> m_placed;
    DecodeOptions m_decoding{Charset::Windows1252, false};
    qreal m_wantedX = -1;   // where Up and Down aim
    bool m_syncing = false; // syncNow repaints what changed itself
    bool m_changed = false; // the text changed since the picture was made
    QTimer m_frame;
};
