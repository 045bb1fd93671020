#pragma once

#include "historyrow.h"

#include <optional>

// What the operator selected in the history's view, and the text copying
// it gives: the rows as the view shows them, each line's text as a saved
// text has it (historyexport.h).
class HistorySelection
{
public:
    // A place: text rows a line and a byte in it, hex rows a stream
    // position (line unused).
    struct Place {
        qint64 line = 0;
        qint64 at = 0;
        auto operator<=>(const Place &) const = default;
    };
    // What is selected: lines [fromLine, toLine] and the received bytes
    // [fromPos, toPos) they hold (in hex, the bytes selected).
    struct Range {
        qint64 fromLine = 0;
        qint64 toLine = 0;
        qint64 fromPos = 0;
        qint64 toPos = 0;
    };
    // What copying it takes, for a thread of its own.
    struct Copy {
        HistoryChoices choices;
        Place from;
        Place to;
        int offsetDigits = 8;
    };

    void select(const Place &anchor, const Place &cursor);
    void clear() { m_anchor = m_cursor = std::nullopt; }
    const std::optional<Place> &anchor() const { return m_anchor; }
    const std::optional<Place> &cursor() const { return m_cursor; }
    bool isEmpty() const { return !m_anchor || !m_cursor || *m_anchor == *m_cursor; }
    // Everything kept: the received stream, or every line to the end of
    // the last.
    void selectAll(const HistoryLog &log, bool hex);

    std::optional<Range> range(const HistoryLog &log, bool hex) const;
    // What of a row is selected: text, bytes of its line; hex, stream
    // positions.
    std::pair<qint64, qint64> in(const HistoryRow &row, bool hex) const;

    std::optional<Copy> copy(const HistoryChoices &choices, int offsetDigits) const;
    // The text of a copy, rows as lines. Nothing when it is too large for
    // the clipboard (more than 100,000 lines or 16 MiB of text), or when
    // progress stopped it. For any thread.
    static std::optional<QString> copyText(const HistoryLog &log, const Copy &copy,
                                           const HistoryExport::Progress &progress = {});

private:
    std::optional<Place> m_anchor;
    std::optional<Place> m_cursor;
};
