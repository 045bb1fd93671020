#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <optional>

// The client side of a telnet connection with the COM-PORT-OPTION (RFC 2217,
// on RFC 854/855/856 and the option state rules of RFC 1143): the bytes a
// port on a serial server sends and how what comes back is taken apart. It
// holds no socket; whoever owns the connection drives it:
//
//     socket.write(codec.opening());
//     socket.write(codec.requestSettings({19200, 8, 'n', 2}));
//     ...
//     socket.write(codec.encode(bytesToSend));
//     ...on readyRead:
//     QByteArray data, reply;
//     codec.decode(socket.readAll(), data, reply);
//     socket.write(reply);      // answers to the server's option requests
//     // data: the serial line's bytes only, nothing of the protocol
//     codec.verdict(asked);     // whether the server took the settings
//
// One object per connection: a new connection needs a new object.
class Rfc2217Client
{
public:
    // Line parameters as the settings text gives them.
    struct Line {
        quint32 baud = 9600;
        int dataBits = 8;    // 5 to 8
        char parity = 'n';   // n, o, e, m, s
        double stopBits = 1; // 1, 1.5 or 2

        friend bool operator==(const Line &, const Line &) = default;
    };

    // What the server reported back for each of the four settings; empty
    // until its answer came.
    struct Answers {
        std::optional<quint32> baud;
        std::optional<int> dataBits;
        std::optional<char> parity;
        std::optional<double> stopBits;
    };

    enum class Verdict {
        Waiting, // not every setting answered yet
        Agreed,  // every setting answered with the value asked for
        Differs, // at least one answered with another value
    };

    // The first bytes to send on a new connection: binary transmission both
    // ways, suppressed go-aheads both ways, and the COM-PORT-OPTION offered.
    // Options already agreed or asked for are not asked again.
    QByteArray opening();

    // The four SET requests (baud rate, data size, parity, stop size) for
    // these settings; forgets earlier answers. Empty for a value the option
    // cannot carry (a data size outside 5 to 8, an unknown parity or stop
    // size, a baud rate of 0, which would only ask for the current one).
    QByteArray requestSettings(const Line &line);

    // The bytes for data to go out on the serial line.
    QByteArray encode(QByteArrayView data) const;

    // The modem lines and the break (SET-CONTROL, with the option's values).
    enum class Control : quint8 {
        BreakOn = 5,
        BreakOff = 6,
        DtrOn = 8,
        DtrOff = 9,
        RtsOn = 11,
        RtsOff = 12,
    };
    // The request for one change; forgets the earlier answer for that line,
    // so the server's answer to this one tells how the line is now.
    QByteArray requestControl(Control control);
    // Asks the server to tell every change of the input lines (CTS, DSR, RI,
    // DCD) and none of the line's own state (data ready, errors, which
    // nobody here shows).
    QByteArray requestModemNotices() const;

    // What the server said of the lines: its answers to SET-CONTROL and its
    // last NOTIFY-MODEMSTATE. Empty until it said it.
    struct Lines {
        std::optional<bool> dtr, rts, breakOn;
        std::optional<quint8> modemState; // the bits below, and their changes in the low four
    };
    static constexpr quint8 ModemCts = 0x10, ModemDsr = 0x20, ModemRi = 0x40, ModemDcd = 0x80;
    const Lines &lines() const { return m_lines; }

    // Takes bytes as they arrive, in chunks of any size and split anywhere.
    // Appends the serial line's bytes to `data` and what must be sent back to
    // the server (answers to its option requests) to `reply`.
    void decode(QByteArrayView in, QByteArray &data, QByteArray &reply);

    Verdict verdict(const Line &asked) const;

    // The telnet option of serial servers (RFC 2217).
    static constexpr quint8 OptComPort = 44;

    // Whether we send, and the server sends, in binary mode (else NVT rules
    // apply to CR in that direction).
    bool sendsBinary() const { return state(Us, OptBinary) == Yes; }
    bool receivesBinary() const { return state(Him, OptBinary) == Yes; }
    // Whether the server agreed to, or refused, the COM-PORT-OPTION; neither
    // while its answer is still out.
    bool comPortAgreed() const { return state(Us, OptComPort) == Yes; }
    bool comPortRefused() const { return m_comPortRefused; }

    // A server asks for options a handful of times, at the start and now and
    // then; even one that asked for each of the 256 options both ways and
    // twice over would draw no more answers than this. One that wants more
    // keeps us answering and never stops: its requests go unanswered from
    // then on, and whoever owns the connection hangs up (pestered()). So no
    // more than 3 KB of answers ever wait for a server that does not read.
    static constexpr int AnswerBudget = 1024;
    bool pestered() const { return m_pestered; }

private:
    // Option states of RFC 1143, without its queue: we never change our mind
    // while a request is out.
    enum OptionState : quint8 { No, Yes, WantNo, WantYes };
    enum Side { Us, Him };
    static constexpr quint8 OptBinary = 0;

    enum class Parse : quint8 { Data, Iac, Verb, Sb, SbIac };

    OptionState state(Side side, quint8 option) const { return m_options[side][option]; }
    void ask(QByteArray &out, Side side, quint8 option);
    void answer(QByteArray &reply, quint8 verb, quint8 option);
    void negotiate(quint8 verb, quint8 option, QByteArray &reply);
    void command(char c, QByteArray &data);
    void subnegotiation();
    void notice(quint8 answer, quint8 value);
    void dataByte(char c, QByteArray &data);

    std::array<std::array<OptionState, 256>, 2> m_options{};
    Answers m_answers;
    Lines m_lines;
    bool m_comPortRefused = false;
    int m_answered = 0;
    bool m_pestered = false;

    Parse m_parse = Parse::Data;
    quint8 m_verb = 0;
    bool m_afterCr = false; // a CR came in while the server sends in NVT mode
    QByteArray m_sb;        // the current subnegotiation, option byte first
};
