// What the history costs: how fast the store takes received bytes against a
// plain file write of the same bytes, and, with a gigabyte received and the
// history window open, the program's memory, the window's first paint, the
// jump from the end to the start and a search through all of it.
//
//   QT_QPA_PLATFORM=offscreen build/bench/kavro-historycost [--bytes N] [--rate-bytes N]
//                                                           [--event N] [--folder DIR]
//
// --bytes (default 1 GiB) is what the window's part receives; --rate-bytes
// (default 256 MiB) what each of the three kinds of traffic (62-byte lines,
// one endless line, binary; testsupport/traffic.h) brings to the append race,
// in receive events of --event bytes (default 4096: what a port hands over from
// a busy line). Files go into a temporary folder in --folder (default the
// system's temporary folder). Figures and ratios are printed; nothing is
// asserted.

#include "historystore.h"
#include "historywindow.h"
#include "traffic.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace
{

constexpr qint64 Pool = qint64(64) << 20; // traffic made beforehand and sent round again

// CPU time of this thread in ms: on a busy machine a truer cost than the
// time on the wall, printed beside it.
double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Wall time and this thread's CPU time since the last restart.
struct Stopwatch {
    QElapsedTimer wall;
    double cpu = cpuMs();
    Stopwatch() { wall.start(); }
    void restart()
    {
        wall.restart();
        cpu = cpuMs();
    }
    double wallMs() const { return double(wall.nsecsElapsed()) / 1e6; }
    double cpuMsSince() const { return cpuMs() - cpu; }
    QByteArray text(double per = 1) const
    {
        return QByteArray::number(wallMs() / per, 'f', 2) + " ms (CPU " +
               QByteArray::number(cpuMsSince() / per, 'f', 2) + " ms)";
    }
};

// CPU time of the whole process in ms, all its threads.
double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double megabytes(qint64 bytes)
{
    return double(bytes) / 1e6;
}

// Resident memory of this process, and its peak, in MB.
std::pair<double, double> residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double now = 0, peak = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() >= 2 && f[0] == "VmRSS:")
                now = f[1].toDouble() / 1024.0;
            if (f.size() >= 2 && f[0] == "VmHWM:")
                peak = f[1].toDouble() / 1024.0;
        }
    }
    return {now, peak};
}

QByteArray pool(Traffic::Kind kind)
{
    Traffic traffic(kind);
    // The pool ends where a line ends, so sending it round keeps the lines.
    const qint64 size =
        kind == Traffic::Lines ? Pool / Traffic::LineLength * Traffic::LineLength : Pool;
    return traffic.next(size);
}

// Hands `total` bytes of the pool to `take` in events of `event` bytes.
template <class Take> void sendRound(const QByteArray &bytes, qint64 total, qint64 event, Take take)
{
    for (qint64 done = 0; done < total;) {
        const qint64 at = done % bytes.size();
        const qint64 n = std::min({event, total - done, bytes.size() - at});
        take(QByteArrayView(bytes).sliced(at, n));
        done += n;
    }
}

double appendRace(const QString &folder, Traffic::Kind kind, qint64 total, qint64 event)
{
    const QByteArray bytes = pool(kind);
    // Three rounds each, one after the other, the best counting: the first
    // writes into a cold page cache. CPU time, user and system: the wall
    // clock of a machine shared with others says little.
    double plain = 1e9, stored = 1e9;
    Stopwatch clock;
    for (int round = 0; round < 3; ++round) {
        // The plain reader's way: one write per event into one file.
        const QByteArray plainPath = QFile::encodeName(folder + QStringLiteral("/plain.bin"));
        const int fd =
            ::open(plainPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        clock.restart();
        sendRound(bytes, total, event, [fd](QByteArrayView piece) {
            [[maybe_unused]] const auto n = ::write(fd, piece.data(), size_t(piece.size()));
        });
        plain = std::min(plain, clock.cpuMsSince() / 1e3);
        ::close(fd);
        ::unlink(plainPath.constData());

        HistoryStore store(HistoryStore::Options{folder, qint64(1) << 30, 1024, {}});
        clock.restart();
        sendRound(bytes, total, event,
                  [&store](QByteArrayView piece) { store.appendReceived(piece); });
        stored = std::min(stored, clock.cpuMsSince() / 1e3);
        if (store.failed())
            std::printf("  the store failed: %s\n", qPrintable(store.failure()));
    }
    std::printf("  %-8s plain write %5.0f MB/s   store %5.0f MB/s   store's rate / plain %.2f"
                "   beyond the write %.2f ns/byte\n",
                qPrintable(Traffic::name(kind)), megabytes(total) / plain,
                megabytes(total) / stored, plain / stored,
                std::max(0.0, stored - plain) * 1e9 / double(total));
    return plain / stored;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    qint64 bytes = qint64(1) << 30, rateBytes = qint64(256) << 20, event = 4096;
    QString parent = QDir::tempPath();
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--bytes"))
            bytes = args[i + 1].toLongLong();
        else if (args[i] == QStringLiteral("--rate-bytes"))
            rateBytes = args[i + 1].toLongLong();
        else if (args[i] == QStringLiteral("--event"))
            event = args[i + 1].toLongLong();
        else if (args[i] == QStringLiteral("--folder"))
            parent = args[i + 1];
    }
    QTemporaryDir folder(parent + QStringLiteral("/kavro-historycost-XXXXXX"));
    if (!folder.isValid())
        return std::fprintf(stderr, "no temporary folder in %s\n", qPrintable(parent)), 1;

    std::printf("Appending %.0f MB in events of %lld bytes, against one plain write per event "
                "(CPU time):\n",
                megabytes(rateBytes), static_cast<long long>(event));
    for (const Traffic::Kind kind : {Traffic::Lines, Traffic::Endless, Traffic::Binary})
        appendRace(folder.path(), kind, rateBytes, event);

    std::printf("\n%.0f MB of lines received with the history window open and following:\n",
                megabytes(bytes));
    std::optional<QByteArray> lines = pool(Traffic::Lines);
    const double before = residentMegabytes().first - megabytes(lines->size()) / 1.048576;
    HistoryStore store(HistoryStore::Options{folder.path(), qint64(1) << 30, 1024, {}});
    auto window = std::make_unique<HistoryWindow>(store);
    window->show();
    while (!window->windowHandle() || !window->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    Stopwatch clock;
    QElapsedTimer beat;
    beat.start();
    sendRound(*lines, bytes, event, [&](QByteArrayView piece) {
        store.appendReceived(piece);
        if (beat.elapsed() >= 50) { // the window gets its frames meanwhile
            QCoreApplication::processEvents();
            beat.restart();
        }
    });
    lines.reset(); // the traffic's pool is not the program's memory
    QCoreApplication::processEvents();
    const double took = clock.wallMs() / 1e3, tookCpu = clock.cpuMsSince() / 1e3;
    const auto [after, peak] = residentMegabytes();
    const HistoryLog &log = *store.log();
    std::printf("  %lld lines, %.0f MB/s with the window painting (%.0f MB per CPU second)\n",
                static_cast<long long>(log.endLine() - log.beginLine()), megabytes(bytes) / took,
                megabytes(bytes) / tookCpu);
    std::printf("  resident memory %.0f MB (peak %.0f MB with the traffic; %.0f MB before the "
                "store and window)\n",
                after, peak, before);

    // Opening the window anew after it all came.
    window.reset();
    clock.restart();
    window = std::make_unique<HistoryWindow>(store);
    window->show();
    while (!window->windowHandle() || !window->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    window->view()->viewport()->repaint();
    std::printf("  first paint of a new history window: %s\n", clock.text().constData());

    // A frame while following a flood: new lines, the picture brought up
    // to date and painted.
    {
        const int Frames = 50;
        const QByteArray more = Traffic(Traffic::Lines, 2).next(Traffic::LineLength * 20 * Frames);
        clock.restart();
        for (int i = 0; i < Frames; ++i) {
            store.appendReceived(
                more.sliced(i * 20 * Traffic::LineLength, 20 * Traffic::LineLength));
            window->view()->syncNow();
            window->view()->viewport()->repaint();
        }
        std::printf("  a frame while following, 20 new lines each: %s\n",
                    clock.text(Frames).constData());
    }

    clock.restart();
    window->view()->toStart();
    window->view()->viewport()->repaint();
    std::printf("  from the end to the start: %s\n", clock.text().constData());

    // A search through everything, beside the window, as the operator waits
    // for its count of hits: how long (and the CPU time of the threads
    // beside the window's, where the count runs), and the longest the
    // window's event loop waited meanwhile. Text that is not there, a line's number (once in
    // each round of the traffic), two letters found in one line of about
    // forty-five, and text with an umlaut, all with case ignored as the
    // window starts; hex bytes that are not there.
    struct Search {
        const char *what;
        SearchPattern::Mode mode;
        QString text;
    };
    const Search searches[] = {
        {"text, not there", SearchPattern::Text, QStringLiteral("kommt nicht vor")},
        {"text, a line number", SearchPattern::Text, QStringLiteral("00712345")},
        {"text, two letters", SearchPattern::Text, QStringLiteral("ok")},
        {"text, not there, with an umlaut", SearchPattern::Text, QStringLiteral("für")},
        {"hex, not there", SearchPattern::Hex, {}},
    };
    for (const Search &search : searches) {
        SearchPattern pattern;
        pattern.mode = search.mode;
        pattern.text = search.text;
        pattern.bytes = QByteArray("\x00\x01\x02", 3);
        HistoryJobs jobs(store.log());
        qint64 longest = 0;
        QElapsedTimer tick;
        tick.start();
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, &app,
                         [&] { longest = std::max(longest, tick.restart()); });
        probe.start();
        // The window's thread waits for events as the window does, instead
        // of spinning through processEvents(), which returns at once when
        // nothing is there and so took a core from the search.
        QEventLoop counted;
        QObject::connect(&jobs, &HistoryJobs::countChanged, &counted, [&] {
            if (!jobs.counting())
                counted.quit();
        });
        clock.restart();
        const double cpuBefore = processCpuMs() - cpuMs();
        jobs.setPattern(pattern);
        if (jobs.counting())
            counted.exec();
        std::printf("  search through it all, %-32s %5.2f s (CPU %5.2f s, %lld hits), window's "
                    "longest wait %lld ms\n",
                    (QByteArray(search.what) + ':').constData(), clock.wallMs() / 1e3,
                    (processCpuMs() - cpuMs() - cpuBefore) / 1e3,
                    static_cast<long long>(jobs.hits()), static_cast<long long>(longest));
    }
    const auto [end, endPeak] = residentMegabytes();
    std::printf("  resident memory at the end %.0f MB (peak %.0f MB)\n", end, endPeak);
    return 0;
}
