#pragma once

#include "linedecoder.h"

#include <QString>
#include <QStringList>

// The character sets as the operator picks them: "Automatisch", "UTF-8",
// "Windows-1252".
QString charsetName(Charset charset);
QStringList charsetNames();
// The character set of a name; `otherwise` for an unknown one.
Charset charsetNamed(const QString &name, Charset otherwise);
