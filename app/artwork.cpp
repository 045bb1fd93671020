#include "artwork.h"

#include "kavroversion.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace
{

// The two colours of the brand: deep night blue fading into teal.
const QColor Navy(0x0b, 0x25, 0x45);
const QColor Teal(0x13, 0x80, 0x7a);
const QColor Wave(0x9f, 0xf3, 0xe4);

// One character frame on the line, as a logic analyser would show it: idle
// high, start bit low, eight data bits (0x4B, least significant first), stop bit
// high. Returns the levels, one per bit cell.
QList<bool> frameBits()
{
    QList<bool> bits{true, false};
    const int byte = 0x4B;
    for (int i = 0; i < 8; ++i)
        bits.append((byte >> i) & 1);
    bits.append(true);
    bits.append(true);
    return bits;
}

QPainterPath squareWave(const QList<bool> &bits, qreal x, qreal cell, qreal high, qreal low)
{
    QPainterPath path;
    path.moveTo(x, bits.first() ? high : low);
    for (qsizetype i = 0; i < bits.size(); ++i) {
        const qreal y = bits[i] ? high : low;
        path.lineTo(x, y);
        x += cell;
        path.lineTo(x, y);
    }
    return path;
}

} // namespace

QPixmap kavroLogo(QSize size)
{
    constexpr qreal W = 443;
    constexpr qreal H = 71;

    QPixmap pix(size);
    pix.fill(Navy);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size.width() / W, size.height() / H);

    QLinearGradient band(0, 0, W, H);
    band.setColorAt(0.0, Navy);
    band.setColorAt(1.0, Teal);
    p.fillRect(QRectF(0, 0, W, H), band);

    // A faint grid behind the wave, like the screen of a scope.
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    for (qreal x = 180; x < W; x += 16)
        p.drawLine(QPointF(x, 6), QPointF(x, 44));
    for (qreal y = 6; y <= 44; y += 9.5)
        p.drawLine(QPointF(180, y), QPointF(W - 8, y));

    // The name.
    p.setPen(Qt::white);
    p.setFont(designFont(46, true));
    p.drawText(QRectF(14, 0, 170, H), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kavro"));

    // The wave: one character going out on the line.
    const QList<bool> bits = frameBits();
    const qreal cell = (W - 8 - 184) / bits.size();
    p.setPen(QPen(Wave, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(squareWave(bits, 184, cell, 12, 36));

    // The subtitle, right under the wave.
    p.setPen(QColor(0xdd, 0xf4, 0xf0));
    p.setFont(designFont(17, false));
    p.drawText(QRectF(184, 44, W - 8 - 184, 24), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Serielles Terminal"));
    return pix;
}

QImage kavroIconImage(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    const qreal s = size;
    const QRectF body(0.5, 0.5, s - 1, s - 1);
    QLinearGradient g(body.topLeft(), body.bottomRight());
    g.setColorAt(0.0, Navy);
    g.setColorAt(1.0, Teal);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(body, s * 0.2, s * 0.2);

    // A bold square wave; at 16 pixels it is what stays readable. Whole pixel
    // corners and an even pen width keep its edges sharp at small sizes.
    const int pen = 2 * qMax(1, qRound(s / 20));
    auto at = [s](qreal fraction) { return qreal(qRound(s * fraction)); };
    QPainterPath wave;
    const qreal hi = at(0.30);
    const qreal lo = at(0.62);
    wave.moveTo(at(0.12), lo);
    wave.lineTo(at(0.30), lo);
    wave.lineTo(at(0.30), hi);
    wave.lineTo(at(0.50), hi);
    wave.lineTo(at(0.50), lo);
    wave.lineTo(at(0.70), lo);
    wave.lineTo(at(0.70), hi);
    wave.lineTo(at(0.88), hi);
    p.setPen(QPen(Qt::white, pen, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);

    // Larger sizes get the pins of a nine-pole connector along the bottom.
    if (size >= 24) {
        p.setPen(Qt::NoPen);
        p.setBrush(Wave);
        const qreal r = s * 0.035;
        for (int i = 0; i < 5; ++i)
            p.drawEllipse(QPointF(s * (0.26 + i * 0.12), s * 0.78), r, r);
        for (int i = 0; i < 4; ++i)
            p.drawEllipse(QPointF(s * (0.32 + i * 0.12), s * 0.88), r, r);
    }
    return img;
}

QIcon kavroIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(kavroIconImage(16)));
    icon.addPixmap(QPixmap::fromImage(kavroIconImage(32)));
    return icon;
}

QFont designFont(int pixelSize, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("Arial")});
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QString kavroNotice()
{
    return QStringLiteral("Kavro V" KAVRO_NOTICE_VERSION
                          " \u2013 serielles Terminal \u2013 \u00a9 2026 die Kavro-Entwickler");
}
