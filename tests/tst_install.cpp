// What `cmake --install` puts on a desktop: installs this build tree into a
// temporary prefix and checks the files and what the desktop's own
// validators say about them.

#include <QDirIterator>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

static const QString Id = QStringLiteral("io.github.kavro.Kavro");

class TestInstall : public QObject
{
    Q_OBJECT
    QTemporaryDir prefix;
    QString desktop() const { return prefix.filePath("share/applications/" + Id + ".desktop"); }

private Q_SLOTS:
    void initTestCase()
    {
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral(KAVRO_CMAKE),
                      {"--install", QStringLiteral(KAVRO_BUILD_DIR), "--prefix", prefix.path()});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    }

    // Every icon is a PNG of the size its folder names, and the desktop finds
    // the sizes it asks for most. The desktop entry and the metainfo are
    // checked by their validators below.
    void icons()
    {
        QDirIterator it(prefix.filePath("share/icons/hicolor"), {Id + ".png"}, QDir::Files,
                        QDirIterator::Subdirectories);
        QStringList sizes;
        while (it.hasNext()) {
            QImageReader reader(it.next());
            const QString folder = it.fileInfo().dir().path().section(u'/', -2, -2);
            QCOMPARE(reader.format(), QByteArray("png"));
            QCOMPARE(QString("%1x%2").arg(reader.size().width()).arg(reader.size().height()),
                     folder);
            sizes << folder;
        }
        for (const char *wanted : {"16x16", "32x32", "48x48", "256x256"})
            QVERIFY2(sizes.contains(wanted), wanted);
    }

    void entryFindsProgramAndIcon()
    {
        QFile entry(desktop());
        QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(entry.readAll());
        const auto value = [&](const QString &key) {
            const QRegularExpression line("^" + key + "=(.*)$",
                                          QRegularExpression::MultilineOption);
            return line.match(text).captured(1);
        };
        QVERIFY(QFileInfo(prefix.filePath("bin/" + value("Exec"))).isExecutable());
        QVERIFY(QFileInfo::exists(
            prefix.filePath("share/icons/hicolor/48x48/apps/" + value("Icon") + ".png")));
    }

    void validators_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop-file-validate") << "desktop-file-validate" << QStringList{desktop()};
        // validate-tree checks the metainfo and its desktop entry together;
        // --strict fails on warnings and infos as well, not only on errors.
        QTest::newRow("appstreamcli validate-tree")
            << "appstreamcli"
            << QStringList{"validate-tree", "--no-net", "--strict", prefix.path()};
    }
    void validators()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(program, arguments);
        QVERIFY2(check.waitForStarted(),
                 qPrintable(program + " fehlt (scripts/setup.sh installiert es)"));
        QVERIFY(check.waitForFinished(60000));
        const QByteArray said = check.readAll();
        QVERIFY2(check.exitCode() == 0, said.constData());
        // desktop-file-validate passes with hints and warnings; none is wanted.
        QVERIFY2(program != "desktop-file-validate" || said.trimmed().isEmpty(), said.constData());
    }
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
