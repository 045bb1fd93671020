#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>
#include <QStringView>

// The code page of the line: Windows-1252, one byte one character both ways.
// The five bytes it leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for
// the characters of the same number, so every byte has exactly one character
// and every such character exactly one byte.

// The character of a received byte.
QChar charFromByte(uchar byte);
QString textFromBytes(QByteArrayView bytes);

// The bytes of a text to send; a character without a byte in the code page
// (a surrogate pair counts as one) goes out as '?'.
QByteArray bytesFromText(QStringView text);
