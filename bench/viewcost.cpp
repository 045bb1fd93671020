// What one receive event costs the receive view, in three situations: a line of
// 100 characters arriving into a full view, 100 characters more on a line that
// is at its bound, and one character after ten lines at the bound. For each it
// times the receive handler's share (folding the units in and writing the
// view's text) and, separately, bringing the painted document up to date, which
// happens at most once per screen frame. The plain approach (the whole text set
// on a QPlainTextEdit at every event) is timed beside it. Last, what one frame
// of a line at 115200 baud costs: the rows brought up to date and painted.
//
//   QT_QPA_PLATFORM=offscreen build/bench/kavro-viewcost

#include "lineassembler.h"
#include "receiveview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QWindow>

#include <cstdio>
#include <functional>

namespace
{

struct Scenario {
    const char *name;
    std::function<void(LineAssembler &)> prepare; // the state before the events
    QByteArray event;                             // what each event brings
};

double usPer(int n, qint64 ns)
{
    return double(ns) / n / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const qsizetype bound = LineAssembler::KeepNewest;

    auto feedAll = [](LineAssembler &a, QByteArrayView bytes) {
        bool refreshed = false;
        for (qsizetype i = 0; i < bytes.size(); ++i)
            refreshed |= a.feed(bytes.sliced(i, 1));
        return refreshed;
    };
    QByteArray hundred(100, 'x');
    const Scenario scenarios[] = {
        {"line of 100 characters",
         [&](LineAssembler &a) {
             for (int i = 0; i < 10; ++i)
                 feedAll(a, hundred + "\r\n");
         },
         hundred + "\r\n"},
        {"line at the bound", [&](LineAssembler &a) { feedAll(a, QByteArray(bound, 'y')); },
         hundred},
        {"ten full lines",
         [&](LineAssembler &a) {
             for (int i = 0; i < 10; ++i)
                 feedAll(a, QByteArray(bound, char('a' + i)) + "\r\n");
         },
         QByteArray("z")},
    };

    std::printf("%-26s %14s %14s %16s %8s\n", "event", "handler us", "frame sync us",
                "plain setText us", "ratio");
    for (const Scenario &s : scenarios) {
        ReceiveView view;
        view.resize(289, 193);
        view.show();
        QPlainTextEdit plain;
        plain.resize(289, 193);
        plain.show();
        LineAssembler a;
        a.reset();
        s.prepare(a);
        view.setLines(a.shownLines());
        view.syncNow();

        const int events = 2000;
        qint64 handlerNs = 0;
        qint64 syncNs = 0;
        QElapsedTimer t;
        for (int i = 0; i < events; ++i) {
            t.start();
            if (feedAll(a, s.event))
                view.setLines(a.shownLines());
            handlerNs += t.nsecsElapsed();
            if (i % 16 == 0) { // a frame every 16 events is generous
                t.start();
                view.syncNow();
                syncNs += t.nsecsElapsed();
            }
        }

        LineAssembler b;
        b.reset();
        s.prepare(b);
        const int plainEvents = 200;
        t.start();
        for (int i = 0; i < plainEvents; ++i) {
            feedAll(b, s.event);
            plain.setPlainText(QString::fromLatin1(b.shownText()));
        }
        const qint64 plainNs = t.nsecsElapsed();

        const double handler = usPer(events, handlerNs);
        const double sync = usPer((events + 15) / 16, syncNs);
        const double plainUs = usPer(plainEvents, plainNs);
        std::printf("%-26s %14.2f %14.1f %16.1f %7.0fx\n", s.name, handler, sync, plainUs,
                    plainUs / handler);
    }

    // A frame at 115200 baud: about nine lines of 62 bytes came since the last
    // one, so every row in sight is new; the text is brought up to date and
    // the box painted (into the offscreen window's backing store).
    {
        ReceiveView view;
        view.resize(289, 193);
        view.show();
        while (!view.windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        LineAssembler a;
        a.reset();
        const int frames = 2000;
        qint64 ns = 0;
        QElapsedTimer t;
        for (int i = 0; i < frames; ++i) {
            for (int l = 0; l < 9; ++l)
                feedAll(a, QByteArray::number(i * 9 + l).rightJustified(8, '0') +
                               QByteArray(52, char('A' + l)) + "\r\n");
            view.setLines(a.shownLines());
            t.start();
            view.syncNow();
            view.viewport()->repaint();
            ns += t.nsecsElapsed();
        }
        std::printf("\na frame at 115200 baud (nine new lines), sync and paint: %.1f us\n",
                    usPer(frames, ns));
    }
    return 0;
}
