#pragma once

#include "porttransport.h"

#include <QSerialPort>
#include <QStringList>
#include <QTimer>

#include <memory>

class DeviceLock;
class DeviceReturn;

// The bytes of a port through a serial device (or the pseudo-terminals of
// tests and the simulated instrument) with QSerialPort: Kavro's own lock on
// the device while it is open (DeviceLock), the lines through the driver and
// read back after each change, a slow look whether the device is still there,
// and once it went away the wait for its return (DeviceReturn). Everything
// happens at once: nothing is answered later.
class DeviceTransport : public PortTransport
{
    Q_OBJECT
public:
    // lockDirs: the folders where programs leave UUCP lock files.
    DeviceTransport(const PortSetup &setup, const QStringList &lockDirs, QObject *parent = nullptr);
    ~DeviceTransport() override;

    bool open(const QString &target) override;
    void close() override;
    bool isOpen() const override { return m_serial.isOpen(); }
    qint64 bytesAvailable() const override { return m_serial.bytesAvailable(); }
    QByteArray readAll() override { return m_serial.readAll(); }
    bool write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override { return m_serial.bytesToWrite(); }
    QSocketNotifier *readNotifier() override;
    bool setLine(const LineSettings &settings, const QString &text) override;
    bool hasControlLines() const override { return true; }
    // DTR and RTS read back from the device (pinoutSignals).
    ModemLines lines() override;
    void setOutput(ModemOutput line, bool on) override;
    // An old lock file on the device that could not be removed.
    QString notice() const override { return m_notice; }
    QString awaitReturn(const QString &linkPath) override;

private:
    void forgetError();
    void openDevice(const QString &path, bool fresh);
    void lowerForOpening(const QString &path);
    bool setOnDevice(ModemOutput line, bool on, QString &reason);
    bool gone() const;
    void onError(QSerialPort::SerialPortError error);
    void letGo();

    const QStringList m_lockDirs;
    QSerialPort m_serial{this};
    std::unique_ptr<DeviceLock> m_lock;
    QString m_device;    // the path the open device was opened by
    QString m_notice;    // what its opening has to tell
    bool m_live = false; // open and watched: its failures are news
    // A slow look whether the open device is still there, for the rare
    // vanishing that QSerialPort does not report.
    QTimer m_presence;
    DeviceReturn *m_return = nullptr; // while the device is awaited

    bool m_changingLines = false; // a line is being set or read: its failure is that call's
    bool m_writing = false;       // write() is handing bytes over
    bool m_writeFailed = false;   // ... and a write failed meanwhile
};
