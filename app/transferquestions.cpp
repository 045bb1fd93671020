#include "transferquestions.h"

#include "protocoltransfer.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>

namespace
{
QSpinBox *millisecondBox(QWidget *parent, int value, int maximum)
{
    auto *box = new QSpinBox(parent);
    box->setRange(0, maximum);
    box->setSuffix(QStringLiteral(" ms"));
    box->setGroupSeparatorShown(true);
    box->setValue(value);
    return box;
}

// A protocol entry that cannot be had says why in itself and its tooltip.
void disableEntries(QComboBox *box, int from)
{
    auto *model = qobject_cast<QStandardItemModel *>(box->model());
    for (int i = from; model && i < box->count(); ++i) {
        QStandardItem *item = model->item(i);
        item->setEnabled(false);
        item->setText(item->text() + QStringLiteral(" (lrzsz fehlt)"));
        item->setToolTip(ProtocolTransfer::missingText());
    }
}

QWidget *fileRow(QWidget *parent, QLineEdit *field, const std::function<void()> &choose)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field, 1);
    auto *more = new QPushButton(QStringLiteral("…"), row);
    more->setObjectName(QStringLiteral("choose"));
    more->setFocusPolicy(Qt::NoFocus);
    more->setAutoDefault(false);
    QObject::connect(more, &QPushButton::clicked, row, choose);
    layout->addWidget(more);
    return row;
}
} // namespace

QString QtFileChooser::chooseFile(QWidget *parent, const QString &start)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Datei wählen"), start);
}

QString QtFileChooser::chooseFolder(QWidget *parent, const QString &start)
{
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Ordner wählen"), start);
}

SendFileDialog::SendFileDialog(QWidget *parent, int port, const SendChoice &start,
                               FileChooser &chooser, bool protocolsAvailable)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Datei senden – Com %1").arg(port));
    auto *form = new QFormLayout(this);
    m_file = new QLineEdit(start.path, this);
    m_file->setObjectName(QStringLiteral("file"));
    form->addRow(QStringLiteral("&Datei:"), fileRow(this, m_file, [this, &chooser] {
                     const QString path = chooser.chooseFile(this, m_file->text());
                     if (!path.isEmpty())
                         m_file->setText(path);
                 }));
    m_method = new QComboBox(this);
    m_method->setObjectName(QStringLiteral("method"));
    m_method->addItems({QStringLiteral("Bytes unverändert"), QStringLiteral("Zeilen"),
                        QStringLiteral("XMODEM"), QStringLiteral("XMODEM-1K"),
                        QStringLiteral("YMODEM"), QStringLiteral("ZMODEM")});
    if (!protocolsAvailable)
        disableEntries(m_method, int(SendChoice::Method::Xmodem));
    m_method->setCurrentIndex(int(start.method));
    form->addRow(QStringLiteral("&Verfahren:"), m_method);
    m_paced = new QWidget(this);
    auto *paced = new QFormLayout(m_paced);
    paced->setContentsMargins(0, 0, 0, 0);
    m_byteDelay = millisecondBox(m_paced, start.byteDelayMs, 10000);
    m_byteDelay->setObjectName(QStringLiteral("byteDelay"));
    paced->addRow(QStringLiteral("Pause nach jedem &Byte:"), m_byteDelay);
    m_lineDelay = millisecondBox(m_paced, start.lineDelayMs, 60000);
    m_lineDelay->setObjectName(QStringLiteral("lineDelay"));
    paced->addRow(QStringLiteral("Pause nach jeder &Zeile:"), m_lineDelay);
    m_prompt = new QLineEdit(start.prompt, m_paced);
    m_prompt->setObjectName(QStringLiteral("prompt"));
    m_prompt->setToolTip(QStringLiteral("Nach jeder Zeile wird gewartet, bis dieser Text "
                                        "empfangen wurde; leer: nicht warten."));
    paced->addRow(QStringLiteral("Auf &Text warten:"), m_prompt);
    m_promptTimeout = millisecondBox(m_paced, start.promptTimeoutMs, 600000);
    m_promptTimeout->setObjectName(QStringLiteral("promptTimeout"));
    paced->addRow(QStringLiteral("Höchstens &warten:"), m_promptTimeout);
    form->addRow(m_paced);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Senden"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    connect(m_method, &QComboBox::currentIndexChanged, this, &SendFileDialog::methodChanged);
    methodChanged();
    setTabOrder(m_file, m_method);
    m_file->setFocus();
}

void SendFileDialog::methodChanged()
{
    // Pauses and the prompt are for bytes and lines; the protocols pace
    // themselves.
    const auto method = SendChoice::Method(m_method->currentIndex());
    m_paced->setEnabled(method == SendChoice::Method::Bytes || method == SendChoice::Method::Lines);
}

SendChoice SendFileDialog::choice() const
{
    return {m_file->text(),       SendChoice::Method(m_method->currentIndex()),
            m_byteDelay->value(), m_lineDelay->value(),
            m_prompt->text(),     m_promptTimeout->value()};
}

ReceiveFileDialog::ReceiveFileDialog(QWidget *parent, int port, const ReceiveChoice &start,
                                     FileChooser &chooser, bool protocolsAvailable)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Datei empfangen – Com %1").arg(port));
    auto *form = new QFormLayout(this);
    m_method = new QComboBox(this);
    m_method->setObjectName(QStringLiteral("method"));
    m_method->addItems(
        {QStringLiteral("XMODEM"), QStringLiteral("YMODEM"), QStringLiteral("ZMODEM")});
    m_method->setCurrentIndex(int(start.method));
    if (!protocolsAvailable) {
        disableEntries(m_method, 0);
        form->addRow(new QLabel(ProtocolTransfer::missingText(), this));
    }
    form->addRow(QStringLiteral("&Verfahren:"), m_method);
    m_folder = new QLineEdit(start.folder, this);
    m_folder->setObjectName(QStringLiteral("folder"));
    form->addRow(QStringLiteral("&Ordner:"), fileRow(this, m_folder, [this, &chooser] {
                     const QString folder = chooser.chooseFolder(this, m_folder->text());
                     if (!folder.isEmpty())
                         m_folder->setText(folder);
                 }));
    auto *buttons = new QDialogButtonBox(this);
    auto *start_ = buttons->addButton(QStringLiteral("Empfangen"), QDialogButtonBox::AcceptRole);
    start_->setDefault(true);
    start_->setEnabled(protocolsAvailable);
    buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    m_method->setFocus();
}

ReceiveChoice ReceiveFileDialog::choice() const
{
    return {ReceiveChoice::Method(m_method->currentIndex()), m_folder->text()};
}

std::optional<SendChoice> QtTransferQuestions::askSend(QWidget *parent, int port,
                                                       const SendChoice &start)
{
    SendFileDialog dialog(parent, port, start, m_chooser, ProtocolTransfer::available());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.choice();
}

std::optional<ReceiveChoice> QtTransferQuestions::askReceive(QWidget *parent, int port,
                                                             const ReceiveChoice &start)
{
    ReceiveFileDialog dialog(parent, port, start, m_chooser, ProtocolTransfer::available());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.choice();
}
