#include "kavrowindow.h"
#include "startup.h"

#include <QApplication>

#include <csignal>

int main(int argc, char *argv[])
{
    // A capture file that reaches the process's file size limit must end in a
    // write error the operator sees, not in the program being killed.
    std::signal(SIGXFSZ, SIG_IGN);

    QApplication app(argc, argv);
    prepareApplication(app);

    KavroWindow w;
    closeOnTerminationSignals(&w);
    w.show();
    reportSettingsFile(w.reporter());
    w.reportCommandsFile();
    return app.exec();
}
