// Text rules: the receive view's line state (pairing line ends, the ten-line
// view, the line bound) and the command as it goes out. Clearing the view is
// tested through its button (tst_window).

#include "commandtext.h"
#include "lineassembler.h"

#include <QTest>

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
    a.RecvLineIdx = 1;
    a.LineEndSeen = false;
    a.clearSlots();
    for (const QByteArray &u : units)
        a.feed(u);
    return a;
}

class TestText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pairing_data()
    {
        QTest::addColumn<QList<QByteArray>>("units");
        QTest::addColumn<QByteArray>("view");
        QTest::addColumn<int>("idx");
        QTest::addColumn<bool>("lineEndSeen");
        QByteArray controls;
        for (int b = 0; b < 256; ++b)
            if (b != 13 && b != 10)
                controls += char(b);
        QTest::newRow("CR LF") << bytes("AB\r\nC") << QByteArray("AB\r\nC") << 2 << false;
        QTest::newRow("LF CR") << bytes("A\n\rB") << QByteArray("A\r\nB") << 2 << false;
        QTest::newRow("CR CR") << bytes("A\r\rB") << QByteArray("A\r\nB") << 2 << false;
        QTest::newRow("LF LF") << bytes("A\n\nB") << QByteArray("A\r\nB") << 2 << false;
        QTest::newRow("CR LF CR LF: an empty line") << bytes("A\r\n\r\nB") << QByteArray("A\r\n\r\nB") << 3 << false;
        QTest::newRow("three line ends after text") << bytes("A\r\n\r") << QByteArray("A\r\n\r\n") << 3 << true;
        QTest::newRow("text between line ends") << bytes("A\rB\nC") << QByteArray("A\r\nB\r\nC") << 3 << false;
        QTest::newRow("CR first after opening") << bytes("\r") << QByteArray("\r\n") << 2 << true;
        QTest::newRow("LF right after the first CR is swallowed") << bytes("\r\n") << QByteArray("\r\n") << 2 << false;
        QTest::newRow("every other byte stays in its line") << bytes(controls) << controls << 1 << false;
        QTest::newRow("multi-character text unit") << QList<QByteArray>{"AB", "CD"} << QByteArray("ABCD") << 1 << false;
        QTest::newRow("line-end units drop their tail")
            << QList<QByteArray>{"A", "\rXY", "\nZZ", "B"} << QByteArray("A\r\nB") << 2 << false;
        QTest::newRow("empty unit changes nothing") << QList<QByteArray>{"A", "", "\r", ""} << QByteArray("A\r\n") << 2
                                                    << true;
    }
    void pairing()
    {
        QFETCH(QList<QByteArray>, units);
        QFETCH(QByteArray, view);
        QFETCH(int, idx);
        QFETCH(bool, lineEndSeen);
        const LineAssembler a = opened(units);
        QCOMPARE(a.shownText(), view);
        QCOMPARE(int(a.RecvLineIdx), idx);
        QCOMPARE(a.LineEndSeen, lineEndSeen);
    }

    void tenLinesFillTheViewAndTheNextCharacterScrolls()
    {
        QByteArray ten;
        for (int i = 1; i <= 10; ++i)
            ten += "L" + QByteArray::number(i) + "\r\n";
        LineAssembler a = opened(bytes(ten.chopped(1)));
        QVERIFY(!a.feed("\n")); // the final LF is swallowed: no refresh
        QCOMPARE(a.shownText(), ten); // still lines 1 to 10
        QVERIFY(a.feed("x"));
        QCOMPARE(a.shownText(), ten.mid(4) + "x"); // "L1" left the view
        // Once full, CR LF pairs push empty lines in at the bottom.
        for (const QByteArray &u : bytes("\r\n\r\n"))
            a.feed(u);
        QCOMPARE(a.shownText(), ten.mid(8) + "x\r\n\r\n");
        // A swallowed line end keeps the view as it was; the next break scrolls.
        LineAssembler b = opened(bytes("1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n"));
        QVERIFY(!b.feed("\r"));
        QVERIFY(b.shownText().startsWith("1\r\n"));
        QVERIFY(b.feed("\r"));
        QVERIFY(b.shownText().startsWith("2\r\n") && b.shownText().endsWith("10\r\n\r\n"));
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
        const QByteArray &line = a.RecvLines[2];
        QVERIFY(line.size() >= LineAssembler::KeepNewest && line.size() <= LineAssembler::MaxLine);
        QVERIFY(sent.endsWith(line));
        a.feed("\r");
        QVERIFY(a.shownText().startsWith("head\r\n"));
        QVERIFY(a.shownText().endsWith(sent.right(LineAssembler::KeepNewest) + "\r\n"));
    }

    // Line ends at the command's end are stripped, the chosen terminator appended.
    void stripAndTerminate_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<Terminator>("terminator");
        QTest::addColumn<QString>("sent");
        QTest::newRow("AT, CR") << "AT" << Terminator::Cr << "AT\r";
        QTest::newRow("typed CR LF not doubled") << "AT\r\n" << Terminator::CrLf << "AT\r\n";
        QTest::newRow("LF CR stripped, LF") << "AT\n\r" << Terminator::Lf << "AT\n";
        QTest::newRow("CR CR LF LF stripped") << "AT\r\r\n\n" << Terminator::Cr << "AT\r";
        QTest::newRow("inner line break kept") << "A\r\nB\r\n" << Terminator::Cr << "A\r\nB\r";
        QTest::newRow("space before the line end kept, no terminator") << "AT \r\n" << Terminator::None << "AT ";
        QTest::newRow("empty command, CR") << "" << Terminator::Cr << "\r";
        QTest::newRow("only line ends, LF CR") << "\r\n\n\r" << Terminator::LfCr << "\n\r";
        QTest::newRow("umlaut passes") << QString::fromUtf8("Grüße\r\n") << Terminator::CrLf
                                       << QString::fromUtf8("Grüße\r\n");
    }
    void stripAndTerminate()
    {
        QFETCH(QString, command);
        QFETCH(Terminator, terminator);
        QFETCH(QString, sent);
        QCOMPARE(commandToSend(command, terminator), sent);
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
