#include "historystore.h"

#include "markertext.h"

#include <QDateTime>
#include <QStandardPaths>

#include <utility>

HistoryStore::HistoryStore(Options options, QObject *parent)
    : QObject(parent), m_clock(options.clock)
{
    m_log = std::make_shared<HistoryLog>(std::move(options));
    m_reportedFailure = m_log->failed();
}

HistoryStore::HistoryStore(const QString &folder, QObject *parent)
    : HistoryStore(Options{folder, qint64(1) << 30, 1024, {}}, parent)
{
}

HistoryStore::~HistoryStore()
{
    m_log->close();
}

QString HistoryStore::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/kavro");
}

template <class Write> void HistoryStore::guarded(Write write) noexcept
{
    try {
        write();
    } catch (...) {
        // Out of memory in the middle of it: the log stands as it was.
    }
    if (m_log->failed()) {
        if (!std::exchange(m_reportedFailure, true))
            Q_EMIT failedChanged(m_log->failure());
        return;
    }
    Q_EMIT grown();
}

void HistoryStore::appendReceived(QByteArrayView bytes) noexcept
{
    // One clock reading for the history's lines and for the plot's points.
    const qint64 time = now();
    guarded([&] { m_log->appendReceived(bytes, time); });
    if (!bytes.isEmpty())
        Q_EMIT received(bytes, time);
}

void HistoryStore::appendSent(QByteArrayView bytes, const QString &name) noexcept
{
    guarded([&] {
        if (!name.isEmpty() && !bytes.isEmpty())
            m_log->appendRemark(name);
        m_log->appendSent(bytes);
    });
}

void HistoryStore::appendRemark(const QString &text) noexcept
{
    guarded([&] { m_log->appendRemark(text); });
}

void HistoryStore::appendMarker(const QString &text) noexcept
{
    guarded([&] { m_log->appendMarker(text); });
}

void HistoryStore::transferMarker(const QString &what) noexcept
{
    guarded([&] { m_log->appendMarker(MarkerText::transfer(what, now())); });
}

void HistoryStore::portOpened(int port, const QString &settings) noexcept
{
    guarded([&] { m_log->appendMarker(MarkerText::portOpened(port, settings, now()), true); });
}

void HistoryStore::portClosed(int port) noexcept
{
    guarded([&] { m_log->appendMarker(MarkerText::portClosed(port, now())); });
}

qint64 HistoryStore::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

void HistoryStore::clear() noexcept
{
    try {
        m_log->clear();
    } catch (...) {
    }
    m_reportedFailure = m_log->failed();
    if (m_reportedFailure)
        Q_EMIT failedChanged(m_log->failure());
    Q_EMIT grown();
}
