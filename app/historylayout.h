#pragma once

#include "historyrow.h"
#include "historysearch.h"
#include "historyselection.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The history's rows in sight and the selection, without a widget: what the
// history's view paints and the tests drive directly. Everything received
// since the start, a row per line (or, in hex, per HexRowBytes of the
// received stream); the rows in sight are read from the files by plan(),
// when the log changed or the place in sight did, never while painting. It
// follows new lines while the end is in sight and holds still when scrolled
// up.
class HistoryLayout
{
public:
    using Choices = HistoryChoices;
    using Place = HistorySelection::Place;
    using Selection = HistorySelection::Range;
    using CopyRange = HistorySelection::Copy;
    // How wide things are, in whole pixels: the room left of the text, a
    // column of the monospaced text, and each decoded cell.
    struct Metrics {
        int margin = 0;
        int column = 1;
        std::function<int(const Cell &)> width;
    };

    HistoryLayout(std::shared_ptr<const HistoryLog> log, Metrics metrics);

    void setMetrics(Metrics metrics);
    const Metrics &metrics() const { return m_metrics; }
    // Text and hex keep the same place in sight; the search follows the
    // choices.
    void setChoices(const Choices &choices);
    const Choices &choices() const { return m_choices; }
    // The rows the view has room for: whole ones, and with the one cut at
    // the bottom.
    void setRoom(int whole, int any);
    int room() const { return m_whole; }

    // Following the end, or held at a place.
    bool following() const { return m_following; }
    // Lines that came since it stopped following.
    qint64 arrivedWhileHeld() const;
    void follow();
    void hold();
    void toStart();

    // The vertical scroll bar: its maximum, and its value once the place in
    // sight has been moved to what is kept (lines that went at the start, or
    // a place beyond the end).
    int scrollMaximum() const;
    int settledScroll();
    // The operator moved the bar; at the maximum it follows again.
    void scrolledTo(int value);
    // What is in sight while held: text the first line, hex the first row.
    qint64 top() const { return m_top; }

    void invalidate() { m_planned = false; }
    bool planned() const { return m_planned; }
    // Reads the rows in sight from the log, keeping those of the rows
    // before whose line is as it was.
    void plan();
    const std::vector<HistoryRow> &rows() const { return m_rows; }
    // Planned while following: the newest row sits on the bottom edge.
    bool onBottomEdge() const { return m_onBottomEdge; }
    // A row's place among all: text its line, hex its row number.
    qint64 keyOf(const HistoryRow &row) const;
    // Whether new lines may show: the end of the log is in sight or near.
    bool endInSight() const;
    // The right end of the widest row planned so far.
    int widest() const { return m_widest; }

    // Where things go across, in pixels from the left.
    int textLeft() const;
    int timeLeft() const; // hex rows: after the offset
    int hexLeft(int column) const;
    int charLeft(int column) const;
    QString offsetText(qint64 pos) const;
    int offsetDigits() const;

    // The search: every hit in sight is marked, the current one stronger.
    void setSearch(const SearchPattern &pattern);
    // Holds and brings the hit into sight a few rows below the top, so that
    // what came before it shows too.
    void showHit(const SearchHit &hit);
    const std::optional<SearchHit> &current() const { return m_current; }
    // Where the current hit starts across, when it is in sight.
    std::optional<int> currentLeft() const;
    // Where the next search starts: the current hit, or the first row in
    // sight.
    SearchHit searchFrom() const;
    // The current hit's bytes in a row, as its hits are; empty for none.
    std::pair<qint64, qint64> currentIn(const HistoryRow &row) const;

    // Selecting, by places under points: `row` of those in sight, x pixels
    // from the left.
    std::optional<Place> placeAt(size_t row, int x) const;
    void select(const Place &anchor, const Place &cursor) { m_selection.select(anchor, cursor); }
    const std::optional<Place> &anchor() const { return m_selection.anchor(); }
    const std::optional<Place> &cursor() const { return m_selection.cursor(); }
    bool hasSelection() const { return !m_selection.isEmpty(); }
    void clearSelection() { m_selection.clear(); }
    // Holds and selects everything kept.
    void selectAll();
    std::optional<Selection> selection() const { return m_selection.range(*m_log, m_choices.hex); }
    std::pair<qint64, qint64> selectedIn(const HistoryRow &row) const
    {
        return m_selection.in(row, m_choices.hex);
    }
    std::optional<CopyRange> copyRange() const
    {
        return m_selection.copy(m_choices, offsetDigits());
    }

private:
    qint64 firstKey() const; // text the first line, hex the first row
    void planText(std::vector<HistoryRow> &previous);
    void planHex();
    void markHits();
    void revealHits(HistoryRow &row);
    void placeCells(HistoryRow &row) const;

    std::shared_ptr<const HistoryLog> m_log;
    Metrics m_metrics;
    Choices m_choices;
    mutable TimeText m_times; // only a cache of the local offset
    int m_whole = 1;
    int m_any = 1;

    // What is in sight: text the first line, hex the first row (its stream
    // position / HexRowBytes); while following, the end.
    qint64 m_top = 0;
    bool m_following = true;
    qint64 m_heldAt = 0; // endLine() when following stopped

    bool m_planned = false;
    bool m_keepRows = false; // the rows planned before may be kept
    bool m_onBottomEdge = false;
    std::vector<HistoryRow> m_rows;
    int m_widest = 0;

    std::optional<HistorySearch> m_search;
    std::optional<SearchHit> m_current;
    HistorySelection m_selection;
};
