#pragma once

#include "commandtext.h"
#include "kavroerror.h"
#include "lineassembler.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class CaptureSink;
class MessageBoxes;
class SerialPort;

// The port's state as the operator sees it: the caption of "Öffnen", the
// lamp, whether the parameters may be changed.
enum class PortState {
    Closed,  // "Öffnen", red, parameters free
    Open,    // "Schließen", green, parameters locked
    Waiting, // open, but its device is away and waited for: amber
};

// The parameter frame as the open sequence reads it when "Öffnen" is clicked:
// the texts of the two boxes as they stand, and for each option group the
// letter of its selected button, empty when none is selected.
struct PortChoice {
    QString comport;
    QString baud;
    QString parity;   // "e", "o", "n"
    QString dataBits; // "8", "7"
    QString stopBits; // "1", "2"
};

// The handlers of the serial link: opening and closing the port, sending a
// command, and the receive view with its line state. They take the values
// they need and tell what changed through signals; the window reads its
// controls for them and shows what they tell. No widget in here.
class SerialLink : public QObject
{
    Q_OBJECT
public:
    SerialLink(SerialPort &port, MessageBoxes &boxes, CaptureSink &capture,
               QObject *parent = nullptr);

    // "Öffnen" and "Schließen". A port on a serial server opens in the
    // background (openingPending()); the click ends in finishOpening once the
    // port has told how its opening went.
    void Verbind_Click(const PortChoice &choice);
    void finishOpening(const std::optional<KavroError> &failure);
    bool openingPending() const { return m_pendingPort.has_value(); }
    void send_win_Click(const QString &command, Terminator terminator);
    // A saved command (or an automatic reply) goes out: these bytes as they
    // stand, under a name as the history shows it ("Befehl „Status“"). Empty when they were handed
    // to the port, else why not, in the operator's words; nothing is thrown.
    QString sendCommandBytes(QByteArrayView bytes, const QString &name);
    // The name of the saved command being sent, while sendCommandBytes
    // runs (for whoever records what went out); empty otherwise.
    const QString &sendingName() const { return m_sendingName; }
    void MSComm1_OnComm();
    void clear_empf_Click();

    // While a file transfer has the line, `reason` (German, for the status)
    // says so: commands are refused with it, and Empfang shows it as one
    // line instead of the protocol's bytes (the capture still gets every
    // byte). Empty when the line is free; `after` is the line Empfang shows
    // when it is given back.
    void setLineOwner(const QString &reason, const QString &after = {});
    const QString &lineOwner() const { return m_lineOwner; }

    // The line state of the receive view (RecvLines, RecvLineIdx, LineEndSeen).
    const LineAssembler &lines() const { return m_recv; }

    // Why the last opening failed, until the next opening; none after one
    // that worked.
    const std::optional<KavroError> &lastRefusal() const { return m_lastRefusal; }
    // What the port had to say about the opening that worked, while the
    // port is open (told before stateChanged); empty otherwise.
    const QString &openNotice() const { return m_openNotice; }

Q_SIGNALS:
    // A command was refused because a transfer has the line: why.
    void sendRefused(const QString &reason);
    // The state changed; `about` says, while waiting, what for.
    void stateChanged(PortState state, const QString &about);
    // Empfang's text becomes these lines joined (each complete one ends in
    // CR LF); told once per receive event that changed them.
    void linesChanged(const QList<QByteArray> &lines);
    // Empfang is emptied.
    void viewCleared();
    // An opening was refused (also those told in a message box), or the
    // next opening cleared the last refusal (nullopt).
    void refusalChanged(const std::optional<KavroError> &refusal);

private:
    void openSequence(const PortChoice &choice);
    void opened();
    void refused(const KavroError &e, bool opening, const QString &comport);
    void closeSequence();
    void setRefusal(std::optional<KavroError> refusal);

    SerialPort &m_port;
    MessageBoxes &m_boxes;
    CaptureSink &m_capture;
    LineAssembler m_recv;
    std::optional<KavroError> m_lastRefusal;
    QString m_openNotice;
    // The port text of the click whose opening is under way.
    std::optional<QString> m_pendingPort;
    QString m_sendingName;
    QString m_lineOwner;
};
