#include "commanddesk.h"

#include "historystore.h"

#include <QFileInfo>

CommandDesk::CommandDesk(SerialLink &link, HistoryStore &history,
                         std::function<Terminator()> windowTerminator, QObject *parent)
    : QObject(parent), m_link(link), m_history(history),
      m_runner([this](const QByteArray &bytes, const QString &name) { return send(bytes, name); })
{
    m_runner.setWindowTerminator(std::move(windowTerminator));
    m_replies.setRules(book().replies(), book().repliesOn());
    connect(&m_runner, &CommandRunner::runChanged, this, &CommandDesk::runsChanged);
    connect(&m_runner, &CommandRunner::remark, &m_history, &HistoryStore::appendRemark);
    connect(&m_runner, &CommandRunner::failed, this,
            [this](const QString &, const QString &why) { Q_EMIT notice(why); });
    connect(&m_link, &SerialLink::stateChanged, this,
            [this](PortState state) { portStateChanged(state); });
}

QString CommandDesk::send(const QByteArray &bytes, const QString &name)
{
    return m_link.sendCommandBytes(bytes, QStringLiteral("Befehl „%1“").arg(name));
}

void CommandDesk::bookChanged()
{
    m_replies.setRules(book().replies(), book().repliesOn());
    Q_EMIT bookReplaced();
    m_store.save();
}

QString CommandDesk::run(const SavedCommand &command)
{
    return m_runner.run(command);
}

QString CommandDesk::runKey(int key)
{
    const qsizetype at = book().holderOf(key);
    if (at < 0)
        return QStringLiteral("Auf %1 liegt kein Befehl.").arg(keyName(key));
    return run(book().at(at));
}

void CommandDesk::stopAll()
{
    m_runner.stopAll();
}

QString CommandDesk::fileRefusal() const
{
    if (m_store.refusal().isEmpty())
        return {};
    return m_store.refusal() +
           QStringLiteral(" Kavro beginnt ohne gespeicherte Befehle und lässt die Datei, wie sie "
                          "ist; wenn Sie Befehle speichern, wird sie vorher als „%1“ aufgehoben.")
               .arg(QFileInfo(m_store.path() + QStringLiteral(".beschädigt")).fileName());
}

QString CommandDesk::runningText() const
{
    QStringList lines;
    for (const QString &name : m_runner.running())
        lines.append(QStringLiteral("„%1“ %2").arg(name, m_runner.stateOf(name)));
    if (lines.isEmpty())
        return {};
    return lines.join(u'\n') + QStringLiteral("\nEsc hält an.");
}

void CommandDesk::received(QByteArrayView piece)
{
    m_runner.feed(piece);
    const AutoReplies::Outcome outcome = m_replies.feed(piece);
    for (const qsizetype i : outcome.fired) {
        const ReplyRule &rule = m_replies.rules().at(i);
        const QString why = m_link.sendCommandBytes(
            bytesToSend(rule.reply, rule.terminator, m_runner.windowTerminator()),
            QStringLiteral("Automatische Antwort auf „%1“").arg(rule.pattern));
        if (!why.isEmpty())
            Q_EMIT notice(QStringLiteral("Die automatische Antwort auf „%1“ wurde nicht "
                                         "gesendet: %2")
                              .arg(rule.pattern, why));
    }
    for (const QString &message : outcome.messages) {
        m_history.appendRemark(message);
        Q_EMIT notice(message);
    }
}

void CommandDesk::portStateChanged(PortState state)
{
    switch (state) {
    case PortState::Closed:
        if (anyRunning()) {
            m_runner.stopAll();
            Q_EMIT notice(QStringLiteral("Wiederholungen und Folgen sind beendet: der Anschluss "
                                         "wurde geschlossen."));
        }
        m_runner.setPaused(false);
        break;
    case PortState::Waiting:
        m_runner.setPaused(true);
        break;
    case PortState::Open:
        m_runner.setPaused(false);
        break;
    }
}
