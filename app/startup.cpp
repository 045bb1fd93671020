#include "startup.h"

#include "artwork.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QTranslator>

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
