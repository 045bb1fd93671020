// How the whole program copes with a flood on the serial line: the real window,
// offscreen, with its port on a pseudo-terminal and a capture running, while
// the far end sends as fast as the line takes it.
//
//   build/bench/kavro-flood [--x11] [--bytes N] [--repeat R] [--pace-seconds S] [--seed S]
//
// For each of three kinds of traffic (62-byte CR LF lines, one line that never
// ends, random binary bytes; testsupport/traffic.h makes them) it measures
//   - the throughput, from the far end's first byte until the capture file
//     holds all N bytes, against a plain reader copying the same line into a
//     file (the baseline: what the pseudo-terminal itself carries);
//   - that the capture file holds exactly what was sent, byte for byte;
//   - how evenly Timer1 ticks meanwhile (the activity bar must keep moving);
//   - the program's peak memory and its CPU time per byte;
// and the same three once more with the history window open beside the
// main window, following the end ("h lines", "h endless", "h binary").
// Beside "lines", the same with a saved command repeating every 10 ms
// ("r lines": "ping" with CR on F1, started through the window's own key and
// command desk before the first byte and running until the end); the far end
// reads what it sends in a thread of its own and counts the commands, and a
// line under the table tells how many arrived, how many the window sent and
// how many were due by the clock.
// Then lines of ten numbers ("readings"), and the same with the plot window
// open and following ("p readings"): lines a second, CPU per line, and
// whether every line reached the plot (its counts: received, plotted and
// none rejected).
// Then the binary traffic once more through the real ser2net on 127.0.0.1
// (its rfc2217 accepter, the pseudo-terminal its device, port 1 a link to
// rfc2217://127.0.0.1:PORT), against a plain reader of the same server port
// that does the telnet framing with a few lines of its own (--net-bytes N,
// default 10 MB: ser2net carries a few MB/s).
// Then, at the pace of a 115200 baud line (11520 bytes/s, sent every 10 ms),
// the share of one core the program takes, against the plain reader's (and
// with the repeat of "r lines" running, "+ repeat", with the history open,
// and with the plot open on lines of numbers), and
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
// lines, repeat ("r lines"), endless, binary, history (its three rows, or
// history-lines and so on one by one), readings, plot, net, pace (all of the
// paced rows, "+ repeat" among them), and --profile-with a command the
// window's process runs under:
//
//   kavro-flood --only lines --bytes 2000000 --repeat 1 --profile-with "valgrind --tool=callgrind"
//
// Each process mode has a file of its own in this folder: the driver (this
// file: options, the rounds and the printed rows), one run against a child
// and the check of its file (run.cpp), the children and the X server
// (children.cpp), the window and "Qt alone" (window.cpp), the plain readers
// (readers.cpp), and what they all measure with (measure.cpp).

#include "children.h"
#include "measure.h"
#include "readers.h"
#include "run.h"
#include "ser2netserver.h"
#include "window.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <vector>

#include <signal.h>
#include <unistd.h>

namespace
{

// The flood rows, in the order they run in each round and are printed: the
// plain reader first, the baseline every row is set against; the rows after
// "lines" are set against that row too. The kinds take turns, so that a
// disturbance on the machine does not hit one of them only.
struct FloodRow {
    const char *name;  // as --only names it
    const char *label; // as printed
    Taker taker;
    Traffic::Kind kind;
};
constexpr FloodRow floodRows[] = {
    {"base", "baseline", Taker::Reader, Traffic::Lines},
    {"lines", "lines", Taker::Window, Traffic::Lines},
    {"repeat", "r lines", Taker::Repeat, Traffic::Lines},
    {"endless", "endless", Taker::Window, Traffic::Endless},
    {"binary", "binary", Taker::Window, Traffic::Binary},
    {"history-lines", "h lines", Taker::History, Traffic::Lines},
    {"history-endless", "h endless", Taker::History, Traffic::Endless},
    {"history-binary", "h binary", Taker::History, Traffic::Binary},
    {"readings", "readings", Taker::Window, Traffic::Readings},
    {"plot", "p readings", Taker::Plot, Traffic::Readings},
};
constexpr int FloodRowCount = int(std::size(floodRows));
constexpr int BaseRow = 0, LinesRow = 1;

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
    // The plot's lines: of every run, those that did not reach it or were
    // rejected; -1 without the plot.
    qint64 plotMissed = -1;
    qint64 plotLines = 0;
    // The repeat's commands over all runs: arrived at the far end, other
    // bytes there, sent as the window counts them, due by the clock; the
    // lowest share of the due ones that arrived in a run. -1 without it.
    qint64 repeatArrived = -1;
    qint64 repeatStray = 0;
    qint64 repeatSent = 0;
    qint64 repeatDue = 0;
    double repeatSeconds = 0;
    double repeatWorst = -1;

    void add(const Run &r, qint64 n)
    {
        ++runs;
        if (!r.ok) {
            ++failed;
            return;
        }
        if (r.plotReceived >= 0) {
            // Every whole line sent is received and plotted, none rejected.
            plotLines = n / Traffic::LineLength;
            plotMissed = std::max<qint64>(plotMissed, 0) + (plotLines - r.plotPlotted) +
                         std::abs(plotLines - r.plotReceived) + r.plotRejected;
        }
        if (r.repeatArrived >= 0) {
            repeatArrived = std::max<qint64>(repeatArrived, 0) + r.repeatArrived;
            repeatStray += r.repeatStray;
            repeatSent += r.repeatSent;
            repeatDue += r.repeatDue;
            repeatSeconds += r.repeatSeconds;
            const double share = r.repeatDue > 0 ? double(r.repeatArrived) / r.repeatDue : 0;
            repeatWorst = repeatWorst < 0 ? share : std::min(repeatWorst, share);
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
    // The repeat's line under the tables; empty without it.
    QByteArray repeats(const char *label) const
    {
        if (repeatArrived < 0)
            return {};
        char buf[320];
        std::snprintf(buf, sizeof buf,
                      "%-10s repeats of \"%s<CR>\" every %d ms, %d runs: %lld arrived at the far "
                      "end, %lld sent, %lld due in %.1f s (%.1f %%, lowest run %.1f %%), %lld "
                      "other bytes\n",
                      label, RepeatCommand, RepeatMs, runs - failed,
                      static_cast<long long>(repeatArrived), static_cast<long long>(repeatSent),
                      static_cast<long long>(repeatDue), repeatSeconds,
                      repeatDue > 0 ? 100.0 * double(repeatArrived) / double(repeatDue) : 0.0,
                      100 * repeatWorst, static_cast<long long>(repeatStray));
        return buf;
    }
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
    QList<QByteArray> only{"net", "pace"};
    for (const FloodRow &row : floodRows)
        only.append(row.name);
    bool x11 = false;
    Launcher children;
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
            children.windowWrapper = QByteArray(argv[++i]).simplified().split(' ');
        else {
            std::fprintf(stderr,
                         "usage: kavro-flood [--x11] [--bytes N] [--repeat R] [--pace-seconds S] "
                         "[--net-bytes N] [--seed S] "
                         "[--only base,lines,repeat,endless,binary,history,readings,plot,net,"
                         "pace] "
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

    std::optional<XServer> xServer;
    if (x11) {
        xServer.emplace();
        children.display = xServer->display();
        if (children.display.isEmpty()) {
            std::fprintf(stderr, "kavro-flood: Xvfb did not start (./scripts/setup.sh --bench)\n");
            return 1;
        }
    }
    const Runner runner(children, xServer ? xServer->pid() : -1, seed);

    std::printf(
        "kavro-flood: %lld bytes per run, best of %d runs, seed %llu, %d cores, window %s\n",
        static_cast<long long>(n), repeat, static_cast<unsigned long long>(seed),
        int(sysconf(_SC_NPROCESSORS_ONLN)),
        x11 ? ("on X display " + children.display +
               (xServer->isOwn() ? " (an Xvfb of its own)" : ""))
                  .constData()
            : "offscreen");
    std::fflush(stdout);

    Summary rows[FloodRowCount];
    double readyMb = 0;
    for (int round = 0; round < repeat; ++round) {
        for (int k = 0; k < FloodRowCount; ++k) {
            const FloodRow &row = floodRows[k];
            if (!only.contains(row.name) &&
                !(row.taker == Taker::History && only.contains("history")))
                continue;
            const Run r = runner.run(row.taker, row.kind, n, 0);
            if (!r.ok)
                std::fprintf(stderr, "kavro-flood: %s: %s\n", row.name, qPrintable(r.error));
            if (row.taker != Taker::Reader)
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
            const Run r =
                runner.run(k ? Taker::Window : Taker::Reader, Traffic::Binary, netBytes, 0, true);
            if (!r.ok)
                std::fprintf(stderr, "kavro-flood: net %s: %s\n", k ? "window" : "reader",
                             qPrintable(r.error));
            netRows[k].add(r, netBytes);
        }
    }

    const qint64 paceBytes = qint64(PaceRate * paceSeconds);
    // The paced runs: the plain reader, the window, the window repeating a
    // saved command, the window with its history open beside it, with its
    // plot.
    constexpr Taker pacedTakers[] = {Taker::Reader, Taker::Window, Taker::Repeat, Taker::History,
                                     Taker::Plot};
    constexpr const char *pacedLabels[] = {"baseline", "window", "+ repeat", "+ history", "+ plot"};
    constexpr int Paced = int(std::size(pacedTakers));
    Summary paced[Paced];
    std::vector<double> floors;
    for (int round = 0; only.contains("pace") && round < repeat; ++round) {
        if (const double f = runner.floorShare(paceSeconds); f >= 0)
            floors.push_back(f);
        for (int k = 0; k < Paced; ++k) {
            // The plot's run brings it lines of numbers.
            const Run r = runner.run(
                pacedTakers[k], pacedTakers[k] == Taker::Plot ? Traffic::Readings : Traffic::Lines,
                paceBytes, PaceRate);
            if (!r.ok)
                std::fprintf(stderr, "kavro-flood: paced %s: %s\n", pacedLabels[k],
                             qPrintable(r.error));
            paced[k].add(r, paceBytes);
        }
    }

    const double baseRate = rows[BaseRow].rate(n);
    const double linesRate = rows[LinesRow].rate(n);
    if (std::any_of(std::begin(rows), std::end(rows),
                    [](const Summary &r) { return r.runs > 0; })) {
        std::printf("\nflood, %lld bytes each:\n", static_cast<long long>(n));
        std::printf("%-9s %8s %7s %7s  %-12s %8s %7s %8s %9s %8s %7s\n", "run", "MB/s", "x base",
                    "x lines", "capture", "ticks %", "gap ms", "peak MB", "CPU ns/B", "B/event",
                    x11 ? "X CPU %" : "");
    }
    for (int k = 0; k < FloodRowCount; ++k) {
        const Summary &r = rows[k];
        if (!r.runs)
            continue;
        const bool window = floodRows[k].taker != Taker::Reader;
        std::printf("%-9s %8.1f %7s %7s  %-12s %8s %7s %8.1f %9.1f %8s %7s\n", floodRows[k].label,
                    r.rate(n),
                    baseRate > 0 && r.measured() ? fmt("%.2f", r.rate(n) / baseRate).constData()
                                                 : "-",
                    k > LinesRow && linesRate > 0 && r.measured()
                        ? fmt("%.2f", r.rate(n) / linesRate).constData()
                        : "",
                    r.capture().constData(),
                    window && r.worstTicks >= 0 ? fmt("%.1f", r.worstTicks).constData() : "",
                    window && r.measured() ? fmt("%.0f", 1000 * r.worstGap).constData() : "",
                    r.peakMb, 1e9 * r.cpuPerByte,
                    window && r.bytesPerEvent > 0 ? fmt("%.0f", r.bytesPerEvent).constData() : "",
                    r.medianXShare() >= 0 ? fmt("%.1f", 100 * r.medianXShare()).constData() : "");
    }

    // The plot's rows in lines: what reached it against what the line took.
    for (int k = 0; k < FloodRowCount; ++k) {
        const Summary &r = rows[k];
        if (!r.runs || floodRows[k].kind != Traffic::Readings)
            continue;
        const double lines = double(n / Traffic::LineLength);
        std::printf(
            "%-10s %9.0f lines/s (x base %.2f), %.2f us CPU a line%s\n", floodRows[k].label,
            r.measured() ? lines / r.bestSeconds : 0,
            baseRate > 0 && r.measured() ? r.rate(n) / baseRate : 0,
            1e6 * r.cpuPerByte * Traffic::LineLength,
            r.plotMissed < 0 ? ""
            : r.plotMissed == 0
                ? fmt(", plot: %.0f lines a run, none lost or rejected", double(r.plotLines))
                      .constData()
                : fmt(", plot: %.0f lines lost or rejected", double(r.plotMissed)).constData());
    }
    for (int k = 0; k < FloodRowCount; ++k)
        std::fputs(rows[k].repeats(floodRows[k].label).constData(), stdout);

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
        for (int k = 0; k < Paced; ++k) {
            const Summary &r = paced[k];
            if (!r.runs)
                continue;
            const double cpu = 100 * r.medianCpuShare();
            std::printf(
                "%-9s %8.2f %7s  %-12s %8s %7s %8.1f %7s\n", pacedLabels[k], cpu,
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
        for (int k = 0; k < Paced; ++k)
            std::fputs(paced[k].repeats(pacedLabels[k]).constData(), stdout);
    }

    qint64 boxes = netRows[1].boxes;
    for (const Summary &r : paced)
        boxes += r.boxes;
    for (const Summary &r : rows)
        boxes += r.boxes;
    std::printf("\nwindow right after start: %.1f MB; message boxes shown: %lld\n", readyMb,
                static_cast<long long>(boxes));
    std::printf(
        "targets: lines, endless, binary >= 0.50 x base; with the history open >= 0.45 x base;\n"
        "         net window >= 0.50 x net reader; 0 lost;\n"
        "         ticks >= 90 %%, gap <= 150 ms; peak < 80 MB;\n"
        "         window CPU <= 2 %% and <= 2 x base at 115200 baud, with the history open\n"
        "         <= 2.5 %% (on an X server), with the plot open <= 2.5 %%;\n"
        "         the plot: every line of numbers plotted, none rejected;\n"
        "         a repeat every 10 ms moves none of these; every repeat sent arrives\n");
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
