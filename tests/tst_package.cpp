// The Debian package that scripts/package.sh built into KAVRO_PACKAGE_DIR
// (the ctest fixture package_build): what lintian says about it, that it holds
// what `cmake --install` installs, that its versions are the project's, and
// that it brings along what the program needs but links to nowhere.

#include <QDir>
#include <QDirIterator>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Runs a program to its end and gives its standard output; fails the test
// when it cannot start, runs too long or exits with an error.
QByteArray run(const QString &program, const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForStarted()) {
        QTest::qFail(qPrintable(program + " fehlt (scripts/setup.sh --test installiert es)"),
                     __FILE__, __LINE__);
        return {};
    }
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        const QByteArray said = p.readAllStandardError() + p.readAllStandardOutput();
        p.kill();
        QTest::qFail(
            qPrintable(program + ' ' + arguments.join(' ') + ":\n" + QString::fromUtf8(said)),
            __FILE__, __LINE__);
        return {};
    }
    return p.readAllStandardOutput();
}

// The package that owns an installed file, as `dpkg -S` names it.
QString owner(const QString &path)
{
    const QString line =
        QString::fromUtf8(run(QStringLiteral("dpkg"), {QStringLiteral("-S"), path}));
    return line.section(QLatin1Char(':'), 0, 0).trimmed();
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT
    QString m_deb;
    QTemporaryDir m_tmp;

    QByteArray field(const QString &name) { return run("dpkg-deb", {"-f", m_deb, name}).trimmed(); }
    // A file's content inside the package, uncompressed.
    QByteArray content(const QString &file)
    {
        const QString unpack = file.endsWith(".gz") ? "gzip -dc" : "cat";
        return run("sh", {"-c", "dpkg-deb --fsys-tarfile \"$0\" | tar -xO \"./$1\" | " + unpack,
                          m_deb, file});
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QDir dir(QStringLiteral(KAVRO_PACKAGE_DIR));
        const QStringList debs = dir.entryList({QStringLiteral("kavro_*.deb")}, QDir::Files);
        QVERIFY2(debs.size() == 1, qPrintable(dir.path() + ": " + debs.join(' ')));
        m_deb = dir.filePath(debs.first());
        QVERIFY(m_tmp.isValid());
    }

    // Errors and warnings fail; a warning that is right for this package is
    // overridden with its reason in debian/kavro.lintian-overrides.
    void lintian()
    {
        const QString changes = QString(m_deb).replace(QRegularExpression("\\.deb$"), ".changes");
        QProcess p;
        p.start("lintian", {"--fail-on", "error,warning", changes});
        QVERIFY2(p.waitForStarted(), "lintian fehlt (scripts/setup.sh --test installiert es)");
        QVERIFY(p.waitForFinished(300000));
        const QByteArray said = p.readAllStandardOutput();
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
                 (said + p.readAllStandardError()).constData());
        qInfo("lintian: %s", said.isEmpty() ? "nichts" : said.constData());
    }

    // Exactly what `cmake --install` puts into a prefix, with the manual pages
    // compressed and what Debian adds to every package (its documentation
    // folder, lintian's overrides).
    void holdsWhatCmakeInstalls()
    {
        const QString prefix = m_tmp.filePath("cmake/usr");
        run(QStringLiteral(KAVRO_CMAKE),
            {"--install", QStringLiteral(KAVRO_BUILD_DIR), "--prefix", prefix});
        QStringList expected;
        QDirIterator it(prefix, QDir::Files | QDir::System | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            expected << "usr/" + QDir(prefix).relativeFilePath(it.next());

        QStringList packaged;
        const QStringList entries =
            QString::fromUtf8(run("sh", {"-c", "dpkg-deb --fsys-tarfile \"$0\" | tar -t", m_deb}))
                .split('\n', Qt::SkipEmptyParts);
        for (QString entry : entries) {
            entry.remove(QRegularExpression("^\\./"));
            if (entry.isEmpty() || entry.endsWith('/') ||
                entry.startsWith("usr/share/doc/kavro/") ||
                entry == "usr/share/lintian/overrides/kavro")
                continue;
            if (entry.startsWith("usr/share/man/"))
                entry.remove(QRegularExpression("\\.gz$"));
            packaged << entry;
        }
        const QSet<QString> inPackage(packaged.cbegin(), packaged.cend());
        const QSet<QString> installed(expected.cbegin(), expected.cend());
        QVERIFY2(
            inPackage == installed,
            qPrintable("nur im Paket: " + QStringList((inPackage - installed).values()).join(' ') +
                       "\nnur von cmake --install: " +
                       QStringList((installed - inPackage).values()).join(' ')));
        QCOMPARE(packaged.size(), inPackage.size());
    }

    // The project version in CMakeLists.txt is the one every part shows.
    void versions_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("metainfo") << "usr/share/metainfo/io.github.kavro.Kavro.metainfo.xml"
                                  << "<release version=\"([^\"]*)\"";
        QTest::newRow("kavro.1") << "usr/share/man/man1/kavro.1.gz"
                                 << "^\\.TH .* \"Kavro ([^\"]*)\"";
        QTest::newRow("kavro-instrument.1") << "usr/share/man/man1/kavro-instrument.1.gz"
                                            << "^\\.TH .* \"Kavro ([^\"]*)\"";
        QTest::newRow("Paket") << QString() << QString();
    }
    void versions()
    {
        QFETCH(QString, file);
        QFETCH(QString, pattern);
        QString version;
        if (file.isEmpty()) {
            version = QString::fromUtf8(field("Version")).section('-', 0, -2);
        } else {
            const auto match = QRegularExpression(pattern, QRegularExpression::MultilineOption)
                                   .match(QString::fromUtf8(content(file)));
            QVERIFY2(match.hasMatch(), qPrintable(file));
            version = match.captured(1);
        }
        QCOMPARE(version, QStringLiteral(KAVRO_VERSION));
    }

    // What the program takes at run time, found from this machine: the
    // library it links, Qt's German texts and the font the window is laid out
    // for. Each owner must be a dependency, and no package is named twice.
    void dependencies_data()
    {
        QTest::addColumn<QString>("path");
        const QString ldd = QString::fromUtf8(run("ldd", {QStringLiteral(KAVRO_PROGRAM)}));
        QTest::newRow("Qt SerialPort")
            << QRegularExpression("=> (\\S*libQt6SerialPort\\S*)").match(ldd).captured(1);
        QTest::newRow("Qt-Übersetzung")
            << QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_de.qm");
        QTest::newRow("Schrift") << QString::fromUtf8(
            run("fc-match", {"-f", "%{file}", "Liberation Sans:style=Regular"}));
    }
    void dependencies()
    {
        QFETCH(QString, path);
        // dpkg knows a file by its path in the package, not by a link to it
        // (/lib is a link to /usr/lib on a merged /usr).
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        path = QFileInfo(path).canonicalFilePath();
        QStringList names;
        for (const QString &alternatives : QString::fromUtf8(field("Depends")).split(','))
            for (const QString &dependency : alternatives.split('|'))
                names << dependency.trimmed().section(' ', 0, 0).section(':', 0, 0);
        QCOMPARE(QSet<QString>(names.cbegin(), names.cend()).size(), names.size());
        const QString package = owner(path);
        QVERIFY2(names.contains(package), qPrintable(package + " fehlt in " + names.join(", ")));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
