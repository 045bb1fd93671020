#pragma once

#include "transferline.h"
#include "transferquestions.h"
#include "zmodemstart.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class FileSender;
class HistoryStore;
class ProtocolTransfer;
class SerialLink;
class SerialPort;
class TransferWindow;

// The window's file transfers: asks through TransferQuestions, runs one
// FileSender or ProtocolTransfer at a time over the open port, gives the
// line to it (SerialLink::setLineOwner) and back, marks the start and the
// end in the history, shows the progress window, and starts receiving by
// itself when a device begins a ZMODEM sending.
class TransferControl : public QObject
{
    Q_OBJECT
public:
    TransferControl(SerialPort &port, SerialLink &link, HistoryStore &history, QWidget *window);
    ~TransferControl() override;

    // Who asks before a transfer; the Qt dialogs by default (and after nullptr).
    void setQuestions(TransferQuestions *questions);
    // The port number and the terminator as the window's controls hold them.
    void setWindowValues(std::function<int()> port, std::function<QByteArray()> terminator);

    // "Datei senden…" and "Datei empfangen…".
    void askSend();
    void askReceive();
    void startSend(const SendChoice &choice);
    void startReceive(const ReceiveChoice &choice);
    // Every piece the port took in, before Empfang sees it.
    void take(QByteArrayView piece);
    // Ends a running transfer, telling the far end (the port closes, the
    // device went away, the window closes).
    void cancel(const QString &why);
    bool running() const;
    TransferWindow *progressWindow() const;

Q_SIGNALS:
    // Something the operator should read in the status: a refusal.
    void status(const QString &text);
    void ended(const TransferOutcome &outcome);
    // A transfer took the line, or gave it back.
    void runningChanged(bool running);

private:
    class PortLine;
    bool portReady();
    void begin(const QString &name, const QString &what);
    void finished(const TransferOutcome &outcome);

    SerialPort &m_port;
    SerialLink &m_link;
    HistoryStore &m_history;
    QWidget *m_window;
    std::unique_ptr<PortLine> m_line;
    std::unique_ptr<FileSender> m_sender;
    std::unique_ptr<ProtocolTransfer> m_protocol;
    std::unique_ptr<TransferQuestions> m_ownQuestions;
    TransferQuestions *m_questions = nullptr;
    std::function<int()> m_portNumber = [] { return 0; };
    std::function<QByteArray()> m_terminator = [] { return QByteArray("\r\n"); };
    ZmodemStart m_zmodemStart;
    QPointer<TransferWindow> m_progress;
    QString m_what;
    bool m_running = false;
    SendChoice m_lastSend;
};
