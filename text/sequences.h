#pragma once

#include <QByteArrayView>

// What belongs together in received bytes, read the same wherever bytes are
// shown, searched or cut: a character of UTF-8 and a terminal's escape
// sequence.

namespace Utf8
{
// A byte that goes on with a character begun before it.
constexpr bool isContinuation(uchar b)
{
    return (b & 0xc0) == 0x80;
}

// The valid character of more than one byte that begins at bytes[i]: its
// length, the character in `code`; 0 when none begins there (an ASCII byte,
// a byte that begins nothing, an overlong form, a surrogate, a character
// beyond U+10FFFF, or the bytes end before it does).
int sequenceAt(QByteArrayView bytes, qsizetype i, char32_t &code);
} // namespace Utf8

// An escape sequence from an ESC on, as a terminal reads it: a CSI (ESC [,
// parameters, intermediates, one final byte), a string (ESC ] a window title,
// ESC P a device control, ESC X, ESC ^, ESC _) up to ESC \, a title also up to
// BEL, or ESC with intermediates and one final byte (ESC ( B, ESC 7).
struct EscapeSequence {
    enum State : quint8 {
        None,       // the ESC begins none: an unknown follower, a control byte inside
        Incomplete, // the bytes end inside it; more may complete it
        Complete,
    };
    State state = None;
    qsizetype length = 0; // Complete: its bytes, the ESC included
    bool sgr = false;     // Complete: it sets colours or bold and underline (ESC [ … m)
};

// The sequence that bytes[i], an ESC, begins.
EscapeSequence escapeAt(QByteArrayView bytes, qsizetype i);

// A long line is cut into pieces where the bytes before the cut do not end
// inside a character or an escape sequence that goes on after it: how many of
// the newest bytes before a cut (`before`, the last few of them) move on with
// `next`, the first byte after it. A sequence longer than `before` is cut.
qsizetype unfinishedTail(QByteArrayView before, uchar next);
