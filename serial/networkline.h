#pragma once

#include "linesettings.h"
#include "networkaddress.h"
#include "openlevels.h"
#include "rfc2217.h"

#include <QByteArray>
#include <QIODevice>

#include <functional>

class QEventLoop;
class QTcpSocket;
class QTimer;

// A port on a serial server, read and written like a device: what is read
// are the serial line's bytes only and what is written reaches the far line
// unchanged, whatever the telnet framing of an rfc2217:// port does on the
// way. One TCP connection at a time, driven from the event loop of the
// thread that owns it.
//
// Opening connects (at most 5 s, name lookup included), then on an
// rfc2217:// port agrees on binary transmission and the COM-PORT-OPTION and
// sets the line; the device reads as open (isOpen()) only once that is done.
// A server that took the COM-PORT-OPTION is then asked for DTR and RTS at
// their levels for opening and to tell every change of the input lines,
// before any data goes out.
class NetworkLine : public QIODevice
{
    Q_OBJECT
public:
    static constexpr int ConnectBoundMs = 5000;
    // How long the server's answers to the settings are waited for; a server
    // silent that long is taken as one that does not set its line.
    static constexpr int AnswerBoundMs = 2000;
    // A raw TCP server that refuses a client accepts and closes at once; a
    // connection that outlives this is taken as accepted.
    static constexpr int SettleMs = 300;

    explicit NetworkLine(QObject *parent = nullptr);
    NetworkLine(const NetworkAddress &address, QObject *parent = nullptr);
    ~NetworkLine() override;

    // Where the next opening calls.
    void setAddress(const NetworkAddress &address) { m_address = address; }
    const NetworkAddress &address() const { return m_address; }

    // Opens and returns once the line is usable, keeping the window painted
    // meanwhile but dropping the operator's clicks and keys; throws
    // KavroError: 8002 for an unknown host, a refused or unanswered
    // connection and a server that cannot open its device, 8005 for a server
    // whose port is taken, 380 when the server set another value than asked,
    // 8022 when a window was closed meanwhile (it closes once this returns).
    void open(const LineSettings &settings);
    // The same without waiting: ends in opened() or refused().
    void begin(const LineSettings &settings);
    // Sets the line of an open port; false when the server answered with
    // another value than asked. Waits for the answers as open() does.
    bool setLine(const LineSettings &settings);

    // DTR and RTS at every opening from now on (a call back after a dropped
    // connection included); both on unless told otherwise.
    void setOpenLevels(const OpenLevels &levels) { m_openLevels = levels; }
    // Whether the port has modem lines: an rfc2217:// port whose server took
    // the COM-PORT-OPTION.
    bool hasControlLines() const { return telnet() && m_codec.comPortAgreed(); }
    // What the server said of the lines (its answers and notices).
    const Rfc2217Client::Lines &controlLines() const { return m_codec.lines(); }
    // Asks the server for a line change and waits for its answer as
    // setLine() does; false when it answered that the line is otherwise. A
    // break is asked for and not waited for.
    bool setControl(Rfc2217Client::Control control);

    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

Q_SIGNALS:
    void opened();
    void refused(int number, const QString &description);
    // The connection of the open port went away.
    void dropped();
    // A wait of open() or setLine() for the server begins or ends: it runs a
    // local event loop, in which the operator must not start anything;
    // close() ends it at once.
    void waitBegins();
    void waitEnds();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    enum class State { Closed, Connecting, Negotiating, Open };

    bool telnet() const { return m_address.scheme == NetworkAddress::Scheme::Rfc2217; }
    void onConnected();
    void onReadyRead();
    void onGone();
    void hangUp();
    void checkNegotiation();
    void fail(int number, const QString &description);
    void succeed();
    // Runs a local event loop until `done` holds or the line closes.
    void waitUntil(const std::function<bool()> &done);
    void wake();

    NetworkAddress m_address;
    QTcpSocket *const m_socket;
    QTimer *const m_bound;
    Rfc2217Client m_codec;
    Rfc2217Client::Line m_asked;
    bool m_asking = false; // settings or a line change sent and not yet answered
    OpenLevels m_openLevels;
    State m_state = State::Closed;

    // Received line bytes not read yet.
    QByteArray m_data;
    qsizetype m_pos = 0;

    QEventLoop *m_waitLoop = nullptr;
    std::function<bool()> m_waitDone;

    int m_failNumber = 0;
    QString m_failText;
};
