#include "markertext.h"

#include <QDateTime>
#include <QLocale>

namespace
{
QString dateAndTime(qint64 time)
{
    return QDateTime::fromMSecsSinceEpoch(time).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}
} // namespace

QString MarkerText::portOpened(int port, const QString &settings, qint64 time)
{
    return QStringLiteral("Com %1 geöffnet (%2), %3").arg(port).arg(settings, dateAndTime(time));
}

QString MarkerText::portClosed(int port, qint64 time)
{
    return QStringLiteral("Com %1 geschlossen, %2").arg(port).arg(dateAndTime(time));
}

QString MarkerText::transfer(const QString &what, qint64 time)
{
    return QStringLiteral("%1, %2").arg(what, dateAndTime(time));
}

QString MarkerText::dropped(qint64 bytes)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    return QStringLiteral("Ältere Daten verworfen: %1 empfangen vor dem Beginn dieses Verlaufs")
        .arg(german.formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat));
}
