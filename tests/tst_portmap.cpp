// Port numbers to devices, and the settings texts the port accepts.

#include "kavroerror.h"
#include "linesettings.h"
#include "portmap.h"

#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(LineSettings)

template<typename F>
static int errorOf(F f)
{
    try {
        f();
    } catch (const KavroError &e) {
        return e.number();
    }
    return 0;
}

class TestPortMap : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ordering()
    {
        const QStringList devices{"/dev/ttyAMA10", "/dev/ttyACM0", "/dev/ttyS10", "/dev/ttyUSB1", "/dev/ttyAMA9",
                                  "/dev/ttyS", "/dev/ttyS2", "/dev/ttyUSB0"};
        QCOMPARE(PortMap::ordered(devices),
                 (QStringList{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0",
                              "/dev/ttyAMA9", "/dev/ttyAMA10", "/dev/ttyS"}));
    }

    void mapping_data()
    {
        QTest::addColumn<QString>("link"); // "n=device"; no device: dangling
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("expected"); // empty: error 8002
        QTest::newRow("first") << "" << 1 << "ttyS2";
        QTest::newRow("ttyS10 after ttyS2") << "" << 2 << "ttyS10";
        QTest::newRow("last") << "" << 4 << "ttyACM0";
        QTest::newRow("beyond the last") << "" << 5 << "";
        QTest::newRow("zero") << "" << 0 << "";
        QTest::newRow("negative") << "" << -1 << "";
        QTest::newRow("link wins") << "1=ttyUSB0" << 1 << "ttyUSB0";
        QTest::newRow("link number skipped") << "2=other" << 3 << "ttyS10";
        QTest::newRow("linked device left out") << "9=ttyS10" << 2 << "ttyUSB0";
        QTest::newRow("dangling link") << "2=" << 2 << "";
        QTest::newRow("com01 is no link for 1") << "01=ttyUSB0" << 1 << "ttyS2";
    }
    void mapping()
    {
        QFETCH(QString, link);
        QFETCH(int, port);
        QFETCH(QString, expected);
        // Empty files stand in for devices; ttyS2 is reported twice.
        QTemporaryDir dir;
        QStringList system;
        for (const char *name : {"ttyACM0", "ttyS10", "ttyUSB0", "ttyS2", "ttyS2", "other"}) {
            QFile(dir.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
            system.append(dir.filePath(QLatin1String(name)));
        }
        system.removeLast();
        QDir().mkpath(dir.filePath(QStringLiteral("ports")));
        const QString target = link.section(u'=', 1);
        if (!link.isEmpty())
            QVERIFY(QFile::link(dir.filePath(target.isEmpty() ? QStringLiteral("missing") : target),
                                dir.filePath(QStringLiteral("ports/com") + link.section(u'=', 0, 0))));
        const PortMap map(dir.filePath(QStringLiteral("ports")), [system] { return system; });
        QString got;
        QCOMPARE(errorOf([&] { got = map.device(qint16(port)); }), expected.isEmpty() ? Err::PortNotFound : 0);
        QCOMPARE(got, expected.isEmpty() ? QString() : dir.filePath(expected));
    }

    void linkDirFromEnvironment_data()
    {
        QTest::addColumn<QByteArray>("xdg"); // "-": unset
        QTest::addColumn<QString>("expected");
        QTest::newRow("set") << QByteArray("/tmp/x") << "/tmp/x/kavro/ports";
        QTest::newRow("empty") << QByteArray() << QDir::homePath() + "/.config/kavro/ports";
        QTest::newRow("unset") << QByteArray("-") << QDir::homePath() + "/.config/kavro/ports";
    }
    void linkDirFromEnvironment()
    {
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        xdg == "-" ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", xdg);
        QCOMPARE(PortMap::defaultLinkDir(), expected);
        QCOMPARE(PortMap::system().linkDir(), expected);
    }

    void settings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<LineSettings>("expected"); // baud 0: refused
        using P = QSerialPort;
        QTest::newRow("9600,n,8,1") << "9600,n,8,1" << LineSettings{9600, P::NoParity, P::Data8, P::OneStop};
        QTest::newRow("19200,e,7,2") << "19200,e,7,2" << LineSettings{19200, P::EvenParity, P::Data7, P::TwoStop};
        QTest::newRow("250000,o,5,1.5") << "250000,o,5,1.5"
                                        << LineSettings{250000, P::OddParity, P::Data5, P::OneAndHalfStop};
        QTest::newRow("m") << "300,m,6,1" << LineSettings{300, P::MarkParity, P::Data6, P::OneStop};
        QTest::newRow("S") << "1200,S,8,1" << LineSettings{1200, P::SpaceParity, P::Data8, P::OneStop};
        QTest::newRow("blanks") << " 9600 , n ,8, 1 " << LineSettings{};
        for (const char *bad : {"9600,,8,1", "", "0,n,8,1", "-9600,n,8,1", "4294967296,n,8,1", "abc", "9600,x,8,1",
                                "9600,n,9,1", "9600,n,8,3", "9600,n,8,1,1"})
            QTest::newRow(*bad ? bad : "empty") << QString::fromLatin1(bad) << LineSettings{0};
    }
    void settings()
    {
        QFETCH(QString, text);
        QFETCH(LineSettings, expected);
        LineSettings got;
        QCOMPARE(errorOf([&] { got = LineSettings::parse(text); }), expected.baud ? 0 : Err::InvalidValue);
        QVERIFY2(!expected.baud || got == expected, qPrintable(QDebug::toString(got)));
    }
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
