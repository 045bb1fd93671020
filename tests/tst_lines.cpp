// Hands on the line: what reaches a device's modem lines (through the
// preloaded library of tools/modemlines.cpp, which lets pseudo-terminals answer
// and records every request), RFC 2217 line changes through the real ser2net,
// the timed break and reset pulse, the lamp's line menu and tooltip, and the
// command box's control bytes, hex bytes, sending at once and history keys.

#include "commandhistory.h"
#include "deviceserialport.h"
#include "fakes.h"
#include "hexbytes.h"
#include "lampmenu.h"
#include "linepulser.h"
#include "modemlinelog.h"
#include "modemlines.h"
#include "openlevels.h"
#include "rfc2217.h"
#include "ser2netserver.h"
#include "support.h"

#include <QSerialPort>
#include <QTcpSocket>

#include <chrono>

using Control = Rfc2217Client::Control;
Q_DECLARE_METATYPE(LineAccess)
Q_DECLARE_METATYPE(ModemLines)
Q_DECLARE_METATYPE(OpenLevels)
Q_DECLARE_METATYPE(Ser2NetServer::Accepter)

static qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A port's lines as a test scripts them: it records each change with its
// time and refuses the one it is told to, as a device would.
class ScriptedLines : public ModemControl
{
public:
    LineAccess access = LineAccess::Full;
    ModemLines state{true, true, false, true, false, false};
    QStringList calls;   // "DTR 0", "BREAK 1", ...
    QList<qint64> times; // steady clock, ns
    QString refuse;      // the call the device refuses
    LineAccess lineAccess() const override { return access; }
    void setDtr(bool on) override { change("DTR", on, &state.dtr); }
    void setRts(bool on) override { change("RTS", on, &state.rts); }
    void setBreak(bool on) override { change("BREAK", on, nullptr); }
    ModemLines lines() override { return access == LineAccess::Full ? state : ModemLines{}; }

private:
    void change(const char *name, bool on, std::optional<bool> *line)
    {
        checkLineAccess(access);
        const QString call = QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(int(on));
        if (call == refuse)
            raiseError(Err::PortIo, QStringLiteral("Die Leitung lässt sich nicht setzen "
                                                   "(Ungültiges Argument)"));
        calls.append(call);
        times.append(nowNs());
        if (line)
            *line = on;
    }
};

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

    // A plain QSerialPort on a pseudo-terminal: every line change and break
    // it makes reaches the log as one request, and it reads the input lines
    // the test sets. Without the library's variable the pseudo-terminal is
    // itself again and refuses the modem lines.
    void qserialPortRequests_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QByteArray>("inputs");
        QTest::addColumn<QStringList>("steps"); // "DTR 0", "RTS 1", "BREAK 1"
        QTest::addColumn<QStringList>("logged");
        QTest::addColumn<int>("signals"); // pinoutSignals() at the end
        using S = QSerialPort;
        QTest::newRow("outputs") << true << QByteArray() << QStringList{"DTR 0", "RTS 0", "DTR 1"}
                                 << QStringList{"OPEN", "DTR 0", "RTS 0", "DTR 1"}
                                 << int(S::DataTerminalReadySignal);
        QTest::newRow("break") << true << QByteArray() << QStringList{"BREAK 1", "BREAK 0"}
                               << QStringList{"OPEN", "BREAK 1", "BREAK 0"}
                               << int(S::DataTerminalReadySignal | S::RequestToSendSignal);
        QTest::newRow("inputs") << true << QByteArray("CTS DSR DCD RI\n") << QStringList{"RTS 0"}
                                << QStringList{"OPEN", "RTS 0"}
                                << int(S::DataTerminalReadySignal | S::ClearToSendSignal |
                                       S::DataSetReadySignal | S::DataCarrierDetectSignal |
                                       S::RingIndicatorSignal);
        QTest::newRow("library off") << false << QByteArray("CTS") << QStringList{"DTR 0"}
                                     << QStringList() << int(S::NoSignal);
    }
    void qserialPortRequests()
    {
        QFETCH(bool, on);
        QFETCH(QByteArray, inputs);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, logged);
        QFETCH(int, signals);
        FarEnd pty;
        QVERIFY(pty.isValid());
        ModemLineLog log;
        QVERIFY(log.setInputs(pty.slavePath(), inputs));
        if (!on)
            qunsetenv("KAVRO_MODEMLINES");
        QSerialPort port(pty.slavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        for (const QString &step : steps) {
            const bool level = step.endsWith('1');
            const bool done = step.startsWith("DTR")   ? port.setDataTerminalReady(level)
                              : step.startsWith("RTS") ? port.setRequestToSend(level)
                                                       : port.setBreakEnabled(level);
            QCOMPARE(done, on);
        }
        QCOMPARE(int(port.pinoutSignals()), signals);
        QCOMPARE(log.requests(pty.slavePath()), logged);
    }

    // An RFC 2217 client's line changes reach the server's device as the
    // system calls a UART's driver takes, and the device's input lines come
    // back as NOTIFY-MODEMSTATE.
    void rfc2217ReachesTheDevice()
    {
        if (!Ser2NetServer::available())
            QSKIP("ser2net is not installed (scripts/setup.sh --test installs it)");
        FarEnd pty;
        QVERIFY(pty.isValid());
        ModemLineLog log;
        QVERIFY(log.setInputs(pty.slavePath(), "CTS\n"));
        Ser2NetServer server(log.folder(), pty.slavePath());
        server.setEnvironment("LD_PRELOAD", KAVRO_MODEMLINES_LIBRARY);
        server.setEnvironment("KAVRO_MODEMLINES", log.folder());
        QVERIFY2(server.start(), qPrintable(server.errorText()));

        QTcpSocket socket;
        Rfc2217Client codec;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(socket.waitForConnected(5000));
        socket.write(codec.opening() + codec.requestSettings({9600, 8, 'n', 1}) +
                     codec.requestModemNotices());
        QByteArray data;
        auto until = [&](const std::function<bool()> &done) {
            return QTest::qWaitFor(
                [&] {
                    QByteArray reply;
                    codec.decode(socket.readAll(), data, reply);
                    socket.write(reply);
                    return done();
                },
                10000);
        };
        auto modem = [&] { return codec.lines().modemState.value_or(0) & 0xf0; };
        QVERIFY(until([&] { return modem() == Rfc2217Client::ModemCts; }));

        const int before = log.requests(pty.slavePath()).size();
        const QList<std::pair<Control, const char *>> steps = {
            {Control::DtrOff, "DTR 0"},    {Control::RtsOff, "RTS 0"},
            {Control::DtrOn, "DTR 1"},     {Control::RtsOn, "RTS 1"},
            {Control::BreakOn, "BREAK 1"}, {Control::BreakOff, "BREAK 0"}};
        QStringList expected;
        for (const auto &[control, request] : steps) {
            socket.write(codec.requestControl(control));
            expected.append(request);
            QVERIFY2(until([&] { return log.requests(pty.slavePath()).mid(before) == expected; }),
                     qPrintable(log.requests(pty.slavePath()).join(", ")));
            // The server answers each line change with the line's state now.
            if (control == Control::DtrOn || control == Control::DtrOff) {
                QVERIFY(until([&] { return codec.lines().dtr.has_value(); }));
                QCOMPARE(*codec.lines().dtr, control == Control::DtrOn);
            } else if (control == Control::RtsOn || control == Control::RtsOff) {
                QVERIFY(until([&] { return codec.lines().rts.has_value(); }));
                QCOMPARE(*codec.lines().rts, control == Control::RtsOn);
            }
        }
        QVERIFY(log.setInputs(pty.slavePath(), "DSR RI DCD"));
        QVERIFY(until([&] {
            return modem() ==
                   (Rfc2217Client::ModemDsr | Rfc2217Client::ModemRi | Rfc2217Client::ModemDcd);
        }));
        QVERIFY(data.isEmpty());
    }

    // The port's own lines on a device, at the level of the system calls:
    // each change is one request and is read back; "Beim Öffnen" lowers a
    // line at the opening; a refused change is 8020 with the system's reason
    // and leaves the line as the device has it; a refusal at the opening is
    // told once and the port opens all the same. Closed, nothing is asked.
    void devicePortLines_data()
    {
        QTest::addColumn<OpenLevels>("levels");
        QTest::addColumn<QByteArray>("refuse"); // what the device refuses
        // "DTR 0", "RTS 1", "BREAK 1"; "pulse DTR"; "in CTS ..." (input lines)
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("logged"); // after the opening
        QTest::addColumn<ModemLines>("lines");   // read at the end
        QTest::addColumn<int>("error");          // of the last step
        QTest::addColumn<int>("told");           // through Failed, at the opening
        const OpenLevels on;
        const ModemLines up{true, true, false, false, false, false};
        QTest::newRow("set and read back")
            << on << QByteArray() << QStringList{"DTR 0", "RTS 0", "RTS 1", "in CTS DCD"}
            << QStringList{"DTR 0", "RTS 0", "RTS 1"}
            << ModemLines{false, true, true, false, true, false} << 0 << 0;
        QTest::newRow("Beim Öffnen: both off")
            << OpenLevels{false, false} << QByteArray() << QStringList()
            << QStringList{"DTR 0", "RTS 0"} << ModemLines{false, false, false, false, false, false}
            << 0 << 0;
        QTest::newRow("Beim Öffnen: RTS off")
            << OpenLevels{true, false} << QByteArray() << QStringList() << QStringList{"RTS 0"}
            << ModemLines{true, false, false, false, false, false} << 0 << 0;
        QTest::newRow("break and reset pulse")
            << on << QByteArray() << QStringList{"BREAK 1", "BREAK 0", "pulse RTS"}
            << QStringList{"BREAK 1", "BREAK 0", "RTS 0", "RTS 1"} << up << 0 << 0;
        QTest::newRow("RTS refused")
            << on << QByteArray("RTS") << QStringList{"DTR 0", "RTS 0"}
            << QStringList{"DTR 0", "RTS 0 refused"}
            << ModemLines{false, true, false, false, false, false} << 8020 << 0;
        QTest::newRow("break refused") << on << QByteArray("BREAK") << QStringList{"BREAK 1"}
                                       << QStringList{"BREAK 1 refused"} << up << 8020 << 0;
        QTest::newRow("refused at the opening")
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
                else if (step.startsWith("in "))
                    QVERIFY(log.setInputs(pty.slavePath(), step.mid(3).toLatin1()));
                else {
                    LinePulser pulser(control);
                    QSignalSpy finished(&pulser, &LinePulser::finished);
                    pulser.pulse(LinePulser::Line::Rts);
                    QVERIFY(finished.wait(5000));
                }
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

    // The same port on a serial server: "Beim Öffnen", a line change and a
    // break reach the server's device through the real ser2net, and the
    // lines read back are the server's answers. A tcp:// port has none.
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
        Ser2NetServer server(log.folder(), pty.slavePath(), accepter);
        server.setEnvironment("LD_PRELOAD", KAVRO_MODEMLINES_LIBRARY);
        server.setEnvironment("KAVRO_MODEMLINES", log.folder());
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        OpenLevels::save(5, {false, true});
        LinkedPort linked(server.url());
        QVERIFY(linked.port);
        ModemControl &control = linked.port->modemLines();
        linked.port->setPortOpen(true);
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

        control.setDtr(true);
        QCOMPARE(control.lines().dtr, std::optional<bool>(true));
        control.setBreak(true);
        control.setBreak(false);
        QTRY_COMPARE(since("DTR 0"), (QStringList{"DTR 1", "BREAK 1", "BREAK 0"}));
    }

    // Through the window as the operator does it: the lamp's menu changes
    // the real line, and the menu and the tooltip show the line as the
    // device has it afterwards; a refusal is told once, with its reason.
    void lampMenuInWindow_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("refuse");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QString>("tip"); // the outputs after it
        QTest::newRow("DTR") << "DTR" << QByteArray() << "DTR 0"
                             << "Ausgänge: DTR aus, RTS an";
        QTest::newRow("RTS refused") << "RTS" << QByteArray("RTS") << "RTS 0 refused"
                                     << "Ausgänge: DTR an, RTS an";
    }
    void lampMenuInWindow()
    {
        QFETCH(QString, entry);
        QFETCH(QByteArray, refuse);
        QFETCH(QString, logged);
        QFETCH(QString, tip);
        FarEnd pty;
        QVERIFY(pty.isValid());
        ModemLineLog log;
        QVERIFY(log.refuse(pty.slavePath(), refuse));
        OpenLevels::save(5, {});
        LinkedPort linked(pty.slavePath());
        QVERIFY(linked.port);
        Rig rig(linked.port.release());
        rig.f.Comport->setEditText("5");
        rig.f.Verbind->click();
        QCOMPARE(rig.lamp(), Lamp::Green);
        QVERIFY(shownToolTip(rig.f.Shape1).startsWith("Ausgänge: DTR an, RTS an\n"));

        const QPoint middle = rig.f.Shape1->rect().center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, middle,
                                rig.f.Shape1->mapToGlobal(middle));
        QApplication::sendEvent(rig.f.Shape1, &click);
        QMenu *menu = rig.window.findChild<QMenu *>("lineMenu");
        QVERIFY(menu && menu->isVisible());
        QAction *line = menuEntry(menu, entry);
        QVERIFY(line->isEnabled() && line->isChecked());
        line->trigger();
        QCOMPARE(log.requests(pty.slavePath()).last(), logged);
        QCOMPARE(line->isChecked(), !refuse.isEmpty()); // off, or on as it stayed
        if (refuse.isEmpty())
            QVERIFY2(rig.boxes.shown.isEmpty(), qPrintable(rig.boxes.shown.join('\n')));
        else
            QVERIFY2(rig.boxes.toldOnly(8020, entry + " lässt sich am Anschluss") &&
                         rig.boxes.shown[0].contains(qt_error_string(EINVAL)),
                     qPrintable(rig.boxes.shown.join('\n')));
        menu->hide();
        QVERIFY(shownToolTip(rig.f.Shape1).startsWith(tip + '\n'));
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
        QCOMPARE(box->text(), QStringLiteral("AT"));

        rig.control<QPushButton>("send_win")->click();
        QCOMPARE(receiveWhileRunning(pty, 3), QByteArray("AT\r"));
        QVERIFY(rig.boxes.shown.isEmpty());
        box->setText(QString());
        QTest::keyClick(box, Qt::Key_Up);
        QCOMPARE(box->text(), QStringLiteral("AT"));
        QCOMPARE(CommandHistory().commands(), QStringList{"AT"});
    }

    // "Break senden" and "Reset-Puls": the first half at once, the second
    // after its time (never before it), nothing while the port cannot.
    void pulses_data()
    {
        QTest::addColumn<QString>("what");      // "break", "dtr", "rts"
        QTest::addColumn<LineAccess>("access"); // when asked
        QTest::addColumn<QString>("meanwhile"); // "close", "refuse X", "again"
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("error");  // thrown when asked
        QTest::addColumn<int>("failed"); // told when the second half failed
        QTest::newRow("Break senden")
            << "break" << LineAccess::Full << "" << QStringList{"BREAK 1", "BREAK 0"} << 0 << 0;
        QTest::newRow("Reset-Puls DTR")
            << "dtr" << LineAccess::Full << "" << QStringList{"DTR 0", "DTR 1"} << 0 << 0;
        QTest::newRow("Reset-Puls RTS, asked twice")
            << "rts" << LineAccess::Full << "again" << QStringList{"RTS 0", "RTS 1"} << 0 << 0;
        QTest::newRow("closed") << "break" << LineAccess::Closed << "" << QStringList() << 8012
                                << 0;
        QTest::newRow("device away")
            << "dtr" << LineAccess::Away << "" << QStringList() << 8021 << 0;
        QTest::newRow("tcp port") << "rts" << LineAccess::NoControlLines << "" << QStringList()
                                  << 380 << 0;
        QTest::newRow("closed meanwhile")
            << "dtr" << LineAccess::Full << "close" << QStringList{"DTR 0"} << 0 << 0;
        QTest::newRow("end refused") << "break" << LineAccess::Full << "refuse BREAK 0"
                                     << QStringList{"BREAK 1"} << 0 << 8020;
    }
    void pulses()
    {
        QFETCH(QString, what);
        QFETCH(LineAccess, access);
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, calls);
        QFETCH(int, error);
        QFETCH(int, failed);
        ScriptedLines lines;
        lines.access = access;
        LinePulser pulser(lines);
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
        QCOMPARE(errorOf(ask), error);
        if (error) {
            QVERIFY(!pulser.busy());
            QCOMPARE(lines.calls, QStringList());
            return;
        }
        QVERIFY(pulser.busy());
        if (meanwhile == "again")
            QCOMPARE(errorOf(ask), 0); // ignored while one runs
        if (meanwhile == "close")
            lines.access = LineAccess::Closed;
        if (meanwhile.startsWith("refuse "))
            lines.refuse = meanwhile.mid(7);
        QVERIFY(finished.wait(5000));
        QCOMPARE(lines.calls, calls);
        QCOMPARE(told, failed ? QList<int>{failed} : QList<int>());
        if (calls.size() == 2)
            QVERIFY(lines.times[1] - lines.times[0] >=
                    (what == "break" ? LinePulser::BreakMs : LinePulser::PulseMs) * 1000000LL);
    }

    // The entries of the lamp's menu and its tooltip, for each state of the
    // port; "Beim Öffnen" at any time, given a port number.
    void lineMenu_data()
    {
        QTest::addColumn<LineAccess>("access");
        QTest::addColumn<ModemLines>("state");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QString>("tip");
        const ModemLines some{true, false, true, false, true, false};
        QTest::newRow("open") << LineAccess::Full << some << ""
                              << QStringList{"CTS: an", "DSR: aus", "DCD: an", "RI: aus"}
                              << "Ausgänge: DTR an, RTS aus\n"
                                 "Eingänge: CTS an, DSR aus, DCD an, RI aus";
        QTest::newRow("server that has not told")
            << LineAccess::Full << ModemLines{true, true, {}, {}, {}, {}} << ""
            << QStringList{"CTS: unbekannt", "DSR: unbekannt", "DCD: unbekannt", "RI: unbekannt"}
            << "Ausgänge: DTR an, RTS an\n"
               "Eingänge: CTS unbekannt, DSR unbekannt, DCD unbekannt, RI unbekannt";
        const QStringList bare{"CTS", "DSR", "DCD", "RI"};
        QTest::newRow("closed, no port number")
            << LineAccess::Closed << some << "Der Anschluss ist nicht geöffnet." << bare << "";
        const QString tcp =
            "Ein tcp://-Anschluss überträgt nur Bytes und hat keine Steuerleitungen.";
        QTest::newRow("tcp") << LineAccess::NoControlLines << some << tcp << bare << tcp;
    }
    void lineMenu()
    {
        QFETCH(LineAccess, access);
        QFETCH(ModemLines, state);
        QFETCH(QString, reason);
        QFETCH(QStringList, inputs);
        QFETCH(QString, tip);
        ScriptedLines lines;
        lines.access = access;
        lines.state = state;
        LinePulser pulser(lines);
        QMenu menu;
        const bool number = access != LineAccess::Closed;
        fillLineMenu(&menu, lines, pulser, number ? std::optional<qint16>(3) : std::nullopt,
                     [](const std::function<void()> &f) { f(); });
        const bool open = reason.isEmpty();
        QCOMPARE(menu.actions().first()->isVisible(), !open);
        QCOMPARE(menu.actions().first()->text(), reason);
        for (const char *path :
             {"DTR", "RTS", "Break senden", "Reset-Puls/DTR", "Reset-Puls/RTS"}) {
            QAction *a = menuEntry(&menu, path);
            QVERIFY2(a, path);
            QCOMPARE(a->isEnabled(), open);
            QCOMPARE(a->toolTip(), open ? a->text() : reason); // Qt shows the text by default
        }
        QCOMPARE(menuEntry(&menu, "DTR")->isChecked(), open && *state.dtr);
        QCOMPARE(menuEntry(&menu, "RTS")->isChecked(), open && *state.rts);
        QAction *atOpen = menuEntry(&menu, "Beim Öffnen/DTR");
        QCOMPARE(atOpen->isEnabled(), number);
        QCOMPARE(atOpen->toolTip(), number ? "DTR" : "Keine gültige Portnummer gewählt.");
        QStringList shown;
        for (const char *name : {"CTS", "DSR", "DCD", "RI"})
            for (QAction *a : menu.actions())
                if (a->text().section(':', 0, 0) == name && !a->isEnabled())
                    shown.append(a->text());
        QCOMPARE(shown, inputs);
        QCOMPARE(lineToolTip(lines), tip);
    }

    // A change is read back from the port, also one the device refused; the
    // refusal goes to the runner (the error reporter), once. The open menu
    // follows the lines, and a break or pulse running disables the timed
    // entries. "Beim Öffnen" is kept per port number in the settings file.
    void lineMenuActs()
    {
        ScriptedLines lines;
        lines.refuse = "RTS 0";
        LinePulser pulser(lines);
        QList<int> told;
        QMenu menu;
        fillLineMenu(&menu, lines, pulser, 3, [&](const std::function<void()> &f) {
            try {
                f();
            } catch (const KavroError &e) {
                told.append(e.number());
            }
        });
        menuEntry(&menu, "DTR")->trigger();
        QCOMPARE(lines.calls, QStringList{"DTR 0"});
        QVERIFY(!menuEntry(&menu, "DTR")->isChecked());
        menuEntry(&menu, "RTS")->trigger();
        QCOMPARE(told, QList<int>{8020});
        QVERIFY(menuEntry(&menu, "RTS")->isChecked()); // what the line really is
        menuEntry(&menu, "Reset-Puls/DTR")->trigger();
        QCOMPARE(lines.calls, (QStringList{"DTR 0", "DTR 0"}));
        QVERIFY(!menuEntry(&menu, "Break senden")->isEnabled());

        menu.popup(QPoint(0, 0));
        lines.state.cts = true;
        QTRY_VERIFY(menuEntry(&menu, "CTS: an"));
        QTRY_VERIFY(menuEntry(&menu, "Break senden")->isEnabled()); // the pulse has ended
        QVERIFY(menuEntry(&menu, "DTR")->isChecked());
        menu.hide();
        QCOMPARE(told.size(), 1);

        QVERIFY(menuEntry(&menu, "Beim Öffnen/RTS")->isChecked());
        menuEntry(&menu, "Beim Öffnen/RTS")->trigger();
        QCOMPARE(OpenLevels::load(3), (OpenLevels{true, false}));
        QMenu again;
        fillLineMenu(&again, lines, pulser, 3, [](const std::function<void()> &f) { f(); });
        QVERIFY(!menuEntry(&again, "Beim Öffnen/RTS")->isChecked());
    }

    // What the box holds reads back exactly; control bytes (and the others
    // the receive box shows boxed) stand as boxed objects however they came.
    void boxedBytes_data()
    {
        QTest::addColumn<QString>("how"); // "menu:…", "hex:…", "paste:…", "set:…"
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("boxed");
        QTest::newRow("menu ETX") << "menu:Steuerzeichen einfügen/ETX (Strg+C)"
                                  << "\x03" << 1;
        QTest::newRow("menu DEL") << "menu:Steuerzeichen einfügen/DEL"
                                  << "\x7f" << 1;
        QTest::newRow("hex, CR LF a line break")
            << "hex:1b5B41 00 0D0A 0d 81 a0 ff"
            << "\x1b[A" + QString(QChar(0)) + "\r\n\r\u0081\u00a0\u00ff" << 4;
        QTest::newRow("pasted tab and escape") << "paste:a\tb\x1b"
                                               << "a\tb\x1b" << 2;
        QTest::newRow("a command from the history") << "set:\x1b[2J\r\nA"
                                                    << "\x1b[2J\r\nA" << 1;
        QTest::newRow("hex dialog cancelled") << "hex:"
                                              << "" << 0;
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
        QCOMPARE(dialog.message(), QStringLiteral("„G“ an Stelle 5 ist keine Hexziffer (erlaubt "
                                                  "sind 0–9 und A–F)."));
        QVERIFY(!dialog.acceptable());
        QCOMPARE(dialog.bytes(), std::nullopt);
        dialog.field()->setText("1b5b41");
        QVERIFY(dialog.acceptable());
        QCOMPARE(dialog.message(), QStringLiteral("3 Bytes"));
        QCOMPARE(dialog.bytes(), std::optional<QByteArray>("\x1b[A"));
    }

    // "Sofort senden": the one byte, the command untouched; the common three
    // first.
    void sendNow()
    {
        CommandBox box;
        box.setText("AT");
        QSignalSpy sent(&box, &CommandBox::sendNow);
        std::unique_ptr<QMenu> menu(box.createContextMenu());
        QMenu *now = menuEntry(menu.get(), "Sofort senden")->menu();
        QCOMPARE(now->actions().size(), 34); // 33 and a separator
        QCOMPARE(now->actions()[2]->text(), QStringLiteral("ESC (Strg+[)"));
        now->actions()[0]->trigger();
        menuEntry(now, "NUL (Strg+@)")->trigger();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0][0].value<char>(), '\x03');
        QCOMPARE(sent[1][0].value<char>(), '\0');
        QCOMPARE(box.text(), QStringLiteral("AT"));
    }

    // The commands sent before, by the keys: Up on the first line, Down on
    // the last, Ctrl+Up and Ctrl+Down anywhere; the command being written
    // comes back, and a command comes back exactly as it went out.
    void historyKeys_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("keys"); // u d: Up, Down; U D: with Ctrl; h: Ctrl+Home
        QTest::addColumn<QString>("shown");
        QTest::newRow("newest first") << ""
                                      << "u"
                                      << "ATI";
        QTest::newRow("older") << ""
                               << "uu"
                               << "A\x1b\r\nB";
        QTest::newRow("no older than the oldest") << ""
                                                  << "uuuu"
                                                  << "AT";
        QTest::newRow("back to the command being written") << "neu"
                                                           << "uud"
                                                           << "ATI";
        QTest::newRow("and to itself") << "neu"
                                       << "uudd"
                                       << "neu";
        QTest::newRow("Up not on the first line") << "1\r\n2"
                                                  << "u"
                                                  << "1\r\n2";
        QTest::newRow("Ctrl+Up anywhere") << "1\r\n2"
                                          << "U"
                                          << "ATI";
        QTest::newRow("Down on the last line") << ""
                                               << "uud"
                                               << "ATI";
        QTest::newRow("Down not on the last line") << ""
                                                   << "uuhd"
                                                   << "A\x1b\r\nB";
        QTest::newRow("Ctrl+Down anywhere") << ""
                                            << "uuhD"
                                            << "ATI";
    }
    void historyKeys()
    {
        QFETCH(QString, written);
        QFETCH(QString, keys);
        QFETCH(QString, shown);
        QTemporaryDir state;
        CommandHistory history(state.filePath("history.json"));
        CommandBox box;
        box.resize(300, 80);
        box.show();
        box.setHistory(&history);
        for (const char *sent : {"AT", "A\x1b\r\nB", "ATI"})
            box.recordSent(sent);
        box.setText(written);
        box.moveCursor(QTextCursor::End);
        for (const QChar k : keys)
            QTest::keyClick(&box,
                            k == 'h'             ? Qt::Key_Home
                            : k.toLower() == 'u' ? Qt::Key_Up
                                                 : Qt::Key_Down,
                            k.isUpper() || k == 'h' ? Qt::ControlModifier : Qt::NoModifier);
        QCOMPARE(box.text(), shown);
    }
};

QTEST_MAIN(TestLines)
#include "tst_lines.moc"
