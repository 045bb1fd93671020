#pragma once

#include "lineends.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>

// The line state of the receive view: ten line slots, the slot that receives
// text, and whether the last unit ended a line. Received units are folded in
// one at a time; the view shows slots 1 to 10 joined.
//
// Texts are Latin-1 bytes: one received byte, one character.
class LineAssembler
{
public:
    // A line that never ends keeps at least this many of its newest
    // characters. The slot may grow by a quarter more before the oldest part
    // is dropped, so dropping costs little per character; the bound keeps the
    // view's layout of that line within about two milliseconds a frame.
    static constexpr qsizetype KeepNewest = 8 * 1024;
    static constexpr qsizetype MaxLine = KeepNewest + KeepNewest / 4;

    // A new opening: the slots empty, text goes to slot 1, no line end seen.
    void reset();
    // The clear button: the same, except that whether the last unit ended a
    // line is kept, so the second half of a line-end pair is still swallowed.
    void clear();

    // Folds one unit into the slots. Returns true when the unit refreshed the
    // view (a text unit or a line break; a swallowed line end does not).
    bool feed(QByteArrayView unit)
    {
        // An ordinary character, most of what arrives, costs the receive loop
        // a store: characters are gathered in a short run and added to their
        // slot in one piece.
        if (unit.size() == 1 && m_runLength < qsizetype(m_run.size())) {
            const char c = unit.front();
            if (!LineEnds::isLineEnd(c)) {
                m_run[size_t(m_runLength++)] = c;
                m_lineEnds.take(c);
                m_scrollPending = false;
                return true;
            }
        }
        return feedUnit(unit);
    }

    // The view text of the last refresh, as lines: after a scroll the view
    // keeps showing the line that left slot 1 until the next refresh.
    QList<QByteArray> shownLines() const;
    // The same joined: what Empfang shows.
    QByteArray shownText() const;

    // RecvLines: slots 1 to 10 hold the lines; slot 0 is never used.
    const QByteArray &recvLine(int slot) const
    {
        endRun();
        return m_recvLines.at(size_t(slot));
    }
    // RecvLineIdx: the slot that receives text; 0 until the port is first opened.
    qint16 recvLineIdx() const { return m_recvLineIdx; }
    // LineEndSeen: the last unit ended a line.
    bool lineEndSeen() const { return m_lineEnds.lineEndSeen(); }

private:
    bool feedUnit(QByteArrayView unit);
    void appendText(QByteArrayView text) const;
    void endRun() const;
    void scroll();
    void emptySlots();

    // The slots and the run of characters not yet added to the slot that
    // receives text. Whoever reads a slot adds the run first, so the slots
    // change under const readers too.
    mutable std::array<QByteArray, 11> m_recvLines;
    mutable std::array<char, 256> m_run{};
    mutable qsizetype m_runLength = 0;
    qint16 m_recvLineIdx = 0;
    // LineEndSeen, and the pairing rule that keeps it: a unit's first byte
    // decides whether it is text, a line end or the swallowed half of a pair.
    LineEnds m_lineEnds;

    QByteArray m_scrolledOut;
    bool m_scrollPending = false;
};
