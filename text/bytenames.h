#pragma once

#include <QString>

// How one received byte is shown to the operator, the same everywhere bytes
// are shown: a character of the code page (codepage.h), or a name drawn small
// in a box for the bytes that would otherwise look like nothing or like one
// another: the control bytes by their ASCII names ("ESC", "NUL"), DEL, the C1
// controls by their code ("90"), the no-break and the soft hyphen.
struct ShownByte {
    QString text;
    bool boxed = false;
};

ShownByte shownAs(uchar byte);

// The ASCII name of a control byte 0 to 31, or "DEL" for 127; empty for any
// other byte.
QString controlName(uchar byte);
