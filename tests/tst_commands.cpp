// The saved commands without a window: the bytes a command goes out as, the
// checks of the list, its file, the runner of sequences and repeats and the
// automatic replies. Through the window and a pseudo-terminal in
// tst_commandswindow.

#include "autoreplies.h"
#include "commandbook.h"
#include "commandfile.h"
#include "commandrunner.h"
#include "support.h"
#include "textwatch.h"

#include <QSignalSpy>
#include <QTemporaryDir>

Q_DECLARE_METATYPE(TerminatorChoice)
Q_DECLARE_METATYPE(Terminator)
Q_DECLARE_METATYPE(SavedCommand)
Q_DECLARE_METATYPE(Verdict::Problem)
Q_DECLARE_METATYPE(ReplyRule)

namespace
{
SavedCommand command(const QString &name, int key = 0, const QString &text = QStringLiteral("AT"))
{
    SavedCommand c;
    c.name = name;
    c.text = text;
    c.key = key;
    return c;
}

SequenceStep sendStep(const QString &text)
{
    return {SequenceStep::Send, text, TerminatorChoice::Cr, 0, false, false};
}

SequenceStep waitFor(const QString &text, int ms, bool goOn = false, bool regex = false)
{
    return {SequenceStep::WaitFor, text, TerminatorChoice::Window, ms, regex, goOn};
}

CommandBook twoCommands()
{
    CommandBook book;
    SavedCommand a = command(QStringLiteral("Status"), 1, QStringLiteral("AT\x01\x80"));
    a.terminator = TerminatorChoice::CrLf;
    book.add(a);
    SavedCommand b = command(QStringLiteral("Abfrage"), 2);
    b.periodMs = 250;
    book.add(b);
    SavedCommand c = command(QStringLiteral("Anmelden"));
    c.steps = {sendStep(QStringLiteral("root")),
               waitFor(QStringLiteral("#\\s*$"), 2000, true, true),
               {SequenceStep::Pause, {}, TerminatorChoice::Window, 100, false, false}};
    c.times = 3;
    book.add(c);
    book.setReplies({{QStringLiteral("login:"), false, QStringLiteral("root"), TerminatorChoice::Cr,
                      true, true}});
    book.setRepliesOn(true);
    return book;
}
} // namespace

class TestCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A saved command goes out as the box's "Senden" sends the same text:
    // control characters and bytes typed in hex as themselves, the
    // trailing line breaks replaced by the terminator, "wie im Fenster"
    // taking the window's.
    void bytesOfCommand_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<TerminatorChoice>("choice");
        QTest::addColumn<Terminator>("window");
        QTest::addColumn<QByteArray>("bytes");
        const QString ctrl = QStringLiteral("A\x02") + QChar(0x20AC) + QChar(0xFF) + u'\x1b';
        QTest::newRow("window's CR") << ctrl << TerminatorChoice::Window << Terminator::Cr
                                     << QByteArray("A\x02\x80\xff\x1b\r");
        QTest::newRow("own LF CR") << ctrl << TerminatorChoice::LfCr << Terminator::Cr
                                   << QByteArray("A\x02\x80\xff\x1b\n\r");
        QTest::newRow("none") << ctrl << TerminatorChoice::None << Terminator::CrLf
                              << QByteArray("A\x02\x80\xff\x1b");
        QTest::newRow("trailing break replaced") << QStringLiteral("AT\r\n") << TerminatorChoice::Lf
                                                 << Terminator::Cr << QByteArray("AT\n");
        QTest::newRow("inner break kept") << QStringLiteral("A\r\nB") << TerminatorChoice::CrLf
                                          << Terminator::None << QByteArray("A\r\nB\r\n");
        QTest::newRow("NUL") << QString(QChar(0)) << TerminatorChoice::Cr << Terminator::None
                             << QByteArray("\0\r", 2);
    }
    void bytesOfCommand()
    {
        QFETCH(QString, text);
        QFETCH(TerminatorChoice, choice);
        QFETCH(Terminator, window);
        QFETCH(QByteArray, bytes);
        QCOMPARE(bytesToSend(text, choice, window), bytes);
    }

    // Bad input is refused with a sentence, and the list stays as it was.
    void refusedChanges_data()
    {
        QTest::addColumn<SavedCommand>("change");
        QTest::addColumn<int>("index"); // -1: added
        QTest::addColumn<Verdict::Problem>("problem");
        QTest::addColumn<QString>("message");
        SavedCommand noName = command(QStringLiteral("  "));
        QTest::newRow("empty name") << noName << -1 << Verdict::EmptyName
                                    << QStringLiteral("Bitte geben Sie dem Befehl einen Namen.");
        QTest::newRow("name taken")
            << command(QStringLiteral("Abfrage")) << 0 << Verdict::NameTaken
            << QStringLiteral("Einen Befehl „Abfrage“ gibt es schon. Bitte wählen Sie einen "
                              "anderen Namen.");
        QTest::newRow("key taken") << command(QStringLiteral("Neu"), 2) << -1 << Verdict::KeyTaken
                                   << QStringLiteral("Die Taste F2 gehört schon dem Befehl "
                                                     "„Abfrage“.");
        SavedCommand fast = command(QStringLiteral("Schnell"));
        fast.periodMs = 9;
        QTest::newRow("period 9 ms")
            << fast << -1 << Verdict::PeriodTooShort
            << QStringLiteral("Ein Befehl lässt sich höchstens alle 10 ms wiederholen; 9 ms sind "
                              "zu kurz.");
        SavedCommand badRegex = command(QStringLiteral("Regel"));
        badRegex.steps = {waitFor(QStringLiteral("OK("), 100, false, true)};
        QTest::newRow("regex open group")
            << badRegex << -1 << Verdict::BadPattern
            << QStringLiteral("Schritt 1: Der reguläre Ausdruck „OK(“ ist fehlerhaft: missing "
                              "closing parenthesis (an Stelle 4).");
        SavedCommand anything = badRegex;
        anything.steps = {sendStep(QStringLiteral("x")),
                          waitFor(QStringLiteral("a*"), 10, false, true)};
        QTest::newRow("regex matching nothing")
            << anything << -1 << Verdict::BadPattern
            << QStringLiteral("Schritt 2: Der reguläre Ausdruck „a*“ passt schon auf einen "
                              "leeren Text.");
    }
    void refusedChanges()
    {
        QFETCH(SavedCommand, change);
        QFETCH(int, index);
        QFETCH(Verdict::Problem, problem);
        QFETCH(QString, message);
        CommandBook book = twoCommands();
        const CommandBook before = book;
        const Verdict v = index < 0 ? book.add(change) : book.replace(index, change);
        QCOMPARE(v.problem, problem);
        QCOMPARE(v.message, message);
        QVERIFY(book == before);
        // A period of exactly 10 ms is the shortest taken.
        if (problem == Verdict::PeriodTooShort) {
            change.periodMs = SavedCommand::MinPeriodMs;
            QVERIFY(book.add(change).ok());
        }
    }

    // A key already taken can be moved: the other command keeps no key.
    void keyMoved()
    {
        CommandBook book = twoCommands();
        QCOMPARE(book.firstFreeKey(), 3);
        const Verdict v = book.add(command(QStringLiteral("Neu"), 1));
        QCOMPARE(v.holder, 0);
        book.releaseKey(1);
        QVERIFY(book.add(command(QStringLiteral("Neu"), 1)).ok());
        QCOMPARE(book.at(0).key, 0);
        QCOMPARE(book.holderOf(1), 3);
        QCOMPARE(book.firstFreeKey(), 3);
        book.move(3, 0);
        QCOMPARE(book.at(0).name, QStringLiteral("Neu"));
        QCOMPARE(book.holderOf(2), 2);
    }

    // What is saved reads back the same, control characters included.
    void fileKeepsEverything()
    {
        const CommandBook book = twoCommands();
        const CommandFile::Read read = CommandFile::fromJson(CommandFile::toJson(book), "x");
        QCOMPARE(read.refusal, QString());
        QVERIFY(read.book == book);
    }

    // A file that is not ours, or damaged, is refused with the line where it
    // breaks, and neither the saved commands nor their file change.
    void importRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("refusal"); // %1 the file's name
        QTest::newRow("cut off") << QByteArray("{\n  \"format\": \"kavro-befehle\",\n  "
                                               "\"befehle\": [\n    {\"name\": \"A\"\n")
                                 << QStringLiteral("Die Datei „%1“ ist beschädigt: Zeile 5 ist "
                                                   "kein gültiges JSON.");
        QTest::newRow("comma missing")
            << QByteArray("{\"format\": \"kavro-befehle\",\n\"befehle\": []\n\"x\": 1}")
            << QStringLiteral("Die Datei „%1“ ist beschädigt: Zeile 3 ist kein gültiges JSON.");
        QTest::newRow("empty") << QByteArray()
                               << QStringLiteral("Die Datei „%1“ ist beschädigt: Zeile 1 ist "
                                                 "kein gültiges JSON.");
        QTest::newRow("another program's JSON")
            << QByteArray("{\"commands\": [{\"name\": \"A\"}]}")
            << QStringLiteral("Die Datei „%1“ ist keine Befehlsdatei von Kavro.");
        QTest::newRow("a list") << QByteArray("[1, 2]")
                                << QStringLiteral("Die Datei „%1“ ist keine Befehlsdatei von "
                                                  "Kavro.");
        QTest::newRow("newer version")
            << QByteArray("{\"format\": \"kavro-befehle\", \"version\": 2}")
            << QStringLiteral("Die Datei „%1“ stammt von einer neueren Kavro-Version und wird "
                              "nicht gelesen.");
        QTest::newRow("key twice")
            << QByteArray("{\"format\": \"kavro-befehle\", \"befehle\": [{\"name\": \"A\", "
                          "\"taste\": \"F3\"}, {\"name\": \"B\", \"taste\": \"f3\"}]}")
            << QStringLiteral("Die Datei „%1“ wird nicht gelesen: Befehl 2 („B“): Die Taste F3 "
                              "gehört schon dem Befehl „A“.");
        QTest::newRow("text a number")
            << QByteArray("{\"format\": \"kavro-befehle\", \"befehle\": [{\"name\": \"A\", "
                          "\"text\": 5}]}")
            << QStringLiteral("Die Datei „%1“ wird nicht gelesen: Befehl 1: „text“ ist kein "
                              "Text.");
        QTest::newRow("period too short")
            << QByteArray("{\"format\": \"kavro-befehle\", \"befehle\": [{\"name\": \"A\", "
                          "\"abstand_ms\": 1}]}")
            << QStringLiteral("Die Datei „%1“ wird nicht gelesen: Befehl 1 („A“): Ein Befehl "
                              "lässt sich höchstens alle 10 ms wiederholen; 1 ms sind zu kurz.");
        QTest::newRow("reply regex broken")
            << QByteArray("{\"format\": \"kavro-befehle\", \"antworten\": {\"regeln\": "
                          "[{\"wenn\": \"[a\", \"regex\": true, \"senden\": \"x\"}]}}")
            << QStringLiteral("Die Datei „%1“ wird nicht gelesen: Antworten: Antwort 1: Der "
                              "reguläre Ausdruck „[a“ ist fehlerhaft: missing terminating ] for "
                              "character class (an Stelle 3).");
    }
    void importRefused()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString saved = dir.filePath("commands.json");
        const QString foreign = dir.filePath("import.json");
        QVERIFY(writeFile(foreign, file));
        {
            CommandStore store(saved);
            store.book() = twoCommands();
            store.save();
        }
        const QByteArray before = contentOf(saved);
        CommandStore store(saved);
        QCOMPARE(store.refusal(), QString());
        QCOMPARE(store.import(foreign), refusal.arg(foreign));
        QVERIFY(store.book() == twoCommands());
        QCOMPARE(contentOf(saved), before);

        // The same file as the saved commands themselves: the run starts
        // without them, and the next save keeps the file aside first.
        QVERIFY(writeFile(saved, file));
        CommandStore damaged(saved);
        QCOMPARE(damaged.refusal(), refusal.arg(saved));
        QCOMPARE(damaged.book().size(), 0);
        damaged.book().add(command(QStringLiteral("Neu")));
        damaged.save();
        QCOMPARE(contentOf(saved + QStringLiteral(".beschädigt")), file);
        QCOMPARE(CommandStore(saved).book().at(0).name, QStringLiteral("Neu"));
    }

    // A text looked for is found when it arrives in pieces, and only in
    // what came since the last match.
    void textInPieces_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("regex");
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QList<bool>>("found");
        QTest::newRow("split prompt")
            << QStringLiteral("login: ") << false << QByteArrayList{"Welcome\r\nlog", "in", ": "}
            << QList<bool>{false, false, true};
        QTest::newRow("once per arrival")
            << QStringLiteral("OK") << false << QByteArrayList{"OK", "\r\n", "O", "K"}
            << QList<bool>{true, false, false, true};
        QTest::newRow("control byte") << QStringLiteral("\x06") << false
                                      << QByteArrayList{"\x15", "\x06"} << QList<bool>{false, true};
        QTest::newRow("high byte as the code page reads it")
            << QString(QChar(0x20AC)) << false << QByteArrayList{"\x80"} << QList<bool>{true};
        QTest::newRow("endless line, split where the kept text is cut")
            << QStringLiteral("OK") << false
            << QByteArrayList{QByteArray(TextWatch::Kept + 10, 'x') + 'O', "K"}
            << QList<bool>{false, true};
        QTest::newRow("regex split")
            << QStringLiteral("T=\\d+\\.\\d") << true << QByteArrayList{"T=2", "1.", "5\r\n"}
            << QList<bool>{false, false, true};
    }
    void textInPieces()
    {
        QFETCH(QString, pattern);
        QFETCH(bool, regex);
        QFETCH(QByteArrayList, pieces);
        QFETCH(QList<bool>, found);
        TextWatch watch(pattern, regex);
        QList<bool> got;
        for (const QByteArray &piece : pieces)
            got.append(watch.feed(piece));
        QCOMPARE(got, found);
    }

    // The replies: a prompt split over pieces is answered, once per line,
    // a rule that answers once does so once, and one that would flood the
    // line is halted with a message.
    void replies_data()
    {
        QTest::addColumn<ReplyRule>("rule");
        QTest::addColumn<QByteArrayList>("pieces"); // each piece a millisecond after the last
        QTest::addColumn<QList<int>>("fired");      // per piece
        QTest::addColumn<QStringList>("messages");
        const ReplyRule login{QStringLiteral("login:"), false, QStringLiteral("root"),
                              TerminatorChoice::Cr,     false, true};
        QTest::newRow("split prompt")
            << login << QByteArrayList{"lo", "gin:", " "} << QList<int>{0, 1, 0} << QStringList();
        QTest::newRow("once per line") << login << QByteArrayList{"login: login:", "login:\n"}
                                       << QList<int>{1, 0} << QStringList();
        QTest::newRow("again on the next line")
            << login << QByteArrayList{"login:\r\nlogin:\r", "\nlogin:"} << QList<int>{2, 1}
            << QStringList();
        ReplyRule once = login;
        once.once = true;
        QTest::newRow("once") << once << QByteArrayList{"login:\r\n", "login:\r\n"}
                              << QList<int>{1, 0} << QStringList();
        ReplyRule off = login;
        off.enabled = false;
        QTest::newRow("switched off")
            << off << QByteArrayList{"login:\r\n"} << QList<int>{0} << QStringList();
        QTest::newRow("flood halted")
            << login << QByteArrayList{QByteArray("login:\n").repeated(12), "login:\n"}
            << QList<int>{10, 0}
            << QStringList{QStringLiteral(
                   "Die automatische Antwort auf „login:“ ist angehalten: sie hätte öfter als "
                   "10-mal in einer Sekunde gesendet. Sie antwortet wieder, sobald Sie die "
                   "Antworten erneut einschalten.")};
        ReplyRule regex{QStringLiteral("Passw(or)?t:\\s*$"),
                        true,
                        QStringLiteral("geheim"),
                        TerminatorChoice::Cr,
                        false,
                        true};
        QTest::newRow("regex split")
            << regex << QByteArrayList{"Passw", "ort: "} << QList<int>{0, 1} << QStringList();
    }
    void replies()
    {
        QFETCH(ReplyRule, rule);
        QFETCH(QByteArrayList, pieces);
        QFETCH(QList<int>, fired);
        QFETCH(QStringList, messages);
        qint64 now = 0;
        AutoReplies replies([&now] { return now; });
        replies.setRules({rule}, true);
        QList<int> got;
        QStringList told;
        for (const QByteArray &piece : pieces) {
            const AutoReplies::Outcome outcome = replies.feed(piece);
            got.append(int(outcome.fired.size()));
            told += outcome.messages;
            ++now;
        }
        QCOMPARE(got, fired);
        QCOMPARE(told, messages);
        // Within the rate, a second later all answer again; the global
        // switch silences every rule.
        now += 1000;
        replies.setRules({rule}, true);
        QCOMPARE(replies.feed("\nlogin:\nPasswort: \n").fired.size(), qsizetype(rule.enabled));
        replies.setRules({rule}, false);
        QCOMPARE(replies.feed("\nlogin:\nPasswort: \n").fired.size(), 0);
    }

    // A sequence sends, waits for the answer split over pieces, and either
    // stops with a message or goes on when the answer does not come.
    void sequence_data()
    {
        QTest::addColumn<bool>("goOn");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QByteArrayList>("sent");
        QTest::addColumn<QStringList>("remarks");
        QTest::newRow("answered") << false << true << QByteArrayList{"AT\r", "ATI\r"}
                                  << QStringList{"Folge „Init“ gestartet",
                                                 "Folge „Init“: „OK“ erhalten",
                                                 "Folge „Init“ beendet"};
        QTest::newRow("timeout stops")
            << false << false << QByteArrayList{"AT\r"}
            << QStringList{"Folge „Init“ gestartet",
                           "Folge „Init“ angehalten: „OK“ kam nicht innerhalb von 20 ms."};
        QTest::newRow("timeout goes on")
            << true << false << QByteArrayList{"AT\r", "ATI\r"}
            << QStringList{"Folge „Init“ gestartet",
                           "Folge „Init“: „OK“ kam nicht innerhalb von 20 ms, weiter",
                           "Folge „Init“ beendet"};
    }
    void sequence()
    {
        QFETCH(bool, goOn);
        QFETCH(bool, answered);
        QFETCH(QByteArrayList, sent);
        QFETCH(QStringList, remarks);
        QByteArrayList got;
        CommandRunner runner([&got](const QByteArray &bytes, const QString &) {
            got.append(bytes);
            return QString();
        });
        QStringList told;
        connect(&runner, &CommandRunner::remark, this, [&told](const QString &r) { told += r; });
        SavedCommand init = command(QStringLiteral("Init"));
        init.steps = {sendStep(QStringLiteral("AT")),
                      waitFor(QStringLiteral("OK"), answered ? 60000 : 20, goOn),
                      sendStep(QStringLiteral("ATI"))};
        QCOMPARE(runner.run(init), QString());
        QCOMPARE(runner.stateOf("Init"), QStringLiteral("Schritt 2 von 3: wartet auf „OK“"));
        if (answered) {
            runner.feed("O");
            QCOMPARE(got.size(), 1);
            runner.feed("K\r\n");
        }
        QTRY_VERIFY(!runner.isRunning("Init"));
        QCOMPARE(got, sent);
        QCOMPARE(told, remarks);
    }

    // Stopping is immediate: nothing more goes out, and a repeat whose
    // command the line refuses ends with the reason.
    void stopAndRefusal()
    {
        int sends = 0;
        int refuseFrom = 1 << 30;
        CommandRunner runner([&](const QByteArray &, const QString &) {
            return ++sends >= refuseFrom ? QStringLiteral("Der Anschluss ist nicht geöffnet.")
                                         : QString();
        });
        SavedCommand poll = command(QStringLiteral("Poll"));
        poll.periodMs = 10;
        QCOMPARE(runner.run(poll), QString());
        QCOMPARE(sends, 1);
        QCOMPARE(runner.stateOf("Poll"), QStringLiteral("wird alle 10 ms gesendet"));
        QTRY_VERIFY(sends >= 2);
        runner.stop("Poll");
        QVERIFY(!runner.isRunning("Poll"));
        const int atStop = sends;
        // Another run, whose third send the line refuses.
        refuseFrom = sends + 3;
        QSignalSpy failed(&runner, &CommandRunner::failed);
        QCOMPARE(runner.run(poll), QString());
        QVERIFY(failed.wait());
        QCOMPARE(failed.at(0).at(1).toString(),
                 QStringLiteral("Wiederholung von „Poll“ angehalten: Der Anschluss ist nicht "
                                "geöffnet."));
        QCOMPARE(sends, atStop + 3);
        QVERIFY(!runner.isRunning("Poll"));
        // While the device is away a repeat rests and says so; it goes on
        // when the device is back.
        refuseFrom = 1 << 30;
        QCOMPARE(runner.run(poll), QString());
        runner.setPaused(true);
        const int atPause = sends;
        QCOMPARE(runner.stateOf("Poll"),
                 QStringLiteral("angehalten, bis das Gerät wieder da ist (alle 10 ms)"));
        QCOMPARE(runner.run(poll),
                 QStringLiteral("Das Gerät des Anschlusses ist nicht da; „Poll“ startet nicht."));
        QVERIFY(!runner.isRunning("Poll"));
        runner.setPaused(false);
        QCOMPARE(runner.run(poll), QString());
        QTRY_VERIFY(sends >= atPause + 2);
        runner.stopAll();
        const int atStopAll = sends;
        // Nothing of the stopped runs goes out later.
        QSignalSpy changed(&runner, &CommandRunner::runChanged);
        QVERIFY(!changed.wait(50));
        QCOMPARE(sends, atStopAll);
        // A sequence whose first send is refused does not start, and says why.
        refuseFrom = 0;
        SavedCommand init = command(QStringLiteral("Init"));
        init.steps = {sendStep(QStringLiteral("AT")), waitFor(QStringLiteral("OK"), 1000)};
        QCOMPARE(runner.run(init), QStringLiteral("Der Anschluss ist nicht geöffnet."));
        QVERIFY(!runner.isRunning("Init"));
        QVERIFY(!runner.isRunning("Poll"));
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
