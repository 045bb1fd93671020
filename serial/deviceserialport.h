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
    explicit DeviceSerialPort(QObject *parent = nullptr);
    ~DeviceSerialPort() override;

    // How port numbers find their devices; PortMap::system() unless set.
    void setPortMap(const PortMap &map);

    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    qint16 CommPort() const override;
    void setCommPort(qint16 port) override;
    QString Settings() const override;
    void setSettings(const QString &settings) override;
    void setOutput(const QString &text) override;
    qint16 InBufferCount() override;
    QByteArrayView Input() override;

    // The device path of the open port (empty while closed).
    QString devicePath() const;

private:
    // implementation details are the port layer's own
    struct Private;
    Private *const d;
};
