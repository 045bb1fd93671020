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

static LineAssembler opened()
{
    LineAssembler a;
    a.RecvLineIdx = 1;
    a.LineEndSeen = false;
    a.clearSlots();
    return a;
}

class TestLineAssembler : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pairing_data();
    void pairing();
    void tenLinesFillTheViewAndTheNextCharacterScrolls();
    void swallowedLineEndKeepsTheScrolledOutLineOnShow();
    void clear_data();
    void clear();
    void endlessLineKeepsItsNewestCharacters();
    void controlBytesStayInTheirLine();
};

void TestLineAssembler::pairing_data()
{
    QTest::addColumn<QList<QByteArray>>("units");
    QTest::addColumn<QByteArray>("view");
    QTest::addColumn<int>("idx");
    QTest::addColumn<bool>("lineEndSeen");

    QTest::newRow("CR LF") << bytes("AB\r\nC") << QByteArray("AB\r\nC") << 2 << false;
    QTest::newRow("LF CR") << bytes("A\n\rB") << QByteArray("A\r\nB") << 2 << false;
    QTest::newRow("CR CR") << bytes("A\r\rB") << QByteArray("A\r\nB") << 2 << false;
    QTest::newRow("LF LF") << bytes("A\n\nB") << QByteArray("A\r\nB") << 2 << false;
    QTest::newRow("CR LF CR LF gives an empty line")
        << bytes("A\r\n\r\nB") << QByteArray("A\r\n\r\nB") << 3 << false;
    QTest::newRow("three line ends after text")
        << bytes("A\r\n\r") << QByteArray("A\r\n\r\n") << 3 << true;
    QTest::newRow("text between line ends")
        << bytes("A\rB\nC") << QByteArray("A\r\nB\r\nC") << 3 << false;
    QTest::newRow("CR first after opening") << bytes("\r") << QByteArray("\r\n") << 2 << true;
    QTest::newRow("LF right after the first CR is swallowed")
        << bytes("\r\n") << QByteArray("\r\n") << 2 << false;
    QTest::newRow("multi-character text unit")
        << QList<QByteArray>{"AB", "CD"} << QByteArray("ABCD") << 1 << false;
    QTest::newRow("line-end unit drops its tail")
        << QList<QByteArray>{"A", "\rXY", "B"} << QByteArray("A\r\nB") << 2 << false;
    QTest::newRow("swallowed unit drops its tail too")
        << QList<QByteArray>{"A", "\r", "\nZZ", "B"} << QByteArray("A\r\nB") << 2 << false;
    QTest::newRow("empty unit changes nothing")
        << QList<QByteArray>{"A", "", "\r", ""} << QByteArray("A\r\n") << 2 << true;
}

void TestLineAssembler::pairing()
{
    QFETCH(QList<QByteArray>, units);
    QFETCH(QByteArray, view);
    QFETCH(int, idx);
    QFETCH(bool, lineEndSeen);

    LineAssembler a = opened();
    for (const QByteArray &u : units)
        a.feed(u);
    QCOMPARE(a.shownText(), view);
    QCOMPARE(int(a.RecvLineIdx), idx);
    QCOMPARE(a.LineEndSeen, lineEndSeen);
    // Invariants: slots below the index end with CR LF, slots above are empty.
    for (int i = 1; i < a.RecvLineIdx; ++i)
        QVERIFY2(a.RecvLines[i].endsWith("\r\n"), qPrintable(QString::number(i)));
    for (int i = a.RecvLineIdx + 1; i <= 10; ++i)
        QVERIFY(a.RecvLines[i].isEmpty());
}

void TestLineAssembler::tenLinesFillTheViewAndTheNextCharacterScrolls()
{
    LineAssembler a = opened();
    QByteArray ten;
    for (int i = 1; i <= 10; ++i)
        ten += "L" + QByteArray::number(i) + "\r\n";
    bool refreshedByLastLf = true;
    for (const QByteArray &u : bytes(ten))
        refreshedByLastLf = a.feed(u);

    QVERIFY(!refreshedByLastLf);                 // the final LF was swallowed
    QCOMPARE(a.shownText(), ten);               // still lines 1 to 10
    QCOMPARE(int(a.RecvLineIdx), 10);
    QVERIFY(a.RecvLines[10].isEmpty());
    QCOMPARE(a.RecvLines[1], QByteArray("L2\r\n")); // the slots moved already

    QVERIFY(a.feed("x"));
    QCOMPARE(a.shownText(), ten.mid(4) + "x");  // "L1\r\n" left the view
    QCOMPARE(int(a.RecvLineIdx), 10);

    // Once full, CR LF pairs push empty lines in at the bottom.
    for (const QByteArray &u : bytes("\r\n\r\n"))
        a.feed(u);
    QCOMPARE(a.shownText(), ten.mid(8) + "x\r\n\r\n");
}

void TestLineAssembler::swallowedLineEndKeepsTheScrolledOutLineOnShow()
{
    LineAssembler a = opened();
    for (const QByteArray &u : bytes("1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n"))
        a.feed(u);
    const QByteArray shown = a.shownText();
    QVERIFY(shown.startsWith("1\r\n"));
    a.feed("\r"); // swallowed: no refresh, the view stays as it was
    QCOMPARE(a.shownText(), shown);
    a.feed("\r"); // a new break: now line 1 goes
    QVERIFY(a.shownText().startsWith("2\r\n"));
    QVERIFY(a.shownText().endsWith("10\r\n\r\n"));
}

void TestLineAssembler::clear_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QByteArray>("view");

    QTest::newRow("in the middle of a line") << QByteArray("A\r\nBC") << QByteArray("D")
                                             << QByteArray("D");
    QTest::newRow("after a line break, the LF is still swallowed")
        << QByteArray("A\r") << QByteArray("\nB") << QByteArray("B");
    QTest::newRow("after a pair, a CR breaks again")
        << QByteArray("A\r\n") << QByteArray("\rB") << QByteArray("\r\nB");
    QTest::newRow("old lines never come back")
        << QByteArray("1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n") << QByteArray("z")
        << QByteArray("z");
}

void TestLineAssembler::clear()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QByteArray, view);

    LineAssembler a = opened();
    for (const QByteArray &u : bytes(before))
        a.feed(u);
    const bool lineEndSeen = a.LineEndSeen;
    a.clearSlots();
    a.RecvLineIdx = 1;
    QCOMPARE(a.shownText(), QByteArray());
    QCOMPARE(a.LineEndSeen, lineEndSeen);
    for (const QByteArray &u : bytes(after))
        a.feed(u);
    QCOMPARE(a.shownText(), view);
}

void TestLineAssembler::endlessLineKeepsItsNewestCharacters()
{
    LineAssembler a = opened();
    for (const QByteArray &u : bytes("head\r\n"))
        a.feed(u);
    QByteArray sent;
    for (int i = 0; i < 100'000; ++i) {
        const char c = char('a' + i % 26);
        sent += c;
        a.feed(QByteArrayView(&c, 1));
    }
    const QByteArray &line = a.RecvLines[2];
    QVERIFY(line.size() >= LineAssembler::KeepNewest);
    QVERIFY(line.size() <= LineAssembler::MaxLine);
    QVERIFY(sent.endsWith(line));
    QCOMPARE(a.RecvLines[1], QByteArray("head\r\n")); // earlier lines untouched
    a.feed("\r");
    QVERIFY(a.shownText().endsWith(sent.right(LineAssembler::KeepNewest) + "\r\n"));
}

void TestLineAssembler::controlBytesStayInTheirLine()
{
    LineAssembler a = opened();
    QByteArray all;
    for (int b = 0; b < 256; ++b) {
        if (b != 13 && b != 10)
            all += char(b);
    }
    for (const QByteArray &u : bytes(all))
        a.feed(u);
    QCOMPARE(a.shownText(), all);
    QCOMPARE(int(a.RecvLineIdx), 1);
}

QTEST_GUILESS_MAIN(TestLineAssembler)
#include "tst_lineassembler.moc"
