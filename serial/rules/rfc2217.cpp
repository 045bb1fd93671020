#include "rfc2217.h"

#include <utility>

namespace
{

// Telnet commands (RFC 854).
constexpr char Iac = char(255);
constexpr quint8 Dont = 254, Do = 253, Wont = 252, Will = 251, Sb = 250, Se = 240;
constexpr char Cr = '\r';

constexpr quint8 OptSuppressGoAhead = 3;

// COM-PORT-OPTION requests; the server's answers carry the same number + 100.
constexpr quint8 SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4;
constexpr quint8 SetControl = 5, NotifyModemState = 7, SetLineStateMask = 10,
                 SetModemStateMask = 11;
constexpr quint8 ServerOffset = 100;

// A subnegotiation longer than this is none we read (ours are at most six
// bytes); the rest of it is skipped so a broken server cannot grow our memory.
constexpr qsizetype SbLimit = 64;

constexpr char parityLetters[] = {'n', 'o', 'e', 'm', 's'}; // codes 1 to 5

std::optional<quint8> parityCode(char letter)
{
    for (quint8 i = 0; i < sizeof parityLetters; ++i)
        if (parityLetters[i] == letter)
            return quint8(i + 1);
    return std::nullopt;
}

std::optional<quint8> stopCode(double stopBits)
{
    if (stopBits == 1)
        return 1;
    if (stopBits == 2)
        return 2;
    if (stopBits == 1.5)
        return 3;
    return std::nullopt;
}

void appendCommand(QByteArray &out, quint8 verb, quint8 option)
{
    out.append(Iac).append(char(verb)).append(char(option));
}

void appendComPort(QByteArray &out, quint8 request, QByteArrayView value)
{
    out.append(Iac).append(char(Sb)).append(char(Rfc2217Client::OptComPort)).append(char(request));
    for (char c : value) {
        out.append(c);
        if (c == Iac)
            out.append(Iac);
    }
    out.append(Iac).append(char(Se));
}

// The options we take on: binary transmission and suppressed go-aheads both
// ways (a serial line is a full-duplex byte stream), and the COM-PORT-OPTION
// on our side only. Anything else, echo included, is refused: the device's
// own echo is all the operator should see.
bool acceptable(bool ours, quint8 option)
{
    return option == 0 || option == OptSuppressGoAhead ||
           (ours && option == Rfc2217Client::OptComPort);
}

} // namespace

QByteArray Rfc2217Client::opening()
{
    QByteArray out;
    ask(out, Us, OptBinary);
    ask(out, Him, OptBinary);
    ask(out, Us, OptSuppressGoAhead);
    ask(out, Him, OptSuppressGoAhead);
    ask(out, Us, OptComPort);
    return out;
}

void Rfc2217Client::ask(QByteArray &out, Side side, quint8 option)
{
    OptionState &s = m_options[side][option];
    if (s != No)
        return;
    s = WantYes;
    appendCommand(out, side == Us ? Will : Do, option);
}

QByteArray Rfc2217Client::requestSettings(const Line &line)
{
    const std::optional<quint8> parity = parityCode(line.parity);
    const std::optional<quint8> stop = stopCode(line.stopBits);
    if (line.baud == 0 || line.dataBits < 5 || line.dataBits > 8 || !parity || !stop)
        return {};
    m_answers = {};
    const char baud[4] = {char(line.baud >> 24), char(line.baud >> 16), char(line.baud >> 8),
                          char(line.baud)};
    QByteArray out;
    appendComPort(out, SetBaudRate, QByteArrayView(baud, 4));
    appendComPort(out, SetDataSize, QByteArray(1, char(line.dataBits)));
    appendComPort(out, SetParity, QByteArray(1, char(*parity)));
    appendComPort(out, SetStopSize, QByteArray(1, char(*stop)));
    return out;
}

QByteArray Rfc2217Client::encode(QByteArrayView data) const
{
    // Without binary mode a lone CR means nothing in NVT; CR NUL is the bare
    // carriage return. Sending it after every CR, LF or not, keeps the rule
    // independent of where the caller splits its data, and a server that
    // keeps NVT rules hands the device exactly the CR it was given.
    const bool nvt = !sendsBinary();
    QByteArray out;
    out.reserve(data.size() + data.size() / 16 + 8);
    for (char c : data) {
        out.append(c);
        if (c == Iac)
            out.append(Iac);
        else if (c == Cr && nvt)
            out.append('\0');
    }
    return out;
}

void Rfc2217Client::dataByte(char c, QByteArray &data)
{
    // In NVT mode the server sends a bare CR as CR NUL: the NUL is not data.
    const bool afterCr = std::exchange(m_afterCr, false);
    if (c == '\0' && afterCr)
        return;
    data.append(c);
    m_afterCr = c == Cr && !receivesBinary();
}

void Rfc2217Client::decode(QByteArrayView in, QByteArray &data, QByteArray &reply)
{
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        const quint8 b = quint8(c);
        switch (m_parse) {
        case Parse::Data:
            if (c == Iac) {
                m_parse = Parse::Iac;
            } else if (receivesBinary() && !m_afterCr) {
                // The bulk of a flood: everything up to the next IAC at once.
                qsizetype end = in.indexOf(Iac, i);
                if (end < 0)
                    end = in.size();
                data.append(in.sliced(i, end - i));
                i = end - 1;
            } else {
                dataByte(c, data);
            }
            break;
        case Parse::Iac:
            command(c, data);
            break;
        case Parse::Verb:
            negotiate(m_verb, b, reply);
            m_parse = Parse::Data;
            break;
        case Parse::Sb:
            if (c == Iac)
                m_parse = Parse::SbIac;
            else if (m_sb.size() <= SbLimit)
                m_sb.append(c);
            break;
        case Parse::SbIac:
            if (c == Iac) {
                if (m_sb.size() <= SbLimit)
                    m_sb.append(c);
                m_parse = Parse::Sb;
            } else if (b == Se) {
                subnegotiation();
                m_parse = Parse::Data;
            } else {
                // IAC and anything but SE or IAC inside a subnegotiation:
                // the server forgot to end it. Drop it and read the command.
                command(c, data);
            }
            break;
        }
    }
}

void Rfc2217Client::command(char c, QByteArray &data)
{
    const quint8 b = quint8(c);
    m_parse = Parse::Data;
    if (c == Iac) {
        dataByte(c, data);
    } else if (b >= Will) { // WILL, WONT, DO, DONT
        m_verb = b;
        m_parse = Parse::Verb;
    } else if (b == Sb) {
        m_sb.clear();
        m_parse = Parse::Sb;
    }
    // NOP, data mark, break, go-ahead and the rest carry nothing for a
    // serial line.
}

void Rfc2217Client::negotiate(quint8 verb, quint8 option, QByteArray &reply)
{
    // The state rules of RFC 1143: a request for the state an option already
    // has is not answered, so two sides that both acknowledge never loop.
    const bool ours = verb == Do || verb == Dont;
    const bool enable = verb == Will || verb == Do;
    OptionState &s = m_options[ours ? Us : Him][option];
    const quint8 yes = ours ? Will : Do;
    const quint8 no = ours ? Wont : Dont;
    if (enable) {
        switch (s) {
        case No:
            if (acceptable(ours, option)) {
                s = Yes;
                answer(reply, yes, option);
            } else {
                answer(reply, no, option);
            }
            break;
        case WantYes:
            s = Yes;
            break;
        case WantNo: // our refusal answered by consent: the refusal stands
            s = No;
            break;
        case Yes:
            break;
        }
    } else {
        if (s == Yes)
            answer(reply, no, option);
        if (ours && option == OptComPort && s != No)
            m_comPortRefused = true;
        s = No;
    }
}

void Rfc2217Client::answer(QByteArray &reply, quint8 verb, quint8 option)
{
    // Past the budget the option's state still moves as the server asked;
    // the connection is about to end anyway.
    if (m_answered == AnswerBudget) {
        m_pestered = true;
        return;
    }
    ++m_answered;
    appendCommand(reply, verb, option);
}

void Rfc2217Client::subnegotiation()
{
    if (m_sb.size() < 3 || quint8(m_sb[0]) != OptComPort || m_sb.size() > SbLimit)
        return;
    const quint8 answer = quint8(m_sb[1]);
    const QByteArrayView value = QByteArrayView(m_sb).sliced(2);
    const quint8 v = quint8(value[0]);
    switch (answer) {
    case ServerOffset + SetBaudRate:
        if (value.size() == 4)
            m_answers.baud = quint32(v) << 24 | quint32(quint8(value[1])) << 16 |
                             quint32(quint8(value[2])) << 8 | quint8(value[3]);
        break;
    case ServerOffset + SetDataSize:
        m_answers.dataBits = v;
        break;
    case ServerOffset + SetParity:
        if (v >= 1 && v <= sizeof parityLetters)
            m_answers.parity = parityLetters[v - 1];
        else
            m_answers.parity = '?';
        break;
    case ServerOffset + SetStopSize:
        m_answers.stopBits = v == 1 ? 1.0 : v == 2 ? 2.0 : v == 3 ? 1.5 : 0.0;
        break;
    default: // the lines, the signature and the line state notices
        notice(answer, v);
        break;
    }
}

Rfc2217Client::Verdict Rfc2217Client::verdict(const Line &asked) const
{
    const Answers &a = m_answers;
    if ((a.baud && *a.baud != asked.baud) || (a.dataBits && *a.dataBits != asked.dataBits) ||
        (a.parity && *a.parity != asked.parity) || (a.stopBits && *a.stopBits != asked.stopBits))
        return Verdict::Differs;
    return a.baud && a.dataBits && a.parity && a.stopBits ? Verdict::Agreed : Verdict::Waiting;
}

QByteArray Rfc2217Client::requestControl(Control control)
{
    switch (control) {
    case Control::BreakOn:
    case Control::BreakOff:
        m_lines.breakOn.reset();
        break;
    case Control::DtrOn:
    case Control::DtrOff:
        m_lines.dtr.reset();
        break;
    case Control::RtsOn:
    case Control::RtsOff:
        m_lines.rts.reset();
        break;
    }
    QByteArray out;
    appendComPort(out, SetControl, QByteArray(1, char(control)));
    return out;
}

QByteArray Rfc2217Client::requestModemNotices() const
{
    // The server tells the state ANDed with the mask, and only when that is
    // not zero: the change bits in the mask make "all lines dropped" a
    // notice too.
    QByteArray out;
    appendComPort(out, SetLineStateMask, QByteArray(1, '\0'));
    appendComPort(out, SetModemStateMask, QByteArray(1, char(0xff)));
    return out;
}

void Rfc2217Client::notice(quint8 answer, quint8 value)
{
    if (answer == ServerOffset + NotifyModemState) {
        m_lines.modemState = value;
        return;
    }
    if (answer != ServerOffset + SetControl)
        return;
    // The server answers each change, and each question for a state, with
    // the state now; values for the flow control are of no concern here.
    switch (Control(value)) {
    case Control::BreakOn:
    case Control::BreakOff:
        m_lines.breakOn = Control(value) == Control::BreakOn;
        break;
    case Control::DtrOn:
    case Control::DtrOff:
        m_lines.dtr = Control(value) == Control::DtrOn;
        break;
    case Control::RtsOn:
    case Control::RtsOff:
        m_lines.rts = Control(value) == Control::RtsOn;
        break;
    }
}
