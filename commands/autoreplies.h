#pragma once

#include "commandbook.h"
#include "textwatch.h"

#include <QByteArrayView>
#include <QList>
#include <QStringList>

#include <deque>
#include <functional>

// The automatic replies: which rules answer the bytes just received. Only
// received bytes are looked at, so what a reply sends can never answer
// itself; a rule's text may arrive split over several pieces. Two devices
// that answer each other must not flood the line: a rule answers at most
// once per received line (a line ends with CR or LF), and a rule that would
// answer more than MaxPerSecond times within a second is halted, with a
// message, until the rules are given again or switched on again.
class AutoReplies
{
public:
    static constexpr int MaxPerSecond = 10;
    // The most of a received line a rule looks at: its last 4 KiB or more
    // (a prompt is short, and a line without end must not cost more with
    // every piece).
    static constexpr qsizetype LineKept = 8 * 1024;
    // Milliseconds from any fixed point; a steady clock by default.
    using Clock = std::function<qint64()>;

    explicit AutoReplies(Clock clock = {});

    // The rules and the switch for all; every rule starts afresh.
    void setRules(const QList<ReplyRule> &rules, bool on);
    const QList<ReplyRule> &rules() const { return m_rules; }
    bool on() const { return m_on; }

    struct Outcome {
        QList<qsizetype> fired; // the rules to send now, in order
        QStringList messages;   // for the operator: a rule halted
    };
    Outcome feed(QByteArrayView received);
    bool halted(qsizetype rule) const { return m_states.at(rule).halted; }

private:
    struct State {
        TextWatch watch;
        bool firedThisLine = false;
        bool used = false; // a rule that answers once has answered
        bool halted = false;
        std::deque<qint64> fires; // within the last second
    };
    // A piece of one line (its line end last, if it has one).
    void look(QByteArrayView part, Outcome &outcome);

    Clock m_clock;
    QList<ReplyRule> m_rules;
    std::vector<State> m_states;
    bool m_on = false;
};
