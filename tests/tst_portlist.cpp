// The port box's list and tooltip on pseudo-terminals made here, linked as
// com<n> in a temporary XDG_CONFIG_HOME, with a scripted system port list
// named in a device folder of the test's own (other programs' pseudo-terminals
// change nothing). No real serial port is touched.

#include "deviceserialport.h"
#include "fakes.h"
#include "farend.h"
#include "portlist.h"
#include "portstatus.h"
#include "startup.h"
#include "support.h"

#include <memory>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// Nothing in the folder can be removed by this thread until this goes out
// of scope, not even by root: the folder's mode forbids it, and root's
// capability to override that is set aside (capabilities are per thread).
class UnwritableFolder
{
public:
    explicit UnwritableFolder(const QString &path) : m_path(QFile::encodeName(path))
    {
        m_saved = ::syscall(SYS_capget, &m_header, m_caps) == 0;
        __user_cap_data_struct fewer[2] = {m_caps[0], m_caps[1]};
        fewer[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
        m_ok = m_saved && ::syscall(SYS_capset, &m_header, fewer) == 0 &&
               ::chmod(m_path.constData(), 0555) == 0;
    }
    ~UnwritableFolder()
    {
        if (m_saved)
            ::syscall(SYS_capset, &m_header, m_caps);
        ::chmod(m_path.constData(), 0755);
    }
    bool ok() const { return m_ok; }

private:
    QByteArray m_path;
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_caps[2]{};
    bool m_saved = false;
    bool m_ok = false;
};

class TestPortList : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    QString root; // its path without links, as the words show it
    const RestoreEnvironment xdg{"XDG_CONFIG_HOME"};
    // A, B: system ports ttyS0 (its maker's words with markup) and ttyS1;
    // C: linked as 3 by the name ttyC; D: linked as 5, held by another
    // process; E: linked as 12; F: linked as 6, nobody may open it.
    std::unique_ptr<FarEnd> a, b, c, d, e, f;
    std::unique_ptr<QProcess> holder; // another program, holding D by flock
    QList<SystemPort> system;
    std::unique_ptr<Rig> rig;
    PortList *list = nullptr;
    const QString quiet = "<refused without a word>";
    const QString longText = '/' + QString(3999, u'y');

    QString links() const { return root + "/config/kavro/ports"; }
    QString dev(const QString &name) const { return root + "/dev/" + name; }
    bool link(const QString &target, int n)
    {
        return QFile::link(target, links() + "/com" + QString::number(n));
    }
    // The words with %A .. %F for the pseudo-terminals' names below /dev, %d
    // for the test's device folder, %t for the temporary folder, %l for the
    // link folder and %y for the long link text.
    QString expand(QString text) const
    {
        const std::pair<const char *, const FarEnd *> ptys[] = {{"%A", a.get()}, {"%B", b.get()},
                                                                {"%C", c.get()}, {"%D", d.get()},
                                                                {"%E", e.get()}, {"%F", f.get()}};
        for (const auto &[key, pty] : ptys)
            text.replace(key, pty->slavePath().mid(5));
        return text.replace("%d", root + "/dev")
            .replace("%t", root)
            .replace("%l", links())
            .replace("%y", longText);
    }
    // The words for port n: beside its item, above 10 in the tooltip's first
    // line as it shows.
    QString words(int n)
    {
        if (n <= 10)
            return list->description(rig->f.Comport->model()->index(n - 1, 0));
        rig->f.Comport->setEditText(QString::number(n));
        return shownToolTip(rig->f.Comport).section('\n', 0, 0).section(": ", 1);
    }
    // What "Öffnen" on port n tells: empty when it opened, the message when
    // one came, `quiet` when it refused without one.
    QString open(int n)
    {
        rig->f.Comport->setEditText(QString::number(n));
        rig->boxes.shown.clear();
        rig->f.Verbind->click();
        // A serial server answers later.
        if (!QTest::qWaitFor([&] { return !rig->window.port().isOpening(); }, 10000))
            return QStringLiteral("<no answer>");
        if (rig->window.port().PortOpen())
            return {};
        return rig->boxes.shown.isEmpty() ? quiet : rig->boxes.shown.join('\n').section('|', 3);
    }

private Q_SLOTS:
    void initTestCase() { prepareApplication(*qApp); }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        root = QDir(dir->path()).canonicalPath();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + "/config"));
        QVERIFY(QDir().mkpath(links()) && QDir().mkpath(dev("")) && QDir().mkpath(root + "/lock"));
        for (auto *pty : {&a, &b, &c, &d, &e, &f}) {
            *pty = std::make_unique<FarEnd>();
            QVERIFY((*pty)->isValid());
        }
        QVERIFY(QFile::link(a->slavePath(), dev("ttyS0")) &&
                QFile::link(b->slavePath(), dev("ttyS1")) &&
                QFile::link(c->slavePath(), dev("ttyC")));
        system = {{dev("ttyS0"), "FT232R <a href=\"https://example.org\">USB</a> UART", "FTDI",
                   "A1B2C3", 0x0403, 0x6001},
                  {dev("ttyS1"), {}, {}, {}, {}, {}}};
        QCOMPARE(::chmod(QFile::encodeName(f->slavePath()).constData(), 0), 0);
        // Not devices: a file, a FIFO, a folder.
        QVERIFY(writeFile(root + "/file", "Inhalt") &&
                ::mkfifo(QFile::encodeName(root + "/fifo").constData(), 0600) == 0);
        QVERIFY(link(dev("missing"), 2) && link(dev("ttyC"), 3) && link(dev("ttyS0"), 4) &&
                link(d->slavePath(), 5) && link(f->slavePath(), 6) &&
                link("rfc2217://127.0.0.1:1", 9) && link(e->slavePath(), 12) &&
                link(root + "/file", 13) && link(root + "/fifo", 14) && link("/dev/null", 16) &&
                link(links() + "/com17", 17) &&
                link(expand("<h1>BIG</h1><img src=\"%t/picture.png\">"), 19));
        holder = std::make_unique<QProcess>();
        holder->start("flock", {"-o", d->slavePath(), "sleep", "300"});
        QVERIFY(holder->waitForStarted());
        QTRY_COMPARE(PortStatus::flockHolder(d->slavePath()), pid_t(holder->processId()));

        auto *port =
            new DeviceSerialPort({PortMap(PortMap::defaultLinkDir(), [this] { return system; }),
                                  {root + "/lock"},
                                  {root + "/dev"}});
        rig = std::make_unique<Rig>(port);
        list = qobject_cast<PortList *>(rig->f.Comport->view()->itemDelegate());
        QVERIFY(list);
        rig->window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig->window));
    }

    // The window first, then the program holding D, then the devices.
    void cleanup()
    {
        QToolTip::hideText();
        rig.reset();
        holder.reset();
        for (auto *pty : {&a, &b, &c, &d, &e, &f})
            pty->reset();
    }

    // Text from outside (a link's text, a device's description) shows as it
    // is: markup in it is neither a heading, nor a link, nor a picture.
    void beside_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("told"); // by "Öffnen"; empty: it opens; "-": not tried
        const QString described = "FT232R <a href=\"https://example.org\">USB</a> UART, FTDI, "
                                  "Seriennr. A1B2C3, 0403:6001";
        const QString taken = " Com 5 ist bereits von einem anderen Programm geöffnet!";
        const QString none = " Com %1 existiert nicht!";
        const QString noSerial = "%1 · Link → %1 · kein serielles Gerät";
        QTest::newRow("system port, described") << 1 << "%d/ttyS0 – " + described << "";
        QTest::newRow("dangling link") << 2 << "Link → %d/missing · kein Gerät" << none.arg(2);
        QTest::newRow("linked") << 3 << "%C · Link → %d/ttyC" << QString();
        QTest::newRow("linked system port")
            << 4 << "%A – " + described + " · Link → %d/ttyS0" << QString();
        QTest::newRow("held by another program") << 5 << "%D · Link → /dev/%D · belegt" << taken;
        QTest::newRow("not permitted") << 6 << "%F · Link → /dev/%F · kein Zugriff"
                                       << "-";
        QTest::newRow("system port after the links") << 7 << "%d/ttyS1" << QString();
        QTest::newRow("nothing") << 8 << "kein Gerät" << none.arg(8);
        QTest::newRow("port on a serial server, named by its address")
            << 9 << "Netzwerkport rfc2217://127.0.0.1:1" << none.arg(9);
        // Refused without a word, and nothing is written into it.
        QTest::newRow("link to a file") << 13 << noSerial.arg("%t/file") << quiet;
        QTest::newRow("link to a FIFO") << 14 << noSerial.arg("%t/fifo") << quiet;
        QTest::newRow("link to /dev/null")
            << 16 << "null · Link → /dev/null · kein serielles Gerät" << quiet;
        QTest::newRow("link loop") << 17 << "Link → %l/com17 · kein Gerät" << none.arg(17);
        QTest::newRow("markup in a link text")
            << 19 << "Link → <h1>BIG</h1><img src=\"%t/picture.png\"> · kein Gerät" << none.arg(19);
    }
    void beside()
    {
        QFETCH(int, number);
        QFETCH(QString, words);
        QFETCH(QString, told);
        QCOMPARE(this->words(number), expand(words));
        // Beside, not inside: the items are the bare numbers.
        if (number <= 10)
            QCOMPARE(rig->f.Comport->itemText(number - 1), QString::number(number));
        // What the list says agrees with what opening finds (root opens a
        // device whatever its mode, so "kein Zugriff" is not tried here).
        if (told == "-")
            return;
        QCOMPARE(open(number), told);
        QCOMPARE(contentOf(root + "/file"), QByteArray("Inhalt"));
        if (!told.isEmpty())
            return;
        // It opened the device the words named, and they say so now.
        const QString opened = static_cast<DeviceSerialPort &>(rig->window.port()).DevicePath();
        QCOMPARE(expand(words).section(' ', 0, 0),
                 opened.startsWith("/dev/") ? opened.mid(5) : opened);
        rig->f.Comport->showPopup();
        QTRY_COMPARE(this->words(number), expand(words) + " · in Kavro geöffnet");
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
        const QStringList lines = shownToolTip(rig->f.Comport).split('\n');
        QCOMPARE(lines.value(0), expand(first));
        // Every number with a device in the list's words, also above 10;
        // neither the dangling 2 nor the numbers without anything.
        QStringList numbers;
        for (const QString &line : lines.mid(3)) {
            numbers.append(line.section(':', 0, 0));
            if (numbers.last().toInt() <= 10)
                QCOMPARE(line.section(": ", 1), words(numbers.last().toInt()));
        }
        QCOMPARE(numbers.join(','), "1,3,4,5,6,7,9,12,13,14,16");
    }

    // Within two seconds, on the change itself: no look is asked for.
    void devicesComeAndGo_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("told"); // by "Öffnen"; empty: it opens
        const QString none = " Com %1 existiert nicht!";
        QTest::newRow("link added") << "link 8 E" << 8 << "%E · Link → /dev/%E"
                                    << "";
        QTest::newRow("link removed, the next system port moves up")
            << "unlink 2" << 2 << "%d/ttyS1"
            << "";
        QTest::newRow("system port added") << "system E" << 8 << "%d/ttyUSB0"
                                           << "";
        QTest::newRow("system port removed") << "system -" << 7 << "kein Gerät" << none.arg(7);
        QTest::newRow("linked device vanishes")
            << "remove C" << 3 << "Link → %d/ttyC · kein Gerät" << none.arg(3);
        // Another program's lock file outlives the device it names.
        QTest::newRow("locked system port vanishes, still reported")
            << "lock, remove B" << 7 << "%d/ttyS1 · kein Gerät" << none.arg(7);
    }
    void devicesComeAndGo()
    {
        QFETCH(QString, change);
        QFETCH(int, number);
        QFETCH(QString, words);
        QFETCH(QString, told);
        const QString expected = expand(words);
        QVERIFY(this->words(number) != expected);
        if (change == "link 8 E") {
            QVERIFY(link(e->slavePath(), 8));
        } else if (change == "unlink 2") {
            QVERIFY(QFile::remove(links() + "/com2"));
        } else if (change == "system E") {
            system.append({dev("ttyUSB0"), {}, {}, {}, {}, {}});
            QVERIFY(QFile::link(e->slavePath(), dev("ttyUSB0")));
        } else if (change == "system -") {
            system.removeLast();
            QVERIFY(QFile::remove(dev("ttyS1")));
        } else if (change == "remove C") {
            QVERIFY(QFile::remove(dev("ttyC")));
        } else if (change == "lock, remove B") {
            QVERIFY(writeFile(root + "/lock/LCK..ttyS1",
                              QByteArray::number(holder->processId()).rightJustified(10) + '\n'));
            QVERIFY(QFile::remove(dev("ttyS1")));
        }
        QTRY_COMPARE_WITH_TIMEOUT(this->words(number), expected, 2000);
        QCOMPARE(open(number), told);
    }

    // A program that ended left its lock file on C, and it cannot be
    // removed (root's, in the sticky /run/lock, seen by the operator's
    // Kavro): the port opens all the same, the lamp's and the box's tooltips
    // say so, and the bytes reach the device.
    void staleLockThatStays()
    {
        const pid_t ended = fork();
        if (ended == 0)
            _exit(0);
        QCOMPARE(waitpid(ended, nullptr, 0), ended);
        const QString lockFile = root + "/lock/LCK.." + c->slavePath().mid(5).replace('/', '_');
        QVERIFY(writeFile(lockFile, QByteArray::number(ended).rightJustified(10) + '\n'));
        const QString notice =
            QString("Die Sperrdatei %1 eines beendeten Programms (PID %2) ließ sich nicht "
                    "entfernen (%3); der Anschluss ist trotzdem geöffnet. Entfernen mit „sudo rm "
                    "%1“.")
                .arg(lockFile, QString::number(ended),
                     QString::fromLocal8Bit(std::strerror(EACCES)));
        {
            const UnwritableFolder locks(root + "/lock");
            QVERIFY(locks.ok());
            QCOMPARE(open(3), QString());
        }
        QVERIFY(QFile::exists(lockFile));
        QCOMPARE(rig->lamp(), Lamp::Green);
        QCOMPARE(shownToolTip(rig->f.Comport).section("\n\n", 0, 0), notice);
        QCOMPARE(shownToolTip(rig->f.Shape1).section('\n', 0, 0), notice);
        rig->send("AT");
        QCOMPARE(receiveWhileRunning(*c, 3), QByteArray("AT\r"));
        // Closed, the port has nothing more to say.
        rig->f.Verbind->click();
        QCOMPARE(rig->f.Shape1->toolTip(), QString());
    }

    // The words as the list paints them, wider than the box: each row its
    // own, ending where their width says, the long ones cut short inside the
    // list. A picked item puts its bare number into the box.
    void paintedRows()
    {
        QComboBox *box = rig->f.Comport;
        box->setEditText("7");
        box->showPopup();
        QAbstractItemView *view = box->view();
        QTRY_VERIFY(view->isVisible());
        QVERIFY(view->window()->width() > box->width());
        const QImage image = view->viewport()->grab().toImage();
        const QFontMetrics metrics(view->font());
        // The rightmost pixel of ink in row n, the ground taken at its end.
        auto inkRight = [&](int n) {
            const QRect r = view->visualRect(box->model()->index(n - 1, 0));
            int right = -1;
            for (int y = r.top(); y <= r.bottom(); ++y) {
                const QRgb ground = image.pixel(r.right() - 1, y);
                for (int x = r.left(); x < r.right() - 1; ++x) {
                    if (image.pixel(x, y) != ground)
                        right = std::max(right, x);
                }
            }
            return right;
        };
        auto width = [&](int n) { return metrics.horizontalAdvance(words(n)); };
        QVERIFY(std::abs(inkRight(8) - inkRight(10)) <= 1); // both "kein Gerät"
        for (const int n : {2, 7, 9}) {
            const int expected = width(n) - width(8);
            QVERIFY2(std::abs(inkRight(n) - inkRight(8) - expected) <= 3,
                     qPrintable(QStringLiteral("row %1: %2 against %3")
                                    .arg(n)
                                    .arg(inkRight(n) - inkRight(8))
                                    .arg(expected)));
        }
        for (int n = 1; n <= 10; ++n)
            QVERIFY(inkRight(n) < view->viewport()->width() - 1);
        const QPoint third = view->visualRect(box->model()->index(2, 0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, third);
        QTRY_VERIFY(!view->isVisible());
        QCOMPARE(box->currentText(), QStringLiteral("3"));
    }

    // A link text of 4,000 characters beside item 8 and 300 ports: the list
    // and the tooltips stay on the screen, the row's words whole in its own
    // tooltip, the typed number's words first and whole in the box's.
    void longTextsStayOnScreen()
    {
        QVERIFY(link(longText, 8));
        for (int n = 100; n < 400; ++n)
            QVERIFY(link(dev("ttyS1"), n));
        QComboBox *box = rig->f.Comport;
        const QRect screen = box->screen()->geometry();
        box->showPopup();
        QAbstractItemView *view = box->view();
        QTRY_VERIFY(view->isVisible());
        QCOMPARE(words(8), "Link → " + longText + " · kein Gerät");
        QVERIFY(screen.contains(view->window()->frameGeometry()));
        const QRect row = view->visualRect(box->model()->index(7, 0));
        QCOMPARE(shownToolTip(view->viewport(), row.center()), words(8));
        QVERIFY(screen.contains(tipOnShow()->frameGeometry()));
        box->hidePopup();

        box->setEditText("8");
        const QString shown = shownToolTip(box);
        QVERIFY(screen.contains(tipOnShow()->frameGeometry()));
        QCOMPARE(shown.section('\n', 0, 0), "Com 8: " + words(8));
        QVERIFY2(shown.endsWith("weitere Zeilen"), qPrintable(shown.right(200)));
    }
};

QTEST_MAIN(TestPortList)
#include "tst_portlist.moc"
