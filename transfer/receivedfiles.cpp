#include "receivedfiles.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

QString ReceivedFiles::freeName(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    if (!QFileInfo::exists(dir.filePath(name)))
        return name;
    const QFileInfo info(name);
    const QString base = info.completeBaseName().isEmpty() ? name : info.completeBaseName();
    const QString suffix = info.completeBaseName().isEmpty() || info.suffix().isEmpty()
                               ? QString()
                               : QLatin1Char('.') + info.completeSuffix();
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix);
        if (!QFileInfo::exists(dir.filePath(candidate)))
            return candidate;
    }
}

QStringList ReceivedFiles::moveAll(const QString &from, const QString &to, bool whole,
                                   QStringList *failures)
{
    QStringList landed;
    const QDir source(from);
    const QDir target(to);
    const auto entries = source.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : entries) {
        const QString wanted = whole ? name : name + QLatin1String(PartialSuffix);
        // renameat2 with RENAME_NOREPLACE would be the one call, but the
        // name is free when looked at, and this folder is the operator's
        // own: a link() that fails on an existing name is just as safe.
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString free = freeName(to, wanted);
            const QByteArray src = QFile::encodeName(source.filePath(name));
            const QByteArray dst = QFile::encodeName(target.filePath(free));
            if (::link(src.constData(), dst.constData()) == 0) {
                ::unlink(src.constData());
                landed << target.filePath(free);
                break;
            }
            if (errno != EEXIST) {
                if (failures)
                    *failures << source.filePath(name);
                break;
            }
        }
    }
    return landed;
}
