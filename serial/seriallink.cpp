#include "seriallink.h"

#include "capturesink.h"
#include "commandtext.h"
#include "kavroerror.h"
#include "linesettings.h"
#include "messageboxes.h"
#include "porttext.h"
#include "serialport.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>

SerialLink::SerialLink(const LinkControls &controls, SerialPort &port, MessageBoxes &boxes,
                       CaptureSink &capture)
    : m_c(controls), m_port(port), m_boxes(boxes), m_capture(capture)
{
}

void SerialLink::Verbind_Click()
{
    try {
        if (!m_port.PortOpen())
            openSequence();
        else
            closeSequence();
    } catch (const KavroError &e) {
        // Two failures mean something to the operator; every other one ends
        // the click without a word.
        const QString port = trimSpaces(m_c.Comport->currentText());
        const QString title = QStringLiteral("Comportfehler");
        if (e.number() == Err::PortInUse)
            m_boxes.show(QStringLiteral(" Com ") + port +
                             QStringLiteral(" ist bereits von einem anderen Programm geöffnet!"),
                         title, MessageBoxes::Ok, MessageBoxes::Information);
        if (e.number() == Err::PortNotFound)
            m_boxes.show(QStringLiteral(" Com ") + port + QStringLiteral(" existiert nicht!"),
                         title, MessageBoxes::Ok, MessageBoxes::Information);
    }
}

void SerialLink::openSequence()
{
    const QString baud = m_c.Baud->currentText();
    QString parity;
    QString dataBits;
    QString stopBits;
    if (m_c.even->isChecked())
        parity = QStringLiteral("e");
    if (m_c.odd->isChecked())
        parity = QStringLiteral("o");
    if (m_c.non->isChecked())
        parity = QStringLiteral("n");
    if (m_c.acht->isChecked())
        dataBits = QStringLiteral("8");
    if (m_c.sieben->isChecked())
        dataBits = QStringLiteral("7");
    if (m_c.eins->isChecked())
        stopBits = QStringLiteral("1");
    if (m_c.zwei->isChecked())
        stopBits = QStringLiteral("2");

    m_port.setCommPort(portNumber(m_c.Comport->currentText()));
    m_port.setSettings(LineSettings::compose(baud, parity, dataBits, stopBits));
    m_port.setPortOpen(true);

    // The window changes only once the port is open.
    m_c.Verbind->setText(QStringLiteral("Schließen"));
    m_c.Shape1->setFillColor(LampControl::Green);
    m_c.Frame5->setEnabled(false);
    m_c.Empfang->clearText();
    m_recv.reset();
}

void SerialLink::closeSequence()
{
    m_port.setPortOpen(false);
    m_c.Verbind->setText(QStringLiteral("Öffnen"));
    m_c.Shape1->setFillColor(LampControl::Red);
    m_c.Frame5->setEnabled(true);
}

void SerialLink::MSComm1_OnComm()
{
    bool refreshed = false;
    // The loop never yields, so the view is written once, when the event is
    // over; it is written even when a read fails halfway, so the operator sees
    // everything that was taken in.
    const auto endOfEvent = qScopeGuard([&] {
        if (refreshed)
            m_c.Empfang->setLines(m_recv.shownLines());
        m_capture.endOfEvent();
    });
    while (m_port.InBufferCount() != 0) {
        const QByteArrayView unit = m_port.Input();
        m_capture.write(unit);
        refreshed |= m_recv.feed(unit);
    }
}

void SerialLink::clear_empf_Click()
{
    m_c.Empfang->clearText();
    m_recv.clear();
}

void SerialLink::send_win_Click()
{
    if (!m_port.PortOpen())
        return;
    const QString command = m_c.SendWin->text();
    // Only one option of the group can be selected; "kein Zeichen" is what
    // remains when none of the others is.
    Terminator terminator = Terminator::None;
    if (m_c.Option2->isChecked())
        terminator = Terminator::Cr;
    if (m_c.Option3->isChecked())
        terminator = Terminator::Lf;
    if (m_c.Option4->isChecked())
        terminator = Terminator::CrLf;
    if (m_c.Option5->isChecked())
        terminator = Terminator::LfCr;
    m_port.setOutput(commandToSend(command, terminator));
}

void SerialLink::clear_send_Click()
{
    m_c.SendWin->setText(QString());
}
