#include "commandrunner.h"

#include <QTimer>

struct CommandRunner::Run {
    SavedCommand command;
    QTimer timer;
    qint64 sent = 0;
    // A sequence: the step under way, the pass through the steps (from 0),
    // and the answer waited for.
    qsizetype step = 0;
    int pass = 0;
    TextWatch watch;
    bool waiting = false; // a pause or a wait for an answer is under way
};

CommandRunner::CommandRunner(Sender sender, QObject *parent)
    : QObject(parent), m_sender(std::move(sender)),
      m_windowTerminator([] { return Terminator::None; })
{
}

CommandRunner::~CommandRunner() = default;

void CommandRunner::setWindowTerminator(std::function<Terminator()> terminator)
{
    m_windowTerminator = std::move(terminator);
}

Terminator CommandRunner::windowTerminator() const
{
    return m_windowTerminator();
}

CommandRunner::Run *CommandRunner::find(const QString &name) const
{
    for (const auto &run : m_runs)
        if (run->command.name == name)
            return run.get();
    return nullptr;
}

QStringList CommandRunner::running() const
{
    QStringList names;
    for (const auto &run : m_runs)
        names.append(run->command.name);
    return names;
}

qint64 CommandRunner::sentCount(const QString &name) const
{
    const Run *run = find(name);
    return run ? run->sent : 0;
}

QString CommandRunner::send(Run *run, const QString &text, TerminatorChoice terminator)
{
    const QString why =
        m_sender(bytesToSend(text, terminator, m_windowTerminator()), run->command.name);
    if (why.isEmpty())
        ++run->sent;
    return why;
}

QString CommandRunner::run(const SavedCommand &command)
{
    stop(command.name);
    if (!command.isSequence() && command.periodMs == 0) {
        return m_sender(command.bytes(m_windowTerminator()), command.name);
    }
    if (m_paused)
        return QStringLiteral("Das Gerät des Anschlusses ist nicht da; „%1“ startet nicht.")
            .arg(command.name);
    auto owned = std::make_unique<Run>();
    Run *run = owned.get();
    run->command = command;
    run->timer.setTimerType(Qt::PreciseTimer);
    m_runs.push_back(std::move(owned));
    if (command.isSequence()) {
        run->timer.setSingleShot(true);
        connect(&run->timer, &QTimer::timeout, this, [this, run] {
            if (run->command.steps.at(run->step).kind == SequenceStep::WaitFor) {
                waitOver(run, false);
                return;
            }
            run->waiting = false;
            ++run->step;
            advance(run);
        });
        Q_EMIT remark(QStringLiteral("Folge „%1“ gestartet").arg(command.name));
        m_lastWhy.clear();
        advance(run);
        // A sequence whose first send was refused did not start.
        return isRunning(command.name) ? QString() : m_lastWhy;
    }
    // The first goes out now, the next after a period.
    connect(&run->timer, &QTimer::timeout, this, [this, run] { tick(run); });
    if (const QString why = send(run, command.text, command.terminator); !why.isEmpty()) {
        end(run);
        return why;
    }
    run->timer.start(command.periodMs);
    announce(run);
    return {};
}

void CommandRunner::tick(Run *run)
{
    // A send the line refused because its device went away just then
    // (the pause came with the refusal) waits for the device like the rest.
    if (const QString why = send(run, run->command.text, run->command.terminator);
        !why.isEmpty() && !m_paused)
        end(run, why);
}

void CommandRunner::announce(Run *run)
{
    Q_EMIT runChanged(run->command.name, stateOf(run->command.name));
}

QString CommandRunner::stateOf(const QString &name) const
{
    const Run *run = find(name);
    if (!run)
        return {};
    const SavedCommand &c = run->command;
    if (!c.isSequence()) {
        const QString every = QStringLiteral("alle %1 ms").arg(c.periodMs);
        return m_paused ? QStringLiteral("angehalten, bis das Gerät wieder da ist (%1)").arg(every)
                        : QStringLiteral("wird %1 gesendet").arg(every);
    }
    const SequenceStep &s = c.steps.at(std::min(run->step, c.steps.size() - 1));
    QString doing;
    switch (s.kind) {
    case SequenceStep::Send:
        doing = QStringLiteral("sendet");
        break;
    case SequenceStep::Pause:
        doing = QStringLiteral("wartet %1 ms").arg(s.ms);
        break;
    case SequenceStep::WaitFor:
        doing = QStringLiteral("wartet auf „%1“").arg(s.text);
        break;
    }
    QString state =
        QStringLiteral("Schritt %1 von %2: %3").arg(run->step + 1).arg(c.steps.size()).arg(doing);
    if (c.times > 1)
        state += QStringLiteral(" (Durchlauf %1 von %2)").arg(run->pass + 1).arg(c.times);
    if (m_paused)
        state += QStringLiteral(", angehalten, bis das Gerät wieder da ist");
    return state;
}

void CommandRunner::advance(Run *run)
{
    const QString name = run->command.name;
    while (find(name) == run && !m_paused) {
        const SavedCommand &c = run->command;
        if (run->step >= c.steps.size()) {
            run->step = 0;
            if (++run->pass >= c.times) {
                Q_EMIT remark(QStringLiteral("Folge „%1“ beendet").arg(name));
                end(run);
                return;
            }
        }
        const SequenceStep &s = c.steps.at(run->step);
        switch (s.kind) {
        case SequenceStep::Send:
            if (const QString why = send(run, s.text, s.terminator); !why.isEmpty()) {
                // Sent again when the device is back, if it went just now.
                if (!m_paused)
                    end(run, why);
                return;
            }
            ++run->step;
            continue;
        case SequenceStep::Pause:
            run->waiting = true;
            run->watch = TextWatch();
            run->timer.start(s.ms);
            announce(run);
            return;
        case SequenceStep::WaitFor:
            run->waiting = true;
            run->watch = TextWatch(s.text, s.regex);
            if (s.ms > 0)
                run->timer.start(s.ms);
            announce(run);
            return;
        }
    }
}

void CommandRunner::waitOver(Run *run, bool met)
{
    const SequenceStep &s = run->command.steps.at(run->step);
    const QString name = run->command.name;
    run->timer.stop();
    run->waiting = false;
    run->watch = TextWatch();
    if (met) {
        Q_EMIT remark(QStringLiteral("Folge „%1“: „%2“ erhalten").arg(name, s.text));
    } else if (s.goOn) {
        Q_EMIT remark(QStringLiteral("Folge „%1“: „%2“ kam nicht innerhalb von %3 ms, weiter")
                          .arg(name, s.text)
                          .arg(s.ms));
    } else {
        end(run, QStringLiteral("„%1“ kam nicht innerhalb von %2 ms.").arg(s.text).arg(s.ms));
        return;
    }
    ++run->step;
    advance(run);
}

void CommandRunner::feed(QByteArrayView received)
{
    if (m_paused)
        return;
    for (const QString &name : running()) {
        Run *run = find(name);
        if (run && run->waiting && !run->watch.pattern().isEmpty() && run->watch.feed(received))
            waitOver(run, true);
    }
}

void CommandRunner::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    for (const QString &name : running()) {
        Run *run = find(name);
        if (paused) {
            run->timer.stop();
        } else if (!run->command.isSequence()) {
            run->timer.start(run->command.periodMs);
        } else if (run->waiting) {
            // The wait starts again: what the device said before it went is
            // no answer to look for any more.
            const SequenceStep &s = run->command.steps.at(run->step);
            run->watch.reset();
            if (s.ms > 0)
                run->timer.start(s.ms);
        } else {
            advance(run);
        }
        if (find(name))
            announce(run);
    }
}

void CommandRunner::stop(const QString &name)
{
    if (Run *run = find(name)) {
        if (run->command.isSequence())
            Q_EMIT remark(QStringLiteral("Folge „%1“ abgebrochen").arg(name));
        end(run);
    }
}

void CommandRunner::stopAll()
{
    for (const QString &name : running())
        stop(name);
}

void CommandRunner::end(Run *run, const QString &why)
{
    const QString name = run->command.name;
    const bool sequence = run->command.isSequence();
    for (auto it = m_runs.begin(); it != m_runs.end(); ++it)
        if (it->get() == run) {
            // The timer may be the one whose signal runs this: it goes once
            // that has returned.
            run->timer.stop();
            run->timer.disconnect(this);
            m_ended.push_back(std::move(*it));
            m_runs.erase(it);
            QTimer::singleShot(0, this, [this] { m_ended.clear(); });
            break;
        }
    m_lastWhy = why;
    if (!why.isEmpty()) {
        const QString message = (sequence ? QStringLiteral("Folge „%1“ angehalten: %2")
                                          : QStringLiteral("Wiederholung von „%1“ angehalten: %2"))
                                    .arg(name, why);
        Q_EMIT remark(message);
        Q_EMIT failed(name, message);
    }
    Q_EMIT runChanged(name, QString());
}
