#pragma once

#include "capturesink.h"
#include "filenumbers.h"

#include <QString>

#include <functional>

class CommonDialog;
class KavroError;
class MessageBoxes;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

// The capture's controls; the window fills them in.
struct CaptureControls {
    QPushButton *StartRec = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QTimer *Timer1 = nullptr;
};

// Recording received units into the capture file (file number 1), and the
// activity bar that runs meanwhile. The capture owns its state (RecActive,
// RecFileName); the receive handler only hands it every unit.
class Capture : public CaptureSink
{
public:
    // report: where a failure found outside any click (a write that fails)
    // goes, to be shown once the running handler has ended.
    Capture(const CaptureControls &controls, CommonDialog &dialog, MessageBoxes &boxes,
            std::function<void(const KavroError &)> report);

    void StartRec_Click();
    void Timer1_Timer();

    // The capture write, while a capture runs; a write that fails stops the
    // capture and is reported once.
    void write(QByteArrayView unit) override;
    void endOfEvent() override;

    // -1 while a capture runs and file number 1 is open, else 0.
    qint16 recActive() const { return m_recActive; }
    // The path taken from the file dialog at the latest start.
    const QString &recFileName() const { return m_recFileName; }
    FileNumbers &files() { return m_files; }

private:
    void startSequence(QString &file);
    void stopSequence();
    void stopAfterFailure(const KavroError &e) noexcept;

    const CaptureControls m_c;
    CommonDialog &m_dialog;
    MessageBoxes &m_boxes;
    const std::function<void(const KavroError &)> m_report;
    FileNumbers m_files;
    qint16 m_recActive = 0;
    QString m_recFileName;
};
