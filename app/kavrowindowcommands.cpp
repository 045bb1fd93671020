// The main window's part of the saved commands: the command box's entries,
// the keys, and where what they tell is shown. The commands themselves are
// the CommandDesk's; nothing of the window's own controls changes.

#include "commandbox.h"
#include "commanddesk.h"
#include "commandquestions.h"
#include "commandswindow.h"
#include "historystore.h"
#include "kavroerror.h"
#include "kavrowindow.h"
#include "plaintext.h"
#include "serialport.h"

#include <QShortcut>

void KavroWindow::wireCommands()
{
    m_commandDesk = new CommandDesk(
        *m_link, *m_history, [this] { return terminator(); }, this);
    setCommandQuestions(nullptr);
    m_c.SendWin->setCommandEntries(true);
    connect(m_c.SendWin, &CommandBox::saveAsCommand, this, &KavroWindow::saveAsCommand);
    connect(m_c.SendWin, &CommandBox::commandsRequested, this, &KavroWindow::showCommands);
    auto *commandsKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_B), this);
    connect(commandsKey, &QShortcut::activated, this, &KavroWindow::showCommands);
    for (int key = 1; key <= SavedCommand::Keys; ++key) {
        auto *f = new QShortcut(QKeySequence(Qt::Key_F1 + key - 1), this);
        connect(f, &QShortcut::activated, this, [this, key] { runKey(key); });
    }
    // Esc is only taken while something runs, so that it keeps its other
    // uses meanwhile.
    m_stopKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_stopKey->setEnabled(false);
    connect(m_stopKey, &QShortcut::activated, m_commandDesk, &CommandDesk::stopAll);
    connect(m_commandDesk, &CommandDesk::runsChanged, this, &KavroWindow::commandsRunningChanged);
    connect(m_commandDesk, &CommandDesk::notice, this, &KavroWindow::showStatus);
    // The received bytes for the sequences' waits and the replies, after the
    // history has them, so that a reply comes after what it answers.
    // While a file transfer has the line, its bytes are the protocol's:
    // no wait or reply looks at them.
    connect(m_port, &SerialPort::pieceTaken, m_commandDesk, [this](QByteArrayView piece) {
        if (m_link->lineOwner().isEmpty())
            m_commandDesk->received(piece);
    });
}

void KavroWindow::reportCommandsFile()
{
    const QString refusal = m_commandDesk->fileRefusal();
    if (!refusal.isEmpty())
        m_reporter.run([&refusal] { raiseError(Err::PathAccess, refusal); },
                       ErrorReporter::Show::FromEventLoop);
}

void KavroWindow::setCommandQuestions(CommandQuestions *questions)
{
    if (!questions && !m_ownCommandQuestions)
        m_ownCommandQuestions = std::make_unique<QtCommandQuestions>();
    m_commandQuestions = questions ? questions : m_ownCommandQuestions.get();
}

CommandsWindow *KavroWindow::showCommands()
{
    if (!m_commandsWindow) {
        m_commandsWindow =
            new CommandsWindow(*m_commandDesk, *m_commandQuestions, m_reporter, this);
        m_commandsWindow->setPortNumber(m_portState == PortState::Closed ? 0 : m_port->CommPort());
    }
    m_commandsWindow->showAndRaise();
    return m_commandsWindow;
}

void KavroWindow::runKey(int key)
{
    if (m_commandDesk->book().holderOf(key) < 0)
        return showStatus(QStringLiteral("Auf %1 liegt kein Befehl.").arg(keyName(key)));
    const QString why = m_commandDesk->runKey(key);
    if (!why.isEmpty())
        showStatus(why);
}

void KavroWindow::saveAsCommand(const QString &text)
{
    SavedCommand proposal;
    proposal.text = text;
    proposal.name = readableName(text);
    proposal.key = m_commandDesk->book().firstFreeKey();
    askAndPut(*m_commandDesk, *m_commandQuestions, m_reporter, this, proposal, -1, false);
}

void KavroWindow::commandsRunningChanged()
{
    const QString running = m_commandDesk->runningText();
    m_stopKey->setEnabled(!running.isEmpty());
    m_c.SendWin->setToolTip(running.isEmpty() ? QString() : plainToolTip(running, m_c.SendWin));
    const QStringList names = m_commandDesk->runner().running();
    m_c.SendWin->setRunningBadge(names.isEmpty() ? QString()
                                 : names.size() == 1
                                     ? QStringLiteral("↻ %1").arg(names.first())
                                     : QStringLiteral("↻ %1 Befehle laufen").arg(names.size()));
    if (!running.isEmpty() && isActiveWindow())
        showStatus(running);
}
