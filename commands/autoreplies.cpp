#include "autoreplies.h"

#include <QElapsedTimer>

#include <memory>

AutoReplies::AutoReplies(Clock clock) : m_clock(std::move(clock))
{
    if (!m_clock) {
        auto steady = std::make_shared<QElapsedTimer>();
        steady->start();
        m_clock = [steady] { return steady->elapsed(); };
    }
}

void AutoReplies::setRules(const QList<ReplyRule> &rules, bool on)
{
    m_rules = rules;
    m_on = on;
    m_states.clear();
    for (const ReplyRule &rule : rules) {
        m_states.emplace_back();
        m_states.back().watch = TextWatch(rule.pattern, rule.regex, LineKept);
    }
}

AutoReplies::Outcome AutoReplies::feed(QByteArrayView received)
{
    Outcome outcome;
    if (!m_on || m_rules.isEmpty())
        return outcome;
    while (!received.isEmpty()) {
        qsizetype end = 0;
        while (end < received.size() && received[end] != '\r' && received[end] != '\n')
            ++end;
        const bool lineEnds = end < received.size();
        look(received.first(end + (lineEnds ? 1 : 0)), outcome);
        received = received.sliced(end + (lineEnds ? 1 : 0));
        if (lineEnds)
            for (State &state : m_states) {
                state.watch.reset();
                state.firedThisLine = false;
            }
    }
    return outcome;
}

void AutoReplies::look(QByteArrayView part, Outcome &outcome)
{
    for (qsizetype i = 0; i < m_rules.size(); ++i) {
        State &state = m_states[size_t(i)];
        if (!m_rules.at(i).enabled || state.halted || state.used || state.firedThisLine ||
            !state.watch.feed(part))
            continue;
        const qint64 now = m_clock();
        while (!state.fires.empty() && now - state.fires.front() >= 1000)
            state.fires.pop_front();
        if (qsizetype(state.fires.size()) >= MaxPerSecond) {
            state.halted = true;
            outcome.messages.append(
                QStringLiteral("Die automatische Antwort auf „%1“ ist angehalten: sie hätte "
                               "öfter als %2-mal in einer Sekunde gesendet. Sie antwortet "
                               "wieder, sobald Sie die Antworten erneut einschalten.")
                    .arg(m_rules.at(i).pattern)
                    .arg(MaxPerSecond));
            continue;
        }
        state.fires.push_back(now);
        state.firedThisLine = true;
        state.used = m_rules.at(i).once;
        outcome.fired.append(i);
    }
}
