#pragma once

#include "kavroerror.h"
#include "modemlines.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <algorithm>

// What the window needs of a serial port: the operations of the component
// `MSComm1`. Text mode throughout: one byte is one character (the code page
// of codepage.h).
// Every refused operation throws KavroError.
//
// The device implementation sits on QSerialPort; tests use scripted stand-ins.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool PortOpen() const = 0;
    // true opens the port with the CommPort and Settings last given,
    // false closes it (closing a closed port does nothing).
    virtual void setPortOpen(bool open) = 0;

    virtual qint16 CommPort() const = 0;
    virtual void setCommPort(qint16 port) = 0;

    virtual QString Settings() const = 0;
    // "baud,parity,data,stop"; a text the port cannot use is refused.
    virtual void setSettings(const QString &settings) = 0;

    // Queues the whole text for sending, one byte per character; a character
    // without a byte in the code page goes out as "?".
    virtual void setOutput(const QString &text) = 0;

    // The port's modem lines and break, for as long as the port lives; what
    // they can do follows the port (closed, open, its device away).
    virtual ModemControl &modemLines() = 0;

    // Ends a wait for the port (blockingWait) at once: the call that waits
    // fails as a cancelled one.
    virtual void cancelWait() {}

    // What the operator should know about the opening of the open port
    // although it worked; empty when nothing.
    virtual QString openNotice() const { return {}; }

    // Received characters waiting; 0 when none.
    qint16 InBufferCount()
    {
        if (m_inNext < m_in.size() && !m_inMore)
            return qint16(std::min<qsizetype>(m_in.size() - m_inNext, 32767));
        return waitingCount();
    }
    // Takes the next received character out of the buffer and returns it as a
    // text of length 1. The view stays valid until the next InBufferCount or
    // Input call.
    QByteArrayView Input()
    {
        if (m_inNext < m_in.size())
            return QByteArrayView(m_in.constData() + m_inNext++, 1);
        return takeIn();
    }

protected:
    // The receive handler asks for every character twice, so both questions
    // are answered inline while characters are left of the piece last taken
    // in from the line: `m_in` from `m_inNext` on. `m_inMore` says that the
    // line may hold more behind it; then, and when the piece is used up, the
    // implementation answers.
    QByteArray m_in;
    qsizetype m_inNext = 0;
    bool m_inMore = true;
    // Every character waiting, in the piece and on the line.
    virtual qint16 waitingCount() = 0;
    // Takes the next piece in from the line and hands out its first character,
    // or returns an empty view when nothing waits.
    virtual QByteArrayView takeIn() = 0;

Q_SIGNALS:
    // Raised on the window's thread whenever received characters wait.
    void OnComm();
    // A failure found outside any call (the rest of a long command that
    // could not be written in the background).
    void Failed(const KavroError &error);
    // The device of the open port went away and is waited for (true, with a
    // German sentence that names it and says what keeps it away), or it is
    // back (false).
    void WaitingChanged(bool waiting, const QString &about);
    // Every piece of received bytes as it is taken in from the line, before
    // its characters are handed out, in order: for whoever keeps all that
    // came. The view lasts until the signal returns.
    void pieceTaken(QByteArrayView piece);
    // Every text that went out, as the bytes handed to the line.
    void bytesSent(QByteArrayView bytes);
    // A call waits for the port (a connection to a serial server) in a local
    // event loop: the window keeps painting, and whoever shows it keeps the
    // operator from starting anything meanwhile.
    void blockingWait(bool waiting);
};
