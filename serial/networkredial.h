#pragma once

#include "linesettings.h"

#include <QObject>
#include <QString>
#include <QTimer>

class NetworkLine;

// Calls a serial server again whose connection dropped while its port was
// open: first after a second, then after ever longer pauses up to eight
// seconds, so that a rack of Kavros does not hammer a server that is
// rebooting. It ends when the server accepts (returned()) or when it is
// destroyed (the port closed).
class NetworkRedial : public QObject
{
    Q_OBJECT
public:
    static constexpr int FirstPauseMs = 1000;
    static constexpr int LongestPauseMs = 8000;

    NetworkRedial(NetworkLine &line, const LineSettings &settings, QObject *parent = nullptr);

    // The pause before the next call.
    int pauseMs() const { return m_pauseMs; }

Q_SIGNALS:
    // The server accepted again; the line is open.
    void returned();
    // A call was refused: `number` 8005 when another client has the port.
    void refused(int number);

private:
    NetworkLine &m_line;
    const LineSettings m_settings;
    QTimer m_callAgain;
    int m_pauseMs = FirstPauseMs;
};
