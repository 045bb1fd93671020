#pragma once

#include <QString>

// The text of the port box as the connection reads it.

// Without the spaces around it (spaces only, as the operator typed them; the
// messages quote the port this way too).
QString trimSpaces(const QString &text);

// The port number: after trimSpaces, an optional sign and decimal digits that
// make a 16-bit signed number. Throws KavroError 13 for a text that is no
// number and 6 for one outside -32768..32767.
qint16 portNumber(const QString &text);
