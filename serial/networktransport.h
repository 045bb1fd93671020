#pragma once

#include "networkline.h"
#include "porttransport.h"

class NetworkRedial;

// The bytes of a port on a serial server (an rfc2217:// or tcp:// link):
// one NetworkLine, and once its connection dropped, calls to the server
// until it takes the port again (NetworkRedial). Opening, new settings and
// line changes go out at once; the server's answers come later.
class NetworkTransport : public PortTransport
{
    Q_OBJECT
public:
    explicit NetworkTransport(const PortSetup &setup, QObject *parent = nullptr);
    ~NetworkTransport() override;

    bool open(const QString &target) override;
    void close() override;
    bool isOpen() const override { return m_line.isOpen(); }
    qint64 bytesAvailable() const override { return m_line.bytesAvailable(); }
    QByteArray readAll() override { return m_line.readAll(); }
    bool write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override { return m_line.bytesToWrite(); }
    bool setLine(const LineSettings &settings, const QString &text) override;
    // Only on an rfc2217:// port whose server took the COM-PORT-OPTION.
    bool hasControlLines() const override { return m_line.hasControlLines(); }
    // What the server said of them: its answers and notices.
    ModemLines lines() override;
    void setOutput(ModemOutput line, bool on) override;
    QString awaitReturn(const QString &linkPath) override;

private:
    NetworkLine m_line{this};
    NetworkRedial *m_redial = nullptr; // while the server is called again
    QString m_target;                  // the address as the link gives it
    bool m_opening = false;            // open() waits for the server's answer
};
