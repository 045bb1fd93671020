// The port map's view of a link folder and the system's devices, without a
// folder: every number is given once, from 1 up in order; a com<n> name
// takes number n with what its link says, a network address written as it
// reads back; the system's devices fill the other numbers in their order,
// a device under two names once.
//
// Input: lines of text. "L name<TAB>link text<TAB>where it leads" is a name
// in the folder, "S path" a device the system reports; a path with "=" in
// it is another name of the device after the "=".

#include "portmap.h"
#include "check.h"
#include "networkaddress.h"

#include <QSet>

namespace
{

QString canonical(const QString &path)
{
    const qsizetype alias = path.lastIndexOf(u'=');
    return alias < 0 || alias + 1 == path.size() ? path : path.sliced(alias + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(bytes), qsizetype(size));
    QList<PortMap::FolderName> folder;
    QSet<QString> names;
    QList<SystemPort> system;
    QSet<QString> devices;
    for (const QString &line : text.split(u'\n')) {
        if (line.startsWith(u"L ")) {
            const QStringList fields = line.sliced(2).split(u'\t');
            // A folder holds each name once.
            if (names.contains(fields[0]))
                continue;
            names.insert(fields[0]);
            folder.append({fields[0], fields.value(1), fields.value(2)});
        } else if (line.startsWith(u"S ") && line.size() > 2) {
            system.append(SystemPort{line.sliced(2), {}, {}, {}, {}, {}});
            devices.insert(canonical(line.sliced(2)));
        }
    }

    const QList<PortMap::Entry> entries = PortMap::entriesOf(folder, system, canonical);
    qint16 last = 0;
    qsizetype linked = 0;
    QSet<QString> numbered;
    for (const PortMap::Entry &e : entries) {
        FUZZ_CHECK(e.number > last);
        last = e.number;
        if (e.linked) {
            ++linked;
            const auto link = std::find_if(folder.cbegin(), folder.cend(), [&](const auto &f) {
                return f.name == QStringLiteral("com%1").arg(e.number);
            });
            FUZZ_CHECK(link != folder.cend() && link->linkText == e.linkTarget);
            if (!NetworkAddress::looksLike(e.linkTarget))
                FUZZ_CHECK(e.device == link->resolved);
            else if (!e.device.isEmpty())
                FUZZ_CHECK(NetworkAddress::parse(e.device) == NetworkAddress::parse(e.linkTarget) &&
                           NetworkAddress::parse(e.device)->text() == e.device);
        } else {
            FUZZ_CHECK(!numbered.contains(canonical(e.device)));
            numbered.insert(canonical(e.device));
            FUZZ_CHECK(e.system && canonical(e.system->path) == canonical(e.device));
        }
        if (e.system)
            FUZZ_CHECK(devices.contains(canonical(e.device)));
    }
    // Every com<n> name with n from 1 to 32767 written plainly is a link;
    // every device has a number unless the numbers ran out.
    qsizetype wellNamed = 0;
    for (const PortMap::FolderName &f : std::as_const(folder)) {
        bool ok = false;
        const int n = f.name.sliced(std::min<qsizetype>(3, f.name.size())).toInt(&ok);
        wellNamed += ok && n >= 1 && n <= 32767 && f.name == QStringLiteral("com%1").arg(n);
    }
    FUZZ_CHECK(linked == wellNamed);
    FUZZ_CHECK(numbered.size() == devices.size() || last == 32767);

    // The order of the system's devices is one order: sorted once is sorted.
    QStringList paths;
    for (const SystemPort &port : std::as_const(system))
        paths.append(port.path);
    const QStringList ordered = PortMap::ordered(paths);
    FUZZ_CHECK(PortMap::ordered(ordered) == ordered);
    return 0;
}
