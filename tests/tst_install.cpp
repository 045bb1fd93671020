// What `cmake --install` puts on a desktop: installs this build tree into a
// temporary prefix and checks the files and what the desktop's own
// validators say about them.

#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

static const QString Id = QStringLiteral("io.github.kavro.Kavro");

class TestInstall : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void files_data();
    void files();
    void entryFindsProgramAndIcon();
    void validators_data();
    void validators();

private:
    QTemporaryDir prefix;
    QString desktop() const { return prefix.filePath("share/applications/" + Id + ".desktop"); }
};

void TestInstall::initTestCase()
{
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(KAVRO_CMAKE),
                  {"--install", QStringLiteral(KAVRO_BUILD_DIR), "--prefix", prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
}

void TestInstall::files_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("iconSize"); // 0: not an icon

    QTest::newRow("program") << "bin/kavro" << 0;
    QTest::newRow("desktop entry") << "share/applications/" + Id + ".desktop" << 0;
    QTest::newRow("metainfo") << "share/metainfo/" + Id + ".metainfo.xml" << 0;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1x%1").arg(size);
        QTest::newRow(qPrintable("icon " + dir))
            << "share/icons/hicolor/" + dir + "/apps/" + Id + ".png" << size;
    }
}

void TestInstall::files()
{
    QFETCH(QString, path);
    QFETCH(int, iconSize);
    const QFileInfo file(prefix.filePath(path));
    QVERIFY2(file.isFile() && file.size() > 0, qPrintable(path));
    if (path.startsWith("bin/"))
        QVERIFY(file.isExecutable());
    if (iconSize > 0) {
        QImageReader reader(file.filePath());
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.size(), QSize(iconSize, iconSize));
    }
}

void TestInstall::entryFindsProgramAndIcon()
{
    QFile entry(desktop());
    QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(entry.readAll());
    const auto value = [&](const QString &key) {
        return QRegularExpression("^" + key + "=(.*)$", QRegularExpression::MultilineOption)
            .match(text)
            .captured(1);
    };
    QVERIFY(QFileInfo(prefix.filePath("bin/" + value("Exec"))).isExecutable());
    QVERIFY(QFileInfo::exists(prefix.filePath("share/icons/hicolor/48x48/apps/" + value("Icon") + ".png")));
}

void TestInstall::validators_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("desktop-file-validate") << "desktop-file-validate" << QStringList{desktop()};
    // validate-tree checks the metainfo and its desktop entry together;
    // --strict fails on warnings and infos as well, not only on errors.
    QTest::newRow("appstreamcli validate-tree")
        << "appstreamcli" << QStringList{"validate-tree", "--no-net", "--strict", prefix.path()};
}

void TestInstall::validators()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    check.start(program, arguments);
    QVERIFY2(check.waitForStarted(), qPrintable(program + " fehlt (scripts/setup.sh installiert es)"));
    QVERIFY(check.waitForFinished(60000));
    const QByteArray said = check.readAll();
    QVERIFY2(check.exitCode() == 0, said.constData());
    // desktop-file-validate passes with hints and warnings; none is wanted.
    if (program == "desktop-file-validate")
        QVERIFY2(said.trimmed().isEmpty(), said.constData());
}

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
