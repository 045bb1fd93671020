// Bytes typed in hex ("Bytes einfügen…"): a text that is taken yields exactly
// the bytes its digit pairs spell, in order, and no message; one that is not
// taken yields a message and no bytes. Which texts are taken is worked out
// here again, the plain way: groups between blanks, each an even number of
// hex digits, and at least one byte in all. A message stays short whatever
// the text, so that it never widens the dialog it is shown in.

#include "hexbytes.h"
#include "check.h"

#include <QByteArray>
#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const HexBytes parsed = parseHexBytes(text);

    bool good = true;
    QByteArray expected;
    QString group;
    auto endGroup = [&] {
        if (group.size() % 2 != 0)
            good = false;
        for (const QChar c : std::as_const(group))
            if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
                good = false;
        if (good)
            expected += QByteArray::fromHex(group.toLatin1());
        group.clear();
    };
    for (const QChar c : text) {
        if (c.isSpace())
            endGroup();
        else
            group += c;
    }
    endGroup();
    good = good && !expected.isEmpty();

    FUZZ_CHECK(parsed.ok() == good);
    if (good)
        FUZZ_CHECK(parsed.bytes == expected);
    else
        FUZZ_CHECK(parsed.bytes.isEmpty() && !parsed.error.isEmpty() && parsed.error.size() <= 140);
    return 0;
}
