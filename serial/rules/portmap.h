#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Port numbers to devices. Port n is the device the link `com<n>` in the link
// folder points to, when that link exists; otherwise the n-th serial device the
// system reports, ordered /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, then the rest,
// each family by its number, with numbers that links take skipped.
class PortMap
{
public:
    PortMap(QString linkDir, std::function<QStringList()> systemPorts);

    // $XDG_CONFIG_HOME/kavro/ports, or ~/.config/kavro/ports.
    static QString defaultLinkDir();

    // Port numbers start at 1; throws KavroError 8002 for any other.
    static void checkNumber(qint16 n);

    // The device of port n; throws KavroError 8002 when there is none.
    QString device(qint16 n) const;

    // The system's devices in numbering order.
    static QStringList ordered(QStringList devices);

    const QString &linkDir() const { return m_linkDir; }

private:
    QString m_linkDir;
    std::function<QStringList()> m_systemPorts;
};
