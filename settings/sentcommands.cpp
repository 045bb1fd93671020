#include "sentcommands.h"

#include "kavroerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

SentCommands::SentCommands(QString file) : m_file(std::move(file))
{
}

QString SentCommands::defaultFile()
{
    // Qt 6.4 knows no state folder; the XDG rules: an absolute
    // $XDG_STATE_HOME, else ~/.local/state.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/kavro/history.json");
}

const QStringList &SentCommands::commands()
{
    load();
    return m_commands;
}

void SentCommands::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    QFile file(m_file);
    // A file that is not what this program writes (damaged, from elsewhere,
    // or larger than it ever writes) starts an empty list; the next command
    // writes it anew. A large one would cost the first Up seconds and memory.
    if (!file.open(QIODevice::ReadOnly) || file.size() > LargestFile)
        return;
    const QJsonArray stored = QJsonDocument::fromJson(file.read(LargestFile)).array();
    for (const QJsonValue &v : stored) {
        const QString command = v.toString();
        if (!command.isEmpty() && command.size() <= LongestKept && !m_commands.contains(command))
            m_commands.append(command);
    }
    trim();
}

void SentCommands::trim()
{
    qsizetype characters = 0;
    qsizetype n = 0;
    while (n < m_commands.size() && n < Kept && characters + m_commands[n].size() <= KeptCharacters)
        characters += m_commands[n++].size();
    m_commands.resize(n);
}

void SentCommands::save()
{
    QJsonArray stored;
    for (const QString &c : std::as_const(m_commands))
        stored.append(c);
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    QSaveFile file(m_file);
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.write(QJsonDocument(stored).toJson(QJsonDocument::Compact)) >= 0 &&
                    file.commit();
    if (ok || std::exchange(m_saveFailed, true))
        return;
    raiseError(Err::PathAccess,
               QStringLiteral("Die gesendeten Befehle können nicht in %1 gespeichert werden (%2)")
                   .arg(m_file, file.errorString()));
}

void SentCommands::record(const QString &command)
{
    load();
    m_at = -1;
    m_written.clear();
    if (command.isEmpty() || command.size() > LongestKept ||
        (!m_commands.isEmpty() && m_commands.first() == command))
        return;
    m_commands.removeOne(command);
    m_commands.prepend(command);
    trim();
    save();
}

std::optional<QString> SentCommands::older(const QString &shown)
{
    load();
    qsizetype at = m_at + 1;
    while (at < m_commands.size() && m_commands[at] == shown)
        ++at;
    if (at >= m_commands.size())
        return std::nullopt;
    if (m_at < 0 || shown != m_commands[m_at])
        m_written = shown;
    m_at = at;
    return m_commands[at];
}

std::optional<QString> SentCommands::newer(const QString &shown)
{
    load();
    if (m_at < 0)
        return std::nullopt;
    if (shown != m_commands[m_at])
        m_written = shown;
    qsizetype at = m_at - 1;
    while (at >= 0 && m_commands[at] == shown)
        --at;
    m_at = at;
    return at < 0 ? m_written : m_commands[at];
}
