#pragma once

#include "linesettings.h"
#include "portmap.h"
#include "serialport.h"

#include <QByteArray>

class QSerialPort;

// The serial port component over QSerialPort, for real devices (and the
// pseudo-terminals of tests and the simulated instrument).
class DeviceSerialPort : public SerialPort
{
    Q_OBJECT
public:
    // Where the port looks: how numbers map to devices, and the folders where
    // programs leave UUCP lock files.
    struct Environment
    {
        PortMap map;
        QStringList lockDirs;
    };
    // The machine's own: the link folder and the ports the system reports,
    // and the system's lock folders.
    static Environment system();

    explicit DeviceSerialPort(QObject *parent = nullptr);
    DeviceSerialPort(const Environment &environment, QObject *parent = nullptr);
    ~DeviceSerialPort() override;

    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    qint16 CommPort() const override;
    void setCommPort(qint16 port) override;
    QString Settings() const override;
    void setSettings(const QString &settings) override;
    void setOutput(const QString &text) override;
    qint16 InBufferCount() override;
    QByteArrayView Input() override;

    // The device of the open port (empty while closed).
    QString DevicePath() const;

private:
    // implementation details are the port layer's own
    struct Private;
    Private *const d;
};
