#include "textcolours.h"

#include "linedecoder.h"

namespace
{

constexpr QRgb Classic[16] = {
    0x000000, 0xc01c28, 0x26a269, 0xa2734c, 0x12488b, 0xa347ba, 0x2a7bde, 0x77767b,
    0x5e5c64, 0xe01b24, 0x2ec27e, 0xc88800, 0x1e78e4, 0xc061cb, 0x0f9fb0, 0x9a9996,
};

QRgb indexedColour(int index)
{
    if (index < 16)
        return Classic[index];
    if (index < 232) {
        static constexpr int levels[6] = {0, 95, 135, 175, 215, 255};
        const int i = index - 16;
        return qRgb(levels[i / 36], levels[i / 6 % 6], levels[i % 6]);
    }
    const int grey = 8 + 10 * (index - 232);
    return qRgb(grey, grey, grey);
}

} // namespace

QColor textColour(quint32 colour, const QColor &fallback)
{
    if (colour & TextColour::IndexedFlag)
        return QColor(indexedColour(int(colour & 0xff)));
    if (colour & TextColour::RgbFlag)
        return QColor(QRgb(colour & 0xffffff));
    return fallback;
}
