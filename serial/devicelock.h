#pragma once

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

private:
    explicit DeviceLock(int fd) : m_fd(fd) {}
    int m_fd;
};

// Whether the device is one of the system's pseudo-terminals.
bool isPseudoTerminalDevice(const QString &device);
