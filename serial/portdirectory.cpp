#include "portdirectory.h"

#include "networkaddress.h"

#include "porttext.h"

#include <QDir>
#include <QFileInfo>

namespace
{

// Devices are named as the operator knows them from /dev ("ttyUSB0",
// "pts/3"); anything elsewhere by its full path.
QString deviceName(const QString &path)
{
    return path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
}

QString hex4(quint16 id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

QString words(const PortMap::Entry &entry, PortStatus::State state)
{
    // A port on a serial server is named by its address; whether the server
    // answers is only learned by calling it, which the list never does.
    if (entry.linked && NetworkAddress::looksLike(entry.linkTarget))
        return entry.device.isEmpty()
                   ? entry.linkTarget + QStringLiteral(" · keine gültige Adresse")
                   : QStringLiteral("Netzwerkport ") + entry.device;
    QStringList parts;
    if (!entry.device.isEmpty()) {
        QString text = deviceName(entry.device);
        if (entry.system) {
            const SystemPort &s = *entry.system;
            QStringList known;
            for (const QString &part : {s.description, s.manufacturer})
                if (!part.isEmpty() && !known.contains(part))
                    known.append(part);
            if (!s.serialNumber.isEmpty())
                known.append(QStringLiteral("Seriennr. ") + s.serialNumber);
            if (s.vendorId && s.productId)
                known.append(hex4(*s.vendorId) + QLatin1Char(':') + hex4(*s.productId));
            if (!known.isEmpty())
                text += QStringLiteral(" – ") + known.join(QStringLiteral(", "));
        }
        parts.append(text);
    }
    if (entry.linked && !entry.linkTarget.isEmpty())
        parts.append(QStringLiteral("Link → ") + entry.linkTarget);
    switch (entry.device.isEmpty() ? PortStatus::Missing : state) {
    case PortStatus::Free:
        break;
    case PortStatus::Missing:
        parts.append(QStringLiteral("kein Gerät"));
        break;
    case PortStatus::NotSerial:
        parts.append(QStringLiteral("kein serielles Gerät"));
        break;
    case PortStatus::NoAccess:
        parts.append(QStringLiteral("kein Zugriff"));
        break;
    case PortStatus::Busy:
        parts.append(QStringLiteral("belegt"));
        break;
    case PortStatus::OpenHere:
        parts.append(QStringLiteral("in Kavro geöffnet"));
        break;
    }
    return parts.join(QStringLiteral(" · "));
}

} // namespace

PortDirectory::PortDirectory(const DeviceSerialPort::Environment &environment, QObject *parent)
    : QObject(parent), m_env(environment)
{
    // udev makes a device's node, its names in /dev/serial and its entry in
    // its database one after the other: one look a little after the first
    // change, and one more later for what the system reports last. Further
    // changes meanwhile do not put the looks off: on a busy machine a folder
    // may change all the time.
    m_settle.setSingleShot(true);
    m_settle.setInterval(200);
    m_again.setSingleShot(true);
    m_again.setInterval(1500);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        for (QTimer *look : {&m_settle, &m_again})
            if (!look->isActive())
                look->start();
    });
    connect(&m_settle, &QTimer::timeout, this, &PortDirectory::refresh);
    connect(&m_again, &QTimer::timeout, this, &PortDirectory::refresh);
    refresh();
}

void PortDirectory::refresh()
{
    const QList<PortMap::Entry> entries = m_env.map.entries();
    QMap<qint16, QString> texts;
    QList<qint16> present;
    for (const PortMap::Entry &entry : entries) {
        const PortStatus::State state = entry.device.isEmpty() ? PortStatus::Missing
                                        : NetworkAddress::looksLike(entry.linkTarget)
                                            ? PortStatus::Free
                                            : PortStatus::look(entry.device, m_env.lockDirs);
        texts.insert(entry.number, words(entry, state));
        if (state != PortStatus::Missing)
            present.append(entry.number);
    }
    watch(entries);
    if (texts == m_texts && present == m_present)
        return;
    m_texts = texts;
    m_present = present;
    Q_EMIT changed();
}

QString PortDirectory::describe(qint16 n) const
{
    return m_texts.value(n, QStringLiteral("kein Gerät"));
}

QString PortDirectory::toolTip(const QString &typed) const
{
    QString head;
    try {
        const qint16 n = portNumber(typed);
        head = n < 1 ? QStringLiteral("%1 ist keine gültige Portnummer").arg(n)
                     : QStringLiteral("Com %1: %2").arg(n).arg(describe(n));
    } catch (const KavroError &) {
        head = QStringLiteral("„%1“ ist keine Portnummer").arg(trimSpaces(typed));
    }
    if (m_present.isEmpty())
        return head + QStringLiteral("\n\nZurzeit hat kein Port ein Gerät.");
    QStringList lines{head, QString(), QStringLiteral("Ports mit Gerät:")};
    for (qint16 n : m_present)
        lines.append(QStringLiteral("%1: %2").arg(n).arg(m_texts.value(n)));
    return lines.join(QLatin1Char('\n'));
}

// The folders to watch: those given, the link folder (or, while it does not
// exist yet, the folder it will be made in), and the folders of the devices
// links point to, where a dangling link's device will appear. Folders made
// later (/dev/serial/by-id with the first USB adapter) are taken up at the
// next look. The lock folders are not watched: every program opening any
// port writes there, and a port taken while the list is closed shows when it
// opens. Neither is /dev/pts, for the same reason: every terminal window
// and login makes and frees entries there.
void PortDirectory::watch(const QList<PortMap::Entry> &entries)
{
    QStringList wanted = m_env.watchDirs;
    const QFileInfo linkDir(m_env.map.linkDir());
    wanted.append(linkDir.isDir() ? linkDir.absoluteFilePath() : linkDir.absolutePath());
    for (const PortMap::Entry &entry : entries) {
        if (!entry.device.isEmpty())
            wanted.append(QFileInfo(entry.device).absolutePath());
        if (entry.linked && QDir::isAbsolutePath(entry.linkTarget))
            wanted.append(QFileInfo(entry.linkTarget).absolutePath());
    }
    wanted.removeDuplicates();
    wanted.removeAll(QStringLiteral("/dev/pts"));
    const QStringList watched = m_watcher.directories();
    QStringList fresh;
    for (const QString &dir : std::as_const(wanted))
        if (!watched.contains(dir) && QFileInfo(dir).isDir())
            fresh.append(dir);
    if (!fresh.isEmpty())
        m_watcher.addPaths(fresh);
}
