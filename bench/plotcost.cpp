// What the plot costs, in this process:
//   - the line reader: lines of ten values read into the store, as the port
//     hands them over (4 KB pieces), CPU per line;
//   - memory: the program's growth and peak after 10 million points (a
//     million lines of ten values), and what the store counts for itself;
//   - a frame: the curves of 16 series and 10 million points painted into a
//     picture the size of a plot window, the whole session and a span that
//     follows the newest line, and the same with 50 million points.
//
//   QT_QPA_PLATFORM=offscreen build/bench/kavro-plotcost [--lines N]
//
// The lines through a pseudo-terminal with the window and the plot open,
// and the plot at 115200 baud, are kavro-flood's rows "readings",
// "p readings" and "+ plot". Figures are printed; nothing is asserted.

#include "plotcanvas.h"
#include "plotfeed.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <time.h>

namespace
{

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// VmRSS or VmHWM of this process, in MB.
double statusMb(const char *key)
{
    std::ifstream file("/proc/self/status");
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stod(line.substr(std::string(key).size())) / 1024;
    }
    return 0;
}

// Line k of `series` values, as a device prints them: a few decimals.
QByteArray readingLine(qint64 k, int series)
{
    QByteArray line;
    for (int s = 0; s < series; ++s) {
        if (s)
            line += ' ';
        const double v = 20 * std::sin(double(k) / (200 + 37 * s)) + s * 3 +
                         double((k * 7919 + s * 104729) % 1000) / 1000;
        line += QByteArray::number(v, 'f', s % 3 + 1);
    }
    return line + "\r\n";
}

struct Fed {
    double cpuPerLine = 0;
    double linesPerSecond = 0;
};

// Feeds n lines in 4 KB pieces, one millisecond apart on the clock.
Fed feed(PlotFeed &plot, qint64 n, int series)
{
    QByteArray pieces;
    Fed fed;
    const double cpu = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    qint64 time = 1'700'000'000'000;
    for (qint64 k = 0; k < n; ++k) {
        pieces += readingLine(k, series);
        if (pieces.size() >= 4096 || k + 1 == n) {
            plot.take(pieces, time++);
            pieces.clear();
        }
    }
    fed.cpuPerLine = (cpuSeconds() - cpu) / double(n);
    fed.linesPerSecond = double(n) / (double(clock.nsecsElapsed()) / 1e9);
    return fed;
}

// Mean and worst of 20 frames, in ms.
std::pair<double, double> frames(PlotCanvas &canvas, QImage &image)
{
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        QPainter painter(&image);
        canvas.paintPlot(painter, image.rect());
        painter.end();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    double sum = 0;
    for (double v : ms)
        sum += v;
    return {sum / double(ms.size()), *std::max_element(ms.begin(), ms.end())};
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path())); // no kavro.conf of the user's
    QApplication app(argc, argv);
    qint64 lines = 1'000'000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--lines")
            lines = QByteArray(argv[i + 1]).toLongLong();
    }

    const double startMb = statusMb("VmRSS:");
    {
        PlotFeed plot;
        const Fed fed = feed(plot, lines, 10);
        const LineReader::Counts c = plot.reader().counts();
        std::printf("reader: %lld lines of 10 values: %.0f lines/s, %.2f us CPU a line; "
                    "%lld plotted, %lld rejected\n",
                    static_cast<long long>(lines), fed.linesPerSecond, fed.cpuPerLine * 1e6,
                    static_cast<long long>(c.plotted), static_cast<long long>(c.rejected));
        std::printf("memory after %lld points: +%.1f MB resident (peak %.1f MB, the process "
                    "%.1f MB at start), the store counts %.1f MB\n",
                    static_cast<long long>(lines * 10), statusMb("VmRSS:") - startMb,
                    statusMb("VmHWM:"), startMb, double(plot.store().bytes()) / 1048576);
    }

    for (const qint64 points : {qint64(10'000'000), qint64(50'000'000)}) {
        PlotFeed plot;
        feed(plot, points / 16, 16);
        PlotCanvas canvas(plot.store());
        canvas.resize(1000, 600);
        QImage image(canvas.size(), QImage::Format_RGB32);
        const auto [wholeMean, wholeWorst] = frames(canvas, image);
        // A span of ten seconds that follows the newest line.
        canvas.setAxis(XAxis::Time);
        for (int i = 0; i < 40; ++i) {
            QWheelEvent wheel(QPointF(900, 300), QPointF(900, 300), QPoint(), QPoint(0, 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&canvas, &wheel);
            if (canvas.xTo() - canvas.xFrom() < 10'000)
                break;
        }
        canvas.follow();
        const auto [spanMean, spanWorst] = frames(canvas, image);
        // Of that, the spans of the pixel columns alone (plotframe.h).
        PlotView view;
        view.xFrom = canvas.xFrom();
        view.xTo = canvas.xTo();
        view.rowEnd = plot.store().rows();
        view.width = canvas.plotRect().width();
        std::vector<int> all(16);
        for (int s = 0; s < 16; ++s)
            all[size_t(s)] = s;
        QElapsedTimer spans;
        spans.start();
        for (int i = 0; i < 20; ++i)
            makeFrame(plot.store(), view, all);
        const double spanMs = double(spans.nsecsElapsed()) / 1e6 / 20;
        std::printf("frame at 16 series, %lld points, 1000 x 600: whole session %.1f ms (worst "
                    "%.1f), following %.0f s %.1f ms (worst %.1f, its spans %.1f ms)\n",
                    static_cast<long long>(points), wholeMean, wholeWorst,
                    (canvas.xTo() - canvas.xFrom()) / 1000, spanMean, spanWorst, spanMs);
    }
    return 0;
}
