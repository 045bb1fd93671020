// What stays between runs: kavro.conf as earlier versions wrote it, the
// levels at opening and the commands sent before (stepping through them is
// tested by its keys in tst_lines). The file set aside when it is far too large is tested
// with the window that tells it (tst_window), the choices through the
// controls that make them (tst_receiveview, tst_historywindow).

#include "kavrosettings.h"
#include "openlevels.h"
#include "sentcommands.h"
#include "support.h"

#include <QJsonArray>
#include <QJsonDocument>

using ReceiveChoices = KavroSettings::ReceiveChoices;
using HistoryChoices = KavroSettings::HistoryChoices;
Q_DECLARE_METATYPE(ReceiveChoices)
Q_DECLARE_METATYPE(HistoryChoices)
Q_DECLARE_METATYPE(OpenLevels)

class TestSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Users keep their kavro.conf from one version to the next: a file as
    // earlier versions wrote it reads as the same choices, what it leaves
    // out is the default, and the same choices write the same file again.
    void fileOfEarlierVersions_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<ReceiveChoices>("receive");
        QTest::addColumn<HistoryChoices>("history");
        QTest::addColumn<QByteArray>("geometry");
        QTest::addColumn<OpenLevels>("port5");
        QTest::addColumn<bool>("whole"); // every key there: written again byte for byte
        const HistoryChoices defaults{true, true, false, Charset::Automatic, true, false, false};
        QTest::newRow("none yet") << QByteArray() << ReceiveChoices{Charset::Windows1252, false}
                                  << defaults << QByteArray() << OpenLevels{true, true} << false;
        QTest::newRow("every choice")
            << QByteArray("[Empfang]\nFarben=true\nZeichensatz=UTF-8\n\n"
                          "[Verlauf]\nFarben=false\nFenster=@ByteArray(\\x1\\xd9\\xd0\\xcb\\0)\n"
                          "Gesendete=false\nGrossKlein=true\nHex=true\nSucheHex=true\n"
                          "Zeichensatz=Windows-1252\nZeit=false\n\n"
                          "[com5]\ndtrOnOpen=false\nrtsOnOpen=true\n")
            << ReceiveChoices{Charset::Utf8, true}
            << HistoryChoices{false, false, true, Charset::Windows1252, false, true, true}
            << QByteArray("\x01\xd9\xd0\xcb\x00", 5) << OpenLevels{false, true} << true;
        // A character set of a later version reads as the default.
        QTest::newRow("some, another port's too, an unknown character set")
            << QByteArray("[Empfang]\nZeichensatz=ISO-8859-15\n\n[Verlauf]\nZeichensatz=UTF-8\n\n"
                          "[com12]\ndtrOnOpen=false\n\n[com5]\nrtsOnOpen=false\n")
            << ReceiveChoices{Charset::Windows1252, false}
            << HistoryChoices{true, true, false, Charset::Utf8, true, false, false} << QByteArray()
            << OpenLevels{true, false} << false;
    }
    void fileOfEarlierVersions()
    {
        QFETCH(QByteArray, file);
        QFETCH(ReceiveChoices, receive);
        QFETCH(HistoryChoices, history);
        QFETCH(QByteArray, geometry);
        QFETCH(OpenLevels, port5);
        QFETCH(bool, whole);
        const QString path = KavroSettings::path();
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        const auto remove = qScopeGuard([&] { QFile::remove(path); });
        QVERIFY(file.isEmpty() ? !QFile::exists(path) : writeFile(path, file));
        {
            const KavroSettings settings;
            QCOMPARE(settings.receiveChoices(), receive);
            QCOMPARE(settings.historyChoices(), history);
            QCOMPARE(settings.historyGeometry(), geometry);
            QCOMPARE(settings.openLevels(5), port5);
        }
        QCOMPARE(contentOf(path), file.isEmpty() ? "<missing>" : file); // reading leaves it be
        if (!whole)
            return;
        QVERIFY(QFile::remove(path));
        {
            KavroSettings settings;
            settings.setReceiveChoices(receive);
            settings.setHistoryChoices(history);
            settings.setHistoryGeometry(geometry);
            settings.setOpenLevels(5, port5);
        }
        QCOMPARE(contentOf(path), file);
    }

    // Per port number, in kavro.conf below XDG_CONFIG_HOME; both lines rise
    // unless the operator said otherwise. A file that cannot be written says so.
    void openLevels()
    {
        const RestoreEnvironment restore{"XDG_CONFIG_HOME"};
        QTemporaryDir dir;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
        QCOMPARE(OpenLevels::load(2), (OpenLevels{true, true}));
        OpenLevels::save(2, {false, true});
        QCOMPARE(OpenLevels::load(2), (OpenLevels{false, true}));
        QVERIFY(QFileInfo(dir.filePath("kavro/kavro.conf")).isFile());
        // A file where the folder should be: no file can be made below it.
        QVERIFY(writeFile(dir.filePath("file"), "x"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("file")));
        QCOMPARE(errorOf([] { OpenLevels::save(2, {false, false}); }), Err::PathAccess);
    }

    // Newest first, exactly as sent (control bytes, lone CR), a repeat once
    // (an older copy moves to the top), nothing empty, the newest 200, kept
    // in the state folder for the next run; a damaged file starts afresh, an
    // oversized one is not read and the next command makes it small again, a
    // folder that cannot be written is told once.
    void sentCommands()
    {
        const RestoreEnvironment restore{"XDG_STATE_HOME"};
        QTemporaryDir dir;
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir.path()));
        const QString file = SentCommands::defaultFile();
        QCOMPARE(file, dir.filePath("kavro/history.json"));
        qputenv("XDG_STATE_HOME", "state");
        QCOMPARE(SentCommands::defaultFile(),
                 QDir::homePath() + "/.local/state/kavro/history.json");
        const QString exact = QString("\x1b[A\r") + QChar(0) + "\r\n\u00e4\u20ac";
        {
            SentCommands history(file);
            for (int i = 1; i <= 205; ++i)
                history.record(QString::number(i));
            history.record("150");
            history.record("");
            history.record(exact);
            history.record(exact);
            history.record(QString(SentCommands::LongestKept + 1, 'x'));
            QCOMPARE(history.commands().size(), 200);
            QCOMPARE(history.commands().first(), exact);
            QCOMPARE(history.commands()[1], QStringLiteral("150"));
            QCOMPARE(history.commands()[2], QStringLiteral("205"));
            QCOMPARE(history.commands().count("150"), 1);
            QCOMPARE(history.commands().last(), QStringLiteral("7"));
        }
        SentCommands next(file);
        QCOMPARE(next.commands().size(), 200);
        QCOMPARE(next.commands()[0], exact);
        QVERIFY(writeFile(file, "[\"AT\", 3"));
        SentCommands damaged(file);
        QCOMPARE(damaged.commands(), QStringList());
        damaged.record("ATI");
        QCOMPARE(SentCommands(file).commands(), QStringList{"ATI"});

        QVERIFY(writeFile(file, "[\"AT\"" + QByteArray(SentCommands::LargestFile, ' ') + "]"));
        QCOMPARE(SentCommands(file).commands(), QStringList());
        // Pasted blocks: one too long to keep, and more than fit in all.
        QStringList blocks;
        for (int i = 0; i < 5; ++i)
            blocks.append(QString::number(i) + QString(SentCommands::LongestKept - 1, 'b'));
        const QStringList stored =
            QStringList{QString(SentCommands::LongestKept + 1, 'x'), "AT", "AT"} + blocks;
        QVERIFY(writeFile(file, QJsonDocument(QJsonArray::fromStringList(stored)).toJson()));
        SentCommands oversized(file);
        QCOMPARE(oversized.commands(), (QStringList{"AT"} + blocks.first(3)));
        oversized.record("ATI");
        QCOMPARE(SentCommands(file).commands(), (QStringList{"ATI", "AT"} + blocks.first(3)));
        QCOMPARE(QFileInfo(file).size(), 3 * (SentCommands::LongestKept + 2) + 15);

        QVERIFY(writeFile(dir.filePath("file"), "x"));
        SentCommands unwritable(dir.filePath("file/history.json"));
        QCOMPARE(errorOf([&] { unwritable.record("A"); }), Err::PathAccess);
        QCOMPARE(errorOf([&] { unwritable.record("B"); }), 0);
        QCOMPARE(unwritable.commands(), (QStringList{"B", "A"}));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
