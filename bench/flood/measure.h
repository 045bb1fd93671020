#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>

#include <sys/types.h>

// What every process of the flood benchmark measures with, and the one line
// in which a child tells the driver what it measured.

inline constexpr double TickSeconds = 0.050; // Timer1's interval, the window's beat
inline constexpr double PaceRate = 11520.0;  // 115200 baud, 8N1: bytes per second
inline constexpr double PaceStep = 0.010;    // the far end sends every 10 ms
inline constexpr double StallSeconds = 10.0; // no progress for this long: give up

// Seconds on the monotonic clock; the same clock in every process.
double now();
// CPU seconds this process has taken so far, user and system.
double cpuSeconds();
// The most memory this process has held so far, in MB.
double peakMegabytes();
// CPU seconds another process has taken so far, user and system, from
// /proc/<pid>/stat; negative when it cannot be read.
double processCpuSeconds(pid_t pid);

// The report of a child: one line "key=value key=value ...", on its stdout.
void report(const QList<QPair<QByteArray, QByteArray>> &fields);
// The fields of one such line, read by the driver.
using Fields = QMap<QByteArray, QByteArray>;
Fields parseReport(QByteArrayView line);
// A figure as a report carries it.
QByteArray num(double v);
