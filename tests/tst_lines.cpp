// Hands on the line: what reaches a device's modem lines (through the
// preloaded library of testsupport/modemlines.cpp, which lets pseudo-terminals
// answer and records every request with its time), RFC 2217 line changes through the
// real ser2net, the timed break and reset pulse, the lamp's line menu and
// tooltip, and the command box's control bytes, hex bytes, sending at once and
// history keys.

#include "deviceserialport.h"
#include "fakes.h"
#include "hexbytes.h"
#include "kavrosettings.h"
#include "lampmenu.h"
#include "linepulser.h"
#include "modemlinelog.h"
#include "modemlines.h"
#include "openlevels.h"
#include "sentcommands.h"
#include "ser2netserver.h"
#include "support.h"

Q_DECLARE_METATYPE(ModemLines)
Q_DECLARE_METATYPE(OpenLevels)
Q_DECLARE_METATYPE(Ser2NetServer::Accepter)

// A real port whose number 5 is a link to the device or server address.
struct LinkedPort {
    QTemporaryDir links;
    std::unique_ptr<DeviceSerialPort> port;
    QStringList told; // what it reported through Failed
    explicit LinkedPort(const QString &target)
    {
        if (!QFile::link(target, links.filePath("com5")))
            return;
        port = std::make_unique<DeviceSerialPort>(DeviceSerialPort::Environment{
            PortMap(links.path(), [] { return QStringList(); }), {links.path()}});
        QObject::connect(port.get(), &SerialPort::Failed,
                         [this](const KavroError &e) { told.append(e.text()); });
        port->setCommPort(5);
    }
};

class TestLines : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    RestoreEnvironment m_config{"XDG_CONFIG_HOME"};

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(ModemLineLog::loaded(),
                 "run through ctest, or with LD_PRELOAD=" KAVRO_MODEMLINES_LIBRARY);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
    }
    void init() { OpenLevels::save(5, {}); } // both lines rise at the opening

    // The port's own lines on a device, at the level of the system calls:
    // each change is one request and is read back, with the input lines the
    // device reports; a refused change is 8020 with the system's reason and
    // leaves the line as the device has it; a refusal at the opening is told
    // once and the port opens all the same. Closed, nothing is asked.
    void devicePortLines_data()
    {
        QTest::addColumn<OpenLevels>("levels");
        QTest::addColumn<QByteArray>("refuse"); // what the device refuses
        // "DTR 0", "RTS 1", "BREAK 1"; "in CTS ..." (input lines)
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("logged"); // after the opening
        QTest::addColumn<ModemLines>("lines");   // read at the end
        QTest::addColumn<int>("error");          // of the last step
        QTest::addColumn<int>("told");           // through Failed, at the opening
        const OpenLevels on;
        QTest::newRow("set and read back")
            << on << QByteArray()
            << QStringList{"DTR 0", "RTS 0", "RTS 1", "BREAK 1", "BREAK 0", "in CTS DCD"}
            << QStringList{"DTR 0", "RTS 0", "RTS 1", "BREAK 1", "BREAK 0"}
            << ModemLines{false, true, true, false, true, false} << 0 << 0;
        QTest::newRow("RTS refused")
            << on << QByteArray("RTS") << QStringList{"DTR 0", "RTS 0"}
            << QStringList{"DTR 0", "RTS 0 refused"}
            << ModemLines{false, true, false, false, false, false} << 8020 << 0;
        QTest::newRow("Beim Öffnen: both off, DTR refused")
            << OpenLevels{false, false} << QByteArray("DTR") << QStringList()
            << QStringList{"DTR 0 refused", "RTS 0"}
            << ModemLines{true, false, false, false, false, false} << 0 << 8020;
    }
    void devicePortLines()
    {
        QFETCH(OpenLevels, levels);
        QFETCH(QByteArray, refuse);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, logged);
        QFETCH(ModemLines, lines);
        QFETCH(int, error);
        QFETCH(int, told);
        FarEnd pty;
        QVERIFY(pty.isValid());
        ModemLineLog log;
        QVERIFY(log.refuse(pty.slavePath(), refuse));
        OpenLevels::save(5, levels);
        LinkedPort linked(pty.slavePath());
        QVERIFY(linked.port);
        ModemControl &control = linked.port->modemLines();
        QCOMPARE(control.lineAccess(), LineAccess::Closed);
        QCOMPARE(errorOf([&] { control.setDtr(false); }), 8012);

        linked.port->setPortOpen(true);
        QCOMPARE(control.lineAccess(), LineAccess::Full);
        const QString reason = qt_error_string(EINVAL);
        QCOMPARE(linked.told.size(), told ? 1 : 0);
        if (told)
            QVERIFY2(linked.told[0].startsWith("Fehler 8020: ") && linked.told[0].contains(reason),
                     qPrintable(linked.told[0]));
        QString failure;
        for (const QString &step : steps) {
            const bool on = step.endsWith('1');
            failure.clear();
            try {
                if (step.startsWith("DTR"))
                    control.setDtr(on);
                else if (step.startsWith("RTS"))
                    control.setRts(on);
                else if (step.startsWith("BREAK"))
                    control.setBreak(on);
                else
                    QVERIFY(log.setInputs(pty.slavePath(), step.mid(3).toLatin1()));
            } catch (const KavroError &e) {
                QCOMPARE(e.number(), error);
                failure = e.description();
            }
        }
        QCOMPARE(failure.isEmpty(), error == 0);
        if (error)
            QVERIFY2(failure.contains(reason), qPrintable(failure));
        QStringList requests = log.requests(pty.slavePath());
        requests.removeAll("OPEN");
        QCOMPARE(requests, logged);
        QCOMPARE(control.lines(), lines);
        // Whatever the lines did, the bytes pass.
        linked.port->setOutput("x");
        QCOMPARE(pty.receive(1), QByteArray("x"));
        linked.port->setPortOpen(false);
        QCOMPARE(control.lineAccess(), LineAccess::Closed);
        QCOMPARE(control.lines(), ModemLines{});
    }

    // "Break senden" and "Reset-Puls" on a device: the first half at once,
    // the second after its time (never before it). Asked again while one
    // runs, nothing more happens; after the port closed, nothing more is
    // asked; a refused second half is told once. Closed, nothing is asked.
    void pulses_data()
    {
        QTest::addColumn<QString>("what");      // "break", "dtr", "rts"
        QTest::addColumn<QString>("meanwhile"); // "again", "close", "refuse"
        QTest::addColumn<QStringList>("logged");
        QTest::addColumn<int>("failed"); // told when the second half failed
        QTest::newRow("Break senden") << "break"
                                      << "" << QStringList{"BREAK 1", "BREAK 0"} << 0;
        QTest::newRow("Reset-Puls DTR, asked twice")
            << "dtr"
            << "again" << QStringList{"DTR 0", "DTR 1"} << 0;
        QTest::newRow("Reset-Puls RTS, closed meanwhile") << "rts"
                                                          << "close" << QStringList{"RTS 0"} << 0;
        QTest::newRow("end refused")
            << "break"
            << "refuse" << QStringList{"BREAK 1", "BREAK 0 refused"} << 8020;
    }
    void pulses()
    {
        QFETCH(QString, what);
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, logged);
        QFETCH(int, failed);
        FarEnd pty;
        QVERIFY(pty.isValid());
        ModemLineLog log;
        LinkedPort linked(pty.slavePath());
        QVERIFY(linked.port);
        LinePulser pulser(linked.port->modemLines());
        QSignalSpy finished(&pulser, &LinePulser::finished);
        QList<int> told;
        connect(&pulser, &LinePulser::failed, this,
                [&](const KavroError &e) { told.append(e.number()); });
        auto ask = [&] {
            if (what == "break")
                pulser.sendBreak();
            else
                pulser.pulse(what == "dtr" ? LinePulser::Line::Dtr : LinePulser::Line::Rts);
        };
        QCOMPARE(errorOf(ask), 8012);
        QVERIFY(!pulser.busy());

        linked.port->setPortOpen(true);
        log.forget();
        QCOMPARE(errorOf(ask), 0);
        QVERIFY(pulser.busy());
        if (meanwhile == "again")
            QCOMPARE(errorOf(ask), 0);
        else if (meanwhile == "close")
            linked.port->setPortOpen(false);
        else if (meanwhile == "refuse")
            QVERIFY(log.refuse(pty.slavePath(), what.toUpper().toLatin1()));
        QVERIFY(finished.wait(5000));
        QCOMPARE(log.requests(pty.slavePath()), logged);
        QCOMPARE(told, failed ? QList<int>{failed} : QList<int>());
        const auto timed = log.timed(pty.slavePath());
        if (timed.size() == 2)
            QVERIFY(timed[1].first - timed[0].first >=
                    (what == "break" ? LinePulser::BreakMs : LinePulser::PulseMs) * 1000000LL);
    }

    // The same port on a serial server: "Beim Öffnen", line changes and a
    // break reach the server's device through the real ser2net, and the
    // lines read back are the server's answers, the input lines among them.
    // A tcp:// port has none.
    void networkPortLines_data()
    {
        QTest::addColumn<Ser2NetServer::Accepter>("accepter");
        QTest::newRow("rfc2217") << Ser2NetServer::Accepter::Rfc2217;
        QTest::newRow("tcp") << Ser2NetServer::Accepter::RawTcp;
    }
    void networkPortLines()
    {
        QFETCH(Ser2NetServer::Accepter, accepter);
        if (!Ser2NetServer::available())
            QSKIP("ser2net is not installed (scripts/setup.sh --test installs it)");
        FarEnd pty;
        QVERIFY(pty.isValid());
        ModemLineLog log;
        QVERIFY(log.setInputs(pty.slavePath(), "CTS\n"));
        Ser2NetServer server(log.folder(), pty.slavePath(), accepter);
        server.setEnvironment("LD_PRELOAD", KAVRO_MODEMLINES_LIBRARY);
        server.setEnvironment("KAVRO_MODEMLINES", log.folder());
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        OpenLevels::save(5, {false, true});
        LinkedPort linked(server.url());
        QVERIFY(linked.port);
        ModemControl &control = linked.port->modemLines();
        linked.port->setPortOpen(true);
        QTRY_VERIFY(linked.port->PortOpen());
        if (accepter == Ser2NetServer::Accepter::RawTcp) {
            QCOMPARE(control.lineAccess(), LineAccess::NoControlLines);
            QCOMPARE(errorOf([&] { control.setDtr(false); }), 380);
            QCOMPARE(control.lines(), ModemLines{});
            return;
        }
        QCOMPARE(control.lineAccess(), LineAccess::Full);
        auto since = [&](const QString &request) {
            const QStringList all = log.requests(pty.slavePath());
            return all.mid(all.lastIndexOf(request) + 1);
        };
        // The levels went out ahead of the first byte.
        linked.port->setOutput("x");
        QCOMPARE(pty.receive(1), QByteArray("x"));
        // (ser2net ends any break of its own when it opens the device, and
        // sets both lines at once, so a line already where asked is no request.)
        QCOMPARE(since("OPEN").filter(QRegularExpression("^(DTR|RTS) ")), QStringList{"DTR 0"});
        QTRY_COMPARE(control.lines().dtr, std::optional<bool>(false));
        QCOMPARE(control.lines().rts, std::optional<bool>(true));
        QTRY_COMPARE(control.lines().cts, std::optional<bool>(true));
        QCOMPARE(control.lines().dsr, std::optional<bool>(false));

        // The change goes out; the server's answer comes later.
        QSignalSpy answered(linked.port.get(), &SerialPort::serverAnswered);
        control.setDtr(true);
        QVERIFY(answered.wait());
        QCOMPARE(control.lines().dtr, std::optional<bool>(true));
        control.setRts(false);
        control.setBreak(true);
        control.setBreak(false);
        QTRY_COMPARE(since("DTR 0"), (QStringList{"DTR 1", "RTS 0", "BREAK 1", "BREAK 0"}));
        QTRY_COMPARE(control.lines().rts, std::optional<bool>(false));
        // Each input line reads as itself: raised one at a time, so that two
        // lines mixed up would show.
        const std::pair<QByteArray, ModemLines> inputs[] = {
            {"DSR", {true, false, false, true, false, false}},
            {"DCD", {true, false, false, false, true, false}},
            {"RI", {true, false, false, false, false, true}},
            {"CTS DSR DCD RI", {true, false, true, true, true, true}},
        };
        for (const auto &[raised, read] : inputs) {
            QVERIFY(log.setInputs(pty.slavePath(), raised));
            QTRY_COMPARE(control.lines(), read);
        }
    }

    // Through the window as the operator does it: a click in the lamp's menu
    // changes the real line, and the menu and the tooltip show the lines as
    // the device has them afterwards; a refusal is told once, with its reason.
    // The click closes the menu before the change is made, and a message box
    // or a serial server's answer lets events run meanwhile.
    void lampMenuInWindow_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("refuse"); // a line the device refuses, or "conf"
        QTest::addColumn<bool>("server");       // through ser2net on rfc2217://
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QString>("tip"); // the outputs after it
        QTest::newRow("DTR") << "DTR" << QByteArray() << false << "DTR 0"
                             << "Ausgänge: DTR aus, RTS an";
        QTest::newRow("RTS refused") << "RTS" << QByteArray("RTS") << false << "RTS 0 refused"
                                     << "Ausgänge: DTR an, RTS an";
        QTest::newRow("Beim Öffnen, kavro.conf not writable")
            << "Beim Öffnen/DTR" << QByteArray("conf") << false << "OPEN"
            << "Ausgänge: DTR an, RTS an";
        QTest::newRow("DTR on a server") << "DTR" << QByteArray() << true << "DTR 0"
                                         << "Ausgänge: DTR aus, RTS an";
        QTest::newRow("Reset-Puls on a server")
            << "Reset-Puls/DTR" << QByteArray() << true << "DTR 1"
            << "Ausgänge: DTR an, RTS an";
    }
    void lampMenuInWindow()
    {
        QFETCH(QString, entry);
        QFETCH(QByteArray, refuse);
        QFETCH(bool, server);
        QFETCH(QString, logged);
        QFETCH(QString, tip);
        if (server && !Ser2NetServer::available())
            QSKIP("ser2net is not installed (scripts/setup.sh --test installs it)");
        FarEnd pty;
        QVERIFY(pty.isValid());
        ModemLineLog log;
        QVERIFY(log.refuse(pty.slavePath(), refuse == "conf" ? QByteArray() : refuse));
        QVERIFY(log.setInputs(pty.slavePath(), "CTS DCD"));
        std::unique_ptr<Ser2NetServer> ser2net;
        if (server) {
            ser2net = std::make_unique<Ser2NetServer>(log.folder(), pty.slavePath(),
                                                      Ser2NetServer::Accepter::Rfc2217);
            ser2net->setEnvironment("LD_PRELOAD", KAVRO_MODEMLINES_LIBRARY);
            ser2net->setEnvironment("KAVRO_MODEMLINES", log.folder());
            QVERIFY2(ser2net->start(), qPrintable(ser2net->errorText()));
        }
        const QString inputs = "\nEingänge: CTS an, DSR aus, DCD an, RI aus";
        LinkedPort linked(server ? ser2net->url() : pty.slavePath());
        QVERIFY(linked.port);
        Rig rig(linked.port.release());
        // The box lets events run while it is open, as a real one does.
        rig.boxes.whileShown = [] {
            QEventLoop loop;
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
            loop.exec();
        };
        rig.f.Comport->setEditText("5");
        rig.f.Verbind->click();
        QTRY_COMPARE(rig.lamp(), Lamp::Green);
        QTRY_VERIFY(shownToolTip(rig.f.Shape1).startsWith("Ausgänge: DTR an, RTS an" + inputs));
        const QString conf = KavroSettings::path();
        if (refuse == "conf") { // a folder where the file should be
            QVERIFY(QFile::remove(conf) && QDir().mkpath(conf));
        }
        auto openMenu = [&]() -> QMenu * {
            const QPoint middle = rig.f.Shape1->rect().center();
            QContextMenuEvent click(QContextMenuEvent::Mouse, middle,
                                    rig.f.Shape1->mapToGlobal(middle));
            QApplication::sendEvent(rig.f.Shape1, &click);
            const QList<QMenu *> menus = rig.window.findChildren<QMenu *>("lineMenu");
            return menus.isEmpty() ? nullptr : menus.last();
        };
        QPointer<QMenu> menu = openMenu();
        QVERIFY(menu && menu->isVisible());
        QVERIFY(menuEntry(menu, entry)->isEnabled());
        QVERIFY(menuEntry(menu, entry)->isChecked() || entry.startsWith("Reset"));
        // Submenus open as the mouse rests on them; the click goes to the entry.
        QMenu *at = menu;
        for (const QString &step : entry.split('/')) {
            QAction *a = menuEntry(at, step);
            QVERIFY(a);
            if (!a->menu()) {
                QTest::mouseClick(at, Qt::LeftButton, {}, at->actionGeometry(a).center());
                break;
            }
            at->setActiveAction(a);
            at = a->menu();
            QTRY_VERIFY(at->isVisible());
        }
        QTRY_VERIFY(!menu->isVisible());
        QTRY_COMPARE(log.requests(pty.slavePath()).last(), logged);
        if (refuse.isEmpty())
            QVERIFY2(rig.boxes.shown.isEmpty(), qPrintable(rig.boxes.shown.join('\n')));
        else if (refuse == "conf")
            QVERIFY2(rig.boxes.toldOnly(75, "Die Einstellung „Beim Öffnen“ kann nicht"),
                     qPrintable(rig.boxes.shown.join('\n')));
        else
            QVERIFY2(rig.boxes.toldOnly(8020, entry + " lässt sich am Anschluss") &&
                         rig.boxes.shown[0].contains(qt_error_string(EINVAL)),
                     qPrintable(rig.boxes.shown.join('\n')));
        QTRY_VERIFY2(shownToolTip(rig.f.Shape1).startsWith(tip + inputs),
                     qPrintable(shownToolTip(rig.f.Shape1)));
        // Opened again, the menu shows the line as the device has it.
        menu = openMenu();
        QVERIFY(menu);
        if (!entry.contains('/'))
            QCOMPARE(menuEntry(menu, entry)->isChecked(), !refuse.isEmpty());
        menu->hide();
        if (refuse == "conf")
            QVERIFY(QDir(conf).removeRecursively());
    }

    // The open menu follows the lines as the device has them, and a pulse
    // running disables the timed entries until it ends. "Beim Öffnen" is kept
    // per port number and lowers the line at the next opening.
    void lineMenuFollowsTheDevice()
    {
        FarEnd pty;
        QVERIFY(pty.isValid());
        ModemLineLog log;
        LinkedPort linked(pty.slavePath());
        QVERIFY(linked.port);
        linked.port->setPortOpen(true);
        ModemControl &control = linked.port->modemLines();
        LinePulser pulser(control);
        QMenu menu;
        fillLineMenu(&menu, control, pulser, 5, [](const std::function<void()> &f) { f(); });
        menuEntry(&menu, "Reset-Puls/DTR")->trigger();
        QVERIFY(!menuEntry(&menu, "Break senden")->isEnabled());

        menu.popup(QPoint(0, 0));
        QVERIFY(!menuEntry(&menu, "CTS: an"));
        QVERIFY(log.setInputs(pty.slavePath(), "CTS"));
        QTRY_VERIFY(menuEntry(&menu, "CTS: an"));
        QTRY_VERIFY(menuEntry(&menu, "Break senden")->isEnabled()); // the pulse has ended
        QVERIFY(menuEntry(&menu, "DTR")->isChecked());
        menu.hide();

        QVERIFY(menuEntry(&menu, "Beim Öffnen/RTS")->isChecked());
        menuEntry(&menu, "Beim Öffnen/RTS")->trigger();
        QCOMPARE(OpenLevels::load(5), (OpenLevels{true, false}));
        linked.port->setPortOpen(false);
        log.forget();
        linked.port->setPortOpen(true);
        QStringList requests = log.requests(pty.slavePath());
        requests.removeAll("OPEN");
        QCOMPARE(requests, QStringList{"RTS 0"});
        QMenu again;
        fillLineMenu(&again, control, pulser, 5, [](const std::function<void()> &f) { f(); });
        QVERIFY(!menuEntry(&again, "Beim Öffnen/RTS")->isChecked());
        QVERIFY(!menuEntry(&again, "RTS")->isChecked());
    }

    // "Sofort senden" in the window: the one byte goes out, nothing else,
    // and the command stays; while the port is closed the entries are
    // disabled under the reason. A command sent is kept for the history keys
    // in the state folder.
    void sendNowInWindow()
    {
        FarEnd pty;
        QVERIFY(pty.isValid());
        LinkedPort linked(pty.slavePath());
        QVERIFY(linked.port);
        Rig rig(linked.port.release());
        CommandBox *box = rig.f.SendWin;
        box->setText("AT");
        std::unique_ptr<QMenu> closed(box->createContextMenu());
        QCOMPARE(menuEntry(closed.get(), "Sofort senden")->menu()->actions().first()->text(),
                 lineRefusal(LineAccess::Closed));
        QVERIFY(!menuEntry(closed.get(), "Sofort senden/ETX (Strg+C)")->isEnabled());

        rig.f.Comport->setEditText("5");
        rig.f.Verbind->click();
        QCOMPARE(rig.lamp(), Lamp::Green);
        std::unique_ptr<QMenu> open(box->createContextMenu());
        QAction *etx = menuEntry(open.get(), "Sofort senden/ETX (Strg+C)");
        QVERIFY(etx->isEnabled());
        etx->trigger();
        QCOMPARE(receiveWhileRunning(pty, 1), QByteArray("\x03"));
        menuEntry(open.get(), "Sofort senden/NUL (Strg+@)")->trigger();
        QCOMPARE(receiveWhileRunning(pty, 1), QByteArray(1, '\0'));
        QCOMPARE(box->text(), QStringLiteral("AT"));

        rig.control<QPushButton>("send_win")->click();
        QCOMPARE(receiveWhileRunning(pty, 3), QByteArray("AT\r"));
        QVERIFY2(rig.boxes.shown.isEmpty(), qPrintable(rig.boxes.shown.join('\n')));
        box->setText(QString());
        QTest::keyClick(box, Qt::Key_Up);
        QCOMPARE(box->text(), QStringLiteral("AT"));
        QCOMPARE(SentCommands().commands(), QStringList{"AT"});
    }

    // What the box holds reads back exactly; control bytes (and the others
    // the receive box shows boxed) stand as boxed objects however they came.
    void boxedBytes_data()
    {
        QTest::addColumn<QString>("how"); // "menu:…", "hex:…", "paste:…", "set:…"
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("boxed");
        auto row = [](const char *name, const QString &how, const QString &text, int boxed) {
            QTest::newRow(name) << how << text << boxed;
        };
        row("menu DEL", "menu:Steuerzeichen einfügen/DEL", "\x7f", 1);
        row("hex, CR LF a line break", "hex:1b5B41 00 0D0A 0d 81 a0 ff",
            "\x1b[A" + QString(QChar(0)) + "\r\n\r\u0081\u00a0\u00ff", 4);
        row("pasted tab and escape", "paste:a\tb\x1b", "a\tb\x1b", 2);
        row("a command from the history", "set:\x1b[2J\r\nA", "\x1b[2J\r\nA", 1);
        row("hex dialog cancelled", "hex:", "", 0);
    }
    void boxedBytes()
    {
        QFETCH(QString, how);
        QFETCH(QString, text);
        QFETCH(int, boxed);
        CommandBox box;
        box.resize(300, 80);
        box.show();
        FakeBytesPrompt prompt;
        box.setBytesPrompt(&prompt);
        const QString arg = how.section(u':', 1);
        if (how.startsWith("menu:")) {
            std::unique_ptr<QMenu> menu(box.createContextMenu());
            menuEntry(menu.get(), arg)->trigger();
        } else if (how.startsWith("hex:")) {
            if (!arg.isEmpty())
                prompt.answer = parseHexBytes(arg).bytes;
            std::unique_ptr<QMenu> menu(box.createContextMenu());
            menuEntry(menu.get(), "Bytes einfügen…")->trigger();
        } else if (how.startsWith("paste:")) {
            QApplication::clipboard()->setText(arg);
            box.paste();
        } else {
            box.setText(arg);
        }
        QCOMPARE(box.text(), text);
        int objects = 0;
        for (const QChar c : box.document()->toPlainText())
            objects += c == QChar::ObjectReplacementCharacter;
        QCOMPARE(objects, boxed);
        // Each takes the room of its name in a box, beside the plain text.
        const QTextBlock block = box.document()->firstBlock();
        const QString plain = QString(block.text()).remove(QChar::ObjectReplacementCharacter);
        QVERIFY(block.layout()->lineCount() == 1);
        QVERIFY(block.layout()->lineAt(0).naturalTextWidth() >=
                QFontMetricsF(box.font()).horizontalAdvance(plain) +
                    7 * block.text().count(QChar::ObjectReplacementCharacter));
        // Typed on after it, text stays text.
        QTest::keyClicks(&box, "z");
        QCOMPARE(box.text(), text + "z");
    }

    // Bad hex is refused with its reason: "OK" cannot be had.
    void hexDialog()
    {
        BytesDialog dialog;
        dialog.field()->setText("1B 5G");
        QCOMPARE(dialog.message(), parseHexBytes(u"1B 5G").error);
        QVERIFY(!dialog.acceptable());
        QCOMPARE(dialog.bytes(), std::nullopt);
        dialog.field()->setText("1b5b41");
        QVERIFY(dialog.acceptable());
        QCOMPARE(dialog.message(), QStringLiteral("3 Bytes"));
        QCOMPARE(dialog.bytes(), std::optional<QByteArray>("\x1b[A"));
    }

    // The commands sent before, by the keys: Up on the first line, Down on
    // the last, Ctrl+Up and Ctrl+Down anywhere; the command being written
    // comes back, and a command comes back exactly as it went out.
    void historyKeys_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("keys");      // u d: Up, Down; U D: with Ctrl; h: Ctrl+Home
        QTest::addColumn<QStringList>("shown"); // after each key
        auto row = [](const char *name, const char *written, const char *keys,
                      const QStringList &shown) {
            QTest::newRow(name) << written << keys << shown;
        };
        const QString older = "A\x1b\r\nB";
        row("newest first, no older than the oldest", "", "uuuuu",
            {"ATI", older, older, "AT", "AT"});
        row("back to the command being written", "neu", "uudd", {"ATI", older, "ATI", "neu"});
        row("Up only on the first line, Ctrl+Up anywhere", "1\r\n2\r\n3", "uU",
            {"1\r\n2\r\n3", "ATI"});
        row("Down only on the last line, Ctrl+Down anywhere", "", "uuhdhD",
            {"ATI", older, older, older, older, "ATI"});
    }
    void historyKeys()
    {
        QFETCH(QString, written);
        QFETCH(QString, keys);
        QFETCH(QStringList, shown);
        QTemporaryDir state;
        SentCommands history(state.filePath("history.json"));
        CommandBox box;
        box.resize(300, 80);
        box.show();
        box.setSentCommands(&history);
        for (const char *sent : {"AT", "A\x1b\r\nB", "ATI"})
            box.recordSent(sent);
        box.setText(written);
        box.moveCursor(QTextCursor::End);
        QStringList seen;
        for (const QChar k : keys) {
            QTest::keyClick(&box,
                            k == 'h'             ? Qt::Key_Home
                            : k.toLower() == 'u' ? Qt::Key_Up
                                                 : Qt::Key_Down,
                            k.isUpper() || k == 'h' ? Qt::ControlModifier : Qt::NoModifier);
            seen.append(box.text());
        }
        QCOMPARE(seen, shown);
    }
};

QTEST_MAIN(TestLines)
#include "tst_lines.moc"
