#pragma once

#include "commandbook.h"

#include <QByteArray>
#include <QString>

// The saved commands as a file: commands.json in the config folder, and the
// files of "Exportieren…" and "Importieren…", all in one JSON format (see the
// README). A file is taken whole or not at all: one that is damaged, not of
// this format, or holds a command the book would refuse is refused with a
// German sentence that names the file and, where the JSON breaks, the line.
namespace CommandFile
{
// The marker every file of this format carries as "format".
inline constexpr char Marker[] = "kavro-befehle";
inline constexpr int Version = 1;
// A larger file is none of ours; it is not read at all.
inline constexpr qint64 LargestFile = 16 << 20;

struct Read {
    CommandBook book;
    QString refusal; // empty when the file was taken
    bool ok() const { return refusal.isEmpty(); }
};

QByteArray toJson(const CommandBook &book);
// `shownName` is how the sentences name the file.
Read fromJson(const QByteArray &bytes, const QString &shownName);
// A file that is not there reads as an empty book when `missingIsEmpty`.
Read read(const QString &path, bool missingIsEmpty);
// All or nothing (QSaveFile). Throws KavroError when it cannot be written.
void write(const CommandBook &book, const QString &path);
} // namespace CommandFile

// The operator's commands as kept in the config folder: read once, written
// after each change. A file that cannot be read is never written over: it
// is copied aside first (`<name>.beschädigt`), so what it held stays.
class CommandStore
{
public:
    // KavroSettings::commandsPath() by default.
    explicit CommandStore(QString path = {});

    CommandBook &book() { return m_book; }
    const CommandBook &book() const { return m_book; }
    // Why the file was not taken at start; empty when it was (or was not there).
    const QString &refusal() const { return m_refusal; }
    const QString &path() const { return m_path; }
    // Throws KavroError when the file cannot be written.
    void save();
    // The commands of another file take the place of these, and are saved;
    // a file that is refused changes nothing. Empty when taken, else why not.
    QString import(const QString &file);
    // Throws KavroError when the file cannot be written.
    void exportTo(const QString &file) const { CommandFile::write(m_book, file); }

private:
    QString m_path;
    CommandBook m_book;
    QString m_refusal;
    bool m_keepAside = false;
};
