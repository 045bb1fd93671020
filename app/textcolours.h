#pragma once

#include <QColor>

// The colours a colour sequence of a board's log asked for (linedecoder.h
// TextColour: one of a terminal's 256 numbered colours, or red, green and
// blue). The classic sixteen are dark enough to read on a light ground; the
// other 240 are the usual cube and grey ramp. The one place both views of
// received text take them from.

// The least contrast text keeps against the ground it is drawn on, as the
// ratio of the web's accessibility guidelines (1 for a colour on itself, 21
// for black on white): what those ask of large text and of what must be made
// out at all. Of the classic sixteen on white only bright green (2.3) and
// bright white (2.85) fall short and are drawn a little darker.
constexpr qreal MinimumContrast = 3.0;

// The ground a sequence asked for; an invalid colour for the view's own.
QColor groundColour(quint32 colour);

// The colour text is drawn in: what the sequence asked for, or `fallback`
// for the terminal's default, made darker or lighter as little as it takes
// to stand out from `ground` by MinimumContrast. A board that writes white
// on the white ground of the view, or a colour on the same colour, is read
// all the same, as terminals with a least contrast do.
QColor textColour(quint32 colour, const QColor &fallback, const QColor &ground);

// The contrast ratio of two colours, from 1 to 21 (a colour with alpha counts
// as drawn over the other).
qreal contrast(const QColor &pen, const QColor &ground);
