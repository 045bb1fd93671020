#include "deviceserialport.h"

#include "codepage.h"
#include "devicetransport.h"
#include "kavroerror.h"
#include "networkaddress.h"
#include "networktransport.h"
#include "readpacer.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <utility>

// The port's state: open or closed, its line given up or away and awaited;
// the modem lines are the port's own, since whether they can be used follows
// that state. Everything about how bytes travel is the transport's.
struct DeviceSerialPort::Private : ModemControl {
    Private(DeviceSerialPort *owner, const Environment &environment)
        : q(owner), env(environment), device(setup, env.lockDirs, owner), network(setup, owner),
          pacer([this] { return transport->readNotifier(); }, owner)
    {
    }

    DeviceSerialPort *const q;
    const Environment env;
    PortSetup setup;
    // Both kinds of line, each one object for the port's life; `transport`
    // is the one of the open port (or the last).
    DeviceTransport device;
    NetworkTransport network;
    PortTransport *transport = &device;
    ReadPacer pacer;

    bool open = false;    // what PortOpen reports
    bool opening = false; // a serial server's answer to an opening is awaited
    QString target;       // the device or network address of the open port
    QString notice;       // what its opening has to tell (openNotice)
    QString linkPath;     // the com<n> link it was found by, if any

    // The line failed while open and is given up: what Output reports.
    bool lost = false;
    int lostNumber = 0;
    QString lostText;
    // The device vanished while open and is waited for, or the connection
    // dropped and the server is called again.
    bool absent = false;
    QString absentAbout;

    // New settings a server has not answered yet, and what was in force
    // before them.
    bool settingsAsked = false;
    PortSetup settingsBefore;

    bool raiseQueued = false;

    void connectTransport(PortTransport *t)
    {
        // Only the transport of the open port has news for it.
        auto mine = [this, t] { return t == transport && open; };
        QObject::connect(t, &PortTransport::opened, q, [=, this] {
            if (t != transport || !opening)
                return;
            becomeOpen();
            Q_EMIT q->openingEnded(std::nullopt);
        });
        QObject::connect(t, &PortTransport::refused, q, [=, this](const KavroError &error) {
            if (t != transport || !opening)
                return;
            opening = false;
            transport->close();
            Q_EMIT q->openingEnded(error);
        });
        QObject::connect(t, &PortTransport::lineAnswered, q, [=, this](bool taken) {
            if (mine() && std::exchange(settingsAsked, false))
                settingsAnswered(taken);
        });
        QObject::connect(t, &PortTransport::linesAnswered, q, [=, this] {
            if (mine())
                Q_EMIT q->serverAnswered();
        });
        QObject::connect(t, &PortTransport::readyRead, q, [=, this] {
            if (mine())
                onReadyRead();
        });
        QObject::connect(t, &PortTransport::lost, q, [=, this](int number, const QString &text) {
            if (mine())
                lose(number, text);
        });
        QObject::connect(t, &PortTransport::failed, q, &SerialPort::Failed);
        QObject::connect(t, &PortTransport::awayChanged, q, [=, this](const QString &about) {
            if (mine() && absent)
                stillAway(about);
        });
        QObject::connect(t, &PortTransport::returned, q, [=, this](const QString &where) {
            if (mine() && absent)
                back(where);
        });
    }

    qsizetype waiting() const
    {
        return q->unread() + (transport->isOpen() ? qsizetype(transport->bytesAvailable()) : 0);
    }

    void becomeOpen()
    {
        opening = false;
        notice = transport->notice();
        open = true;
        q->lineGrew();
        // A server may have spoken while it was being called.
        if (waiting() > 0)
            raiseLater();
    }

    // A server set other settings than asked: the old ones are asked for
    // again (its answer to that is not waited for) and are in force.
    void settingsAnswered(bool taken)
    {
        if (!taken) {
            const QString refused = setup.settingsText;
            setup.settings = settingsBefore.settings;
            setup.settingsText = settingsBefore.settingsText;
            transport->setLine(setup.settings, setup.settingsText);
            Q_EMIT q->Failed(KavroError(Err::InvalidValue, settingsRefusedText(refused, target)));
        }
        Q_EMIT q->serverAnswered();
    }

    void closeAll()
    {
        pacer.forget();
        transport->close();
        const bool wasAbsent = absent;
        open = false;
        opening = false;
        settingsAsked = false;
        absent = false;
        linkPath.clear();
        lost = false;
        lostNumber = 0;
        lostText.clear();
        target.clear();
        notice.clear();
        q->clearInput();
        if (wasAbsent)
            Q_EMIT q->WaitingChanged(false, {});
    }

    // The line failed or went away (a USB adapter pulled, the far end of a
    // pseudo-terminal closed, the connection to a server dropped). It is let
    // go of at once, so that a device can come back under its name; what was
    // received stays readable and the port counts as open until it is closed.
    void lose(int number, const QString &text)
    {
        if (lost || absent)
            return;
        pacer.forget();
        settingsAsked = false;
        if (transport->isOpen())
            q->takePiece(transport->readAll());
        if (number == Err::PortGone) {
            // The same device may well come back (a board reset, an adapter
            // plugged in again), and a server come up again: wait for it.
            absent = true;
            absentAbout = transport->awaitReturn(linkPath);
            Q_EMIT q->WaitingChanged(true, absentAbout);
        } else {
            transport->close();
            lost = true;
            lostNumber = number;
            lostText = text;
        }
        if (q->unread() > 0)
            raiseLater();
    }

    void stillAway(const QString &about)
    {
        if (about == absentAbout)
            return;
        absentAbout = about;
        Q_EMIT q->WaitingChanged(true, absentAbout);
    }

    void back(const QString &where)
    {
        target = where;
        absent = false;
        q->lineGrew();
        Q_EMIT q->WaitingChanged(false, {});
        if (waiting() > 0)
            raiseLater();
    }

    LineAccess lineAccess() const override
    {
        if (!open)
            return LineAccess::Closed;
        if (absent)
            return LineAccess::Away;
        if (!transport->hasControlLines())
            return LineAccess::NoControlLines;
        return LineAccess::Full;
    }
    void setDtr(bool on) override { change(ModemOutput::Dtr, on); }
    void setRts(bool on) override { change(ModemOutput::Rts, on); }
    void setBreak(bool on) override { change(ModemOutput::Break, on); }
    ModemLines lines() override
    {
        if (lineAccess() != LineAccess::Full || lost)
            return {};
        return transport->lines();
    }
    void change(ModemOutput line, bool on)
    {
        checkLineAccess(lineAccess());
        if (lost)
            raiseError(lostNumber, lostText);
        transport->setOutput(line, on);
    }

    void onReadyRead()
    {
        q->lineGrew();
        const qsizetype before = waiting();
        Q_EMIT q->OnComm();
        if (waiting() > 0)
            raiseLater();
        else
            pacer.afterEvent(before);
    }

    // The receive handler ended with characters still waiting (it failed, or
    // a dialog of it was open). They get one more event; after that only a
    // handler that keeps taking characters gets more, so a handler that fails
    // on every call does not spin.
    void raiseLater()
    {
        if (raiseQueued)
            return;
        raiseQueued = true;
        QMetaObject::invokeMethod(
            q,
            [this] {
                raiseQueued = false;
                q->lineGrew();
                const qsizetype before = waiting();
                if (before == 0)
                    return;
                Q_EMIT q->OnComm();
                const qsizetype after = waiting();
                if (after > 0 && after < before)
                    raiseLater();
            },
            Qt::QueuedConnection);
    }
};

DeviceSerialPort::Environment DeviceSerialPort::system()
{
    return {PortMap(PortMap::defaultLinkDir(),
                    [] {
                        QList<SystemPort> devices;
                        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
                        for (const QSerialPortInfo &info : ports) {
                            SystemPort port{info.systemLocation(),
                                            info.description(),
                                            info.manufacturer(),
                                            info.serialNumber(),
                                            {},
                                            {}};
                            if (info.hasVendorIdentifier())
                                port.vendorId = info.vendorIdentifier();
                            if (info.hasProductIdentifier())
                                port.productId = info.productIdentifier();
                            devices.append(port);
                        }
                        return devices;
                    }),
            {QStringLiteral("/run/lock"), QStringLiteral("/var/lock")},
            {QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")}};
}

DeviceSerialPort::DeviceSerialPort(QObject *parent) : DeviceSerialPort(system(), parent)
{
}

DeviceSerialPort::DeviceSerialPort(const Environment &environment, QObject *parent)
    : SerialPort(parent), d(std::make_unique<Private>(this, environment))
{
    d->connectTransport(&d->device);
    d->connectTransport(&d->network);
}

DeviceSerialPort::~DeviceSerialPort()
{
    // Whoever listens may be half gone already (the window that owns the
    // port): closing now tells nobody.
    blockSignals(true);
    d->closeAll();
}

bool DeviceSerialPort::PortOpen() const
{
    return d->open;
}

void DeviceSerialPort::setPortOpen(bool open)
{
    if (!open) {
        const bool cancelled = d->opening;
        const QString target = d->target;
        d->closeAll();
        if (cancelled)
            Q_EMIT openingEnded(
                KavroError(Err::PortOpenFailed,
                           QStringLiteral("Das Öffnen von %1 wurde abgebrochen").arg(target)));
        return;
    }
    if (d->open || d->opening)
        raiseError(Err::PortInUse, QStringLiteral("Anschluss bereits geöffnet: %1").arg(d->target));

    const QString target = d->env.map.device(d->setup.commPort);
    d->transport =
        NetworkAddress::parse(target) ? static_cast<PortTransport *>(&d->network) : &d->device;
    d->pacer.forget();
    clearInput();
    const bool openNow = d->transport->open(target);
    const QString link =
        d->env.map.linkDir() + QStringLiteral("/com") + QString::number(d->setup.commPort);
    d->linkPath = QFileInfo(link).isSymLink() ? link : QString();
    d->target = target;
    if (openNow)
        d->becomeOpen();
    else
        d->opening = true;
}

bool DeviceSerialPort::isOpening() const
{
    return d->opening;
}

qint16 DeviceSerialPort::CommPort() const
{
    return d->setup.commPort;
}

void DeviceSerialPort::setCommPort(qint16 port)
{
    PortMap::checkNumber(port);
    if (d->open || d->opening)
        raiseError(Err::InvalidValue,
                   QStringLiteral("Ungültiger Eigenschaftswert: die Portnummer lässt sich nur bei "
                                  "geschlossenem Anschluss ändern"));
    d->setup.commPort = port;
}

QString DeviceSerialPort::Settings() const
{
    return d->setup.settingsText;
}

void DeviceSerialPort::setSettings(const QString &settings)
{
    const LineSettings parsed = LineSettings::parse(settings);
    // The server being called was given the settings already.
    if (d->opening)
        raiseError(Err::InvalidValue,
                   QStringLiteral("Ungültiger Eigenschaftswert: die Einstellungen lassen sich "
                                  "während des Öffnens nicht ändern"));
    // An open port takes new settings at once, as long as it still has its
    // line; a refusal leaves the old ones in force.
    if (d->open && !d->lost && !d->absent && !d->transport->setLine(parsed, settings) &&
        !std::exchange(d->settingsAsked, true))
        d->settingsBefore = d->setup;
    d->setup.settings = parsed;
    d->setup.settingsText = settings;
}

void DeviceSerialPort::setOutput(const QString &text)
{
    if (!d->open)
        raiseError(Err::PortNotOpen);
    if (d->lost)
        raiseError(d->lostNumber, d->lostText);
    // Nothing is kept for later: a stale command must not reach a board that
    // has just been reset.
    if (d->absent)
        raiseError(Err::PortGone,
                   d->absentAbout + QStringLiteral(" Der Befehl wurde nicht gesendet."));
    if (text.isEmpty())
        return;

    const QByteArray bytes = bytesFromText(text);
    const bool handed = d->transport->write(bytes);
    if (d->lost)
        raiseError(d->lostNumber, d->lostText);
    if (!handed)
        raiseError(Err::PortIo, QStringLiteral("Schreibfehler am Anschluss %1").arg(d->target));
    Q_EMIT bytesSent(bytes);
}

qint64 DeviceSerialPort::OutBufferCount() const
{
    return d->open ? d->transport->bytesToWrite() : 0;
}

ModemControl &DeviceSerialPort::modemLines()
{
    return *d;
}

QString DeviceSerialPort::openNotice() const
{
    return d->notice;
}

qint64 DeviceSerialPort::lineHolds()
{
    return d->open && d->transport->isOpen() ? d->transport->bytesAvailable() : 0;
}

void DeviceSerialPort::takeFromLine()
{
    if (d->open && d->transport->isOpen() && d->transport->bytesAvailable() > 0)
        takePiece(d->transport->readAll());
}

const DeviceSerialPort::Environment &DeviceSerialPort::environment() const
{
    return d->env;
}

QString DeviceSerialPort::DevicePath() const
{
    return d->target;
}
