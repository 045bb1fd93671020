#include "linepulser.h"

#include "modemlines.h"

LinePulser::LinePulser(ModemControl &lines, QObject *parent) : QObject(parent), m_lines(lines)
{
    m_end.setSingleShot(true);
    // The times are what the device is promised: never a coarse timer's
    // few percent early.
    m_end.setTimerType(Qt::PreciseTimer);
    connect(&m_end, &QTimer::timeout, this, [this] {
        const std::function<void()> second = std::exchange(m_second, {});
        // A port that closed or lost its device meanwhile has no line left
        // to put back.
        if (m_lines.lineAccess() == LineAccess::Full) {
            try {
                second();
            } catch (const KavroError &e) {
                Q_EMIT failed(e);
            }
        }
        Q_EMIT finished();
    });
}

void LinePulser::sendBreak()
{
    start(
        BreakMs, [this] { m_lines.setBreak(true); }, [this] { m_lines.setBreak(false); });
}

void LinePulser::pulse(Line line)
{
    auto set = [this, line](bool on) {
        line == Line::Dtr ? m_lines.setDtr(on) : m_lines.setRts(on);
    };
    start(
        PulseMs, [set] { set(false); }, [set] { set(true); });
}

void LinePulser::start(int ms, const std::function<void()> &first, std::function<void()> second)
{
    if (busy())
        return;
    checkLineAccess(m_lines.lineAccess());
    first();
    m_second = std::move(second);
    m_end.start(ms);
}
