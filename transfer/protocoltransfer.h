#pragma once

#include "lrzszreport.h"
#include "transferline.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

// XMODEM (CRC-16, 128-byte blocks), XMODEM-1K, YMODEM (batch, 1K blocks) and
// ZMODEM, both ways, through Debian's lrzsz: the program runs as a process
// whose output goes to the line and whose input is what the line received;
// what it writes to its error output tells the progress and the last word.
// Success is lrzsz's: it exits with 0 only when every block was
// acknowledged. Received files are written into a private folder inside the
// chosen one and moved out under free names (ReceivedFiles).
class ProtocolTransfer : public QObject
{
    Q_OBJECT
public:
    enum class Protocol { Xmodem, Xmodem1k, Ymodem, Zmodem };
    enum class Direction { Send, Receive };

    ProtocolTransfer(TransferLine &line, QObject *parent = nullptr);
    ~ProtocolTransfer() override;

    // Whether lrzsz is installed (its programs on PATH).
    static bool available();
    // What the operator is told when it is not.
    static QString missingText();
    static QString protocolName(Protocol protocol);

    // Sends the file `path`.
    void send(Protocol protocol, const QString &path);
    // Receives into `folder`; XMODEM carries no name, so its file is called
    // `xmodemName`.
    void receive(Protocol protocol, const QString &folder,
                 const QString &xmodemName = QStringLiteral("empfangen.bin"));
    // Received bytes for the protocol.
    void take(QByteArrayView received);
    // Ends it: lrzsz stops, and the far end is told with the cancel
    // sequence (eight CAN, then eight backspaces for a shell that took the
    // CANs as typing). `why` is the outcome's message.
    void cancel(const QString &why = QStringLiteral("Abgebrochen."));
    bool running() const { return m_process != nullptr; }

    // How long the far end may stay silent before the transfer is given up
    // (lrzsz's own timeouts come first when they are shorter).
    void setSilenceLimit(int ms) { m_silenceLimitMs = ms; }
    // How long bytes may arrive without a block going through (a device
    // that chatters instead of answering).
    void setStallLimit(int ms) { m_stallLimitMs = ms; }
    // Bytes the line may hold before lrzsz's output waits in here.
    static constexpr qint64 LineFill = 16 * 1024;
    static const QByteArray &cancelSequence();

Q_SIGNALS:
    void progressed(const TransferProgress &progress);
    void finished(const TransferOutcome &outcome);

private:
    void begin(const QString &program, const QStringList &arguments, const QString &workDir);
    void relayOut();
    void ended(int exitCode, QProcess::ExitStatus status);
    void finish(bool ok, bool cancelled, const QString &message);
    void report(bool now);
    QString failureText() const;
    // The folder received files go into is full, or the file reached the
    // largest size this process may write.
    bool noRoom() const;

    TransferLine &m_line;
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_inbox;
    LrzszReport m_report;
    Direction m_direction = Direction::Send;
    Protocol m_protocol = Protocol::Zmodem;
    QString m_folder;
    qint64 m_fileSize = -1;
    qint64 m_received = 0;
    qint64 m_sent = 0;
    QByteArray m_outQueue;
    QTimer m_relayTimer;
    QTimer m_silence;
    int m_silenceLimitMs = 90000;
    QTimer m_stall;
    int m_stallLimitMs = 90000;
    QElapsedTimer m_reported;
    bool m_finishing = false;
    int m_cans = 0;
    bool m_farCancelled = false;
    bool m_writeFailed = false;
};
