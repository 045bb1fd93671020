// Saves a picture of the window as it looks right after start:
//   kavro-snapshot <out.png>
// Runs fine on the offscreen platform; the port is never opened.

#include "kavrowindow.h"
#include "startup.h"

#include <QApplication>
#include <QPixmap>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "Aufruf: kavro-snapshot <bild.png>\n";
        return 2;
    }
    prepareApplication(app);

    KavroWindow w;
    w.show();
    QCoreApplication::processEvents();
    if (!w.grab().save(args.at(1), "PNG")) {
        QTextStream(stderr) << "Bild konnte nicht gespeichert werden: " << args.at(1) << '\n';
        return 1;
    }
    return 0;
}
