#include "seriallink.h"

#include "capturesink.h"
#include "codepage.h"
#include "linesettings.h"
#include "messageboxes.h"
#include "modemlines.h"
#include "porttext.h"
#include "serialport.h"

#include <QScopeGuard>

SerialLink::SerialLink(SerialPort &port, MessageBoxes &boxes, CaptureSink &capture, QObject *parent)
    : QObject(parent), m_port(port), m_boxes(boxes), m_capture(capture)
{
    // A device that vanishes and comes back while the port is open changes
    // the state without a click.
    connect(&m_port, &SerialPort::WaitingChanged, this, [this](bool waiting, const QString &about) {
        if (waiting)
            Q_EMIT stateChanged(PortState::Waiting, about);
        else
            Q_EMIT stateChanged(m_port.PortOpen() ? PortState::Open : PortState::Closed, {});
    });
}

void SerialLink::Verbind_Click(const PortChoice &choice)
{
    // Clicks that come while an opening is under way are not this one's.
    if (openingPending())
        return;
    const bool opening = !m_port.PortOpen();
    try {
        if (opening)
            openSequence(choice);
        else
            closeSequence();
    } catch (const KavroError &e) {
        refused(e, opening, choice.comport);
    }
}

void SerialLink::finishOpening(const std::optional<KavroError> &failure)
{
    const std::optional<QString> comport = std::exchange(m_pendingPort, std::nullopt);
    if (!comport)
        return;
    if (failure)
        refused(*failure, true, *comport);
    else
        opened();
}

void SerialLink::refused(const KavroError &e, bool opening, const QString &comport)
{
    // Two failures mean something to the operator; every other one ends the
    // click without a box. Why an opening failed stays readable in the
    // tooltips until the next one.
    if (opening)
        setRefusal(e);
    const QString port = trimSpaces(comport);
    const QString title = QStringLiteral("Comportfehler");
    if (e.number() == Err::PortInUse)
        m_boxes.show(QStringLiteral(" Com ") + port +
                         QStringLiteral(" ist bereits von einem anderen Programm geöffnet!"),
                     title, MessageBoxes::Ok, MessageBoxes::Information);
    if (e.number() == Err::PortNotFound)
        m_boxes.show(QStringLiteral(" Com ") + port + QStringLiteral(" existiert nicht!"), title,
                     MessageBoxes::Ok, MessageBoxes::Information);
}

void SerialLink::openSequence(const PortChoice &choice)
{
    m_port.setCommPort(portNumber(choice.comport));
    m_port.setSettings(
        LineSettings::compose(choice.baud, choice.parity, choice.dataBits, choice.stopBits));
    m_port.setPortOpen(true);
    if (m_port.isOpening())
        m_pendingPort = choice.comport;
    else
        opened();
}

// The window changes only once the port is open.
void SerialLink::opened()
{
    setRefusal(std::nullopt);
    m_openNotice = m_port.openNotice();
    Q_EMIT stateChanged(PortState::Open, {});
    Q_EMIT viewCleared();
    m_recv.reset();
}

void SerialLink::closeSequence()
{
    m_port.setPortOpen(false);
    m_openNotice.clear();
    Q_EMIT stateChanged(PortState::Closed, {});
}

void SerialLink::setRefusal(std::optional<KavroError> refusal)
{
    if (!refusal && !m_lastRefusal)
        return;
    m_lastRefusal = std::move(refusal);
    Q_EMIT refusalChanged(m_lastRefusal);
}

void SerialLink::MSComm1_OnComm()
{
    bool refreshed = false;
    // The loop never yields, so the view is written once, when the event is
    // over; it is written even when a read fails halfway, so the operator sees
    // everything that was taken in.
    const auto endOfEvent = qScopeGuard([&] {
        if (refreshed)
            Q_EMIT linesChanged(m_recv.shownLines());
        m_capture.endOfEvent();
    });
    const bool owned = !m_lineOwner.isEmpty();
    while (m_port.InBufferCount() != 0) {
        const QByteArrayView unit = m_port.Input();
        m_capture.write(unit);
        if (!owned)
            refreshed |= m_recv.feed(unit);
    }
}

void SerialLink::setLineOwner(const QString &reason, const QString &after)
{
    const QString shown = reason.isEmpty() ? after : reason;
    m_lineOwner = reason;
    if (shown.isEmpty())
        return;
    // One line of its own in Empfang, whatever the line before held.
    const QList<QByteArray> lines = m_recv.shownLines();
    QByteArray text = lines.isEmpty() || lines.last().endsWith("\r\n") || lines.last().isEmpty()
                          ? QByteArray()
                          : QByteArray("\r\n");
    text += bytesFromText(shown) + "\r\n";
    bool refreshed = false;
    for (qsizetype i = 0; i < text.size(); ++i)
        refreshed |= m_recv.feed(QByteArrayView(text.constData() + i, 1));
    if (refreshed)
        Q_EMIT linesChanged(m_recv.shownLines());
}

void SerialLink::clear_empf_Click()
{
    Q_EMIT viewCleared();
    m_recv.clear();
}

void SerialLink::send_win_Click(const QString &command, Terminator terminator)
{
    if (!m_port.PortOpen())
        return;
    if (!m_lineOwner.isEmpty()) {
        Q_EMIT sendRefused(m_lineOwner);
        return;
    }
    m_port.setOutput(commandToSend(command, terminator));
}

QString SerialLink::sendCommandBytes(QByteArrayView bytes, const QString &name)
{
    if (!m_port.PortOpen())
        return lineRefusal(LineAccess::Closed);
    if (!m_lineOwner.isEmpty())
        return m_lineOwner;
    m_sendingName = name;
    QString refusal;
    try {
        m_port.setOutput(textFromBytes(bytes));
    } catch (const KavroError &e) {
        refusal = e.description();
    }
    m_sendingName.clear();
    return refusal;
}
