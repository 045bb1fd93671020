// One received line as the history and the receive box show it, in every
// character set with colours on and off: every byte stands in exactly one
// cell, in order; a character read as UTF-8 is exactly the bytes of its cell;
// with colours off nothing is hidden; the text a search looks through has
// one character for each cell that is shown; a search that looks at the
// bytes first never rules the line out for a piece of that text (with or
// without case), and where it searches the bytes themselves it finds the
// same places; and a cut of a long line before any byte moves on no more
// than the bytes before it.

#include "linedecoder.h"
#include "bytefilter.h"
#include "sequences.h"

#include "check.h"
#include <QList>
#include <QString>
#include <QStringMatcher>

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
    QByteArray buffer;
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

            if (text.isEmpty() || size < 2)
                continue;
            const QString pattern = text.mid(bytes[0] % text.size(), 1 + bytes[1] % 6);
            for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
                const ByteFilter filter(pattern, cs, options);
                if (!filter.usable())
                    continue;
                const ByteFilter::Reading reading =
                    filter.reading(line, filter.marksOf(line), buffer);
                FUZZ_CHECK(reading != ByteFilter::NotAtAll);
                if (reading != ByteFilter::InBytes)
                    continue;
                const QStringMatcher matcher(pattern, cs);
                for (qsizetype from = 0;;) {
                    const qsizetype at = matcher.indexIn(text, from);
                    FUZZ_CHECK(filter.findWhole(line, from) == at);
                    if (at < 0)
                        break;
                    from = at + pattern.size();
                }
            }
        }
    }
    return 0;
}
