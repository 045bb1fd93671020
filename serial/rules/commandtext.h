#pragma once

#include <QString>

// The line end appended to a command, one per option of the "Abschlusszeichen"
// group.
enum class Terminator { None, Cr, Lf, CrLf, LfCr };

// The command as it goes out: the trailing run of CR and LF characters
// removed, in whatever order they stand, then the terminator appended. CR and
// LF inside the command stay.
QString commandToSend(QString command, Terminator terminator);
