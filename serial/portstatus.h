#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

// Whether a device is free for us, found without opening it: opening a tty
// raises DTR, and many boards reset when it rises. Shared by the port, which
// refuses a taken device, and the port list, which only looks.
class PortStatus
{
public:
    enum State {
        Free,
        Missing,   // no such device (any more)
        NotSerial, // there, but no serial device (a plain file, a folder, /dev/null)
        NoAccess,  // the current user may not read and write it
        Busy,      // another program holds it
        OpenHere,  // this program holds it
    };

    // Everything that can be learned without an open, in the order opening
    // meets the obstacles. An exclusive flag (TIOCEXCL) only shows to an open
    // and is not seen here.
    static State look(const QString &device, const QStringList &lockDirs);

    // Whether the device can be a port: a character device of the terminal
    // kind (a UART, a USB adapter, a pseudo-terminal), told without opening
    // it. A plain file, a FIFO, a folder or /dev/null is none.
    static bool isSerialDevice(const QString &device);

    // Whether another living program has put a UUCP lock file on the device.
    static bool lockedByOtherProgram(const QString &device, const QStringList &lockDirs);

    // A lock file on the device that names a process that has ended, and
    // that could not be removed (another user's in a folder with the sticky
    // bit, as /run/lock is: a Kavro run with sudo and killed leaves one).
    struct LeftLock {
        QString path;
        pid_t pid;
        int error; // errno of the removal
    };
    // Removes the lock files on the device whose process has ended, whoever
    // owns them, as every program that honours them does; returns those that
    // stay.
    static QList<LeftLock> removeStaleLocks(const QString &device, const QStringList &lockDirs);

    // The process holding a flock on the device, by its inode in /proc/locks;
    // 0 when none does.
    static pid_t flockHolder(const QString &device);

    // Whether a descriptor other than `own` is open on the device, in this
    // process or any other the system lets us see.
    static bool heldElsewhere(const QString &device, int own);

    // Whether the current user may read and write the device.
    static bool mayOpen(const QString &device);
};
