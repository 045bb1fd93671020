// The Debian package on this machine, as an operator gets it: `apt install`
// of the file, the program on the PATH, in the menu and in `man`, its window
// on a real X server (Xvfb), and `apt remove`, after which none of its files
// is left. Needs root; skipped otherwise. It installs nothing when Kavro is
// installed already, so that no one's own installation is touched.

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

struct Result
{
    int code = -1;
    QString output;
};

Result run(const QString &program, const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DEBIAN_FRONTEND"), QStringLiteral("noninteractive"));
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    if (!p.waitForStarted())
        return {-1, program + QStringLiteral(" fehlt (scripts/setup.sh --test installiert es)")};
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, program + QStringLiteral(" hängt:\n") + QString::fromUtf8(p.readAll())};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAll())};
}

bool installed()
{
    return run("dpkg-query", {"-W", "-f=${Status}", "kavro"}).output ==
           QStringLiteral("install ok installed");
}

} // namespace

class TestDebInstall : public QObject
{
    Q_OBJECT
    QString m_deb;
    QStringList m_files; // dpkg -L kavro while installed
    bool m_installedHere = false;

private Q_SLOTS:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("braucht root: installiert und entfernt das Paket mit apt");
        if (installed())
            QSKIP("kavro ist auf dieser Maschine schon installiert; erst `apt remove kavro`, dann "
                  "läuft der Test");
        const QDir dir(QStringLiteral(KAVRO_PACKAGE_DIR));
        const QStringList debs = dir.entryList({QStringLiteral("kavro_*.deb")}, QDir::Files);
        QVERIFY2(debs.size() == 1, qPrintable(dir.path() + ": " + debs.join(' ')));
        m_deb = dir.filePath(debs.first());
    }

    void install()
    {
        // Every dependency is on the machine already (scripts/setup.sh), so
        // apt need not and must not fetch anything: without any source of
        // packages it cannot, and a missing dependency fails at once.
        QTemporaryDir noSources;
        QVERIFY(noSources.isValid());
        const Result r = run("apt-get",
                             {"install", "-y", "-o", "DPkg::Lock::Timeout=600", "-o",
                              "Dir::Etc::SourceList=/dev/null", "-o",
                              "Dir::Etc::SourceParts=" + noSources.path(), m_deb},
                             900000);
        m_installedHere = installed();
        QVERIFY2(r.code == 0 && m_installedHere, qPrintable(r.output));
        m_files = run("dpkg", {"-L", "kavro"}).output.split('\n', Qt::SkipEmptyParts);
        QVERIFY(m_files.contains("/usr/bin/kavro"));
    }

    void whereOperatorsLook_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::newRow("PATH") << "sh" << QStringList{"-c", "command -v kavro"} << "/usr/bin/kavro";
        QTest::newRow("man kavro")
            << "man" << QStringList{"-w", "kavro"} << "/usr/share/man/man1/kavro.1.gz";
        QTest::newRow("man kavro-instrument") << "man" << QStringList{"-w", "kavro-instrument"}
                                              << "/usr/share/man/man1/kavro-instrument.1.gz";
        QTest::newRow("Menü")
            << "sh"
            << QStringList{"-c",
                           "grep -h '^Name=' /usr/share/applications/io.github.kavro.Kavro.desktop"}
            << "Name=Kavro";
    }
    void whereOperatorsLook()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        const Result r = run(program, arguments);
        QCOMPARE(r.output.trimmed(), expected);
    }

    // The installed program shows its window on a real X server.
    void windowShows()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());

        // Xvfb picks a free display and writes its number to standard output.
        QProcess xvfb;
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
        QVERIFY2(xvfb.waitForStarted(), "Xvfb fehlt (scripts/setup.sh --test installiert es)");
        const auto endXvfb = qScopeGuard([&] {
            xvfb.terminate();
            xvfb.waitForFinished(30000);
        });
        QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine() || xvfb.state() != QProcess::Running, 30000);
        const QString display = ':' + QString::fromLatin1(xvfb.readLine()).trimmed();
        QVERIFY2(display.size() > 1, "Xvfb startet nicht");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", home.path());
        QProcess kavro;
        kavro.setProcessEnvironment(env);
        kavro.setProcessChannelMode(QProcess::ForwardedChannels);
        kavro.start("/usr/bin/kavro", {});
        QVERIFY(kavro.waitForStarted());
        const qint64 pid = kavro.processId();

        QProcess search;
        search.setProcessEnvironment(env);
        search.start("xdotool",
                     {"search", "--sync", "--onlyvisible", "--name", "^T o l m  Kavro V1\\.00$"});
        QVERIFY2(search.waitForStarted(), "xdotool fehlt (scripts/setup.sh --test installiert es)");
        const bool found = search.waitForFinished(60000);
        if (!found)
            search.kill();
        const QString window =
            QString::fromLatin1(search.readAllStandardOutput()).section('\n', 0, 0);

        QProcess owner;
        owner.setProcessEnvironment(env);
        if (found)
            owner.start("xdotool", {"getwindowpid", window});
        const bool ownerKnown = found && owner.waitForFinished(30000);

        kavro.terminate();
        const bool ended = kavro.waitForFinished(30000);
        if (!ended) {
            kavro.kill();
            kavro.waitForFinished();
        }

        QVERIFY2(found && !window.isEmpty(),
                 "das Fenster \"T o l m  Kavro V1.00\" erscheint nicht");
        QVERIFY(ownerKnown);
        QCOMPARE(owner.readAllStandardOutput().trimmed().toLongLong(), pid);
        QVERIFY2(ended, "kavro endet nicht auf SIGTERM");
    }

    // `apt remove` leaves none of the package's files; a folder may stay only
    // while another package owns it too.
    void removeLeavesNothing()
    {
        QVERIFY(!m_files.isEmpty());
        const Result r =
            run("apt-get", {"remove", "-y", "-o", "DPkg::Lock::Timeout=600", "kavro"}, 600000);
        QVERIFY2(r.code == 0, qPrintable(r.output));
        QVERIFY(!installed());
        m_installedHere = false;
        QStringList left;
        for (const QString &path : std::as_const(m_files)) {
            if (path == "/.") // dpkg's name for the root folder
                continue;
            const QFileInfo info(path);
            if (!info.exists() && !info.isSymLink())
                continue;
            if (!info.isDir() || run("dpkg", {"-S", path}).code != 0)
                left << path;
        }
        QVERIFY2(left.isEmpty(), qPrintable(left.join('\n')));
    }

    void cleanupTestCase()
    {
        // A test that failed half way leaves no package behind either.
        if (m_installedHere)
            run("apt-get", {"remove", "-y", "-o", "DPkg::Lock::Timeout=600", "kavro"}, 600000);
    }
};

QTEST_GUILESS_MAIN(TestDebInstall)
#include "tst_debinstall.moc"
