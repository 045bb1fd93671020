#include "bytenames.h"

#include "codepage.h"

namespace
{

// The names of the control bytes 0 to 31, as in the ASCII table.
constexpr const char *controlNames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US",
};

} // namespace

QString controlName(uchar byte)
{
    if (byte < 0x20)
        return QString::fromLatin1(controlNames[byte]);
    if (byte == 0x7f)
        return QStringLiteral("DEL");
    return {};
}

ShownByte shownAs(uchar byte)
{
    if (byte < 0x20 || byte == 0x7f)
        return {controlName(byte), true};
    const char16_t c = charFromByte(byte).unicode();
    if (c >= 0x80 && c < 0xa0) // C1 controls have no common names: their code
        return {QString::number(c, 16).toUpper(), true};
    // Both look like nothing at all on the screen.
    if (byte == 0xa0)
        return {QStringLiteral("NBSP"), true};
    if (byte == 0xad)
        return {QStringLiteral("SHY"), true};
    return {QString(QChar(c)), false};
}
