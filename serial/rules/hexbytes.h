#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Bytes typed in hex: pairs of hex digits, upper or lower case, in groups
// separated by blanks ("1B 5B 41", "1b5b41", "1B5B 41"). Anything else is
// refused with a German sentence that says what is wrong and where; it quotes
// a long group by its beginning, so it stays short whatever was pasted.
struct HexBytes {
    QByteArray bytes;
    QString error; // empty when the text was good

    bool ok() const { return error.isEmpty(); }
};

HexBytes parseHexBytes(QStringView text);
