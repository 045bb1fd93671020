#include "linesettings.h"

#include "kavroerror.h"

#include <QDebug>
#include <QStringList>

namespace {

[[noreturn]] void refuse(const QString &text, const QString &why)
{
    raiseError(Err::InvalidValue,
               QStringLiteral("Ungültiger Eigenschaftswert: Einstellungen „%1“ (%2)").arg(text, why));
}

} // namespace

LineSettings LineSettings::parse(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        refuse(text, QStringLiteral("vier Felder erwartet"));

    // Blanks around a field are forgiven: an operator who types " 9600" into
    // the baud box means 9600.
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
    if (parity == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        refuse(text, QStringLiteral("Parität"));

    const QString data = fields[2].trimmed();
    if (data == QLatin1String("5"))
        s.dataBits = QSerialPort::Data5;
    else if (data == QLatin1String("6"))
        s.dataBits = QSerialPort::Data6;
    else if (data == QLatin1String("7"))
        s.dataBits = QSerialPort::Data7;
    else if (data == QLatin1String("8"))
        s.dataBits = QSerialPort::Data8;
    else
        refuse(text, QStringLiteral("Datenbits"));

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        refuse(text, QStringLiteral("Stoppbits"));

    return s;
}

QDebug operator<<(QDebug dbg, const LineSettings &s)
{
    QDebugStateSaver saver(dbg);
    dbg.nospace() << "LineSettings(" << s.baud << ", " << s.parity << ", " << s.dataBits << ", "
                  << s.stopBits << ')';
    return dbg;
}
