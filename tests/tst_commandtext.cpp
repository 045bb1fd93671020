#include "commandtext.h"

#include <QTest>

class TestCommandText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stripAndTerminate_data();
    void stripAndTerminate();
};

void TestCommandText::stripAndTerminate_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<Terminator>("terminator");
    QTest::addColumn<QString>("sent");

    QTest::newRow("AT, CR") << "AT" << Terminator::Cr << "AT\r";
    QTest::newRow("typed CR LF not doubled") << "AT\r\n" << Terminator::CrLf << "AT\r\n";
    QTest::newRow("LF CR stripped, LF") << "AT\n\r" << Terminator::Lf << "AT\n";
    QTest::newRow("CR CR LF LF stripped") << "AT\r\r\n\n" << Terminator::Cr << "AT\r";
    QTest::newRow("inner line break kept") << "A\r\nB\r\n" << Terminator::Cr << "A\r\nB\r";
    QTest::newRow("trailing space kept, no terminator") << "AT " << Terminator::None << "AT ";
    QTest::newRow("empty command, CR") << "" << Terminator::Cr << "\r";
    QTest::newRow("only line ends, LF CR") << "\r\n\n\r" << Terminator::LfCr << "\n\r";
    QTest::newRow("empty command, none") << "" << Terminator::None << "";
    QTest::newRow("space before the line end kept") << "AT \r\n" << Terminator::Lf << "AT \n";
    QTest::newRow("umlaut passes") << QString::fromUtf8("Grüße\r\n") << Terminator::CrLf
                                   << QString::fromUtf8("Grüße\r\n");
}

void TestCommandText::stripAndTerminate()
{
    QFETCH(QString, command);
    QFETCH(Terminator, terminator);
    QFETCH(QString, sent);
    QCOMPARE(commandToSend(command, terminator), sent);
}

QTEST_GUILESS_MAIN(TestCommandText)
#include "tst_commandtext.moc"
