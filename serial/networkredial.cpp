#include "networkredial.h"

#include "networkline.h"

#include <algorithm>

NetworkRedial::NetworkRedial(NetworkLine &line, const LineSettings &settings, QObject *parent)
    : QObject(parent), m_line(line), m_settings(settings)
{
    m_callAgain.setSingleShot(true);
    connect(&m_callAgain, &QTimer::timeout, this, [this] { m_line.begin(m_settings); });
    connect(&m_line, &NetworkLine::opened, this, [this] {
        m_line.disconnect(this);
        m_callAgain.stop();
        Q_EMIT returned();
    });
    connect(&m_line, &NetworkLine::refused, this, [this](int number) {
        m_pauseMs = std::min(m_pauseMs * 2, LongestPauseMs);
        m_callAgain.start(m_pauseMs);
        Q_EMIT refused(number);
    });
    m_callAgain.start(m_pauseMs);
}
