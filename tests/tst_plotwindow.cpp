// The plot window on the real window and port layer, a pseudo-terminal's
// master as the far end (port 5): two series drawn in their two colours where
// their values belong, the counts of lines, pausing, a window out of sight
// that does nothing and is complete when shown, and the CSV file whose values
// and times are those of the lines sent as the history keeps them.

#include "deviceserialport.h"
#include "fakes.h"
#include "historyexport.h"
#include "plotcanvas.h"
#include "plotfeed.h"
#include "plotwindow.h"
#include "support.h"

#include <QtWidgets>

#include <ctime>

namespace
{

class FakeQuestions : public PlotQuestions
{
public:
    QStringList answers; // taken in order; none left: cancelled
    QString askFile(QWidget *, const QString &, const QString &) override
    {
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

} // namespace

class TestPlotWindow : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> links;
    std::unique_ptr<FarEnd> pty;
    std::unique_ptr<Rig> rig;
    FakeQuestions questions;

    PlotFeed &feed() { return rig->window.plotFeed(); }
    qint64 received() { return feed().reader().counts().received; }
    // Sends the lines in pieces that cut them anywhere; returns when the
    // plot has read them all.
    bool send(const QByteArray &lines, qint64 count)
    {
        const qint64 before = received();
        for (qsizetype at = 0; at < lines.size(); at += 37) {
            if (!pty->send(lines.mid(at, 37)))
                return false;
        }
        return QTest::qWaitFor([&] { return received() == before + count; });
    }
    QImage picture(PlotWindow &plot)
    {
        plot.syncNow();
        return plot.canvas()->grab().toImage();
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }
    void init()
    {
        links = std::make_unique<QTemporaryDir>();
        pty = std::make_unique<FarEnd>();
        QVERIFY(pty->isValid());
        QVERIFY(QFile::link(pty->slavePath(), links->filePath("com5")));
        auto *port = new DeviceSerialPort(
            {PortMap(links->path(), [] { return QStringList(); }), {links->path()}});
        rig = std::make_unique<Rig>(port);
        rig->f.Comport->setEditText("5");
        rig->f.Verbind->click();
        QVERIFY2(rig->lamp() == Lamp::Green, qPrintable(rig->boxes.shown.join('\n')));
    }
    void cleanup()
    {
        rig.reset();
        pty.reset();
        links.reset();
    }

    // Ctrl+K in the main window and "Kurven…" in Empfang's menu open the
    // window, named after the open port, and raise it again.
    void opensFromTheMainWindow()
    {
        rig->window.show();
        rig->window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig->window));
        QTest::keyClick(&rig->window, Qt::Key_K, Qt::ControlModifier);
        auto *plot = rig->window.findChild<PlotWindow *>();
        QVERIFY(plot && plot->isVisible());
        QCOMPARE(plot->windowTitle(), QStringLiteral("Kurven – Com 5"));
        plot->hide();
        QTimer::singleShot(0, this, [this] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            for (QAction *a : menu->actions()) {
                if (a->text() == QStringLiteral("Kurven…")) {
                    QCOMPARE(a->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
                    a->trigger();
                    menu->close();
                    return;
                }
            }
            QFAIL("no Kurven…");
        });
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5),
                                    rig->f.Empfang->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(rig->f.Empfang->viewport(), &menuEvent);
        QTRY_VERIFY(plot->isVisible());
        QCOMPARE(rig->window.findChildren<PlotWindow *>().size(), 1);
        rig->f.Verbind->click();
        QCOMPARE(plot->windowTitle(), QStringLiteral("Kurven"));
    }

    // Two series in their colours at the rows of their values across the
    // picture, counted lines, a pause that holds the picture while lines
    // are still counted, and a window out of sight that keeps no beat.
    void curvesCountsAndPause()
    {
        PlotWindow plot(feed(), &questions);
        plot.setPortNumber(5);
        plot.resize(900, 500);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        QByteArray lines = "Messknoten bereit\r\n";
        for (int i = 0; i < 40; ++i)
            lines += "a:2.5 b:7,25\r\n";
        lines += "a:2.5 b:7,25a:2.5\r\n"; // a lost line end
        QVERIFY(send(lines, 42));
        auto *yFrom = plot.findChild<QLineEdit *>("YVon");
        auto *yTo = plot.findChild<QLineEdit *>("YBis");
        yFrom->setText("0");
        yTo->setText("10");
        Q_EMIT yTo->editingFinished();
        QVERIFY(!plot.findChild<QCheckBox *>("YAutomatisch")->isChecked());
        // Lines that came in one piece share its time: the line numbers
        // spread them.
        plot.findChild<QComboBox *>("XAchse")->setCurrentText(QStringLiteral("Zeilennummer"));

        PlotCanvas &canvas = *plot.canvas();
        QImage image = picture(plot);
        const QRect r = canvas.plotRect();
        const QColor colours[] = {PlotCanvas::colour(0), PlotCanvas::colour(1)};
        const int rows[] = {canvas.yPixel(2.5), canvas.yPixel(7.25)};
        QCOMPARE(rows[0], r.bottom() - qRound(0.25 * (r.height() - 1)));
        // The whole session: from the left column to the right one, each
        // series on its row and nowhere else (but the marks of its points
        // beside it).
        for (int k = 0; k < 2; ++k) {
            int onRow = 0, elsewhere = 0;
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x) {
                    if (image.pixelColor(x, y) == colours[k] && y != rows[k])
                        elsewhere += std::abs(y - rows[k]) > 1;
                    onRow += image.pixelColor(x, y) == colours[k] && y == rows[k];
                }
            }
            QCOMPARE(onRow, r.width());
            QCOMPARE(elsewhere, 0);
        }
        auto *counts = plot.findChild<QLabel *>("Zaehler");
        QCOMPARE(counts->text(),
                 QStringLiteral("Zeilen: 42 empfangen · 40 gezeichnet · 1 verworfen "
                                "· 1 übersprungen"));

        // Paused: the lines are counted, the picture holds.
        plot.findChild<QPushButton *>("Anhalten")->click();
        QByteArray more;
        for (int i = 0; i < 10; ++i)
            more += "a:5 b:5\r\n";
        QVERIFY(send(more, 10));
        QCOMPARE(picture(plot), image);
        QCOMPARE(counts->text(),
                 QStringLiteral("Zeilen: 52 empfangen · 50 gezeichnet · 1 verworfen "
                                "· 1 übersprungen · Bild angehalten"));
        plot.findChild<QPushButton *>("Anhalten")->click();
        image = picture(plot);
        QVERIFY(image.pixelColor(r.right(), canvas.yPixel(5)) == colours[0] ||
                image.pixelColor(r.right(), canvas.yPixel(5)) == colours[1]);

        // Out of sight: no beat, nothing drawn; shown again: all of it.
        QVERIFY(plot.beating());
        plot.hide();
        QVERIFY(!plot.beating());
        QVERIFY(send("a:9 b:9\r\n", 1));
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        QVERIFY(plot.beating());
        QCOMPARE(counts->text(),
                 QStringLiteral("Zeilen: 53 empfangen · 51 gezeichnet · 1 verworfen "
                                "· 1 übersprungen"));
    }

    // XY: "b" against "a" is drawn where each pair of values belongs, in
    // b's colour; "a" itself is not drawn as a curve of its own; the cursor
    // row and the hover text follow the X values, not the time.
    void seriesAgainstSeries()
    {
        PlotWindow plot(feed(), &questions);
        plot.resize(900, 500);
        plot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&plot));
        QByteArray lines;
        for (int i = 0; i <= 20; ++i)
            lines += "a:" + QByteArray::number(i) + " b:" + QByteArray::number(40 - 2 * i) + "\r\n";
        QVERIFY(send(lines, 21));
        auto *axis = plot.findChild<QComboBox *>("XAchse");
        plot.syncNow();
        QCOMPARE(axis->itemText(2), QStringLiteral("XY: gegen a"));
        axis->setCurrentIndex(2);
        auto *yFrom = plot.findChild<QLineEdit *>("YVon");
        auto *yTo = plot.findChild<QLineEdit *>("YBis");
        yFrom->setText("0");
        yTo->setText("40");
        Q_EMIT yTo->editingFinished();

        PlotCanvas &canvas = *plot.canvas();
        QCOMPARE(canvas.axis(), XAxis::Series);
        const QImage image = picture(plot);
        const QColor a = PlotCanvas::colour(0), b = PlotCanvas::colour(1);
        // Each point of b, and the middle of each piece between two.
        auto near = [&](int x, int y, const QColor &c) {
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (image.pixelColor(x + dx, y + dy) == c)
                        return true;
            return false;
        };
        for (int i = 0; i <= 20; ++i) {
            QVERIFY2(near(canvas.xPixel(i), canvas.yPixel(40 - 2 * i), b),
                     qPrintable(QString::number(i)));
            if (i < 20)
                QVERIFY(near(canvas.xPixel(i + 0.5), canvas.yPixel(39 - 2 * i), b));
        }
        // Nothing far from the line y = 40 - 2x, and nothing of a.
        const QRect r = canvas.plotRect();
        int stray = 0, ofA = 0;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                ofA += c == a;
                if (c != b)
                    continue;
                const double v =
                    (x - canvas.xPixel(0)) * 20.0 / (canvas.xPixel(20) - canvas.xPixel(0));
                stray += std::abs(canvas.yPixel(40 - 2 * v) - y) > 3;
            }
        }
        QCOMPARE(ofA, 0);
        QCOMPARE(stray, 0);
    }

    // "Alles als CSV…": a row per plotted line, its time that of the line's
    // history record, the values as sent with a decimal comma.
    void csvAsSent()
    {
        PlotWindow plot(feed(), &questions);
        plot.show();
        QByteArray lines;
        QList<QByteArray> values;
        for (int i = 0; i < 30; ++i) {
            const QByteArray a = QByteArray::number(i * 0.125), b = QByteArray::number(-1000 - i);
            lines += "a:" + a + " b:" + b + "\r\n";
            values += QByteArray(a + ';' + b).replace('.', ',');
        }
        QVERIFY(send(lines, 30));
        const QString path = links->filePath(QStringLiteral("kurven"));
        questions.answers = {path};
        auto *save = plot.findChild<QToolButton *>("Speichern");
        save->menu()->actions().at(0)->trigger(); // "Alles als CSV…"
        auto *status = plot.findChild<QLabel *>("Status");
        QTRY_COMPARE(status->text(), QStringLiteral("Gespeichert: 30 Zeilen."));

        QByteArray expected = "Zeit;a;b\r\n";
        const HistoryLog &log = *rig->window.history().log();
        TimeText times;
        int k = 0;
        for (const HistoryLine &line : log.lines(log.beginLine(), log.endLine())) {
            if (line.kind == HistoryLine::Received)
                expected += times.dateAndTime(line.time).toLatin1() + ';' + values.at(k++) + "\r\n";
        }
        QCOMPARE(k, 30);
        QCOMPARE(contentOf(path + ".csv"), expected);
    }
};

QTEST_MAIN(TestPlotWindow)
#include "tst_plotwindow.moc"
