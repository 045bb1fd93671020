#include "kavrowindow.h"

#include "artwork.h"
#include "cachedcontrols.h"
#include "codepage.h"
#include "commandbox.h"
#include "commandquestions.h"
#include "commandswindow.h"
#include "deviceserialport.h"
#include "historystore.h"
#include "historywindow.h"
#include "lamp.h"
#include "lampmenu.h"
#include "linepulser.h"
#include "modemlines.h"
#include "operatorwait.h"
#include "plaintext.h"
#include "plotfeed.h"
#include "plotwindow.h"
#include "portdirectory.h"
#include "portlist.h"
#include "porttext.h"
#include "qtcommondialog.h"
#include "qtmessageboxes.h"
#include "receiveview.h"
#include "sentcommands.h"
#include "transfercontrol.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyleFactory>
#include <QTimer>

#include <exception>

namespace
{

// The option buttons were laid out for a 13 pixel circle with a narrow gap
// before the caption; Fusion's larger circle and gap would cut "7" and
// "ungerade" in their boxes and clip the circle in the 13 pixel rows.
class OptionStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption *option,
                    const QWidget *widget) const override
    {
        switch (metric) {
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
            return 13;
        case PM_RadioButtonLabelSpacing:
            return 4;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};

// Positions in the control table are twips; 15 of them make one pixel.
QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

template <class W> W *place(W *w, const char *name, const QRect &geometry)
{
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    return place(new QGroupBox(caption, parent), name, geometry);
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption,
                    const QRect &geometry)
{
    auto *b = place(new QPushButton(caption, parent), name, geometry);
    // Enter presses the focused button, as operators know it from other
    // programs (a plain QWidget window has no default button otherwise).
    b->setAutoDefault(true);
    return b;
}

QRadioButton *option(QWidget *parent, const char *name, const QString &caption,
                     const QRect &geometry, bool selected = false)
{
    auto *o = place(new QRadioButton(caption, parent), name, geometry);
    // One style for all option buttons of all windows, over the application's
    // style (a widget does not own its style, so this one lives to the end).
    static OptionStyle *const optionStyle =
        new OptionStyle(QStyleFactory::create(QApplication::style()->name()));
    o->setStyle(optionStyle);
    o->setChecked(selected);
    return o;
}

QComboBox *combo(QWidget *parent, const char *name, const QStringList &items, const QString &text,
                 const QRect &geometry)
{
    auto *c = place(new QComboBox(parent), name, geometry);
    c->setEditable(true);
    c->addItems(items);
    c->setCurrentIndex(int(items.indexOf(text)));
    // The operator may type any text and nothing touches it: no new list
    // entries on Enter, no completion that would turn "1" into "115200".
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setCompleter(nullptr);
    return c;
}

QLabel *label(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    auto *l = place(new QLabel(caption, parent), name, geometry);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

} // namespace

KavroWindow::KavroWindow(SerialPort *port, MessageBoxes *boxes, CommonDialog *dialog,
                         QWidget *parent)
    : QWidget(parent, Qt::Window), m_ownBoxes(boxes ? nullptr : new QtMessageBoxes(this)),
      m_ownDialog(dialog ? nullptr : new QtCommonDialog(this)),
      m_boxes(boxes ? *boxes : *m_ownBoxes), m_dialog(dialog ? *dialog : *m_ownDialog),
      m_reporter(&m_boxes, this), m_port(port ? port : new DeviceSerialPort(this)),
      m_sentCommands(std::make_unique<SentCommands>())
{
    setWindowTitle(QStringLiteral("T o l m  Kavro V1.00"));
    setWindowIcon(kavroIcon());
    setFont(designFont(11));
    resize(665, 452);
    m_port->setObjectName(QStringLiteral("MSComm1"));

    // Everything received and sent this run, in files of the user's cache
    // folder, for the history window.
    m_history = new HistoryStore(HistoryStore::defaultFolder(), this);
    m_plotFeed = new PlotFeed(this);
    m_capture = new Capture(m_dialog, m_boxes, this);
    m_link = new SerialLink(*m_port, m_boxes, *m_capture, this);
    m_pulser = new LinePulser(m_port->modemLines(), this);
    m_transfers = new TransferControl(*m_port, *m_link, *m_history, this);
    buildControls();
    setTabChain();
    wireEvents();
    showPortState(PortState::Closed, {});
}

KavroWindow::~KavroWindow()
{
    // The commands' window before the commands it shows.
    delete m_commandsWindow.data();
    // The commands sent before go before the box that steps through them.
    m_c.SendWin->setSentCommands(nullptr);
    // The plot window before the feed it draws from.
    delete m_plotWindow.data();
    // A transfer tells the far end while the port is still there.
    delete m_transfers;
}

void KavroWindow::buildControls()
{
    Controls &f = m_c;
    Controls &c = m_c;

    auto *Frame1 =
        frame(this, "Frame1", QStringLiteral("Aufzeichnung"), twips(4800, 3000, 5175, 2175));
    c.ProgressBar1 = place(new ActivityBar(Frame1), "ProgressBar1", twips(240, 1800, 4695, 135));
    c.ProgressBar1->setRange(0, 100);
    c.ProgressBar1->setValue(0);
    c.ProgressBar1->setTextVisible(false);

    c.Text1 = place(new QPlainTextEdit(Frame1), "Text1", twips(240, 1080, 4695, 615));
    c.Text1->setReadOnly(true);
    c.Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    c.Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Shows the capture file's name; a click may select it, Tab never stops here.
    c.Text1->setFocusPolicy(Qt::ClickFocus);
    QPalette facePalette = c.Text1->palette();
    facePalette.setColor(QPalette::Base, facePalette.color(QPalette::Window));
    c.Text1->setPalette(facePalette);
    c.Text1->setPlainText(QStringLiteral("Dateiname"));

    c.StartRec = button(Frame1, "StartRec", QStringLiteral("Start"), twips(240, 360, 1455, 615));
    c.StartRec->setFont(designFont(13, true));

    f.Verbind = button(this, "Verbind", QStringLiteral("Öffnen"), twips(720, 360, 1335, 615));
    f.Verbind->setFont(designFont(13, true));

    auto *Frame4 = frame(this, "Frame4", QStringLiteral("Empfang"), twips(120, 3000, 4575, 3735));
    f.Empfang = place(new ReceiveView(Frame4), "Empfang", twips(120, 240, 4335, 2895));
    f.Empfang->setFont(designFont(13));
    button(Frame4, "clear_empf", QStringLiteral("Inhalt löschen"), twips(3240, 3240, 1215, 375));

    auto *Frame3 =
        frame(this, "Frame3", QStringLiteral("Befehlseingabe"), twips(120, 1320, 9855, 1455));
    f.SendWin = place(new CommandBox(Frame3), "SendWin", twips(120, 240, 4335, 975));
    auto *Frame2 =
        frame(Frame3, "Frame2", QStringLiteral("Abschlusszeichen"), twips(4560, 240, 3735, 975));
    option(Frame2, "Option1", QStringLiteral("kein Zeichen"), twips(120, 240, 1335, 255));
    f.Option2 =
        option(Frame2, "Option2", QStringLiteral("nur CR"), twips(1560, 240, 855, 255), true);
    f.Option3 = option(Frame2, "Option3", QStringLiteral("nur LF"), twips(1560, 480, 855, 255));
    f.Option4 = option(Frame2, "Option4", QStringLiteral("CR / LF"), twips(2640, 240, 975, 255));
    f.Option5 = option(Frame2, "Option5", QStringLiteral("LF / CR"), twips(2640, 480, 975, 255));
    button(Frame3, "clear_send", QStringLiteral("Befehl löschen"), twips(8400, 840, 1215, 375));
    button(Frame3, "send_win", QStringLiteral("Befehl senden"), twips(8400, 360, 1215, 375));

    f.Frame5 =
        frame(this, "Frame5", QStringLiteral("COM-Port-Parameter"), twips(2160, 120, 7815, 975));
    f.Baud = combo(f.Frame5, "Baud",
                   {QStringLiteral("115200"), QStringLiteral("19200"), QStringLiteral("9600"),
                    QStringLiteral("4800"), QStringLiteral("2400"), QStringLiteral("1200"),
                    QStringLiteral("600"), QStringLiteral("300")},
                   QStringLiteral("9600"), twips(1080, 480, 1095, 315));
    QStringList ports;
    for (int i = 1; i <= 10; ++i)
        ports.append(QString::number(i));
    f.Comport = combo(f.Frame5, "Comport", ports, QStringLiteral("1"), twips(120, 480, 855, 315));
    // What each number is right now, beside the items and in the tooltip,
    // from the same map the port opens by.
    if (auto *device = qobject_cast<DeviceSerialPort *>(m_port))
        m_portList = new PortList(f.Comport, new PortDirectory(device->environment()));

    auto *DataBits =
        frame(f.Frame5, "DataBits", QStringLiteral("Datenbits"), twips(2280, 240, 1095, 615));
    f.sieben = option(DataBits, "sieben", QStringLiteral("7"), twips(120, 240, 375, 195));
    f.acht = option(DataBits, "acht", QStringLiteral("8"), twips(600, 240, 375, 195), true);

    auto *StopBits =
        frame(f.Frame5, "StopBits", QStringLiteral("Stoppbits"), twips(6600, 240, 1095, 615));
    f.zwei = option(StopBits, "zwei", QStringLiteral("2"), twips(600, 240, 375, 195));
    f.eins = option(StopBits, "eins", QStringLiteral("1"), twips(120, 240, 375, 195), true);

    auto *Parity =
        frame(f.Frame5, "Parity", QStringLiteral("Parität"), twips(3480, 240, 3015, 615));
    f.non = option(Parity, "non", QStringLiteral("keine"), twips(120, 240, 855, 195), true);
    f.even = option(Parity, "even", QStringLiteral("gerade"), twips(960, 240, 975, 195));
    f.odd = option(Parity, "odd", QStringLiteral("ungerade"), twips(1920, 240, 975, 195));

    label(f.Frame5, "Label2", QStringLiteral("Baudrate"), twips(1080, 255, 1095, 255));
    label(f.Frame5, "Label1", QStringLiteral("ComPort"), twips(120, 255, 735, 255));
    label(this, "Label3", kavroNotice(), twips(4800, 6480, 5055, 255));

    auto *Image1 = place(new QLabel(this), "Image1", twips(4800, 5280, 5085, 1035));
    Image1->setPixmap(kavroLogo(Image1->size()));

    f.Shape1 = place(new Lamp(this), "Shape1", twips(120, 480, 495, 375));
    // The lines of the port behind the lamp: its menu and, fresh each time
    // it shows, its tooltip.
    f.Shape1->setContextMenuPolicy(Qt::CustomContextMenu);
    f.Shape1->installEventFilter(this);
    f.SendWin->setSentCommands(m_sentCommands.get());
}

void KavroWindow::setTabChain()
{
    static const char *const order[] = {
        "send_win", "clear_send", "Option5", "Option4", "Option3", "Option2", "Option1",
        "SendWin",  "clear_empf", "Empfang", "odd",     "even",    "non",     "eins",
        "zwei",     "acht",       "sieben",  "Comport", "Baud",    "Verbind", "StartRec",
    };
    QWidget *previous = nullptr;
    for (const char *name : order) {
        auto *w = findChild<QWidget *>(QLatin1String(name));
        Q_ASSERT(w);
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }
    // Tab stops at one option button per group, the selected one; Qt moves
    // that stop along as the selection changes, but at start every option
    // button would still take it.
    for (QRadioButton *o : findChildren<QRadioButton *>()) {
        if (!o->isChecked())
            o->setFocusPolicy(Qt::FocusPolicy(o->focusPolicy() & ~Qt::TabFocus));
    }
    // Shown windows give the focus to this child first.
    findChild<QWidget *>(QStringLiteral("send_win"))->setFocus();
}

void KavroWindow::wireEvents()
{
    // Every handler runs through the error reporter: a failure it does not
    // trap ends it there and is shown once it is over.
    auto onClick = [this](const char *name, auto handler) {
        auto *b = findChild<QPushButton *>(QLatin1String(name));
        Q_ASSERT(b);
        connect(b, &QPushButton::clicked, this, [this, handler] { m_reporter.run(handler); });
    };
    onClick("Verbind", [this] {
        // A transfer ends first, telling the far end while the line is open.
        if (m_port->PortOpen())
            m_transfers->cancel(QStringLiteral("Der Anschluss wurde geschlossen."));
        m_link->Verbind_Click(portChoice());
        // A port on a serial server opens in the background. Clicks and keys
        // made meanwhile are dropped, not replayed afterwards; closing the
        // window ends the wait (Form_Unload).
        if (m_link->openingPending())
            m_operatorWait.begin();
    });
    // The rest of "Öffnen" once the server has answered.
    connect(m_port, &SerialPort::openingEnded, this,
            [this](const std::optional<KavroError> &failure) {
                m_operatorWait.end();
                m_reporter.run([this, &failure] { m_link->finishOpening(failure); });
            });
    onClick("send_win", [this] {
        const QString command = m_c.SendWin->text();
        m_link->send_win_Click(command, terminator());
        // Kept only when it went out: the handler sends nothing on a closed
        // port and throws when the port refuses.
        if (m_port->PortOpen() && m_link->lineOwner().isEmpty())
            m_c.SendWin->recordSent(command);
    });
    wireTransfers();
    connect(m_c.SendWin, &CommandBox::sendNow, this,
            [this](char byte) { m_reporter.run([this, byte] { sendNow(byte); }); });
    connect(m_c.Shape1, &QWidget::customContextMenuRequested, this, &KavroWindow::showLineMenu);
    onClick("clear_send", [this] { clear_send_Click(); });
    onClick("clear_empf", [this] { m_link->clear_empf_Click(); });
    onClick("StartRec", [this] { m_capture->StartRec_Click(); });
    connect(m_port, &SerialPort::OnComm, this, [this] {
        m_reporter.run([this] { m_link->MSComm1_OnComm(); }, ErrorReporter::Show::FromEventLoop);
    });
    // A serial server's answer to a line change: the lamp's tooltip shows
    // it (its menu follows by itself).
    connect(m_port, &SerialPort::serverAnswered, this, [this] {
        if (m_portState == PortState::Open)
            showRefusal();
    });
    connect(&m_capture->timer(), &QTimer::timeout, this,
            [this] { m_reporter.run([this] { m_capture->Timer1_Timer(); }); });

    // The history keeps every piece as it is taken in and every command as
    // it went out; "Verlauf…" and Ctrl+H show it.
    connect(m_port, &SerialPort::pieceTaken, m_history, &HistoryStore::appendReceived);
    // A saved command's name goes with its bytes.
    connect(m_port, &SerialPort::bytesSent, m_history,
            [this](QByteArrayView bytes) { m_history->appendSent(bytes, m_link->sendingName()); });
    connect(m_c.Empfang, &ReceiveView::historyRequested, this, &KavroWindow::showHistory);
    auto *historyKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    connect(historyKey, &QShortcut::activated, this, &KavroWindow::showHistory);
    // The plot reads every piece with the time the history gave it, from the
    // start; "Kurven…" and Ctrl+K show it.
    connect(m_history, &HistoryStore::received, m_plotFeed, &PlotFeed::take);
    connect(m_c.Empfang, &ReceiveView::plotRequested, this, &KavroWindow::showPlot);
    auto *plotKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), this);
    connect(plotKey, &QShortcut::activated, this, &KavroWindow::showPlot);

    // What the handlers tell, shown in the controls.
    connect(m_link, &SerialLink::stateChanged, this, &KavroWindow::showPortState);
    connect(m_link, &SerialLink::refusalChanged, this, &KavroWindow::showRefusal);
    connect(m_link, &SerialLink::linesChanged, m_c.Empfang, &ReceiveView::setLines);
    connect(m_link, &SerialLink::viewCleared, m_c.Empfang, &ReceiveView::clearText);
    connect(m_capture, &Capture::recordingChanged, this, [this](bool recording) {
        m_c.StartRec->setText(recording ? QStringLiteral("Stopp") : QStringLiteral("Start"));
    });
    connect(m_capture, &Capture::fileShown, m_c.Text1, &QPlainTextEdit::setPlainText);
    connect(m_capture, &Capture::barValueChanged, m_c.ProgressBar1, &QProgressBar::setValue);

    // Failures found outside any handler: a write of the capture, the rest of
    // a long command that could not be written in the background (shown from
    // the event loop, as the receive event's), the end of a break or reset
    // pulse that the device refused.
    connect(m_capture, &Capture::failed, this,
            [this](const KavroError &e) { m_reporter.report(e); });
    connect(m_port, &SerialPort::Failed, this, [this](const KavroError &e) {
        m_reporter.report(e, ErrorReporter::Show::FromEventLoop);
    });
    connect(m_pulser, &LinePulser::failed, this,
            [this](const KavroError &e) { m_reporter.report(e); });
    wireCommands();
}

PortChoice KavroWindow::portChoice() const
{
    // Each option of a group is looked at in turn; the last one selected
    // gives the group's letter (only one can be).
    PortChoice choice{m_c.Comport->currentText(), m_c.Baud->currentText(), {}, {}, {}};
    if (m_c.even->isChecked())
        choice.parity = QStringLiteral("e");
    if (m_c.odd->isChecked())
        choice.parity = QStringLiteral("o");
    if (m_c.non->isChecked())
        choice.parity = QStringLiteral("n");
    if (m_c.acht->isChecked())
        choice.dataBits = QStringLiteral("8");
    if (m_c.sieben->isChecked())
        choice.dataBits = QStringLiteral("7");
    if (m_c.eins->isChecked())
        choice.stopBits = QStringLiteral("1");
    if (m_c.zwei->isChecked())
        choice.stopBits = QStringLiteral("2");
    return choice;
}

Terminator KavroWindow::terminator() const
{
    Terminator terminator = Terminator::None;
    if (m_c.Option2->isChecked())
        terminator = Terminator::Cr;
    if (m_c.Option3->isChecked())
        terminator = Terminator::Lf;
    if (m_c.Option4->isChecked())
        terminator = Terminator::CrLf;
    if (m_c.Option5->isChecked())
        terminator = Terminator::LfCr;
    return terminator;
}

// The one place that shows the port's state: the caption, the lamp's
// colour and tooltip, and whether the parameters may be changed.
void KavroWindow::showPortState(PortState state, const QString &about)
{
    // The history marks each opening and closing once; a device that went
    // away and came back is the same opening.
    const int port = m_port->CommPort();
    if (m_portState == PortState::Closed && state != PortState::Closed) {
        m_history->portOpened(port, m_port->Settings());
        m_plotFeed->portOpened(port);
    } else if (m_portState != PortState::Closed && state == PortState::Closed) {
        m_history->portClosed(port);
        m_plotFeed->portClosed();
    }
    if (m_historyWindow)
        m_historyWindow->setPortNumber(state == PortState::Closed ? 0 : port);
    if (m_plotWindow)
        m_plotWindow->setPortNumber(state == PortState::Closed ? 0 : port);
    if (m_commandsWindow)
        m_commandsWindow->setPortNumber(state == PortState::Closed ? 0 : port);
    m_portState = state;
    m_portStateAbout = about;
    static const quint32 colours[] = {Lamp::Red, Lamp::Green, Lamp::Amber};
    m_c.Verbind->setText(state == PortState::Closed ? QStringLiteral("Öffnen")
                                                    : QStringLiteral("Schließen"));
    m_c.Shape1->setFillColor(colours[int(state)]);
    m_c.Frame5->setEnabled(state == PortState::Closed);
    // A transfer ends when its line goes; while it runs, the line is its.
    if (state != PortState::Open)
        m_transfers->cancel(QStringLiteral("Der Anschluss ist nicht mehr verfügbar."));
    m_c.SendWin->setSendRefusal(
        state == PortState::Open
            ? m_link->lineOwner()
            : lineRefusal(state == PortState::Closed ? LineAccess::Closed : LineAccess::Away));
    showRefusal();
}

// Why the last opening failed stays readable without a dialog, until the next
// opening: in the lamp's and the port box's tooltips; so does what the port
// had to say about an opening that worked, while it is open.
void KavroWindow::showRefusal()
{
    QString refusal = m_link->openNotice();
    if (const std::optional<KavroError> &e = m_link->lastRefusal())
        refusal = QStringLiteral("Öffnen fehlgeschlagen: %1").arg(e->description());
    QString lampText = m_portState == PortState::Waiting ? m_portStateAbout : refusal;
    // The lines as they are now, below what the port has to say.
    if (m_portState == PortState::Open)
        if (const QString lines = lineToolTip(m_port->modemLines()); !lines.isEmpty())
            lampText = lampText.isEmpty() ? lines : lampText + u'\n' + lines;
    m_c.Shape1->setToolTip(lampText.isEmpty() ? QString() : plainToolTip(lampText, m_c.Shape1));
    if (m_portList)
        m_portList->setNotice(refusal);
}

HistoryWindow *KavroWindow::showHistory()
{
    if (!m_historyWindow) {
        m_historyWindow = new HistoryWindow(*m_history, nullptr, this);
        m_historyWindow->setPortNumber(m_portState == PortState::Closed ? 0 : m_port->CommPort());
    }
    m_historyWindow->showAndRaise();
    return m_historyWindow;
}

PlotWindow *KavroWindow::showPlot()
{
    if (!m_plotWindow) {
        m_plotWindow = new PlotWindow(*m_plotFeed, nullptr, this);
        m_plotWindow->setPortNumber(m_portState == PortState::Closed ? 0 : m_port->CommPort());
    }
    m_plotWindow->showAndRaise();
    return m_plotWindow;
}

bool KavroWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The input lines change without a word from the port: the tooltip is
    // made anew just before it shows.
    if (watched == m_c.Shape1 && event->type() == QEvent::ToolTip && m_portState == PortState::Open)
        showRefusal();
    return QWidget::eventFilter(watched, event);
}

std::optional<qint16> KavroWindow::chosenPort() const
{
    if (m_port->PortOpen())
        return m_port->CommPort();
    try {
        return portNumber(m_c.Comport->currentText());
    } catch (const KavroError &) {
        return std::nullopt;
    }
}

void KavroWindow::showLineMenu(const QPoint &at)
{
    // A menu of its own each time: its entries are made for the port as it
    // is now. The one before goes now, not when it closed: a click closes the
    // menu before its entry runs, and the entry may let events run (a message
    // box, the wait for a serial server's answer) while the menu's own click
    // is still being handled.
    if (m_lineMenu)
        m_lineMenu->deleteLater();
    m_lineMenu = new QMenu(this);
    m_lineMenu->setObjectName(QStringLiteral("lineMenu"));
    const std::function<void()> refresh =
        fillLineMenu(m_lineMenu, m_port->modemLines(), *m_pulser, chosenPort(),
                     [this](const std::function<void()> &change) { m_reporter.run(change); });
    // A serial server answers a change later.
    connect(m_port, &SerialPort::serverAnswered, m_lineMenu, refresh);
    m_lineMenu->popup(m_c.Shape1->mapToGlobal(at));
}

void KavroWindow::sendNow(char byte)
{
    if (!m_link->lineOwner().isEmpty()) {
        showStatus(m_link->lineOwner());
        return;
    }
    m_port->setOutput(textFromBytes(QByteArrayView(&byte, 1)));
}

void KavroWindow::clear_send_Click()
{
    m_c.SendWin->setText(QString());
}

void KavroWindow::Form_Unload()
{
    // The capture file is closed even when the port fails to close, so that
    // a failing close of the file is not left to the destructor, where it
    // could not be told; the port's failure is told after.
    std::exception_ptr portFailure;
    m_transfers->cancel(QStringLiteral("Das Fenster wurde geschlossen."));
    try {
        if (m_port->PortOpen() || m_port->isOpening())
            m_port->setPortOpen(false);
    } catch (...) {
        portFailure = std::current_exception();
    }
    m_capture->files().close(1);
    // The history goes with the window it belongs to.
    if (m_historyWindow)
        m_historyWindow->close();
    if (m_plotWindow)
        m_plotWindow->close();
    if (m_commandsWindow)
        m_commandsWindow->close();
    if (portFailure)
        std::rethrow_exception(portFailure);
}

void KavroWindow::closeEvent(QCloseEvent *event)
{
    m_reporter.run([this] { Form_Unload(); });
    event->accept();
}
