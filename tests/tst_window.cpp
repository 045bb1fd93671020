// The terminal window against its control table, start values, tab order,
// option groups and close; and the Qt message box. The handlers behind the
// buttons are driven through the window by the end-to-end tests.

#include "artwork.h"
#include "commandbox.h"
#include "commondialog.h"
#include "kavroerror.h"
#include "kavrowindow.h"
#include "lamp.h"
#include "messageboxes.h"
#include "qtmessageboxes.h"
#include "receiveview.h"
#include "serialport.h"
#include "startup.h"

#include <QtWidgets>
#include <QTest>

namespace {

// A port that remembers what it is told; closing fails when told to.
struct ScriptedPort : SerialPort
{
    bool open = false;
    int closeFailure = 0;
    QStringList calls, outputs;
    QByteArray input, unit;
    bool PortOpen() const override { return open; }
    void setPortOpen(bool o) override
    {
        calls << (o ? "open" : "close");
        if (!o && closeFailure)
            raiseError(closeFailure);
        open = o;
    }
    qint16 CommPort() const override { return 1; }
    void setCommPort(qint16) override {}
    QString Settings() const override { return {}; }
    void setSettings(const QString &) override {}
    void setOutput(const QString &text) override { outputs << text; }
    qint16 InBufferCount() override { return qint16(input.size()); }
    QByteArrayView Input() override { unit = input.left(1); input.remove(0, 1); return unit; }
};

struct ScriptedBoxes : MessageBoxes
{
    QStringList texts;
    Answer show(const QString &text, const QString &, Buttons, Icon) override { texts << text; return AnswerNo; }
};

// The operator cancels every file dialog.
struct ScriptedDialog : CommonDialog
{
    int shown = 0;
    void ShowOpen() override { ++shown; raiseError(Err::Cancelled); }
};

QString captionOf(QWidget *w)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w)) return b->text();
    if (auto *g = qobject_cast<QGroupBox *>(w)) return g->title();
    if (auto *l = qobject_cast<QLabel *>(w)) return l->text();
    if (auto *e = qobject_cast<ReceiveView *>(w)) return e->text();
    if (auto *e = qobject_cast<CommandBox *>(w)) return e->text();
    if (auto *e = qobject_cast<QPlainTextEdit *>(w)) return e->toPlainText();
    return {};
}

// The width the control's style leaves for its caption.
int captionSpace(QWidget *w)
{
    QStyleOptionButton b;
    b.initFrom(w);
    b.features = QStyleOptionButton::AutoDefaultButton;
    if (qobject_cast<QRadioButton *>(w))
        return w->style()->subElementRect(QStyle::SE_RadioButtonContents, &b, w).width();
    if (qobject_cast<QPushButton *>(w))
        return w->style()->subElementRect(QStyle::SE_PushButtonContents, &b, w).width();
    if (auto *g = qobject_cast<QGroupBox *>(w)) {
        QStyleOptionGroupBox o;
        o.initFrom(g);
        o.text = g->title();
        return g->width() - g->style()->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxLabel, g).left();
    }
    if (auto *e = qobject_cast<QPlainTextEdit *>(w))
        return e->viewport()->width() - 2 * int(e->document()->documentMargin());
    return w->contentsRect().width();
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<ScriptedPort> port;
    ScriptedBoxes boxes;
    ScriptedDialog dialog;
    std::unique_ptr<KavroWindow> win;

    template <class W = QWidget>
    W *control(const QString &name) { return win->findChild<W *>(name); }
    void click(const QString &name) { QTest::mouseClick(control(name), Qt::LeftButton); }

private Q_SLOTS:
    void initTestCase() { prepareApplication(*qApp); }
    void init()
    {
        port = std::make_unique<ScriptedPort>();
        boxes = {};
        dialog.shown = 0;
        win = std::make_unique<KavroWindow>(port.get(), &boxes, &dialog);
        win->show();
        QVERIFY(QTest::qWaitForWindowActive(win.get()));
    }
    void cleanup() { win.reset(); }

    void controls_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("checked"); // -1: no option button
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");
        auto row = [](const char *name, const char *in, QRect r, const QString &caption, int checked = -1,
                      int px = 11, bool bold = false) {
            QTest::newRow(name) << QString(in) << r << caption << checked << px << bold;
        };
        row("Frame1", "", {4800, 3000, 5175, 2175}, "Aufzeichnung");
        row("ProgressBar1", "Frame1", {240, 1800, 4695, 135}, "");
        row("Text1", "Frame1", {240, 1080, 4695, 615}, "Dateiname");
        row("StartRec", "Frame1", {240, 360, 1455, 615}, "Start", -1, 13, true);
        row("Verbind", "", {720, 360, 1335, 615}, "Öffnen", -1, 13, true);
        row("Frame4", "", {120, 3000, 4575, 3735}, "Empfang");
        row("Empfang", "Frame4", {120, 240, 4335, 2895}, "", -1, 13);
        row("clear_empf", "Frame4", {3240, 3240, 1215, 375}, "Inhalt löschen");
        row("Frame3", "", {120, 1320, 9855, 1455}, "Befehlseingabe");
        row("SendWin", "Frame3", {120, 240, 4335, 975}, "");
        row("Frame2", "Frame3", {4560, 240, 3735, 975}, "Abschlusszeichen");
        row("Option1", "Frame2", {120, 240, 1335, 255}, "kein Zeichen", 0);
        row("Option2", "Frame2", {1560, 240, 855, 255}, "nur CR", 1);
        row("Option3", "Frame2", {1560, 480, 855, 255}, "nur LF", 0);
        row("Option4", "Frame2", {2640, 240, 975, 255}, "CR / LF", 0);
        row("Option5", "Frame2", {2640, 480, 975, 255}, "LF / CR", 0);
        row("clear_send", "Frame3", {8400, 840, 1215, 375}, "Befehl löschen");
        row("send_win", "Frame3", {8400, 360, 1215, 375}, "Befehl senden");
        row("Frame5", "", {2160, 120, 7815, 975}, "COM-Port-Parameter");
        row("Baud", "Frame5", {1080, 480, 1095, 315}, "");
        row("Comport", "Frame5", {120, 480, 855, 315}, "");
        row("DataBits", "Frame5", {2280, 240, 1095, 615}, "Datenbits");
        row("sieben", "DataBits", {120, 240, 375, 195}, "7", 0);
        row("acht", "DataBits", {600, 240, 375, 195}, "8", 1);
        row("StopBits", "Frame5", {6600, 240, 1095, 615}, "Stoppbits");
        row("zwei", "StopBits", {600, 240, 375, 195}, "2", 0);
        row("eins", "StopBits", {120, 240, 375, 195}, "1", 1);
        row("Parity", "Frame5", {3480, 240, 3015, 615}, "Parität");
        row("non", "Parity", {120, 240, 855, 195}, "keine", 1);
        row("even", "Parity", {960, 240, 975, 195}, "gerade", 0);
        row("odd", "Parity", {1920, 240, 975, 195}, "ungerade", 0);
        row("Label2", "Frame5", {1080, 255, 1095, 255}, "Baudrate");
        row("Label1", "Frame5", {120, 255, 735, 255}, "ComPort");
        row("Label3", "", {4800, 6480, 5055, 255}, kavroNotice());
        row("Image1", "", {4800, 5280, 5085, 1035}, "");
        row("Shape1", "", {120, 480, 495, 375}, "");
    }
    void controls()
    {
        QFETCH(QString, container);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        QFETCH(int, checked);
        QFETCH(int, pixels);
        QFETCH(bool, bold);
        const auto found = win->findChildren<QWidget *>(QTest::currentDataTag());
        QCOMPARE(found.size(), 1);
        QWidget *w = found.first();
        QCOMPARE(w->parentWidget(), container.isEmpty() ? win.get() : control(container));
        QCOMPARE(w->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
        QCOMPARE(captionOf(w), caption);
        QVERIFY(w->isEnabled() && w->isVisible());
        auto *option = qobject_cast<QRadioButton *>(w);
        QCOMPARE(option ? int(option->isChecked()) : -1, checked);
        QCOMPARE(w->font().pixelSize(), pixels);
        QCOMPARE(w->font().bold(), bold);
        QCOMPARE(QFontInfo(w->font()).family(), QStringLiteral("Liberation Sans"));
        const int advance = w->fontMetrics().horizontalAdvance(caption);
        QVERIFY2(advance <= captionSpace(w), qPrintable(QString("%1 px in %2 px").arg(advance).arg(captionSpace(w))));
    }

    void startState()
    {
        const Form &f = win->form();
        QCOMPARE(f.MSComm1, port.get());
        QCOMPARE(f.boxes, &boxes);
        QCOMPARE(f.capture, static_cast<CaptureSink *>(&win->capture()));
        QCOMPARE(f.RecActive, qint16(0));
        QVERIFY(f.RecFileName.isEmpty());
        for (QObject *o : std::initializer_list<QObject *>{
                 f.Verbind, f.Shape1, f.Frame5, f.Baud, f.Comport, f.even, f.odd, f.non, f.acht, f.sieben, f.eins,
                 f.zwei, f.SendWin, f.Option1, f.Option2, f.Option3, f.Option4, f.Option5, f.Empfang, f.StartRec,
                 f.Text1, f.ProgressBar1, f.Timer1})
            QVERIFY(o && win->findChild<QObject *>(o->objectName()) == o);
        QCOMPARE(f.Timer1->interval(), 50);
        QVERIFY(!f.Timer1->isActive());
        QCOMPARE(f.ProgressBar1->value(), 0);
        QVERIFY(f.Text1->isReadOnly());
        QCOMPARE(f.Text1->palette().color(QPalette::Base), f.Text1->palette().color(QPalette::Window));
        QCOMPARE(control<QLabel>("Image1")->pixmap().size(), QSize(339, 69));
        QCOMPARE(win->windowTitle(), QStringLiteral("T o l m  Kavro V1.00"));
        QCOMPARE(win->windowTitle().size(), 20);
        QCOMPARE(win->size(), QSize(665, 452));
        QVERIFY(win->windowIcon().availableSizes().contains(QSize(16, 16)));
        QVERIFY(win->windowIcon().availableSizes().contains(QSize(32, 32)));
        // The lamp: a red circle 25 pixels across, centred in its 33 by 25 box.
        QCOMPARE(f.Shape1->FillColor(), quint32(255));
        QCOMPARE(f.Shape1->circleRect(), QRect(4, 0, 25, 25));
        const QImage lamp = f.Shape1->grab().toImage();
        QCOMPARE(lamp.pixelColor(16, 12), QColor(255, 0, 0));
        QVERIFY(lamp.pixelColor(1, 12) != QColor(255, 0, 0));
    }

    void combos_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("typed");
        QTest::newRow("Baud") << QStringList{"115200", "19200", "9600", "4800", "2400", "1200", "600", "300"}
                              << "9600" << "1";
        QTest::newRow("Comport") << QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"} << "1" << "12";
    }
    void combos()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, text);
        QFETCH(QString, typed);
        auto *c = control<QComboBox>(QTest::currentDataTag());
        QStringList actual;
        for (int i = 0; i < c->count(); ++i)
            actual << c->itemText(i);
        QCOMPARE(actual, items);
        QCOMPARE(c->currentText(), text);
        // Typed text stays as typed: no completion, no new list entry.
        c->setFocus(Qt::TabFocusReason);
        c->lineEdit()->selectAll();
        QTest::keyClicks(c->lineEdit(), typed);
        QTest::keyClick(c->lineEdit(), Qt::Key_Return);
        QCOMPARE(c->currentText(), typed);
        QCOMPARE(c->count(), items.size());
    }

    void tabOrder_data()
    {
        QTest::addColumn<QString>("select");
        QTest::addColumn<QStringList>("stops");
        const QStringList tail = {"SendWin", "clear_empf", "Empfang", "non", "eins", "acht",
                                  "Comport", "Baud", "Verbind", "StartRec", "send_win"};
        QTest::newRow("at start") << "" << QStringList{"send_win", "clear_send", "Option2"} + tail;
        QTest::newRow("LF / CR chosen") << "Option5" << QStringList{"send_win", "clear_send", "Option5"} + tail;
    }
    void tabOrder()
    {
        QFETCH(QString, select);
        QFETCH(QStringList, stops);
        // The focus chain holds every control that takes the focus, in table order.
        QStringList chain;
        QWidget *w = control("send_win");
        do {
            if (((w->focusPolicy() & Qt::TabFocus) || qobject_cast<QRadioButton *>(w)) && !w->focusProxy())
                chain << w->objectName();
        } while ((w = w->nextInFocusChain()) != control("send_win"));
        QCOMPARE(chain, (QStringList{"send_win", "clear_send", "Option5", "Option4", "Option3", "Option2",
                                     "Option1", "SendWin", "clear_empf", "Empfang", "odd", "even", "non", "eins",
                                     "zwei", "acht", "sieben", "Comport", "Baud", "Verbind", "StartRec"}));
        QCOMPARE(QApplication::focusWidget(), control("send_win"));
        if (!select.isEmpty()) {
            click(select);
            control("send_win")->setFocus(Qt::OtherFocusReason);
        }
        // Tab stops once per option group, on the selected button; Text1 never.
        for (qsizetype i = 1; i < stops.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), stops[i]);
        }
        for (qsizetype i = stops.size() - 2; i >= 0; --i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
            QCOMPARE(QApplication::focusWidget()->objectName(), stops[i]);
        }
    }

    void optionGroups_data()
    {
        QTest::addColumn<QString>("pick");
        QTest::addColumn<QStringList>("selected");
        QTest::newRow("terminator") << "Option4" << QStringList{"Option4", "acht", "eins", "non"};
        QTest::newRow("data bits") << "sieben" << QStringList{"Option2", "sieben", "eins", "non"};
        QTest::newRow("stop bits") << "zwei" << QStringList{"Option2", "acht", "zwei", "non"};
        QTest::newRow("parity") << "odd" << QStringList{"Option2", "acht", "eins", "odd"};
    }
    void optionGroups()
    {
        QFETCH(QString, pick);
        QFETCH(QStringList, selected);
        click(pick);
        QStringList actual;
        for (QRadioButton *o : win->findChildren<QRadioButton *>())
            if (o->isChecked())
                actual << o->objectName();
        QCOMPARE(actual, selected);
    }

    void resizeMovesNothing_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("larger") << QSize(1000, 800);
        QTest::newRow("smaller") << QSize(300, 200);
    }
    void resizeMovesNothing()
    {
        QFETCH(QSize, size);
        QHash<QWidget *, QRect> before;
        for (QWidget *w : win->findChildren<QWidget *>())
            before.insert(w, w->geometry());
        win->resize(size);
        QCoreApplication::processEvents();
        QCOMPARE(win->size(), size);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(it.key()->geometry() == it.value(), qPrintable(it.key()->objectName()));
    }

    void unload_data()
    {
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<bool>("captureOpen");
        QTest::addColumn<int>("closeFailure");
        QTest::newRow("nothing open") << false << false << 0;
        QTest::newRow("port open") << true << false << 0;
        QTest::newRow("port and capture open") << true << true << 0;
        QTest::newRow("port fails to close") << true << false << int(Err::PortIo);
    }
    void unload()
    {
        QFETCH(bool, portOpen);
        QFETCH(bool, captureOpen);
        QFETCH(int, closeFailure);
        Form &f = win->form();
        QTemporaryDir dir;
        port->open = portOpen;
        port->closeFailure = closeFailure;
        if (captureOpen) {
            win->capture().files().openAppend(1, dir.filePath("cap.txt"));
            f.RecActive = -1;
            f.StartRec->setText("Stopp");
        }
        QVERIFY(win->close());
        QVERIFY(!win->isVisible());
        QCOMPARE(port->calls, portOpen ? QStringList{"close"} : QStringList{});
        QVERIFY(!win->capture().files().isOpen(1));
        // Nothing on the window changes.
        QCOMPARE(f.RecActive, qint16(captureOpen ? -1 : 0));
        QCOMPARE(f.StartRec->text(), captureOpen ? "Stopp" : "Start");
        QCOMPARE(f.Verbind->text(), "Öffnen");
        QCOMPARE(f.Shape1->FillColor(), quint32(255));
        QCOMPARE(boxes.texts.size(), closeFailure ? 1 : 0);
        if (closeFailure)
            QVERIFY(boxes.texts.first().startsWith(QString("Fehler %1").arg(closeFailure)));
    }

    void messageBox_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QString>("press"); // empty: Escape
        QTest::addColumn<int>("answer");
        QTest::newRow("ok") << int(MessageBoxes::Ok) << "OK" << int(MessageBoxes::AnswerOk);
        QTest::newRow("yes") << int(MessageBoxes::YesNo) << "Ja" << int(MessageBoxes::AnswerYes);
        QTest::newRow("no") << int(MessageBoxes::YesNo) << "Nein" << int(MessageBoxes::AnswerNo);
        QTest::newRow("escape") << int(MessageBoxes::YesNo) << "" << int(MessageBoxes::AnswerNo);
    }
    void messageBox()
    {
        QFETCH(int, buttons);
        QFETCH(QString, press);
        QFETCH(int, answer);
        QStringList seen;
        QString body;
        std::function<void()> answerBox = [&] {
            QMessageBox *box = nullptr;
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->isVisible() && qobject_cast<QMessageBox *>(w))
                    box = static_cast<QMessageBox *>(w);
            if (!box)
                return QTimer::singleShot(10, answerBox);
            body = box->text();
            seen << box->defaultButton()->text();
            for (QAbstractButton *b : box->buttons())
                seen << b->text();
            for (QAbstractButton *b : box->buttons())
                if (b->text() == press)
                    return b->click();
            QTest::keyClick(box, Qt::Key_Escape);
        };
        QTimer::singleShot(0, answerBox);
        QtMessageBoxes qtBoxes(win.get());
        QCOMPARE(int(qtBoxes.show("eins\rzwei\r\ndrei", "Kavro", MessageBoxes::Buttons(buttons),
                                  MessageBoxes::Question)),
                 answer);
        QCOMPARE(body, "eins\nzwei\ndrei");
        // The default button first, then all of them.
        std::sort(seen.begin() + 1, seen.end());
        QCOMPARE(seen, (buttons == MessageBoxes::Ok ? QStringList{"OK", "OK"} : QStringList{"Ja", "Ja", "Nein"}));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
