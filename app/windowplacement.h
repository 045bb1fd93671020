#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// Where a window of the frame size `frame` goes when it opens beside the
// main window's frame `main` (none: in the middle): on its right where there
// is room, else on its left, else over it; always wholly within `available`,
// made smaller when it is larger.
QRect besideMainWindow(const QRect &main, const QSize &frame, const QRect &available);

// Moves a window that is about to be shown for the first time: where the
// operator left it when `remembered` (its geometry restored), on the screen
// that shows most of it; otherwise, or when that is off every screen, beside
// the main window `main` (none: in the middle of its screen).
void placeBesideMainWindow(QWidget *window, QWidget *main, bool remembered);

// Shows a window of the main window's (un-minimised, raised, active); the
// first time beside the main window as placeBesideMainWindow puts it.
void showBesideMainWindow(QWidget *window);
