// Renders the application icon into a hicolor icon tree at build time:
//   kavro-icons <folder> <name> <size>...
// writes <folder>/<size>x<size>/apps/<name>.png for every size. The icon is
// drawn by the program's own artwork code, so the desktop shows the same
// picture as the window.

#include "artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    // Drawing needs no screen; the build may run where there is none.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4) {
        QTextStream(stderr) << "Aufruf: kavro-icons <ordner> <name> <größe>...\n";
        return 2;
    }
    for (const QString &text : args.mid(3)) {
        bool ok = false;
        const int size = text.toInt(&ok);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args.at(1)).arg(size);
        const QString file = QStringLiteral("%1/%2.png").arg(dir, args.at(2));
        if (!ok || size < 1 || !QDir().mkpath(dir) || !kavroIconImage(size).save(file, "PNG")) {
            QTextStream(stderr) << "Symbol nicht geschrieben: " << file << '\n';
            return 1;
        }
    }
    return 0;
}
