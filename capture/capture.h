#pragma once

#include "capturesink.h"
#include "filenumbers.h"
#include "kavroerror.h"

#include <QObject>
#include <QString>
#include <QTimer>

class CommonDialog;
class MessageBoxes;

// Recording received units into the capture file (file number 1), and the
// activity bar that runs meanwhile. The capture owns its state (RecActive,
// RecFileName), the timer Timer1 and the bar's value; what the operator sees
// of them (StartRec's caption, Text1, ProgressBar1) it tells through signals,
// which the window shows. The receive handler only hands it every unit.
class Capture : public QObject, public CaptureSink
{
    Q_OBJECT
public:
    Capture(CommonDialog &dialog, MessageBoxes &boxes, QObject *parent = nullptr);

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
    // The activity bar's value, 0 to 100.
    QTimer &timer() { return m_timer1; }

Q_SIGNALS:
    // StartRec reads "Stopp" while recording, else "Start".
    void recordingChanged(bool recording);
    // Text1 shows the capture file's path.
    void fileShown(const QString &path);
    void barValueChanged(int value);
    // A failure found outside any click (a write that failed), to be shown
    // once the running handler has ended; or one of a click that the
    // operator must hear of.
    void failed(const KavroError &error);

private:
    void startSequence(QString &file);
    void stopSequence();
    void stopAfterFailure(const KavroError &e) noexcept;
    void setBarValue(float value);

    CommonDialog &m_dialog;
    MessageBoxes &m_boxes;
    FileNumbers m_files;
    QTimer m_timer1; // a child, so that it is found by its name
    qint16 m_recActive = 0;
    QString m_recFileName;
    float m_barValue = 0;
};
