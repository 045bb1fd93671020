// The main window's part of the file transfers: the command box's entries,
// the received pieces handed to a transfer, and where what it tells is shown.
// The transfers themselves are TransferControl's.

#include "codepage.h"
#include "commandbox.h"
#include "commandtext.h"
#include "kavrowindow.h"
#include "plaintext.h"
#include "seriallink.h"
#include "serialport.h"
#include "transfercontrol.h"

#include <QToolTip>

void KavroWindow::wireTransfers()
{
    // A file transfer has the line while it runs: commands are refused with
    // the reason, shown under the command box.
    m_transfers->setWindowValues([this] { return int(m_port->CommPort()); },
                                 [this] { return bytesFromText(commandToSend({}, terminator())); });
    connect(m_port, &SerialPort::pieceTaken, m_transfers, &TransferControl::take);
    connect(m_c.SendWin, &CommandBox::sendFileRequested, this,
            [this] { m_reporter.run([this] { m_transfers->askSend(); }); });
    connect(m_c.SendWin, &CommandBox::receiveFileRequested, this,
            [this] { m_reporter.run([this] { m_transfers->askReceive(); }); });
    connect(m_link, &SerialLink::sendRefused, this, &KavroWindow::showStatus);
    connect(m_transfers, &TransferControl::status, this, &KavroWindow::showStatus);
    connect(m_transfers, &TransferControl::runningChanged, this,
            [this] { showPortState(m_portState, m_portStateAbout); });
}

// What the operator is told about sending (a refusal, a transfer's end,
// what keeps running): the window has no status line of its own, so it is a
// tooltip under the command box, where the operator looks when sending.
void KavroWindow::showStatus(const QString &text)
{
    m_status = text;
    QToolTip::showText(m_c.SendWin->mapToGlobal(QPoint(0, m_c.SendWin->height())),
                       plainToolTip(text, m_c.SendWin), m_c.SendWin);
}
