#pragma once

#include "kavroerror.h"
#include "modemlines.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <algorithm>
#include <optional>

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
    // true opens the port with the CommPort and Settings last given, false
    // closes it (closing a closed port does nothing). A device opens before
    // this returns; a port on a serial server opens in the background
    // (isOpening), and openingEnded tells how it went. Closing ends such an
    // opening.
    virtual void setPortOpen(bool open) = 0;
    // An opening waits for a serial server's answer: the port is neither
    // open nor closed.
    virtual bool isOpening() const { return false; }

    virtual qint16 CommPort() const = 0;
    virtual void setCommPort(qint16 port) = 0;

    virtual QString Settings() const = 0;
    // "baud,parity,data,stop"; a text the port cannot use is refused. An
    // open port takes them at once; a serial server's refusal comes later,
    // through Failed, and the old ones are in force again.
    virtual void setSettings(const QString &settings) = 0;

    // Queues the whole text for sending, one byte per character; a character
    // without a byte in the code page goes out as "?".
    virtual void setOutput(const QString &text) = 0;
    // Characters handed to setOutput that are not on the line yet; a file
    // transfer hands over more only while few wait.
    virtual qint64 OutBufferCount() const { return 0; }

    // The port's modem lines and break, for as long as the port lives; what
    // they can do follows the port (closed, open, its device away). A serial
    // server is asked and answers later (serverAnswered; a refusal through
    // Failed).
    virtual ModemControl &modemLines() = 0;

    // What the operator should know about the opening of the open port
    // although it worked; empty when nothing.
    virtual QString openNotice() const { return {}; }

    // Received characters waiting; 0 when none.
    qint16 InBufferCount()
    {
        if (m_next < m_piece.size() && !m_lineMayHoldMore)
            return qint16(std::min<qsizetype>(m_piece.size() - m_next, 32767));
        return countWaiting();
    }
    // Takes the next received character out of the buffer and returns it as a
    // text of length 1. The view stays valid until the next InBufferCount or
    // Input call.
    QByteArrayView Input()
    {
        if (m_next < m_piece.size())
            return QByteArrayView(m_piece.constData() + m_next++, 1);
        return nextPiece();
    }

protected:
    // The receive handler asks for every character twice, so both questions
    // are answered inline while characters are left of the piece last taken
    // in from the line and the line is known to hold nothing more. What an
    // implementation does with the buffer goes through these.

    // Hands the buffer a piece of received bytes taken in from the line: it
    // goes behind what is left of the last one, and pieceTaken tells it.
    void takePiece(const QByteArray &piece);
    // Characters taken in and not handed out yet.
    qsizetype unread() const { return m_piece.size() - m_next; }
    // Forgets them (the port closed, or opened anew).
    void clearInput();
    // The line may hold more than it held when last asked (it told of new
    // bytes, or the port opened): the next InBufferCount asks lineHolds().
    void lineGrew() { m_lineMayHoldMore = true; }

    // What the line holds that no piece has taken in yet; 0 when closed.
    virtual qint64 lineHolds() = 0;
    // Takes what the line holds in, through takePiece; nothing when it
    // holds nothing.
    virtual void takeFromLine() = 0;

private:
    qint16 countWaiting();
    QByteArrayView nextPiece();

    QByteArray m_piece;
    qsizetype m_next = 0;
    // Asking the line costs a handful of calls, which the receive handler
    // would pay for every character. Its buffer only grows while the event
    // loop runs, and lineGrew() marks every sign of that; once it was found
    // empty, it stays empty until then.
    bool m_lineMayHoldMore = true;

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
    // An opening that setPortOpen left waiting for a serial server has ended:
    // the port is open (no failure), or it is closed and `failure` says why
    // (8022 when it was closed meanwhile). Told once the port is open, before
    // any of its bytes are handed out.
    void openingEnded(const std::optional<KavroError> &failure);
    // A serial server answered a change of the open port (its settings, a
    // modem line), or its time ran out: Settings() and modemLines() tell what
    // holds now.
    void serverAnswered();
};
