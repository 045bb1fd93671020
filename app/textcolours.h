#pragma once

#include <QColor>

// The colour a colour sequence of a board's log asked for (linedecoder.h
// TextColour: one of a terminal's 256 numbered colours, or red, green and
// blue), or `fallback` for the terminal's default. The classic sixteen are
// dark enough to read on a light ground; the other 240 are the usual cube and
// grey ramp. The one place both views of received text take them from.
QColor textColour(quint32 colour, const QColor &fallback);
