#pragma once

#include "transferline.h"

#include <QElapsedTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// "Übertragung – NAME": the bytes done and in all with the percentage, the
// rate, the time left, the retries and the protocol's last word while a
// transfer runs; "Abbrechen" asks to end it. Once it ended, the outcome and
// "Schließen".
class TransferWindow : public QWidget
{
    Q_OBJECT
public:
    TransferWindow(const QString &name, QWidget *parent = nullptr);

    void showProgress(const TransferProgress &progress);
    void showOutcome(const TransferOutcome &outcome);

    // The texts as shown, for the operator and the tests.
    QString bytesText() const;
    QString outcomeText() const;

Q_SIGNALS:
    void cancelRequested();

private:
    QLabel *m_bytes;
    QLabel *m_rate;
    QLabel *m_left;
    QLabel *m_retries;
    QLabel *m_lastWord;
    QLabel *m_outcome;
    QProgressBar *m_bar;
    QPushButton *m_button;
    QElapsedTimer m_clock;
    bool m_ended = false;
};
