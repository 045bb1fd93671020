#include "ser2netserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>

#include <signal.h>
#include <sys/prctl.h>

namespace
{

QString executable()
{
    return QStandardPaths::findExecutable(
        QStringLiteral("ser2net"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")});
}

// A port nobody listens on right now. Another program may take it before
// ser2net does; start() notices and picks again.
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// The inode of the socket listening on 127.0.0.1:port; empty if none.
QByteArray listeningInode(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    table.readLine(); // the heading
    while (!table.atEnd()) {
        const QList<QByteArray> f = table.readLine().simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode
        if (f.size() > 9 && f[1] == local && f[3] == "0A")
            return f[9];
    }
    return {};
}

} // namespace

Ser2NetServer::Ser2NetServer(const QString &folder, const QString &device, Accepter accepter)
    : m_folder(folder), m_device(device), m_accepter(accepter)
{
}

Ser2NetServer::~Ser2NetServer()
{
    stop();
}

bool Ser2NetServer::available()
{
    return !executable().isEmpty();
}

QString Ser2NetServer::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_accepter == Accepter::Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp"))
        .arg(m_port);
}

void Ser2NetServer::setEnvironment(const QString &name, const QString &value)
{
    m_environment.insert(name, value);
}

bool Ser2NetServer::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool Ser2NetServer::start(int timeoutMs)
{
    if (isRunning())
        return true;
    m_error.clear();
    if (executable().isEmpty()) {
        m_error = QStringLiteral("ser2net is not installed");
        return false;
    }
    if (m_port != 0)
        return launch(timeoutMs);
    // A port that someone else took between our look and ser2net's bind
    // leaves ser2net waiting for it, silently: pick another one.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        if (m_port != 0 && launch(timeoutMs))
            return true;
        if (!m_portTaken)
            break;
    }
    return false;
}

bool Ser2NetServer::launch(int timeoutMs)
{
    m_portTaken = false;
    const QString accepter = m_accepter == Accepter::Rfc2217 ? QStringLiteral("telnet(rfc2217),tcp")
                                                             : QStringLiteral("tcp");
    // "local": no modem lines to wait for on a pseudo-terminal.
    const QString config = QStringLiteral("connection: &kavro\n"
                                          "  accepter: %1,127.0.0.1,%2\n"
                                          "  connector: serialdev,%3,9600n81,local\n"
                                          "  options:\n"
                                          "    max-connections: 1\n")
                               .arg(accepter)
                               .arg(m_port)
                               .arg(m_device);
    const QDir dir(m_folder);
    QFile file(dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config.toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    file.close();

    const QString log = dir.filePath(QStringLiteral("ser2net.log"));
    QFile::remove(log);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(log);
    m_process.setStandardInputFile(QProcess::nullDevice());
    if (!m_environment.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(m_environment);
        m_process.setProcessEnvironment(environment);
    }
    // A test that is killed by its timeout takes its server along, so no
    // stray ser2net keeps the port or the device.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    // -n: in the foreground, our child; -u: no UUCP lock in /run/lock (the
    // tests' far ends are ours alone); -P: the pid file stays in the folder.
    m_process.start(executable(), {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                                   file.fileName(), QStringLiteral("-P"),
                                   dir.filePath(QStringLiteral("ser2net.pid"))});
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }

    QElapsedTimer clock;
    clock.start();
    // Connecting to see whether it is up would open the device and take the
    // one connection a client may have; the kernel's socket table tells it
    // without a trace.
    for (;;) {
        const QByteArray inode = listeningInode(m_port);
        if (!inode.isEmpty()) {
            if (owns(inode))
                return true;
            m_error = QStringLiteral("port %1 taken by another program").arg(m_port);
            m_portTaken = true;
            kill();
            return false;
        }
        if (clock.elapsed() > timeoutMs || m_process.waitForFinished(10)) {
            QFile output(log);
            output.open(QIODevice::ReadOnly);
            m_error = QStringLiteral("ser2net did not accept on port %1: %2")
                          .arg(m_port)
                          .arg(QString::fromLocal8Bit(output.readAll()).trimmed());
            kill();
            return false;
        }
    }
}

// Whether the listening socket is ser2net's: its inode is among ser2net's
// open files.
bool Ser2NetServer::owns(const QByteArray &inode) const
{
    if (!isRunning())
        return false;
    const QString fds = QStringLiteral("/proc/%1/fd").arg(m_process.processId());
    const QString socket = QStringLiteral("socket:[%1]").arg(QString::fromLatin1(inode));
    const QStringList entries = QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot);
    for (const QString &fd : entries)
        if (QFile::symLinkTarget(fds + QLatin1Char('/') + fd).endsWith(socket))
            return true;
    return false;
}

void Ser2NetServer::stop()
{
    if (!isRunning())
        return;
    // With -n ser2net is our child itself: its pid is the one in its pid file.
    const qint64 pid = m_process.processId();
    ::kill(pid_t(pid), SIGTERM);
    if (!m_process.waitForFinished(2000))
        kill();
}

// ser2net ignores SIGTERM until its accepter is up (it keeps retrying a port
// it cannot bind), so a server that never came up is killed outright.
void Ser2NetServer::kill()
{
    m_process.kill();
    m_process.waitForFinished(2000);
}
