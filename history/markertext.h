#pragma once

#include <QString>

// The marker lines' texts, as the operator reads them in the history and in
// a saved text.
namespace MarkerText
{
// "Com 3 geöffnet (9600,n,8,1), 06.12.2026 14:03:07"
QString portOpened(int port, const QString &settings, qint64 time);
// "Com 3 geschlossen, 06.12.2026 14:05:00"
QString portClosed(int port, qint64 time);
// A file transfer began or ended: "Übertragung beendet: …, 06.12.2026 14:05:00"
QString transfer(const QString &what, qint64 time);
// The line at the top once older data went: how much.
QString dropped(qint64 bytes);
} // namespace MarkerText
