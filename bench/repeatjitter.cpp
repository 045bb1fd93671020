// How steady a saved command's repeat is, measured where it counts: the
// arrival times of its bytes at the far end of a pseudo-terminal. The repeat
// runs as the window runs it (CommandRunner, SerialLink::sendCommandBytes,
// the port); beside it, in the same run and on the same line, a plain
// precise QTimer writing the same bytes straight to the device is the
// baseline. A reader thread stamps each arrival with the monotonic clock.
// Printed: the median, 99th percentile and largest error of the periods
// between arrivals, against the period asked for.
//
//   build/bench/kavro-repeatjitter [--period MS] [--count N]
//
// MS defaults to 10, N (periods measured of each) to 1000.

#include "capturesink.h"
#include "commandrunner.h"
#include "deviceserialport.h"
#include "farend.h"
#include "messageboxes.h"
#include "seriallink.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace
{

struct NoBoxes : MessageBoxes {
    Answer show(const QString &, const QString &, Buttons, Icon) override { return AnswerOk; }
};
struct NoCapture : CaptureSink {
    void write(QByteArrayView) override {}
    void endOfEvent() override {}
};

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Stamps each 'P' that arrives at the master.
class Arrivals
{
public:
    explicit Arrivals(int master) : m_master(master), m_thread([this] { run(); }) {}
    ~Arrivals()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<double> take()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_times, {});
    }
    size_t count()
    {
        std::lock_guard lock(m_mutex);
        return m_times.size();
    }

private:
    void run()
    {
        char buffer[4096];
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const double at = nowMs();
            const ssize_t n = read(m_master, buffer, sizeof buffer);
            std::lock_guard lock(m_mutex);
            for (ssize_t i = 0; i < n; ++i)
                if (buffer[i] == 'P')
                    m_times.push_back(at);
        }
    }
    const int m_master;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<double> m_times;
    std::thread m_thread;
};

void runUntil(const std::function<bool()> &done)
{
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(50);
    loop.exec();
}

void report(const char *what, const std::vector<double> &times, int period)
{
    std::vector<double> errors;
    for (size_t i = 1; i < times.size(); ++i)
        errors.push_back(std::fabs(times[i] - times[i - 1] - period));
    std::sort(errors.begin(), errors.end());
    if (errors.empty()) {
        std::printf("%-28s no arrivals\n", what);
        return;
    }
    auto at = [&](double q) { return errors[size_t(q * double(errors.size() - 1))]; };
    double mean = 0;
    for (size_t i = 1; i < times.size(); ++i)
        mean += times[i] - times[i - 1];
    mean /= double(times.size() - 1);
    std::printf("%-28s %8zu %10.3f %10.3f %10.3f %12.3f\n", what, errors.size(), at(0.5), at(0.99),
                errors.back(), mean);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int period = 10;
    int count = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option(argv[i]);
        if (option == "--period")
            period = std::atoi(argv[i + 1]);
        else if (option == "--count")
            count = std::atoi(argv[i + 1]);
    }

    FarEnd pty;
    QTemporaryDir links;
    if (!pty.isValid() || !QFile::link(pty.slavePath(), links.filePath("com1"))) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    DeviceSerialPort port({PortMap(links.path(), [] { return QStringList(); }), {links.path()}});
    port.setCommPort(1);
    port.setSettings(QStringLiteral("115200,n,8,1"));
    port.setPortOpen(true);
    NoBoxes boxes;
    NoCapture capture;
    SerialLink link(port, boxes, capture);
    CommandRunner runner([&link](const QByteArray &bytes, const QString &name) {
        return link.sendCommandBytes(bytes, name);
    });
    Arrivals arrivals(pty.master());

    std::printf("period %d ms, %d periods each\n", period, count);
    std::printf("%-28s %8s %10s %10s %10s %12s\n", "", "periods", "median ms", "p99 ms", "max ms",
                "mean period");

    SavedCommand repeat;
    repeat.name = QStringLiteral("Poll");
    repeat.text = QStringLiteral("P");
    repeat.terminator = TerminatorChoice::Cr;
    repeat.periodMs = period;
    runner.run(repeat);
    runUntil([&] { return arrivals.count() > size_t(count); });
    runner.stopAll();
    const std::vector<double> kavro = arrivals.take();

    QTimer raw;
    raw.setTimerType(Qt::PreciseTimer);
    QObject::connect(&raw, &QTimer::timeout, &app, [&pty] {
        if (write(pty.slave(), "P\r", 2) != 2)
            std::fprintf(stderr, "write failed\n");
    });
    raw.start(period);
    runUntil([&] { return arrivals.count() > size_t(count); });
    raw.stop();
    const std::vector<double> plain = arrivals.take();

    report("Kavro repeat (period error)", kavro, period);
    report("plain QTimer (period error)", plain, period);
    return 0;
}
