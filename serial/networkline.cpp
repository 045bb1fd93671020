#include "networkline.h"

#include "kavroerror.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include <cstring>

namespace
{

Rfc2217Client::Line lineOf(const LineSettings &s)
{
    static const char parities[] = {'n', 'e', 'o', 'm', 's'};
    const double stop = s.stopBits == LineSettings::StopBits::One          ? 1.0
                        : s.stopBits == LineSettings::StopBits::OneAndHalf ? 1.5
                                                                           : 2.0;
    return {quint32(s.baud), s.dataBits, parities[int(s.parity)], stop};
}

} // namespace

NetworkLine::NetworkLine(const NetworkAddress &address, QObject *parent) : NetworkLine(parent)
{
    m_address = address;
}

NetworkLine::NetworkLine(QObject *parent)
    : QIODevice(parent), m_socket(new QTcpSocket(this)), m_bound(new QTimer(this))
{
    m_bound->setSingleShot(true);
    // The bounds are promises to the operator and the server: not a coarse
    // timer's 5 % early.
    m_bound->setTimerType(Qt::PreciseTimer);
    connect(m_socket, &QTcpSocket::connected, this, &NetworkLine::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkLine::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &NetworkLine::onGone);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NetworkLine::onGone);
    connect(m_bound, &QTimer::timeout, this, [this] {
        if (m_state == State::Connecting)
            fail(Err::PortNotFound,
                 QStringLiteral("Ungültige Portnummer: %1 antwortet nicht").arg(m_address.text()));
        else if (m_state == State::Negotiating)
            succeed(); // a server that never answers does not set its line
        else
            m_asking = false;
        wake();
    });
}

NetworkLine::~NetworkLine()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

void NetworkLine::begin(const LineSettings &settings)
{
    close();
    m_codec = Rfc2217Client();
    m_asked = lineOf(settings);
    m_failNumber = 0;
    m_failText.clear();
    m_state = State::Connecting;
    m_bound->start(ConnectBoundMs);
    m_socket->connectToHost(m_address.host, m_address.port);
}

void NetworkLine::open(const LineSettings &settings)
{
    begin(settings);
    waitUntil([this] { return m_state != State::Connecting && m_state != State::Negotiating; });
    if (m_state == State::Open)
        return;
    // Closed while waiting (the window went away): nothing to tell.
    if (m_failNumber == 0)
        raiseError(Err::PortOpenFailed,
                   QStringLiteral("Das Öffnen von %1 wurde abgebrochen").arg(m_address.text()));
    raiseError(m_failNumber, m_failText);
}

bool NetworkLine::setLine(const LineSettings &settings)
{
    if (m_state != State::Open || !telnet())
        return true;
    m_asked = lineOf(settings);
    const QByteArray request = m_codec.requestSettings(m_asked);
    if (request.isEmpty())
        return true;
    m_socket->write(request);
    m_asking = true;
    m_bound->start(AnswerBoundMs);
    waitUntil([this] {
        return !m_asking || m_codec.verdict(m_asked) != Rfc2217Client::Verdict::Waiting;
    });
    m_asking = false;
    m_bound->stop();
    return m_codec.verdict(m_asked) != Rfc2217Client::Verdict::Differs;
}

bool NetworkLine::setControl(Rfc2217Client::Control control)
{
    using C = Rfc2217Client::Control;
    if (m_state != State::Open || !hasControlLines())
        return true;
    const bool on = control == C::DtrOn || control == C::RtsOn;
    const auto answer = [this, control]() -> std::optional<bool> {
        const Rfc2217Client::Lines &lines = m_codec.lines();
        if (control == C::DtrOn || control == C::DtrOff)
            return lines.dtr;
        return lines.rts;
    };
    m_socket->write(m_codec.requestControl(control));
    // What servers answer to a break differs (ser2net's answer to the end
    // of one may repeat its start), and nothing shows the break's state:
    // the request goes out and is not waited for.
    if (control == C::BreakOn || control == C::BreakOff)
        return true;
    m_asking = true;
    m_bound->start(AnswerBoundMs);
    waitUntil([&] { return !m_asking || answer().has_value(); });
    m_asking = false;
    m_bound->stop();
    // A server that does not answer leaves the line unknown, which is what
    // the menu then shows; only an answer to the contrary is a refusal.
    const std::optional<bool> now = answer();
    return !now || *now == on;
}

void NetworkLine::waitUntil(const std::function<bool()> &done)
{
    if (done())
        return;
    // The window keeps painting and its timers run; whoever shows it keeps
    // the operator from starting anything in between (waitBegins).
    QEventLoop loop;
    m_waitLoop = &loop;
    m_waitDone = done;
    Q_EMIT waitBegins();
    loop.exec();
    m_waitLoop = nullptr;
    m_waitDone = nullptr;
    Q_EMIT waitEnds();
}

void NetworkLine::wake()
{
    if (m_waitLoop && (m_state == State::Closed || m_waitDone()))
        m_waitLoop->quit();
}

void NetworkLine::onConnected()
{
    if (m_state != State::Connecting)
        return;
    m_state = State::Negotiating;
    if (telnet()) {
        // The settings go out at once: the server takes subnegotiations
        // before binary mode is agreed. Data does not (see writeData).
        const QByteArray request = m_codec.requestSettings(m_asked);
        m_asking = !request.isEmpty();
        m_socket->write(m_codec.opening() + request);
        m_bound->start(AnswerBoundMs);
    } else {
        m_bound->start(SettleMs);
    }
}

void NetworkLine::onReadyRead()
{
    if (m_state == State::Closed || !m_socket->isReadable())
        return;
    const QByteArray in = m_socket->readAll();
    if (m_state == State::Closed || in.isEmpty())
        return;
    if (m_pos == m_data.size()) {
        m_data.resize(0);
        m_pos = 0;
    }
    const qsizetype before = m_data.size();
    if (telnet()) {
        QByteArray reply;
        m_codec.decode(in, m_data, reply);
        if (!reply.isEmpty())
            m_socket->write(reply);
        if (m_codec.pestered()) {
            hangUp();
            return;
        }
    } else {
        m_data.append(in);
    }
    if (m_state == State::Negotiating)
        checkNegotiation();
    else if (m_state == State::Open && m_data.size() > before)
        Q_EMIT readyRead();
    wake();
    // The socket does not signal again for what came in while its signal was
    // being handled (a handler that ran the event loop, a wait of ours); at
    // the end of a stream nothing more comes to signal it, so look once more.
    if (m_state != State::Closed && m_socket->isReadable() && m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &NetworkLine::onReadyRead, Qt::QueuedConnection);
}

// A server that never stops asking for options would have us answer for
// ever, and what it does not read of the answers piles up in the socket: it
// is given up like one that went away. The port keeps what it sent before
// and calls again later; an opening ends refused.
void NetworkLine::hangUp()
{
    const bool opening = m_state == State::Negotiating;
    // Closed before the socket is: the socket's farewell is no news of the
    // server (onGone).
    m_state = State::Closed;
    if (opening) {
        fail(Err::PortNotFound,
             QStringLiteral("Ungültige Portnummer: %1 hört nicht auf, Optionen auszuhandeln")
                 .arg(m_address.text()));
        return;
    }
    m_bound->stop();
    m_socket->abort();
    Q_EMIT dropped();
    wake();
}

void NetworkLine::checkNegotiation()
{
    if (!telnet())
        return; // only the settle time tells
    const Rfc2217Client::Verdict verdict = m_codec.verdict(m_asked);
    if (verdict == Rfc2217Client::Verdict::Differs) {
        fail(Err::InvalidValue,
             QStringLiteral(
                 "Ungültiger Eigenschaftswert: %1 kann die Einstellungen nicht übernehmen")
                 .arg(m_address.text()));
        return;
    }
    // Data goes out only in binary mode: a server in NVT mode would hand the
    // far device a CR NUL for every CR.
    const bool settled =
        !m_asking || verdict == Rfc2217Client::Verdict::Agreed || m_codec.comPortRefused();
    if (settled && m_codec.sendsBinary())
        succeed();
}

void NetworkLine::onGone()
{
    if (m_state == State::Closed || m_socket->state() == QAbstractSocket::ConnectedState)
        return;
    switch (m_state) {
    case State::Connecting:
        // Unknown host, refused, unreachable: no such port.
        fail(Err::PortNotFound, QStringLiteral("Ungültige Portnummer: %1 nicht erreichbar (%2)")
                                    .arg(m_address.text(), m_socket->errorString()));
        break;
    case State::Negotiating: {
        // Accepted and closed at once: the server serves another client, or
        // says what keeps its device away.
        QByteArray said = m_data.mid(m_pos);
        if (m_socket->isReadable())
            said += m_socket->readAll();
        if (said.contains("open failure"))
            fail(Err::PortNotFound,
                 QStringLiteral("Ungültige Portnummer: %1 kann sein Gerät nicht öffnen")
                     .arg(m_address.text()));
        else
            fail(Err::PortInUse,
                 QStringLiteral("%1 ist bereits in Gebrauch").arg(m_address.text()));
        break;
    }
    case State::Open:
        m_state = State::Closed;
        m_bound->stop();
        Q_EMIT dropped();
        wake();
        break;
    case State::Closed:
        break;
    }
}

void NetworkLine::fail(int number, const QString &description)
{
    m_bound->stop();
    m_socket->abort();
    m_state = State::Closed;
    m_data.clear();
    m_pos = 0;
    m_failNumber = number;
    m_failText = description;
    Q_EMIT refused(number, description);
    wake();
}

void NetworkLine::succeed()
{
    m_bound->stop();
    m_asking = false;
    m_state = State::Open;
    // On the same stream as the data, ahead of it: the server sets the lines
    // before it hands the device the first byte. Its answers tell how the
    // lines are.
    if (hasControlLines()) {
        using C = Rfc2217Client::Control;
        m_socket->write(m_codec.requestModemNotices() +
                        m_codec.requestControl(m_openLevels.dtr ? C::DtrOn : C::DtrOff) +
                        m_codec.requestControl(m_openLevels.rts ? C::RtsOn : C::RtsOff));
    }
    QIODevice::open(QIODevice::ReadWrite);
    Q_EMIT opened();
    if (m_pos < m_data.size())
        Q_EMIT readyRead();
    wake();
}

void NetworkLine::close()
{
    const bool wasOpen = isOpen();
    m_bound->stop();
    m_asking = false;
    m_state = State::Closed;
    m_socket->abort();
    m_data.clear();
    m_pos = 0;
    if (wasOpen)
        QIODevice::close();
    wake();
}

qint64 NetworkLine::bytesAvailable() const
{
    return qint64(m_data.size() - m_pos) + QIODevice::bytesAvailable();
}

qint64 NetworkLine::readData(char *data, qint64 maxSize)
{
    const qint64 n = std::min<qint64>(maxSize, m_data.size() - m_pos);
    if (n <= 0)
        return 0;
    std::memcpy(data, m_data.constData() + m_pos, size_t(n));
    m_pos += n;
    return n;
}

qint64 NetworkLine::writeData(const char *data, qint64 size)
{
    if (m_state != State::Open) {
        setErrorString(QStringLiteral("Die Verbindung zu %1 besteht nicht").arg(m_address.text()));
        return -1;
    }
    const QByteArrayView bytes(data, size);
    const qint64 queued = m_socket->write(telnet() ? m_codec.encode(bytes) : bytes.toByteArray());
    if (queued < 0)
        return -1;
    m_socket->flush();
    return size;
}
