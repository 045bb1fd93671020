#pragma once

#include "capture.h"
#include "errorreporter.h"
#include "operatorwait.h"
#include "seriallink.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class ActivityBar;
class CommandDesk;
class CommandQuestions;
class CommandsWindow;
class QShortcut;
class CommandBox;
class SentCommands;
class LinePulser;
class CommonDialog;
class HistoryStore;
class HistoryWindow;
class Lamp;
class PlotFeed;
class PlotWindow;
class MessageBoxes;
class PortList;
class QComboBox;
class QGroupBox;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class ReceiveView;
class SerialPort;
class TransferControl;

// The terminal window. It builds every control at its design place and value,
// owns the components and the handlers with their state, and wires the eight
// events to the handlers: it reads its controls for them and shows what they
// tell. The port, the message boxes and the file dialog may be handed in
// (tests do); otherwise the window makes the real ones.
class KavroWindow : public QWidget
{
    Q_OBJECT
public:
    explicit KavroWindow(SerialPort *port = nullptr, MessageBoxes *boxes = nullptr,
                         CommonDialog *dialog = nullptr, QWidget *parent = nullptr);
    ~KavroWindow() override;

    SerialPort &port() { return *m_port; }
    SerialLink &link() { return *m_link; }
    Capture &capture() { return *m_capture; }
    ErrorReporter &reporter() { return m_reporter; }
    HistoryStore &history() { return *m_history; }

    // "Verlauf…": opens the history window, or raises it.
    HistoryWindow *showHistory();
    // "Kurven…": opens the plot window, or raises it.
    PlotWindow *showPlot();
    PlotFeed &plotFeed() { return *m_plotFeed; }
    // "Datei senden…" and "Datei empfangen…" with their progress windows.
    TransferControl &transfers() { return *m_transfers; }
    // The last refusal shown beside "Befehl senden".
    const QString &status() const { return m_status; }

    // The saved commands (kavrowindowcommands.cpp): "Befehle…" and Ctrl+B
    // open their window or raise it; F1 ... F12 run them, Esc stops what
    // runs.
    CommandsWindow *showCommands();
    CommandDesk &commands() { return *m_commandDesk; }
    // Who asks the operator about saved commands; Qt's dialogs by default
    // (and again after nullptr).
    void setCommandQuestions(CommandQuestions *questions);
    // Tells through the error reporter, from the event loop, when the saved
    // commands' file could not be read at start.
    void reportCommandsFile();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void setTabChain();
    void wireEvents();
    void Form_Unload();
    void clear_send_Click();

    // What the controls hold when a handler reads them.
    PortChoice portChoice() const;
    Terminator terminator() const;
    // What the handlers tell, shown.
    void showPortState(PortState state, const QString &about);
    void showRefusal();
    // The lamp's context menu: the port's lines.
    void showLineMenu(const QPoint &at);
    // The port number "Beim Öffnen" is for: the open one, or the one chosen.
    std::optional<qint16> chosenPort() const;
    // "Sofort senden": the one byte, without terminator.
    void sendNow(char byte);
    void wireCommands();
    void runKey(int key);
    void saveAsCommand(const QString &text);
    void commandsRunningChanged();
    void wireTransfers();
    void showStatus(const QString &text);

    std::unique_ptr<MessageBoxes> m_ownBoxes;
    std::unique_ptr<CommonDialog> m_ownDialog;
    MessageBoxes &m_boxes;
    CommonDialog &m_dialog;
    ErrorReporter m_reporter;
    SerialPort *const m_port;
    Capture *m_capture = nullptr;
    HistoryStore *m_history = nullptr;
    QPointer<HistoryWindow> m_historyWindow;
    // The numbers of the received lines, read from the start; their window.
    PlotFeed *m_plotFeed = nullptr;
    QPointer<PlotWindow> m_plotWindow;
    SerialLink *m_link = nullptr;
    PortState m_portState = PortState::Closed;
    QString m_portStateAbout;
    // The commands sent before, for the command box's keys.
    std::unique_ptr<SentCommands> m_sentCommands;
    // "Break senden" and "Reset-Puls" of the lamp's menu.
    LinePulser *m_pulser = nullptr;
    TransferControl *m_transfers = nullptr;
    QString m_status;
    // The lamp's menu last shown.
    QPointer<QMenu> m_lineMenu;
    // The saved commands, their window and questions, and the Esc that
    // stops them while one runs.
    CommandDesk *m_commandDesk = nullptr;
    QPointer<CommandsWindow> m_commandsWindow;
    std::unique_ptr<CommandQuestions> m_ownCommandQuestions;
    CommandQuestions *m_commandQuestions = nullptr;
    QShortcut *m_stopKey = nullptr;

    // The controls the handlers' values come from and their outcomes go to,
    // by their design names.
    struct Controls {
        QPushButton *Verbind = nullptr;
        Lamp *Shape1 = nullptr;
        QGroupBox *Frame5 = nullptr;
        QComboBox *Baud = nullptr;
        QComboBox *Comport = nullptr;
        QRadioButton *even = nullptr, *odd = nullptr, *non = nullptr;
        QRadioButton *acht = nullptr, *sieben = nullptr;
        QRadioButton *eins = nullptr, *zwei = nullptr;
        CommandBox *SendWin = nullptr;
        // "kein Zeichen" (Option1) is what remains when none of these is chosen.
        QRadioButton *Option2 = nullptr, *Option3 = nullptr, *Option4 = nullptr, *Option5 = nullptr;
        ReceiveView *Empfang = nullptr;
        QPushButton *StartRec = nullptr;
        QPlainTextEdit *Text1 = nullptr;
        ActivityBar *ProgressBar1 = nullptr;
    } m_c;
    PortList *m_portList = nullptr;
    // While an opening waits for a serial server: what the operator does
    // meanwhile.
    OperatorWhileWaiting m_operatorWait;
};
