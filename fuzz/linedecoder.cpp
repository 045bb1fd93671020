// One received line as the history and the receive box show it, in every
// character set with colours on and off: every byte stands in exactly one
// cell, in order; a character read as UTF-8 is exactly the bytes of its cell;
// with colours off nothing is hidden; the text a search looks through has
// one character for each cell that is shown; and a cut of a long line before
// any byte moves on no more than the bytes before it.

#include "linedecoder.h"
#include "sequences.h"

#include "check.h"
#include <QList>
#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView line(bytes, qsizetype(size));
    if (!line.isEmpty()) {
        const qsizetype moved = unfinishedTail(line.chopped(1), uchar(line.back()));
        FUZZ_CHECK(moved >= 0 && moved < line.size());
    }
    std::vector<Cell> cells;
    QString text;
    std::vector<int> byteOf;
    for (const Charset charset : {Charset::Windows1252, Charset::Utf8, Charset::Automatic}) {
        for (const bool colours : {false, true}) {
            const DecodeOptions options{charset, colours};
            TextStyle style;
            cells.clear();
            decodeLine(line, options, style, cells);
            qsizetype next = 0, shown = 0;
            for (const Cell &c : cells) {
                FUZZ_CHECK(c.begin == next && c.size >= 1);
                next += c.size;
                FUZZ_CHECK(next <= line.size());
                FUZZ_CHECK(colours || c.kind != Cell::Hidden);
                if (c.kind == Cell::Hidden)
                    continue;
                shown += c.code > 0xffff && !c.invalid ? 2 : 1;
                if (charset == Charset::Windows1252)
                    FUZZ_CHECK(c.size == 1);
                if (c.kind == Cell::Char && c.size > 1) {
                    // A multi-byte character: its bytes are its UTF-8 and nothing else.
                    const QString decoded = QString::fromUtf8(line.sliced(c.begin, c.size));
                    FUZZ_CHECK(decoded.toUcs4() == QList<uint>{uint(c.code)});
                }
            }
            FUZZ_CHECK(next == line.size());

            text.clear();
            byteOf.clear();
            shownText(line, options, text, &byteOf);
            FUZZ_CHECK(text.size() == shown);
            FUZZ_CHECK(qsizetype(byteOf.size()) == text.size());
            for (size_t i = 1; i < byteOf.size(); ++i)
                FUZZ_CHECK(byteOf[i] >= byteOf[i - 1] && byteOf[i] < line.size());
        }
    }
    return 0;
}
