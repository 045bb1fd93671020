#pragma once

#include "historyexport.h"

#include <QByteArray>
#include <QString>

#include <limits>
#include <utility>
#include <vector>

// The bytes of the received stream one hex row shows.
constexpr int HexRowBytes = 16;

// How the history shows its lines: with their times, with the commands
// sent, as text or in hex, and in which character set and colours.
struct HistoryChoices {
    bool times = true;
    bool sent = true;
    bool hex = false;
    DecodeOptions decode{Charset::Automatic, true};
    bool operator==(const HistoryChoices &) const = default;
};

// One row of the history: a line (or a piece of a long one), or in hex
// HexRowBytes of the received stream.
struct HistoryRow {
    // Text: the row's line. Hex: the received line its first byte is in
    // (number -1 when there is none).
    HistoryLine line;
    QByteArray bytes; // text: the line's bytes; hex: the row's
    qint64 pos = 0;   // hex: the stream position of its first byte
    QString time;     // the time shown; empty for none
    std::vector<Cell> cells;
    // Text: where each cell starts, in pixels from the text's left, and
    // where the last one ends.
    std::vector<int> x;
    // The hits of the search in it: text, bytes of its line; hex, stream
    // positions.
    std::vector<std::pair<qint64, qint64>> hits;
    TextStyle styleBefore, styleAfter; // text: the colours going in and out
    bool revealed = false;             // hidden sequences with a hit shown as they came
};

// Rows as the history's view reads and copies them.
namespace HistoryRows
{
constexpr qint64 NoEnd = std::numeric_limits<qint64>::max();

// The hex rows of stream bytes [from, to), each up to the next multiple of
// HexRowBytes, with the time of the received line their first byte is in.
void readHex(const HistoryLog &log, qint64 from, qint64 to, TimeText &times,
             std::vector<HistoryRow> &rows);

// A text row as copied: its time (unless it goes on from the piece before,
// or starts after the line's start; none when empty), then its line's text
// (historyexport.h lineText) from byte `from` to `to`; cellOf as there.
QString textRow(const HistoryRow &row, const QString &time, qint64 from = 0, qint64 to = NoEnd,
                std::vector<int> *cellOf = nullptr);
// A hex row as copied: the offset, the time, the hex digits and the
// characters of the stream bytes [from, to) in it, blanks for the others.
QString hexRow(const HistoryRow &row, int offsetDigits, bool times, qint64 from = 0,
               qint64 to = NoEnd);

// The offset of a hex row, at least `digits` hex digits.
QString offset(qint64 pos, int digits);
// A byte as the hex rows show it: two digits, and a character in the right
// column (a dot for one that shows nothing).
QString hexDigits(uchar byte);
QChar columnChar(uchar byte);
} // namespace HistoryRows
