// File transfers from the real window on a pseudo-terminal linked as port 5,
// with lrzsz as the board on the far end: the command box's menu, the
// dialogs (answered through their seams), the progress window, the line
// taken while a transfer runs, the capture and the history, and ZMODEM
// starting by itself.
#include "codepage.h"
#include "commanddesk.h"
#include "deviceserialport.h"
#include "fakes.h"
#include "historyline.h"
#include "historylog.h"
#include "historystore.h"
#include "kavrosettings.h"
#include "protocoltransfer.h"
#include "ptyrelay.h"
#include "support.h"
#include "transfercontrol.h"
#include "transferwindow.h"

namespace
{
QByteArray randomBytes(qsizetype n)
{
    QByteArray b(n, '\0');
    QRandomGenerator gen(17);
    for (auto &c : b)
        c = char(gen.bounded(256));
    return b;
}

QAction *menuEntry(CommandBox *box, const QString &text)
{
    QMenu *menu = box->createContextMenu();
    menu->deleteLater();
    for (QAction *a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}
} // namespace

class TestTransferWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<PtyRelay> relay;
    std::unique_ptr<Rig> rig;
    FakeTransferQuestions questions;

    TransferControl &transfers() { return rig->window.transfers(); }
    // The history's markers about transfers, without their times.
    QStringList transferMarkers()
    {
        const HistoryLog &log = *rig->window.history().log();
        QStringList markers;
        static const QRegularExpression time(
            QStringLiteral(", \\d\\d\\.\\d\\d\\.\\d{4} [\\d:]{8}$"));
        for (const HistoryLine &line : log.lines(log.beginLine(), log.endLine())) {
            const QString text = QString::fromUtf8(log.content(line)).remove(time);
            if (line.kind == HistoryLine::Marker && !text.startsWith("Com "))
                markers << text;
        }
        return markers;
    }
    QStringList shownLines()
    {
        QStringList lines;
        for (const QByteArray &l : rig->window.link().lines().shownLines())
            lines << textFromBytes(l).remove("\r\n");
        return lines;
    }

private Q_SLOTS:
    void init()
    {
        if (!ProtocolTransfer::available())
            QSKIP("lrzsz is not installed");
        questions = {};
        folder = std::make_unique<QTemporaryDir>();
        relay = std::make_unique<PtyRelay>();
        QVERIFY(QFile::link(relay->nearPath(), folder->filePath("com5")));
        auto *port = new DeviceSerialPort(
            {PortMap(folder->path(), [] { return QStringList(); }), {folder->path()}});
        rig = std::make_unique<Rig>(port);
        transfers().setQuestions(&questions);
        rig->f.Comport->setEditText("5");
        rig->f.Verbind->click();
        QVERIFY2(rig->lamp() == Lamp::Green, qPrintable(rig->boxes.shown.join('\n')));
        QDir(folder->path()).mkdir("board");
        QDir(folder->path()).mkdir("hier");
    }
    void cleanup()
    {
        rig.reset();
        relay.reset();
        folder.reset();
    }

    // ZMODEM to the board: the line is the transfer's while it runs, the
    // capture still gets every byte, the history marks both ends.
    void sendWhileLineTaken()
    {
        const QByteArray content = randomBytes(300000);
        const QString path = folder->filePath("firmware.bin");
        QVERIFY(writeFile(path, content));
        relay->setRate(11520 * 4);
        relay->startFar("rz", {"-b"}, folder->filePath("board"));
        QVERIFY(rig->startCapture(folder->filePath("capture.bin")));
        questions.sends = {{path, SendChoice::Method::Zmodem, 0, 0, {}, 5000}};
        menuEntry(rig->f.SendWin, "Datei senden…")->trigger();
        QCOMPARE(questions.ports, QList<int>{5});
        QVERIFY(transfers().running());
        const QString owner = QStringLiteral(
            "Übertragung läuft (firmware.bin senden, ZMODEM) – der Anschluss ist belegt.");
        QCOMPARE(rig->window.link().lineOwner(), owner);
        // A command now is refused with the reason; nothing of it goes out.
        rig->send("reboot");
        QCOMPARE(rig->window.status(), owner);
        // So is a saved command, by its key's road, and a repeat does not
        // start.
        SavedCommand reboot;
        reboot.name = QStringLiteral("Neustart");
        reboot.text = QStringLiteral("reboot");
        QCOMPARE(rig->window.commands().run(reboot), owner);
        reboot.periodMs = 10;
        QCOMPARE(rig->window.commands().run(reboot), owner);
        QVERIFY(!rig->window.commands().anyRunning());
        QCOMPARE(shownLines(), QStringList{owner});
        QSignalSpy ended(&transfers(), &TransferControl::ended);
        QVERIFY(ended.wait(120000));
        const auto outcome = ended.first().first().value<TransferOutcome>();
        QVERIFY2(outcome.ok, qPrintable(outcome.message));
        QVERIFY(relay->farEnded(30000));
        QCOMPARE(relay->far().exitCode(), 0);
        QCOMPARE(contentOf(folder->filePath("board/firmware.bin")), content);
        TransferWindow *progress = transfers().progressWindow();
        QVERIFY(progress);
        QCOMPARE(progress->windowTitle(), QStringLiteral("Übertragung – firmware.bin"));
        QCOMPARE(progress->bytesText(), QStringLiteral("300.000 von 300.000 (100 %)"));
        QCOMPARE(progress->outcomeText(), QStringLiteral("Übertragung vollständig."));
        QCOMPARE(rig->window.link().lineOwner(), QString());
        QCOMPARE(shownLines(),
                 (QStringList{owner, QStringLiteral("Übertragung beendet – vollständig")}));
        QCOMPARE(transferMarkers(),
                 (QStringList{"Übertragung begonnen: firmware.bin senden, ZMODEM",
                              "Übertragung beendet: firmware.bin senden, ZMODEM – vollständig"}));
        // The board's answers, byte for byte, in the capture.
        rig->f.StartRec->click();
        QCOMPARE(contentOf(folder->filePath("capture.bin")), relay->passedBytesToNear());
        // The line is free again.
        rig->send("reboot");
        QCOMPARE(rig->window.link().lineOwner(), QString());
    }

    // A board's `sz`: received into the remembered folder without a
    // question, beside a file of the same name, which stays.
    void zmodemStartsByItself()
    {
        KavroSettings().setReceiveFolder(folder->filePath("hier"));
        QVERIFY(writeFile(folder->filePath("hier/messung.csv"), "alt"));
        const QByteArray content = randomBytes(50000);
        QVERIFY(writeFile(folder->filePath("board/messung.csv"), content));
        QSignalSpy ended(&transfers(), &TransferControl::ended);
        relay->startFar("sz", {"-b", "messung.csv"}, folder->filePath("board"));
        QVERIFY(ended.wait(60000));
        const auto outcome = ended.first().first().value<TransferOutcome>();
        QVERIFY2(outcome.ok, qPrintable(outcome.message));
        const QString landed = folder->filePath("hier/messung (2).csv");
        QCOMPARE(outcome.files, QStringList{landed});
        QCOMPARE(contentOf(landed), content);
        QCOMPARE(contentOf(folder->filePath("hier/messung.csv")), QByteArray("alt"));
        QVERIFY(questions.ports.isEmpty());
        const QString what = "ZMODEM empfangen nach " + folder->filePath("hier");
        QCOMPARE(transferMarkers(), (QStringList{"Übertragung begonnen: " + what,
                                                 "Übertragung beendet: " + what + " – vollständig",
                                                 "Empfangene Datei: " + landed}));
        QVERIFY(relay->farEnded(30000));
        QCOMPARE(relay->far().exitCode(), 0);
    }

    // "Abbrechen" in the progress window: the board's rz hears the cancel
    // sequence and gives up; the line is free again.
    void cancelFromProgressWindow()
    {
        const QString path = folder->filePath("gross.bin");
        QVERIFY(writeFile(path, randomBytes(1 << 20)));
        relay->setRate(11520);
        relay->startFar("rz", {"-b"}, folder->filePath("board"));
        questions.sends = {{path, SendChoice::Method::Ymodem, 0, 0, {}, 5000}};
        menuEntry(rig->f.SendWin, "Datei senden…")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(relay->passedToFar() > 2000, 30000);
        QSignalSpy ended(&transfers(), &TransferControl::ended);
        transfers().progressWindow()->findChild<QPushButton *>("cancel")->click();
        QCOMPARE(ended.size(), 1);
        const auto outcome = ended.first().first().value<TransferOutcome>();
        QVERIFY(!outcome.ok);
        QCOMPARE(transfers().progressWindow()->outcomeText(), QStringLiteral("Abgebrochen."));
        QVERIFY(relay->farEnded(60000));
        QVERIFY(relay->far().exitCode() != 0);
        QCOMPARE(rig->window.link().lineOwner(), QString());
    }

    // Closing the port ends a transfer too, the far end told first.
    void closingThePortCancels()
    {
        QTemporaryDir target;
        questions.receives = {{ReceiveChoice::Method::Xmodem, target.path()}};
        menuEntry(rig->f.SendWin, "Datei empfangen…")->trigger();
        QVERIFY(transfers().running());
        QCOMPARE(KavroSettings().receiveFolder(), target.path());
        QSignalSpy ended(&transfers(), &TransferControl::ended);
        rig->f.Verbind->click();
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.first().first().value<TransferOutcome>().message,
                 QStringLiteral("Der Anschluss wurde geschlossen."));
        QVERIFY(!transfers().running());
    }

    // The send dialog: the keys in the file field, Tab straight to
    // "Verfahren", "…" through the chooser, Return starts.
    void sendDialog()
    {
        FakeFileChooser chooser;
        chooser.file = "/tmp/gewählt.txt";
        SendFileDialog dialog(&rig->window, 5, {}, chooser, true);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Datei senden – Com 5"));
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("file"));
        dialog.findChild<QPushButton *>("choose")->click();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("method"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.choice().path, chooser.file);
        QCOMPARE(dialog.choice().method, SendChoice::Method::Lines);
    }

    void withoutLrzsz()
    {
        FakeFileChooser chooser;
        SendFileDialog dialog(&rig->window, 5, {}, chooser, false);
        auto *method = dialog.findChild<QComboBox *>("method");
        QCOMPARE(method->itemText(5), QStringLiteral("ZMODEM (lrzsz fehlt)"));
        QCOMPARE(method->itemData(5, Qt::ToolTipRole).toString(),
                 QStringLiteral("XMODEM, YMODEM und ZMODEM brauchen das Paket „lrzsz“ "
                                "(sudo apt install lrzsz)."));
        QVERIFY(!qobject_cast<QStandardItemModel *>(method->model())->item(5)->isEnabled());
        QVERIFY(qobject_cast<QStandardItemModel *>(method->model())->item(1)->isEnabled());
    }
};

QTEST_MAIN(TestTransferWindow)
#include "tst_transferwindow.moc"
