#include "portmap.h"

#include "kavroerror.h"
#include "networkaddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <limits>

#include <unistd.h>

namespace {

// Where a device falls in the numbering: the family (0 ttyS, 1 ttyUSB,
// 2 ttyACM, 3 everything else), then the name without its trailing number,
// then that number. Numbers compare as numbers so that ttyS2 comes before
// ttyS10.
struct SortKey
{
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

// What a symbolic link says, unresolved; empty for anything else.
QString linkText(const QString &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return n > 0 ? QFile::decodeName(QByteArray(buffer, n)) : QString();
}

[[noreturn]] void noSuchPort(qint16 n)
{
    raiseError(Err::PortNotFound,
               QStringLiteral("Ungültige Portnummer: Anschluss %1 existiert nicht").arg(n));
}

} // namespace

PortMap::PortMap(QString linkDir, std::function<QStringList()> systemPorts)
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

QString PortMap::device(qint16 n) const
{
    checkNumber(n);

    const QFileInfo link(m_linkDir + QStringLiteral("/com") + QString::number(n));
    if (link.isSymLink() || link.exists()) {
        // The link decides, even when it points nowhere: the operator made it
        // for this number, so falling back to another device would surprise.
        // A link whose own text is a network address ("rfc2217://rack1:7001")
        // names a port on a serial server; it never resolves, and is read raw.
        const QString raw = linkText(link.filePath());
        if (NetworkAddress::looksLike(raw)) {
            if (const auto address = NetworkAddress::parse(raw))
                return address->text();
            raiseError(Err::PortNotFound,
                       QStringLiteral("Ungültige Portnummer: Anschluss %1 verweist auf %2, "
                                      "keine gültige Netzwerkadresse")
                           .arg(n)
                           .arg(raw));
        }
        const QString target = link.canonicalFilePath();
        if (target.isEmpty())
            raiseError(Err::PortNotFound,
                       QStringLiteral("Ungültige Portnummer: Anschluss %1 verweist auf %2, das es nicht gibt")
                           .arg(n)
                           .arg(link.symLinkTarget()));
        return target;
    }

    // Numbers that links take are skipped by the counting.
    QSet<qint16> taken;
    const QDir dir(m_linkDir);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (!name.startsWith(QLatin1String("com")))
            continue;
        bool ok = false;
        const int number = name.mid(3).toInt(&ok);
        if (!ok || number < 1 || number > std::numeric_limits<qint16>::max()
            || name != QStringLiteral("com") + QString::number(number))
            continue;
        taken.insert(qint16(number));
    }

    const QStringList devices = ordered(m_systemPorts ? m_systemPorts() : QStringList());
    QSet<QString> seen;
    int number = 0;
    for (const QString &device : devices) {
        const QString resolved = canonical(device);
        if (seen.contains(resolved))
            continue;
        seen.insert(resolved);
        do
            ++number;
        while (taken.contains(qint16(number)));
        if (number == n)
            return device;
        if (number > n)
            break;
    }
    noSuchPort(n);
}
