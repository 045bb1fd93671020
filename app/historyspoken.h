#pragma once

#include "historylayout.h"

#include <QString>

#include <optional>
#include <vector>

// The history's rows in sight as a screen reader is told them: their text as
// copying gives it, the rows joined by "\n", and for each character its
// place and where it is painted. No widget: the view maps it to the screen.
class SpokenRows
{
public:
    using Place = HistoryLayout::Place;
    struct Char {
        Place place;
        int x = 0; // pixels from the left
        int width = 0;
        size_t row = 0;
        // Of the line's own text, not the time or the mark before it: a
        // place is spoken at its own character.
        bool own = true;
    };

    explicit SpokenRows(const HistoryLayout &layout);
    const QString &text() const { return m_text; }
    const std::vector<Char> &chars() const { return m_chars; }
    // The first character of a line's own text at or after a place; the end
    // when none is.
    int offsetOf(const Place &place) const;
    // The character x pixels across in a row; past its last one, where it
    // ends.
    int offsetAt(size_t row, int x) const;
    // The place of a character (the last one's for the end).
    std::optional<Place> placeOf(int offset) const;

    // A row as copying it gives, and where each of its characters is.
    static QString rowText(const HistoryLayout &layout, const HistoryRow &row,
                           std::vector<Char> *chars = nullptr);

private:
    QString m_text;
    std::vector<Char> m_chars;
};
