#pragma once

#include "cellpainter.h"
#include "historylayout.h"
#include "textaccessible.h"

#include <QAbstractScrollArea>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

// The history's monospaced text: Liberation Mono (Courier New's widths, as
// Debian ships it), 13 pixels.
QFont historyFont();

// The history's picture: the widget over a HistoryLayout, which plans the
// rows in sight, painted by the CellPainter. It takes the keys, the mouse and
// the scroll bars; the picture is brought up to date on the same 50 ms beat
// as the main window, and five times a second while new lines keep coming.
// A screen reader reads the rows in sight (textaccessible.h).
class HistoryView : public QAbstractScrollArea, public SpokenText
{
    Q_OBJECT
public:
    using Choices = HistoryLayout::Choices;
    using Selection = HistoryLayout::Selection;

    explicit HistoryView(std::shared_ptr<const HistoryLog> log, QWidget *parent = nullptr);

    void setChoices(const Choices &choices);
    const Choices &choices() const { return m_layout.choices(); }

    // The log grew or lost lines; the picture follows at the next beat.
    void logChanged();
    // Brings the picture up to date now.
    void syncNow();

    bool following() const { return m_layout.following(); }
    // Lines that came since the view stopped following.
    qint64 arrivedWhileHeld() const { return m_layout.arrivedWhileHeld(); }
    void follow();
    void toStart();

    // Every hit in sight is marked; the current one stronger.
    void setSearch(const SearchPattern &pattern);
    void showHit(const SearchHit &hit);
    // Where the next search starts: the current hit, or the first row in sight.
    SearchHit searchFrom() const { return m_layout.searchFrom(); }

    bool hasSelection() const { return m_layout.hasSelection(); }
    std::optional<Selection> selection() const { return m_layout.selection(); }
    // What copying the selection takes (copyRequested() asks for it).
    std::optional<HistoryLayout::CopyRange> copyRange() const { return m_layout.copyRange(); }
    void selectAll();

    // The rows in sight as text, as copying them would give.
    QStringList rowsInSight() const;
    // The width of a column of the monospaced text, in whole pixels.
    int columnWidth() const { return m_cells.columnWidth(); }

    // What a screen reader is told: the rows in sight.
    QString spokenText() const override;
    int spokenCursor() const override;
    std::pair<int, int> spokenSelection() const override;
    void selectSpoken(int anchor, int cursor) override;
    QRect spokenRect(int offset) const override;
    int spokenOffsetAt(const QPoint &point) const override;

Q_SIGNALS:
    // Following, the lines that came meanwhile or the selection changed.
    void stateChanged();
    // Copy was pressed with a selection.
    void copyRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    using Place = HistoryLayout::Place;
    using PlacedCell = CellPainter::PlacedCell;

    void useFont();
    // Plans the rows anew where something changed, sets the bars and
    // repaints.
    void refresh();
    void updateBars();
    int rowOffset() const; // following, the rows sit on the bottom edge
    int rowTop(size_t row) const;
    std::optional<size_t> rowAt(int y) const;
    void hold();
    void placeText(const HistoryRow &row, int left, std::vector<PlacedCell> &cells);
    void placeHex(const HistoryRow &row, int left, std::vector<PlacedCell> &cells);
    void spokenChanged();

    CellPainter m_cells;
    HistoryLayout m_layout;
    bool m_settingBars = false;
    bool m_changed = false;
    QTimer m_frame;
    std::vector<PlacedCell> m_placed;
};
