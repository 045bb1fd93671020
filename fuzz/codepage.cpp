// The code page both ways: every byte string comes back unchanged through
// text, one character per byte; any text goes out as one byte per character
// (a surrogate pair counts as one), and what a byte stands for goes out as
// that byte again.

#include "codepage.h"
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView raw(bytes, qsizetype(size));
    const QString text = textFromBytes(raw);
    FUZZ_CHECK(text.size() == raw.size());
    FUZZ_CHECK(bytesFromText(text) == raw);

    // The same bytes read as UTF-16 text, lone surrogates and all.
    const QStringView typed(reinterpret_cast<const char16_t *>(bytes), qsizetype(size / 2));
    const QByteArray sent = bytesFromText(typed);
    qsizetype pairs = 0;
    for (qsizetype i = 0; i + 1 < typed.size(); ++i) {
        if (typed[i].isHighSurrogate() && typed[i + 1].isLowSurrogate()) {
            ++pairs;
            ++i;
        }
    }
    FUZZ_CHECK(sent.size() == typed.size() - pairs);
    const QString back = textFromBytes(sent);
    FUZZ_CHECK(bytesFromText(back) == sent);
    for (qsizetype i = 0, j = 0; i < typed.size(); ++i, ++j) {
        if (back[j] != u'?')
            FUZZ_CHECK(back[j] == typed[i]);
        if (typed[i].isHighSurrogate() && i + 1 < typed.size() && typed[i + 1].isLowSurrogate())
            ++i;
    }
    return 0;
}
