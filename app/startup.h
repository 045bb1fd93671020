#pragma once

class QApplication;

// Everything the application needs before the window is made: the look, the
// German texts of Qt's own dialogs, the fonts and the icon.
void prepareApplication(QApplication &app);

class ErrorReporter;
class QWidget;

// Tells the operator, once the window is up, that kavro.conf is set aside for
// this run because it is far larger than Kavro writes (kavrosettings.h).
void reportSettingsFile(ErrorReporter &reporter);

// SIGTERM, SIGHUP and SIGINT close the window as the operator would, so a
// logout or a kill closes the port and the capture file properly. The
// handlers stay for the life of the process.
void closeOnTerminationSignals(QWidget *window);
