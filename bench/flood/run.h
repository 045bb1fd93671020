#pragma once

#include "children.h"
#include "traffic.h"

#include <QString>

// Who takes the line in during a run.
enum class Taker {
    Reader,  // the plain reader (readers.h)
    Window,  // the program (window.h)
    History, // the program with its history window open and following
    Plot,    // the program with its plot window open and following
    Repeat,  // the program with a saved command repeating every RepeatMs
};

// The saved command the window repeats for Taker::Repeat: "ping" with CR,
// started on F1, every 10 ms, the shortest period a command may have; the far
// end reads RepeatBytes of each.
inline constexpr char RepeatCommand[] = "ping";
inline constexpr char RepeatBytes[] = "ping\r";
inline constexpr int RepeatMs = 10;

// What a capture file holds against the traffic sent: the first differing
// offset, or -1 when the file is exactly the bytes sent.
struct Check {
    qint64 size = -1;
    qint64 firstDifference = -1;
    bool ok() const { return firstDifference < 0; }
};

// The figures of one run.
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
    // The plot's counts of lines at the end (Taker::Plot), else -1.
    qint64 plotReceived = -1;
    qint64 plotPlotted = -1;
    qint64 plotRejected = -1;
    // The repeat (Taker::Repeat), else repeatArrived is -1: the whole
    // commands the far end read, the other bytes it read, how often the
    // window says it sent, and how often it was due from its start to the
    // end of the run (one at the start, then one a period).
    qint64 repeatArrived = -1;
    qint64 repeatStray = 0;
    qint64 repeatSent = 0;
    qint64 repeatDue = 0;
    double repeatSeconds = 0;
};

// The runs of one benchmark, each with its child started by the launcher and
// the traffic of the same seed.
class Runner
{
public:
    // xServer: the process of the X server the windows run on, whose CPU is
    // measured beside theirs, or -1.
    Runner(Launcher launcher, pid_t xServer, quint64 seed);

    // One run: a fresh pseudo-terminal linked as port 1 in a fresh config
    // folder (or served by ser2net, and port 1 a link to the server's
    // address), the taker in a child, the far end sending n bytes of the kind:
    // as fast as the line takes them (rate 0) or rate bytes a second.
    Run run(Taker taker, Traffic::Kind kind, qint64 n, double rate, bool net = false) const;
    // The toolkit's own share of a core at the window's beat (floorMain), or a
    // negative value when it could not be measured.
    double floorShare(double seconds) const;

private:
    Launcher m_launcher;
    pid_t m_xServer;
    quint64 m_seed;
};
