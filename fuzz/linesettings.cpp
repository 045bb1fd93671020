// The settings text: any text is either refused with 380 or read as
// settings, and the text composed from settings, those read or any the
// fuzzer makes up, reads back as the same settings.
//
// Input: a text; at its end the fields of made-up settings.

#include "linesettings.h"
#include "check.h"
#include "kavroerror.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace
{

QString composed(const LineSettings &s)
{
    static const char *const parity[] = {"n", "e", "o", "m", "s"};
    static const char *const stop[] = {"1", "1.5", "2"};
    return LineSettings::compose(
        QString::number(s.baud), QString::fromLatin1(parity[int(s.parity)]),
        QString::number(s.dataBits), QString::fromLatin1(stop[int(s.stopBits)]));
}

// The settings a text reads as; nothing when it is refused, which is only
// ever with 380.
std::optional<LineSettings> read(const QString &text)
{
    try {
        return LineSettings::parse(text);
    } catch (const KavroError &e) {
        FUZZ_CHECK(e.number() == Err::InvalidValue);
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    LineSettings made;
    made.baud = in.ConsumeIntegralInRange<qint32>(1, std::numeric_limits<qint32>::max());
    made.parity = LineSettings::Parity(in.ConsumeIntegralInRange(0, 4));
    made.dataBits = in.ConsumeIntegralInRange(5, 8);
    made.stopBits = LineSettings::StopBits(in.ConsumeIntegralInRange(0, 2));
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QString text = QString::fromUtf8(rest.data(), qsizetype(rest.size()));

    if (const std::optional<LineSettings> s = read(text)) {
        FUZZ_CHECK(read(composed(*s)) == s);
        FUZZ_CHECK(s->baud > 0 && s->dataBits >= 5 && s->dataBits <= 8);
    }
    // One and a half stop bits only with five data bits; everything else
    // the settings can hold is taken.
    const bool usable = made.stopBits != LineSettings::StopBits::OneAndHalf || made.dataBits == 5;
    FUZZ_CHECK(read(composed(made)) == (usable ? std::optional(made) : std::nullopt));
    return 0;
}
