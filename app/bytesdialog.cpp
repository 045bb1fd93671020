#include "bytesdialog.h"

#include "hexbytes.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <limits>

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
    // A line edit cuts what is pasted at 32,767 characters by default, and a
    // dump cut short is still good hex: it would send less without a word.
    m_field->setMaxLength(std::numeric_limits<int>::max());
    m_field->setMinimumWidth(320);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_field, &QLineEdit::textChanged, this, &BytesDialog::check);
    check();
}

void BytesDialog::check()
{
    const QString text = m_field->text();
    HexBytes parsed = parseHexBytes(text);
    const qsizetype n = parsed.bytes.size();
    const QLocale german(QLocale::German);
    m_bytes.reset();
    // An empty field is not yet wrong; it only says what is asked.
    if (text.trimmed().isEmpty()) {
        m_message->clear();
    } else if (!parsed.ok()) {
        m_message->setText(parsed.error);
    } else if (n > MostBytes) {
        m_message->setText(
            QStringLiteral("Das sind %1 Bytes; auf einmal lassen sich höchstens %2 Bytes einfügen.")
                .arg(german.toString(n), german.toString(MostBytes)));
    } else {
        m_message->setText(n == 1 ? QStringLiteral("1 Byte")
                                  : QStringLiteral("%1 Bytes").arg(german.toString(n)));
        m_bytes = std::move(parsed.bytes);
    }
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(m_bytes.has_value());
    fitMessage();
}

void BytesDialog::fitMessage()
{
    // A window's layout gives a wrapped label no more room than its text
    // needed when the window was sized; a message that needs another line
    // makes the window grow instead of being cut.
    layout()->activate();
    const int needed = heightForWidth(width());
    if (needed > height())
        resize(width(), needed);
}

QString BytesDialog::message() const
{
    return m_message->text();
}

bool BytesDialog::acceptable() const
{
    return m_buttons->button(QDialogButtonBox::Ok)->isEnabled();
}

std::optional<QByteArray> QtBytesPrompt::askBytes(QWidget *parent)
{
    BytesDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.bytes();
}
