#include "commandbox.h"
#include "commandtext.h"
#include "form.h"
#include "handlers.h"
#include "receiveview.h"
#include "serialport.h"

#include <QRadioButton>
#include <QScopeGuard>

void MSComm1_OnComm(Form &f)
{
    bool refreshed = false;
    // The loop never yields, so the view is written once, when the event is
    // over; it is written even when a read fails halfway, so the operator sees
    // everything that was taken in.
    const auto endOfEvent = qScopeGuard([&] {
        if (refreshed)
            f.Empfang->setLines(f.recv.shownLines());
        if (f.capture)
            f.capture->endOfEvent();
    });
    while (f.MSComm1->InBufferCount() != 0) {
        const QByteArrayView unit = f.MSComm1->Input();
        if (f.RecActive == -1)
            f.capture->write(unit);
        refreshed |= f.recv.feed(unit);
    }
}

void clear_empf_Click(Form &f)
{
    f.Empfang->clearText();
    f.recv.clearSlots();
    f.recv.RecvLineIdx = 1;
}

void send_win_Click(Form &f)
{
    if (!f.MSComm1->PortOpen())
        return;
    const QString command = f.SendWin->text();
    // Only one option of the group can be selected; Option1 stands for "no
    // terminator", which is what remains when none of the others is.
    Terminator terminator = Terminator::None;
    if (f.Option2->isChecked())
        terminator = Terminator::Cr;
    if (f.Option3->isChecked())
        terminator = Terminator::Lf;
    if (f.Option4->isChecked())
        terminator = Terminator::CrLf;
    if (f.Option5->isChecked())
        terminator = Terminator::LfCr;
    f.MSComm1->setOutput(commandToSend(command, terminator));
}

void clear_send_Click(Form &f)
{
    f.SendWin->setText(QString());
}
