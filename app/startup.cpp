#include "startup.h"

#include "artwork.h"
#include "errorreporter.h"
#include "kavrosettings.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <QTranslator>
#include <QWidget>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

void prepareApplication(QApplication &app)
{
    // Desktops match the window to its installed entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.kavro.Kavro"));

    // One look everywhere, whatever desktop the program runs on.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);

    // Qt's own texts (file dialog, context menus of the text boxes) in German.
    // Without the translation package they stay English; the program's own
    // texts are German either way.
    auto *qtTexts = new QTranslator(&app);
    if (qtTexts->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    else
        delete qtTexts;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    // Where "MS Sans Serif" is asked for, take the sans font with its widths.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});

    QApplication::setWindowIcon(kavroIcon());
}

void reportSettingsFile(ErrorReporter &reporter)
{
    reporter.run([] { KavroSettings::check(); }, ErrorReporter::Show::FromEventLoop);
}

namespace
{

// A signal handler may only write to a descriptor; the event loop reads the
// other end and closes the window.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

} // namespace

void closeOnTerminationSignals(QWidget *window)
{
    if (signalPipe[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        window->close();
    });
    struct sigaction action {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(s, &action, nullptr);
}
