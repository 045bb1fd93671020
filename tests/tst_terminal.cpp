#include "commandbox.h"
#include "deviceserialport.h"
#include "fakes.h"
#include "form.h"
#include "kavrowindow.h"
#include "lamp.h"
#include "farend.h"
#include "receiveview.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QFile>
#include <QPushButton>
#include <QComboBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

// The terminal end to end: the real window and port layer, a pseudo-terminal's
// master as the far end.
class TestTerminal : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void receive_data();
    void receive();
    void terminators_data();
    void terminators();
    void enterInTheCommandBoxGoesOutAsCrLf();
    void closedPortSendsNothing();
    void farEndVanishes();
    void captureIsByteExact_data();
    void captureIsByteExact();
    void captureHoldsOnlyWhatArrivedWhileRecording();
    void unloadWhileRecordingLeavesACompleteFile();

private:
    void open();
    QString startCapture();
    QByteArray captured() const;

    QTemporaryDir *links = nullptr; // also holds the capture file
    FarEnd *pty = nullptr;
    FakeBoxes boxes;
    FakeDialog dialog;
    KavroWindow *window = nullptr;
    Form *f = nullptr;
};

void TestTerminal::init()
{
    links = new QTemporaryDir;
    pty = new FarEnd;
    QVERIFY(pty->isValid());
    QVERIFY(QFile::link(pty->slavePath(), links->filePath("com5")));
    boxes = FakeBoxes();
    auto *port = new DeviceSerialPort;
    // Only this test's own pseudo-terminal is reachable: no system ports.
    port->setPortMap(PortMap(links->path(), [] { return QStringList(); }));
    window = new KavroWindow(port, &boxes, &dialog);
    port->setParent(window);
    f = &window->form();
    open();
}

void TestTerminal::cleanup()
{
    delete window;
    window = nullptr;
    delete pty;
    pty = nullptr;
    delete links;
    links = nullptr;
}

void TestTerminal::open()
{
    f->Comport->setEditText("5");
    f->Verbind->click();
    QVERIFY(boxes.shown.isEmpty());
    QCOMPARE(f->Shape1->FillColor(), 65280u);
}

void TestTerminal::receive_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QByteArray>("view");

    QTest::newRow("split between CR and LF")
        << QList<QByteArray>{"one\r", "\ntwo\r", "\n", "three"} << QByteArray("one\r\ntwo\r\nthree");
    QTest::newRow("LF CR endings") << QList<QByteArray>{"a\n", "\rb\n\r"} << QByteArray("a\r\nb\r\n");

    QByteArray twelve;
    for (int i = 1; i <= 12; ++i)
        twelve += "Zeile " + QByteArray::number(i) + "\r\n";
    QList<QByteArray> sevens;
    for (qsizetype at = 0; at < twelve.size(); at += 7)
        sevens.append(twelve.mid(at, 7));
    QTest::newRow("twelve lines in chunks of seven") << sevens << twelve.mid(twelve.indexOf("Zeile 3"));

    QByteArray controls("\x00\x1b[1m\x7f\xff", 6);
    QTest::newRow("control bytes and NUL") << QList<QByteArray>{controls, "\r\nend"}
                                           << controls + "\r\nend";
}

void TestTerminal::receive()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, view);
    for (const QByteArray &chunk : chunks) {
        QVERIFY(pty->send(chunk));
        QTest::qWait(10); // give each chunk a receive event of its own
    }
    QTRY_COMPARE(f->Empfang->textBytes(), view);
    QVERIFY(boxes.shown.isEmpty());
}

void TestTerminal::terminators_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("kein Zeichen") << "Option1" << QByteArray("AT+X?");
    QTest::newRow("nur CR") << "Option2" << QByteArray("AT+X?\r");
    QTest::newRow("nur LF") << "Option3" << QByteArray("AT+X?\n");
    QTest::newRow("CR / LF") << "Option4" << QByteArray("AT+X?\r\n");
    QTest::newRow("LF / CR") << "Option5" << QByteArray("AT+X?\n\r");
}

void TestTerminal::terminators()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, sent);
    window->findChild<QRadioButton *>(option)->setChecked(true);
    f->SendWin->setText("AT+X?\r\n");
    window->findChild<QPushButton *>("send_win")->click();
    QCOMPARE(pty->receive(sent.size() + 1, 300), sent);
    QCOMPARE(f->SendWin->text(), QStringLiteral("AT+X?\r\n")); // the box keeps the command
}

void TestTerminal::enterInTheCommandBoxGoesOutAsCrLf()
{
    f->Option3->setChecked(true);
    f->SendWin->setFocus();
    QTest::keyClicks(f->SendWin, "A");
    QTest::keyClick(f->SendWin, Qt::Key_Return);
    QTest::keyClicks(f->SendWin, "B");
    QKeyEvent umlaut(QEvent::KeyPress, Qt::Key_Adiaeresis, Qt::NoModifier, QString(QChar(0xe4)));
    QApplication::sendEvent(f->SendWin, &umlaut);
    QTest::keyClick(f->SendWin, Qt::Key_Return);
    QCOMPARE(f->SendWin->text(), QString::fromUtf8("A\r\nB\u00e4\r\n"));
    window->findChild<QPushButton *>("send_win")->click();
    QCOMPARE(pty->receive(6, 1000), QByteArray("A\r\nB\xe4\n"));
}

void TestTerminal::closedPortSendsNothing()
{
    f->Verbind->click(); // close
    QCOMPARE(f->Verbind->text(), QStringLiteral("Öffnen"));
    f->SendWin->setText("AT");
    window->findChild<QPushButton *>("send_win")->click();
    QCOMPARE(pty->receive(1, 200), QByteArray());
    QCOMPARE(f->SendWin->text(), QStringLiteral("AT"));
    QVERIFY(boxes.shown.isEmpty());
}

void TestTerminal::farEndVanishes()
{
    QVERIFY(pty->send("hello"));
    QTRY_COMPARE(f->Empfang->text(), QStringLiteral("hello"));
    const QString slave = pty->slavePath();
    pty->closeSlave();
    pty->closeMaster(); // the adapter is pulled

    // The device is let go at once, so the system can reuse its name ...
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QFileInfoList fds = QDir("/proc/self/fd").entryInfoList(QDir::System);
            for (const QFileInfo &fd : fds) {
                if (fd.symLinkTarget() == slave)
                    return false;
            }
            return true;
        }(),
        3000);
    // ... but the window stays as the operator left it until "Schließen".
    QVERIFY(f->MSComm1->PortOpen());
    QCOMPARE(f->Shape1->FillColor(), 65280u);
    QCOMPARE(f->Empfang->text(), QStringLiteral("hello"));

    // A send fails once, through the one place that reports failures.
    f->SendWin->setText("AT");
    window->findChild<QPushButton *>("send_win")->click();
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY2(boxes.shown[0].text.startsWith("Fehler 8021: "), qPrintable(boxes.shown[0].text));

    // "Schließen" closes cleanly; the next "Öffnen" finds no device.
    f->Verbind->click();
    QCOMPARE(f->Verbind->text(), QStringLiteral("Öffnen"));
    QCOMPARE(f->Shape1->FillColor(), 255u);
    QVERIFY(!f->MSComm1->PortOpen());
    QCOMPARE(boxes.shown.size(), 1);
    f->Verbind->click();
    QCOMPARE(boxes.shown.size(), 2);
    QCOMPARE(boxes.shown[1].text, QStringLiteral(" Com 5 existiert nicht!"));
    QCOMPARE(f->Verbind->text(), QStringLiteral("Öffnen"));
}

QString TestTerminal::startCapture()
{
    const QString file = links->filePath("capture.txt");
    dialog.choices = {file};
    window->findChild<QPushButton *>("StartRec")->click();
    return f->RecActive == -1 ? file : QString();
}

QByteArray TestTerminal::captured() const
{
    QFile file(links->filePath("capture.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void TestTerminal::captureIsByteExact_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    QTest::newRow("A CR LF CR LF B") << QList<QByteArray>{"A\r\n\r\nB"};
    QTest::newRow("CR CR, which the view pairs") << QList<QByteArray>{"\r", "\r"};
    QTest::newRow("all 256 byte values") << QList<QByteArray>{all, all};
    QTest::newRow("more than the write buffer")
        << QList<QByteArray>{QByteArray(100'000, '\0') + all, QByteArray(70'000, 'x')};
}

void TestTerminal::captureIsByteExact()
{
    QFETCH(QList<QByteArray>, chunks);
    QVERIFY(!startCapture().isEmpty());
    QByteArray sent;
    for (const QByteArray &chunk : chunks) {
        QVERIFY(pty->send(chunk));
        sent += chunk;
        // On disk at the end of every receive event: a crash loses nothing.
        QTRY_COMPARE(captured(), sent);
    }
    window->findChild<QPushButton *>("StartRec")->click();
    QCOMPARE(captured(), sent);
}

void TestTerminal::captureHoldsOnlyWhatArrivedWhileRecording()
{
    QVERIFY(pty->send("before\r\n"));
    QTRY_COMPARE(f->Empfang->text(), QStringLiteral("before\r\n"));
    QVERIFY(!startCapture().isEmpty());
    QVERIFY(pty->send("during\r\n"));
    QTRY_COMPARE(captured(), QByteArray("during\r\n"));
    window->findChild<QPushButton *>("StartRec")->click();
    QVERIFY(pty->send("after\r\n"));
    QTRY_COMPARE(f->Empfang->text(), QStringLiteral("before\r\nduring\r\nafter\r\n"));
    QCOMPARE(captured(), QByteArray("during\r\n"));
}

void TestTerminal::unloadWhileRecordingLeavesACompleteFile()
{
    QVERIFY(!startCapture().isEmpty());
    QVERIFY(pty->send("one\r\ntwo"));
    QTRY_COMPARE(f->Empfang->text(), QStringLiteral("one\r\ntwo"));
    window->close();
    QVERIFY(!f->MSComm1->PortOpen());
    QCOMPARE(captured(), QByteArray("one\r\ntwo"));
}

QTEST_MAIN(TestTerminal)
#include "tst_terminal.moc"
