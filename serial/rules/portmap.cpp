#include "portmap.h"

#include "kavroerror.h"
#include "networkaddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <limits>

#include <climits>
#include <unistd.h>

namespace
{

// Where a device falls in the numbering: the family (0 ttyS, 1 ttyUSB,
// 2 ttyACM, 3 everything else), then the name without its trailing number,
// then that number. Numbers compare as numbers so that ttyS2 comes before
// ttyS10.
struct SortKey {
    int family;
    QString stem;
    qint64 number;
};

SortKey sortKey(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    qsizetype cut = name.size();
    while (cut > 0 && name.at(cut - 1) >= QLatin1Char('0') && name.at(cut - 1) <= QLatin1Char('9'))
        --cut;
    SortKey key{3, name.left(cut), -1};
    if (cut == name.size())
        return key;
    bool ok = false;
    key.number = name.mid(cut).toLongLong(&ok);
    if (!ok)
        key.number = std::numeric_limits<qint64>::max();
    if (key.stem == QLatin1String("ttyS"))
        key.family = 0;
    else if (key.stem == QLatin1String("ttyUSB"))
        key.family = 1;
    else if (key.stem == QLatin1String("ttyACM"))
        key.family = 2;
    return key;
}

// Two names for one device (a link, /dev/serial/by-id/...) must compare
// equal, so devices are compared by their resolved path.
QString canonical(const QString &path)
{
    const QFileInfo info(path);
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : resolved;
}

// The target of a link as it is written, not resolved; empty for anything
// that is no link.
QString linkText(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t n = ::readlink(native.constData(), target.data(), size_t(target.size()));
    return n > 0 ? QFile::decodeName(target.left(n)) : QString();
}

[[noreturn]] void noSuchPort(qint16 n)
{
    raiseError(Err::PortNotFound,
               QStringLiteral("Ungültige Portnummer: Anschluss %1 existiert nicht").arg(n));
}

} // namespace

PortMap::PortMap(QString linkDir, std::function<QStringList()> systemPorts)
    : m_linkDir(std::move(linkDir))
{
    if (systemPorts)
        m_systemPorts = [paths = std::move(systemPorts)] {
            QList<SystemPort> ports;
            const QStringList list = paths();
            for (const QString &path : list)
                ports.append(SystemPort{path, {}, {}, {}, {}, {}});
            return ports;
        };
}

PortMap::PortMap(QString linkDir, std::function<QList<SystemPort>()> systemPorts)
    : m_linkDir(std::move(linkDir)), m_systemPorts(std::move(systemPorts))
{
}

QString PortMap::defaultLinkDir()
{
    // Read afresh each time: the environment may change between calls (and
    // does in tests). A relative XDG_CONFIG_HOME is invalid and ignored.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/kavro/ports");
}

QStringList PortMap::ordered(QStringList devices)
{
    std::stable_sort(devices.begin(), devices.end(), [](const QString &a, const QString &b) {
        const SortKey ka = sortKey(a);
        const SortKey kb = sortKey(b);
        if (ka.family != kb.family)
            return ka.family < kb.family;
        if (const int c = ka.stem.compare(kb.stem); c != 0)
            return c < 0;
        if (ka.number != kb.number)
            return ka.number < kb.number;
        return a < b;
    });
    return devices;
}

void PortMap::checkNumber(qint16 n)
{
    if (n < 1)
        noSuchPort(n);
}

QList<PortMap::Entry> PortMap::entries() const
{
    QList<FolderName> folder;
    const QFileInfoList names = QDir(m_linkDir).entryInfoList(QDir::AllEntries | QDir::System |
                                                              QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &name : names)
        if (name.fileName().startsWith(QLatin1String("com")))
            // A link that loops or whose text is too long for the system does
            // not resolve; Qt would give back the link itself.
            folder.append({name.fileName(), linkText(name.filePath()),
                           name.exists() ? name.canonicalFilePath() : QString()});
    return entriesOf(folder, m_systemPorts ? m_systemPorts() : QList<SystemPort>(), canonical);
}

QList<PortMap::Entry> PortMap::entriesOf(const QList<FolderName> &folder,
                                         const QList<SystemPort> &system,
                                         const std::function<QString(const QString &)> &canonical)
{
    QList<Entry> result;

    // The links first: each takes its number, even when it points nowhere
    // (the operator made it for this number, so falling back to another device
    // would surprise).
    QSet<qint16> taken;
    for (const FolderName &link : folder) {
        const QString &name = link.name;
        if (!name.startsWith(QLatin1String("com")))
            continue;
        bool ok = false;
        const int number = name.mid(3).toInt(&ok);
        if (!ok || number < 1 || number > std::numeric_limits<qint16>::max() ||
            name != QStringLiteral("com") + QString::number(number))
            continue;
        taken.insert(qint16(number));
        Entry entry;
        entry.number = qint16(number);
        entry.linked = true;
        entry.linkTarget = link.linkText;
        // A link whose text is a network address ("rfc2217://rack1:7001")
        // names a port on a serial server; it never resolves. Any other text
        // of that form names nothing.
        if (NetworkAddress::looksLike(entry.linkTarget)) {
            if (const auto address = NetworkAddress::parse(entry.linkTarget))
                entry.device = address->text();
        } else {
            entry.device = link.resolved;
        }
        result.append(entry);
    }

    // Then the system's devices, one number each, skipping the numbers that
    // links take. A device the system reports under two names counts once.
    QStringList paths;
    for (const SystemPort &port : system)
        paths.append(port.path);
    QHash<QString, SystemPort> byDevice;
    for (const SystemPort &port : system)
        byDevice.insert(canonical(port.path), port);

    QSet<QString> seen;
    int number = 0;
    const QStringList devices = ordered(paths);
    for (const QString &device : devices) {
        const QString resolved = canonical(device);
        if (seen.contains(resolved))
            continue;
        seen.insert(resolved);
        do
            ++number;
        while (taken.contains(qint16(number)));
        if (number > std::numeric_limits<qint16>::max())
            break;
        Entry entry;
        entry.number = qint16(number);
        entry.device = device;
        result.append(entry);
    }

    for (Entry &entry : result) {
        if (entry.device.isEmpty())
            continue;
        const auto found = byDevice.constFind(canonical(entry.device));
        if (found != byDevice.cend())
            entry.system = *found;
    }
    std::sort(result.begin(), result.end(),
              [](const Entry &a, const Entry &b) { return a.number < b.number; });
    return result;
}

QString PortMap::device(qint16 n) const
{
    checkNumber(n);
    const QList<Entry> all = entries();
    const auto it = std::find_if(all.cbegin(), all.cend(),
                                 [n](const Entry &entry) { return entry.number == n; });
    if (it == all.cend())
        noSuchPort(n);
    if (it->dangling())
        raiseError(Err::PortNotFound,
                   QStringLiteral("Ungültige Portnummer: Anschluss %1 verweist auf %2, %3")
                       .arg(n)
                       .arg(it->linkTarget, NetworkAddress::looksLike(it->linkTarget)
                                                ? QStringLiteral("keine gültige Netzwerkadresse")
                                                : QStringLiteral("das es nicht gibt")));
    return it->device;
}
