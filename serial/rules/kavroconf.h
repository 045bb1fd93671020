#pragma once

#include <QString>

// kavro.conf, where the operator's choices are kept between runs:
// $XDG_CONFIG_HOME/kavro/kavro.conf (normally ~/.config/kavro/kavro.conf), read
// and written with QSettings in its ini format wherever a choice is needed.
//
// Kavro writes a few hundred bytes there. QSettings reads a file whole, so a
// far larger one (damaged, or filled by something else) would cost seconds
// and hundreds of megabytes at every start, and again at every choice saved.
// While kavro.conf is that large it is set aside: the run starts with the
// defaults and keeps the choices made meanwhile in a file of its own, removed
// when the run ends, and neither reads nor changes kavro.conf.

// The most kavro.conf may hold to be used.
constexpr qint64 LargestSettingsFile = qint64(1) << 20;

// The file to open with QSettings now: kavro.conf, or this run's own while
// kavro.conf is set aside.
QString kavroSettingsPath();

// Throws KavroError when kavro.conf is set aside, telling the operator why
// and what the run does instead; nothing when it is used.
void checkSettingsFile();
