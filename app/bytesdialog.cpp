#include "bytesdialog.h"

#include "hexbytes.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

BytesDialog::BytesDialog(QWidget *parent)
    : QDialog(parent), m_field(new QLineEdit(this)), m_message(new QLabel(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(QStringLiteral("Bytes einfügen"));
    auto *layout = new QVBoxLayout(this);
    auto *prompt =
        new QLabel(QStringLiteral("Bytes in Hex, z. B. „1B 5B 41“ oder „1b5b41“:"), this);
    prompt->setBuddy(m_field);
    layout->addWidget(prompt);
    layout->addWidget(m_field);
    m_message->setWordWrap(true);
    layout->addWidget(m_message);
    layout->addWidget(m_buttons);
    m_field->setMinimumWidth(320);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_field, &QLineEdit::textChanged, this, &BytesDialog::check);
    check();
}

void BytesDialog::check()
{
    const HexBytes parsed = parseHexBytes(m_field->text());
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(parsed.ok());
    // An empty field is not yet wrong; it only says what is asked.
    if (m_field->text().trimmed().isEmpty())
        m_message->clear();
    else if (parsed.ok())
        m_message->setText(parsed.bytes.size() == 1
                               ? QStringLiteral("1 Byte")
                               : QStringLiteral("%1 Bytes").arg(parsed.bytes.size()));
    else
        m_message->setText(parsed.error);
}

QString BytesDialog::message() const
{
    return m_message->text();
}

bool BytesDialog::acceptable() const
{
    return m_buttons->button(QDialogButtonBox::Ok)->isEnabled();
}

std::optional<QByteArray> BytesDialog::bytes() const
{
    const HexBytes parsed = parseHexBytes(m_field->text());
    if (!parsed.ok())
        return std::nullopt;
    return parsed.bytes;
}

std::optional<QByteArray> QtBytesPrompt::askBytes(QWidget *parent)
{
    BytesDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.bytes();
}
