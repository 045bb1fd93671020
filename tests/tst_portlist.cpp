// The port box's list and tooltip on pseudo-terminals made here, linked as
// com<n> in a temporary XDG_CONFIG_HOME, with a scripted system port list:
// the words beside every item, the tooltip, devices coming and going while
// the window runs, and that the list says what opening opens. No real serial
// port is touched.

#include "deviceserialport.h"
#include "fakes.h"
#include "farend.h"
#include "portlist.h"
#include "portstatus.h"
#include "startup.h"
#include "support.h"

#include <memory>

class TestPortList : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    const RestoreEnvironment xdg{"XDG_CONFIG_HOME"};
    // A, B: system ports (A described); C: linked as 3; D: linked as 5, held
    // by another process; E: linked as 12.
    std::unique_ptr<FarEnd> a, b, c, d, e;
    std::unique_ptr<QProcess> holder; // another program, holding D by flock
    QList<SystemPort> system;
    std::unique_ptr<Rig> rig;
    PortList *list = nullptr;

    QString links() const { return dir->filePath("config/kavro/ports"); }
    bool link(const QString &target, int n)
    {
        return QFile::link(target, links() + "/com" + QString::number(n));
    }
    // The words with %A .. %E for the pseudo-terminals' names below /dev,
    // %F for the file that stands in for a device nobody may open.
    QString expand(QString text) const
    {
        const std::pair<const char *, const FarEnd *> ptys[] = {
            {"%A", a.get()}, {"%B", b.get()}, {"%C", c.get()}, {"%D", d.get()}, {"%E", e.get()}};
        for (const auto &[key, pty] : ptys)
            text.replace(key, pty->slavePath().mid(5));
        return text.replace("%F", dir->filePath("closed"));
    }
    QString beside(int n) const
    {
        return list->description(rig->f.Comport->model()->index(n - 1, 0));
    }

private Q_SLOTS:
    void initTestCase() { prepareApplication(*qApp); }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir->filePath("config")));
        QVERIFY(QDir().mkpath(links()) && QDir().mkpath(dir->filePath("dev")) &&
                QDir().mkpath(dir->filePath("lock")));
        for (auto *pty : {&a, &b, &c, &d, &e}) {
            *pty = std::make_unique<FarEnd>();
            QVERIFY((*pty)->isValid());
        }
        system = {{a->slavePath(), "FT232R USB UART", "FTDI", "A1B2C3", 0x0403, 0x6001},
                  {b->slavePath(), {}, {}, {}, {}, {}}};
        QFile closed(dir->filePath("closed"));
        QVERIFY(closed.open(QIODevice::WriteOnly) && closed.setPermissions({}));
        QVERIFY(link("/dev/pts/kavro-missing", 2) && link(c->slavePath(), 3) &&
                link(a->slavePath(), 4) && link(d->slavePath(), 5) &&
                link(dir->filePath("closed"), 6) && link("rfc2217://127.0.0.1:1", 9) &&
                link(e->slavePath(), 12));
        holder = std::make_unique<QProcess>();
        holder->start("flock", {d->slavePath(), "sleep", "300"});
        QVERIFY(holder->waitForStarted());
        QTRY_COMPARE(PortStatus::flockHolder(d->slavePath()), pid_t(holder->processId()));

        auto *port =
            new DeviceSerialPort({PortMap(PortMap::defaultLinkDir(), [this] { return system; }),
                                  {dir->filePath("lock")},
                                  {dir->filePath("dev")}});
        rig = std::make_unique<Rig>(port);
        list = qobject_cast<PortList *>(rig->f.Comport->view()->itemDelegate());
        QVERIFY(list);
        rig->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig->window));
    }

    // The window first, then the program holding D (QProcess kills it and
    // waits), then the devices, so that the next ones are numbered in the
    // order they are made; the folder goes with the next init or the end.
    void cleanup()
    {
        rig.reset();
        holder.reset();
        for (auto *pty : {&a, &b, &c, &d, &e})
            pty->reset();
    }

    void beside_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("told"); // by "Öffnen"; empty: it opens
        const QString described = "%A – FT232R USB UART, FTDI, Seriennr. A1B2C3, 0403:6001";
        const QString taken = " Com 5 ist bereits von einem anderen Programm geöffnet!";
        QTest::newRow("system port, described") << 1 << described << "";
        QTest::newRow("dangling link") << 2 << "Link → /dev/pts/kavro-missing · kein Gerät"
                                       << " Com 2 existiert nicht!";
        QTest::newRow("linked") << 3 << "%C · Link → /dev/%C" << QString();
        QTest::newRow("linked system port") << 4 << described + " · Link → /dev/%A" << QString();
        QTest::newRow("held by another program") << 5 << "%D · Link → /dev/%D · belegt" << taken;
        QTest::newRow("not permitted") << 6 << "%F · Link → %F · kein Zugriff" << QString("-");
        QTest::newRow("system port after the links") << 7 << "%B" << QString();
        QTest::newRow("nothing") << 8 << "kein Gerät" << QString(" Com 8 existiert nicht!");
        QTest::newRow("port on a serial server, named by its address")
            << 9 << "Netzwerkport rfc2217://127.0.0.1:1"
            << " Com 9 existiert nicht!";
        QTest::newRow("nothing, last item")
            << 10 << "kein Gerät" << QString(" Com 10 existiert nicht!");
    }
    void beside()
    {
        QFETCH(int, number);
        QFETCH(QString, words);
        QFETCH(QString, told);
        QCOMPARE(beside(number), expand(words));
        // Beside, not inside: the items are the bare numbers.
        QCOMPARE(rig->f.Comport->itemText(number - 1), QString::number(number));
        // What the list says agrees with what opening finds (root opens a
        // device whatever its mode, so "kein Zugriff" is not tried here).
        if (told == "-")
            return;
        rig->f.Comport->setEditText(QString::number(number));
        rig->f.Verbind->click();
        QCOMPARE(rig->window.port().PortOpen(), told.isEmpty());
        QCOMPARE(rig->boxes.shown.value(0).section('|', 3), told);
        if (!told.isEmpty())
            return;
        // It opened the device the words named, and they say so now.
        auto &port = static_cast<DeviceSerialPort &>(rig->window.port());
        QCOMPARE(expand(words).section(' ', 0, 0), port.DevicePath().mid(5));
        rig->f.Comport->showPopup();
        QTRY_COMPARE(beside(number), expand(words) + " · in Kavro geöffnet");
    }

    void toolTip_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("first");
        QTest::newRow("listed number") << "5" << QString("Com 5: %D · Link → /dev/%D · belegt");
        QTest::newRow("above 10") << " 12 " << QString("Com 12: %E · Link → /dev/%E");
        QTest::newRow("nothing there") << "99" << QString("Com 99: kein Gerät");
        QTest::newRow("zero") << "0" << QString("0 ist keine gültige Portnummer");
        QTest::newRow("no number") << "COM1" << QString("„COM1“ ist keine Portnummer");
    }
    void toolTip()
    {
        QFETCH(QString, typed);
        QFETCH(QString, first);
        rig->f.Comport->setEditText(typed);
        const QStringList lines = rig->f.Comport->toolTip().split('\n');
        QCOMPARE(lines.value(0), expand(first));
        // Every number with a device in the list's words, also above 10;
        // neither the dangling 2 nor the numbers without anything.
        QStringList numbers;
        for (const QString &line : lines.mid(3)) {
            numbers.append(line.section(':', 0, 0));
            if (numbers.last().toInt() <= 10)
                QCOMPARE(line.section(": ", 1), beside(numbers.last().toInt()));
        }
        QCOMPARE(numbers.join(','), "1,3,4,5,6,7,9,12");
    }

    // Within two seconds, on the change itself: no look is asked for.
    void devicesComeAndGo_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("words");
        QTest::newRow("link added") << "link 8 E" << 8 << "%E · Link → /dev/%E";
        QTest::newRow("link removed, the next system port moves up") << "unlink 2" << 2 << "%B";
        QTest::newRow("system port added") << "system E" << 8 << "%E";
        QTest::newRow("system port removed") << "system -" << 7 << "kein Gerät";
        QTest::newRow("linked device vanishes") << "close C" << 3 << "Link → /dev/%C · kein Gerät";
    }
    void devicesComeAndGo()
    {
        QFETCH(QString, change);
        QFETCH(int, number);
        QFETCH(QString, words);
        const QString expected = expand(words);
        QVERIFY(beside(number) != expected);
        if (change == "link 8 E") {
            QVERIFY(link(e->slavePath(), 8));
        } else if (change == "unlink 2") {
            QVERIFY(QFile::remove(links() + "/com2"));
        } else if (change.startsWith("system")) {
            change == "system E" ? system.append({e->slavePath(), {}, {}, {}, {}, {}})
                                 : system.removeLast();
            // The system's list changed: the test's stand-in for /dev changes too.
            QFile touch(dir->filePath("dev/" + QString::number(system.size())));
            QVERIFY(touch.open(QIODevice::WriteOnly));
        } else if (change == "close C") {
            c.reset(); // the pseudo-terminal and its name go away
        }
        QTRY_COMPARE_WITH_TIMEOUT(beside(number), expected, 2000);
    }

    // An item picked from the list puts its bare number into the box (what
    // opening a number opens is beside()'s); the words fit beside the numbers.
    void pickedItem()
    {
        QComboBox *box = rig->f.Comport;
        box->setEditText("7");
        box->showPopup();
        QAbstractItemView *view = box->view();
        QTRY_VERIFY(view->isVisible());
        QVERIFY(view->window()->width() > box->width());
        const QModelIndex third = box->model()->index(2, 0);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(third).center());
        QTRY_VERIFY(!view->isVisible());
        QCOMPARE(box->currentText(), QStringLiteral("3"));
    }
};

QTEST_MAIN(TestPortList)
#include "tst_portlist.moc"
