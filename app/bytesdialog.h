#pragma once

#include <QByteArray>
#include <QDialog>

#include <optional>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

// Asks the operator for bytes typed in hex ("Bytes einfügen…"). The seam the
// command box asks through; tests answer it.
class BytesPrompt
{
public:
    virtual ~BytesPrompt() = default;
    // The bytes; empty when the operator cancelled.
    virtual std::optional<QByteArray> askBytes(QWidget *parent) = 0;
};

// The dialog: one field for the hex, a line that says what is wrong with it
// while it is not hex, and "OK" only for good hex.
class BytesDialog : public QDialog
{
    Q_OBJECT
public:
    explicit BytesDialog(QWidget *parent = nullptr);

    QLineEdit *field() const { return m_field; }
    // What the line under the field says.
    QString message() const;
    bool acceptable() const;
    // The bytes typed; empty while the text is not good hex.
    std::optional<QByteArray> bytes() const;

private:
    void check();

    QLineEdit *const m_field;
    QLabel *const m_message;
    QDialogButtonBox *const m_buttons;
};

class QtBytesPrompt : public BytesPrompt
{
public:
    std::optional<QByteArray> askBytes(QWidget *parent) override;
};
