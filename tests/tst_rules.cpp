// The rules without widgets: the receive view's line state (pairing line
// ends, the ten-line view, the line bound), the code page, the settings text,
// port numbers to devices and network addresses, hex bytes. Clearing the view
// is tested through its button (tst_window), the command as it goes out
// through the port (tst_terminal).

#include "codepage.h"
#include "hexbytes.h"
#include "lineassembler.h"
#include "linesettings.h"
#include "networkaddress.h"
#include "portmap.h"
#include "support.h"

#include <grp.h>
#include <unistd.h>

Q_DECLARE_METATYPE(LineSettings)

// Units as the port hands them out: one byte each.
static QList<QByteArray> bytes(const QByteArray &text)
{
    QList<QByteArray> units;
    for (char c : text)
        units.append(QByteArray(1, c));
    return units;
}

// The state right after the port opened, fed with the units.
static LineAssembler opened(const QList<QByteArray> &units = {})
{
    LineAssembler a;
    a.reset();
    for (const QByteArray &u : units)
        a.feed(u);
    return a;
}

class TestRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pairing_data()
    {
        QTest::addColumn<QList<QByteArray>>("units");
        QTest::addColumn<QByteArray>("view");
        QTest::addColumn<int>("idx");
        QTest::addColumn<bool>("lineEndSeen");
        const QByteArray controls = allValues().remove(13, 1).remove(10, 1);
        auto row = [](const char *name, const QList<QByteArray> &units, const QByteArray &view,
                      int idx, bool lineEndSeen) {
            QTest::newRow(name) << units << view << idx << lineEndSeen;
        };
        row("LF CR", bytes("A\n\rB"), "A\r\nB", 2, false);
        row("CR CR", bytes("A\r\rB"), "A\r\nB", 2, false);
        row("LF LF", bytes("A\n\nB"), "A\r\nB", 2, false);
        row("CR LF CR LF: an empty line", bytes("A\r\n\r\nB"), "A\r\n\r\nB", 3, false);
        row("text between line ends", bytes("A\rB\nC"), "A\r\nB\r\nC", 3, false);
        row("CR first after opening", bytes("\r"), "\r\n", 2, true);
        row("LF right after the first CR is swallowed", bytes("\r\n"), "\r\n", 2, false);
        row("every other byte stays in its line", bytes(controls), controls, 1, false);
        row("multi-character text unit", {"AB", "CD"}, "ABCD", 1, false);
        row("line-end units drop their tail", {"A", "\rXY", "\nZZ", "B"}, "A\r\nB", 2, false);
        row("empty unit changes nothing", {"A", "", "\r", ""}, "A\r\n", 2, true);
    }
    void pairing()
    {
        QFETCH(QList<QByteArray>, units);
        QFETCH(QByteArray, view);
        QFETCH(int, idx);
        QFETCH(bool, lineEndSeen);
        const LineAssembler a = opened(units);
        QCOMPARE(a.shownText(), view);
        QCOMPARE(int(a.recvLineIdx()), idx);
        QCOMPARE(a.lineEndSeen(), lineEndSeen);
    }

    void tenLinesFillTheViewAndTheNextCharacterScrolls()
    {
        const QByteArray ten = numberedLines(10);
        LineAssembler a = opened(bytes(ten.chopped(1)));
        QVERIFY(!a.feed("\n"));       // the final LF is swallowed: no refresh
        QCOMPARE(a.shownText(), ten); // still lines 1 to 10
        QVERIFY(a.feed("x"));
        QCOMPARE(a.shownText(), ten.mid(ten.indexOf("Zeile 2")) + "x"); // line 1 left the view
        // Once full, CR LF pairs push empty lines in at the bottom.
        for (const QByteArray &u : bytes("\r\n\r\n"))
            a.feed(u);
        QCOMPARE(a.shownText(), ten.mid(ten.indexOf("Zeile 3")) + "x\r\n\r\n");
    }

    void endlessLineKeepsItsNewestCharacters()
    {
        LineAssembler a = opened(bytes("head\r\n"));
        QByteArray sent;
        for (int i = 0; i < 100'000; ++i) {
            const char c = char('a' + i % 26);
            sent += c;
            a.feed(QByteArrayView(&c, 1));
        }
        const QByteArray &line = a.recvLine(2);
        QVERIFY(line.size() >= LineAssembler::KeepNewest && line.size() <= LineAssembler::MaxLine);
        QVERIFY(sent.endsWith(line));
        a.feed("\r");
        QVERIFY(a.shownText().startsWith("head\r\n"));
        QVERIFY(a.shownText().endsWith(sent.right(LineAssembler::KeepNewest) + "\r\n"));
    }

    // One byte, one character, both ways, for every byte; what has no byte
    // goes out as a question mark.
    void codePage()
    {
        const QByteArray all = allValues();
        const QString text = textFromBytes(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(bytesFromText(text), all);
        QCOMPARE(bytesFromText(u"\u00a0\u0080\u2028\U0001F600x"), QByteArray("\xa0???x"));
    }

    void settingsText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<LineSettings>("parsed"); // baud 0: refused with 380
        using P = LineSettings::Parity;
        using S = LineSettings::StopBits;
        QTest::newRow("start-up") << "9600,n,8,1" << LineSettings{9600, P::None, 8, S::One};
        QTest::newRow("blanks around fields") << " 9600 , n ,8, 1 " << LineSettings{};
        QTest::newRow("even, 7, 2") << "19200,e,7,2" << LineSettings{19200, P::Even, 7, S::Two};
        QTest::newRow("1.5 with 5 data bits")
            << "250000,o,5,1.5" << LineSettings{250000, P::Odd, 5, S::OneAndHalf};
        QTest::newRow("mark, upper-case space")
            << "300,M,6,1" << LineSettings{300, P::Mark, 6, S::One};
        QTest::newRow("space") << "12345,S,8,2" << LineSettings{12345, P::Space, 8, S::Two};
        for (const char *bad :
             {"9600,,8,1", "", "0,n,8,1", "-9600,n,8,1", "+9600,n,8,1", "4294967296,n,8,1", "abc",
              "9600,x,8,1", "9600,n,9,1", "9600,n,4,1", "9600,n,8,3", "9600,n,8,1,1",
              "9600,n,8,1.5", "9600,n,8,", "9600,no,8,1"})
            QTest::newRow(*bad ? bad : "empty") << QString(bad) << LineSettings{0};
    }
    void settingsText()
    {
        QFETCH(QString, text);
        QFETCH(LineSettings, parsed);
        LineSettings got{0};
        QCOMPARE(errorOf([&] { got = LineSettings::parse(text); }),
                 parsed.baud ? 0 : Err::InvalidValue);
        QCOMPARE(got, parsed);
    }

    // Port n is the system's n-th device in the order operators count them
    // (ttyS2 before ttyS10, each device once); a com<n> link takes the number.
    void portNumbers_data()
    {
        QTest::addColumn<QString>("link");  // "n=device"
        QTest::addColumn<QString>("ports"); // the devices of ports -1 to 9; "-": error 8002
        const QString system = "- - ttyS2 ttyS10 ttyUSB0 ttyUSB1 ttyACM0 ttyAMA9 ttyAMA10 ttyS -";
        QTest::newRow("system order") << "" << system;
        QTest::newRow("link wins, the system's devices count on from 2")
            << "1=ttyUSB0"
            << "- - ttyUSB0 ttyS2 ttyS10 ttyUSB0 ttyUSB1 ttyACM0 ttyAMA9 ttyAMA10 ttyS";
        QTest::newRow("com01 is no link for 1") << "01=ttyUSB0" << system;
    }
    void portNumbers()
    {
        QFETCH(QString, link);
        QFETCH(QString, ports);
        // Empty files stand in for devices; ttyS2 is reported twice.
        QTemporaryDir dir;
        QStringList system;
        for (const char *name : {"ttyAMA10", "ttyACM0", "ttyS10", "ttyUSB1", "ttyAMA9", "ttyS",
                                 "ttyS2", "ttyUSB0", "ttyS2"}) {
            QFile(dir.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
            system.append(dir.filePath(QLatin1String(name)));
        }
        QDir().mkpath(dir.filePath(QStringLiteral("ports")));
        if (!link.isEmpty())
            QVERIFY(QFile::link(dir.filePath(link.section(u'=', 1)),
                                dir.filePath("ports/com" + link.section(u'=', 0, 0))));
        const PortMap map(dir.filePath(QStringLiteral("ports")), [system] { return system; });
        QStringList got;
        for (qint16 n = -1; n <= 9; ++n) {
            QString device;
            const int error = errorOf([&] { device = map.device(n); });
            got << (error == Err::PortNotFound ? "-" : error ? "?" : QFileInfo(device).fileName());
        }
        QCOMPARE(got.join(' '), ports);
    }

    // What a com<n> link may name on a serial server; everything else in
    // that form is a port that does not exist.
    void networkLinks_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("expected"); // the address as the port opens it; empty: 8002
        auto row = [](const char *target, const char *expected) {
            QTest::newRow(target) << QString(target) << QString(expected);
        };
        row("rfc2217://rack1.lab:7001", "rfc2217://rack1.lab:7001");
        row("tcp://192.168.0.17:4001", "tcp://192.168.0.17:4001");
        row("rfc2217://[fe80::1:2]:2217", "rfc2217://[fe80::1:2]:2217"); // IPv6 in brackets
        row("RFC2217://localhost:1", "rfc2217://localhost:1");           // scheme in capitals
        row("tcp://h:65535", "tcp://h:65535");                           // highest port
        // No port, port 0, too big, with a sign or empty; a path after it; an
        // unknown scheme; IPv6 without brackets or bad; bad IPv4; a blank or a
        // label ending in a hyphen in the host; no host.
        for (const char *bad : {"rfc2217://rack1", "tcp://h:0", "tcp://h:65536", "tcp://h:+22",
                                "rfc2217://rack1:", "rfc2217://rack1:7001/x", "telnet://rack1:23",
                                "tcp://fe80::1:23", "tcp://[fe80:::x]:23", "tcp://300.1.1.1:23",
                                "tcp://rack 1:23", "tcp://rack-.lab:23", "tcp://:23"})
            row(bad, "");
    }
    void networkLinks()
    {
        QFETCH(QString, target);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(QFile::link(target, dir.filePath(QStringLiteral("com3"))));
        const PortMap map(dir.path(), [] { return QStringList(); });
        QString got;
        QCOMPARE(errorOf([&] { got = map.device(3); }), expected.isEmpty() ? Err::PortNotFound : 0);
        QCOMPARE(got, expected);
        if (!expected.isEmpty())
            QCOMPARE(NetworkAddress::parse(got)->text(), expected);
    }

    // The link folder is below XDG_CONFIG_HOME only where that is an absolute
    // path (tst_portlist keeps its links below one), else below ~/.config.
    // A device the system does not let the operator open: the message names
    // the group to join.
    void accessRefusedNamesTheGroup()
    {
        QTemporaryFile device;
        QVERIFY(device.open());
        const group *dialout = ::getgrnam("dialout");
        const gid_t gid = dialout ? dialout->gr_gid : 0;
        QCOMPARE(::fchown(device.handle(), uid_t(-1), gid), 0);
        try {
            raisePortError(EACCES, device.fileName());
            QFAIL("not refused");
        } catch (const KavroError &e) {
            QCOMPARE(e.number(), Err::PortAccess);
            const QString name = QString::fromLocal8Bit(::getgrgid(gid)->gr_name);
            QVERIFY2(e.description().contains("„" + name + "“"), qPrintable(e.description()));
        }
    }

    void linkFolderFromEnvironment()
    {
        const RestoreEnvironment restore("XDG_CONFIG_HOME");
        for (const char *invalid : {"", "cfg", static_cast<const char *>(nullptr)}) {
            invalid ? qputenv("XDG_CONFIG_HOME", invalid) : qunsetenv("XDG_CONFIG_HOME");
            QCOMPARE(PortMap::defaultLinkDir(), QDir::homePath() + "/.config/kavro/ports");
        }
    }

    void hexBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes"); // empty: refused with `error`
        QTest::addColumn<QString>("error");
        auto row = [](const char *name, const QString &text, const char *bytes,
                      const QString &error) {
            QTest::newRow(name) << text << QByteArray::fromHex(bytes) << error;
        };
        const QString noDigit = "„%1“ an Stelle %2 ist keine Hexziffer (erlaubt sind 0–9 und A–F).";
        const QString odd = "„%1“ hat eine ungerade Zahl von Ziffern: jedes Byte besteht aus "
                            "zwei Hexziffern, z. B. „0D“ statt „D“.";
        const QString empty = "Bitte Bytes in Hex eingeben, z. B. „1B 5B 41“.";
        row("run together, blanks anywhere, any case", " \t1B5b  41\n00ff ", "1b5b4100ff", "");
        row("a letter past F", "1B 5G", "", noDigit.arg("G").arg(5));
        row("C notation", "0x1B", "", noDigit.arg("x").arg(2));
        row("commas", "1B,5B", "", noDigit.arg(",").arg(3));
        row("full-width digit", "1B \uff11\uff11", "", noDigit.arg("\uff11").arg(4));
        row("a character outside the BMP, whole", "1B \U0001F600", "",
            noDigit.arg("\U0001F600").arg(4));
        row("half a byte", "1B 5", "", odd.arg("5"));
        row("odd run", "1b5b4", "", odd.arg("1b5b4"));
        row("long odd run, quoted by its beginning", "00 " + QString("1b").repeated(20) + "1", "",
            odd.arg("1b1b1b1b1b1b\u2026"));
        row("far in, the place with a thousands point", QString("41").repeated(616) + "4G", "",
            noDigit.arg("G").arg("1.234"));
        row("nothing", "", "", empty);
        row("blanks only", "  ", "", empty);
    }
    void hexBytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        const HexBytes parsed = parseHexBytes(text);
        QCOMPARE(parsed.error, error);
        QCOMPARE(parsed.bytes, bytes);
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
