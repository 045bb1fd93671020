// The text of the port box: what reads as a port number is a decimal number
// with an optional sign and spaces only around it, within 16 bits; any other
// decimal number is refused with 6, any other text with 13.

#include "porttext.h"
#include "check.h"
#include "kavroerror.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const QString trimmed = trimSpaces(text);
    FUZZ_CHECK(trimSpaces(trimmed) == trimmed && text.contains(trimmed));
    static const QRegularExpression decimal(QStringLiteral("\\A[+-]?[0-9]+\\z"));
    const bool isDecimal = decimal.match(trimmed).hasMatch();
    bool fits = false;
    const qlonglong value = trimmed.toLongLong(&fits);
    fits = fits && value >= -32768 && value <= 32767;
    try {
        const qint16 n = portNumber(text);
        FUZZ_CHECK(isDecimal && fits && n == value);
    } catch (const KavroError &e) {
        FUZZ_CHECK(e.number() == (!isDecimal ? Err::TypeMismatch : Err::Overflow));
        FUZZ_CHECK(!isDecimal || !fits);
    }
    return 0;
}
