#pragma once

#include "deviceserialport.h"
#include "portstatus.h"

#include <QFileSystemWatcher>
#include <QMap>
#include <QObject>
#include <QTimer>

// What each port number is right now, in words for the operator: the device,
// what the system knows of it, the link that names it, and whether it can be
// opened. It asks the port map that opening asks, so the two never disagree,
// and it never opens a device. Devices coming and going are noticed through
// the folders they appear in (inotify), not by asking again and again.
class PortDirectory : public QObject
{
    Q_OBJECT
public:
    explicit PortDirectory(const DeviceSerialPort::Environment &environment,
                           QObject *parent = nullptr);

    // Looks at the devices now; changed() follows when any text differs.
    void refresh();

    // The words for port n as of the last look.
    QString describe(qint16 n) const;
    // What the port box's tooltip says for the text typed there: that
    // number's words, then every number that has a device.
    QString toolTip(const QString &typed) const;

Q_SIGNALS:
    void changed();

private:
    void watch(const QList<PortMap::Entry> &entries);

    DeviceSerialPort::Environment m_env;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QTimer m_again;
    QMap<qint16, QString> m_texts; // every number with a link or a device
    QList<qint16> m_present;       // the numbers whose device is there
};
