// How the whole program copes with a flood on the serial line: the real window,
// offscreen, with its port on a pseudo-terminal and a capture running, while
// the far end sends as fast as the line takes it.
//
//   build/bench/kavro-flood [--x11] [--bytes N] [--repeat R] [--pace-seconds S] [--seed S]
//
// For each of three kinds of traffic (62-byte CR LF lines, one line that never
// ends, random binary bytes; tools/traffic.h makes them) it measures
//   - the throughput, from the far end's first byte until the capture file
//     holds all N bytes, against a plain reader copying the same line into a
//     file (the baseline: what the pseudo-terminal itself carries);
//   - that the capture file holds exactly what was sent, byte for byte;
//   - how evenly Timer1 ticks meanwhile (the activity bar must keep moving);
//   - the program's peak memory and its CPU time per byte.
// Then the binary traffic once more through the real ser2net on 127.0.0.1
// (its rfc2217 accepter, the pseudo-terminal its device, port 1 a link to
// rfc2217://127.0.0.1:PORT), against a plain reader of the same server port
// that does the telnet framing with a few lines of its own (--net-bytes N,
// default 10 MB: ser2net carries a few MB/s).
// Then, at the pace of a 115200 baud line (11520 bytes/s, sent every 10 ms),
// the share of one core the program takes, against the plain reader's, and
// beside them what the toolkit alone takes at the window's beat: a bare Qt
// window painting one small widget every 50 ms ("Qt alone").
//
// N defaults to 50 MB (50,000,000 bytes), S to 10 seconds, R to 3 runs of each
// measurement: the fastest flood counts for throughput, the median paced run
// for CPU, the worst run for everything else.
//
// The program side always runs in a child process (this executable started
// again with --window or --reader), so memory and CPU figures are its own.
// Nothing but the benchmark's own pseudo-terminal is opened: port 1 is a link
// to it in a temporary config folder and the system's ports are not listed.
// Figures are printed with the targets beside them; nothing is asserted.
//
// --x11 runs the window on an X server instead of offscreen, where painting
// costs almost nothing: on the display in DISPLAY, or on an Xvfb of its own
// when none is given. The X server's CPU share is then printed beside the
// window's, since painting that moves work into the server saves nothing.
//
// For looking into one case, --only takes a comma-separated choice of base,
// lines, endless, binary, net, pace, and --profile-with a command the window's
// process runs under:
//
//   kavro-flood --only lines --bytes 2000000 --repeat 1 --profile-with "valgrind --tool=callgrind"

#include "deviceserialport.h"
#include "farend.h"
#include "kavrowindow.h"
#include "rfc2217.h"
#include "ser2netserver.h"
#include "startup.h"
#include "traffic.h"

#include "commondialog.h"
#include "messageboxes.h"
#include "serialport.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace
{

constexpr double TickSeconds = 0.050; // Timer1's interval
constexpr double PaceRate = 11520.0;  // 115200 baud, 8N1: bytes per second
constexpr double PaceStep = 0.010;    // the far end sends every 10 ms
constexpr double StallSeconds = 10.0; // no progress for this long: give up

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

double peakMegabytes()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_maxrss) / 1024.0; // kB on Linux
}

qint64 fileSize(const QByteArray &path)
{
    struct stat st {
    };
    return ::stat(path.constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

// CPU seconds a process has taken so far, user and system, from
// /proc/<pid>/stat; negative when it cannot be read.
double processCpuSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name in parentheses may hold blanks; the fields counted
    // from after its closing parenthesis start with the state (field 3).
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// The report of a child: one line "key=value key=value ...", on its stdout.
void report(const QList<QPair<QByteArray, QByteArray>> &fields)
{
    QByteArray line;
    for (const auto &[key, value] : fields)
        line += key + '=' + value + ' ';
    line += '\n';
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n =
            ::write(STDOUT_FILENO, line.constData() + done, size_t(line.size() - done));
        if (n <= 0 && errno != EINTR)
            return;
        done += std::max<ssize_t>(n, 0);
    }
}

// Writes all n bytes to fd; false when the file takes no more.
bool writeAll(int fd, const char *bytes, qsizetype n)
{
    for (qsizetype done = 0; done < n;) {
        const ssize_t w = ::write(fd, bytes + done, size_t(n - done));
        if (w <= 0)
            return false;
        done += w;
    }
    return true;
}

QByteArray num(double v)
{
    return QByteArray::number(v, 'f', 6);
}

// ---------------------------------------------------------------------------
// The program side: the real window.

class ScriptedDialog : public CommonDialog
{
public:
    explicit ScriptedDialog(QString path) : m_path(std::move(path)) {}
    void ShowOpen() override { FileName = m_path; }

private:
    QString m_path;
};

class ScriptedBoxes : public MessageBoxes
{
public:
    QStringList shown;
    Answer show(const QString &text, const QString &, Buttons buttons, Icon) override
    {
        shown.append(text);
        std::fprintf(stderr, "kavro-flood: message box: %s\n", qPrintable(text));
        return buttons == Ok ? AnswerOk : AnswerYes;
    }
};

// kavro-flood --window <linkdir> <capture file> <bytes>
int windowMain(int argc, char **argv)
{
    if (argc < 5)
        return 2;
    const QString linkDir = QString::fromLocal8Bit(argv[2]);
    const QString capturePath = QString::fromLocal8Bit(argv[3]);
    const QByteArray captureNative = QFile::encodeName(capturePath);
    const qint64 expected = QByteArray(argv[4]).toLongLong();

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    prepareApplication(app);

    ScriptedDialog dialog(capturePath);
    ScriptedBoxes boxes;
    auto *port = new DeviceSerialPort({PortMap(linkDir, [] { return QStringList(); }), {}});
    KavroWindow window(port, &boxes, &dialog);
    port->setParent(&window);
    window.show();
    auto *timer = window.findChild<QTimer *>(QStringLiteral("Timer1"));

    window.findChild<QComboBox *>(QStringLiteral("Comport"))->setEditText(QStringLiteral("1"));
    window.findChild<QComboBox *>(QStringLiteral("Baud"))->setEditText(QStringLiteral("115200"));
    window.findChild<QPushButton *>(QStringLiteral("Verbind"))->click();
    window.findChild<QPushButton *>(QStringLiteral("StartRec"))->click();
    if (!port->PortOpen() || window.capture().recActive() != -1) {
        report({{"error", "start"}});
        return 1;
    }

    std::vector<double> ticks;
    ticks.reserve(1 << 16);
    QObject::connect(timer, &QTimer::timeout, &app, [&] { ticks.push_back(now()); });

    double firstEvent = 0, firstCpu = 0;
    qint64 events = 0;
    qint64 lastSize = 0;
    double lastProgress = now();
    bool finished = false;

    auto finish = [&](qint64 size) {
        finished = true;
        const double end = now();
        const double cpu = cpuSeconds() - firstCpu;
        // Ticks while the data came in, and the longest wait between two of
        // them (the wait still open at the end counts too).
        qint64 inside = 0;
        double gap = 0;
        double previous = -1;
        for (double t : ticks) {
            if (t > end)
                break;
            if (t >= firstEvent)
                ++inside;
            if (previous >= 0 && t >= firstEvent)
                gap = std::max(gap, t - previous);
            previous = t;
        }
        if (previous >= 0)
            gap = std::max(gap, end - std::max(previous, firstEvent));
        report({{"end", num(end)},
                {"first_event", num(firstEvent)},
                {"size", QByteArray::number(size)},
                {"events", QByteArray::number(events)},
                {"ticks", QByteArray::number(inside)},
                {"expected_ticks", num((end - firstEvent) / TickSeconds)},
                {"max_gap", num(gap)},
                {"cpu", num(cpu)},
                {"peak_mb", num(peakMegabytes())},
                {"boxes", QByteArray::number(boxes.shown.size())}});
        app.quit();
    };
    auto check = [&] {
        if (finished)
            return;
        const qint64 size = fileSize(captureNative);
        if (size > lastSize) {
            lastSize = size;
            lastProgress = now();
        }
        if (size >= expected || (events > 0 && now() - lastProgress > StallSeconds))
            finish(size);
    };
    // Connected after the window's own handler, so this runs when the receive
    // event is over and the capture file has been flushed.
    QObject::connect(port, &SerialPort::OnComm, &app, [&] {
        if (events++ == 0) {
            firstEvent = now();
            firstCpu = cpuSeconds();
        }
        check();
    });
    // Only to notice a stall: a timer of its own every few milliseconds would
    // add to the CPU time measured at 115200 baud.
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, &app, check);
    poll.start();

    report({{"ready", "1"}, {"peak_mb", num(peakMegabytes())}});
    app.exec();
    return 0;
}

// What the toolkit alone costs at the window's beat: a window of the same size
// whose only work is a small opaque widget, the activity bar's size, painted
// anew twenty times a second. No port, no text, no capture.
//
// kavro-flood --floor <seconds>
int floorMain(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const double seconds = QByteArray(argv[2]).toDouble();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    struct Bar : QWidget {
        int step = 0;
        explicit Bar(QWidget *parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }
        void paintEvent(QPaintEvent *) override
        {
            QPainter painter(this);
            painter.fillRect(rect(), Qt::white);
            painter.fillRect(QRect(0, 0, width() * step / 100, height()), Qt::darkGreen);
        }
    };
    QWidget window;
    window.resize(665, 452);
    auto *bar = new Bar(&window);
    bar->setGeometry(336, 320, 313, 9);
    window.show();
    QTimer beat;
    beat.setInterval(TickSeconds * 1000);
    beat.setTimerType(Qt::CoarseTimer);
    double start = 0, startCpu = 0;
    QObject::connect(&beat, &QTimer::timeout, &app, [&] {
        if (start == 0) {
            start = now();
            startCpu = cpuSeconds();
        } else if (now() - start >= seconds) {
            report({{"seconds", num(now() - start)}, {"cpu", num(cpuSeconds() - startCpu)}});
            app.quit();
        }
        bar->step = (bar->step + 1) % 101;
        bar->update();
    });
    beat.start();
    report({{"ready", "1"}});
    return app.exec();
}

// ---------------------------------------------------------------------------
// The baseline: a plain reader copying the line into a file.

// Copies the pieces readPiece hands over (returning what read() returned)
// into out until expected bytes are in, `total` of them already before, and
// reports the reader's figures.
template <typename ReadPiece>
int copyAndReport(ReadPiece readPiece, int out, qint64 expected, qint64 total)
{
    double firstEvent = 0, firstCpu = 0;
    while (total < expected) {
        QByteArrayView piece;
        const ssize_t n = readPiece(piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (firstEvent == 0) {
            firstEvent = now();
            firstCpu = cpuSeconds();
        }
        if (!writeAll(out, piece.data(), piece.size())) {
            report({{"error", "write"}});
            return 1;
        }
        total += piece.size();
    }
    report({{"end", num(now())},
            {"first_event", num(firstEvent)},
            {"size", QByteArray::number(total)},
            {"cpu", num(cpuSeconds() - firstCpu)},
            {"peak_mb", num(peakMegabytes())}});
    return 0;
}

// kavro-flood --reader <slave device> <output file> <bytes>
int readerMain(int argc, char **argv)
{
    if (argc < 5)
        return 2;
    const qint64 expected = QByteArray(argv[4]).toLongLong();
    const int in = ::open(argv[2], O_RDONLY | O_NOCTTY | O_CLOEXEC);
    const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) {
        report({{"error", "open"}});
        return 1;
    }
    report({{"ready", "1"}, {"peak_mb", num(peakMegabytes())}});
    std::vector<char> buf(64 * 1024);
    return copyAndReport(
        [&](QByteArrayView &piece) {
            const ssize_t n = ::read(in, buf.data(), buf.size());
            piece = QByteArrayView(buf.data(), std::max<ssize_t>(n, 0));
            return n;
        },
        out, expected, 0);
}

// The baseline of a network port: a plain reader of the same ser2net port,
// undoing the telnet framing as any client must.
//
// kavro-flood --netreader <port> <output file> <bytes>
int netReaderMain(int argc, char **argv)
{
    if (argc < 5)
        return 2;
    const qint64 expected = QByteArray(argv[4]).toLongLong();
    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(quint16(QByteArray(argv[2]).toUInt()));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (sock < 0 || out < 0 || ::connect(sock, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
        report({{"error", "open"}});
        return 1;
    }
    Rfc2217Client codec;
    auto sendAll = [sock](const QByteArray &bytes) {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t w =
                ::send(sock, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (w <= 0)
                return false;
            done += w;
        }
        return true;
    };
    // Binary both ways agreed before the far end sends, as the window waits
    // for it too.
    sendAll(codec.opening());
    std::vector<char> buf(64 * 1024);
    QByteArray data, reply;
    auto readSome = [&]() -> ssize_t {
        const ssize_t n = ::read(sock, buf.data(), buf.size());
        if (n > 0) {
            codec.decode(QByteArrayView(buf.data(), n), data, reply);
            if (!reply.isEmpty())
                sendAll(std::exchange(reply, {}));
        }
        return n;
    };
    while (!codec.receivesBinary() || !codec.sendsBinary()) {
        if (readSome() <= 0) {
            report({{"error", "telnet"}});
            return 1;
        }
    }
    report({{"ready", "1"}, {"peak_mb", num(peakMegabytes())}});
    return copyAndReport(
        [&](QByteArrayView &piece) {
            data.resize(0);
            const ssize_t n = readSome();
            piece = data;
            return n;
        },
        out, expected, data.size());
}

// ---------------------------------------------------------------------------
// The far end and the driver.

using Fields = QMap<QByteArray, QByteArray>;

struct Child {
    pid_t pid = -1;
    int out = -1; // its reports
    QByteArray pending;

    // The next report line, waiting up to timeout seconds.
    std::optional<Fields> next(double timeout)
    {
        const double until = now() + timeout;
        for (;;) {
            const qsizetype nl = pending.indexOf('\n');
            if (nl >= 0) {
                Fields fields;
                for (const QByteArray &pair : pending.left(nl).split(' ')) {
                    const qsizetype eq = pair.indexOf('=');
                    if (eq > 0)
                        fields.insert(pair.left(eq), pair.mid(eq + 1));
                }
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

    bool alive() const { return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; }

    void end()
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
};

// A command the window's process runs under (--profile-with), or nothing.
QList<QByteArray> windowWrapper;
// The X display the window runs on (--x11), or empty for offscreen, and the
// X server's process when it is known.
QByteArray xDisplay;
pid_t xServer = -1;

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

// Starts an Xvfb of its own, which picks a free display and tells it; returns
// the display, or empty when it did not start.
QByteArray startXvfb()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
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
        return {};
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
        return {};
    }
    xServer = pid;
    return ':' + number.trimmed();
}

Child start(const QList<QByteArray> &args, const QByteArray &xdgConfig, const QByteArray &runtime)
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

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return c;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO); // dup2 drops O_CLOEXEC
        ::setenv("XDG_CONFIG_HOME", xdgConfig.constData(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
        if (xDisplay.isEmpty() || (args.first() != "--window" && args.first() != "--floor")) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        } else {
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::setenv("DISPLAY", xDisplay.constData(), 1);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    c.pid = pid;
    c.out = fds[0];
    return c;
}

// Sends n bytes of the traffic into the master: as fast as the line takes them
// (rate 0), or paced, a piece every PaceStep. Returns the time of the first
// byte, or a negative value when the line stopped taking bytes.
double send(int master, Traffic &traffic, qint64 n, double rate, Child &child)
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

// Compares the file with the traffic regenerated: the first differing offset,
// or -1 when the file is exactly the n bytes sent.
struct Check {
    qint64 size = -1;
    qint64 firstDifference = -1;
    bool ok() const { return firstDifference < 0; }
};

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

struct Run {
    bool ok = false;
    QString error;
    double seconds = 0; // first byte sent until all of it written down
    double cpu = 0;     // the child's CPU seconds meanwhile
    double childSeconds = 0;
    double peakMb = 0;
    double readyMb = 0;
    qint64 ticks = 0;
    double expectedTicks = 0;
    double maxGap = 0;
    qint64 events = 0;
    qint64 boxes = 0;
    double xShare = -1; // the X server's CPU seconds per second meanwhile
    Check check;
};

// One run: a fresh pseudo-terminal linked as port 1 in a fresh config folder
// (or served by ser2net, and port 1 a link to the server's address), the
// program (or the plain reader) in a child, the far end sending n bytes.
Run runOnce(bool window, Traffic::Kind kind, quint64 seed, qint64 n, double rate, bool net = false)
{
    Run r;
    QTemporaryDir dir;
    FarEnd pty;
    if (!dir.isValid() || !pty.isValid()) {
        r.error = QStringLiteral("no temporary folder or pseudo-terminal");
        return r;
    }
    const QString xdg = dir.filePath(QStringLiteral("config"));
    const QString links = xdg + QStringLiteral("/kavro/ports");
    const QString capture = dir.filePath(QStringLiteral("capture.txt"));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(links);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
    Child child = window ? start({"--window", QFile::encodeName(links), QFile::encodeName(capture),
                                  QByteArray::number(n)},
                                 QFile::encodeName(xdg), QFile::encodeName(runtime))
                  : net  ? start({"--netreader", QByteArray::number(server->port()),
                                  QFile::encodeName(capture), QByteArray::number(n)},
                                 QFile::encodeName(xdg), QFile::encodeName(runtime))
                         : start({"--reader", QFile::encodeName(pty.slavePath()),
                                  QFile::encodeName(capture), QByteArray::number(n)},
                                 QFile::encodeName(xdg), QFile::encodeName(runtime));
    auto ready = child.next(30);
    if (!ready || !ready->contains("ready")) {
        r.error = QStringLiteral("the child did not start");
        child.end();
        return r;
    }
    r.readyMb = ready->value("peak_mb").toDouble();

    Traffic traffic(kind, seed);
    const double xStart = now();
    const double xCpuStart = xServer > 0 ? processCpuSeconds(xServer) : -1;
    const double first = send(pty.master(), traffic, n, rate, child);
    auto result = first < 0 ? std::nullopt : child.next(StallSeconds + 30);
    const double xCpuEnd = xServer > 0 ? processCpuSeconds(xServer) : -1;
    if (window && xCpuStart >= 0 && xCpuEnd >= 0)
        r.xShare = (xCpuEnd - xCpuStart) / (now() - xStart);
    child.end();
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
    r.check = compare(capture, kind, seed, n);
    r.ok = true;
    return r;
}

// The toolkit's own share of a core at the window's beat (floorMain), or a
// negative value when it could not be measured.
double floorShare(double seconds)
{
    QTemporaryDir dir;
    const QString xdg = dir.filePath(QStringLiteral("config"));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(xdg);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Child child = start({"--floor", QByteArray::number(seconds)}, QFile::encodeName(xdg),
                        QFile::encodeName(runtime));
    const auto ready = child.next(30);
    const auto result = ready ? child.next(seconds + 30) : std::nullopt;
    child.end();
    if (!result || !result->contains("cpu"))
        return -1;
    return result->value("cpu").toDouble() / result->value("seconds").toDouble();
}

QByteArray fmt(const char *format, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// Repeated runs of one kind, summed up: the fastest run for the throughput
// (the line is shared with whatever else the machine does), the worst of all
// runs for everything that must hold every time.
struct Summary {
    int runs = 0;
    int failed = 0;
    int lost = 0;         // runs whose file was not exactly what was sent
    QByteArray firstLoss; // what was wrong with the first of them
    double bestSeconds = 0;
    double cpuPerByte = 0;         // of the fastest run, seconds
    double bytesPerEvent = 0;      // of the fastest run: what one receive event took in
    std::vector<double> cpuShares; // CPU seconds per second, of every run
    std::vector<double> xShares;   // the X server's, of every run
    double worstTicks = -1;        // percent of the expected ticks
    double worstGap = 0;           // seconds
    double peakMb = 0;
    qint64 boxes = 0;

    void add(const Run &r, qint64 n)
    {
        ++runs;
        if (!r.ok) {
            ++failed;
            return;
        }
        if (!r.check.ok()) {
            if (lost++ == 0)
                firstLoss =
                    r.check.size < 0 ? QByteArray("no file")
                    : r.check.size != n && r.check.firstDifference == std::min(r.check.size, n)
                        ? "size " + QByteArray::number(r.check.size)
                        : "differs @" + QByteArray::number(r.check.firstDifference);
        }
        cpuShares.push_back(r.childSeconds > 0 ? r.cpu / r.childSeconds : 0);
        if (r.xShare >= 0)
            xShares.push_back(r.xShare);
        if (bestSeconds == 0 || r.seconds < bestSeconds) {
            bestSeconds = r.seconds;
            cpuPerByte = r.cpu / double(n);
            bytesPerEvent = r.events > 0 ? double(n) / double(r.events) : 0;
        }
        const double ticks = r.expectedTicks > 0 ? 100.0 * double(r.ticks) / r.expectedTicks : -1;
        if (ticks >= 0 && (worstTicks < 0 || ticks < worstTicks))
            worstTicks = ticks;
        worstGap = std::max(worstGap, r.maxGap);
        peakMb = std::max(peakMb, r.peakMb);
        boxes += r.boxes;
    }
    bool measured() const { return runs > failed; }
    static double median(std::vector<double> v)
    {
        if (v.empty())
            return -1;
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }
    double medianCpuShare() const { return std::max(median(cpuShares), 0.0); }
    double medianXShare() const { return median(xShares); }
    double rate(qint64 n) const { return measured() ? double(n) / bestSeconds / 1e6 : 0; }
    QByteArray capture() const
    {
        if (!runs)
            return "-";
        if (failed)
            return QByteArray::number(failed) + " failed";
        return lost ? firstLoss : QByteArray("0 lost");
    }
};

int driverMain(int argc, char **argv)
{
    qint64 n = 50'000'000;
    qint64 netBytes = 10'000'000;
    double paceSeconds = 10;
    quint64 seed = 1;
    int repeat = 3;
    QList<QByteArray> only{"base", "lines", "endless", "binary", "net", "pace"};
    bool x11 = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        if (a == "--x11")
            x11 = true;
        else if (a == "--bytes" && i + 1 < argc)
            n = QByteArray(argv[++i]).toLongLong();
        else if (a == "--net-bytes" && i + 1 < argc)
            netBytes = QByteArray(argv[++i]).toLongLong();
        else if (a == "--pace-seconds" && i + 1 < argc)
            paceSeconds = QByteArray(argv[++i]).toDouble();
        else if (a == "--seed" && i + 1 < argc)
            seed = QByteArray(argv[++i]).toULongLong();
        else if (a == "--repeat" && i + 1 < argc)
            repeat = QByteArray(argv[++i]).toInt();
        else if (a == "--only" && i + 1 < argc)
            only = QByteArray(argv[++i]).split(',');
        else if (a == "--profile-with" && i + 1 < argc)
            windowWrapper = QByteArray(argv[++i]).simplified().split(' ');
        else {
            std::fprintf(stderr,
                         "usage: kavro-flood [--x11] [--bytes N] [--repeat R] [--pace-seconds S] "
                         "[--net-bytes N] [--seed S] [--only base,lines,endless,binary,net,pace] "
                         "[--profile-with COMMAND]\n");
            return 2;
        }
    }
    if (n <= 0 || netBytes <= 0 || repeat <= 0 || paceSeconds <= 0) {
        std::fprintf(
            stderr,
            "kavro-flood: --bytes, --net-bytes, --repeat and --pace-seconds must be positive\n");
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);

    bool ownServer = false;
    if (x11) {
        xDisplay = qgetenv("DISPLAY");
        if (xDisplay.isEmpty()) {
            xDisplay = startXvfb();
            ownServer = true;
            if (xDisplay.isEmpty()) {
                std::fprintf(stderr,
                             "kavro-flood: Xvfb did not start (./scripts/setup.sh --bench)\n");
                return 1;
            }
        } else {
            xServer = findXServer(xDisplay);
        }
    }
    const auto stopServer = qScopeGuard([&] {
        if (ownServer) {
            ::kill(xServer, SIGTERM);
            ::waitpid(xServer, nullptr, 0);
        }
    });

    std::printf(
        "kavro-flood: %lld bytes per run, best of %d runs, seed %llu, %d cores, window %s\n",
        static_cast<long long>(n), repeat, static_cast<unsigned long long>(seed),
        int(sysconf(_SC_NPROCESSORS_ONLN)),
        x11 ? ("on X display " + xDisplay + (ownServer ? " (an Xvfb of its own)" : "")).constData()
            : "offscreen");
    std::fflush(stdout);

    // Row 0 is the plain reader; the kinds take turns, so that a disturbance
    // on the machine does not hit one of them only.
    const Traffic::Kind kinds[] = {Traffic::Lines, Traffic::Lines, Traffic::Endless,
                                   Traffic::Binary};
    const char *const names[] = {"base", "lines", "endless", "binary"};
    Summary rows[4];
    double readyMb = 0;
    for (int round = 0; round < repeat; ++round) {
        for (int k = 0; k < 4; ++k) {
            if (!only.contains(names[k]))
                continue;
            const Run r = runOnce(k > 0, kinds[k], seed, n, 0);
            if (!r.ok)
                std::fprintf(stderr, "kavro-flood: %s: %s\n", names[k], qPrintable(r.error));
            if (k > 0)
                readyMb = std::max(readyMb, r.readyMb);
            rows[k].add(r, n);
        }
    }

    // Through ser2net: its plain reader and the window take turns too.
    Summary netRows[2];
    const bool net = only.contains("net") && Ser2NetServer::available();
    if (only.contains("net") && !net)
        std::fprintf(stderr, "kavro-flood: ser2net is not installed; no network rows\n");
    for (int round = 0; net && round < repeat; ++round) {
        for (int k = 0; k < 2; ++k) {
            const Run r = runOnce(k > 0, Traffic::Binary, seed, netBytes, 0, true);
            if (!r.ok)
                std::fprintf(stderr, "kavro-flood: net %s: %s\n", k ? "window" : "reader",
                             qPrintable(r.error));
            netRows[k].add(r, netBytes);
        }
    }

    const qint64 paceBytes = qint64(PaceRate * paceSeconds);
    Summary paced[2];
    std::vector<double> floors;
    for (int round = 0; only.contains("pace") && round < repeat; ++round) {
        if (const double f = floorShare(paceSeconds); f >= 0)
            floors.push_back(f);
        for (int k = 0; k < 2; ++k) {
            const Run r = runOnce(k > 0, Traffic::Lines, seed, paceBytes, PaceRate);
            if (!r.ok)
                std::fprintf(stderr, "kavro-flood: paced %s: %s\n", k ? "window" : "reader",
                             qPrintable(r.error));
            paced[k].add(r, paceBytes);
        }
    }

    const double baseRate = rows[0].rate(n);
    const double linesRate = rows[1].rate(n);
    if (std::any_of(std::begin(rows), std::end(rows),
                    [](const Summary &r) { return r.runs > 0; })) {
        std::printf("\nflood, %lld bytes each:\n", static_cast<long long>(n));
        std::printf("%-9s %8s %7s %7s  %-12s %8s %7s %8s %9s %8s %7s\n", "run", "MB/s", "x base",
                    "x lines", "capture", "ticks %", "gap ms", "peak MB", "CPU ns/B", "B/event",
                    x11 ? "X CPU %" : "");
    }
    for (int k = 0; k < 4; ++k) {
        const Summary &r = rows[k];
        if (!r.runs)
            continue;
        const bool window = k > 0;
        std::printf(
            "%-9s %8.1f %7s %7s  %-12s %8s %7s %8.1f %9.1f %8s %7s\n", k ? names[k] : "baseline",
            r.rate(n),
            baseRate > 0 && r.measured() ? fmt("%.2f", r.rate(n) / baseRate).constData() : "-",
            k > 1 && linesRate > 0 && r.measured() ? fmt("%.2f", r.rate(n) / linesRate).constData()
                                                   : "",
            r.capture().constData(),
            window && r.worstTicks >= 0 ? fmt("%.1f", r.worstTicks).constData() : "",
            window && r.measured() ? fmt("%.0f", 1000 * r.worstGap).constData() : "", r.peakMb,
            1e9 * r.cpuPerByte,
            window && r.bytesPerEvent > 0 ? fmt("%.0f", r.bytesPerEvent).constData() : "",
            r.medianXShare() >= 0 ? fmt("%.1f", 100 * r.medianXShare()).constData() : "");
    }

    if (netRows[0].runs || netRows[1].runs) {
        std::printf("\nthrough ser2net (rfc2217 on 127.0.0.1), binary, %lld bytes each:\n",
                    static_cast<long long>(netBytes));
        std::printf("%-9s %8s %7s  %-12s %8s %7s %8s %9s\n", "run", "MB/s", "x base", "capture",
                    "ticks %", "gap ms", "peak MB", "CPU ns/B");
        const double netBase = netRows[0].rate(netBytes);
        for (int k = 0; k < 2; ++k) {
            const Summary &r = netRows[k];
            if (!r.runs)
                continue;
            std::printf("%-9s %8.2f %7s  %-12s %8s %7s %8.1f %9.1f\n", k ? "window" : "reader",
                        r.rate(netBytes),
                        netBase > 0 && r.measured()
                            ? fmt("%.2f", r.rate(netBytes) / netBase).constData()
                            : "-",
                        r.capture().constData(),
                        k && r.worstTicks >= 0 ? fmt("%.1f", r.worstTicks).constData() : "",
                        k && r.measured() ? fmt("%.0f", 1000 * r.worstGap).constData() : "",
                        r.peakMb, 1e9 * r.cpuPerByte);
        }
    }

    if (paced[0].runs || paced[1].runs) {
        std::printf("\nat 115200 baud: %.0f bytes/s of lines in 10 ms pieces for %.0f s, median of "
                    "%d runs:\n",
                    PaceRate, paceSeconds, repeat);
        std::printf("%-9s %8s %7s  %-12s %8s %7s %8s %7s\n", "run", "CPU %", "x base", "capture",
                    "ticks %", "gap ms", "peak MB", x11 ? "X CPU %" : "");
        const double baseCpu = 100 * paced[0].medianCpuShare();
        for (int k = 0; k < 2; ++k) {
            const Summary &r = paced[k];
            if (!r.runs)
                continue;
            const double cpu = 100 * r.medianCpuShare();
            std::printf(
                "%-9s %8.2f %7s  %-12s %8s %7s %8.1f %7s\n", k ? "window" : "baseline", cpu,
                baseCpu > 0 && r.measured() ? fmt("%.1f", cpu / baseCpu).constData() : "-",
                r.capture().constData(),
                k && r.worstTicks >= 0 ? fmt("%.1f", r.worstTicks).constData() : "",
                k && r.measured() ? fmt("%.0f", 1000 * r.worstGap).constData() : "", r.peakMb,
                r.medianXShare() >= 0 ? fmt("%.2f", 100 * r.medianXShare()).constData() : "");
        }
        if (!floors.empty()) {
            std::sort(floors.begin(), floors.end());
            const double cpu = 100 * floors[floors.size() / 2];
            std::printf(
                "%-9s %8.2f %7s  (a bare Qt window painting one small widget every 50 ms)\n",
                "Qt alone", cpu, baseCpu > 0 ? fmt("%.1f", cpu / baseCpu).constData() : "-");
        }
    }

    qint64 boxes = paced[1].boxes + netRows[1].boxes;
    for (const Summary &r : rows)
        boxes += r.boxes;
    std::printf("\nwindow right after start: %.1f MB; message boxes shown: %lld\n", readyMb,
                static_cast<long long>(boxes));
    std::printf(
        "targets: lines, endless, binary >= 0.50 x base; net window >= 0.50 x net reader; 0 lost;\n"
        "         ticks >= 90 %%, gap <= 150 ms; peak < 80 MB;\n"
        "         window CPU <= 2 %% and <= 2 x base at 115200 baud (on an X server)\n");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--window") == 0)
        return windowMain(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--floor") == 0)
        return floorMain(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--reader") == 0)
        return readerMain(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--netreader") == 0)
        return netReaderMain(argc, argv);
    // ser2net runs as a QProcess of the driver.
    QCoreApplication app(argc, argv);
    return driverMain(argc, argv);
}
