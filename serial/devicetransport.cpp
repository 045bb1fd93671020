#include "devicetransport.h"

#include "devicelock.h"
#include "devicereturn.h"
#include "kavroerror.h"
#include "portstatus.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>

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

QString goneText(const QString &device)
{
    return QStringLiteral("Das Gerät %1 ist nicht mehr vorhanden").arg(device);
}

} // namespace

DeviceTransport::DeviceTransport(const PortSetup &setup, const QStringList &lockDirs,
                                 QObject *parent)
    : PortTransport(setup, parent), m_lockDirs(lockDirs)
{
    connect(&m_serial, &QSerialPort::readyRead, this, &PortTransport::readyRead);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &DeviceTransport::onError);
    m_presence.setInterval(1000);
    connect(&m_presence, &QTimer::timeout, this, [this] {
        if (m_live && gone())
            Q_EMIT lost(Err::PortGone, goneText(m_device));
    });
}

DeviceTransport::~DeviceTransport()
{
    close();
}

bool DeviceTransport::open(const QString &target)
{
    openDevice(target, true);
    m_device = target;
    m_live = true;
    m_presence.start();
    return true;
}

// Opens the device with the settings in force; throws KavroError.
void DeviceTransport::openDevice(const QString &path, bool fresh)
{
    m_lock = DeviceLock::take(path, m_lockDirs, fresh);
    m_serial.clearError();
    m_serial.setPortName(m_lock->openName(path));
    if (!m_serial.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_serial.error();
        const QString reason = m_serial.errorString();
        m_lock.reset();
        m_serial.clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            raiseError(Err::PortNotFound,
                       QStringLiteral("Ungültige Portnummer: Gerät %1 nicht vorhanden").arg(path));
        case QSerialPort::PermissionError:
            // Our own open went through, so this is QSerialPort's lock file
            // or a program that took the port in the meantime.
            if (PortStatus::lockedByOtherProgram(path, m_lockDirs))
                raisePortError(EBUSY, path);
            raiseError(
                Err::PortAccess,
                QStringLiteral("Zugriff auf den Anschluss %1 verweigert (%2)").arg(path, reason));
        default:
            raiseError(Err::PortOpenFailed,
                       QStringLiteral("Der Anschluss %1 kann nicht geöffnet werden (%2)")
                           .arg(path, reason));
        }
    }

    // QSerialPort marks the device exclusive. On real hardware the mark goes
    // with the last close, even when Kavro is killed; a pseudo-terminal would
    // keep it for as long as its far end lives and refuse every later
    // opening. There the flock and the lock file, which die with the
    // process, do.
    const bool pseudoTerminal = m_lock->isPseudoTerminal();
    if (pseudoTerminal)
        ::ioctl(int(m_serial.handle()), TIOCNXCL);

    if (!applyLineSettings(m_serial, m_setup.settings, pseudoTerminal)) {
        m_serial.close();
        m_lock.reset();
        raiseError(Err::InvalidValue, settingsRefusedText(m_setup.settingsText, path));
    }
    lowerForOpening(path);
    m_notice = m_lock->notice();
}

// "Beim Öffnen" on a device just opened. The system raised both lines as it
// opened it (Linux has no way to open a port without that); a line to stay
// low is lowered now, before anything is sent. A refusal does not cost the
// opening.
void DeviceTransport::lowerForOpening(const QString &path)
{
    const OpenLevels levels = m_setup.openLevels();
    for (const auto &[line, on] :
         {std::pair{ModemOutput::Dtr, levels.dtr}, {ModemOutput::Rts, levels.rts}}) {
        QString reason;
        if (!on && !setOnDevice(line, false, reason))
            Q_EMIT failed(
                KavroError(Err::PortIo, lineRefusedText(line, false, path, reason) +
                                            QStringLiteral(" (Einstellung „Beim Öffnen“)")));
    }
}

void DeviceTransport::letGo()
{
    m_live = false;
    m_presence.stop();
    if (m_serial.isOpen())
        m_serial.close();
    m_lock.reset();
    m_serial.clearError();
}

void DeviceTransport::close()
{
    letGo();
    delete std::exchange(m_return, nullptr);
    m_device.clear();
    m_notice.clear();
}

// QSerialPort's clearError() builds its error text and signals even when
// there is no error; a repeat writing every 10 ms would pay that twice a
// write.
void DeviceTransport::forgetError()
{
    if (m_serial.error() != QSerialPort::NoError)
        m_serial.clearError();
}

bool DeviceTransport::write(const QByteArray &bytes)
{
    forgetError();
    m_writing = true;
    m_writeFailed = false;
    const qint64 queued = m_serial.write(bytes);
    if (queued == bytes.size())
        m_serial.flush(); // pushes what the device takes now; the rest follows
    m_writing = false;
    const bool handed =
        queued == bytes.size() && m_serial.error() != QSerialPort::WriteError && !m_writeFailed;
    m_writeFailed = false;
    forgetError();
    return handed;
}

// QSerialPort's own, found by type and descriptor: it offers no way to pause
// its reading.
QSocketNotifier *DeviceTransport::readNotifier()
{
    if (!m_serial.isOpen())
        return nullptr;
    const auto notifiers = m_serial.findChildren<QSocketNotifier *>();
    for (QSocketNotifier *n : notifiers)
        if (n->type() == QSocketNotifier::Read && n->socket() == m_serial.handle())
            return n;
    return nullptr;
}

bool DeviceTransport::setLine(const LineSettings &settings, const QString &text)
{
    const bool lineless = m_lock && m_lock->isPseudoTerminal();
    if (!applyLineSettings(m_serial, settings, lineless)) {
        applyLineSettings(m_serial, m_setup.settings, lineless);
        raiseError(Err::InvalidValue, settingsRefusedText(text, m_device));
    }
    return true;
}

ModemLines DeviceTransport::lines()
{
    m_serial.clearError();
    m_changingLines = true;
    const QSerialPort::PinoutSignals is = m_serial.pinoutSignals();
    m_changingLines = false;
    const bool unknown = m_serial.error() != QSerialPort::NoError;
    m_serial.clearError();
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
bool DeviceTransport::setOnDevice(ModemOutput line, bool on, QString &reason)
{
    m_serial.clearError();
    m_changingLines = true;
    const bool done = line == ModemOutput::Dtr   ? m_serial.setDataTerminalReady(on)
                      : line == ModemOutput::Rts ? m_serial.setRequestToSend(on)
                                                 : m_serial.setBreakEnabled(on);
    m_changingLines = false;
    reason = m_serial.errorString();
    m_serial.clearError();
    return done;
}

void DeviceTransport::setOutput(ModemOutput line, bool on)
{
    QString reason;
    if (!setOnDevice(line, on, reason))
        raiseError(Err::PortIo, lineRefusedText(line, on, m_device, reason));
    if (line == ModemOutput::Break)
        return;
    // A driver may take a change it cannot make without a word: what the
    // device reports afterwards is what counts.
    const ModemLines now = lines();
    const std::optional<bool> is = line == ModemOutput::Dtr ? now.dtr : now.rts;
    if (is && *is != on)
        raiseError(Err::PortIo,
                   lineRefusedText(line, on, m_device,
                                   QStringLiteral("das Gerät meldet sie unverändert")));
}

QString DeviceTransport::awaitReturn(const QString &linkPath)
{
    letGo();
    delete std::exchange(m_return, nullptr);
    m_return = new DeviceReturn(
        m_device, linkPath, [this](const QString &target) { openDevice(target, false); }, this);
    connect(m_return, &DeviceReturn::aboutChanged, this, &PortTransport::awayChanged);
    connect(m_return, &DeviceReturn::returned, this, [this](const QString &target) {
        // Let go of from inside its own signal: it goes once that has returned.
        std::exchange(m_return, nullptr)->deleteLater();
        m_device = target;
        m_live = true;
        m_presence.start();
        Q_EMIT returned(target);
    });
    return m_return->about();
}

bool DeviceTransport::gone() const
{
    return !m_lock || m_lock->hungUp() || !QFileInfo::exists(m_device);
}

// The device failed or went away (a USB adapter pulled, the far end of a
// pseudo-terminal closed).
void DeviceTransport::onError(QSerialPort::SerialPortError error)
{
    if (!m_live || m_changingLines)
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        break;
    default:
        // Setters report through their results, which are checked where they
        // are called.
        return;
    }
    if (gone()) {
        Q_EMIT lost(Err::PortGone, goneText(m_device));
    } else if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError) {
        // A device that is being pulled may fail a read a moment before the
        // system shows it gone; look again before calling it dead. Reading
        // has stopped meanwhile, so this cannot turn into a loop.
        QTimer::singleShot(100, this, [this, error] {
            if (!m_live)
                return;
            if (gone())
                Q_EMIT lost(Err::PortGone, goneText(m_device));
            else if (error == QSerialPort::ReadError)
                Q_EMIT lost(Err::PortIo,
                            QStringLiteral("Lesefehler am Anschluss %1").arg(m_device));
        });
    } else if (error == QSerialPort::WriteError) {
        // A failure of the command being handed over is that command's; one
        // found while the rest of an earlier command went out in the
        // background is told at once, and the next command goes out.
        if (m_writing)
            m_writeFailed = true;
        else
            Q_EMIT failed(KavroError(Err::PortIo,
                                     QStringLiteral("Schreibfehler am Anschluss %1: ein gesendeter "
                                                    "Befehl ist nicht vollständig angekommen")
                                         .arg(m_device)));
    }
    // A ResourceError of a device that is still there is a full output buffer
    // (Qt reports EAGAIN so); the rest is sent when there is room.
    m_serial.clearError();
}
