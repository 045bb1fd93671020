// The saved commands through the real window and port layer, a
// pseudo-terminal's master as the far end (port 5): a key's command exact at
// the far end, repeats stopped by Esc and by closing, sequences that wait for
// an answer split over two receive events, automatic replies with their rate
// limit, and the file that outlives the window.

#include "commanddesk.h"
#include "commandquestions.h"
#include "commandswindow.h"
#include "deviceserialport.h"
#include "fakes.h"
#include "historystore.h"
#include "kavrosettings.h"
#include "support.h"

#include <QtWidgets>

#include <cstdio>

Q_DECLARE_METATYPE(TerminatorChoice)

namespace
{

class FakeQuestions : public CommandQuestions
{
public:
    // What "Als Befehl speichern" was offered; the answer changes it so.
    QList<SavedCommand> offered;
    std::function<void(SavedCommand &)> change = [](SavedCommand &) {};
    std::optional<SavedCommand> edited; // askEdit's answer; none: cancelled
    std::optional<Replies> replies;
    QString file;
    bool yes = true;
    QStringList told;

    int answers = -1; // how many askSave answers before it is cancelled; -1: no end
    std::optional<SavedCommand> askSave(QWidget *, const SavedCommand &proposal) override
    {
        if (answers >= 0 && answers-- == 0)
            return std::nullopt;
        offered.append(proposal);
        SavedCommand answer = proposal;
        change(answer);
        return answer;
    }
    std::optional<SavedCommand> askEdit(QWidget *, const SavedCommand &, const QString &) override
    {
        return std::exchange(edited, std::nullopt);
    }
    std::optional<Replies> askReplies(QWidget *, const Replies &) override
    {
        return std::exchange(replies, std::nullopt);
    }
    bool askYes(QWidget *, const QString &) override { return yes; }
    QString askFile(QWidget *, bool) override { return file; }
    void tell(QWidget *, const QString &message) override { told.append(message); }
};

// The text of the tooltip on show, as the operator reads it.
QString tipText()
{
    const QLabel *tip = tipOnShow();
    if (!tip)
        return {};
    QTextDocument shown;
    shown.setHtml(tip->text());
    return shown.toRawText()
        .replace(QChar::ParagraphSeparator, '\n')
        .replace(QChar::LineSeparator, '\n');
}

} // namespace

class TestCommandsWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> links;
    std::unique_ptr<FarEnd> pty;
    std::unique_ptr<Rig> rig;
    FakeQuestions questions;

    CommandDesk &desk() { return rig->window.commands(); }
    void makeRig()
    {
        auto *port = new DeviceSerialPort(
            {PortMap(links->path(), [] { return QStringList(); }), {links->path()}});
        rig = std::make_unique<Rig>(port);
        rig->window.setCommandQuestions(&questions);
        rig->f.Comport->setEditText("5");
        rig->f.Verbind->click();
        rig->window.show();
        rig->window.activateWindow();
    }
    // Adds a command as "Neu…" in the commands window does.
    void add(const SavedCommand &command)
    {
        questions.edited = command;
        rig->window.showCommands()->addCommand();
        rig->window.activateWindow();
    }
    bool pressKey(Qt::Key key)
    {
        if (!QTest::qWaitForWindowActive(&rig->window))
            return false;
        QTest::keyClick(&rig->window, key);
        return true;
    }
    qint64 receivedEnd() { return rig->window.history().log()->receivedEnd(); }
    // The far end sends the pieces one receive event after the other.
    bool sendInPieces(const QByteArrayList &pieces)
    {
        for (const QByteArray &piece : pieces) {
            const qint64 before = receivedEnd();
            if (!pty->send(piece) ||
                !QTest::qWaitFor([&] { return receivedEnd() == before + piece.size(); }))
                return false;
        }
        return true;
    }
    // The history's sent lines and the commands' remarks.
    QStringList historyOfCommands()
    {
        const std::shared_ptr<HistoryLog> &log = rig->window.history().log();
        QStringList out;
        for (const HistoryLine &l : log->lines(log->beginLine(), log->endLine() - log->beginLine()))
            if (l.kind == HistoryLine::Sent)
                out.append(QStringLiteral("gesendet: ") + QString::fromLatin1(log->content(l)));
            else if (l.flags & HistoryLine::Remark)
                out.append(QString::fromUtf8(log->content(l)));
        return out;
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(KavroSettings::commandsPath());
        QFile::remove(KavroSettings::commandsPath() + QStringLiteral(".beschädigt"));
        links = std::make_unique<QTemporaryDir>();
        pty = std::make_unique<FarEnd>();
        QVERIFY(pty->isValid());
        QVERIFY(QFile::link(pty->slavePath(), links->filePath("com5")));
        questions = FakeQuestions();
        makeRig();
        QVERIFY2(rig->lamp() == Lamp::Green, qPrintable(rig->boxes.shown.join('\n')));
    }

    void cleanup()
    {
        rig.reset();
        pty.reset();
        links.reset();
    }

    // "Als Befehl speichern…" keeps the box's text with its control and hex
    // bytes; its key sends exactly those bytes and the terminator chosen,
    // and the history shows the name with the sent line.
    void keySendsExactBytes_data()
    {
        QTest::addColumn<TerminatorChoice>("choice");
        QTest::addColumn<QString>("windowOption");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("wie im Fenster: nur CR")
            << TerminatorChoice::Window << "Option2" << QByteArray("A\x02\x81\xff\x1b\r");
        QTest::newRow("wie im Fenster: kein Zeichen")
            << TerminatorChoice::Window << "Option1" << QByteArray("A\x02\x81\xff\x1b");
        QTest::newRow("kein Zeichen")
            << TerminatorChoice::None << "Option4" << QByteArray("A\x02\x81\xff\x1b");
        QTest::newRow("nur CR") << TerminatorChoice::Cr << "Option3"
                                << QByteArray("A\x02\x81\xff\x1b\r");
        QTest::newRow("nur LF") << TerminatorChoice::Lf << "Option2"
                                << QByteArray("A\x02\x81\xff\x1b\n");
        QTest::newRow("CR / LF") << TerminatorChoice::CrLf << "Option1"
                                 << QByteArray("A\x02\x81\xff\x1b\r\n");
        QTest::newRow("LF / CR") << TerminatorChoice::LfCr << "Option1"
                                 << QByteArray("A\x02\x81\xff\x1b\n\r");
    }
    void keySendsExactBytes()
    {
        QFETCH(TerminatorChoice, choice);
        QFETCH(QString, windowOption);
        QFETCH(QByteArray, bytes);
        rig->control<QRadioButton>(windowOption)->setChecked(true);
        // F1 is taken: the first free key is offered.
        SavedCommand other;
        other.name = QStringLiteral("Erster");
        other.key = 1;
        add(other);
        rig->f.SendWin->setText(QStringLiteral("A"));
        rig->f.SendWin->insertBytes("\x02\x81\xff\x1b");
        questions.change = [choice](SavedCommand &c) { c.terminator = choice; };
        std::unique_ptr<QMenu> menu(rig->f.SendWin->createContextMenu());
        QAction *save = nullptr;
        for (QAction *a : menu->actions())
            if (a->text() == QStringLiteral("Als Befehl speichern…"))
                save = a;
        QVERIFY(save);
        save->trigger();
        QCOMPARE(questions.offered.size(), 1);
        QCOMPARE(questions.offered.at(0).name, QStringLiteral("A<STX><81>ÿ<ESC>"));
        QCOMPARE(questions.offered.at(0).key, 2);
        QCOMPARE(questions.offered.at(0).terminator, TerminatorChoice::Window);
        QVERIFY(pressKey(Qt::Key_F2));
        QCOMPARE(pty->receive(bytes.size()), bytes);
        QCOMPARE(historyOfCommands(),
                 QStringList({QStringLiteral("Befehl „A<STX><81>ÿ<ESC>“"),
                              QStringLiteral("gesendet: ") + QString::fromLatin1(bytes)}));

        // A closed port sends nothing and says why beside the box.
        rig->f.Verbind->click();
        QVERIFY(pressKey(Qt::Key_F2));
        QCOMPARE(tipText(), QStringLiteral("Der Anschluss ist nicht geöffnet."));
        QVERIFY(pressKey(Qt::Key_F7));
        QCOMPARE(tipText(), QStringLiteral("Auf F7 liegt kein Befehl."));
        QCOMPARE(pty->receive(1, 100), QByteArray());
    }

    // Ctrl+B and "Befehle…" in the command box's menu open the window,
    // named after the open port, and raise it again.
    void opensFromTheMainWindow()
    {
        QVERIFY(QTest::qWaitForWindowActive(&rig->window));
        QTest::keyClick(&rig->window, Qt::Key_B, Qt::ControlModifier);
        auto *commands = rig->window.findChild<CommandsWindow *>();
        QVERIFY(commands && commands->isVisible());
        QCOMPARE(commands->windowTitle(), QStringLiteral("Befehle – Com 5"));
        commands->hide();
        std::unique_ptr<QMenu> menu(rig->f.SendWin->createContextMenu());
        const QList<QAction *> actions = menu->actions();
        const auto entry = std::find_if(actions.begin(), actions.end(), [](QAction *a) {
            return a->text() == QStringLiteral("Befehle…");
        });
        QVERIFY(entry != actions.end());
        (*entry)->trigger();
        QVERIFY(commands->isVisible());
        QCOMPARE(rig->window.findChildren<CommandsWindow *>().size(), 1);
        rig->f.Verbind->click();
        QCOMPARE(commands->windowTitle(), QStringLiteral("Befehle"));
    }

    // The real "Als Befehl speichern" dialog takes its defaults with
    // Return; a key another command has moves when the operator agrees,
    // and stays when not.
    void saveDialogAndKeyMove()
    {
        SavedCommand proposal;
        proposal.name = QStringLiteral("AT<CR>");
        proposal.text = QStringLiteral("AT\r");
        proposal.key = 4;
        QTimer::singleShot(0, this, [] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
        });
        QCOMPARE(QtCommandQuestions().askSave(&rig->window, proposal), proposal);

        SavedCommand first;
        first.name = QStringLiteral("Erster");
        first.key = 4;
        add(first);
        // Not moved: asked again; an empty name is told and asked again;
        // then cancelled, and nothing changed.
        questions.yes = false;
        questions.answers = 3;
        int asked = 0;
        questions.change = [&asked](SavedCommand &c) {
            c.key = 4;
            // The question comes again with what was entered.
            if (++asked == 2)
                c.name.clear();
            else if (asked == 3 && c.name.isEmpty())
                c.name = QStringLiteral("AT");
        };
        rig->f.SendWin->setText(QStringLiteral("AT"));
        Q_EMIT rig->f.SendWin->saveAsCommand(rig->f.SendWin->text());
        QCOMPARE(desk().book().size(), 1);
        QCOMPARE(questions.told.join("/"),
                 QStringLiteral("Bitte geben Sie dem Befehl einen Namen."));
        QCOMPARE(asked, 3);
        questions.yes = true;
        questions.answers = -1;
        questions.change = [](SavedCommand &c) { c.key = 4; };
        Q_EMIT rig->f.SendWin->saveAsCommand(rig->f.SendWin->text());
        QCOMPARE(desk().book().size(), 2);
        QCOMPARE(desk().book().at(0).key, 0);
        QCOMPARE(desk().book().at(1).key, 4);
        QCOMPARE(desk().book().at(1).name, QStringLiteral("AT"));
    }

    // A repeat sends no more often than its period over a window of time,
    // shows beside the box that it runs, and stops with Esc or when the
    // port closes: nothing of it reaches the far end afterwards.
    void repeatStops_data()
    {
        QTest::addColumn<bool>("byClosing");
        QTest::newRow("Esc") << false;
        QTest::newRow("closing") << true;
    }
    void repeatStops()
    {
        QFETCH(bool, byClosing);
        rig->control<QRadioButton>("Option2")->setChecked(true);
        SavedCommand poll;
        poll.name = QStringLiteral("Poll");
        poll.text = QStringLiteral("P");
        poll.key = 3;
        poll.periodMs = 20;
        add(poll);
        QElapsedTimer window;
        window.start();
        QVERIFY(pressKey(Qt::Key_F3));
        QCOMPARE(rig->f.SendWin->toolTip().isEmpty(), false);
        QCOMPARE(rig->f.SendWin->runningBadge(), QStringLiteral("↻ Poll"));
        QCOMPARE(desk().runningText(),
                 QStringLiteral("„Poll“ wird alle 20 ms gesendet\nEsc hält an."));
        const QByteArray first = receiveWhileRunning(*pty, 5 * 2);
        if (byClosing) {
            rig->f.Verbind->click();
            QCOMPARE(tipText(), QStringLiteral("Wiederholungen und Folgen sind beendet: der "
                                               "Anschluss wurde geschlossen."));
        } else {
            QVERIFY(pressKey(Qt::Key_Escape));
        }
        const qint64 elapsed = window.elapsed();
        QVERIFY(!desk().anyRunning());
        QCOMPARE(rig->f.SendWin->toolTip(), QString());
        QCOMPARE(rig->f.SendWin->runningBadge(), QString());
        const QByteArray all = first + pty->receive(1, 100);
        QCOMPARE(all, QByteArray("P\r").repeated(all.size() / 2));
        // The first goes out at once, then one each period at most.
        QVERIFY2(all.size() / 2 <= elapsed / poll.periodMs + 1,
                 qPrintable(QStringLiteral("%1 in %2 ms").arg(all.size() / 2).arg(elapsed)));
        QCOMPARE(pty->receive(1, 100), QByteArray());
    }

    // While the device is away a repeat rests, says so in the list, and
    // goes on when the device is back.
    void repeatPausesWhileAway()
    {
        rig->control<QRadioButton>("Option2")->setChecked(true);
        SavedCommand poll;
        poll.name = QStringLiteral("Poll");
        poll.text = QStringLiteral("P");
        poll.key = 6;
        poll.periodMs = 30;
        add(poll);
        QVERIFY(pressKey(Qt::Key_F6));
        QVERIFY(receiveWhileRunning(*pty, 4).startsWith("P\rP\r"));
        CommandsWindow *w = rig->window.showCommands();
        pty->closeSlave();
        pty->closeMaster();
        QTRY_COMPARE(rig->lamp(), Lamp::Amber);
        QVERIFY(desk().anyRunning());
        QCOMPARE(w->list()->item(0, 4)->text(),
                 QStringLiteral("angehalten, bis das Gerät wieder da ist (alle 30 ms)"));
        auto back = std::make_unique<FarEnd>();
        const QString link = links->filePath("com5");
        QVERIFY(QFile::link(back->slavePath(), link + ".new"));
        QCOMPARE(::rename(QFile::encodeName(link + ".new").constData(),
                          QFile::encodeName(link).constData()),
                 0);
        pty = std::move(back);
        QTRY_COMPARE_WITH_TIMEOUT(rig->lamp(), Lamp::Green, 5000);
        QCOMPARE(w->list()->item(0, 4)->text(), QStringLiteral("wird alle 30 ms gesendet"));
        const QByteArray got = receiveWhileRunning(*pty, 4, 3000);
        QVERIFY2(got.startsWith("P\rP\r"), got.constData());
        rig->window.activateWindow();
        QVERIFY(pressKey(Qt::Key_Escape));
        QVERIFY(!desk().anyRunning());
    }

    // A sequence sends, waits for its answer split over two receive events
    // and goes on; or, unanswered, stops with a message after its time. Its
    // steps and outcomes are in the history.
    void sequenceWaits_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QByteArray>("atFarEnd");
        QTest::addColumn<QStringList>("history");
        QTest::newRow("answered split")
            << true << QByteArray("AT\rATI\r")
            << QStringList{"Folge „Init“ gestartet",      "Befehl „Init“", "gesendet: AT\r",
                           "Folge „Init“: „OK“ erhalten", "Befehl „Init“", "gesendet: ATI\r",
                           "Folge „Init“ beendet"};
        QTest::newRow("timed out")
            << false << QByteArray("AT\r")
            << QStringList{"Folge „Init“ gestartet", "Befehl „Init“", "gesendet: AT\r",
                           "Folge „Init“ angehalten: „OK“ kam nicht "
                           "innerhalb von 300 ms."};
    }
    void sequenceWaits()
    {
        QFETCH(bool, answered);
        QFETCH(QByteArray, atFarEnd);
        QFETCH(QStringList, history);
        SavedCommand init;
        init.name = QStringLiteral("Init");
        init.steps = {{SequenceStep::Send, "AT", TerminatorChoice::Cr, 0, false, false},
                      {SequenceStep::WaitFor, "OK", TerminatorChoice::Window,
                       answered ? 60000 : 300, false, false},
                      {SequenceStep::Send, "ATI", TerminatorChoice::Cr, 0, false, false}};
        add(init);
        CommandsWindow *w = rig->window.showCommands();
        w->select(0);
        w->findChild<QPushButton *>("senden")->click();
        QCOMPARE(pty->receive(3), QByteArray("AT\r"));
        QCOMPARE(w->list()->item(0, 4)->text(), QStringLiteral("Schritt 2 von 3: wartet auf „OK“"));
        if (answered) {
            // Half the answer is no answer yet.
            QVERIFY(sendInPieces({"O"}));
            QCOMPARE(pty->receive(1, 100), QByteArray());
            QVERIFY(sendInPieces({"K\r\n"}));
        }
        QTRY_VERIFY(!desk().anyRunning());
        QCOMPARE(w->list()->item(0, 4)->text(), QString());
        QCOMPARE(pty->receive(1, 100), atFarEnd.mid(3));
        QCOMPARE(historyOfCommands(), history);
        if (!answered)
            QCOMPARE(w->status(), history.last());
    }

    // An automatic reply answers a prompt split over two receive events,
    // never its own text, and halts with a message when it would answer
    // more than ten times a second.
    void automaticReplies()
    {
        questions.replies =
            CommandQuestions::Replies{{{"login:", false, "root", TerminatorChoice::Cr, false, true},
                                       {"root", false, "root", TerminatorChoice::Cr, false, true}},
                                      true};
        rig->window.showCommands()->editReplies();
        QVERIFY(sendInPieces({"Welcome\r\nlog", "in: "}));
        QCOMPARE(pty->receive(5), QByteArray("root\r"));
        QCOMPARE(historyOfCommands(),
                 QStringList({"Automatische Antwort auf „login:“", "gesendet: root\r"}));
        // What went out is not read as received: the reply that answers
        // "root" with "root" answers the far end once, and then only again
        // when the far end sends it again.
        QVERIFY(sendInPieces({"\r\nroot\r\n"}));
        QCOMPARE(pty->receive(5), QByteArray("root\r"));
        QCOMPARE(pty->receive(1, 100), QByteArray());
        // A flood: 15 prompts, each on a line of its own, in one write, with
        // the rules given afresh.
        questions.replies = CommandQuestions::Replies{desk().book().replies(), true};
        rig->window.showCommands()->editReplies();
        const qint64 before = receivedEnd();
        QVERIFY(pty->send(QByteArray("login:\n").repeated(15)));
        QTRY_COMPARE(receivedEnd(), before + 15 * 7);
        QCOMPARE(pty->receive(50, 200), QByteArray("root\r").repeated(10));
        QCOMPARE(rig->window.showCommands()->status(),
                 QStringLiteral("Die automatische Antwort auf „login:“ ist angehalten: sie hätte "
                                "öfter als 10-mal in einer Sekunde gesendet. Sie antwortet "
                                "wieder, sobald Sie die Antworten erneut einschalten."));
    }

    // The commands outlive the window: a new one reads them; a damaged file
    // offered for import is refused with its line and changes nothing.
    void fileSurvivesRestart()
    {
        SavedCommand a;
        a.name = QStringLiteral("Status");
        a.text = QStringLiteral("AT\x01\r\n");
        a.key = 5;
        a.terminator = TerminatorChoice::LfCr;
        add(a);
        const CommandBook before = desk().book();
        const QByteArray file = contentOf(KavroSettings::commandsPath());
        QVERIFY(writeFile(links->filePath("damaged.json"), "{\"format\": \"kavro-befehle\",\n"
                                                           "\"befehle\": [{]}"));
        questions.file = links->filePath("damaged.json");
        CommandsWindow *w = rig->window.showCommands();
        w->importFile();
        const QString refusal = QStringLiteral("Die Datei „%1“ ist beschädigt: Zeile 2 ist kein "
                                               "gültiges JSON.")
                                    .arg(questions.file);
        QCOMPARE(questions.told, QStringList{refusal});
        QCOMPARE(w->status(), refusal);
        QVERIFY(desk().book() == before);
        QCOMPARE(contentOf(KavroSettings::commandsPath()), file);

        rig.reset();
        makeRig();
        QVERIFY(desk().book() == before);
        QCOMPARE(desk().book().at(0).text, QStringLiteral("AT\x01\r\n"));
        QVERIFY(pressKey(Qt::Key_F5));
        QCOMPARE(pty->receive(5), QByteArray("AT\x01\n\r"));

        // The file itself damaged: the next start tells so, begins without
        // commands and leaves the file; the first save keeps it aside.
        const QByteArray damaged = file.left(file.size() - 3);
        QVERIFY(writeFile(KavroSettings::commandsPath(), damaged));
        rig.reset();
        makeRig();
        rig->window.reportCommandsFile();
        const int line = int(damaged.count('\n')) + 1;
        QTRY_VERIFY2(rig->boxes.toldOnly(
                         75, QStringLiteral("Die Datei „%1“ ist beschädigt: Zeile %2 ist kein "
                                            "gültiges JSON. Kavro beginnt ohne gespeicherte "
                                            "Befehle und lässt die Datei, wie sie ist; wenn Sie "
                                            "Befehle speichern, wird sie vorher als "
                                            "„commands.json.beschädigt“ aufgehoben.")
                                 .arg(KavroSettings::commandsPath())
                                 .arg(line)),
                     qPrintable(rig->boxes.shown.join('\n')));
        QCOMPARE(desk().book().size(), 0);
        QCOMPARE(contentOf(KavroSettings::commandsPath()), damaged);
        add(a);
        QCOMPARE(contentOf(KavroSettings::commandsPath() + QStringLiteral(".beschädigt")), damaged);
        QVERIFY(desk().book() == before);
    }
};

QTEST_MAIN(TestCommandsWindow)
#include "tst_commandswindow.moc"
