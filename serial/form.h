#pragma once

#include "lineassembler.h"

#include <QString>

class CommandBox;
class Lamp;
class MessageBoxes;
class QComboBox;
class QGroupBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class ReceiveView;
class SerialPort;

// Where received units go while a capture runs.
class CaptureSink
{
public:
    virtual ~CaptureSink() = default;
    // Writes one unit to the capture file, unchanged.
    virtual void write(QByteArrayView unit) = 0;
    // The receive event is over: hand what was written to the system.
    virtual void endOfEvent() = 0;
};

// What the handlers reach through the window: its controls, components and the
// form-level state. The window fills it in; tests may fill it with their own.
struct Form
{
    // Port parameters and connection.
    QPushButton *Verbind = nullptr;
    Lamp *Shape1 = nullptr;
    QGroupBox *Frame5 = nullptr;
    QComboBox *Baud = nullptr;
    QComboBox *Comport = nullptr;
    QRadioButton *even = nullptr;
    QRadioButton *odd = nullptr;
    QRadioButton *non = nullptr;
    QRadioButton *acht = nullptr;
    QRadioButton *sieben = nullptr;
    QRadioButton *eins = nullptr;
    QRadioButton *zwei = nullptr;

    // Command entry.
    CommandBox *SendWin = nullptr;
    QRadioButton *Option1 = nullptr;
    QRadioButton *Option2 = nullptr;
    QRadioButton *Option3 = nullptr;
    QRadioButton *Option4 = nullptr;
    QRadioButton *Option5 = nullptr;

    // Receive view.
    ReceiveView *Empfang = nullptr;

    // Capture.
    QPushButton *StartRec = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QTimer *Timer1 = nullptr;

    // Components.
    SerialPort *MSComm1 = nullptr;
    MessageBoxes *boxes = nullptr;
    CaptureSink *capture = nullptr;

    // Form-level state: the line state of the receive view ...
    LineAssembler recv;
    // ... -1 while a capture runs and file number 1 is open, else 0 ...
    qint16 RecActive = 0;
    // ... and the path of the capture file.
    QString RecFileName;
};
