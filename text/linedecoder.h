#pragma once

#include <QByteArrayView>
#include <QString>

#include <vector>

// How the bytes of one received line are shown: which character set turns
// bytes into characters, and whether the colour sequences of a board's log
// (ANSI escape sequences) colour the text or show as they came.
enum class Charset : quint8 {
    Windows1252, // one byte one character, as the receive box shows them
    Utf8,        // each invalid byte shows as its code in a box
    Automatic,   // UTF-8 for a line that is valid UTF-8 with a multi-byte character
};

struct DecodeOptions {
    Charset charset = Charset::Automatic;
    bool colours = true;
    bool operator==(const DecodeOptions &) const = default;
};

// A text colour: the terminal's default, one of the 256 numbered colours of a
// terminal (0 to 15 the classic ones), or a colour given as red, green, blue.
namespace TextColour
{
constexpr quint32 Default = 0;
constexpr quint32 IndexedFlag = 0x01000000;
constexpr quint32 RgbFlag = 0x02000000;
constexpr quint32 indexed(int index)
{
    return IndexedFlag | quint32(index & 0xff);
}
constexpr quint32 rgb(int r, int g, int b)
{
    return RgbFlag | quint32((r & 0xff) << 16 | (g & 0xff) << 8 | (b & 0xff));
}
} // namespace TextColour

// What the colour sequences have set: it carries from one line to the next,
// as it does on a terminal.
struct TextStyle {
    quint32 foreground = TextColour::Default;
    quint32 background = TextColour::Default;
    bool bold = false;
    bool underline = false;
    bool operator==(const TextStyle &) const = default;
};

// One shown piece of a line, standing for `size` bytes from `begin` on. Every
// byte of a line is in exactly one cell: a character, a small box with a name
// or a code (control bytes, invalid UTF-8), or hidden (an escape sequence that
// coloured the text or moved a terminal's cursor).
struct Cell {
    enum Kind : quint8 { Char, Boxed, Hidden };
    int begin = 0;
    int size = 0;
    // Char: the character. Boxed: the character the byte stands for, or, for
    // an invalid byte of UTF-8, the byte itself.
    char32_t code = 0;
    Kind kind = Char;
    bool invalid = false; // a byte that is not part of valid UTF-8
    TextStyle style;
};

// The cells of one line. `style` is what the lines before left set; it is
// updated to what this line leaves set. A sequence that is not complete
// within the line (a line end inside it) is no sequence: its bytes show as
// they are, the escape as its boxed name.
void decodeLine(QByteArrayView bytes, const DecodeOptions &options, TextStyle &style,
                std::vector<Cell> &cells);

// The characters shown, one per Char or Boxed cell (a boxed byte gives the
// character it stands for, an invalid one U+FFFD), hidden sequences left out:
// what a text search looks through. byteOf, when given, gets each character's
// first byte (a character beyond U+FFFF takes two places).
void shownText(QByteArrayView bytes, const DecodeOptions &options, QString &text,
               std::vector<int> *byteOf = nullptr);

// Whether the line counts as UTF-8 under "Automatisch": valid, with at least
// one character of more than one byte.
bool looksLikeUtf8(QByteArrayView bytes);

// The name or code in a boxed cell: "ESC", "NBSP", "9D", and for an invalid
// byte its code ("C3").
QString boxLabel(const Cell &cell);

// The cell as a copied text shows it: the character, a tab as a tab, other
// boxed bytes as their name in angle brackets, hidden cells as nothing; as
// the receive box copies its text.
void appendCopyText(const Cell &cell, QString &out);
