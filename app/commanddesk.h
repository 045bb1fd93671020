#pragma once

#include "autoreplies.h"
#include "commandfile.h"
#include "commandrunner.h"
#include "seriallink.h"

#include <QObject>

#include <functional>

class HistoryStore;

// The saved commands at work for the main window: their store, the runner
// of repeats and sequences and the automatic replies, all sending through
// the one road of SerialLink::sendCommandBytes, and the history told of
// what they did. Repeats and sequences stop when the port closes and pause
// while its device is away. No widget: the window and the commands window
// show what it tells.
class CommandDesk : public QObject
{
    Q_OBJECT
public:
    // `windowTerminator` reads the main window's "Abschlusszeichen".
    CommandDesk(SerialLink &link, HistoryStore &history,
                std::function<Terminator()> windowTerminator, QObject *parent = nullptr);

    CommandStore &store() { return m_store; }
    const CommandBook &book() const { return m_store.book(); }
    CommandRunner &runner() { return m_runner; }

    // The book was changed: it is saved and the replies take its rules.
    // Throws KavroError when it cannot be saved.
    void bookChanged();
    // Sends the command, or starts its repeat or sequence. Empty when it
    // went out or started, else why not.
    QString run(const SavedCommand &command);
    // The command on an F-key; a sentence when there is none.
    QString runKey(int key);
    void stopAll();
    bool anyRunning() const { return !m_runner.running().isEmpty(); }
    // Why the saved commands' file was not read at start, and what happens
    // to it; empty when it was read (or is not there).
    QString fileRefusal() const;
    // What runs, for the main window's status; empty when nothing does.
    QString runningText() const;

    // Every piece of received bytes as the port takes it in.
    void received(QByteArrayView piece);

Q_SIGNALS:
    void bookReplaced();
    // A run started, moved on or ended.
    void runsChanged();
    // What the operator should read now: a run that stopped by itself, a
    // reply halted.
    void notice(const QString &text);

private:
    void portStateChanged(PortState state);
    QString send(const QByteArray &bytes, const QString &name);

    SerialLink &m_link;
    HistoryStore &m_history;
    CommandStore m_store;
    CommandRunner m_runner;
    AutoReplies m_replies;
};
