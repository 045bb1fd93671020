#include "run.h"

#include "farend.h"
#include "ser2netserver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace
{

// Sends n bytes of the traffic into the master: as fast as the line takes them
// (rate 0), or paced, a piece every PaceStep. Returns the time of the first
// byte, or a negative value when the line stopped taking bytes.
double sendTraffic(int master, Traffic &traffic, qint64 n, double rate, Child &child)
{
    std::vector<char> buf(64 * 1024);
    qsizetype have = 0, at = 0;
    qint64 sent = 0;
    double first = -1;
    const double start = now();
    double lastProgress = start;
    qint64 step = 0;
    while (sent < n) {
        qint64 allowed = n - sent;
        if (rate > 0) {
            // The byte count due by the next step, sent when the step comes.
            ++step;
            const double due = start + double(step) * PaceStep;
            timespec ts{};
            ts.tv_sec = time_t(due);
            ts.tv_nsec = long((due - double(ts.tv_sec)) * 1e9);
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
            }
            const qint64 target =
                std::min<qint64>(n, qint64(std::floor(double(step) * PaceStep * rate)));
            allowed = target - sent;
        }
        while (allowed > 0) {
            if (at == have) {
                have = qsizetype(std::min<qint64>(qint64(buf.size()), n - sent));
                traffic.read(buf.data(), have);
                at = 0;
            }
            const qsizetype chunk = qsizetype(std::min<qint64>(allowed, have - at));
            const ssize_t w = ::write(master, buf.data() + at, size_t(chunk));
            if (w > 0) {
                if (first < 0)
                    first = now();
                at += w;
                sent += w;
                allowed -= w;
                lastProgress = now();
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR)
                return -1;
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 200);
            if (now() - lastProgress > StallSeconds || !child.alive())
                return -1;
        }
    }
    return first;
}

// The far end's reading side while the window repeats a command: a thread of
// its own reads what the window sends, so that the line never fills up, and
// counts the whole commands and whatever else came.
class Drain
{
public:
    explicit Drain(int master) : m_master(master), m_thread([this] { loop(); }) {}
    ~Drain() { finish(); }
    Drain(const Drain &) = delete;
    Drain &operator=(const Drain &) = delete;

    // Stops the thread and reads what is left; the window has ended by then.
    void finish()
    {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        m_thread.join();
        readAll();
    }
    qint64 commands() const { return m_commands; }
    qint64 stray() const { return m_bytes - m_commands * qint64(sizeof RepeatBytes - 1); }

private:
    void loop()
    {
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                readAll();
        }
    }
    void readAll()
    {
        char buf[4096];
        ssize_t got;
        while ((got = ::read(m_master, buf, sizeof buf)) > 0) {
            m_bytes += got;
            for (ssize_t i = 0; i < got; ++i) {
                if (buf[i] == RepeatBytes[m_at])
                    ++m_at;
                else
                    m_at = buf[i] == RepeatBytes[0] ? 1 : 0;
                if (RepeatBytes[m_at] == 0) {
                    ++m_commands;
                    m_at = 0;
                }
            }
        }
    }

    const int m_master;
    std::atomic<bool> m_stop{false};
    qint64 m_bytes = 0;
    qint64 m_commands = 0;
    size_t m_at = 0; // how much of a command has come so far
    std::thread m_thread;
};

// Compares the file with the traffic regenerated.
Check compare(const QString &path, Traffic::Kind kind, quint64 seed, qint64 n)
{
    Check c;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        c.firstDifference = 0; // no file: nothing arrived
        return c;
    }
    c.size = file.size();
    Traffic traffic(kind, seed);
    std::vector<char> want(1 << 20), got(1 << 20);
    qint64 at = 0;
    while (at < n) {
        const qint64 piece = std::min<qint64>(qint64(want.size()), n - at);
        traffic.read(want.data(), piece);
        const qint64 read = std::max<qint64>(file.read(got.data(), piece), 0);
        const auto [w, g] = std::mismatch(want.begin(), want.begin() + read, got.begin());
        if (w != want.begin() + read || read < piece) {
            c.firstDifference = at + (w - want.begin());
            return c;
        }
        at += piece;
    }
    if (c.size != n)
        c.firstDifference = n;
    return c;
}

// The folders a child gets as its own: a config folder and a private runtime
// folder, inside dir.
std::pair<QString, QString> childFolders(const QTemporaryDir &dir)
{
    const QString xdg = dir.filePath(QStringLiteral("config"));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(xdg);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return {xdg, runtime};
}

} // namespace

Runner::Runner(Launcher launcher, pid_t xServer, quint64 seed)
    : m_launcher(std::move(launcher)), m_xServer(xServer), m_seed(seed)
{
}

Run Runner::run(Taker taker, Traffic::Kind kind, qint64 n, double rate, bool net) const
{
    Run r;
    QTemporaryDir dir;
    FarEnd pty;
    if (!dir.isValid() || !pty.isValid()) {
        r.error = QStringLiteral("no temporary folder or pseudo-terminal");
        return r;
    }
    const auto [xdg, runtime] = childFolders(dir);
    const QString links = xdg + QStringLiteral("/kavro/ports");
    const QString capture = dir.filePath(QStringLiteral("capture.txt"));
    QDir().mkpath(links);
    std::optional<Ser2NetServer> server;
    if (net) {
        server.emplace(dir.path(), pty.slavePath());
        if (!server->start()) {
            r.error = QStringLiteral("ser2net: ") + server->errorText();
            return r;
        }
    }
    if (!QFile::link(net ? server->url() : pty.slavePath(), links + QStringLiteral("/com1"))) {
        r.error = QStringLiteral("no link to the pseudo-terminal");
        return r;
    }
    const bool window = taker != Taker::Reader;
    const QList<QByteArray> args =
        window ? QList<QByteArray>{"--window", QFile::encodeName(links), QFile::encodeName(capture),
                                   QByteArray::number(n),
                                   taker == Taker::History  ? "history"
                                   : taker == Taker::Plot   ? "plot"
                                   : taker == Taker::Repeat ? "repeat"
                                                            : "main"}
        : net  ? QList<QByteArray>{"--netreader", QByteArray::number(server->port()),
                                   QFile::encodeName(capture), QByteArray::number(n)}
               : QList<QByteArray>{"--reader", QFile::encodeName(pty.slavePath()),
                                   QFile::encodeName(capture), QByteArray::number(n)};
    // Whatever the window sends is read from its start on.
    std::optional<Drain> drain;
    if (taker == Taker::Repeat)
        drain.emplace(pty.master());
    Child child = m_launcher.start(args, QFile::encodeName(xdg), QFile::encodeName(runtime));
    auto ready = child.next(30);
    if (!ready || !ready->contains("ready")) {
        r.error = QStringLiteral("the child did not start");
        child.end();
        return r;
    }
    r.readyMb = ready->value("peak_mb").toDouble();

    Traffic traffic(kind, m_seed);
    const double xStart = now();
    const double xCpuStart = m_xServer > 0 ? processCpuSeconds(m_xServer) : -1;
    const double first = sendTraffic(pty.master(), traffic, n, rate, child);
    auto result = first < 0 ? std::nullopt : child.next(StallSeconds + 30);
    const double xCpuEnd = m_xServer > 0 ? processCpuSeconds(m_xServer) : -1;
    if (window && xCpuStart >= 0 && xCpuEnd >= 0)
        r.xShare = (xCpuEnd - xCpuStart) / (now() - xStart);
    child.end();
    if (drain)
        drain->finish();
    if (first < 0 || !result || result->contains("error")) {
        r.error = first < 0 ? QStringLiteral("the line stopped taking bytes")
                            : QStringLiteral("no report from the child");
        return r;
    }
    const Fields &f = *result;
    const double end = f.value("end").toDouble();
    r.seconds = end - first;
    r.childSeconds = end - f.value("first_event").toDouble();
    r.cpu = f.value("cpu").toDouble();
    r.peakMb = f.value("peak_mb").toDouble();
    r.ticks = f.value("ticks").toLongLong();
    r.expectedTicks = f.value("expected_ticks").toDouble();
    r.maxGap = f.value("max_gap").toDouble();
    r.events = f.value("events").toLongLong();
    r.boxes = f.value("boxes").toLongLong();
    r.check = compare(capture, kind, m_seed, n);
    if (f.contains("plot_received")) {
        r.plotReceived = f.value("plot_received").toLongLong();
        r.plotPlotted = f.value("plot_plotted").toLongLong();
        r.plotRejected = f.value("plot_rejected").toLongLong();
    }
    if (drain) {
        const double start = f.value("repeat_start").toDouble();
        r.repeatArrived = drain->commands();
        r.repeatStray = drain->stray();
        r.repeatSent = f.value("repeat_sent").toLongLong();
        r.repeatSeconds = end - start;
        r.repeatDue = qint64(std::floor(r.repeatSeconds * 1000 / RepeatMs)) + 1;
    }
    r.ok = true;
    return r;
}

double Runner::floorShare(double seconds) const
{
    QTemporaryDir dir;
    const auto [xdg, runtime] = childFolders(dir);
    Child child = m_launcher.start({"--floor", QByteArray::number(seconds)}, QFile::encodeName(xdg),
                                   QFile::encodeName(runtime));
    const auto ready = child.next(30);
    const auto result = ready ? child.next(seconds + 30) : std::nullopt;
    child.end();
    if (!result || !result->contains("cpu"))
        return -1;
    return result->value("cpu").toDouble() / result->value("seconds").toDouble();
}
