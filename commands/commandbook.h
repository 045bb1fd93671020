#pragma once

#include "savedcommand.h"

#include <QList>
#include <QString>

// A rule of the automatic replies: when what is received matches `pattern`
// (a text, or a regular expression), `reply` goes out with its terminator.
struct ReplyRule {
    QString pattern;
    bool regex = false;
    QString reply; // as the command box holds it
    TerminatorChoice terminator = TerminatorChoice::Window;
    bool once = false; // answers once, then rests until switched on again
    bool enabled = true;

    friend bool operator==(const ReplyRule &, const ReplyRule &) = default;
};

// What a check found wrong. KeyTaken is the one the operator can settle by
// moving the key (moveKey).
struct Verdict {
    enum Problem { None, EmptyName, NameTaken, KeyTaken, BadPattern, PeriodTooShort, BadValue };
    Problem problem = None;
    QString message; // German, for the operator
    int holder = -1; // KeyTaken: the command that has the key

    bool ok() const { return problem == None; }
};

// The saved commands in the operator's order, each name and each key at most
// once, and the automatic replies. Every change is checked first; a change
// that is refused leaves everything as it was.
class CommandBook
{
public:
    const QList<SavedCommand> &commands() const { return m_commands; }
    qsizetype size() const { return m_commands.size(); }
    const SavedCommand &at(qsizetype i) const { return m_commands.at(i); }

    // Whether `command` may stand at `index` (-1: as a new one).
    Verdict check(const SavedCommand &command, qsizetype index = -1) const;
    Verdict add(const SavedCommand &command);
    Verdict replace(qsizetype index, const SavedCommand &command);
    void remove(qsizetype index);
    // Moves the command at `from` so that it stands at `to`.
    void move(qsizetype from, qsizetype to);
    // Takes `key` from whichever command has it (it keeps none).
    void releaseKey(int key);

    // The command on a key, its index by name; -1 when none.
    qsizetype holderOf(int key) const;
    qsizetype indexOf(const QString &name) const;
    // The first of F1 ... F12 nobody has; 0 when all are taken.
    int firstFreeKey() const;

    static Verdict checkRule(const ReplyRule &rule);
    const QList<ReplyRule> &replies() const { return m_replies; }
    bool repliesOn() const { return m_repliesOn; }
    void setRepliesOn(bool on) { m_repliesOn = on; }
    // All of them, or none when one is refused.
    Verdict setReplies(const QList<ReplyRule> &rules);

    friend bool operator==(const CommandBook &, const CommandBook &) = default;

private:
    QList<SavedCommand> m_commands;
    QList<ReplyRule> m_replies;
    bool m_repliesOn = false;
};
