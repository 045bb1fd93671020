// A simulated measuring instrument on a pseudo-terminal, to try Kavro without
// hardware:
//   kavro-instrument [--port N [--link-dir DIR]]
// With a port number it links com<N> in the link folder (Kavro's own,
// $XDG_CONFIG_HOME/kavro/ports, unless given) to its line, so that port N
// reaches it. It answers until SIGINT or SIGTERM and then removes the link.

#include "portmap.h"
#include "pseudoterminal.h"
#include "simulatedinstrument.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

qint64 nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Output nobody reads (Kavro has the port closed) piles up in the pty; past
// this much more the instrument talks into the void, as a real one would.
constexpr qsizetype MostPending = 1 << 20;

int fail(const QString &text)
{
    QTextStream(stderr) << "kavro-instrument: " << text << '\n';
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simuliertes Messgerät an einem Pseudo-Terminal (AT, ATI, BYTES, STREAM n rate, "
        "CURVES n rate, STOP)"));
    parser.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("Portnummer, unter der Kavro das Gerät findet"),
        QStringLiteral("n"));
    const QCommandLineOption dirOption(
        QStringLiteral("link-dir"),
        QStringLiteral("Ordner für die Verknüpfung com<n> (Vorgabe: %1)")
            .arg(PortMap::defaultLinkDir()),
        QStringLiteral("ordner"));
    parser.addOption(portOption);
    parser.addOption(dirOption);
    parser.process(app);

    int port = 0;
    if (parser.isSet(portOption)) {
        bool ok = false;
        port = parser.value(portOption).toInt(&ok);
        if (!ok || port < 1 || port > 32767)
            return fail(QStringLiteral("ungültige Portnummer: %1").arg(parser.value(portOption)));
    } else if (parser.isSet(dirOption)) {
        return fail(QStringLiteral("--link-dir braucht --port"));
    }

    // Signals wait blocked and are let in only while the loop sleeps in
    // ppoll, so a stop request can never slip in between check and sleep.
    sigset_t stopSignals, sleeping;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &sleeping);
    struct sigaction action {
    };
    action.sa_handler = requestStop;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // The instrument keeps the slave open too: the line stays up while Kavro
    // closes and opens the port again.
    PseudoTerminal line;
    if (!line.isValid())
        return fail(QStringLiteral("kein Pseudo-Terminal: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));

    QString link;
    if (port > 0) {
        const QString dir =
            parser.isSet(dirOption) ? parser.value(dirOption) : PortMap::defaultLinkDir();
        if (!QDir().mkpath(dir))
            return fail(QStringLiteral("Ordner kann nicht angelegt werden: %1").arg(dir));
        link = QDir(dir).filePath(QStringLiteral("com%1").arg(port));
        const QFileInfo old(link);
        // A link left by an instrument that was killed points nowhere; any
        // other would be the user's own port, which stays as it is.
        if (old.isSymLink() && !old.exists())
            QFile::remove(link);
        else if (old.isSymLink() || old.exists())
            return fail(QStringLiteral("%1 gibt es schon; Port %2 ist belegt").arg(link).arg(port));
        if (!QFile::link(line.slavePath(), link))
            return fail(QStringLiteral("Verknüpfung %1 kann nicht angelegt werden").arg(link));
    }

    QTextStream out(stdout);
    out << "Simuliertes Messgerät an " << line.slavePath() << '\n';
    if (port > 0)
        out << "Port " << port << ": " << link << '\n';
    out.flush();

    Instrument instrument;
    QByteArray pending;
    char buffer[4096];
    int status = 0;
    while (!stopRequested) {
        const qint64 wait = instrument.waitFor(nowMs());
        timespec timeout{time_t(wait / 1000), long(wait % 1000) * 1000000};
        pollfd p{line.master(), short(POLLIN | (pending.isEmpty() ? 0 : POLLOUT)), 0};
        const int ready = ppoll(&p, 1, wait < 0 ? nullptr : &timeout, &sleeping);
        if (ready < 0 && errno != EINTR) {
            status =
                fail(QStringLiteral("poll: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            break;
        }

        if (ready > 0 && !(p.revents & POLLIN) && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            status = fail(QStringLiteral("die Leitung ist weg"));
            break;
        }
        QByteArray reply;
        if (ready > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(line.master(), buffer, sizeof buffer);
            if (n > 0)
                reply += instrument.receive(QByteArrayView(buffer, n), nowMs());
        }
        reply += instrument.due(nowMs());
        if (pending.size() < MostPending)
            pending += reply;

        while (!pending.isEmpty()) {
            const ssize_t n = ::write(line.master(), pending.constData(), size_t(pending.size()));
            if (n <= 0)
                break; // full (EAGAIN) or interrupted: the next round goes on
            pending.remove(0, n);
        }
    }

    // Remove the link only while it is still ours.
    if (!link.isEmpty() && QFileInfo(link).symLinkTarget() == line.slavePath())
        QFile::remove(link);
    return status;
}
