#pragma once

#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

// Kavro's own branding, drawn in code so there are no image files to ship.

// The logo, designed on a 443 by 71 canvas and drawn stretched to the size
// asked for (the window shows it squeezed into a smaller box).
QPixmap kavroLogo(QSize size);

// The application icon at any size: a rounded square with a square wave.
QImage kavroIconImage(int size);

// The window icon with its 16 and 32 pixel images.
QIcon kavroIcon();

// The program's type face at a pixel size. The layout was drawn for
// "MS Sans Serif"; Liberation Sans has the same widths as the Windows sans
// fonts and is what Debian ships.
QFont designFont(int pixelSize, bool bold = false);

// The one-line notice under the logo.
QString kavroNotice();
