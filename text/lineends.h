#pragma once

#include <QtGlobal>

// The pairing rule of line ends, one for the receive box and the history: a
// CR or LF ends a line, and a CR or LF right after it belongs to that line
// end. CR LF, LF CR, CR CR and LF LF each end one line; CR LF CR LF ends two,
// the second empty. Fed the received bytes in order, it tells what each one
// is. A run of other bytes leaves it as the run's first byte did, so a reader
// that skips through text need only hand it that one.
class LineEnds
{
public:
    enum Role : quint8 {
        Text,      // any byte but CR and LF
        End,       // ends the line
        Swallowed, // the second half of a pair, part of the line end before it
    };

    static constexpr bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

    Role take(char c)
    {
        if (!isLineEnd(c)) {
            m_lineEndSeen = false;
            return Text;
        }
        // After a line end the next CR or LF completes the pair, and the rule
        // is armed again.
        m_lineEndSeen = !m_lineEndSeen;
        return m_lineEndSeen ? End : Swallowed;
    }

    // LineEndSeen: the last byte ended a line, so a CR or LF now is swallowed.
    bool lineEndSeen() const { return m_lineEndSeen; }
    // A port opened anew: its first CR or LF ends a line, whatever came before.
    void reset() { m_lineEndSeen = false; }

private:
    bool m_lineEndSeen = false;
};
