// The telnet framing of network ports on its own; tst_network drives it
// against the real ser2net, and tst_lines the line changes, the break and
// the input line notices through it.

#include "rfc2217.h"

#include <QtTest>

using Line = Rfc2217Client::Line;
using Verdict = Rfc2217Client::Verdict;
using Control = Rfc2217Client::Control;
Q_DECLARE_METATYPE(Line)

// Telnet streams written as hex, blanks between commands for the reader.
static QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// What ser2net sends first on its telnet(rfc2217) accepter (WILL and DO
// suppress-go-ahead, WILL and DONT echo, DO and WILL binary, DO COM-PORT),
// and a server's consent to what our opening asks.
static const QByteArray serverHello = hex("fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c");
static const QByteArray consent = hex("fffb00 fffd00 fffd2c");

class TestRfc2217 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodeAtEverySplit_data()
    {
        QTest::addColumn<QByteArray>("prefix"); // fed whole first, after our opening
        QTest::addColumn<QByteArray>("stream"); // then split at every position
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("reply");
        auto row = [](const char *name, const QByteArray &prefix, const char *stream,
                      const char *data, const char *reply) {
            QTest::newRow(name) << prefix << hex(stream) << hex(data) << hex(reply);
        };
        row("ser2net's hello", {}, serverHello.toHex().constData(), "", "fffe01");
        row("IAC IAC is one 255", consent, "61 ffff ffff 62", "61 ff ff 62", "");
        row("answer between data", consent, "6162 fffa2c65 00004b00 fff0 6364", "61626364", "");
        row("255 inside an answer", consent, "fffa2c65 000000ffff fff0 78", "78", "");
        row("requests between data", consent, "78 fffb01 fffd18 fff1 79", "7879", "fffe01 fffc18");
        row("unended subnegotiation", consent, "78 fffa2c6b00 fffb01 79", "7879", "fffe01");
        row("agreed options not answered again", consent,
            (consent + serverHello).toHex().constData(), "", "fffe01");
        row("binary: CR NUL stays", consent, "61 0d00 62 0d", "61 0d00 62 0d", "");
        row("NVT: CR NUL is CR", hex("fffc00"), "61 0d00 62 0d0a 63 0d00 00",
            "61 0d 62 0d0a 63 0d 00", "");
    }
    void decodeAtEverySplit()
    {
        QFETCH(QByteArray, prefix);
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, reply);
        for (qsizetype split = 0; split <= stream.size(); ++split) {
            Rfc2217Client codec;
            codec.opening();
            QByteArray gotData, gotReply;
            codec.decode(prefix, gotData, gotReply);
            gotData.clear();
            gotReply.clear();
            codec.decode(stream.first(split), gotData, gotReply);
            codec.decode(stream.sliced(split), gotData, gotReply);
            QCOMPARE(gotData, data);
            QCOMPARE(gotReply, reply);
        }
    }

    void encode_data()
    {
        QTest::addColumn<QByteArray>("agreement");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("binary") << consent << hex("61 0d 0d0a ffff 00 0d");
        QTest::newRow("NVT: CR NUL") << hex("fffe00") << hex("61 0d00 0d000a ffff 00 0d00");
    }
    void encode()
    {
        QFETCH(QByteArray, agreement);
        QFETCH(QByteArray, wire);
        Rfc2217Client codec;
        QByteArray data, reply;
        codec.opening();
        codec.decode(agreement, data, reply);
        QCOMPARE(codec.encode(hex("61 0d 0d0a ff 00 0d")), wire);
    }

    void settings_data()
    {
        QTest::addColumn<Line>("line");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<Verdict>("verdict");
        const Line asked{19200, 8, 'n', 2};
        // What ser2net answered to it.
        const QByteArray agreed =
            hex("fffa2c65 00004b00 fff0 fffa2c66 08 fff0 fffa2c67 01 fff0 fffa2c68 02 fff0");
        QTest::newRow("all agreed") << asked << agreed << Verdict::Agreed;
        QTest::newRow("stop size not answered") << asked << agreed.first(24) << Verdict::Waiting;
        QTest::newRow("other baud") << asked << hex("fffa2c65 00002580 fff0") << Verdict::Differs;
        QTest::newRow("unknown parity code")
            << asked << hex("fffa2c67 09 fff0") << Verdict::Differs;
        QTest::newRow("baud with a 255 byte")
            << Line{0xff00ff, 8, 'n', 2} << hex("fffa2c65 00ffff00ffff fff0") + agreed.sliced(10)
            << Verdict::Agreed;
        QTest::newRow("1.5 stop bits, space")
            << Line{1200, 5, 's', 1.5} << QByteArray() << Verdict::Waiting;
    }
    void settings()
    {
        QFETCH(Line, line);
        QFETCH(QByteArray, answers);
        QFETCH(Verdict, verdict);
        Rfc2217Client codec;
        QByteArray data, reply;
        // A server that takes every value answers each request with it; a
        // 255 left undoubled would end up as data.
        QByteArray echo = codec.requestSettings(line);
        for (qsizetype at = echo.indexOf("\xff\xfa,"); at >= 0;
             at = echo.indexOf("\xff\xfa,", at + 1))
            echo[at + 3] = char(echo[at + 3] + 100);
        codec.decode(echo, data, reply);
        QCOMPARE(codec.verdict(line), Verdict::Agreed);
        codec.requestSettings(line);
        codec.decode(answers, data, reply);
        QCOMPARE(codec.verdict(line), verdict);
        QVERIFY(data.isEmpty());
        for (const Line &bad : {Line{0, 8, 'n', 1}, Line{9600, 9, 'n', 1}, Line{9600, 8, 'x', 1},
                                Line{9600, 8, 'n', 3}})
            QVERIFY(codec.requestSettings(bad).isEmpty());
    }

    // The server's answers to SET-CONTROL and its NOTIFY-MODEMSTATE, split
    // anywhere and between data; a new request forgets the old answer.
    void linesAtEverySplit_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("lines"); // DTR RTS BREAK modem state, "-" for not said
        auto row = [](const char *name, const char *stream, const char *data, const char *lines) {
            QTest::newRow(name) << hex(stream) << hex(data) << lines;
        };
        row("DTR on, RTS off", "61 fffa2c69 08 fff0 62 fffa2c69 0c fff0", "6162", "1 0 - -");
        row("break on, then off", "fffa2c69 05 fff0 fffa2c69 06 fff0", "", "- - 0 -");
        row("CTS and DCD came", "61 fffa2c6b 99 fff0 62", "6162", "- - - 99");
        row("all on and changed: 255 doubled", "fffa2c6b ffff fff0", "", "- - - ff");
        row("flow control, line state and signature change nothing",
            "fffa2c69 01 fff0 fffa2c6a 60 fff0 fffa2c64 6b fff0", "", "- - - -");
        row("a notice cut short by a command", "fffa2c6b 10 fffb01 fffa2c6b 20 fff0", "",
            "- - - 20");
    }
    void linesAtEverySplit()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, data);
        QFETCH(QString, lines);
        auto text = [](const auto &v) {
            return v ? QString::number(int(*v), 16) : QStringLiteral("-");
        };
        for (qsizetype split = 0; split <= stream.size(); ++split) {
            Rfc2217Client codec;
            codec.opening();
            QByteArray gotData, reply;
            codec.decode(consent, gotData, reply);
            codec.decode(stream.first(split), gotData, reply);
            codec.decode(stream.sliced(split), gotData, reply);
            const Rfc2217Client::Lines &l = codec.lines();
            QCOMPARE(QStringList({text(l.dtr), text(l.rts), text(l.breakOn), text(l.modemState)})
                         .join(' '),
                     lines);
            QCOMPARE(gotData, data);
        }
        Rfc2217Client codec;
        QByteArray gotData, reply;
        codec.decode(hex("fffa2c69 08 fff0 fffa2c69 0b fff0"), gotData, reply);
        codec.requestControl(Control::DtrOff);
        QVERIFY(!codec.lines().dtr && codec.lines().rts == true);
    }
};

QTEST_GUILESS_MAIN(TestRfc2217)
#include "tst_rfc2217.moc"
