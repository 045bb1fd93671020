#include "porttransport.h"

QString lineRefusedText(ModemOutput line, bool on, const QString &port, const QString &reason)
{
    const QString name = line == ModemOutput::Dtr   ? QStringLiteral("DTR")
                         : line == ModemOutput::Rts ? QStringLiteral("RTS")
                                                    : QStringLiteral("Break");
    return QStringLiteral("%1 lässt sich am Anschluss %2 nicht %3 (%4)")
        .arg(name, port, on ? QStringLiteral("einschalten") : QStringLiteral("ausschalten"),
             reason);
}

QString settingsRefusedText(const QString &settings, const QString &port)
{
    return QStringLiteral(
               "Ungültiger Eigenschaftswert: Einstellungen „%1“ am Anschluss %2 nicht möglich")
        .arg(settings, port);
}
