#pragma once

#include "savedcommand.h"
#include "textwatch.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QTimer;

// Runs saved commands that take time: a repeat sends its command every N ms
// until stopped, a sequence goes through its steps (send, wait, wait for an
// answer). Any number run side by side, one per command name. The timers are
// precise ones: a repeat's period is kept from one send to the next and does
// not drift with the time a send takes.
//
// Everything goes out through the sender it is given, which says why when a
// text cannot be sent; a run whose text is refused ends with that reason.
// While paused (the device is away) nothing is sent and nothing waited for;
// a pause or wait under way starts again when the device is back.
class CommandRunner : public QObject
{
    Q_OBJECT
public:
    // Hands bytes to the line under a command's name; empty when they went
    // out, else why not, in the operator's words.
    using Sender = std::function<QString(const QByteArray &bytes, const QString &name)>;

    explicit CommandRunner(Sender sender, QObject *parent = nullptr);
    ~CommandRunner() override;

    // The terminator of the main window's options, for "wie im Fenster".
    void setWindowTerminator(std::function<Terminator()> terminator);
    Terminator windowTerminator() const;

    // Sends the command once, starts its repeat or its sequence, as it is
    // made; a run of the same name ends first. Empty when it went out or
    // started, else why not.
    QString run(const SavedCommand &command);
    // Ends the run at once; nothing more of it goes out.
    void stop(const QString &name);
    void stopAll();
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // Received bytes, for the sequences that wait for an answer.
    void feed(QByteArrayView received);

    bool isRunning(const QString &name) const { return find(name) != nullptr; }
    QStringList running() const;
    // What the run does now, in the operator's words; empty when none runs.
    QString stateOf(const QString &name) const;
    // How often a repeat has sent its command.
    qint64 sentCount(const QString &name) const;

Q_SIGNALS:
    // A run started, moved on or ended (state empty).
    void runChanged(const QString &name, const QString &state);
    // What the history should keep beside the sent lines: a wait's outcome,
    // a run's end.
    void remark(const QString &text);
    // A run ended by itself for a reason the operator should read.
    void failed(const QString &name, const QString &why);

private:
    struct Run;
    Run *find(const QString &name) const;
    void end(Run *run, const QString &why = {});
    void tick(Run *run);
    // Goes on with a sequence from its current step until one must wait.
    void advance(Run *run);
    void waitOver(Run *run, bool met);
    void announce(Run *run);
    QString send(Run *run, const QString &text, TerminatorChoice terminator);

    Sender m_sender;
    std::function<Terminator()> m_windowTerminator;
    std::vector<std::unique_ptr<Run>> m_runs;
    // Runs that ended, kept until the event that ended them has returned.
    std::vector<std::unique_ptr<Run>> m_ended;
    bool m_paused = false;
    QString m_lastWhy; // why the last run ended, if by itself
};
