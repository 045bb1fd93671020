#include "codepage.h"

namespace
{

// 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr char16_t High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98
};

int byteOf(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c < 0x100))
        return c;
    for (int i = 0; i < 32; ++i) {
        if (High[i] == c)
            return 0x80 + i;
    }
    return -1;
}

} // namespace

QChar charFromByte(uchar byte)
{
    return byte >= 0x80 && byte < 0xA0 ? QChar(High[byte - 0x80]) : QChar(byte);
}

QString textFromBytes(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char b : bytes)
        *out++ = charFromByte(uchar(b));
    return text;
}

QByteArray bytesFromText(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const int b = byteOf(c);
        if (b >= 0) {
            bytes.append(char(b));
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        bytes.append('?');
    }
    return bytes;
}
