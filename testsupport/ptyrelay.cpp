#include "ptyrelay.h"

#include <QDeadlineTimer>
#include <QTest>

#include <unistd.h>

// Direction 0 flows from our side to the far end, 1 back.
PtyRelay::PtyRelay()
{
    m_read = std::make_unique<QSocketNotifier>(m_near.master(), QSocketNotifier::Read);
    connect(m_read.get(), &QSocketNotifier::activated, this, [this] {
        char buf[65536];
        const ssize_t n = ::read(m_near.master(), buf, sizeof buf);
        if (n > 0)
            take(0, QByteArray(buf, n));
    });
    m_write = std::make_unique<QSocketNotifier>(m_near.master(), QSocketNotifier::Write);
    m_write->setEnabled(false);
    connect(m_write.get(), &QSocketNotifier::activated, this, [this] { flush(1); });
    m_far.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&m_far, &QProcess::readyReadStandardOutput, this,
            [this] { take(1, m_far.readAllStandardOutput()); });
    m_pace.setInterval(1);
    connect(&m_pace, &QTimer::timeout, this, [this] {
        flush(0);
        flush(1);
    });
    m_clock.start();
}

void PtyRelay::startFar(const QString &program, const QStringList &arguments, const QString &folder)
{
    m_far.setWorkingDirectory(folder);
    m_far.start(program, arguments);
    m_far.waitForStarted(10000);
}

bool PtyRelay::farEnded(int ms)
{
    QDeadlineTimer deadline(ms);
    while (m_far.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(5);
    return m_far.state() == QProcess::NotRunning;
}

void PtyRelay::setFault(Fault fault, qint64 offset, bool toFar)
{
    m_fault = fault;
    m_faultAt = offset;
    m_faultDirection = toFar ? 0 : 1;
}

void PtyRelay::setRate(qint64 bytesPerSecond)
{
    m_rate = bytesPerSecond;
    m_clock.restart();
    m_paced[0] = m_paced[1] = 0;
    if (m_rate > 0)
        m_pace.start();
    else
        m_pace.stop();
}

void PtyRelay::take(int from, QByteArray piece)
{
    const qint64 start = m_count[from];
    m_count[from] += piece.size();
    if (m_fault != Fault::None && !m_faultDone && from == m_faultDirection && m_faultAt >= start &&
        m_faultAt < start + piece.size()) {
        const qsizetype at = qsizetype(m_faultAt - start);
        if (m_fault == Fault::Change)
            piece[at] = char(piece.at(at) ^ 0x55);
        else
            piece.remove(at, 1);
        m_faultDone = true;
    }
    if (from == 1)
        m_toNear.append(piece);
    m_queue[from].append(piece);
    flush(from);
}

void PtyRelay::flush(int to)
{
    // `to` is the direction: 0 to the far end, 1 to our side.
    QByteArray &queue = m_queue[to];
    if (queue.isEmpty()) {
        if (to == 1)
            m_write->setEnabled(false);
        return;
    }
    qsizetype allowed = queue.size();
    if (m_rate > 0) {
        // Bytes pass when a line of that rate would have carried them.
        const qint64 due = m_clock.nsecsElapsed() * m_rate / 1000000000 - m_paced[to];
        allowed = qsizetype(std::min<qint64>(allowed, std::max<qint64>(due, 0)));
        if (allowed == 0)
            return;
    }
    qint64 n = 0;
    if (to == 0) {
        if (m_far.state() == QProcess::Running)
            n = m_far.write(queue.constData(), allowed);
        else
            n = allowed; // nobody listens any more
    } else {
        n = ::write(m_near.master(), queue.constData(), size_t(allowed));
    }
    if (n > 0) {
        queue.remove(0, n);
        m_paced[to] += n;
    }
    if (to == 1)
        m_write->setEnabled(!queue.isEmpty() && m_rate == 0);
}
