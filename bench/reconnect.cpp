// What waiting for a vanished device costs, and how soon it is back: the port
// on a pseudo-terminal linked as com1 in a temporary folder; the far end
// vanishes, the port waits for it for S seconds (its CPU time is measured),
// then a new pseudo-terminal appears and the link is pointed at it, as udev
// points a by-id link at a replugged adapter; the time until the port is open
// again is measured. R rounds.
//
//   build/bench/kavro-reconnect [--wait-seconds S] [--rounds R]
//
// S defaults to 60, R to 5.

#include "deviceserialport.h"
#include "farend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace
{

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// Runs the event loop until `done` (looked at every 5 ms) or the time is up.
void runUntil(const std::function<bool()> &done, int ms)
{
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    look.start(5);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop for ms milliseconds and nothing else.
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    double waitSeconds = 60;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--wait-seconds")
            waitSeconds = QByteArray(argv[i + 1]).toDouble();
        else if (QByteArray(argv[i]) == "--rounds")
            rounds = QByteArray(argv[i + 1]).toInt();
    }

    QTemporaryDir links;
    const QString link = links.filePath(QStringLiteral("com1"));
    auto far = std::make_unique<FarEnd>();
    QFile::link(far->slavePath(), link);
    DeviceSerialPort port({PortMap(links.path(), [] { return QStringList(); }), {links.path()}});
    bool waiting = false;
    QObject::connect(&port, &SerialPort::WaitingChanged, &app,
                     [&](bool w, const QString &) { waiting = w; });
    port.setCommPort(1);
    port.setSettings(QStringLiteral("115200,n,8,1"));
    port.setPortOpen(true);

    std::printf("%6s %16s %18s\n", "round", "CPU while away %", "back after ms");
    for (int round = 1; round <= rounds; ++round) {
        far.reset(); // the device vanishes
        runUntil([&] { return waiting; }, 5000);
        if (!waiting) {
            std::printf("the port did not notice the device vanish\n");
            return 1;
        }
        const double cpuBefore = cpuSeconds();
        QElapsedTimer away;
        away.start();
        idle(int(waitSeconds * 1000));
        const double cpu = (cpuSeconds() - cpuBefore) / (double(away.nsecsElapsed()) * 1e-9) * 100;

        far = std::make_unique<FarEnd>(); // back, under a new name
        QElapsedTimer back;
        back.start();
        QFile::link(far->slavePath(), link + QStringLiteral(".new"));
        QFile::remove(link);
        QFile::rename(link + QStringLiteral(".new"), link);
        runUntil([&] { return !waiting; }, 10000);
        std::printf("%6d %16.3f %18.1f\n", round, cpu,
                    waiting ? -1.0 : double(back.nsecsElapsed()) / 1e6);
    }
    return 0;
}
