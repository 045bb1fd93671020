#include "children.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdlib>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

std::optional<Fields> Child::next(double timeout)
{
    const double until = now() + timeout;
    for (;;) {
        const qsizetype nl = pending.indexOf('\n');
        if (nl >= 0) {
            const Fields fields = parseReport(QByteArrayView(pending).first(nl));
            pending.remove(0, nl + 1);
            return fields;
        }
        const double left = until - now();
        if (left <= 0)
            return std::nullopt;
        pollfd p{out, POLLIN, 0};
        if (::poll(&p, 1, int(left * 1000) + 1) <= 0)
            continue;
        char buf[1024];
        const ssize_t n = ::read(out, buf, sizeof buf);
        if (n == 0)
            return std::nullopt; // it ended without a word
        if (n > 0)
            pending.append(buf, n);
    }
}

bool Child::alive() const
{
    return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0;
}

void Child::end()
{
    if (pid > 0) {
        int status = 0;
        const double until = now() + 10;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (now() > until) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            ::usleep(10000);
        }
    }
    if (out >= 0)
        ::close(out);
    pid = -1;
    out = -1;
}

Child Launcher::start(const QList<QByteArray> &args, const QByteArray &xdgConfig,
                      const QByteArray &runtime) const
{
    Child c;
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return c;
    // Everything the child needs is made before the fork.
    QList<QByteArray> words;
    if (args.first() == "--window")
        words = windowWrapper;
    words.append(QByteArray(self));
    words.append(args);
    std::vector<char *> argv;
    for (QByteArray &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    // The child's cache and state folders sit beside its config folder, so
    // that the history's files go with the run.
    const QByteArray base = xdgConfig.left(xdgConfig.lastIndexOf('/'));
    const QByteArray xdgCache = base + "/cache", xdgState = base + "/state";
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return c;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO); // dup2 drops O_CLOEXEC
        ::setenv("XDG_CONFIG_HOME", xdgConfig.constData(), 1);
        ::setenv("XDG_CACHE_HOME", xdgCache.constData(), 1);
        ::setenv("XDG_STATE_HOME", xdgState.constData(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
        if (display.isEmpty() || (args.first() != "--window" && args.first() != "--floor")) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        } else {
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::setenv("DISPLAY", display.constData(), 1);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    c.pid = pid;
    c.out = fds[0];
    return c;
}

namespace
{

// The process serving the display ":N": one whose program name starts with
// X and that was given ":N" on its command line. Enough for Xvfb, Xorg and
// Xwayland; -1 when there is none to see (another user's, or remote).
pid_t findXServer(const QByteArray &display)
{
    QByteArray number = display.mid(display.indexOf(':'));
    if (const qsizetype dot = number.indexOf('.'); dot > 0)
        number.truncate(dot); // ":1.0" is screen 0 of display 1
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> words = cmdline.readAll().split('\0');
        const QByteArray program = words.value(0).mid(words.value(0).lastIndexOf('/') + 1);
        if (program.startsWith('X') && words.contains(number))
            return pid.toInt();
    }
    return -1;
}

// Starts an Xvfb, which picks a free display and tells it; its process and
// display, or -1 and empty when it did not start.
std::pair<pid_t, QByteArray> startXvfb()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {-1, {}};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 3);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten",
                 "tcp", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return {-1, {}};
    }
    QByteArray number;
    pollfd p{fds[0], POLLIN, 0};
    const double until = now() + 10;
    while (!number.endsWith('\n') && now() < until) {
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char c;
        if (::read(fds[0], &c, 1) != 1)
            break;
        number += c;
    }
    ::close(fds[0]);
    if (!number.endsWith('\n')) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        return {-1, {}};
    }
    return {pid, ':' + number.trimmed()};
}

} // namespace

XServer::XServer() : m_display(qgetenv("DISPLAY"))
{
    if (m_display.isEmpty()) {
        std::tie(m_pid, m_display) = startXvfb();
        m_own = m_pid > 0;
    } else {
        m_pid = findXServer(m_display);
    }
}

XServer::~XServer()
{
    if (m_own) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}
