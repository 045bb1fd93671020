#pragma once

#include "kavroerror.h"

#include <QObject>
#include <QTimer>

#include <functional>

class ModemControl;

// "Break senden" and "Reset-Puls" on top of a port's lines: the first half
// now, the second when its time has come, from the event loop, so the window
// goes on meanwhile. One at a time.
class LinePulser : public QObject
{
    Q_OBJECT
public:
    static constexpr int BreakMs = 250;
    static constexpr int PulseMs = 100;
    enum class Line { Dtr, Rts };

    explicit LinePulser(ModemControl &lines, QObject *parent = nullptr);

    // The break state for BreakMs.
    void sendBreak();
    // The line off for PulseMs, then on (whatever it was before: a reset
    // pulse leaves the board running).
    void pulse(Line line);
    // Both throw KavroError when the first half is refused (nothing then
    // follows), and do nothing while one runs.
    bool busy() const { return m_end.isActive(); }

Q_SIGNALS:
    // The second half is done (or had nothing left to do: the port closed
    // or its device went away meanwhile).
    void finished();
    // The device refused the second half.
    void failed(const KavroError &error);

private:
    void start(int ms, const std::function<void()> &first, std::function<void()> second);

    ModemControl &m_lines;
    QTimer m_end;
    std::function<void()> m_second;
};
