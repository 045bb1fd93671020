#include "readpacer.h"

#include <QSocketNotifier>

ReadPacer::ReadPacer(std::function<QSocketNotifier *()> findNotifier, QObject *parent)
    : QObject(parent), m_findNotifier(std::move(findNotifier))
{
    m_beat.setInterval(BeatMs);
    m_beat.setTimerType(Qt::CoarseTimer);
    connect(&m_beat, &QTimer::timeout, this, &ReadPacer::endRest);
}

void ReadPacer::afterEvent(qsizetype taken)
{
    if (!m_clock.isValid())
        m_clock.start();
    const qint64 now = m_clock.elapsed();
    if (now - m_bucketStart >= 100) {
        m_lately[0] = now - m_bucketStart < 200 ? m_lately[1] : 0;
        m_lately[1] = 0;
        m_bucketStart = now;
    }
    m_lately[1] += taken;
    if (m_lately[0] + m_lately[1] >= RestBelow)
        return;
    if (!m_notifier)
        m_notifier = m_findNotifier();
    if (!m_notifier || !m_notifier->isEnabled())
        return;
    m_notifier->setEnabled(false);
    m_resting = true;
    if (!m_beat.isActive())
        m_beat.start();
}

void ReadPacer::endRest()
{
    // The timer keeps the beat while the line keeps the port resting.
    if (!m_resting) {
        m_beat.stop();
        return;
    }
    m_resting = false;
    if (m_notifier)
        m_notifier->setEnabled(true);
}

void ReadPacer::forget()
{
    endRest();
    m_notifier = nullptr;
}
