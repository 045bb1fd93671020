#include "transfercontrol.h"

#include "codepage.h"
#include "filesender.h"
#include "historystore.h"
#include "kavrosettings.h"
#include "protocoltransfer.h"
#include "seriallink.h"
#include "serialport.h"
#include "transferwindow.h"

#include <QFileInfo>
#include <QTimer>

// The open port as a transfer's line: bytes go out one character each of
// the code page; what the port refuses ends the transfer with its words.
class TransferControl::PortLine : public TransferLine
{
public:
    PortLine(SerialPort &port, std::function<void(const QString &)> failed)
        : m_port(port), m_failed(std::move(failed))
    {
    }
    void put(const QByteArray &bytes) override
    {
        try {
            m_port.setOutput(textFromBytes(bytes));
        } catch (const KavroError &e) {
            m_failed(e.description());
        }
    }
    qint64 unsent() const override { return m_port.OutBufferCount(); }

private:
    SerialPort &m_port;
    std::function<void(const QString &)> m_failed;
};

namespace
{
ProtocolTransfer::Protocol protocolOf(SendChoice::Method method)
{
    switch (method) {
    case SendChoice::Method::Xmodem:
        return ProtocolTransfer::Protocol::Xmodem;
    case SendChoice::Method::Xmodem1k:
        return ProtocolTransfer::Protocol::Xmodem1k;
    case SendChoice::Method::Ymodem:
        return ProtocolTransfer::Protocol::Ymodem;
    default:
        return ProtocolTransfer::Protocol::Zmodem;
    }
}

ProtocolTransfer::Protocol protocolOf(ReceiveChoice::Method method)
{
    switch (method) {
    case ReceiveChoice::Method::Xmodem:
        return ProtocolTransfer::Protocol::Xmodem;
    case ReceiveChoice::Method::Ymodem:
        return ProtocolTransfer::Protocol::Ymodem;
    case ReceiveChoice::Method::Zmodem:
        break;
    }
    return ProtocolTransfer::Protocol::Zmodem;
}

const char *const MethodNames[] = {"Bytes unverändert", "Zeilen", "XMODEM",
                                   "XMODEM-1K",         "YMODEM", "ZMODEM"};
} // namespace

TransferControl::TransferControl(SerialPort &port, SerialLink &link, HistoryStore &history,
                                 QWidget *window)
    : QObject(window), m_port(port), m_link(link), m_history(history), m_window(window)
{
    m_line = std::make_unique<PortLine>(port, [this](const QString &why) {
        // Told once, from the event loop: the transfer is not ended inside
        // its own call to the line.
        QTimer::singleShot(0, this, [this, why] { cancel(why); });
    });
    m_sender = std::make_unique<FileSender>(*m_line);
    m_protocol = std::make_unique<ProtocolTransfer>(*m_line);
    connect(m_sender.get(), &FileSender::finished, this, &TransferControl::finished);
    connect(m_protocol.get(), &ProtocolTransfer::finished, this, &TransferControl::finished);
    auto progressed = [this](const TransferProgress &p) {
        if (m_progress)
            m_progress->showProgress(p);
    };
    connect(m_sender.get(), &FileSender::progressed, this, progressed);
    connect(m_protocol.get(), &ProtocolTransfer::progressed, this, progressed);
}

TransferControl::~TransferControl()
{
    cancel(QStringLiteral("Kavro wurde beendet."));
}

void TransferControl::setQuestions(TransferQuestions *questions)
{
    m_questions = questions;
}

void TransferControl::setWindowValues(std::function<int()> port,
                                      std::function<QByteArray()> terminator)
{
    m_portNumber = std::move(port);
    m_terminator = std::move(terminator);
}

TransferWindow *TransferControl::progressWindow() const
{
    return m_progress.data();
}

bool TransferControl::running() const
{
    return m_running;
}

bool TransferControl::portReady()
{
    if (m_running) {
        Q_EMIT status(m_link.lineOwner());
        return false;
    }
    if (!m_port.PortOpen()) {
        Q_EMIT status(QStringLiteral("Der Anschluss ist nicht geöffnet."));
        return false;
    }
    return true;
}

void TransferControl::askSend()
{
    if (!portReady())
        return;
    if (!m_questions) {
        m_ownQuestions = std::make_unique<QtTransferQuestions>();
        m_questions = m_ownQuestions.get();
    }
    if (const auto choice = m_questions->askSend(m_window, m_portNumber(), m_lastSend))
        startSend(*choice);
}

void TransferControl::askReceive()
{
    if (!portReady())
        return;
    if (!m_questions) {
        m_ownQuestions = std::make_unique<QtTransferQuestions>();
        m_questions = m_ownQuestions.get();
    }
    ReceiveChoice start;
    start.folder = KavroSettings().receiveFolder();
    if (const auto choice = m_questions->askReceive(m_window, m_portNumber(), start)) {
        KavroSettings().setReceiveFolder(choice->folder);
        startReceive(*choice);
    }
}

void TransferControl::begin(const QString &name, const QString &what)
{
    m_running = true;
    m_what = what;
    m_zmodemStart.reset();
    m_link.setLineOwner(
        QStringLiteral("Übertragung läuft (%1) – der Anschluss ist belegt.").arg(what));
    m_history.transferMarker(QStringLiteral("Übertragung begonnen: %1").arg(what));
    m_progress = new TransferWindow(name, m_window);
    connect(m_progress, &TransferWindow::cancelRequested, this,
            [this] { cancel(QStringLiteral("Abgebrochen.")); });
    m_progress->show();
    Q_EMIT runningChanged(true);
}

void TransferControl::startSend(const SendChoice &choice)
{
    if (!portReady())
        return;
    m_lastSend = choice;
    const QString name = QFileInfo(choice.path).fileName();
    begin(
        name,
        QStringLiteral("%1 senden, %2").arg(name, QLatin1String(MethodNames[int(choice.method)])));
    if (choice.method == SendChoice::Method::Bytes || choice.method == SendChoice::Method::Lines) {
        FileSender::Choice c;
        c.mode = choice.method == SendChoice::Method::Bytes ? FileSender::Mode::Bytes
                                                            : FileSender::Mode::Lines;
        c.terminator = m_terminator();
        c.byteDelayMs = choice.byteDelayMs;
        c.lineDelayMs = choice.lineDelayMs;
        c.prompt = bytesFromText(choice.prompt);
        c.promptTimeoutMs = choice.promptTimeoutMs;
        m_sender->start(choice.path, c);
    } else {
        m_protocol->send(protocolOf(choice.method), choice.path);
    }
}

void TransferControl::startReceive(const ReceiveChoice &choice)
{
    if (!portReady())
        return;
    const auto protocol = protocolOf(choice.method);
    begin(ProtocolTransfer::protocolName(protocol),
          QStringLiteral("%1 empfangen nach %2")
              .arg(ProtocolTransfer::protocolName(protocol), choice.folder));
    m_protocol->receive(protocol, choice.folder);
}

void TransferControl::take(QByteArrayView piece)
{
    if (m_running) {
        m_sender->take(piece);
        m_protocol->take(piece);
        return;
    }
    // A board's `sz`: received into the remembered folder without a question.
    if (m_zmodemStart.feed(piece) && ProtocolTransfer::available() && m_port.PortOpen())
        startReceive({ReceiveChoice::Method::Zmodem, KavroSettings().receiveFolder()});
}

void TransferControl::cancel(const QString &why)
{
    if (!m_running)
        return;
    if (m_sender->running())
        m_sender->cancel(why);
    if (m_protocol->running())
        m_protocol->cancel(why);
}

void TransferControl::finished(const TransferOutcome &outcome)
{
    if (!m_running)
        return;
    m_running = false;
    const QString result = outcome.ok ? QStringLiteral("vollständig") : outcome.message;
    m_history.transferMarker(QStringLiteral("Übertragung beendet: %1 – %2").arg(m_what, result));
    for (const QString &file : outcome.files)
        m_history.transferMarker(QStringLiteral("Empfangene Datei: %1").arg(file));
    m_link.setLineOwner({}, QStringLiteral("Übertragung beendet – %1").arg(result));
    if (m_progress)
        m_progress->showOutcome(outcome);
    Q_EMIT runningChanged(false);
    Q_EMIT ended(outcome);
}
