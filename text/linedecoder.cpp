#include "linedecoder.h"

#include "bytenames.h"
#include "codepage.h"
#include "sequences.h"

#include <algorithm>
#include <array>

namespace
{

constexpr uchar Esc = 0x1b;

// How each byte looks in Windows-1252, the receive box's way (shownAs).
struct ByteLook {
    char16_t code;
    bool boxed;
};

const std::array<ByteLook, 256> &windows1252()
{
    static const std::array<ByteLook, 256> table = [] {
        std::array<ByteLook, 256> t{};
        for (int b = 0; b < 256; ++b)
            t[size_t(b)] = {charFromByte(uchar(b)).unicode(), shownAs(uchar(b)).boxed};
        return t;
    }();
    return table;
}

// A character of UTF-8 that shows boxed, as its byte would in Windows-1252:
// controls, the C1 range, the no-break and the soft hyphen.
bool boxedCode(char32_t c)
{
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0xa0) || c == 0xad;
}

// Applies "ESC [ params m": 0 reset, 1/22 bold, 4/24 underline, 30-37, 90-97
// and 38;5;n or 38;2;r;g;b the text colour (each number up to 255), 40-47,
// 100-107, 48 the ground, 39/49 back to the default. Anything else changes
// nothing.
void applySgr(const uchar *p, qsizetype len, TextStyle &style)
{
    std::array<int, 32> values{};
    int count = 0;
    int value = 0;
    for (qsizetype k = 2; k < len - 1; ++k) {
        const uchar c = p[k];
        if (c >= '0' && c <= '9') {
            value = std::min(value * 10 + (c - '0'), 100000);
        } else if (count < int(values.size()) - 1) {
            values[size_t(count++)] = value;
            value = 0;
        }
    }
    values[size_t(count++)] = value;

    // A number beyond 255 names no colour: the colour stays as it was, and
    // the values after it are read on.
    auto extended = [&](int &k, quint32 &colour) {
        auto inRange = [&](int from, int to) {
            return std::all_of(values.begin() + from, values.begin() + to,
                               [](int v) { return v <= 255; });
        };
        if (k + 2 < count && values[size_t(k + 1)] == 5) {
            if (inRange(k + 2, k + 3))
                colour = TextColour::indexed(values[size_t(k + 2)]);
            k += 2;
        } else if (k + 4 < count && values[size_t(k + 1)] == 2) {
            if (inRange(k + 2, k + 5))
                colour = TextColour::rgb(values[size_t(k + 2)], values[size_t(k + 3)],
                                         values[size_t(k + 4)]);
            k += 4;
        } else {
            k = count; // malformed: the rest means nothing
        }
    };
    for (int k = 0; k < count; ++k) {
        const int v = values[size_t(k)];
        if (v == 0)
            style = TextStyle();
        else if (v == 1)
            style.bold = true;
        else if (v == 22)
            style.bold = false;
        else if (v == 4)
            style.underline = true;
        else if (v == 24)
            style.underline = false;
        else if (v >= 30 && v <= 37)
            style.foreground = TextColour::indexed(v - 30);
        else if (v >= 90 && v <= 97)
            style.foreground = TextColour::indexed(v - 90 + 8);
        else if (v == 39)
            style.foreground = TextColour::Default;
        else if (v >= 40 && v <= 47)
            style.background = TextColour::indexed(v - 40);
        else if (v >= 100 && v <= 107)
            style.background = TextColour::indexed(v - 100 + 8);
        else if (v == 49)
            style.background = TextColour::Default;
        else if (v == 38)
            extended(k, style.foreground);
        else if (v == 48)
            extended(k, style.background);
    }
}

// The one walk over a line's bytes; the sink takes each cell.
template <class Sink>
void decode(QByteArrayView bytes, const DecodeOptions &options, TextStyle &style, Sink &sink)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    const bool utf8 = options.charset == Charset::Utf8 ||
                      (options.charset == Charset::Automatic && looksLikeUtf8(bytes));
    const auto &table = windows1252();
    for (qsizetype i = 0; i < n;) {
        const uchar b = p[i];
        if (b == Esc && options.colours) {
            const EscapeSequence sequence = escapeAt(bytes, i);
            if (sequence.state == EscapeSequence::Complete) {
                if (sequence.sgr)
                    applySgr(p + i, sequence.length, style);
                sink(Cell::Hidden, i, sequence.length, 0, false, style);
                i += sequence.length;
                continue;
            }
        }
        if (utf8 && b >= 0x80) {
            char32_t code = 0;
            if (const int len = Utf8::sequenceAt(bytes, i, code)) {
                sink(boxedCode(code) ? Cell::Boxed : Cell::Char, i, len, code, false, style);
                i += len;
            } else {
                sink(Cell::Boxed, i, 1, b, true, style);
                ++i;
            }
            continue;
        }
        const ByteLook look = table[b];
        sink(look.boxed ? Cell::Boxed : Cell::Char, i, 1, look.code, false, style);
        ++i;
    }
}

} // namespace

bool looksLikeUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    bool multi = false;
    for (qsizetype i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t code = 0;
        const int len = Utf8::sequenceAt(bytes, i, code);
        if (len == 0)
            return false;
        multi = true;
        i += len;
    }
    return multi;
}

void decodeLine(QByteArrayView bytes, const DecodeOptions &options, TextStyle &style,
                std::vector<Cell> &cells)
{
    cells.clear();
    auto sink = [&cells](Cell::Kind kind, qsizetype begin, qsizetype size, char32_t code,
                         bool invalid, const TextStyle &s) {
        cells.push_back({int(begin), int(size), code, kind, invalid, s});
    };
    decode(bytes, options, style, sink);
}

void shownText(QByteArrayView bytes, const DecodeOptions &options, QString &text,
               std::vector<int> *byteOf)
{
    text.resize(0);
    if (byteOf)
        byteOf->clear();
    TextStyle style;
    auto sink = [&](Cell::Kind kind, qsizetype begin, qsizetype, char32_t code, bool invalid,
                    const TextStyle &) {
        if (kind == Cell::Hidden)
            return;
        if (invalid)
            code = 0xfffd;
        if (code > 0xffff) {
            text.append(QChar(QChar::highSurrogate(code)));
            text.append(QChar(QChar::lowSurrogate(code)));
            if (byteOf)
                byteOf->push_back(int(begin));
        } else {
            text.append(QChar(char16_t(code)));
        }
        if (byteOf)
            byteOf->push_back(int(begin));
    };
    decode(bytes, options, style, sink);
}

QString boxLabel(const Cell &cell)
{
    const char32_t c = cell.code;
    if (!cell.invalid && c < 0x80)
        return shownAs(uchar(c)).text;
    if (!cell.invalid && c == 0xa0)
        return QStringLiteral("NBSP");
    if (!cell.invalid && c == 0xad)
        return QStringLiteral("SHY");
    return QString::number(uint(c), 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

void appendCopyText(const Cell &cell, QString &out)
{
    if (cell.kind == Cell::Hidden)
        return;
    const bool literal =
        cell.kind == Cell::Char ||
        (!cell.invalid && (cell.code == '\t' || cell.code == 0xa0 || cell.code == 0xad));
    if (!literal) {
        out += QLatin1Char('<') + boxLabel(cell) + QLatin1Char('>');
        return;
    }
    if (cell.code > 0xffff) {
        out += QChar(QChar::highSurrogate(cell.code));
        out += QChar(QChar::lowSurrogate(cell.code));
    } else {
        out += QChar(char16_t(cell.code));
    }
}
