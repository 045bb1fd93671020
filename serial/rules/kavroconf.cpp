#include "kavroconf.h"

#include "kavroerror.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace
{

QString kavroConf()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/kavro/kavro.conf");
}

// Looked at whenever the file is opened, so that it follows the folder the
// environment names at that moment; a stat costs nothing beside QSettings.
bool setAside(const QString &conf)
{
    return QFileInfo(conf).size() > LargestSettingsFile;
}

} // namespace

QString kavroSettingsPath()
{
    const QString conf = kavroConf();
    if (!setAside(conf))
        return conf;
    static const QTemporaryDir own(QDir::tempPath() + QStringLiteral("/kavro-settings-XXXXXX"));
    return own.isValid() ? own.filePath(QStringLiteral("kavro.conf")) : QString();
}

void checkSettingsFile()
{
    const QString conf = kavroConf();
    if (!setAside(conf))
        return;
    const QLocale german(QLocale::German);
    raiseError(Err::PathAccess,
               QStringLiteral("Die Einstellungsdatei %1 ist %2 Bytes groß, weit mehr als die "
                              "höchstens %3 Bytes, die Kavro liest. Kavro beginnt mit den "
                              "Grundeinstellungen und lässt die Datei in diesem Lauf unberührt.")
                   .arg(conf, german.toString(QFileInfo(conf).size()),
                        german.toString(LargestSettingsFile)));
}
