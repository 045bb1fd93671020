#pragma once

#include "linesettings.h"
#include "portmap.h"
#include "serialport.h"

#include <QByteArray>

#include <memory>

// The serial port component: its state (open, closed, its line given up, or
// away and waited for), the pacing of slow lines, output and the rules of
// its modem lines, over one of two transports that each port number may
// name: a device through QSerialPort (real ones, and the pseudo-terminals of
// tests and the simulated instrument), or a port on a serial server.
//
// At every opening (and when a vanished line comes back) DTR and RTS take
// the levels kept for the port number ("Beim Öffnen", OpenLevels) before
// anything is sent; a device that refuses is told through Failed and the
// port opens all the same.
class DeviceSerialPort : public SerialPort
{
    Q_OBJECT
public:
    // Where the port looks: how numbers map to devices, the folders where
    // programs leave UUCP lock files, and the folders whose changes mean that
    // devices came or went (the link folder is always watched).
    struct Environment {
        PortMap map;
        QStringList lockDirs;
        QStringList watchDirs = {};
    };
    // The machine's own: the link folder and the ports the system reports,
    // the system's lock folders, and /dev.
    static Environment system();

    explicit DeviceSerialPort(QObject *parent = nullptr);
    DeviceSerialPort(const Environment &environment, QObject *parent = nullptr);
    ~DeviceSerialPort() override;

    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    bool isOpening() const override;
    qint16 CommPort() const override;
    void setCommPort(qint16 port) override;
    QString Settings() const override;
    void setSettings(const QString &settings) override;
    void setOutput(const QString &text) override;
    qint64 OutBufferCount() const override;
    // An old lock file on the device that could not be removed.
    QString openNotice() const override;
    // DTR and RTS read back from the device after each change; a refusal is
    // 8020 with the system's reason. A tcp:// port has none.
    ModemControl &modemLines() override;

    const Environment &environment() const;

    // The device of the open port (empty while closed).
    QString DevicePath() const;

protected:
    qint64 lineHolds() override;
    void takeFromLine() override;

private:
    // implementation details are the port layer's own
    struct Private;
    const std::unique_ptr<Private> d;
};
