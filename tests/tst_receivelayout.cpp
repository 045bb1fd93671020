// The receive box's text laid out in rows, without a window: wrapping, the
// selection while lines scroll out, what is copied and what a screen reader
// is given.

#include "receivelayout.h"

#include <QtTest>

using Pos = ReceiveLayout::Pos;
Q_DECLARE_METATYPE(Pos)

namespace
{

// Every byte 7 pixels wide, ESC a boxed 20.
std::array<qreal, 256> cellWidths()
{
    std::array<qreal, 256> widths;
    widths.fill(7);
    widths[0x1b] = 20;
    return widths;
}

} // namespace

class TestReceiveLayout : public QObject
{
    Q_OBJECT
    const std::array<qreal, 256> widths = cellWidths();

private Q_SLOTS:
    void wrapsAnywhereWithinTheWidth_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qreal>("width");
        QTest::addColumn<QByteArrayList>("rows");
        QTest::newRow("fits") << QByteArray("abc") << 21.0 << QByteArrayList{"abc"};
        QTest::newRow("cut between any bytes")
            << QByteArray("abcdefg") << 21.0 << QByteArrayList{"abc", "def", "g"};
        QTest::newRow("a cell wider than the row is a row of its own")
            << QByteArray("a\x1b"
                          "b")
            << 10.0 << QByteArrayList{"a", "\x1b", "b"};
        QTest::newRow("line breaks start rows, an ended line leaves an empty one")
            << QByteArray("ab\r\n\r\ncd\r\n") << 100.0 << QByteArrayList{"ab", "", "cd", ""};
    }
    void wrapsAnywhereWithinTheWidth()
    {
        QFETCH(QByteArray, text);
        QFETCH(qreal, width);
        QFETCH(QByteArrayList, rows);
        ReceiveLayout layout(widths);
        layout.setLines({text});
        QVERIFY(layout.wrap(width));
        QByteArrayList got;
        for (const ReceiveLayout::Row &row : layout.rows())
            got.append(layout.rowBytes(row).toByteArray());
        QCOMPARE(got, rows);
        QVERIFY(!layout.wrap(width)); // nothing new: not cut again
    }

    // A selection stays on its text while new lines push old ones out at the
    // top; once its own line has left, nothing is selected.
    void selectionStaysOnItsText_data()
    {
        QTest::addColumn<QList<QByteArray>>("before");
        QTest::addColumn<Pos>("from");
        QTest::addColumn<Pos>("to");
        QTest::addColumn<QList<QByteArray>>("after");
        QTest::addColumn<QString>("selected");
        auto lines = [](int first, int last) {
            QList<QByteArray> l;
            for (int i = first; i <= last; ++i)
                l.append("Zeile " + QByteArray::number(i) + "\r\n");
            return l;
        };
        QTest::newRow("two lines scrolled out")
            << lines(1, 10) << Pos{4, 0} << Pos{5, 2} << lines(3, 12) << QString("Zeile 5\nZe");
        QTest::newRow("its line left")
            << lines(1, 10) << Pos{4, 0} << Pos{4, 7} << lines(6, 15) << QString();
        QTest::newRow("the open line grows")
            << QList<QByteArray>{"A\r\n", "BC"} << Pos{1, 0} << Pos{1, 2}
            << QList<QByteArray>{"A\r\n", "BCD"} << QString("BC");
    }
    void selectionStaysOnItsText()
    {
        QFETCH(QList<QByteArray>, before);
        QFETCH(Pos, from);
        QFETCH(Pos, to);
        QFETCH(QList<QByteArray>, after);
        QFETCH(QString, selected);
        ReceiveLayout layout(widths);
        layout.setLines(before);
        layout.moveTo(from, false);
        layout.moveTo(to, true);
        layout.setLines(after);
        QCOMPARE(layout.selectedText(), selected);
        if (selected.isEmpty())
            QCOMPARE(layout.cursor(), layout.end());
    }

    // What is copied names the invisible bytes; what a screen reader gets has
    // one character per byte, so that its offsets are places in the text.
    void copiedAndSpoken()
    {
        ReceiveLayout layout(widths);
        layout.setLines({"A\t\x1b\r\n", "\x80\xff\x7f"});
        layout.selectAll();
        QCOMPARE(layout.selectedText(), QString::fromUtf8("A\t<ESC>\n\u20ac\u00ff<DEL>"));
        QCOMPARE(layout.spokenText(), QString::fromUtf8("A\u2409\u241b\n\u20ac\u00ff\u2421"));
        for (qsizetype offset = 0; offset <= layout.spokenText().size(); ++offset)
            QCOMPARE(layout.offsetOf(layout.posAt(offset)), offset);
    }
};

QTEST_GUILESS_MAIN(TestReceiveLayout)
#include "tst_receivelayout.moc"
