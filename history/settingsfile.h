#pragma once

#include "linedecoder.h"

#include <QString>
#include <QStringList>

// Where the program remembers the operator's choices between runs:
// $XDG_CONFIG_HOME/kavro/kavro.conf (normally ~/.config/kavro/kavro.conf), read
// with QSettings in its ini format whenever a window needs it.
QString kavroSettingsPath();

// The character sets as the operator picks them: "Automatisch", "UTF-8",
// "Windows-1252".
QString charsetName(Charset charset);
QStringList charsetNames();
// The character set of a name; `otherwise` for an unknown one.
Charset charsetNamed(const QString &name, Charset otherwise);
