#include "devicereturn.h"

#include "devicelock.h"
#include "kavroerror.h"
#include "portstatus.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

DeviceReturn::DeviceReturn(const QString &device, const QString &linkPath,
                           std::function<void(const QString &)> reopen, QObject *parent)
    : QObject(parent), m_device(device), m_linkPath(linkPath), m_reopen(std::move(reopen)),
      m_lostLinkStamp(linkStamp()), m_about(awayText(device, linkPath, false))
{
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &DeviceReturn::lookSoon);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &DeviceReturn::lookSoon);
    m_slowLook.setInterval(1000);
    connect(&m_slowLook, &QTimer::timeout, this, &DeviceReturn::look);
    watchFolders();
    m_slowLook.start();
}

// A change in a watched folder: look now, and once more shortly, since the
// system finishes a new device (its access rights, its by-id link) a moment
// after it appears.
void DeviceReturn::lookSoon()
{
    look();
    QTimer::singleShot(200, this, &DeviceReturn::look);
}

void DeviceReturn::look()
{
    if (m_returned)
        return;
    watchFolders();
    const QString target = returnedDevice();
    QString about = awayText(m_device, m_linkPath, false);
    if (!target.isEmpty() && QFileInfo::exists(target) && !strangerTerminal(target)) {
        try {
            m_reopen(target);
            m_returned = true;
            m_slowLook.stop();
            Q_EMIT returned(target);
            return;
        } catch (const KavroError &e) {
            // Another program took it meanwhile: it is not taken from it;
            // Kavro waits until it is free.
            if (e.number() == Err::PortInUse)
                about = takenMeanwhileText(target, false);
        }
    }
    if (about != m_about) {
        m_about = about;
        Q_EMIT aboutChanged(m_about);
    }
    Q_EMIT looked();
}

void DeviceReturn::watchFolders()
{
    QStringList folders{QFileInfo(m_device).absolutePath(), QStringLiteral("/dev")};
    if (!m_linkPath.isEmpty()) {
        folders << QFileInfo(m_linkPath).absolutePath();
        const QString target = QFileInfo(m_linkPath).symLinkTarget();
        if (!target.isEmpty())
            folders << QFileInfo(target).absolutePath();
    }
    folders.removeDuplicates();
    // Every terminal window and login opens and closes entries in /dev/pts;
    // the slow look finds a pseudo-terminal that comes back.
    folders.removeAll(QStringLiteral("/dev/pts"));
    const QStringList watched = m_watcher.directories();
    for (const QString &folder : std::as_const(folders)) {
        if (QFileInfo(folder).isDir() && !watched.contains(folder))
            m_watcher.addPath(folder);
    }
}

// The device waited for is the one the link points to now (a by-id link
// follows its adapter to whatever name it gets), else the same path.
QString DeviceReturn::returnedDevice() const
{
    return m_linkPath.isEmpty() ? m_device : QFileInfo(m_linkPath).canonicalFilePath();
}

// The system hands out the numbers of pseudo-terminals again, to anyone: a
// /dev/pts/N that appears under the old name, with no link pointed anew at it,
// is the same device only when nobody else has it open. A terminal of
// somebody's session always is, and it is not taken.
bool DeviceReturn::strangerTerminal(const QString &target) const
{
    if (!m_linkPath.isEmpty() && linkStamp() != m_lostLinkStamp)
        return false; // the link was made anew: somebody pointed it at the device
    return isPseudoTerminalDevice(target) && PortStatus::heldElsewhere(target, -1);
}

// Tells a link made anew from the old one, even with the same target.
quint64 DeviceReturn::linkStamp() const
{
    struct stat st {
    };
    if (m_linkPath.isEmpty() || ::lstat(QFile::encodeName(m_linkPath).constData(), &st) != 0)
        return 0;
    return quint64(st.st_ino) * 1000003u + quint64(st.st_mtim.tv_nsec) + quint64(st.st_mtim.tv_sec);
}

QString awayText(const QString &device, const QString &linkPath, bool network)
{
    if (network)
        return QStringLiteral("Der Anschluss %1 ist nicht mehr erreichbar. Kavro wartet darauf und "
                              "verbindet wieder, sobald der Server ihn annimmt.")
            .arg(linkPath.isEmpty() ? device : QStringLiteral("%1 (%2)").arg(linkPath, device));
    const QString what =
        linkPath.isEmpty()
            ? device
            : QStringLiteral("%1 (%2)").arg(linkPath, QFileInfo(linkPath).symLinkTarget());
    return QStringLiteral("Das Gerät %1 ist nicht mehr da. Kavro wartet darauf und öffnet es "
                          "wieder, sobald es zurück ist.")
        .arg(what);
}

QString takenMeanwhileText(const QString &device, bool network)
{
    if (network)
        return QStringLiteral("Der Anschluss %1 ist wieder erreichbar, aber ein anderes Programm "
                              "hat ihn geöffnet. Kavro wartet, bis er frei ist.")
            .arg(device);
    QString who = QStringLiteral("ein anderes Programm");
    if (const pid_t pid = PortStatus::flockHolder(device); pid > 0) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const QString name = comm.open(QIODevice::ReadOnly)
                                 ? QString::fromLocal8Bit(comm.readAll().trimmed())
                                 : QString();
        who += name.isEmpty() ? QStringLiteral(" (Prozess %1)").arg(pid)
                              : QStringLiteral(" (%1, Prozess %2)").arg(name).arg(pid);
    }
    return QStringLiteral("Das Gerät %1 ist wieder da, aber %2 hat es geöffnet. Kavro wartet, bis "
                          "es frei ist.")
        .arg(device, who);
}
