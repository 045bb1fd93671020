#pragma once

#include "bytesdialog.h"
#include "commandbox.h"
#include "commondialog.h"
#include "kavrowindow.h"
#include "lamp.h"
#include "messageboxes.h"
#include "receiveview.h"
#include "serialport.h"

#include <QtWidgets>

// The tooltip on show, if one is.
inline QLabel *tipOnShow()
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *label = qobject_cast<QLabel *>(top);
            label && label->inherits("QTipLabel") && label->isVisible())
            return label;
    return nullptr;
}

// What the tooltip of `w` shows when the mouse rests at `at`: the text Qt
// lays out in its tooltip label, markup taken as Qt takes it, the text's own
// line breaks as '\n' (where a long line wraps is left out); empty when none
// shows.
inline QString shownToolTip(QWidget *w, QPoint at = {})
{
    QToolTip::hideText();
    QHelpEvent rest(QEvent::ToolTip, at, w->mapToGlobal(at));
    QApplication::sendEvent(w, &rest);
    const QLabel *tip = tipOnShow();
    if (!tip)
        return {};
    QTextDocument shown;
    Qt::mightBeRichText(tip->text()) ? shown.setHtml(tip->text()) : shown.setPlainText(tip->text());
    return shown.toRawText().remove(QChar::LineSeparator).replace(QChar::ParagraphSeparator, '\n');
}

// A scripted port: records what the handlers do with it, fails where told,
// and hands out the bytes a test puts into its input.
class FakePort : public SerialPort
{
public:
    QStringList calls; // "CommPort=3", "Settings=9600,n,8,1", "PortOpen=true", ...
    int failAt = -1;   // the call (counted from 0) that fails with failWith
    int failWith = 0;

    bool PortOpen() const override { return m_open; }
    void setPortOpen(bool open) override
    {
        step(open ? QStringLiteral("PortOpen=true") : QStringLiteral("PortOpen=false"));
        m_open = open;
    }
    qint16 CommPort() const override { return 0; } // the handlers only set these two
    void setCommPort(qint16 port) override { step(QStringLiteral("CommPort=%1").arg(port)); }
    QString Settings() const override { return {}; }
    void setSettings(const QString &settings) override
    {
        step(QStringLiteral("Settings=") + settings);
    }
    void setOutput(const QString &) override { step(QStringLiteral("Output")); }
    ModemControl &modemLines() override { return m_lines; }
    // The far end sends: the bytes wait, and the port raises its event.
    void receive(const QByteArray &bytes)
    {
        takePiece(bytes);
        Q_EMIT OnComm();
    }

protected:
    qint64 lineHolds() override { return 0; }
    void takeFromLine() override {}

private:
    void step(const QString &call)
    {
        calls.append(call);
        if (calls.size() - 1 == failAt)
            raiseError(failWith);
    }
    bool m_open = false;

    // Lines that are there while the port is open and take every change.
    struct Lines : ModemControl {
        FakePort &port;
        ModemLines state{true, true, false, false, false, false};
        explicit Lines(FakePort &p) : port(p) {}
        LineAccess lineAccess() const override
        {
            return port.m_open ? LineAccess::Full : LineAccess::Closed;
        }
        void set(const char *name, bool on, std::optional<bool> *line)
        {
            checkLineAccess(lineAccess());
            port.step(QStringLiteral("%1=%2").arg(QLatin1String(name)).arg(int(on)));
            if (line)
                *line = on;
        }
        void setDtr(bool on) override { set("DTR", on, &state.dtr); }
        void setRts(bool on) override { set("RTS", on, &state.rts); }
        void setBreak(bool on) override { set("Break", on, nullptr); }
        ModemLines lines() override { return port.m_open ? state : ModemLines{}; }
    } m_lines{*this};
};

// Message boxes answered by the test.
class FakeBoxes : public MessageBoxes
{
public:
    QStringList shown;                // "title|icon|buttons|text" of each box
    QList<Answer> answers;            // taken in order; Yes when none is left
    std::function<void()> whileShown; // runs as if the operator had the box open

    Answer show(const QString &text, const QString &title, Buttons buttons, Icon icon) override
    {
        const char *icons[] = {"Information", "Question", "Critical"};
        shown << QStringLiteral("%1|%2|%3|%4")
                     .arg(title, icons[icon], buttons == Ok ? "Ok" : "YesNo", text);
        if (whileShown)
            whileShown();
        if (buttons == Ok)
            return AnswerOk;
        return answers.isEmpty() ? AnswerYes : answers.takeFirst();
    }
    // Whether exactly one box was shown, the error reporter's for this number,
    // its text going on with `more`.
    bool toldOnly(int error, const QString &more = {}) const
    {
        return shown.size() == 1 &&
               shown[0].startsWith(QStringLiteral("Kavro|Critical|Ok|Fehler %1: ").arg(error) +
                                   more);
    }
};

// A file dialog that "chooses" what the test says, or is cancelled.
class FakeDialog : public CommonDialog
{
public:
    QStringList choices; // taken in order; an empty entry means cancel

    void ShowOpen() override
    {
        const QString choice = choices.isEmpty() ? QString() : choices.takeFirst();
        if (choice.isEmpty() && CancelError)
            raiseError(Err::Cancelled);
        if (!choice.isEmpty())
            FileName = choice;
    }
};

// The window on the given port, its boxes and (unless given another) its file
// dialog answered by the test. Controls are found by their names, as the
// operator finds them by their captions.
struct Rig {
    FakeBoxes boxes;
    FakeDialog dialog;
    KavroWindow window;
    // The controls the tests use most, found by their names.
    struct Controls {
        KavroWindow &w;
        template <class W> W *c(const char *name) const { return w.findChild<W *>(name); }
        QPushButton *Verbind = c<QPushButton>("Verbind"), *StartRec = c<QPushButton>("StartRec");
        Lamp *Shape1 = c<Lamp>("Shape1");
        QGroupBox *Frame5 = c<QGroupBox>("Frame5");
        QComboBox *Comport = c<QComboBox>("Comport"), *Baud = c<QComboBox>("Baud");
        ReceiveView *Empfang = c<ReceiveView>("Empfang");
        CommandBox *SendWin = c<CommandBox>("SendWin");
        QPlainTextEdit *Text1 = c<QPlainTextEdit>("Text1");
        QProgressBar *ProgressBar1 = c<QProgressBar>("ProgressBar1");
        QTimer *Timer1 = c<QTimer>("Timer1");
    } f{window};

    explicit Rig(SerialPort *port, CommonDialog *files = nullptr)
        : window(port, &boxes, files ? files : &dialog)
    {
        port->setParent(&window);
    }
    template <class W = QWidget> W *control(const QString &name)
    {
        return window.findChild<W *>(name);
    }
    // The colour the lamp shows on screen (0x00BBGGRR), read off its middle.
    quint32 lamp()
    {
        const QImage picture = f.Shape1->grab().toImage();
        const QColor c = picture.pixelColor(picture.width() / 2, picture.height() / 2);
        return quint32(c.red()) | quint32(c.green()) << 8 | quint32(c.blue()) << 16;
    }
    qint16 recActive() { return window.capture().recActive(); }
    // Starts a capture into the file; whether it runs.
    bool startCapture(const QString &file)
    {
        dialog.choices = {file};
        f.StartRec->click();
        return recActive() == -1;
    }
    // Nothing records: the button, the state, the timer, the bar and the file agree.
    bool captureStopped()
    {
        return f.StartRec->text() == QStringLiteral("Start") && recActive() == 0 &&
               !f.Timer1->isActive() && f.ProgressBar1->value() == 0 &&
               !window.capture().files().isOpen(1);
    }
    // Types the command and clicks "Senden".
    void send(const QString &command)
    {
        f.SendWin->setText(command);
        control<QPushButton>("send_win")->click();
    }
};

// "Bytes einfügen…" answered by the test: these bytes, or cancelled.
class FakeBytesPrompt : public BytesPrompt
{
public:
    std::optional<QByteArray> answer;
    int asked = 0;
    std::optional<QByteArray> askBytes(QWidget *) override
    {
        ++asked;
        return answer;
    }
};

// A menu's entry by its path of captions ("Reset-Puls/DTR"); null if none.
inline QAction *menuEntry(QMenu *menu, const QString &path)
{
    const QString first = path.section(u'/', 0, 0);
    for (QAction *a : menu->actions()) {
        if (a->text() != first)
            continue;
        if (!path.contains(u'/'))
            return a;
        if (a->menu())
            return menuEntry(a->menu(), path.section(u'/', 1));
    }
    return nullptr;
}

#include "transferquestions.h"

// "Datei senden…" and "Datei empfangen…" answered by the test: the choices
// given, in turn (none left: cancelled); what they were asked with is kept.
class FakeTransferQuestions : public TransferQuestions
{
public:
    QList<SendChoice> sends;
    QList<ReceiveChoice> receives;
    QList<int> ports;
    QList<ReceiveChoice> receiveStarts;
    std::optional<SendChoice> askSend(QWidget *, int port, const SendChoice &) override
    {
        ports << port;
        if (sends.isEmpty())
            return std::nullopt;
        return sends.takeFirst();
    }
    std::optional<ReceiveChoice> askReceive(QWidget *, int port,
                                            const ReceiveChoice &start) override
    {
        ports << port;
        receiveStarts << start;
        if (receives.isEmpty())
            return std::nullopt;
        return receives.takeFirst();
    }
};

// The "…" buttons' dialogs answered by the test.
class FakeFileChooser : public FileChooser
{
public:
    QString file;
    QString folder;
    QString chooseFile(QWidget *, const QString &) override { return file; }
    QString chooseFolder(QWidget *, const QString &) override { return folder; }
};
