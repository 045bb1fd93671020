#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstring>

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

// Where the next CR or LF lies in a piece of received bytes, for readers that
// take runs of text whole: each kind is searched for with memchr once per
// stretch, and where it was found is kept until the reader passes it.
class LineEndFinder
{
public:
    LineEndFinder(const char *bytes, qsizetype size) : m_p(bytes), m_n(size) {}

    // The place of the first CR or LF at or after `from`; the piece's size
    // when there is none.
    qsizetype next(qsizetype from)
    {
        if (m_nextCr < from)
            m_nextCr = find('\r', from);
        if (m_nextLf < from)
            m_nextLf = find('\n', from);
        return std::min(m_nextCr, m_nextLf);
    }

private:
    qsizetype find(char c, qsizetype from) const
    {
        const void *q = std::memchr(m_p + from, c, size_t(m_n - from));
        return q ? static_cast<const char *>(q) - m_p : m_n;
    }

    const char *const m_p;
    const qsizetype m_n;
    qsizetype m_nextCr = -1;
    qsizetype m_nextLf = -1;
};
