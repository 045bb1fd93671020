#include "networkline.h"

#include "kavroerror.h"

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
        else if (m_state == State::Open)
            settleAnswers(true);
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
    m_state = State::Connecting;
    m_bound->start(ConnectBoundMs);
    m_socket->connectToHost(m_address.host, m_address.port);
}

bool NetworkLine::setLine(const LineSettings &settings)
{
    if (m_state != State::Open || !telnet())
        return false;
    m_asked = lineOf(settings);
    const QByteArray request = m_codec.requestSettings(m_asked);
    if (request.isEmpty())
        return false;
    m_socket->write(request);
    m_askingLine = true;
    m_bound->start(AnswerBoundMs);
    return true;
}

bool NetworkLine::setControl(Rfc2217Client::Control control)
{
    using C = Rfc2217Client::Control;
    if (m_state != State::Open || !hasControlLines())
        return false;
    m_socket->write(m_codec.requestControl(control));
    // ser2net's answer to the end of a break may repeat its start.
    if (control == C::BreakOn || control == C::BreakOff)
        return false;
    (control == C::DtrOn || control == C::DtrOff ? m_askedDtr : m_askedRts) = control;
    m_bound->start(AnswerBoundMs);
    return true;
}

void NetworkLine::settleAnswers(bool timeUp)
{
    // Each is forgotten before it is told: whoever hears it may ask again,
    // or close the line.
    if (m_askingLine) {
        const Rfc2217Client::Verdict verdict = m_codec.verdict(m_asked);
        if (timeUp || verdict != Rfc2217Client::Verdict::Waiting) {
            m_askingLine = false;
            Q_EMIT lineAnswered(verdict != Rfc2217Client::Verdict::Differs);
            if (m_state != State::Open)
                return;
        }
    }
    using C = Rfc2217Client::Control;
    for (std::optional<C> *asked : {&m_askedDtr, &m_askedRts}) {
        // A server that does not answer leaves the line unknown, which is
        // what the menu then shows; only an answer to the contrary is a
        // refusal.
        const std::optional<bool> now =
            asked == &m_askedDtr ? m_codec.lines().dtr : m_codec.lines().rts;
        if (!*asked || (!now && !timeUp))
            continue;
        const C control = *std::exchange(*asked, std::nullopt);
        Q_EMIT controlAnswered(control,
                               !now || *now == (control == C::DtrOn || control == C::RtsOn));
        if (m_state != State::Open)
            return;
    }
    if (!m_askingLine && !m_askedDtr && !m_askedRts)
        m_bound->stop();
}

void NetworkLine::forgetAsked()
{
    m_askingLine = false;
    m_askedDtr.reset();
    m_askedRts.reset();
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
        m_askingLine = !request.isEmpty();
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
    if (m_state == State::Negotiating) {
        checkNegotiation();
    } else if (m_state == State::Open) {
        settleAnswers(false);
        if (m_state == State::Open && m_data.size() > before)
            Q_EMIT readyRead();
    }
    // The socket does not signal again for what came in while its signal was
    // being handled (a handler that ran the event loop, such as a message
    // box); at the end of a stream nothing more comes to signal it, so look
    // once more.
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
    forgetAsked();
    m_socket->abort();
    Q_EMIT dropped();
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
        !m_askingLine || verdict == Rfc2217Client::Verdict::Agreed || m_codec.comPortRefused();
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
        forgetAsked();
        Q_EMIT dropped();
        break;
    case State::Closed:
        break;
    }
}

void NetworkLine::fail(int number, const QString &description)
{
    // Closed before the socket is: its farewell is no news of the server.
    m_state = State::Closed;
    m_bound->stop();
    m_socket->abort();
    m_data.clear();
    m_pos = 0;
    forgetAsked();
    Q_EMIT refused(number, description);
}

void NetworkLine::succeed()
{
    m_bound->stop();
    m_askingLine = false;
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
    if (m_state == State::Open && m_pos < m_data.size())
        Q_EMIT readyRead();
}

void NetworkLine::close()
{
    const bool wasOpen = isOpen();
    m_bound->stop();
    forgetAsked();
    m_state = State::Closed;
    m_socket->abort();
    m_data.clear();
    m_pos = 0;
    if (wasOpen)
        QIODevice::close();
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
