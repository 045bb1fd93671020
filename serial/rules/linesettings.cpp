#include "linesettings.h"

#include "kavroerror.h"

#include <QDebug>
#include <QStringList>

#include <limits>

namespace
{

[[noreturn]] void refuse(const QString &text, const QString &why)
{
    raiseError(
        Err::InvalidValue,
        QStringLiteral("Ungültiger Eigenschaftswert: Einstellungen „%1“ (%2)").arg(text, why));
}

} // namespace

QString LineSettings::compose(const QString &baud, const QString &parity, const QString &dataBits,
                              const QString &stopBits)
{
    return baud + QLatin1Char(',') + parity + QLatin1Char(',') + dataBits + QLatin1Char(',') +
           stopBits;
}

LineSettings LineSettings::parse(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        refuse(text, QStringLiteral("vier Felder erwartet"));

    // Blanks around a field are forgiven: an operator who types " 9600" into
    // the baud box means 9600. Any positive rate passes here; the driver
    // decides at opening.
    LineSettings s;
    const QString baud = fields[0].trimmed();
    bool ok = !baud.isEmpty();
    for (QChar c : baud)
        ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const qint64 rate = ok ? baud.toLongLong(&ok) : 0;
    if (!ok || rate <= 0 || rate > std::numeric_limits<qint32>::max())
        refuse(text, QStringLiteral("Baudrate"));
    s.baud = qint32(rate);

    const QString parity = fields[1].trimmed().toLower();
    static const QString letters = QStringLiteral("neoms");
    if (parity.size() != 1 || !letters.contains(parity))
        refuse(text, QStringLiteral("Parität"));
    s.parity = Parity(letters.indexOf(parity));

    const QString data = fields[2].trimmed();
    if (data.size() != 1 || data.front() < QLatin1Char('5') || data.front() > QLatin1Char('8'))
        refuse(text, QStringLiteral("Datenbits"));
    s.dataBits = data.front().unicode() - '0';

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = StopBits::One;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = StopBits::OneAndHalf;
    else if (stop == QLatin1String("2"))
        s.stopBits = StopBits::Two;
    else
        refuse(text, QStringLiteral("Stoppbits"));
    // A UART has one and a half stop bits only with five data bits.
    if (s.stopBits == StopBits::OneAndHalf && s.dataBits != 5)
        refuse(text, QStringLiteral("1,5 Stoppbits nur mit 5 Datenbits"));
    return s;
}

QDebug operator<<(QDebug dbg, const LineSettings &s)
{
    QDebugStateSaver saver(dbg);
    static const char *const parity[] = {"n", "e", "o", "m", "s"};
    static const char *const stop[] = {"1", "1.5", "2"};
    dbg.nospace() << "LineSettings(" << s.baud << ',' << parity[int(s.parity)] << ',' << s.dataBits
                  << ',' << stop[int(s.stopBits)] << ')';
    return dbg;
}
