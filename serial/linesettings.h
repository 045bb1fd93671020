#pragma once

#include <QSerialPort>
#include <QString>

class QDebug;

// Line parameters parsed from the settings text "baud,parity,data,stop".
struct LineSettings
{
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // Throws KavroError (Err::InvalidValue) for a text it cannot use.
    static LineSettings parse(const QString &text);

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

QDebug operator<<(QDebug dbg, const LineSettings &s);
