#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <optional>

class QComboBox;
class QLineEdit;
class QSpinBox;

// What "Datei senden…" asks: the file, the way ("Verfahren") and, for bytes
// and lines, the pauses and the prompt awaited after each line.
struct SendChoice {
    enum class Method { Bytes, Lines, Xmodem, Xmodem1k, Ymodem, Zmodem };
    QString path;
    Method method = Method::Bytes;
    int byteDelayMs = 0;
    int lineDelayMs = 0;
    QString prompt;
    int promptTimeoutMs = 5000;
};

// What "Datei empfangen…" asks: the protocol and the folder.
struct ReceiveChoice {
    enum class Method { Xmodem, Ymodem, Zmodem };
    Method method = Method::Zmodem;
    QString folder;
};

// The system's file and folder dialogs behind the "…" buttons.
class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // Empty when the operator cancelled.
    virtual QString chooseFile(QWidget *parent, const QString &start) = 0;
    virtual QString chooseFolder(QWidget *parent, const QString &start) = 0;
};

class QtFileChooser : public FileChooser
{
public:
    QString chooseFile(QWidget *parent, const QString &start) override;
    QString chooseFolder(QWidget *parent, const QString &start) override;
};

// What the window asks before a transfer; tests answer it.
class TransferQuestions
{
public:
    virtual ~TransferQuestions() = default;
    virtual std::optional<SendChoice> askSend(QWidget *parent, int port,
                                              const SendChoice &start) = 0;
    virtual std::optional<ReceiveChoice> askReceive(QWidget *parent, int port,
                                                    const ReceiveChoice &start) = 0;
};

// "Datei senden – Com n": the file field first (the "…" button beside it
// is left out of the Tab chain, so Tab goes straight to "Verfahren"),
// Return starts. Without lrzsz the protocols say what to install.
class SendFileDialog : public QDialog
{
    Q_OBJECT
public:
    SendFileDialog(QWidget *parent, int port, const SendChoice &start, FileChooser &chooser,
                   bool protocolsAvailable);
    SendChoice choice() const;

private:
    void methodChanged();

    QLineEdit *m_file;
    QComboBox *m_method;
    QSpinBox *m_byteDelay;
    QSpinBox *m_lineDelay;
    QLineEdit *m_prompt;
    QSpinBox *m_promptTimeout;
    QWidget *m_paced;
};

// "Datei empfangen – Com n": the protocol and the folder.
class ReceiveFileDialog : public QDialog
{
    Q_OBJECT
public:
    ReceiveFileDialog(QWidget *parent, int port, const ReceiveChoice &start, FileChooser &chooser,
                      bool protocolsAvailable);
    ReceiveChoice choice() const;

private:
    QComboBox *m_method;
    QLineEdit *m_folder;
};

class QtTransferQuestions : public TransferQuestions
{
public:
    std::optional<SendChoice> askSend(QWidget *parent, int port, const SendChoice &start) override;
    std::optional<ReceiveChoice> askReceive(QWidget *parent, int port,
                                            const ReceiveChoice &start) override;

private:
    QtFileChooser m_chooser;
};
