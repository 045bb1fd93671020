#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <sys/types.h>

// What other programs leave behind about the ports they hold, read as text:
// the content of a UUCP lock file and the kernel's list of file locks
// (/proc/locks). Finding and reading the files is the port layer's business.

// The PID in a UUCP lock file: ten ASCII digits padded with blanks (what
// most programs write, Qt's lock files included, whose first line is the
// PID), or a 4-byte binary number (older programs). 0 when there is none.
pid_t lockFilePid(QByteArrayView content);

// How /proc/locks names a file: the file system's device as hex
// major:minor, at least two digits each, then the inode ("00:05:87").
QByteArray lockedFileId(quint32 major, quint32 minor, quint64 inode);

// The processes that /proc/locks lists with a flock on the file of that
// id, in its order. Waiters ("->") hold nothing, and POSIX record locks do
// not keep our flock away.
QList<pid_t> flockHolders(QByteArrayView procLocks, QByteArrayView fileId);
