#include "sequences.h"

#include <algorithm>
#include <cstring>

namespace
{
constexpr uchar Esc = 0x1b;
constexpr uchar Bel = 0x07;
} // namespace

int Utf8::sequenceAt(QByteArrayView bytes, qsizetype i, char32_t &code)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    const uchar b = p[i];
    int len = 0;
    uchar low = 0x80, high = 0xbf; // the range of the second byte
    if (b >= 0xc2 && b <= 0xdf) {
        len = 2;
        code = b & 0x1f;
    } else if (b >= 0xe0 && b <= 0xef) {
        len = 3;
        code = b & 0x0f;
        if (b == 0xe0)
            low = 0xa0; // overlong
        if (b == 0xed)
            high = 0x9f; // surrogates
    } else if (b >= 0xf0 && b <= 0xf4) {
        len = 4;
        code = b & 0x07;
        if (b == 0xf0)
            low = 0x90; // overlong
        if (b == 0xf4)
            high = 0x8f; // beyond U+10FFFF
    } else {
        return 0;
    }
    if (i + len > n || p[i + 1] < low || p[i + 1] > high)
        return 0;
    for (int k = 1; k < len; ++k) {
        if (!isContinuation(p[i + k]))
            return 0;
        code = code << 6 | (p[i + k] & 0x3f);
    }
    return len;
}

EscapeSequence escapeAt(QByteArrayView bytes, qsizetype i)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    auto complete = [i](qsizetype end, bool sgr = false) {
        return EscapeSequence{EscapeSequence::Complete, end - i, sgr};
    };
    const EscapeSequence incomplete{EscapeSequence::Incomplete};
    const EscapeSequence none{EscapeSequence::None};
    if (i + 1 >= n)
        return incomplete;
    const uchar kind = p[i + 1];
    qsizetype j = i + 2;
    if (kind == '[') { // CSI: parameters, intermediates, one final byte
        const bool privateMark = j < n && p[j] >= 0x3c && p[j] <= 0x3f;
        while (j < n && p[j] >= 0x30 && p[j] <= 0x3f)
            ++j;
        const qsizetype intermediates = j;
        while (j < n && p[j] >= 0x20 && p[j] <= 0x2f)
            ++j;
        if (j >= n)
            return incomplete;
        if (p[j] < 0x40 || p[j] > 0x7e)
            return none;
        return complete(j + 1, p[j] == 'm' && !privateMark && intermediates == j);
    }
    if (kind == ']' || kind == 'P' || kind == 'X' || kind == '^' || kind == '_') {
        // A string: up to the string terminator ESC \, a window title also
        // up to BEL. A control byte inside ends it as no sequence at all.
        for (; j < n; ++j) {
            if (p[j] == Bel && kind == ']')
                return complete(j + 1);
            if (p[j] == Esc) {
                if (j + 1 >= n)
                    return incomplete;
                return p[j + 1] == '\\' ? complete(j + 2) : none;
            }
            if (p[j] < 0x20 && p[j] != '\t')
                return none;
        }
        return incomplete;
    }
    // ESC ( B and the like: intermediates, then one final byte.
    for (j = i + 1; j < n && p[j] >= 0x20 && p[j] <= 0x2f; ++j) {
    }
    if (j >= n)
        return incomplete;
    return p[j] >= 0x30 && p[j] <= 0x7e ? complete(j + 1) : none;
}

qsizetype unfinishedTail(QByteArrayView before, uchar next)
{
    const auto *p = reinterpret_cast<const uchar *>(before.data());
    const qsizetype n = before.size();
    qsizetype moved = 0;
    // A lead byte and the continuation bytes after it, when the next byte
    // goes on with them.
    if (Utf8::isContinuation(next)) {
        for (qsizetype k = 1; k <= 3 && k <= n; ++k) {
            const uchar b = p[n - k];
            if (!Utf8::isContinuation(b)) {
                if (b >= 0xc0)
                    moved = k;
                break;
            }
        }
    }
    // Read from the front as the decoder reads a line: a sequence the bytes
    // end inside of moves on whole.
    for (qsizetype i = 0; i < n;) {
        const void *esc = std::memchr(p + i, Esc, size_t(n - i));
        if (!esc)
            break;
        i = static_cast<const uchar *>(esc) - p;
        const EscapeSequence sequence = escapeAt(before, i);
        if (sequence.state == EscapeSequence::Incomplete)
            return std::max(moved, n - i);
        i += sequence.state == EscapeSequence::Complete ? sequence.length : 1;
    }
    return moved;
}
