#include "fakes.h"
#include "form.h"
#include "kavrowindow.h"
#include "lamp.h"
#include "receiveview.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

// Opening and closing the port, against a scripted port.
class TestConnection : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void settingsText_data();
    void settingsText();
    void failures_data();
    void failures();
    void openCloseOpen();
    void failedCloseKeepsTheOpenLook();

private:
    FakePort *port = nullptr;
    FakeBoxes boxes;
    FakeDialog dialog;
    KavroWindow *window = nullptr;
    Form *f = nullptr;
};

void TestConnection::init()
{
    boxes = FakeBoxes();
    port = new FakePort;
    window = new KavroWindow(port, &boxes, &dialog);
    port->setParent(window);
    f = &window->form();
}

void TestConnection::cleanup()
{
    delete window;
    window = nullptr;
}

void TestConnection::settingsText_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("comport");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("start-up selection") << "9600" << "non" << "acht" << "eins" << "1"
                                        << QStringList{"CommPort=1", "Settings=9600,n,8,1",
                                                       "PortOpen=true"};
    QTest::newRow("even, 7, 2 at 19200") << "19200" << "even" << "sieben" << "zwei" << "2"
                                         << QStringList{"CommPort=2", "Settings=19200,e,7,2",
                                                        "PortOpen=true"};
    QTest::newRow("odd, 8, 2 at 115200") << "115200" << "odd" << "acht" << "zwei" << "10"
                                         << QStringList{"CommPort=10", "Settings=115200,o,8,2",
                                                        "PortOpen=true"};
    QTest::newRow("baud passed with its blank") << " 300" << "non" << "acht" << "eins" << "1"
                                                << QStringList{"CommPort=1", "Settings= 300,n,8,1",
                                                               "PortOpen=true"};
    QTest::newRow("port text trimmed") << "9600" << "non" << "acht" << "eins" << "  3 "
                                       << QStringList{"CommPort=3", "Settings=9600,n,8,1",
                                                      "PortOpen=true"};
    QTest::newRow("port with sign") << "9600" << "non" << "acht" << "eins" << "+7"
                                    << QStringList{"CommPort=7", "Settings=9600,n,8,1",
                                                   "PortOpen=true"};
    QTest::newRow("negative port goes to the port") << "9600" << "non" << "acht" << "eins"
                                                    << "-1"
                                                    << QStringList{"CommPort=-1",
                                                                   "Settings=9600,n,8,1",
                                                                   "PortOpen=true"};
}

void TestConnection::settingsText()
{
    QFETCH(QString, baud);
    QFETCH(QString, parity);
    QFETCH(QString, data);
    QFETCH(QString, stop);
    QFETCH(QString, comport);
    QFETCH(QStringList, calls);

    f->Baud->setEditText(baud);
    f->Comport->setEditText(comport);
    window->findChild<QRadioButton *>(parity)->setChecked(true);
    window->findChild<QRadioButton *>(data)->setChecked(true);
    window->findChild<QRadioButton *>(stop)->setChecked(true);

    f->Verbind->click();

    QCOMPARE(port->calls, calls);
    QCOMPARE(f->Verbind->text(), QStringLiteral("Schließen"));
    QCOMPARE(f->Shape1->FillColor(), 65280u);
    QVERIFY(!f->Frame5->isEnabled());
    QCOMPARE(int(f->recv.RecvLineIdx), 1);
    QVERIFY(boxes.shown.isEmpty());
}

void TestConnection::failures_data()
{
    QTest::addColumn<QString>("comport");
    QTest::addColumn<QString>("failOn");
    QTest::addColumn<int>("failWith");
    QTest::addColumn<QString>("message");

    QTest::newRow("in use") << " 3 " << "PortOpen=true" << 8005
                            << " Com 3 ist bereits von einem anderen Programm geöffnet!";
    QTest::newRow("does not exist") << "12" << "PortOpen=true" << 8002 << " Com 12 existiert nicht!";
    QTest::newRow("number refused by the port") << "-1" << "CommPort" << 8002
                                                << " Com -1 existiert nicht!";
    QTest::newRow("empty port text") << "" << "" << 0 << "";
    QTest::newRow("not a number") << "abc" << "" << 0 << "";
    QTest::newRow("beyond 16 bits") << "70000" << "" << 0 << "";
    QTest::newRow("below 16 bits") << "-32769" << "" << 0 << "";
    QTest::newRow("digits then text") << "5x" << "" << 0 << "";
    QTest::newRow("settings refused") << "1" << "Settings" << 380 << "";
    QTest::newRow("permission denied is no riddle") << "1" << "PortOpen=true" << 8015 << "";
    QTest::newRow("other failure") << "1" << "PortOpen=true" << 8022 << "";
}

void TestConnection::failures()
{
    QFETCH(QString, comport);
    QFETCH(QString, failOn);
    QFETCH(int, failWith);
    QFETCH(QString, message);

    // Something is on show from an earlier session; a failed open keeps it.
    f->recv.RecvLineIdx = 1;
    f->recv.feed("old");
    f->Empfang->setLines(f->recv.shownLines());
    f->Comport->setEditText(comport);
    port->failOn = failOn;
    port->failWith = failWith;

    f->Verbind->click();

    QVERIFY(!port->PortOpen());
    QCOMPARE(f->Verbind->text(), QStringLiteral("Öffnen"));
    QCOMPARE(f->Shape1->FillColor(), 255u);
    QVERIFY(f->Frame5->isEnabled());
    QCOMPARE(f->Empfang->text(), QStringLiteral("old"));
    QCOMPARE(f->recv.RecvLines[1], QByteArray("old"));
    if (message.isEmpty()) {
        QVERIFY(boxes.shown.isEmpty());
    } else {
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, message);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Comportfehler"));
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::Information);
        QCOMPARE(boxes.shown[0].buttons, MessageBoxes::Ok);
    }
    // A port text that does not convert never reaches the port.
    if (failOn.isEmpty())
        QVERIFY(port->calls.isEmpty());
}

void TestConnection::openCloseOpen()
{
    f->Verbind->click();
    QCOMPARE(f->Shape1->FillColor(), 65280u);
    port->receive("A\r\nB\r");
    QCOMPARE(f->Empfang->text(), QStringLiteral("A\r\nB\r\n"));

    f->Verbind->click();
    QCOMPARE(port->calls.last(), QStringLiteral("PortOpen=false"));
    QCOMPARE(f->Verbind->text(), QStringLiteral("Öffnen"));
    QCOMPARE(f->Shape1->FillColor(), 255u);
    QVERIFY(f->Frame5->isEnabled());
    QCOMPARE(f->Empfang->text(), QStringLiteral("A\r\nB\r\n")); // closing keeps the view
    QVERIFY(f->recv.LineEndSeen);

    f->Verbind->click();
    QCOMPARE(f->Empfang->text(), QString()); // opening empties it
    QCOMPARE(int(f->recv.RecvLineIdx), 1);
    QVERIFY(!f->recv.LineEndSeen);
    port->receive("\nC"); // the LF is not swallowed after a fresh open
    QCOMPARE(f->Empfang->text(), QStringLiteral("\r\nC"));
}

void TestConnection::failedCloseKeepsTheOpenLook()
{
    f->Verbind->click();
    port->failOn = QStringLiteral("PortOpen=false");
    port->failWith = 8020;
    f->Verbind->click();
    QCOMPARE(f->Verbind->text(), QStringLiteral("Schließen"));
    QCOMPARE(f->Shape1->FillColor(), 65280u);
    QVERIFY(!f->Frame5->isEnabled());
    QVERIFY(boxes.shown.isEmpty());
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
