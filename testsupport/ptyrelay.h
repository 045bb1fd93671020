#pragma once

#include "pseudoterminal.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

// A line whose far end is a program: our side opens the slave of a
// pseudo-terminal, the relay passes what comes out of its master to the
// program's standard input and the program's output back. The program talks
// through pipes, not a terminal of its own: lrzsz empties its terminal's
// queues as it ends, and on a pseudo-terminal that throws away its own last
// answer before anyone has read it (a real line sends it first). The relay
// can change or drop one byte at a chosen place in one direction, and pass
// bytes no faster than a line's rate.
class PtyRelay : public QObject
{
    Q_OBJECT
public:
    enum class Fault { None, Change, Drop };
    PtyRelay();

    bool isValid() const { return m_near.isValid(); }
    // Our side's device, and its descriptor kept open here.
    QString nearPath() const { return m_near.slavePath(); }
    int nearSlave() const { return m_near.slave(); }

    // Starts the far end's program in `folder`.
    void startFar(const QString &program, const QStringList &arguments, const QString &folder);
    QProcess &far() { return m_far; }
    // Waits, handling events, until the far end's program has ended.
    bool farEnded(int ms);

    // The byte at `offset` of what flows from near to far (toFar) or back.
    void setFault(Fault fault, qint64 offset, bool toFar);
    // Bytes per second in each direction; 0 passes them as they come.
    void setRate(qint64 bytesPerSecond);
    qint64 passedToFar() const { return m_count[0]; }
    qint64 passedToNear() const { return m_count[1]; }
    bool faultDone() const { return m_faultDone; }
    // Every byte handed to our side, as handed (after a fault).
    const QByteArray &passedBytesToNear() const { return m_toNear; }

private:
    void take(int from, QByteArray piece);
    void flush(int to);

    PseudoTerminal m_near;
    QProcess m_far;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    QByteArray m_queue[2];
    qint64 m_count[2] = {0, 0};
    QByteArray m_toNear;
    Fault m_fault = Fault::None;
    qint64 m_faultAt = -1;
    int m_faultDirection = 0;
    bool m_faultDone = false;
    qint64 m_rate = 0;
    QElapsedTimer m_clock;
    qint64 m_paced[2] = {0, 0};
    QTimer m_pace;
};
