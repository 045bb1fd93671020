#pragma once

#include "cellpictures.h"
#include "receivelayout.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QList>
#include <QTimer>
#include <QVarLengthArray>

// The receive box `Empfang`. Its text is a list of byte lines, each complete
// line ending in CR LF; text() is exactly their join, written once per receive
// event. The box paints these few lines itself, one cell per byte
// (cellpictures.h), wrapping anywhere (receivelayout.h): no text document, no
// layout engine, no shaping per frame. The picture follows the text at most
// twenty times a second and repaints only the rows that changed, so a line
// trickling in at 115200 baud costs the window about what reading it costs.
// A screen reader reads its lines through the accessibility interface
// (receiveaccessible.h).
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

    // How the bytes are shown: by default as the code page's characters,
    // each byte one cell (Windows-1252, no colours); or decoded in another
    // character set, with the colours of a board's log. The operator picks
    // it in the context menu; it is remembered in the settings file.
    DecodeOptions decoding() const;
    void setDecoding(const DecodeOptions &options);

    // The text as laid out on screen, for the accessibility interface.
    const ReceiveLayout &layout() const { return m_layout; }
    // Where a place of the text is on screen, in the box's own pixels
    // (empty when it is not in sight), and the place under a point.
    QRect placeRect(const ReceiveLayout::Pos &pos) const;
    ReceiveLayout::Pos placeAt(const QPoint &point) const { return hit(point); }
    // Moves the caret or the selection there, as keys would.
    void select(const ReceiveLayout::Pos &anchor, const ReceiveLayout::Pos &cursor);

Q_SIGNALS:
    // "Verlauf…" was chosen in the context menu.
    void historyRequested();
    // "Kurven…" was chosen in the context menu.
    void plotRequested();
    // The text on show changed (after a frame brought the picture up to
    // date).
    void shownTextChanged();

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
    Pos hit(const QPoint &point) const;
    void moveCursor(const Pos &to, bool keepAnchor);
    void ensureVisible(const Pos &pos);

    QList<QByteArray> m_lines; // what the handler wrote
    CellPictures m_cells;
    ReceiveLayout m_layout{m_cells.widths()};
    DecodeOptions m_decoding{Charset::Windows1252, false};
    qreal m_wantedX = -1;   // where Up and Down aim
    bool m_syncing = false; // syncNow repaints what changed itself
    bool m_changed = false; // the text changed since the picture was made
    QTimer m_frame;
};
