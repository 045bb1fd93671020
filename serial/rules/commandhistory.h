#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The commands sent before, newest first, exactly as they went out (control
// characters and line breaks included), for stepping back through them in
// the command box. The newest Kept of them stay between runs in a file; it is
// read when first needed and written after each command.
//
// Stepping starts at the command being written. Whatever the operator last
// changed by hand counts as that command: stepping away from it keeps it, and
// stepping back past the newest one brings it back.
class CommandHistory
{
public:
    static constexpr qsizetype Kept = 200;
    // A longer command (a pasted file) is sent, not kept: 200 of them would
    // make a file of hundreds of megabytes that is read at every start.
    static constexpr qsizetype LongestKept = 64 * 1024;

    explicit CommandHistory(QString file = defaultFile());

    // $XDG_STATE_HOME/kavro/history.json, or ~/.local/state/kavro/history.json.
    static QString defaultFile();

    // The command was sent: it becomes the newest (unless it is the newest
    // already, or empty) and stepping starts anew. Throws KavroError when
    // the file cannot be written, the first time only: a full disk is told
    // once, not after every command.
    void record(const QString &command);

    // One older (Up) or newer (Down) command than the one shown, skipping
    // those that read the same as `shown`; empty when there is none.
    // `shown` is what the box holds now.
    std::optional<QString> older(const QString &shown);
    std::optional<QString> newer(const QString &shown);

    // Newest first.
    const QStringList &commands();

private:
    void load();
    void save();

    const QString m_file;
    bool m_loaded = false;
    bool m_saveFailed = false;
    QStringList m_commands;
    qsizetype m_at = -1; // the command shown; -1 the one being written
    QString m_written;   // the command being written
};
