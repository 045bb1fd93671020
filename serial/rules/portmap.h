#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What the system tells of one of its serial devices (read by the port layer
// from QSerialPortInfo; tests give their own).
struct SystemPort {
    QString path;
    QString description;
    QString manufacturer;
    QString serialNumber;
    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
};

// Port numbers to devices. Port n is the device the link `com<n>` in the link
// folder points to, when that link exists; otherwise the n-th serial device the
// system reports, ordered /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, then the rest,
// each family by its number, with numbers that links take skipped.
class PortMap
{
public:
    // What is behind one port number.
    struct Entry {
        qint16 number = 0;
        // What opening the port opens; empty when the link points nowhere.
        QString device;
        // Whether the link folder decides this number, and the link's target
        // as it is written there (a device path, or any other text a link may
        // hold); the target is empty for a plain file named com<n>.
        bool linked = false;
        QString linkTarget;
        // What the system reports of the device, when it reports it.
        std::optional<SystemPort> system;

        bool dangling() const { return linked && device.isEmpty(); }
    };

    PortMap(QString linkDir, std::function<QStringList()> systemPorts);
    PortMap(QString linkDir, std::function<QList<SystemPort>()> systemPorts);

    // $XDG_CONFIG_HOME/kavro/ports, or ~/.config/kavro/ports.
    static QString defaultLinkDir();

    // Port numbers start at 1; throws KavroError 8002 for any other.
    static void checkNumber(qint16 n);

    // Every number that has a link or a system device, in number order. This
    // is the one place that decides what a number is: opening a port and the
    // port list both ask it.
    QList<Entry> entries() const;

    // The device of port n; throws KavroError 8002 when there is none.
    QString device(qint16 n) const;

    // The system's devices in numbering order.
    static QStringList ordered(QStringList devices);

    // One name in the link folder as the folder shows it: the name, the
    // link's text as written (empty for anything that is no link) and the
    // device it leads to on this machine (empty when it leads nowhere).
    struct FolderName {
        QString name;
        QString linkText;
        QString resolved;
    };
    // The rule of entries() without a folder: what these folder names and
    // system devices make. `canonical` gives the one name that two names of
    // a device share.
    static QList<Entry> entriesOf(const QList<FolderName> &folder, const QList<SystemPort> &system,
                                  const std::function<QString(const QString &)> &canonical);

    const QString &linkDir() const { return m_linkDir; }

private:
    QString m_linkDir;
    std::function<QList<SystemPort>()> m_systemPorts;
};
