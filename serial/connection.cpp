#include "form.h"
#include "handlers.h"
#include "kavroerror.h"
#include "lamp.h"
#include "messageboxes.h"
#include "receiveview.h"
#include "serialport.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr quint32 Red = 255;
constexpr quint32 Green = 65280;

// The port text without the spaces around it (spaces only, as the operator
// typed them; the messages quote the port this way too).
QString trimSpaces(const QString &text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from] == QLatin1Char(' '))
        ++from;
    while (to > from && text[to - 1] == QLatin1Char(' '))
        --to;
    return text.mid(from, to - from);
}

// The port text as a 16-bit signed number: an optional sign, then decimal
// digits. Anything else fails.
qint16 portNumber(const QString &text)
{
    const QString t = trimSpaces(text);
    qsizetype i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        ++i;
    if (i == t.size())
        raiseError(Err::TypeMismatch);
    for (qsizetype j = i; j < t.size(); ++j) {
        if (t[j] < QLatin1Char('0') || t[j] > QLatin1Char('9'))
            raiseError(Err::TypeMismatch);
    }
    bool ok = false;
    const qlonglong n = t.toLongLong(&ok);
    if (!ok || n < -32768 || n > 32767)
        raiseError(Err::Overflow);
    return qint16(n);
}

void openSequence(Form &f)
{
    const QString baud = f.Baud->currentText();
    QString parity;
    QString dataBits;
    QString stopBits;
    if (f.even->isChecked())
        parity = QStringLiteral("e");
    if (f.odd->isChecked())
        parity = QStringLiteral("o");
    if (f.non->isChecked())
        parity = QStringLiteral("n");
    if (f.acht->isChecked())
        dataBits = QStringLiteral("8");
    if (f.sieben->isChecked())
        dataBits = QStringLiteral("7");
    if (f.eins->isChecked())
        stopBits = QStringLiteral("1");
    if (f.zwei->isChecked())
        stopBits = QStringLiteral("2");

    f.MSComm1->setCommPort(portNumber(f.Comport->currentText()));
    f.MSComm1->setSettings(baud + QLatin1Char(',') + parity + QLatin1Char(',') + dataBits +
                           QLatin1Char(',') + stopBits);
    f.MSComm1->setPortOpen(true);

    // The window changes only once the port is open.
    f.Verbind->setText(QStringLiteral("Schließen"));
    f.Shape1->setFillColor(Green);
    f.Frame5->setEnabled(false);
    f.Empfang->clearText();
    f.recv.RecvLineIdx = 1;
    f.recv.LineEndSeen = false;
    f.recv.clearSlots();
}

void closeSequence(Form &f)
{
    f.MSComm1->setPortOpen(false);
    f.Verbind->setText(QStringLiteral("Öffnen"));
    f.Shape1->setFillColor(Red);
    f.Frame5->setEnabled(true);
}

} // namespace

void Verbind_Click(Form &f)
{
    try {
        if (!f.MSComm1->PortOpen())
            openSequence(f);
        else
            closeSequence(f);
    } catch (const KavroError &e) {
        // Two failures mean something to the operator; every other one ends
        // the click without a word.
        const QString port = trimSpaces(f.Comport->currentText());
        const QString title = QStringLiteral("Comportfehler");
        if (e.number() == Err::PortInUse)
            f.boxes->show(QStringLiteral(" Com ") + port +
                              QStringLiteral(" ist bereits von einem anderen Programm geöffnet!"),
                          title, MessageBoxes::Ok, MessageBoxes::Information);
        if (e.number() == Err::PortNotFound)
            f.boxes->show(QStringLiteral(" Com ") + port + QStringLiteral(" existiert nicht!"),
                          title, MessageBoxes::Ok, MessageBoxes::Information);
    }
}
