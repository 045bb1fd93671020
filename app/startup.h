#pragma once

class QApplication;

// Everything the application needs before the window is made: the look, the
// German texts of Qt's own dialogs, the fonts and the icon.
void prepareApplication(QApplication &app);
