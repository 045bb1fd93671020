#include "window.h"

#include "commanddesk.h"
#include "deviceserialport.h"
#include "fakes.h"
#include "kavrowindow.h"
#include "measure.h"
#include "plotfeed.h"
#include "run.h"
#include "startup.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QPainter>
#include <QPushButton>
#include <QSerialPort>
#include <QShortcut>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/stat.h>

namespace
{

qint64 fileSize(const QByteArray &path)
{
    struct stat st {
    };
    return ::stat(path.constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

} // namespace

int windowMain(int argc, char **argv)
{
    if (argc < 5)
        return 2;
    const QString linkDir = QString::fromLocal8Bit(argv[2]);
    const QString capturePath = QString::fromLocal8Bit(argv[3]);
    const QByteArray captureNative = QFile::encodeName(capturePath);
    const qint64 expected = QByteArray(argv[4]).toLongLong();
    const bool withHistory = argc > 5 && QByteArray(argv[5]) == "history";
    const bool withPlot = argc > 5 && QByteArray(argv[5]) == "plot";
    const bool withRepeat = argc > 5 && QByteArray(argv[5]) == "repeat";

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    prepareApplication(app);

    // The operator's answers: the capture file when asked for one, "Ja" to
    // every question; each box shown is told on stderr as it comes.
    FakeDialog dialog;
    dialog.choices = {capturePath};
    FakeBoxes boxes;
    boxes.whileShown = [&boxes] {
        const QString text = boxes.shown.last().section(u'|', 3); // after title|icon|buttons
        std::fprintf(stderr, "kavro-flood: message box: %s\n", qPrintable(text));
    };
    auto *port = new DeviceSerialPort({PortMap(linkDir, [] { return QStringList(); }), {}});
    KavroWindow window(port, &boxes, &dialog);
    port->setParent(&window);
    window.show();
    auto *timer = window.findChild<QTimer *>(QStringLiteral("Timer1"));

    // The window as the flood finds it: port 1 open at 115200 baud, a capture
    // running. Whatever else a row wants open during the flood is opened here.
    window.findChild<QComboBox *>(QStringLiteral("Comport"))->setEditText(QStringLiteral("1"));
    window.findChild<QComboBox *>(QStringLiteral("Baud"))->setEditText(QStringLiteral("115200"));
    window.findChild<QPushButton *>(QStringLiteral("Verbind"))->click();
    // A port on a serial server opens once the server has answered.
    QDeadlineTimer opening(10000);
    while (port->isOpening() && !opening.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    window.findChild<QPushButton *>(QStringLiteral("StartRec"))->click();
    if (withHistory)
        window.showHistory(); // beside the window, following the end
    if (withPlot)
        window.showPlot(); // beside the window, following the newest line
    if (!port->PortOpen() || window.capture().recActive() != -1) {
        report({{"error", "start"}});
        return 1;
    }
    // A saved command on F1 that repeats, started as the operator starts it:
    // the key's shortcut, the window's handler, its command desk.
    CommandRunner &runner = window.commands().runner();
    double repeatStart = 0;
    if (withRepeat) {
        SavedCommand ping;
        ping.name = QString::fromLatin1(RepeatCommand);
        ping.text = ping.name;
        ping.key = 1;
        ping.terminator = TerminatorChoice::Cr;
        ping.periodMs = RepeatMs;
        const QList<QShortcut *> keys = window.findChildren<QShortcut *>();
        const auto f1 = std::find_if(keys.begin(), keys.end(), [](const QShortcut *key) {
            return key->key() == QKeySequence(Qt::Key_F1);
        });
        if (!window.commands().store().book().add(ping).ok() || f1 == keys.end()) {
            report({{"error", "repeat"}});
            return 1;
        }
        repeatStart = now();
        Q_EMIT(*f1)->activated();
        if (!runner.isRunning(ping.name)) {
            report({{"error", "repeat"}});
            return 1;
        }
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
        QList<QPair<QByteArray, QByteArray>> fields{
            {"end", num(end)},
            {"first_event", num(firstEvent)},
            {"size", QByteArray::number(size)},
            {"events", QByteArray::number(events)},
            {"ticks", QByteArray::number(inside)},
            {"expected_ticks", num((end - firstEvent) / TickSeconds)},
            {"max_gap", num(gap)},
            {"cpu", num(cpu)},
            {"peak_mb", num(peakMegabytes())},
            {"boxes", QByteArray::number(boxes.shown.size())}};
        if (withPlot) {
            // Whether every line reached the plot.
            const LineReader::Counts c = window.plotFeed().reader().counts();
            fields += {{"plot_received", QByteArray::number(c.received)},
                       {"plot_plotted", QByteArray::number(c.plotted)},
                       {"plot_rejected", QByteArray::number(c.rejected)}};
        }
        if (withRepeat) {
            // How often it went out, then stopped; what the port still holds
            // is handed to the line before the report, so that the far end
            // can find every one of them.
            const QString name = QString::fromLatin1(RepeatCommand);
            fields += {{"repeat_start", num(repeatStart)},
                       {"repeat_sent", QByteArray::number(runner.sentCount(name))}};
            runner.stop(name);
            const auto *serial = window.findChild<QSerialPort *>();
            const QDeadlineTimer flushed(2000);
            while (serial && serial->bytesToWrite() > 0 && !flushed.hasExpired())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        report(fields);
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

// A window of the same size whose only work is a small opaque widget, the
// activity bar's size, painted anew twenty times a second. No port, no text,
// no capture.
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
