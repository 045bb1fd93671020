#pragma once

#include <QString>
#include <QStringList>

// Where received files land: lrzsz writes into a private folder inside the
// chosen one, and from there each file is moved beside the others under a
// name no file has yet (a number added before the suffix), so nothing that
// was there is ever overwritten. A file that did not arrive whole keeps a
// name that says so.
namespace ReceivedFiles
{
inline constexpr char PartialSuffix[] = ".teilweise";

// "bericht.txt" in a folder that has it becomes "bericht (2).txt".
QString freeName(const QString &folder, const QString &name);
// Moves every file of `from` into `to` (whole or partial); the paths they
// got. A file that cannot be moved stays where it was and is named in
// `failures`.
QStringList moveAll(const QString &from, const QString &to, bool whole, QStringList *failures);
} // namespace ReceivedFiles
