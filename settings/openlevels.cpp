#include "openlevels.h"

#include "kavrosettings.h"

OpenLevels OpenLevels::load(qint16 port)
{
    return KavroSettings().openLevels(port);
}

void OpenLevels::save(qint16 port, const OpenLevels &levels)
{
    KavroSettings().setOpenLevels(port, levels);
}
