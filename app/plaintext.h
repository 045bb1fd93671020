#pragma once

#include <QString>

class QWidget;

// Text that comes from outside the program (a link's text, what a USB device
// says of itself, the name of a program holding a port, a server's address)
// as a tooltip that shows it literally: Qt takes any text that looks like
// markup for rich text and would show a heading, a link or a picture from
// disk. Line breaks are kept. Lines wider than the screen `widget` is on are
// wrapped, and a text taller than that screen shows its first lines and says
// how many are left out, so that the tooltip stays within the screen.
QString plainToolTip(const QString &text, const QWidget *widget);
