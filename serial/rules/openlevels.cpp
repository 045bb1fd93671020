#include "openlevels.h"

#include "kavroconf.h"
#include "kavroerror.h"

#include <QSettings>

namespace
{

QString group(qint16 port)
{
    return QStringLiteral("com%1").arg(port);
}

} // namespace

OpenLevels OpenLevels::load(qint16 port)
{
    QSettings file(kavroSettingsPath(), QSettings::IniFormat);
    file.beginGroup(group(port));
    return {file.value(QStringLiteral("dtrOnOpen"), true).toBool(),
            file.value(QStringLiteral("rtsOnOpen"), true).toBool()};
}

void OpenLevels::save(qint16 port, const OpenLevels &levels)
{
    QSettings file(kavroSettingsPath(), QSettings::IniFormat);
    file.beginGroup(group(port));
    file.setValue(QStringLiteral("dtrOnOpen"), levels.dtr);
    file.setValue(QStringLiteral("rtsOnOpen"), levels.rts);
    file.endGroup();
    file.sync();
    if (file.status() != QSettings::NoError)
        raiseError(Err::PathAccess,
                   QStringLiteral("Die Einstellung „Beim Öffnen“ kann nicht in %1 gespeichert "
                                  "werden")
                       .arg(kavroSettingsPath()));
}
