#pragma once

#include "linesettings.h"
#include "networkaddress.h"
#include "openlevels.h"
#include "rfc2217.h"

#include <QByteArray>
#include <QIODevice>

#include <optional>

class QTcpSocket;
class QTimer;

// A port on a serial server, read and written like a device: what is read
// are the serial line's bytes only and what is written reaches the far line
// unchanged, whatever the telnet framing of an rfc2217:// port does on the
// way. One TCP connection at a time, driven from the event loop of the
// thread that owns it; nothing here waits: what the server answers comes as
// signals.
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

    // Opens: ends in opened(), or in refused() with 8002 for an unknown
    // host, a refused or unanswered connection and a server that cannot open
    // its device, 8005 for a server whose port is taken, 380 when the server
    // set another value than asked. close() ends it without a word.
    void begin(const LineSettings &settings);
    // Asks the server of the open port for new settings. True when it was
    // asked: lineAnswered() tells later whether it set them. False when there
    // is nothing to ask (a tcp:// port, a value the option cannot carry).
    bool setLine(const LineSettings &settings);

    // DTR and RTS at every opening from now on (a call back after a dropped
    // connection included); both on unless told otherwise.
    void setOpenLevels(const OpenLevels &levels) { m_openLevels = levels; }
    // Whether the port has modem lines: an rfc2217:// port whose server took
    // the COM-PORT-OPTION.
    bool hasControlLines() const { return telnet() && m_codec.comPortAgreed(); }
    // What the server said of the lines (its answers and notices).
    const Rfc2217Client::Lines &controlLines() const { return m_codec.lines(); }
    // Asks the server for a change of DTR, RTS or the break. True when its
    // answer is awaited: controlAnswered() tells it. What servers answer to a
    // break differs, and nothing shows the break's state: it is asked for and
    // not waited for.
    bool setControl(Rfc2217Client::Control control);

    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

Q_SIGNALS:
    void opened();
    void refused(int number, const QString &description);
    // The connection of the open port went away.
    void dropped();
    // The server answered the settings asked for last; `taken`: it set them.
    // A server silent for AnswerBoundMs does not set its line: taken.
    void lineAnswered(bool taken);
    // The server answered a change of DTR or RTS; `asWanted`: the line is as
    // asked, or the server said nothing within AnswerBoundMs (the line then
    // reads as unknown).
    void controlAnswered(Rfc2217Client::Control asked, bool asWanted);

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
    // Tells the answers that came (or, once the bound passed, that did not).
    void settleAnswers(bool timeUp);
    void forgetAsked();

    NetworkAddress m_address;
    QTcpSocket *const m_socket;
    QTimer *const m_bound;
    Rfc2217Client m_codec;
    Rfc2217Client::Line m_asked;
    // Sent and not answered yet: the settings, a change of DTR or RTS.
    bool m_askingLine = false;
    std::optional<Rfc2217Client::Control> m_askedDtr, m_askedRts;
    OpenLevels m_openLevels;
    State m_state = State::Closed;

    // Received line bytes not read yet.
    QByteArray m_data;
    qsizetype m_pos = 0;
};
