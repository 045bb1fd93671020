#pragma once

#include "portstatus.h"

#include <QString>
#include <QStringList>

#include <memory>

// Kavro's own hold on a serial device, for as long as this object lives: a
// descriptor of its own with an exclusive flock on it, which every program
// that asks sees as "taken" (a device's exclusive flag does not stop root, and
// a UUCP lock file is only a convention). Taking it is also where the reasons
// a device cannot be had are told apart.
class DeviceLock
{
public:
    // Takes the device or throws KavroError: 8005 when another program holds
    // it (a live lock file in one of lockDirs, a flock, or the exclusive flag
    // of a program that still has it open), 8002 when it is not there, 8015
    // when the system refuses access, 8022 otherwise. `fresh`: what waited
    // in the device from before is dropped (a new opening, not a return).
    // Lock files of programs that have ended are removed once the device is
    // held; one that cannot be removed does not keep the device from us.
    static std::unique_ptr<DeviceLock> take(const QString &device, const QStringList &lockDirs,
                                            bool fresh);
    ~DeviceLock();
    DeviceLock(const DeviceLock &) = delete;
    DeviceLock &operator=(const DeviceLock &) = delete;

    // The device hung up or failed (a USB adapter pulled, a pseudo-terminal's
    // far end closed).
    bool hungUp() const;
    // A pseudo-terminal has no line of its own: no speed, no character format,
    // no modem lines.
    bool isPseudoTerminal() const;

    // The name under which QSerialPort opens the device beside this lock:
    // the device itself, or, while an old lock file on it stays, this lock's
    // own descriptor as /proc shows it. QSerialPort keeps a lock file of its
    // own named after what it opens and refuses a name whose stale lock file
    // it cannot remove; the flock and the exclusive flag keep others out.
    QString openName(const QString &device) const;
    // What the operator is told about the old lock files that stayed; empty
    // when none did.
    QString notice() const;

private:
    explicit DeviceLock(int fd) : m_fd(fd) {}
    int m_fd;
    QList<PortStatus::LeftLock> m_left;
};

// Whether the device is one of the system's pseudo-terminals.
bool isPseudoTerminalDevice(const QString &device);
