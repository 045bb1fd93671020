#include "commandbook.h"

#include "textwatch.h"

namespace
{
Verdict refused(Verdict::Problem problem, const QString &message, int holder = -1)
{
    return {problem, message, holder};
}

Verdict checkStep(const SequenceStep &step, qsizetype number)
{
    const QString where = QStringLiteral("Schritt %1: ").arg(number);
    switch (step.kind) {
    case SequenceStep::Send:
        break;
    case SequenceStep::Pause:
        if (step.ms < 0)
            return refused(Verdict::BadValue, where + QStringLiteral("Die Wartezeit ist negativ."));
        break;
    case SequenceStep::WaitFor:
        if (step.ms < 0)
            return refused(Verdict::BadValue, where + QStringLiteral("Die Wartezeit ist negativ."));
        if (const QString why = TextWatch::check(step.text, step.regex); !why.isEmpty())
            return refused(Verdict::BadPattern, where + why);
        break;
    }
    return {};
}
} // namespace

Verdict CommandBook::check(const SavedCommand &command, qsizetype index) const
{
    if (command.name.trimmed().isEmpty())
        return refused(Verdict::EmptyName,
                       QStringLiteral("Bitte geben Sie dem Befehl einen Namen."));
    if (const qsizetype other = indexOf(command.name); other >= 0 && other != index)
        return refused(Verdict::NameTaken,
                       QStringLiteral("Einen Befehl „%1“ gibt es schon. Bitte wählen Sie einen "
                                      "anderen Namen.")
                           .arg(command.name));
    if (command.key < 0 || command.key > SavedCommand::Keys)
        return refused(Verdict::BadValue, QStringLiteral("Diese Taste gibt es nicht."));
    if (const qsizetype holder = holderOf(command.key);
        command.key != 0 && holder >= 0 && holder != index)
        return refused(Verdict::KeyTaken,
                       QStringLiteral("Die Taste %1 gehört schon dem Befehl „%2“.")
                           .arg(keyName(command.key), m_commands.at(holder).name),
                       int(holder));
    if (command.periodMs != 0 && command.periodMs < SavedCommand::MinPeriodMs)
        return refused(Verdict::PeriodTooShort,
                       QStringLiteral("Ein Befehl lässt sich höchstens alle %1 ms wiederholen; "
                                      "%2 ms sind zu kurz.")
                           .arg(SavedCommand::MinPeriodMs)
                           .arg(command.periodMs));
    if (command.isSequence() && command.periodMs != 0)
        return refused(Verdict::BadValue,
                       QStringLiteral("Eine Folge wiederholt sich mit „Durchläufe“, nicht "
                                      "mit einem Abstand."));
    if (command.times < 1)
        return refused(Verdict::BadValue,
                       QStringLiteral("Eine Folge läuft mindestens einmal durch."));
    for (qsizetype i = 0; i < command.steps.size(); ++i)
        if (Verdict v = checkStep(command.steps.at(i), i + 1); !v.ok())
            return v;
    return {};
}

Verdict CommandBook::add(const SavedCommand &command)
{
    Verdict v = check(command);
    if (v.ok())
        m_commands.append(command);
    return v;
}

Verdict CommandBook::replace(qsizetype index, const SavedCommand &command)
{
    Verdict v = check(command, index);
    if (v.ok())
        m_commands[index] = command;
    return v;
}

void CommandBook::remove(qsizetype index)
{
    m_commands.removeAt(index);
}

void CommandBook::move(qsizetype from, qsizetype to)
{
    if (from != to && from >= 0 && to >= 0 && from < size() && to < size())
        m_commands.move(from, to);
}

void CommandBook::releaseKey(int key)
{
    if (const qsizetype holder = holderOf(key); holder >= 0)
        m_commands[holder].key = 0;
}

qsizetype CommandBook::holderOf(int key) const
{
    if (key == 0)
        return -1;
    for (qsizetype i = 0; i < size(); ++i)
        if (m_commands.at(i).key == key)
            return i;
    return -1;
}

qsizetype CommandBook::indexOf(const QString &name) const
{
    for (qsizetype i = 0; i < size(); ++i)
        if (m_commands.at(i).name == name)
            return i;
    return -1;
}

int CommandBook::firstFreeKey() const
{
    for (int key = 1; key <= SavedCommand::Keys; ++key)
        if (holderOf(key) < 0)
            return key;
    return 0;
}

Verdict CommandBook::checkRule(const ReplyRule &rule)
{
    if (const QString why = TextWatch::check(rule.pattern, rule.regex); !why.isEmpty())
        return refused(Verdict::BadPattern, why);
    return {};
}

Verdict CommandBook::setReplies(const QList<ReplyRule> &rules)
{
    for (qsizetype i = 0; i < rules.size(); ++i)
        if (Verdict v = checkRule(rules.at(i)); !v.ok()) {
            v.message = QStringLiteral("Antwort %1: ").arg(i + 1) + v.message;
            return v;
        }
    m_replies = rules;
    return {};
}
