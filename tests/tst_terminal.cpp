// The terminal end to end: the real window and port layer, a pseudo-terminal's
// master as the far end, linked as port 5 in a temporary folder.

#include "devicereturn.h"
#include "deviceserialport.h"
#include "fakes.h"
#include "historyview.h"
#include "historywindow.h"
#include "startup.h"
#include "support.h"

#include <QSerialPort>

#include <list>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// Whether this process still has a descriptor on the device.
static bool holds(const QString &device)
{
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        if (fd.symLinkTarget().section(u' ', 0, 0) == device) // "/dev/pts/3 (deleted)"
            return true;
    return false;
}

class TestTerminal : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> links; // also holds the capture file
    std::unique_ptr<FarEnd> pty;
    std::unique_ptr<Rig> rig;
    Rig::Controls *f = nullptr;
    QStringList m_system; // what the system reports as its serial ports

    bool startCapture() { return rig->startCapture(links->filePath("capture.txt")); }
    QByteArray captured() const { return contentOf(links->filePath("capture.txt")); }
    // The device goes away. The port lets go at once, so that the system can
    // give the name out again, and waits: the lamp amber.
    bool vanish()
    {
        const QString slave = pty->slavePath();
        pty->closeSlave();
        pty->closeMaster();
        return QTest::qWaitFor([&] { return rig->lamp() == Lamp::Amber && !holds(slave); });
    }

private Q_SLOTS:
    void init()
    {
        rig.reset(); // a run whose start failed left its window
        links = std::make_unique<QTemporaryDir>();
        pty = std::make_unique<FarEnd>();
        QVERIFY(pty->isValid());
        QVERIFY(QFile::link(pty->slavePath(), links->filePath("com5")));
        // Only this test's own pseudo-terminal is reachable: no system ports.
        m_system.clear();
        auto *port = new DeviceSerialPort(
            {PortMap(links->path(), [this] { return m_system; }), {links->path()}});
        rig = std::make_unique<Rig>(port);
        f = &rig->f;
        f->Comport->setEditText("5");
        f->Verbind->click();
        QVERIFY2(rig->lamp() == Lamp::Green, qPrintable(rig->boxes.shown.join('\n')));
    }

    void cleanup()
    {
        rig.reset();
        pty.reset();
        links.reset();
    }

    // What the operator typed or pasted goes out exactly, with the terminator
    // the option picks instead of the line ends at its end: Enter and
    // Shift+Enter make CR LF, a pasted CR or LF stays itself, a megabyte
    // without a break neither freezes the box nor changes (its cost is
    // measured in bench/). Control characters from the menu and bytes typed
    // in hex go out as those very bytes. The box keeps the command; a closed
    // port sends nothing.
    void commandGoesOutAsEntered_data()
    {
        QTest::addColumn<QString>("option");
        // "type:…", "paste:…", "menu:…" (the context menu), "hex:…", "enter",
        // "shift+enter", "close"
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QByteArray>("sent");
        auto row = [](const char *name, const char *option, const QStringList &steps,
                      const QByteArray &sent) { QTest::newRow(name) << option << steps << sent; };
        row("CR / LF", "Option4", {"paste:AT+X?\r\n"}, "AT+X?\r\n");
        row("closed port sends nothing", "Option2", {"paste:AT+X?\r\n", "close"}, "");
        row("Enter, Windows-1252 umlaut and quotes", "Option3",
            {"type:A", "enter", "type:B\u00e4\u201e", "shift+enter", "type:C", "enter"},
            "A\r\nB\xe4\x84\r\nC\n");
        row("pasted LF, CR, LF CR and CR LF, then typed", "Option3",
            {"paste:1\n2\r3\n\r4\r\n5", "type:6"}, "1\n2\r3\n\r4\r\n56\n");
        row("pasted line ends at the end are stripped", "Option3", {"paste:AT\r\r\n"}, "AT\n");
        row("kein Zeichen, a blank before the line end kept", "Option1", {"paste:AT \r\n"}, "AT ");
        row("nur CR, empty command", "Option2", {}, "\r");
        row("LF / CR, only line ends", "Option5", {"paste:\r\n\n\r"}, "\n\r");
        row("control characters and hex bytes", "Option2",
            {"type:A", "menu:Steuerzeichen einfügen/ETX (Strg+C)", "hex:1b5b41 00 0d 81 FF",
             "type:B"},
            QByteArray("A\x03\x1b[A\0\r\x81\xff"
                       "B\r",
                       11));
        row("a megabyte", "Option1", {"paste:" + QString(1'000'000, u'x'), "type:y"},
            QByteArray(1'000'000, 'x') + 'y');
    }
    void commandGoesOutAsEntered()
    {
        QFETCH(QString, option);
        QFETCH(QStringList, steps);
        QFETCH(QByteArray, sent);
        rig->control<QRadioButton>(option)->setChecked(true);
        f->SendWin->setFocus();
        for (const QString &step : steps) {
            const QString arg = step.section(u':', 1);
            if (step.startsWith("type:")) {
                for (const QChar c : arg) { // as a keyboard delivers it
                    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
                    QApplication::sendEvent(f->SendWin, &key);
                }
            } else if (step.startsWith("paste:")) {
                QApplication::clipboard()->setText(arg);
                f->SendWin->paste();
            } else if (step.startsWith("menu:") || step.startsWith("hex:")) {
                const bool hex = step.startsWith("hex:");
                FakeBytesPrompt prompt;
                prompt.answer = QByteArray::fromHex(arg.toLatin1());
                f->SendWin->setBytesPrompt(&prompt);
                std::unique_ptr<QMenu> menu(f->SendWin->createContextMenu());
                menuEntry(menu.get(), hex ? QStringLiteral("Bytes einfügen…") : arg)->trigger();
                f->SendWin->setBytesPrompt(nullptr);
            } else if (step == "close") {
                f->Verbind->click();
            } else {
                QTest::keyClick(f->SendWin, Qt::Key_Return,
                                step == "enter" ? Qt::NoModifier : Qt::ShiftModifier);
            }
        }
        const QString command = f->SendWin->text();
        rig->control<QPushButton>("send_win")->click();
        QCOMPARE(receiveWhileRunning(*pty, sent.size()), sent);
        QCOMPARE(f->SendWin->text(), command);
        QVERIFY(rig->boxes.shown.isEmpty());
    }

    // The device vanishes while open (a board reset, an adapter pulled) and
    // comes back as a new pseudo-terminal that the link is pointed at, as
    // udev points a by-id link at the adapter's new name.
    void deviceComesBack_data()
    {
        QTest::addColumn<QString>("meanwhile"); // what the operator or another program does
        QTest::newRow("nothing: view and capture go on") << "";
        QTest::newRow("a send is refused and not kept") << "send";
        QTest::newRow("another program takes it first") << "taken";
        QTest::newRow("Schließen ends the wait") << "close";
        QTest::newRow("closing the window ends the wait") << "unload";
    }
    void deviceComesBack()
    {
        QFETCH(QString, meanwhile);
        QVERIFY(startCapture());
        QVERIFY(pty->send("before\r\n"));
        QTRY_COMPARE(captured(), QByteArray("before\r\n"));
        QVERIFY(vanish());
        QVERIFY2(f->Shape1->toolTip().contains("wartet"), qPrintable(f->Shape1->toolTip()));
        QCOMPARE(f->Verbind->text(), QStringLiteral("Schließen"));
        QVERIFY(!f->Frame5->isEnabled());

        if (meanwhile == "send") {
            rig->send("RESET");
            QVERIFY2(rig->boxes.toldOnly(8021), qPrintable(rig->boxes.shown.join('\n')));
        } else if (meanwhile == "close") {
            f->Verbind->click();
            QCOMPARE(rig->lamp(), Lamp::Red);
            QCOMPARE(f->Verbind->text(), QStringLiteral("Öffnen"));
        } else if (meanwhile == "unload") {
            rig->window.close();
            QVERIFY(!rig->window.port().PortOpen());
        }

        FarEnd back;
        // Another program, one that named itself like markup, holds it by flock.
        pid_t holder = 0;
        const auto release = qScopeGuard([&] {
            if (holder > 0 && ::kill(holder, SIGKILL) == 0)
                ::waitpid(holder, nullptr, 0);
        });
        if (meanwhile == "taken") {
            int ready[2];
            QCOMPARE(::pipe(ready), 0);
            const QByteArray slave = QFile::encodeName(back.slavePath());
            if ((holder = ::fork()) == 0) {
                ::flock(::open(slave.constData(), O_RDWR | O_NOCTTY), LOCK_EX | LOCK_NB);
                ::prctl(PR_SET_NAME, "<h1>BUSY</h1>");
                [[maybe_unused]] const auto n = ::write(ready[1], "x", 1);
                ::pause();
                ::_exit(0);
            }
            char c = 0;
            QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
            ::close(ready[0]);
            ::close(ready[1]);
        }
        const QString link = links->filePath("com5");
        QVERIFY(QFile::link(back.slavePath(), link + ".new"));
        QCOMPARE(::rename(QFile::encodeName(link + ".new").constData(),
                          QFile::encodeName(link).constData()),
                 0);

        if (meanwhile == "close" || meanwhile == "unload") {
            // Nothing waits any more that could open it.
            QVERIFY(!rig->window.port().findChild<DeviceReturn *>());
            QVERIFY(!rig->window.port().findChild<QSerialPort *>()->isOpen());
            return;
        }
        if (meanwhile == "taken") {
            // It says who holds it, by its name as it is and its number.
            const QString who = QString("(<h1>BUSY</h1>, Prozess %1)").arg(holder);
            QTRY_VERIFY2(shownToolTip(f->Shape1).contains(who),
                         qPrintable(shownToolTip(f->Shape1)));
            QCOMPARE(rig->lamp(), Lamp::Amber);
            const pid_t killed = std::exchange(holder, 0);
            QCOMPARE(::kill(killed, SIGKILL), 0);
            QCOMPARE(::waitpid(killed, nullptr, 0), killed);
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig->lamp(), Lamp::Green, 3000);
        // Only the lines of the open port are left.
        QVERIFY2(shownToolTip(f->Shape1).startsWith("Ausgänge: "),
                 qPrintable(shownToolTip(f->Shape1)));
        QVERIFY(back.send("after\r\n"));
        QTRY_COMPARE(captured(), QByteArray("before\r\nafter\r\n"));
        QCOMPARE(f->Empfang->text(), QStringLiteral("before\r\nafter\r\n"));
        rig->send("AT");
        QCOMPARE(back.receive(3, 1000), QByteArray("AT\r")); // nothing from before the return
    }

    // A device found by its path (no link) comes back under the same name.
    void devicePathComesBack()
    {
        f->Verbind->click(); // closed, to reopen port 1 by the system's list
        QVERIFY(QFile::remove(links->filePath("com5")));
        m_system = {pty->slavePath()};
        f->Comport->setEditText("1");
        f->Verbind->click();
        QCOMPARE(rig->lamp(), Lamp::Green);
        const QString slave = pty->slavePath();
        QVERIFY(vanish());
        // The system hands out the lowest free number; others may take it first.
        std::list<FarEnd> tries;
        while (tries.size() < 50 && (tries.empty() || tries.back().slavePath() != slave))
            tries.emplace_back();
        if (tries.back().slavePath() != slave)
            QSKIP("the system gave the old name to another program");
        // A terminal that somebody else has open is not the device that left:
        // a look after it appeared leaves the port waiting.
        QSignalSpy looks(rig->window.port().findChild<DeviceReturn *>(), &DeviceReturn::looked);
        QVERIFY(looks.wait(3000));
        QCOMPARE(rig->lamp(), Lamp::Amber);
        tries.back().closeSlave(); // a far end that holds only its master, as the device's would
        QTRY_COMPARE_WITH_TIMEOUT(rig->lamp(), Lamp::Green, 3000);
        QVERIFY(tries.back().send("again"));
        QTRY_COMPARE(f->Empfang->text(), QStringLiteral("again"));
    }

    void captureIsByteExact_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        const QByteArray all = allValues();
        QTest::newRow("A CR LF CR LF B") << QList<QByteArray>{"A\r\n\r\nB"};
        QTest::newRow("CR CR, which the view pairs") << QList<QByteArray>{"\r", "\r"};
        QTest::newRow("more than the write buffer")
            << QList<QByteArray>{QByteArray(100'000, '\0') + all, QByteArray(70'000, 'x')};
    }
    // The capture holds exactly what arrived while it ran, nothing from before
    // its start or after its stop.
    void captureIsByteExact()
    {
        QFETCH(QList<QByteArray>, chunks);
        QVERIFY(pty->send("before"));
        QTRY_COMPARE(f->Empfang->text(), QStringLiteral("before"));
        QVERIFY(startCapture());
        QByteArray sent;
        for (const QByteArray &chunk : chunks) {
            QVERIFY(pty->send(chunk));
            sent += chunk;
            // On disk at the end of every receive event: a crash loses nothing.
            QTRY_COMPARE(captured(), sent);
        }
        f->StartRec->click();
        QVERIFY(pty->send("after"));
        QTRY_VERIFY(f->Empfang->text().endsWith("after"));
        QCOMPARE(captured(), sent);
    }

    void failedWriteStopsOnceAndTheViewGoesOn()
    {
        QVERIFY(startCapture());
        // A file that may grow no further, like a full disk.
        const FileSizeLimit full(1000);
        QVERIFY(full.ok());
        const QByteArray sent = QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(116);
        // While the operator reads the message, the line keeps talking and
        // the view keeps showing it.
        bool fedMeanwhile = false;
        rig->boxes.whileShown = [&] {
            fedMeanwhile =
                pty->send("more") &&
                QTest::qWaitFor([&] { return f->Empfang->text().endsWith("more"); }, 3000);
        };
        QVERIFY(pty->send(sent));
        QTRY_COMPARE(rig->boxes.shown.size(), 1);
        QVERIFY(fedMeanwhile);
        QVERIFY2(
            rig->boxes.toldOnly(61, "Die Aufzeichnungsdatei „" + links->filePath("capture.txt")),
            qPrintable(rig->boxes.shown[0]));
        QVERIFY(rig->captureStopped());
        QCOMPARE(f->Empfang->text(), QString::fromLatin1(sent + "more"));
        QCOMPARE(captured(), sent.left(1000));
        QVERIFY(pty->send("again"));
        QTRY_VERIFY(f->Empfang->text().endsWith("again"));
        QCOMPARE(rig->boxes.shown.size(), 1); // told once
    }

    // A write that failed in the background is told when it happens, and the
    // next command goes out as usual.
    void backgroundWriteFailureIsToldOnce()
    {
        auto *device = rig->window.port().findChild<QSerialPort *>();
        Q_EMIT device->errorOccurred(QSerialPort::WriteError);
        QTRY_COMPARE(rig->boxes.shown.size(), 1);
        QVERIFY2(rig->boxes.toldOnly(8020), qPrintable(rig->boxes.shown[0]));
        rig->send("AT");
        QCOMPARE(pty->receive(3, 1000), QByteArray("AT\r"));
        QCOMPARE(rig->boxes.shown.size(), 1);
    }

    // Everything of the session in the history window, as a board prints it:
    // a UTF-8 character and a colour sequence each cut by the line between
    // two receive events, bytes that are no UTF-8, a line end inside a
    // sequence, the command sent, and the opening and closing marked. (How
    // the history shows bytes that are no UTF-8 is tst_history's.)
    void historyOfTheSession()
    {
        qint64 taken = 0;
        connect(&rig->window.port(), &SerialPort::pieceTaken, this,
                [&taken](QByteArrayView piece) { taken += piece.size(); });
        const QByteArray pieces[] = {"21,5 \xc2",
                                     "\xb0"
                                     "C \x1b[3",
                                     "2mOK\x1b[0m\r\n\xff\xfe\r\n", "\x1b[\r\n"};
        qint64 sent = 0;
        for (const QByteArray &piece : pieces) {
            QVERIFY(pty->send(piece));
            sent += piece.size();
            QTRY_COMPARE(taken, sent); // each piece its own event at least
        }
        f->SendWin->setText(QStringLiteral("AT+T?"));
        rig->control<QPushButton>("send_win")->click();
        QCOMPARE(receiveWhileRunning(*pty, 6), QByteArray("AT+T?\r"));

        rig->window.show();
        rig->window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig->window));
        QTest::keyClick(&rig->window, Qt::Key_H, Qt::ControlModifier);
        auto *history = rig->window.findChild<HistoryWindow *>();
        QVERIFY(history && history->isVisible());
        QCOMPARE(history->windowTitle(), QStringLiteral("Verlauf – Com 5"));
        const auto rows = [history] {
            history->view()->syncNow();
            return history->view()->rowsInSight();
        };
        // The history's own defaults: characters chosen line by line, colours on.
        const QStringList expected = {"Com 5 geöffnet (9600,n,8,1)", "  21,5 °C OK", "  ÿþ",
                                      "  <ESC>[", "→ AT+T?"};
        QTRY_COMPARE(rows().size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QVERIFY2(rows()[i].contains(expected[i]), qPrintable(rows()[i]));

        f->Verbind->click();
        QCOMPARE(history->windowTitle(), QStringLiteral("Verlauf"));
        QTRY_VERIFY(rows().size() == expected.size() + 1 &&
                    rows().last().contains("Com 5 geschlossen"));
        // The receive box showed the bytes as it always does meanwhile.
        f->Empfang->selectAll();
        QVERIFY2(f->Empfang->selectedText().startsWith(QString::fromUtf8("21,5 Â°C <ESC>[32mOK")),
                 qPrintable(f->Empfang->selectedText()));
    }

    // A logout or a kill ends Kavro as closing the window does.
    void terminationSignalsCloseTheWindow_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void terminationSignalsCloseTheWindow()
    {
        QFETCH(int, signal);
        const auto restore = qScopeGuard([] {
            for (const int s : {SIGTERM, SIGHUP, SIGINT})
                std::signal(s, SIG_DFL);
        });
        closeOnTerminationSignals(&rig->window);
        rig->window.show();
        QVERIFY(startCapture());
        QVERIFY(pty->send("one\r\ntwo"));
        QTRY_COMPARE(captured(), QByteArray("one\r\ntwo"));
        QCOMPARE(::raise(signal), 0);
        QTRY_VERIFY(!rig->window.isVisible());
        QVERIFY(!rig->window.port().PortOpen());
        QVERIFY(!rig->window.capture().files().isOpen(1));
        QCOMPARE(captured(), QByteArray("one\r\ntwo"));
    }
};

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
