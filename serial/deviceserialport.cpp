#include "deviceserialport.h"

#include "codepage.h"
#include "devicelock.h"
#include "devicereturn.h"
#include "kavroerror.h"
#include "networkline.h"
#include "networkredial.h"
#include "openlevels.h"
#include "portstatus.h"
#include "readpacer.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include <sys/ioctl.h>
#include <termios.h>

namespace
{

// The settings text's values as QSerialPort takes them; false when the device
// refuses one. A pseudo-terminal has no line: the kernel keeps it at 8 data
// bits without parity whatever is asked. The bytes pass all the same, so the
// character format is not held against it.
bool applyLineSettings(QSerialPort &port, const LineSettings &s, bool lineless)
{
    // With five data bits a UART told to use two stop bits sends one and a
    // half, and 1.5 comes only with five data bits.
    const QSerialPort::StopBits stop =
        s.stopBits == LineSettings::StopBits::One ? QSerialPort::OneStop : QSerialPort::TwoStop;
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                   QSerialPort::OddParity, QSerialPort::MarkParity,
                                                   QSerialPort::SpaceParity};
    port.clearError();
    bool ok = port.setBaudRate(s.baud) && port.setStopBits(stop) &&
              port.setFlowControl(QSerialPort::NoFlowControl);
    ok = (port.setDataBits(QSerialPort::DataBits(s.dataBits)) || lineless) && ok;
    ok = (port.setParity(parities[int(s.parity)]) || lineless) && ok;
    port.clearError();
    return ok;
}

QString settingsRefused(const QString &settings, const QString &device)
{
    return QStringLiteral(
               "Ungültiger Eigenschaftswert: Einstellungen „%1“ am Anschluss %2 nicht möglich")
        .arg(settings, device);
}

QString goneText(const QString &device)
{
    return QStringLiteral("Das Gerät %1 ist nicht mehr vorhanden").arg(device);
}

enum class Output { Dtr, Rts, Break };

QString outputName(Output line)
{
    return line == Output::Dtr   ? QStringLiteral("DTR")
           : line == Output::Rts ? QStringLiteral("RTS")
                                 : QStringLiteral("Break");
}

QString lineRefused(Output line, bool on, const QString &device, const QString &reason)
{
    return QStringLiteral("%1 lässt sich am Anschluss %2 nicht %3 (%4)")
        .arg(outputName(line), device,
             on ? QStringLiteral("einschalten") : QStringLiteral("ausschalten"), reason);
}

} // namespace

// The modem lines are the port's own: whether they can be used follows its
// state, which lives here.
struct DeviceSerialPort::Private : ModemControl {
    Private(DeviceSerialPort *owner, const Environment &environment)
        : q(owner), port(new QSerialPort(owner)), env(environment), pacer(*port, owner)
    {
    }

    DeviceSerialPort *const q;
    QSerialPort *const port; // a child of the port object
    const Environment env;

    qint16 commPort = 1;
    QString settingsText = QStringLiteral("9600,n,8,1");
    LineSettings settings;

    bool open = false; // what PortOpen reports
    QString device;    // the device or network address of the open port
    QString notice;    // what its opening has to tell (openNotice)
    QString linkPath;  // the com<n> link it was found by, if any
    std::unique_ptr<DeviceLock> lock;
    ReadPacer pacer;
    // A slow look whether the open device is still there, for the rare
    // vanishing that QSerialPort does not report.
    QTimer presence;

    // The port on a serial server the open port is (null for a device).
    NetworkLine *net = nullptr;

    // The device failed while open and is given up: what Output reports.
    bool lost = false;
    int lostNumber = 0;
    QString lostText;
    // The device vanished while open and is waited for, or the connection
    // dropped and the server is called again.
    bool absent = false;
    QString absentAbout;
    std::unique_ptr<DeviceReturn> deviceReturn;
    std::unique_ptr<NetworkRedial> redial;

    bool changingLines = false; // a line is being set or read: its failure is that call's
    bool writing = false;       // setOutput is handing bytes over
    bool writeFailed = false;   // ... and a write failed meanwhile
    bool raiseQueued = false;

    // Where the bytes of the open port come from: the device, or the
    // connection to the serial server. Everything that only reads and writes
    // goes through here and does not know which.
    QIODevice *line() const { return net ? static_cast<QIODevice *>(net) : port; }

    qsizetype waiting() const
    {
        qsizetype n = q->unread();
        if (line()->isOpen())
            n += qsizetype(line()->bytesAvailable());
        return n;
    }

    void closeAll()
    {
        if (port->isOpen())
            port->close();
        if (net) {
            // It may be inside its own wait for the server (a window closed
            // meanwhile): it goes when that has returned.
            redial.reset();
            net->disconnect(q);
            std::exchange(net, nullptr)->dispose();
        }
        pacer.forget();
        lock.reset();
        port->clearError();
        const bool wasAbsent = absent;
        deviceReturn.reset();
        redial.reset();
        presence.stop();
        open = false;
        absent = false;
        linkPath.clear();
        lost = false;
        lostNumber = 0;
        lostText.clear();
        writeFailed = false;
        device.clear();
        notice.clear();
        q->clearInput();
        if (wasAbsent)
            Q_EMIT q->WaitingChanged(false, {});
    }

    bool gone() const { return !lock || lock->hungUp() || !QFileInfo::exists(device); }

    // The device failed or went away (a USB adapter pulled, the far end of a
    // pseudo-terminal closed). It is given back to the system at once so that
    // it can come back under its name; what was received stays readable and
    // the port counts as open until it is closed.
    void lose(int number, const QString &text)
    {
        if (lost || absent)
            return;
        presence.stop();
        pacer.forget();
        if (line()->isOpen()) {
            q->takePiece(line()->readAll());
            line()->close();
        }
        lock.reset();
        port->clearError();
        if (number == Err::PortGone) {
            // The same device may well come back (a board reset, an adapter
            // plugged in again): wait for it.
            absent = true;
            if (net)
                callServerAgain();
            else
                waitForDevice();
            Q_EMIT q->WaitingChanged(true, absentAbout);
        } else {
            lost = true;
            lostNumber = number;
            lostText = text;
        }
        if (q->unread() > 0)
            raiseLater();
    }

    void waitForDevice()
    {
        deviceReturn.reset(new DeviceReturn(
            device, linkPath, [this](const QString &target) { openDevice(target, false); }, q));
        absentAbout = deviceReturn->about();
        QObject::connect(deviceReturn.get(), &DeviceReturn::aboutChanged, q,
                         [this](const QString &about) { stillAway(about); });
        QObject::connect(deviceReturn.get(), &DeviceReturn::returned, q,
                         [this](const QString &target) {
                             device = target;
                             // Let go from inside its own signal: it goes once
                             // that has returned.
                             deviceReturn.release()->deleteLater();
                             presence.start();
                             back();
                         });
    }

    void callServerAgain()
    {
        absentAbout = awayText(device, linkPath, true);
        redial.reset(new NetworkRedial(*net, settings, q));
        QObject::connect(redial.get(), &NetworkRedial::returned, q, [this] {
            redial.release()->deleteLater();
            back();
        });
        QObject::connect(redial.get(), &NetworkRedial::refused, q, [this](int number) {
            stillAway(number == Err::PortInUse ? takenMeanwhileText(device, true)
                                               : awayText(device, linkPath, true));
        });
    }

    void stillAway(const QString &about)
    {
        if (about == absentAbout)
            return;
        absentAbout = about;
        Q_EMIT q->WaitingChanged(true, absentAbout);
    }

    void back()
    {
        absent = false;
        q->lineGrew();
        Q_EMIT q->WaitingChanged(false, {});
        if (waiting() > 0)
            raiseLater();
    }

    // Opens the port on a serial server with the settings in force; throws
    // KavroError.
    void openNetwork(const NetworkAddress &address)
    {
        NetworkLine *const opening = new NetworkLine(address, q);
        opening->setOpenLevels(OpenLevels::load(commPort));
        net = opening;
        QObject::connect(net, &NetworkLine::readyRead, q, [this] { onReadyRead(); });
        QObject::connect(net, &NetworkLine::waitBegins, q,
                         [this] { Q_EMIT q->blockingWait(true); });
        QObject::connect(net, &NetworkLine::waitEnds, q, [this] { Q_EMIT q->blockingWait(false); });
        QObject::connect(net, &NetworkLine::dropped, q, [this] {
            lose(Err::PortGone, QStringLiteral("Die Verbindung zu %1 ist abgebrochen").arg(device));
        });
        try {
            opening->open(settings);
        } catch (const KavroError &) {
            // Unless the port was closed meanwhile, which took it along.
            if (net == opening) {
                net->disconnect(q);
                std::exchange(net, nullptr)->dispose();
            }
            throw;
        }
    }

    // Opens the device with the settings in force; throws KavroError.
    void openDevice(const QString &path, bool fresh)
    {
        lock = DeviceLock::take(path, env.lockDirs, fresh);
        port->clearError();
        port->setPortName(lock->openName(path));
        pacer.forget();
        if (!port->open(QIODevice::ReadWrite)) {
            const QSerialPort::SerialPortError error = port->error();
            const QString reason = port->errorString();
            lock.reset();
            port->clearError();
            switch (error) {
            case QSerialPort::DeviceNotFoundError:
                raiseError(
                    Err::PortNotFound,
                    QStringLiteral("Ungültige Portnummer: Gerät %1 nicht vorhanden").arg(path));
            case QSerialPort::PermissionError:
                // Our own open went through, so this is QSerialPort's lock file
                // or a program that took the port in the meantime.
                if (PortStatus::lockedByOtherProgram(path, env.lockDirs))
                    raisePortError(EBUSY, path);
                raiseError(Err::PortAccess,
                           QStringLiteral("Zugriff auf den Anschluss %1 verweigert (%2)")
                               .arg(path, reason));
            default:
                raiseError(Err::PortOpenFailed,
                           QStringLiteral("Der Anschluss %1 kann nicht geöffnet werden (%2)")
                               .arg(path, reason));
            }
        }

        // QSerialPort marks the device exclusive. On real hardware the mark
        // goes with the last close, even when Kavro is killed; a
        // pseudo-terminal would keep it for as long as its far end lives and
        // refuse every later opening. There the flock and the lock file, which
        // die with the process, do.
        const bool pseudoTerminal = lock->isPseudoTerminal();
        if (pseudoTerminal)
            ::ioctl(int(port->handle()), TIOCNXCL);

        if (!applyLineSettings(*port, settings, pseudoTerminal)) {
            port->close();
            lock.reset();
            raiseError(Err::InvalidValue, settingsRefused(settingsText, path));
        }
        setOpenLevels(path);
        notice = lock->notice();
    }

    LineAccess lineAccess() const override
    {
        if (!open)
            return LineAccess::Closed;
        if (absent)
            return LineAccess::Away;
        if (net && !net->hasControlLines())
            return LineAccess::NoControlLines;
        return LineAccess::Full;
    }
    void setDtr(bool on) override { change(Output::Dtr, on); }
    void setRts(bool on) override { change(Output::Rts, on); }
    void setBreak(bool on) override { change(Output::Break, on); }

    ModemLines lines() override
    {
        if (lineAccess() != LineAccess::Full || lost)
            return {};
        if (net) {
            const Rfc2217Client::Lines &said = net->controlLines();
            ModemLines now{said.dtr, said.rts, {}, {}, {}, {}};
            if (const std::optional<quint8> state = said.modemState) {
                now.cts = bool(*state & Rfc2217Client::ModemCts);
                now.dsr = bool(*state & Rfc2217Client::ModemDsr);
                now.dcd = bool(*state & Rfc2217Client::ModemDcd);
                now.ri = bool(*state & Rfc2217Client::ModemRi);
            }
            return now;
        }
        port->clearError();
        changingLines = true;
        const QSerialPort::PinoutSignals is = port->pinoutSignals();
        changingLines = false;
        const bool unknown = port->error() != QSerialPort::NoError;
        port->clearError();
        if (unknown)
            return {};
        return {bool(is & QSerialPort::DataTerminalReadySignal),
                bool(is & QSerialPort::RequestToSendSignal),
                bool(is & QSerialPort::ClearToSendSignal),
                bool(is & QSerialPort::DataSetReadySignal),
                bool(is & QSerialPort::DataCarrierDetectSignal),
                bool(is & QSerialPort::RingIndicatorSignal)};
    }

    // One line of the device set; the system's reason when it refuses.
    bool setOnDevice(Output line, bool on, QString &reason)
    {
        port->clearError();
        changingLines = true;
        const bool done = line == Output::Dtr   ? port->setDataTerminalReady(on)
                          : line == Output::Rts ? port->setRequestToSend(on)
                                                : port->setBreakEnabled(on);
        changingLines = false;
        reason = port->errorString();
        port->clearError();
        return done;
    }

    void change(Output line, bool on)
    {
        checkLineAccess(lineAccess());
        if (lost)
            raiseError(lostNumber, lostText);
        if (net) {
            using C = Rfc2217Client::Control;
            static const C controls[3][2] = {
                {C::DtrOff, C::DtrOn}, {C::RtsOff, C::RtsOn}, {C::BreakOff, C::BreakOn}};
            if (!net->setControl(controls[int(line)][on]))
                raiseError(Err::PortIo,
                           lineRefused(line, on, device,
                                       QStringLiteral("der Server meldet sie unverändert")));
            return;
        }
        QString reason;
        if (!setOnDevice(line, on, reason))
            raiseError(Err::PortIo, lineRefused(line, on, device, reason));
        if (line == Output::Break)
            return;
        // A driver may take a change it cannot make without a word: what
        // the device reports afterwards is what counts.
        const ModemLines now = lines();
        const std::optional<bool> is = line == Output::Dtr ? now.dtr : now.rts;
        if (is && *is != on)
            raiseError(
                Err::PortIo,
                lineRefused(line, on, device, QStringLiteral("das Gerät meldet sie unverändert")));
    }

    // "Beim Öffnen" on a device just opened. The system raised both lines
    // as it opened it (Linux has no way to open a port without that); a line
    // to stay low is lowered now, before anything is sent. A refusal does
    // not cost the opening.
    void setOpenLevels(const QString &path)
    {
        const OpenLevels levels = OpenLevels::load(commPort);
        for (const auto &[line, on] :
             {std::pair{Output::Dtr, levels.dtr}, {Output::Rts, levels.rts}}) {
            QString reason;
            if (!on && !setOnDevice(line, false, reason))
                Q_EMIT q->Failed(
                    KavroError(Err::PortIo, lineRefused(line, false, path, reason) +
                                                QStringLiteral(" (Einstellung „Beim Öffnen“)")));
        }
    }

    void onError(QSerialPort::SerialPortError error)
    {
        if (!open || lost || absent || changingLines)
            return;
        switch (error) {
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
            break;
        default:
            // Setters report through their results, which are checked where
            // they are called.
            return;
        }
        if (gone()) {
            lose(Err::PortGone, goneText(device));
        } else if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError) {
            // A device that is being pulled may fail a read a moment before
            // the system shows it gone; look again before calling it dead.
            // Reading has stopped meanwhile, so this cannot turn into a loop.
            QTimer::singleShot(100, q, [this, error] {
                if (!open || lost || absent)
                    return;
                if (gone())
                    lose(Err::PortGone, goneText(device));
                else if (error == QSerialPort::ReadError)
                    lose(Err::PortIo, QStringLiteral("Lesefehler am Anschluss %1").arg(device));
            });
        } else if (error == QSerialPort::WriteError) {
            // A failure of the command being handed over is that command's;
            // one found while the rest of an earlier command went out in the
            // background is told at once, and the next command goes out.
            if (writing)
                writeFailed = true;
            else
                Q_EMIT q->Failed(KavroError(
                    Err::PortIo,
                    QStringLiteral("Schreibfehler am Anschluss %1: ein gesendeter Befehl "
                                   "ist nicht vollständig angekommen")
                        .arg(device)));
        }
        // A ResourceError of a device that is still there is a full output
        // buffer (Qt reports EAGAIN so); the rest is sent when there is room.
        port->clearError();
    }

    void onReadyRead()
    {
        q->lineGrew();
        const qsizetype before = waiting();
        Q_EMIT q->OnComm();
        if (waiting() > 0)
            raiseLater();
        else if (!net)
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
    connect(d->port, &QSerialPort::readyRead, this, [this] { d->onReadyRead(); });
    connect(d->port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { d->onError(error); });
    d->presence.setInterval(1000);
    connect(&d->presence, &QTimer::timeout, this, [this] {
        if (d->open && !d->lost && !d->absent && !d->net && d->gone())
            d->lose(Err::PortGone, goneText(d->device));
    });
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
        d->closeAll();
        return;
    }
    if (d->open)
        raiseError(Err::PortInUse, QStringLiteral("Anschluss bereits geöffnet: %1").arg(d->device));

    const QString device = d->env.map.device(d->commPort);
    if (const std::optional<NetworkAddress> address = NetworkAddress::parse(device))
        d->openNetwork(*address);
    else
        d->openDevice(device, true);
    const QString link =
        d->env.map.linkDir() + QStringLiteral("/com") + QString::number(d->commPort);
    d->linkPath = QFileInfo(link).isSymLink() ? link : QString();
    clearInput();
    lineGrew();
    d->device = device;
    d->open = true;
    if (!d->net) // a network port learns of a dropped connection by itself
        d->presence.start();
}

qint16 DeviceSerialPort::CommPort() const
{
    return d->commPort;
}

void DeviceSerialPort::setCommPort(qint16 port)
{
    PortMap::checkNumber(port);
    if (d->open)
        raiseError(Err::InvalidValue,
                   QStringLiteral("Ungültiger Eigenschaftswert: die Portnummer lässt sich nur bei "
                                  "geschlossenem Anschluss ändern"));
    d->commPort = port;
}

QString DeviceSerialPort::Settings() const
{
    return d->settingsText;
}

void DeviceSerialPort::setSettings(const QString &settings)
{
    const LineSettings parsed = LineSettings::parse(settings);
    // An open port takes new settings at once, as long as it still has its
    // device; a refusal leaves the old ones in force.
    if (d->open && !d->lost && !d->absent) {
        const bool taken =
            d->net ? d->net->setLine(parsed)
                   : applyLineSettings(*d->port, parsed, d->lock && d->lock->isPseudoTerminal());
        if (!taken) {
            if (d->net)
                d->net->setLine(d->settings);
            else
                applyLineSettings(*d->port, d->settings, d->lock && d->lock->isPseudoTerminal());
            raiseError(Err::InvalidValue, settingsRefused(settings, d->device));
        }
    }
    d->settings = parsed;
    d->settingsText = settings;
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

    d->port->clearError();
    d->writing = true;
    d->writeFailed = false;
    const qint64 queued = d->line()->write(bytes);
    if (queued == bytes.size() && !d->net)
        d->port->flush(); // pushes what the device takes now; the rest follows
    d->writing = false;
    if (d->lost)
        raiseError(d->lostNumber, d->lostText);
    if (queued != bytes.size() || d->port->error() == QSerialPort::WriteError || d->writeFailed) {
        d->writeFailed = false;
        d->port->clearError();
        raiseError(Err::PortIo, QStringLiteral("Schreibfehler am Anschluss %1").arg(d->device));
    }
    d->port->clearError();
    Q_EMIT bytesSent(bytes);
}

ModemControl &DeviceSerialPort::modemLines()
{
    return *d;
}

QString DeviceSerialPort::openNotice() const
{
    return d->notice;
}

void DeviceSerialPort::cancelWait()
{
    if (d->net)
        d->net->close();
}

qint64 DeviceSerialPort::lineHolds()
{
    return d->open && d->line()->isOpen() ? d->line()->bytesAvailable() : 0;
}

void DeviceSerialPort::takeFromLine()
{
    if (d->open && d->line()->isOpen() && d->line()->bytesAvailable() > 0)
        takePiece(d->line()->readAll());
}

const DeviceSerialPort::Environment &DeviceSerialPort::environment() const
{
    return d->env;
}

QString DeviceSerialPort::DevicePath() const
{
    return d->device;
}
