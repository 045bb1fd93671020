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
// while it is not hex (or how many bytes it is), and "OK" only for good hex of
// at most MostBytes. The field takes a paste of any length.
class BytesDialog : public QDialog
{
    Q_OBJECT
public:
    // The command box shows every control byte as a small boxed object: 64 KiB
    // of them cost it about half a second to take in and as long again for
    // each key typed after, and more would stall the window for seconds.
    static constexpr qsizetype MostBytes = 64 * 1024;

    explicit BytesDialog(QWidget *parent = nullptr);

    QLineEdit *field() const { return m_field; }
    // What the line under the field says.
    QString message() const;
    bool acceptable() const;
    // The bytes typed; empty while the text is not good hex or too much.
    std::optional<QByteArray> bytes() const { return m_bytes; }

private:
    void check();
    void fitMessage();

    QLineEdit *const m_field;
    QLabel *const m_message;
    QDialogButtonBox *const m_buttons;
    std::optional<QByteArray> m_bytes;
};

class QtBytesPrompt : public BytesPrompt
{
public:
    std::optional<QByteArray> askBytes(QWidget *parent) override;
};
