#include "hexbytes.h"

#include <QLocale>

namespace
{

int digit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

HexBytes refuse(const QString &why)
{
    return {{}, why};
}

// A group as a message quotes it: a long one (a pasted dump run together)
// by its first digits, so that the message stays one or two lines.
QString quoted(QStringView group)
{
    constexpr qsizetype Shown = 12;
    if (group.size() <= Shown + 4)
        return group.toString();
    return group.first(Shown).toString() + QChar(0x2026);
}

} // namespace

HexBytes parseHexBytes(QStringView text)
{
    HexBytes out;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i].isSpace()) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && !text[i].isSpace()) {
            if (digit(text[i]) < 0) {
                // A surrogate pair is one character to the operator.
                const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
                return refuse(
                    QStringLiteral("„%1“ an Stelle %2 ist keine Hexziffer (erlaubt "
                                   "sind 0–9 und A–F).")
                        .arg(text.sliced(i, n), QLocale(QLocale::German).toString(i + 1)));
            }
            ++i;
        }
        const QStringView group = text.sliced(start, i - start);
        if (group.size() % 2 != 0)
            return refuse(QStringLiteral("„%1“ hat eine ungerade Zahl von Ziffern: jedes Byte "
                                         "besteht aus zwei Hexziffern, z. B. „0D“ statt „D“.")
                              .arg(quoted(group)));
        for (qsizetype k = 0; k < group.size(); k += 2)
            out.bytes.append(char(digit(group[k]) * 16 + digit(group[k + 1])));
    }
    if (out.bytes.isEmpty())
        return refuse(QStringLiteral("Bitte Bytes in Hex eingeben, z. B. „1B 5B 41“."));
    return out;
}
