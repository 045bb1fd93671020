#pragma once

#include "beat.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QSocketNotifier;

// A slow line is taken in once a beat instead of with every piece the device
// delivers (a USB adapter at 115200 baud sends a few bytes every millisecond
// or so). After a receive event that took in little, the line's read
// notifier rests until the next beat of a 50 ms coarse timer, which the system
// fires together with the window's own 50 ms timers; what arrived meanwhile
// makes one event. The first piece after a quiet spell is taken at once, and a
// fast line never rests, so nothing waits longer than a beat and the system's
// buffers hold at most a beat's worth.
//
// Slow means: less than RestBelow bytes in the last 100 to 200 ms, counted in
// two buckets of 100 ms; a flood fills them at once, even while single pieces
// of it are small.
//
// What rests is the line's read notifier, as its transport finds it
// (PortTransport::readNotifier). Where there is none (a connection to a
// serial server, or a Qt version that reads a device another way), the line
// is simply read as the pieces come, and engaged() tells so.
class ReadPacer : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype RestBelow = 4096;

    // findNotifier: the open line's read notifier, or null.
    explicit ReadPacer(std::function<QSocketNotifier *()> findNotifier, QObject *parent = nullptr);

    // A receive event took `taken` bytes in and left nothing waiting.
    void afterEvent(qsizetype taken);
    // The line is about to be opened or closed: its notifier will be a new
    // one, or none.
    void forget();

    // Whether the notifier rests now, until the next beat.
    bool resting() const { return m_resting; }
    // Whether pacing can work on this Qt: the read notifier was found.
    bool engaged() const { return !m_notifier.isNull(); }

private:
    void endRest();

    const std::function<QSocketNotifier *()> m_findNotifier;
    QTimer m_beat;
    bool m_resting = false;
    QPointer<QSocketNotifier> m_notifier;
    QElapsedTimer m_clock;
    qint64 m_bucketStart = 0;
    qsizetype m_lately[2] = {0, 0};
};
