#pragma once

#include "kavroerror.h"
#include "linesettings.h"
#include "modemlines.h"
#include "openlevels.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The lines of a port that go out.
enum class ModemOutput { Dtr, Rts, Break };

// What every opening of a port takes, a return after a loss included: the
// port keeps it and changes it, its transport reads it when it opens.
struct PortSetup {
    qint16 commPort = 1;
    QString settingsText = QStringLiteral("9600,n,8,1");
    LineSettings settings;
    // "Beim Öffnen": DTR and RTS at every opening, read anew each time.
    OpenLevels openLevels() const { return OpenLevels::load(commPort); }
};

// How the bytes of a port travel: through a serial device, or to a port on a
// serial server. The port above it (DeviceSerialPort) keeps the state the
// operator sees, open, closed or waiting for a line that went away, and
// decides what happens when; a transport does each step its own way and tells
// through its signals what it met.
class PortTransport : public QObject
{
    Q_OBJECT
public:
    // setup: the port's, which outlives the transport.
    explicit PortTransport(const PortSetup &setup, QObject *parent = nullptr)
        : QObject(parent), m_setup(setup)
    {
    }

    // Opens `target` with the setup's settings and, before any byte goes out,
    // DTR and RTS at its levels. True when the line is open; false when the
    // opening goes on in the background and ends in opened() or refused().
    // Throws KavroError when the line cannot be had.
    virtual bool open(const QString &target) = 0;
    // Lets go of everything: the line, an opening under way, a wait for the
    // line's return. Closing a closed transport does nothing.
    virtual void close() = 0;
    // Whether the line carries bytes now.
    virtual bool isOpen() const = 0;

    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray readAll() = 0;
    // Hands the bytes to the line; false when not all of them could be.
    virtual bool write(const QByteArray &bytes) = 0;
    // Bytes handed over and not on the line yet.
    virtual qint64 bytesToWrite() const { return 0; }
    // The notifier whose rest holds reading back (ReadPacer); none when the
    // line is read as its pieces come.
    virtual QSocketNotifier *readNotifier() { return nullptr; }

    // New settings for the open line. True when they are in force now, false
    // when a server answers later (lineAnswered). Throws KavroError 380 when
    // the line refuses them at once; the old ones stay then.
    virtual bool setLine(const LineSettings &settings, const QString &text) = 0;

    // Whether the line has modem lines at all.
    virtual bool hasControlLines() const = 0;
    // As the line reports them now.
    virtual ModemLines lines() = 0;
    // Sets an output line. A device sets it and reads it back, throwing
    // KavroError 8020 when it refuses; a server is asked, and its answer
    // comes later (linesAnswered, a refusal through failed()).
    virtual void setOutput(ModemOutput line, bool on) = 0;

    // What the operator should know about an opening that worked.
    virtual QString notice() const { return {}; }

    // The line went away (lost() with 8021): lets go of it and waits for it
    // to come back, opening it again then (returned()). Returns what the
    // operator is told meanwhile.
    virtual QString awaitReturn(const QString &linkPath) = 0;

Q_SIGNALS:
    void readyRead();
    // The opening that open() left going on has ended.
    void opened();
    void refused(const KavroError &error);
    // The open line failed: 8021 when it went away and may come back;
    // anything else gives it up.
    void lost(int number, const QString &text);
    // A failure no call waits for: the rest of a write in the background, a
    // line refused at the opening or in a server's answer.
    void failed(const KavroError &error);
    // While the line is awaited: what the operator is told.
    void awayChanged(const QString &about);
    // The line awaited is open again, under this name.
    void returned(const QString &target);
    // A server answered new settings; `taken`: it set them.
    void lineAnswered(bool taken);
    // A server answered a line change, or its time ran out: lines() tells
    // what it said.
    void linesAnswered();

protected:
    const PortSetup &m_setup;
};

// "DTR lässt sich am Anschluss … nicht einschalten (reason)".
QString lineRefusedText(ModemOutput line, bool on, const QString &port, const QString &reason);
// "… am Anschluss … nicht möglich", for settings a line refused.
QString settingsRefusedText(const QString &settings, const QString &port);
