// The terminal window on a scripted port: its look, option groups,
// opening and closing the port, clearing the view, closing the window;
// starting and stopping a capture, what the start does on disk, the file
// dialog, the activity bar; the Qt message box and the error reporter.

#include "fakes.h"
#include "kavrosettings.h"
#include "qtcommondialog.h"
#include "qtmessageboxes.h"
#include "startup.h"
#include "support.h"

#include <QScopeGuard>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString captionOf(QWidget *w)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *e = qobject_cast<QPlainTextEdit *>(w))
        return e->toPlainText();
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
        return g->width() -
               g->style()
                   ->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxLabel, g)
                   .left();
    }
    if (auto *e = qobject_cast<QPlainTextEdit *>(w))
        return e->viewport()->width() - 2 * int(e->document()->documentMargin());
    return w->contentsRect().width();
}

// Makes a file or folder immutable, so that even root may not delete it or
// create files in it. Returns false where the file system has no such flag.
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Rig> rig;
    FakePort *port = nullptr;
    Rig::Controls *f = nullptr;
    QWidget *control(const QString &name) { return rig->control(name); }
    void click(const QString &name) { QTest::mouseClick(control(name), Qt::LeftButton); }
    QString path(const QString &name) const { return dir->filePath(name); }

private Q_SLOTS:
    void initTestCase() { prepareApplication(*qApp); }
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        rig = std::make_unique<Rig>(port = new FakePort);
        f = &rig->f;
        rig->window.show();
        QVERIFY(QTest::qWaitForWindowActive(&rig->window));
    }

    void cleanup() { rig.reset(); }

    // Every control of the window: its caption fits its box in the window's
    // type face, and a larger window moves nothing. The pictures are there,
    // the file name may not be edited, the lamp paints its colour.
    void look()
    {
        const auto controls = rig->window.findChildren<QWidget *>();
        QList<QRect> before;
        for (QWidget *w : controls)
            before.append(w->geometry());
        rig->window.resize(1000, 800);
        QCoreApplication::processEvents();
        int captions = 0;
        for (qsizetype i = 0; i < controls.size(); ++i) {
            QWidget *w = controls[i];
            QCOMPARE(w->geometry(), before[i]);
            const QString caption = captionOf(w);
            if (caption.isEmpty())
                continue;
            ++captions;
            QCOMPARE(QFontInfo(w->font()).family(), QStringLiteral("Liberation Sans"));
            const int advance = w->fontMetrics().horizontalAdvance(caption);
            QVERIFY2(advance <= captionSpace(w), qPrintable(w->objectName()));
        }
        QVERIFY(captions >= 27);
        QVERIFY(f->Text1->isReadOnly());
        QCOMPARE(rig->control<QLabel>("Image1")->pixmap().size(), QSize(339, 69));
        QVERIFY(rig->window.windowIcon().availableSizes().contains(QSize(16, 16)));
        // The lamp: a red circle, centred in its box.
        const QImage lamp = f->Shape1->grab().toImage();
        QCOMPARE(lamp.pixelColor(16, 12), QColor(255, 0, 0));
        QVERIFY(lamp.pixelColor(1, 12) != QColor(255, 0, 0));
    }

    void combos_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("Baud") << QString("1");
        QTest::newRow("Comport") << QString("12");
    }
    void combos()
    {
        QFETCH(QString, typed);
        auto *c = rig->control<QComboBox>(QTest::currentDataTag());
        const int count = c->count();
        // Typed text stays as typed: no completion ("1" would become
        // "115200"), no new list entry.
        c->setFocus(Qt::TabFocusReason);
        c->lineEdit()->selectAll();
        QTest::keyClicks(c->lineEdit(), typed);
        QTest::keyClick(c->lineEdit(), Qt::Key_Return);
        QCOMPARE(c->currentText(), typed);
        QCOMPARE(c->count(), count);
    }

    // A pick clears the other options of its own group only.
    void optionGroups()
    {
        const QStringList picks{"Option5", "sieben", "zwei", "odd"};
        for (const QString &pick : picks)
            click(pick);
        QStringList checked;
        for (QRadioButton *o : rig->window.findChildren<QRadioButton *>())
            if (o->isChecked())
                checked << o->objectName();
        QCOMPARE(checked, picks);
    }

    void open_data()
    {
        QTest::addColumn<QString>("comport");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("options"); // picked besides the start-up ones
        QTest::addColumn<int>("failWith");    // what the last call fails with; 0: none
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("message"); // empty: none
        QTest::addColumn<QString>("reason");  // in the lamp's tooltip; empty: not checked
        auto row = [](const char *name, const char *comport, const char *baud, const char *options,
                      int port, const QString &settings, int reached = 3, int failWith = 0,
                      const char *message = "", const QString &reason = {}) {
            const QStringList calls{QString("CommPort=%1").arg(port), "Settings=" + settings,
                                    "PortOpen=true"};
            QTest::newRow(name) << comport << baud << options << failWith << calls.first(reached)
                                << message << reason;
        };
        row("even, 7, 2", "2", "19200", "even sieben zwei", 2, "19200,e,7,2");
        row("odd, 8, 2", "10", "115200", "odd zwei", 10, "115200,o,8,2");
        row("baud with its blank, port trimmed", " 3 ", " 300", "", 3, " 300,n,8,1");
        row("port with sign", "+7", "9600", "", 7, "9600,n,8,1");
        row("in use", " 3 ", "9600", "", 3, "9600,n,8,1", 3, 8005,
            " Com 3 ist bereits von einem anderen Programm geöffnet!", errorDescription(8005));
        row("does not exist", "12", "9600", "", 12, "9600,n,8,1", 3, 8002,
            " Com 12 existiert nicht!");
        row("number refused by the port", "-1", "9600", "", -1, "", 1, 8002,
            " Com -1 existiert nicht!");
        row("settings refused", "1", "9600", "", 1, "9600,n,8,1", 2, 380);
        row("permission denied, no box", "1", "9600", "", 1, "9600,n,8,1", 3, 8015, "",
            errorDescription(8015));
        // A port text that does not convert never reaches the port: blanks
        // only around the number, one sign, decimal ASCII digits.
        row("no number", "COM1", "9600", "", 0, "", 0, 0, "", "„COM1“ ist keine Portnummer");
        row("out of range", "70000", "9600", "", 0, "", 0, 0, "",
            "Die Portnummer 70000 liegt außerhalb von -32768 bis 32767");
        for (const char *text : {"", "1 2", "+-1", "0x10", "\u0663"})
            row(*text ? text : "empty port text", text, "9600", "", 0, "", 0);
    }
    void open()
    {
        QFETCH(QString, comport);
        QFETCH(QString, baud);
        QFETCH(QString, options);
        QFETCH(int, failWith);
        QFETCH(QStringList, calls);
        QFETCH(QString, message);
        QFETCH(QString, reason);
        // Something is on show from an earlier session: a failed open keeps it.
        f->Verbind->click();
        port->receive("old");
        f->Verbind->click();
        port->calls.clear();
        f->Comport->setEditText(comport);
        f->Baud->setEditText(baud);
        for (const QString &o : options.split(' ', Qt::SkipEmptyParts))
            rig->control<QRadioButton>(o)->setChecked(true);
        port->failAt = failWith ? calls.size() - 1 : -1;
        port->failWith = failWith;
        f->Verbind->click();
        QCOMPARE(port->calls, calls);
        const bool opened = failWith == 0 && calls.size() == 3;
        QCOMPARE(f->Verbind->text(), opened ? "Schließen" : "Öffnen");
        QCOMPARE(rig->lamp(), opened ? 65280u : 255u);
        QCOMPARE(f->Frame5->isEnabled(), !opened);
        QCOMPARE(f->Empfang->text(), opened ? "" : "old");
        QCOMPARE(rig->boxes.shown.join(""),
                 message.isEmpty() ? "" : "Comportfehler|Information|Ok|" + message);
        if (opened)
            return;
        // Why it failed stays readable without a dialog, in the lamp's
        // tooltip, until the next opening that works takes it away.
        if (!reason.isEmpty())
            QCOMPARE(shownToolTip(f->Shape1), "Öffnen fehlgeschlagen: " + reason);
        port->failAt = -1;
        f->Comport->setEditText("2");
        f->Verbind->click();
        QCOMPARE(rig->lamp(), Lamp::Green);
        QVERIFY2(shownToolTip(f->Shape1).startsWith("Ausgänge: "),
                 qPrintable(shownToolTip(f->Shape1)));
    }

    // A close the port refuses keeps the open look, without a word.
    void refusedClose()
    {
        f->Verbind->click();
        port->failAt = port->calls.size(); // the next call
        port->failWith = Err::PortIo;
        f->Verbind->click();
        QCOMPARE(f->Verbind->text(), QStringLiteral("Schließen"));
        QCOMPARE(rig->lamp(), 65280u);
        QVERIFY(rig->boxes.shown.isEmpty());
    }

    // Clearing the view, or closing and opening again, empties it; only
    // clearing keeps a line end half seen.
    void clearView_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QByteArray>("view");
        QTest::addColumn<bool>("reopen");
        auto row = [](const char *name, QByteArray before, QByteArray after, QByteArray view,
                      bool reopen = false) {
            QTest::newRow(name) << before << after << view << reopen;
        };
        row("in the middle of a line", "A\r\nBC", "D", "D");
        row("after a line break, the LF is still swallowed", "A\r", "\nB", "B");
        row("after a pair, a CR breaks again", "A\r\n", "\rB", "\r\nB");
        row("old lines never come back", "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n", "z", "z");
        row("reopening forgets a line end half seen", "A\r", "\nC", "\r\nC", true);
    }
    void clearView()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, view);
        QFETCH(bool, reopen);
        f->Verbind->click();
        port->receive(before);
        if (reopen) {
            f->Verbind->click();
            f->Verbind->click();
        } else {
            click("clear_empf");
        }
        QCOMPARE(f->Empfang->textBytes(), QByteArray());
        port->receive(after);
        QCOMPARE(f->Empfang->textBytes(), view);
    }

    // Closing the window closes the port and tells when that fails (closing
    // with the port and a capture open is tst_terminal's signal test).
    void unload_data()
    {
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<int>("closeFailure");
        QTest::newRow("nothing open") << false << 0;
        QTest::newRow("port fails to close") << true << int(Err::PortIo);
    }
    void unload()
    {
        QFETCH(bool, portOpen);
        QFETCH(int, closeFailure);
        port->setPortOpen(portOpen);
        QVERIFY(rig->startCapture(path("cap.txt")));
        port->calls.clear();
        port->failAt = closeFailure ? 0 : -1;
        port->failWith = closeFailure;
        QVERIFY(rig->window.close());
        QCOMPARE(port->calls, portOpen ? QStringList{"PortOpen=false"} : QStringList{});
        QVERIFY(closeFailure ? rig->boxes.toldOnly(8020) : rig->boxes.shown.isEmpty());
        // The capture file is closed even when the port is not.
        QVERIFY(!rig->window.capture().files().isOpen(1));
    }

    void start_data()
    {
        QTest::addColumn<QString>("target"); // what the chosen name is
        QTest::addColumn<int>("answer");     // to the question; 0: the dialog is cancelled
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("failure"); // told when the start fails on the file; -1: started
        QTest::newRow("new file, no question") << "new" << 6 << false << -1;
        QTest::newRow("existing file, Yes") << "file" << 6 << true << -1;
        QTest::newRow("existing file, No") << "file" << 7 << true << 0;
        QTest::newRow("existing empty file is asked about too") << "empty" << 6 << true << -1;
        QTest::newRow("cancel") << "file" << 0 << false << 0;
        QTest::newRow("file that may not be deleted") << "immutable file" << 6 << true << 70;
        QTest::newRow("folder where no file may be created")
            << "immutable folder" << 6 << false << 70;
        QTest::newRow("folder that does not exist") << "missing folder" << 6 << false << 76;
        // For root the dialog may hand back a device node; a named pipe stands in.
        QTest::newRow("no plain file") << "fifo" << 6 << true << 75;
        QTest::newRow("a link is never deleted") << "link" << 6 << true << 75;
        QTest::newRow("a file another capture writes") << "locked" << 6 << true << 70;
    }
    void start()
    {
        QFETCH(QString, target);
        QFETCH(int, answer);
        QFETCH(bool, asked);
        QFETCH(int, failure);
        const QString name = path("log.txt");
        const QString file = target.endsWith("folder") ? name + "/new.txt" : name;
        FileNumbers other;
        if (target == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(name).constData(), 0600), 0);
        else if (target == "link")
            QVERIFY(writeFile(path("real.txt"), "old") && QFile::link(path("real.txt"), name));
        else if (target == "immutable folder")
            QVERIFY(QDir().mkdir(name));
        else if (target != "new" && target != "missing folder")
            QVERIFY(writeFile(name, target == "empty" ? "" : "old"));
        if (target == "locked")
            other.openAppend(1, name);
        if (target.startsWith("immutable") && !setImmutable(name, true))
            QSKIP("this file system has no immutable flag");
        const auto undo = qScopeGuard([&] { setImmutable(name, false); });
        const auto state = [&](const QString &p) { // what is there, without opening a pipe
            const QFileInfo i(p);
            return i.isFile() ? contentOf(p)
                              : QByteArray(i.isDir()    ? "<folder>"
                                           : i.exists() ? "<other>"
                                                        : "<none>");
        };
        const QByteArray before = state(name) + state(file);
        f->ProgressBar1->setValue(42);
        rig->dialog.choices = {answer ? file : QString()};
        rig->boxes.answers = {MessageBoxes::Answer(answer)};
        f->StartRec->click();
        QCOMPARE(f->ProgressBar1->value(), 0);
        QStringList shown;
        if (asked)
            shown << "Aufzeichnungsdatei|Question|YesNo|Die Datei existiert bereits!\rSoll " +
                         file + " überschrieben werden?";
        if (failure > 0) // said once, with the file and then the reason
            shown << QString("Kavro|Critical|Ok|Fehler %1: Die Aufzeichnung kann nicht beginnen: "
                             "„%2“: ")
                         .arg(failure)
                         .arg(file);
        const QString said = rig->boxes.shown.join('\n'), expected = shown.join('\n');
        QVERIFY2(rig->boxes.shown.size() == shown.size() &&
                     (failure > 0 ? said.startsWith(expected) : said == expected),
                 qPrintable(said));
        if (failure >= 0) {
            QCOMPARE(state(name) + state(file), before); // nothing touched
            QVERIFY(rig->captureStopped());
            return;
        }
        QCOMPARE(contentOf(file), QByteArray());
        QCOMPARE(f->Text1->toPlainText(), file);
        QCOMPARE(f->StartRec->text(), QStringLiteral("Stopp"));
        QVERIFY(rig->window.capture().files().isOpen(1));
        // The timer drives the bar, which starts over after its end.
        QTRY_VERIFY(f->ProgressBar1->value() >= 1);
        f->Timer1->stop();
        while (f->ProgressBar1->value() < 100)
            rig->window.capture().Timer1_Timer();
        rig->window.capture().Timer1_Timer();
        QCOMPARE(f->ProgressBar1->value(), 1);
        f->StartRec->click(); // stop
        QVERIFY(rig->captureStopped());
    }

    // A capture file deleted or replaced from outside takes everything after
    // it out of sight: told once at the next write, and the capture stops.
    void captureFileTakenAway_data()
    {
        QTest::addColumn<bool>("replaced");
        QTest::newRow("deleted") << false;
        QTest::newRow("replaced by a new file") << true;
    }
    void captureFileTakenAway()
    {
        QFETCH(bool, replaced);
        f->Verbind->click();
        QVERIFY(rig->startCapture(path("cap.txt")));
        port->receive("before");
        QCOMPARE(contentOf(path("cap.txt")), QByteArray("before"));
        QVERIFY(QFile::remove(path("cap.txt")));
        if (replaced)
            QVERIFY(writeFile(path("cap.txt"), "someone else's"));
        port->receive("after");
        QTRY_COMPARE(rig->boxes.shown.size(), 1); // shown once the receive event is over
        QVERIFY2(rig->boxes.toldOnly(53, "Die Aufzeichnungsdatei „" + path("cap.txt")),
                 qPrintable(rig->boxes.shown[0]));
        QVERIFY(rig->captureStopped());
        port->receive("more");
        QCoreApplication::processEvents();
        QCOMPARE(rig->boxes.shown.size(), 1);
        QCOMPARE(contentOf(path("cap.txt")),
                 replaced ? QByteArray("someone else's") : QByteArray("<missing>"));
    }

    // Stopping stops the bar before the file is closed; a close that fails
    // is told and leaves nothing running.
    void stopWhoseCloseFails()
    {
        QVERIFY(rig->startCapture(path("cap.txt")));
        const FileSizeLimit full(10);
        QVERIFY(full.ok());
        rig->window.capture().write("more than ten bytes, still in the buffer");
        f->StartRec->click();
        QVERIFY(rig->captureStopped());
        QVERIFY2(rig->boxes.toldOnly(61, "Die Aufzeichnungsdatei „"),
                 qPrintable(rig->boxes.shown.join('\n')));
    }

    void realDialog()
    {
        // A new name typed without extension is accepted and gets "txt"; the
        // next time the dialog starts from that name; cancel fails with 32755.
        QtCommonDialog real(nullptr);
        rig = std::make_unique<Rig>(port = new FakePort, &real);
        f = &rig->f;
        QString preselected;
        auto answer = [&](bool accept) {
            QTimer::singleShot(0, &rig->window, [&, accept] {
                auto *d = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                QVERIFY(d);
                preselected = d->selectedFiles().value(0);
                if (!accept)
                    return d->reject();
                d->setDirectory(dir->path());
                d->selectFile("neu");
                QMetaObject::invokeMethod(d, "accept");
            });
        };
        answer(true);
        f->StartRec->click();
        QCOMPARE(rig->window.capture().recFileName(), path("neu.txt"));
        QCOMPARE(rig->recActive(), qint16(-1));
        f->StartRec->click(); // stop
        answer(false);
        QCOMPARE(errorOf([&] { real.ShowOpen(); }), int(Err::Cancelled));
        QCOMPARE(preselected, path("neu.txt"));
        QCOMPARE(real.FileName, path("neu.txt"));
        rig.reset(); // before the dialog goes
    }

    // The Qt box: its buttons, Escape for "Nein", and the program's line ends
    // as the box shows them.
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
        QString body, clicked;
        std::function<void()> answerBox = [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return QTimer::singleShot(10, answerBox);
            body = box->text();
            QAbstractButton *pressed = nullptr;
            for (QAbstractButton *b : box->buttons())
                pressed = b->text() == press ? b : pressed;
            clicked = pressed ? pressed->text() : QString();
            pressed ? pressed->click() : QTest::keyClick(box, Qt::Key_Escape);
        };
        QTimer::singleShot(0, answerBox);
        QtMessageBoxes qtBoxes(&rig->window);
        QCOMPARE(int(qtBoxes.show("eins\rzwei\r\ndrei", "Kavro", MessageBoxes::Buttons(buttons),
                                  MessageBoxes::Question)),
                 answer);
        QCOMPARE(clicked, press); // every button is found by its caption
        QCOMPARE(body, "eins\nzwei\ndrei");
    }

    // "Bytes einfügen…": a paste of any length is taken whole, or refused
    // with the count and the limit named; the dialog stays on the screen and
    // its message is shown whole below the field, however long the paste.
    void bytesDialog_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes"); // empty: refused
        QTest::addColumn<QString>("message");
        const QString tooMany = "Das sind %1 Bytes; auf einmal lassen sich höchstens 65.536 Bytes "
                                "einfügen.";
        QTest::newRow("a megabyte of 1B5B")
            << QString("1B5B ").repeated(209'715) << QByteArray() << tooMany.arg("419.430");
        QTest::newRow("a megabyte of 1B 1B")
            << QString("1B ").repeated(349'525) << QByteArray() << tooMany.arg("349.525");
        QTest::newRow("a megabyte run together, one digit short")
            << QString("1b").repeated(524'287) + "1" << QByteArray()
            << "„1b1b1b1b1b1b\u2026“ hat eine ungerade Zahl von Ziffern: jedes Byte besteht aus "
               "zwei Hexziffern, z. B. „0D“ statt „D“.";
        QTest::newRow("the most, far beyond a line edit's own limit")
            << QString("1B5B ").repeated(32'768) << QByteArray("\x1b[").repeated(32'768)
            << "65.536 Bytes";
    }
    void bytesDialog()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        BytesDialog dialog(&rig->window);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QApplication::clipboard()->setText(text);
        dialog.field()->paste();
        QCOMPARE(dialog.message(), message);
        QCOMPARE(dialog.acceptable(), !bytes.isEmpty());
        QCOMPARE(dialog.bytes().value_or(QByteArray()), bytes);
        QCoreApplication::processEvents();
        QVERIFY(dialog.screen()->availableGeometry().contains(dialog.frameGeometry()));
        QLabel *shown = nullptr;
        for (QLabel *l : dialog.findChildren<QLabel *>())
            shown = l->text() == message ? l : shown;
        QVERIFY(shown);
        QVERIFY(shown->height() >= shown->heightForWidth(shown->width()));
        QVERIFY(shown->geometry().top() >= dialog.field()->geometry().bottom());
        QVERIFY(dialog.rect().contains(shown->geometry()));
    }

    // A settings file far larger than Kavro writes is set aside: the operator
    // is told once the window is up, the run starts with the defaults, and a
    // choice made meanwhile holds for the run without touching the file.
    void oversizedSettingsFile_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("at the limit: used") << KavroSettings::LargestFile;
        QTest::newRow("one byte more: set aside") << KavroSettings::LargestFile + 1;
    }
    void oversizedSettingsFile()
    {
        QFETCH(qint64, size);
        const bool aside = size > KavroSettings::LargestFile;
        const QString folder =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/kavro";
        const QString conf = folder + "/kavro.conf";
        QVERIFY(QDir().mkpath(folder));
        QByteArray content = "[Empfang]\nFarben=true\n[Fuellung]\nx=";
        content += QByteArray(size - content.size() - 1, 'x') + '\n';
        QVERIFY(writeFile(conf, content));
        const auto removeConf = qScopeGuard([&] { QFile::remove(conf); });
        rig = std::make_unique<Rig>(port = new FakePort);
        f = &rig->f;
        reportSettingsFile(rig->window.reporter());
        QCOMPARE(f->Empfang->decoding().colours, !aside);
        if (aside)
            QTRY_VERIFY2(rig->boxes.toldOnly(
                             75, "Die Einstellungsdatei " + conf +
                                     " ist 1.048.577 Bytes groß, weit mehr als die höchstens "
                                     "1.048.576 Bytes, die Kavro liest. Kavro beginnt mit den "
                                     "Grundeinstellungen und lässt die Datei in diesem Lauf "
                                     "unberührt."),
                         qPrintable(rig->boxes.shown.join('\n')));
        QCoreApplication::processEvents();
        QCOMPARE(rig->boxes.shown.size(), aside ? 1 : 0);
        if (!aside)
            return;
        f->Empfang->setDecoding({Charset::Utf8, false});
        QCOMPARE(ReceiveView().decoding(), (DecodeOptions{Charset::Utf8, false}));
        QVERIFY(contentOf(conf) == content);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"kavro.conf"});
    }

    // A failure while the box of another one is open is shown after it, once;
    // a failure that is no numbered one is shown as an internal one; nothing
    // gets past the reporter into the event loop.
    void errorReporter()
    {
        ErrorReporter &reporter = rig->window.reporter();
        int opened = 0;
        rig->boxes.whileShown = [&] {
            if (opened++ == 0) // the operator clicks on while reading the first
                reporter.run([] { raiseError(Err::PortIo); });
        };
        reporter.run([] { raiseError(Err::PortGone); });
        reporter.run([] { throw std::runtime_error("kaputt"); });
        reporter.run([] { throw 42; }, ErrorReporter::Show::FromEventLoop);
        QCOMPARE(rig->boxes.shown.size(), 3);
        QTRY_COMPARE(rig->boxes.shown.size(), 4);
        const QString prefix = "Kavro|Critical|Ok|Fehler ";
        QCOMPARE(rig->boxes.shown, (QStringList{prefix + "8021: " + errorDescription(Err::PortGone),
                                                prefix + "8020: " + errorDescription(Err::PortIo),
                                                prefix + "51: Interner Fehler: kaputt",
                                                prefix + "51: Interner Fehler"}));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
