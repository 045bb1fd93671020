#pragma once

#include "commondialog.h"
#include "kavroerror.h"
#include "messageboxes.h"
#include "serialport.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// A scripted port: records what the handlers do with it, fails where told,
// and hands out the bytes a test puts into its input.
class FakePort : public SerialPort
{
public:
    QStringList calls;      // "CommPort=3", "Settings=9600,n,8,1", "PortOpen=true", ...
    QString failOn;         // "CommPort", "Settings", "PortOpen=true", "PortOpen=false", "Output"
    int failWith = 0;
    QByteArray input;       // what the far end "sent" and is not read yet
    QList<QByteArray> outputs;

    bool PortOpen() const override { return m_open; }
    void setPortOpen(bool open) override
    {
        step(open ? QStringLiteral("PortOpen=true") : QStringLiteral("PortOpen=false"));
        m_open = open;
    }
    qint16 CommPort() const override { return m_port; }
    void setCommPort(qint16 port) override
    {
        step(QStringLiteral("CommPort=%1").arg(port), QStringLiteral("CommPort"));
        m_port = port;
    }
    QString Settings() const override { return m_settings; }
    void setSettings(const QString &settings) override
    {
        step(QStringLiteral("Settings=") + settings, QStringLiteral("Settings"));
        m_settings = settings;
    }
    void setOutput(const QString &text) override
    {
        step(QStringLiteral("Output"), QStringLiteral("Output"));
        outputs.append(text.toLatin1());
    }
    qint16 InBufferCount() override { return qint16(qMin<qsizetype>(input.size() - m_pos, 32767)); }
    QByteArrayView Input() override
    {
        if (m_pos >= input.size())
            return {};
        return QByteArrayView(input).sliced(m_pos++, 1);
    }
    // The far end sends: the bytes wait, and the port raises its event.
    void receive(const QByteArray &bytes)
    {
        input = input.mid(m_pos) + bytes;
        m_pos = 0;
        Q_EMIT OnComm();
    }

private:
    void step(const QString &call, const QString &kind = {})
    {
        calls.append(call);
        if (!failOn.isEmpty() && (failOn == call || failOn == kind))
            raiseError(failWith);
    }
    bool m_open = false;
    qint16 m_port = 0;
    QString m_settings;
    qsizetype m_pos = 0;
};

// Message boxes answered by the test.
class FakeBoxes : public MessageBoxes
{
public:
    struct Shown
    {
        QString text;
        QString title;
        Buttons buttons;
        Icon icon;
    };
    QList<Shown> shown;
    QList<Answer> answers; // taken in order; Yes when none is left

    Answer show(const QString &text, const QString &title, Buttons buttons, Icon icon) override
    {
        shown.append({text, title, buttons, icon});
        if (buttons == Ok)
            return AnswerOk;
        return answers.isEmpty() ? AnswerYes : answers.takeFirst();
    }
};

// A file dialog that "chooses" what the test says, or is cancelled.
class FakeDialog : public CommonDialog
{
public:
    QStringList choices; // taken in order; an empty entry means cancel
    int shownCount = 0;
    QString lastTitle, lastDefaultExt, lastFilter;
    bool lastCancelError = false;

    void ShowOpen() override
    {
        ++shownCount;
        lastTitle = DialogTitle;
        lastDefaultExt = DefaultExt;
        lastFilter = Filter;
        lastCancelError = CancelError;
        const QString choice = choices.isEmpty() ? QString() : choices.takeFirst();
        if (choice.isEmpty()) {
            if (CancelError)
                raiseError(Err::Cancelled);
            return;
        }
        FileName = choice;
    }
};
