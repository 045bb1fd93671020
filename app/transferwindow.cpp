#include "transferwindow.h"

#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
QString number(qint64 n)
{
    return QLocale(QLocale::German).toString(n);
}
} // namespace

TransferWindow::TransferWindow(const QString &name, QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Übertragung – %1").arg(name));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    auto label = [this](const char *objectName) {
        auto *l = new QLabel(this);
        l->setObjectName(QLatin1String(objectName));
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    m_bytes = label("bytes");
    m_rate = label("rate");
    m_left = label("left");
    m_retries = label("retries");
    m_lastWord = label("lastWord");
    m_lastWord->setWordWrap(true);
    form->addRow(QStringLiteral("Bytes:"), m_bytes);
    form->addRow(QStringLiteral("Rate:"), m_rate);
    form->addRow(QStringLiteral("Restzeit:"), m_left);
    form->addRow(QStringLiteral("Wiederholungen:"), m_retries);
    form->addRow(QStringLiteral("Letzte Meldung:"), m_lastWord);
    layout->addLayout(form);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    layout->addWidget(m_bar);
    m_outcome = label("outcome");
    m_outcome->setWordWrap(true);
    layout->addWidget(m_outcome);
    m_button = new QPushButton(QStringLiteral("Abbrechen"), this);
    m_button->setObjectName(QStringLiteral("cancel"));
    connect(m_button, &QPushButton::clicked, this, [this] {
        if (m_ended)
            close();
        else
            Q_EMIT cancelRequested();
    });
    layout->addWidget(m_button, 0, Qt::AlignRight);
    showProgress({});
    m_clock.start();
    resize(420, sizeHint().height());
}

void TransferWindow::showProgress(const TransferProgress &progress)
{
    if (progress.total > 0) {
        const int permille = int(progress.done * 1000 / progress.total);
        m_bytes->setText(QStringLiteral("%1 von %2 (%3 %)")
                             .arg(number(progress.done), number(progress.total))
                             .arg(permille / 10));
        m_bar->setValue(permille);
    } else {
        m_bytes->setText(number(progress.done));
    }
    const qint64 ms = m_clock.isValid() ? m_clock.elapsed() : 0;
    const qint64 rate = ms > 0 ? progress.done * 1000 / ms : 0;
    m_rate->setText(QStringLiteral("%1 Bytes/s").arg(number(rate)));
    if (rate > 0 && progress.total > progress.done) {
        const qint64 seconds = (progress.total - progress.done) / rate;
        m_left->setText(
            QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0')));
    } else {
        m_left->setText(QStringLiteral("–"));
    }
    m_retries->setText(number(progress.retries));
    m_lastWord->setText(progress.lastWord);
}

void TransferWindow::showOutcome(const TransferOutcome &outcome)
{
    m_ended = true;
    QString text = outcome.ok ? QStringLiteral("Übertragung vollständig.") : outcome.message;
    for (const QString &file : outcome.files)
        text += QStringLiteral("\nGespeichert: %1").arg(file);
    m_outcome->setText(text);
    if (outcome.ok)
        m_bar->setValue(m_bar->maximum());
    m_button->setText(QStringLiteral("Schließen"));
}

QString TransferWindow::bytesText() const
{
    return m_bytes->text();
}

QString TransferWindow::outcomeText() const
{
    return m_outcome->text();
}
