#include "capture.h"

#include "beat.h"
#include "commondialog.h"
#include "kavroerror.h"
#include "messageboxes.h"

Capture::Capture(CommonDialog &dialog, MessageBoxes &boxes, QObject *parent)
    : QObject(parent), m_dialog(dialog), m_boxes(boxes), m_timer1(this)
{
    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(BeatMs);
}

void Capture::setBarValue(float value)
{
    m_barValue = value;
    Q_EMIT barValueChanged(int(value));
}

void Capture::StartRec_Click()
{
    QString file; // the capture file this click works on, once it is known
    const bool stopping = m_recActive != 0;
    try {
        setBarValue(0);
        if (stopping) {
            file = m_files.path(1);
            stopSequence();
        } else {
            startSequence(file);
        }
    } catch (const KavroError &e) {
        // Cancelling the dialog ends a start without a word, and what was done
        // so far stays as it is. A file that cannot be recorded into is told
        // once: an operator who is told nothing believes the capture runs.
        if (file.isEmpty())
            return;
        const QString what =
            stopping ? QStringLiteral("Die Aufzeichnungsdatei „%1“ konnte nicht "
                                      "vollständig geschrieben werden: %2.")
                     : QStringLiteral("Die Aufzeichnung kann nicht beginnen: „%1“: %2.");
        Q_EMIT failed(KavroError(e.number(), what.arg(file, e.description())));
    }
}

void Capture::startSequence(QString &file)
{
    m_dialog.CancelError = true;
    m_dialog.DialogTitle = QStringLiteral("Aufzeichnungsdatei angeben");
    m_dialog.DefaultExt = QStringLiteral("txt");
    m_dialog.Filter = QStringLiteral("Kavro Textdatei (*.txt)|*.txt");
    m_dialog.ShowOpen();
    m_recFileName = m_dialog.FileName;
    file = m_recFileName;

    // The length only tells whether the file is there: a new file needs no
    // question.
    if (FileNumbers::fileLength(m_recFileName)) {
        const QString question = QStringLiteral("Die Datei existiert bereits!") + QChar(13) +
                                 QStringLiteral("Soll ") + m_recFileName +
                                 QStringLiteral(" überschrieben werden?");
        if (m_boxes.show(question, QStringLiteral("Aufzeichnungsdatei"), MessageBoxes::YesNo,
                         MessageBoxes::Question) == MessageBoxes::AnswerNo)
            return;
    }

    Q_EMIT fileShown(m_recFileName);
    FileNumbers::remove(m_recFileName); // gone meanwhile: nothing to remove
    m_files.openAppend(1, m_recFileName);
    Q_EMIT recordingChanged(true);
    m_recActive = -1;
    m_timer1.start();
}

void Capture::stopSequence()
{
    Q_EMIT recordingChanged(false);
    m_recActive = 0;
    // The bar stands still before the file is closed, so a close that fails
    // cannot leave it running under "Start".
    m_timer1.stop();
    m_files.close(1);
}

void Capture::Timer1_Timer()
{
    if (m_barValue == 100.0f)
        setBarValue(0);
    setBarValue(m_barValue + 1.0f);
}

void Capture::write(QByteArrayView unit)
{
    if (m_recActive == 0)
        return;
    try {
        m_files.write(1, unit);
    } catch (const KavroError &e) {
        stopAfterFailure(e);
    }
}

void Capture::endOfEvent()
{
    if (m_recActive == 0 || !m_files.isOpen(1))
        return;
    try {
        m_files.flush(1);
    } catch (const KavroError &e) {
        stopAfterFailure(e);
    }
}

void Capture::stopAfterFailure(const KavroError &e) noexcept
{
    // Left alone, the failure would come back with every received character
    // and the data would silently go missing. Stop as the operator's "Stopp"
    // would, keep what reached the file, and say so once.
    const QString path = m_files.path(1);
    Q_EMIT recordingChanged(false);
    m_recActive = 0;
    try {
        m_files.close(1);
    } catch (const KavroError &) {
        // The same failure again; the file is closed all the same.
    }
    m_timer1.stop();
    setBarValue(0);
    QString text =
        QStringLiteral("Die Aufzeichnungsdatei „%1“ kann nicht weiter beschrieben werden: "
                       "%2. Die Aufzeichnung wurde beendet.")
            .arg(path, e.description());
    if (e.number() != Err::FileNotFound)
        text +=
            QStringLiteral(" Die Datei enthält alles, was bis dahin geschrieben werden konnte.");
    Q_EMIT failed(KavroError(e.number(), text));
}
