#pragma once

#include <QString>

class QDebug;

// The line parameters of the settings text "baud,parity,data,stop".
struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // The settings text from its four fields, joined by commas as they are.
    static QString compose(const QString &baud, const QString &parity, const QString &dataBits,
                           const QString &stopBits);
    // Throws KavroError (Err::InvalidValue) for a text the port cannot use.
    static LineSettings parse(const QString &text);

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

QDebug operator<<(QDebug dbg, const LineSettings &s);
