#pragma once

#include "transferline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

// Sends a file as it is ("Bytes unverändert") or line by line ("Zeilen",
// each line's own end replaced by the window's terminator), with a pause
// after each byte and after each line, and optionally a prompt awaited after
// each line. The file is read a piece at a time, never whole, and the line
// is filled only while it holds little, so a file of any size goes out with
// the window answering meanwhile.
class FileSender : public QObject
{
    Q_OBJECT
public:
    enum class Mode { Bytes, Lines };
    struct Choice {
        Mode mode = Mode::Bytes;
        QByteArray terminator = "\r\n";
        int byteDelayMs = 0;
        int lineDelayMs = 0;
        QByteArray prompt;
        int promptTimeoutMs = 5000;
    };

    FileSender(TransferLine &line, QObject *parent = nullptr);

    // Starts sending; what goes wrong, the file that cannot be read
    // included, ends in `finished`.
    void start(const QString &path, const Choice &choice);
    // Received bytes, looked through for the prompt.
    void take(QByteArrayView received);
    void cancel(const QString &why = QStringLiteral("Abgebrochen."));
    bool running() const { return m_running; }

    // Bytes the line may hold before more is handed to it.
    static constexpr qint64 LineFill = 16 * 1024;

Q_SIGNALS:
    void progressed(const TransferProgress &progress);
    void finished(const TransferOutcome &outcome);

private:
    void step();
    bool fillPending();
    void lineDone();
    void finish(bool ok, const QString &message, bool cancelled = false);
    void report();

    TransferLine &m_line;
    Choice m_choice;
    QFile m_file;
    QTimer m_timer;
    QTimer m_promptTimer;
    QElapsedTimer m_reported;
    // Read from the file and not handed to the line yet.
    QByteArray m_pending;
    qsizetype m_pendingAt = 0;
    // The line being gathered (Lines), or the bytes to hand next.
    QByteArray m_out;
    qsizetype m_outAt = 0;
    bool m_lastWasCr = false;
    bool m_atEnd = false;
    bool m_running = false;
    bool m_waitingPrompt = false;
    // The prompt is looked for from the start of a line until it is seen.
    bool m_watching = false;
    bool m_pauseNext = false;
    qint64 m_lines = 0;
    QByteArray m_seen;
    TransferProgress m_progress;
};
