#pragma once

#include "lineassembler.h"

#include <QByteArray>
#include <QList>
#include <QString>

class CaptureSink;
class MessageBoxes;
class QComboBox;
class QGroupBox;
class QPushButton;
class QRadioButton;
class SerialPort;

// The window's own controls, as the handlers of the serial link use them. The
// window's widgets implement these; tests may give stand-ins.
class LampControl
{
public:
    // Fill colours as 0x00BBGGRR numbers.
    static constexpr quint32 Red = 255;
    static constexpr quint32 Green = 65280;
    // The port is open, its device gone and waited for.
    static constexpr quint32 Amber = 0x0080FF;

    virtual ~LampControl() = default;
    virtual void setFillColor(quint32 bgr) = 0;
};

class ReceiveControl
{
public:
    virtual ~ReceiveControl() = default;
    // The box's text becomes these lines joined (each complete one ends in
    // CR LF); written once per receive event.
    virtual void setLines(const QList<QByteArray> &lines) = 0;
    virtual void clearText() = 0;
};

class CommandControl
{
public:
    virtual ~CommandControl() = default;
    // The command as typed; a line break made with Enter reads as CR LF.
    virtual QString text() const = 0;
    virtual void setText(const QString &text) = 0;
};

// The controls the handlers of the serial link read and write.
struct LinkControls {
    QPushButton *Verbind = nullptr;
    LampControl *Shape1 = nullptr;
    QGroupBox *Frame5 = nullptr;
    QComboBox *Baud = nullptr;
    QComboBox *Comport = nullptr;
    QRadioButton *even = nullptr;
    QRadioButton *odd = nullptr;
    QRadioButton *non = nullptr;
    QRadioButton *acht = nullptr;
    QRadioButton *sieben = nullptr;
    QRadioButton *eins = nullptr;
    QRadioButton *zwei = nullptr;
    CommandControl *SendWin = nullptr;
    // "kein Zeichen" (Option1) is what remains when none of these is chosen.
    QRadioButton *Option2 = nullptr;
    QRadioButton *Option3 = nullptr;
    QRadioButton *Option4 = nullptr;
    QRadioButton *Option5 = nullptr;
    ReceiveControl *Empfang = nullptr;
};

// The handlers of the serial link: opening and closing the port, sending a
// command, and the receive view with its line state.
class SerialLink
{
public:
    SerialLink(const LinkControls &controls, SerialPort &port, MessageBoxes &boxes,
               CaptureSink &capture);

    void Verbind_Click();
    void send_win_Click();
    void clear_send_Click();
    void MSComm1_OnComm();
    void clear_empf_Click();

    // The line state of the receive view (RecvLines, RecvLineIdx, LineEndSeen).
    const LineAssembler &lines() const { return m_recv; }

private:
    void openSequence();
    void closeSequence();

    const LinkControls m_c;
    SerialPort &m_port;
    MessageBoxes &m_boxes;
    CaptureSink &m_capture;
    LineAssembler m_recv;
};
