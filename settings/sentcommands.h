#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The commands sent before, newest first, exactly as they went out (control
// characters and line breaks included), for stepping back through them in
// the command box. The newest of them, at most Kept and KeptCharacters in
// all, stay between runs in a file; it is read when first needed and written
// after each command, so it has to stay small: a file larger than this class
// ever writes is not read at all (the next command writes it anew), and from
// a smaller one only what would have been kept is taken.
//
// Stepping starts at the command being written. Whatever the operator last
// changed by hand counts as that command: stepping away from it keeps it, and
// stepping back past the newest one brings it back.
class SentCommands
{
public:
    static constexpr qsizetype Kept = 200;
    // A longer command (a pasted file) is sent, not kept: 200 of them would
    // make a file of hundreds of megabytes that is read at every start.
    static constexpr qsizetype LongestKept = 64 * 1024;
    // All kept commands together: a few pasted blocks, or Kept typed ones,
    // keep the file that is rewritten after every command at a few hundred
    // kilobytes.
    static constexpr qsizetype KeptCharacters = 256 * 1024;
    // The largest file save() can write: every character escaped as \uXXXX
    // (six bytes), and the quotes and commas around each command.
    static constexpr qint64 LargestFile = 6 * KeptCharacters + 3 * Kept + 2;

    explicit SentCommands(QString file = defaultFile());

    // $XDG_STATE_HOME/kavro/history.json, or ~/.local/state/kavro/history.json.
    static QString defaultFile();

    // The command was sent: it becomes the newest (an earlier copy of it
    // goes, so a command repeated now and then stays near the top once) and
    // stepping starts anew; an empty one or one longer than LongestKept is
    // not kept. Throws KavroError when the file cannot be written, the first
    // time only: a full disk is told once, not after every command.
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
    // Keeps the newest commands that fit Kept and KeptCharacters.
    void trim();

    const QString m_file;
    bool m_loaded = false;
    bool m_saveFailed = false;
    QStringList m_commands;
    qsizetype m_at = -1; // the command shown; -1 the one being written
    QString m_written;   // the command being written
};
