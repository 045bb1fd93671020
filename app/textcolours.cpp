#include "textcolours.h"

#include "linedecoder.h"

#include <array>
#include <cmath>

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

QRgb sequenceColour(quint32 colour)
{
    if (colour & TextColour::IndexedFlag)
        return indexedColour(int(colour & 0xff));
    return QRgb(colour & 0xffffff);
}

// The light of a colour as the eye takes it (sRGB to linear, weighted), by
// table: this runs for every cell painted.
double luminance(QRgb c)
{
    static const std::array<double, 256> linear = [] {
        std::array<double, 256> t{};
        for (size_t i = 0; i < t.size(); ++i) {
            const double v = double(i) / 255;
            t[i] = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return 0.2126 * linear[size_t(qRed(c))] + 0.7152 * linear[size_t(qGreen(c))] +
           0.0722 * linear[size_t(qBlue(c))];
}

double ratio(double a, double b)
{
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QRgb mixed(QRgb from, QRgb to, double t)
{
    auto channel = [t](int a, int b) { return int(std::lround(a + (b - a) * t)); };
    return qRgb(channel(qRed(from), qRed(to)), channel(qGreen(from), qGreen(to)),
                channel(qBlue(from), qBlue(to)));
}

// A pen with alpha as it lands on the ground.
QRgb over(QRgb pen, QRgb ground)
{
    return mixed(ground, pen, qAlpha(pen) / 255.0);
}

// The pen mixed with black or with white, whichever needs less of it, just
// enough to reach the contrast. The light has to move away from the ground's:
// down to `(ground + 0.05) / ratio - 0.05` on the way to black, up to
// `ratio * (ground + 0.05) - 0.05` on the way to white. Every ground can be
// met one way or the other (either end has at least 4.5 against any ground).
QRgb readable(QRgb pen, QRgb ground)
{
    const double light = luminance(ground);
    const double darkest = (light + 0.05) / MinimumContrast - 0.05;
    const double lightest = MinimumContrast * (light + 0.05) - 0.05;
    QRgb best = pen;
    double bestShare = 2;
    for (const bool toBlack : {true, false}) {
        const QRgb end = toBlack ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
        auto enough = [&](QRgb c) {
            return toBlack ? luminance(c) <= darkest : luminance(c) >= lightest;
        };
        if (!enough(end))
            continue;
        double low = 0, high = 1;
        for (int step = 0; step < 12; ++step) {
            const double mid = (low + high) / 2;
            (enough(mixed(pen, end, mid)) ? high : low) = mid;
        }
        if (high < bestShare) {
            bestShare = high;
            best = mixed(pen, end, high);
        }
    }
    return best;
}

} // namespace

QColor groundColour(quint32 colour)
{
    if (colour & (TextColour::IndexedFlag | TextColour::RgbFlag))
        return QColor(sequenceColour(colour));
    return QColor();
}

QColor textColour(quint32 colour, const QColor &fallback, const QColor &ground)
{
    const QRgb pen = colour & (TextColour::IndexedFlag | TextColour::RgbFlag)
                         ? sequenceColour(colour) | 0xff000000
                         : fallback.rgba();
    const QRgb on = ground.rgb();
    const QRgb seen = over(pen, on);
    if (ratio(luminance(seen), luminance(on)) >= MinimumContrast)
        return QColor::fromRgba(pen);
    return QColor(readable(seen, on));
}

qreal contrast(const QColor &pen, const QColor &ground)
{
    return ratio(luminance(over(pen.rgba(), ground.rgb())), luminance(ground.rgb()));
}
