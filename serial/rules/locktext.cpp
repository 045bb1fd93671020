#include "locktext.h"

#include <algorithm>
#include <cstring>
#include <limits>

pid_t lockFilePid(QByteArrayView content)
{
    const qsizetype end = content.indexOf('\n');
    const QByteArrayView first = content.first(end < 0 ? content.size() : end).trimmed();
    if (!first.isEmpty() &&
        std::all_of(first.begin(), first.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        bool ok = false;
        const long long pid = first.toLongLong(&ok);
        return ok && pid > 0 && pid <= std::numeric_limits<pid_t>::max() ? pid_t(pid) : 0;
    }
    // A binary PID never consists of digit characters only: that would need a
    // value above 0x30303030, far beyond any PID the kernel hands out.
    if (content.size() == 4) {
        qint32 pid = 0;
        std::memcpy(&pid, content.data(), 4);
        return pid > 0 ? pid_t(pid) : 0;
    }
    return 0;
}

QByteArray lockedFileId(quint32 major, quint32 minor, quint64 inode)
{
    return QByteArray::number(major, 16).rightJustified(2, '0') + ':' +
           QByteArray::number(minor, 16).rightJustified(2, '0') + ':' + QByteArray::number(inode);
}

// A line reads "1: FLOCK  ADVISORY  WRITE 4242 00:05:87 0 EOF": the process,
// then the file.
QList<pid_t> flockHolders(QByteArrayView procLocks, QByteArrayView fileId)
{
    QList<pid_t> holders;
    for (const QByteArray &line : procLocks.toByteArray().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.at(1) != "FLOCK" || fields.at(5) != fileId)
            continue;
        bool ok = false;
        const int pid = fields.at(4).toInt(&ok);
        if (ok && pid > 0)
            holders.append(pid_t(pid));
    }
    return holders;
}
