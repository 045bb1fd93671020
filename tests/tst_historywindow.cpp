// What the operator sees in the history window: the painted rows (colours,
// the hex layout, the markers), following and holding, the search bar,
// copying and saving, choices kept between runs, a history that cannot be
// written, and the cache files gone after SIGTERM.

#include "charsets.h"
#include "historystore.h"
#include "historywindow.h"
#include "kavrosettings.h"
#include "startup.h"
#include "support.h"
#include "textcolours.h"

#include <QtWidgets>

#include <csignal>
#include <ctime>

namespace
{

class FakeQuestion : public HistoryQuestions
{
public:
    QStringList answers; // taken in order; empty: cancelled
    bool clear = true;
    int clearAsked = 0;
    QString askFile(QWidget *, const QString &, const QString &) override
    {
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    bool askClear(QWidget *) override
    {
        ++clearAsked;
        return clear;
    }
};

// Every thread of the pool busy until released: what the window starts
// there waits, as a long save on a big history is still running.
struct PoolBlock {
    QThreadPool &pool;
    const int threads = pool.maxThreadCount();
    QSemaphore started, go;
    explicit PoolBlock(QThreadPool &pool) : pool(pool)
    {
        for (int i = 0; i < threads; ++i)
            pool.start([this] {
                started.release();
                go.acquire();
            });
        started.acquire(threads);
    }
    bool released = false;
    void release()
    {
        if (!std::exchange(released, true))
            go.release(threads);
    }
    ~PoolBlock()
    {
        release();
        pool.waitForDone();
    }
};

int pixelsOf(const QImage &image, QRgb colour)
{
    return pixels(image, [colour](const QColor &c) { return c.rgb() == (colour | 0xff000000); });
}

} // namespace

class TestHistoryWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir config;
    RestoreEnvironment configHome{"XDG_CONFIG_HOME"};
    std::unique_ptr<QTemporaryDir> cache;
    std::unique_ptr<HistoryStore> store;
    FakeQuestion question;
    std::unique_ptr<HistoryWindow> window;
    qint64 now = 0;

    HistoryView *view() { return window->view(); }
    template <class W> W *control(const char *name) { return window->findChild<W *>(name); }
    QImage picture()
    {
        view()->syncNow();
        return view()->viewport()->grab().toImage();
    }
    void open()
    {
        window = std::make_unique<HistoryWindow>(*store, &question);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        qputenv("TZ", "UTC");
        tzset();
    }
    void init()
    {
        QFile::remove(KavroSettings::path());
        cache = std::make_unique<QTemporaryDir>();
        now = 36000125; // 10:00:00.125 UTC
        store = std::make_unique<HistoryStore>(
            HistoryStore::Options{cache->path(), 1 << 20, 1024, [this] { return now; }});
        open();
    }
    void cleanup()
    {
        window.reset();
        store.reset();
    }

    void paintedRows_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<bool>("colours");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("coloured word")
            << QByteArray("\x1b[31mROT\x1b[0m normal\r\n") << false << true
            << QStringList{"Com 3 geöffnet", "10:00:00.125  ROT normal"};
        QTest::newRow("colours off")
            << QByteArray("\x1b[31mROT\x1b[0m normal\r\n") << false << false
            << QStringList{"Com 3 geöffnet", "10:00:00.125  <ESC>[31mROT<ESC>[0m normal"};
        QTest::newRow("hex rows")
            << QByteArray("0123456789abcdef\x1b\xff\r\n") << true << true
            << QStringList{"00000000  10:00:00.125  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 "
                           "66  0123456789abcdef",
                           "00000010  10:00:00.125  1B FF 0D 0A                                   "
                           "    ·ÿ··"};
    }
    void paintedRows()
    {
        QFETCH(QByteArray, received);
        QFETCH(bool, hex);
        QFETCH(bool, colours);
        QFETCH(QStringList, rows);
        store->portOpened(3, QStringLiteral("9600,n,8,1"));
        store->appendReceived(received);
        control<QComboBox>("Ansicht")->setCurrentIndex(hex ? 1 : 0);
        control<QCheckBox>("Farben")->setChecked(colours);
        const QImage image = picture();
        const QStringList shown = view()->rowsInSight();
        QCOMPARE(shown.size(), rows.size());
        for (qsizetype i = 0; i < rows.size(); ++i)
            QVERIFY2(shown[i].startsWith(rows[i]) || shown[i].contains(rows[i]),
                     qPrintable(shown[i]));

        const int lineHeight = QFontMetrics(view()->font()).lineSpacing();
        if (!hex) {
            // The marker's row has its band, the received row none; the word
            // is red only when colours are on.
            const QRgb band = 0xe3eaf3;
            const QImage markerRow = image.copy(0, 4, image.width(), lineHeight);
            const QImage textRow = image.copy(0, 4 + lineHeight, image.width(), lineHeight);
            QVERIFY(pixelsOf(markerRow, band) > image.width() * lineHeight / 2);
            QCOMPARE(pixelsOf(textRow, band), 0);
            const int reddish = pixels(textRow, [](const QColor &c) {
                return c.red() > c.green() + 80 && c.red() > c.blue() + 60;
            });
            QCOMPARE(reddish > 20, colours);
            return;
        }
        // Hex: each byte's two digits in its column, nothing between the
        // columns, the eighth gap wider.
        const QRgb ground = view()->palette().color(QPalette::Base).rgb();
        auto inked = [&](qreal from, qreal to) {
            const int left = int(std::ceil(from));
            return pixels(image.copy(left, 4, int(to) - left, lineHeight),
                          [&](const QColor &c) { return c.rgb() != ground; }) > 0;
        };
        const qreal cw = view()->columnWidth();
        const qreal hexLeft = 4 + (8 + 2 + 14) * cw;
        for (int column = 0; column < 16; ++column) {
            const qreal x = hexLeft + (column * 3 + (column >= 8 ? 1 : 0)) * cw;
            QVERIFY2(inked(x, x + 2 * cw), qPrintable(QString::number(column)));
            QVERIFY2(!inked(x + 2 * cw + 1, x + 3 * cw - 1), qPrintable(QString::number(column)));
        }
    }

    // A row is put together from pictures of its cells unless it holds a
    // hit; both ways give the same characters at the same places in the
    // same colours, the time and the sent mark included.
    void picturesAsGlyphs_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::newRow("colours, bold, underline, ground")
            << QByteArray("\x1b[1;4;33mgelb\x1b[0m \x1b[44mblau\x1b[0m Zz\r\n");
        QTest::newRow("boxed and invalid bytes, UTF-8")
            << QByteArray("\x01\x7f \xc2\xb0 \xe2\x82 \xe2\x9c\x93 Zz\r\n");
    }
    void picturesAsGlyphs()
    {
        QFETCH(QByteArray, received);
        control<QComboBox>("Zeichensatz")->setCurrentText("UTF-8");
        store->appendSent("AT Zz\r");
        store->appendReceived(received);
        const QImage composed = picture();
        SearchPattern pattern;
        pattern.text = QStringLiteral("Zz");
        pattern.decode = view()->choices().decode;
        view()->setSearch(pattern);
        const QImage drawn = picture();
        QCOMPARE(drawn.size(), composed.size());
        // Every pixel alike but those of the hits ("Zz", marked in yellow,
        // the text on them included), row by row.
        const int lineHeight = QFontMetrics(view()->font()).lineSpacing();
        const QRgb ground = view()->palette().color(QPalette::Base).rgb();
        int differ = 0, inked = 0;
        for (int top = 4; top < 4 + 2 * lineHeight; top += lineHeight) {
            int hitFrom = composed.width(), hitTo = -1;
            for (int y = top; y < top + lineHeight; ++y) {
                for (int x = 0; x < composed.width(); ++x) {
                    const QRgb b = drawn.pixel(x, y);
                    if (qRed(b) > 200 && qGreen(b) > 200 && qBlue(b) < 150)
                        hitFrom = std::min(hitFrom, x), hitTo = std::max(hitTo, x);
                }
            }
            QVERIFY(hitTo > hitFrom);
            for (int y = top; y < top + lineHeight; ++y) {
                for (int x = 0; x < composed.width(); ++x) {
                    const bool outside = x < hitFrom || x > hitTo;
                    differ += outside && composed.pixel(x, y) != drawn.pixel(x, y);
                    inked += outside && composed.pixel(x, y) != ground;
                }
            }
        }
        QVERIFY2(inked > 500, qPrintable(QString::number(inked)));
        QVERIFY2(differ < inked / 50,
                 qPrintable(QStringLiteral("%1 of %2").arg(differ).arg(inked)));
    }

    // Text in its ground's own colour is drawn so that it can be read, as a
    // row of cell pictures and as glyphs (a row with a hit, marked yellow).
    void readableOnItsGround_data()
    {
        QTest::addColumn<QByteArray>("sequence");
        QTest::addColumn<QColor>("ground"); // invalid: the view's own
        QTest::addColumn<bool>("hit");
        for (const bool hit : {false, true}) {
            const char *glyphs = hit ? ", as glyphs" : "";
            QTest::addRow("white on white%s", glyphs)
                << QByteArray("\x1b[38;5;231m") << QColor() << hit;
            QTest::addRow("blue on blue%s", glyphs)
                << QByteArray("\x1b[38;5;21;48;5;21m") << QColor(0, 0, 255) << hit;
        }
    }
    void readableOnItsGround()
    {
        QFETCH(QByteArray, sequence);
        QFETCH(QColor, ground);
        QFETCH(bool, hit);
        control<QCheckBox>("Zeit")->setChecked(false);
        store->appendReceived(sequence + "MMMM Zz\x1b[0m\r\n");
        if (hit) {
            SearchPattern pattern;
            pattern.text = QStringLiteral("Zz");
            pattern.decode = view()->choices().decode;
            view()->setSearch(pattern);
        }
        const QImage image = picture();
        const QColor on = ground.isValid() ? ground : view()->palette().color(QPalette::Base);
        // The four cells of "MMMM", after the margin and the mark's column.
        const qreal cw = view()->columnWidth();
        const int lineHeight = QFontMetrics(view()->font()).lineSpacing();
        qreal most = 0;
        for (int y = 4; y < 4 + lineHeight; ++y)
            for (int x = int(4 + 2 * cw) + 1; x < 4 + 6 * cw - 1; ++x)
                most = std::max(most, contrast(image.pixelColor(x, y), on));
        QVERIFY2(most >= MinimumContrast * 0.9, qPrintable(QString::number(most)));
    }

    void followsAndHolds()
    {
        store->appendReceived(numberedLines(200));
        view()->syncNow();
        QVERIFY(view()->following());
        QCOMPARE(view()->rowsInSight().last(), "10:00:00.125  Zeile 200");
        view()->verticalScrollBar()->setValue(0);
        const QStringList held = view()->rowsInSight();
        QCOMPARE(held.first(), "10:00:00.125  Zeile 1");
        for (int i = 0; i < 5; ++i)
            store->appendReceived("mehr\r\n");
        QTRY_COMPARE(control<QLabel>("Status")->text(),
                     "Angehalten: 5 neue Zeilen (Ende: wieder folgen).");
        QCOMPARE(view()->rowsInSight(), held);
        QTest::keyClick(view(), Qt::Key_End);
        QVERIFY(view()->following());
        QCOMPARE(view()->rowsInSight().last(), "10:00:00.125  mehr");
        QCOMPARE(control<QLabel>("Status")->text(), "Folgt dem Empfang.");
        // Up and back to the end with the bar: it follows again.
        QScrollBar *bar = view()->verticalScrollBar();
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        QVERIFY(!view()->following());
        bar->setValue(bar->maximum());
        store->appendReceived("neu\r\nneu\r\nzuletzt\r\n");
        QTRY_COMPARE(view()->rowsInSight().last(), "10:00:00.125  zuletzt");
        QCOMPARE(control<QLabel>("Status")->text(), "Folgt dem Empfang.");
    }

    void search()
    {
        QByteArray lines;
        for (int i = 0; i < 300; ++i)
            lines += i % 100 == 50 ? "ein Fehler hier\r\n" : "alles gut\r\n";
        store->appendReceived(lines);
        QTest::keySequence(window.get(), QKeySequence::Find);
        QVERIFY(control<QLineEdit>("Suchtext")->hasFocus());
        QTest::keyClicks(control<QLineEdit>("Suchtext"), "FEHLER");
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "3 Treffer");
        // From the end (following) back to the last hit, then round to the
        // first and back, saying so.
        QLabel *status = control<QLabel>("Status");
        const QString held = "Angehalten: 0 neue Zeilen (Ende: wieder folgen).";
        QTest::keyClick(window.get(), Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "Treffer 3 von 3");
        QVERIFY(view()->rowsInSight().contains("10:00:00.125  ein Fehler hier"));
        QVERIFY(!view()->following());
        QCOMPARE(view()->searchFrom().line, 250);
        QCOMPARE(status->text(), held);
        QTest::keyClick(window.get(), Qt::Key_F3);
        QTRY_COMPARE(view()->searchFrom().line, 50);
        QCOMPARE(control<QLabel>("Treffer")->text(), "Treffer 1 von 3");
        QCOMPARE(status->text(),
                 held + "  Ende des Verlaufs erreicht, Suche am Anfang fortgesetzt.");
        // The hit in sight is marked.
        QVERIFY(pixelsOf(picture(), 0xff9f40) > 20);
        QTest::keyClick(window.get(), Qt::Key_F3);
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "Treffer 2 von 3");
        QCOMPARE(status->text(), held);
        // Hex bytes the same way, the numbers with thousands points.
        store->appendReceived(QByteArray("x\r\n").repeated(1000));
        control<QComboBox>("Suchart")->setCurrentIndex(1);
        control<QLineEdit>("Suchtext")->setText("68 69 65 72 0d 0a");
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "3 Treffer");
        control<QLineEdit>("Suchtext")->setText("0d 0a");
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "1.300 Treffer");
        QTest::keyClick(view(), Qt::Key_Home);
        QTest::keyClick(window.get(), Qt::Key_F3);
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "Treffer 1 von 1.300");
        QTest::keyClick(window.get(), Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "Treffer 1.300 von 1.300");
        QCOMPARE(status->text(), "Angehalten: 1.000 neue Zeilen (Ende: wieder folgen).  Anfang "
                                 "des Verlaufs erreicht, Suche am Ende fortgesetzt.");
        control<QLineEdit>("Suchtext")->setText("6");
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "Keine Hex-Bytes");
    }

    // With colours on, hex bytes are found in the escape sequences they
    // hide: the row of a hit shows them as they came, marked.
    void hexHitInHiddenSequence()
    {
        QByteArray lines;
        for (int i = 0; i < 300; ++i)
            lines += i == 150 ? "\x1b[31mROT\x1b[0m normal\r\n" : "alles gut\r\n";
        store->appendReceived(lines);
        control<QComboBox>("Suchart")->setCurrentIndex(1);
        QTest::keySequence(window.get(), QKeySequence::Find);
        QTest::keyClicks(control<QLineEdit>("Suchtext"), "1B 5B");
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "2 Treffer");
        QTest::keyClick(window.get(), Qt::Key_F3);
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "Treffer 1 von 2");
        const QStringList rows = view()->rowsInSight();
        QVERIFY(rows.contains("10:00:00.125  <ESC>[31mROT<ESC>[0m normal"));
        QVERIFY(rows.contains("10:00:00.125  alles gut"));
        // The current hit and the other one in their colours.
        const QImage image = picture();
        QVERIFY(pixelsOf(image, 0xff9f40) > 20);
        QVERIFY(pixelsOf(image, 0xffe36e) > 20);
        // Without a hit in them they are hidden again.
        control<QComboBox>("Suchart")->setCurrentIndex(0);
        QTRY_COMPARE(control<QLabel>("Treffer")->text(), "0 Treffer");
        QVERIFY(view()->rowsInSight().contains("10:00:00.125  ROT normal"));
    }

    void copyAndSave()
    {
        store->appendReceived("A\r\n\x1b[32mgr\xC3\xBCn\x1b[0m\r\n");
        store->appendSent("AT\r");
        store->appendReceived("\xffOK");
        view()->syncNow();
        view()->setFocus();
        QTest::keySequence(view(), QKeySequence::SelectAll);
        QTest::keySequence(view(), QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(),
                 QString::fromUtf8("10:00:00.125  A\n10:00:00.125  grün\n10:00:00.125  → "
                                   "AT<CR>\n10:00:00.125  ÿOK"));
        const QString all = cache->filePath("exakt.bin");
        const QString bytes = cache->filePath("auswahl.bin");
        const QString text = cache->filePath("text.txt");
        question.answers = {all, bytes, text};
        QSignalSpy saved(&window->jobs(), &HistoryJobs::saved);
        QMenu *menu = control<QToolButton>("Speichern")->menu();
        menu->actions()[0]->trigger();
        QTRY_COMPARE(saved.size(), 1);
        QCOMPARE(contentOf(all), "A\r\n\x1b[32mgr\xC3\xBCn\x1b[0m\r\n\xffOK");
        // The selection from the end of "grün" to the start of the last
        // line: the bytes of the "grün" line, the text of it and the command.
        view()->verticalScrollBar()->setValue(0);
        const int lineHeight = QFontMetrics(view()->font()).lineSpacing();
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, QPoint(200, 4 + lineHeight + 3));
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          QPoint(2, 4 + 3 * lineHeight + 3));
        QVERIFY(view()->hasSelection());
        menu->actions()[2]->trigger();
        QTRY_COMPARE(saved.size(), 2);
        QCOMPARE(contentOf(bytes), "\x1b[32mgr\xC3\xBCn\x1b[0m\r\n");
        menu->actions()[3]->trigger();
        QTRY_COMPARE(saved.size(), 3);
        QCOMPARE(contentOf(text), QByteArray("1970-01-01 10:00:00.125  grün\n"
                                             "1970-01-01 10:00:00.125  → AT<CR>\n"));
        QCOMPARE(control<QLabel>("Status")->text(), "Angehalten: 0 neue Zeilen (Ende: wieder "
                                                    "folgen).  Gespeichert.");
    }

    // A save still running when something else happens ends saved, or
    // cancelled with a word; nothing drops it silently.
    void saveWhileRunning_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("said");   // in the status line while it runs
        QTest::addColumn<QString>("status"); // once it has ended
        const QString saving = "Folgt dem Empfang.  Speichert …";
        const QString saved = "Folgt dem Empfang.  Gespeichert.";
        QTest::newRow("search with Shift+F3")
            << "F3" << saving << "Angehalten: 0 neue Zeilen (Ende: wieder folgen).  Gespeichert.";
        QTest::newRow("window closed") << "schließen" << saving << saved;
        QTest::newRow("second save refused")
            << "speichern"
            << saving + "  Es wird noch „voll.bin“ gespeichert; ein weiteres Speichern erst "
                        "danach (oder nach „Abbrechen“)."
            << saved;
        QTest::newRow("clearing refused")
            << "leeren"
            << saving + "  Der Verlauf wird gerade gespeichert; leeren erst danach (oder nach "
                        "„Abbrechen“)."
            << saved;
        QTest::newRow("Abbrechen")
            << "Abbrechen" << saving << "Folgt dem Empfang.  Speichern abgebrochen.";
    }
    void saveWhileRunning()
    {
        QFETCH(QString, meanwhile);
        QFETCH(QString, said);
        QFETCH(QString, status);
        const QByteArray lines = numberedLines(2000);
        store->appendReceived(lines);
        view()->syncNow();
        QLabel *label = control<QLabel>("Status");
        const QString file = cache->filePath("voll.bin");
        const QString second = cache->filePath("zweite.bin");
        question.answers = {file, second};
        QSignalSpy saved(&window->jobs(), &HistoryJobs::saved);
        QSignalSpy found(&window->jobs(), &HistoryJobs::found);
        PoolBlock busy(window->jobs().threads());
        control<QToolButton>("Speichern")->menu()->actions()[0]->trigger();
        QVERIFY(window->jobs().saving());
        QVERIFY(control<QPushButton>("Abbrechen")->isVisible());
        if (meanwhile == "F3") {
            QTest::keySequence(window.get(), QKeySequence::Find);
            QTest::keyClicks(control<QLineEdit>("Suchtext"), "Zeile 1");
            QTest::keyClick(window.get(), Qt::Key_F3, Qt::ShiftModifier); // no going round
        } else if (meanwhile == "schließen") {
            window->close();
        } else if (meanwhile == "speichern") {
            control<QToolButton>("Speichern")->menu()->actions()[0]->trigger();
            QCOMPARE(question.answers, QStringList{second}); // not even asked
        } else if (meanwhile == "leeren") {
            control<QPushButton>("Leeren")->click();
            QCOMPARE(question.clearAsked, 0);
        } else {
            control<QPushButton>("Abbrechen")->click();
        }
        QCOMPARE(label->text(), said);
        busy.release();
        QTRY_COMPARE(saved.size(), 1);
        if (meanwhile == "F3")
            QTRY_COMPARE(found.size(), 1);
        window->showAndRaise();
        QCOMPARE(label->text(), status);
        QVERIFY(!control<QPushButton>("Abbrechen")->isVisible());
        QCOMPARE(contentOf(file), meanwhile == "Abbrechen" ? QByteArray("<missing>") : lines);
        QVERIFY(!QFile::exists(second));
    }

    void hexSelectionAndChoicesRemembered()
    {
        store->appendReceived("> ");
        store->appendSent("AT\r");
        store->appendReceived("OK\r\n0123456789abcdefXYZ");
        control<QCheckBox>("Gesendete")->setChecked(false);
        QCOMPARE(view()->rowsInSight(),
                 (QStringList{"10:00:00.125  > ", "OK", "10:00:00.125  0123456789abcdefXYZ"}));
        // In hex, bytes 6 to 17 dragged over in the right column and copied.
        control<QComboBox>("Ansicht")->setCurrentIndex(1);
        view()->syncNow();
        const int lineHeight = QFontMetrics(view()->font()).lineSpacing();
        const qreal cw = view()->columnWidth();
        const qreal chars = 4 + (8 + 2 + 14 + 16 * 3 + 2) * cw;
        QTest::mousePress(view()->viewport(), Qt::LeftButton, {},
                          QPoint(int(chars + 6.2 * cw), 4 + lineHeight / 2));
        QTest::mouseMove(view()->viewport(), QPoint(int(chars + 2.2 * cw), 4 + lineHeight * 3 / 2));
        QTest::mouseRelease(view()->viewport(), Qt::LeftButton, {},
                            QPoint(int(chars + 2.2 * cw), 4 + lineHeight * 3 / 2));
        const std::optional<HistoryView::Selection> selected = view()->selection();
        QVERIFY(selected);
        QCOMPARE(selected->fromPos, 6);
        QCOMPARE(selected->toPos, 18);
        QTest::keySequence(view(), QKeySequence::Copy);
        const QString head = QStringLiteral("10:00:00.125  ");
        QCOMPARE(QApplication::clipboard()->text().split('\n'),
                 (QStringList{"00000000  " + head + QString(18, ' ') +
                                  "30 31  32 33 34 35 36 37 38 39        0123456789",
                              "00000010  " + head + "61 62" + QString(45, ' ') + "ab"}));
        const QString file = cache->filePath("auswahl.bin");
        question.answers = {file};
        QSignalSpy saved(&window->jobs(), &HistoryJobs::saved);
        control<QToolButton>("Speichern")->menu()->actions()[2]->trigger();
        QTRY_COMPARE(saved.size(), 1);
        QCOMPARE(contentOf(file), "0123456789ab");
        // The choices made here are there again in the next window.
        control<QComboBox>("Zeichensatz")->setCurrentText("UTF-8");
        control<QCheckBox>("Zeit")->setChecked(false);
        window.reset();
        QVERIFY(KavroSettings::path().startsWith(config.path()) &&
                QFile::exists(KavroSettings::path()));
        open();
        QCOMPARE(view()->choices(),
                 (HistoryView::Choices{false, false, true, {Charset::Utf8, true}}));
    }

    void droppedDataAtTheStart()
    {
        window.reset();
        store = std::make_unique<HistoryStore>(
            HistoryStore::Options{cache->path(), 4096, 1024, [this] { return now; }});
        open();
        for (int i = 1; i <= 500; ++i)
            store->appendReceived("Zeile " + QByteArray::number(i) + "\r\n");
        const HistoryLog &log = *store->log();
        QVERIFY(log.droppedBytes() > 0);
        view()->syncNow();
        QTest::keyClick(view(), Qt::Key_Home);
        const QStringList rows = view()->rowsInSight();
        QVERIFY2(rows[0].contains("Ältere Daten verworfen"), qPrintable(rows[0]));
        QCOMPARE(rows[1], "10:00:00.125  " + log.content(log.line(log.beginLine() + 1)));
        // Hex offsets count from the start of the program, not of what is kept.
        control<QComboBox>("Ansicht")->setCurrentIndex(1);
        QTest::keyClick(view(), Qt::Key_Home);
        const QString offset = QString::number(log.receivedBegin() & ~15, 16).toUpper();
        QVERIFY(view()->rowsInSight().first().startsWith(offset.rightJustified(8, '0') + "  "));
        QVERIFY(offset != "0");
    }

    void failureShownInTheWindow()
    {
        // Less than a segment (an eighth of this store's 1 MiB) can be written.
        const FileSizeLimit full(64 * 1024);
        QVERIFY(full.ok());
        store->appendReceived(QByteArray(600 * 1024, 'x'));
        QVERIFY(store->failed());
        QTRY_VERIFY(control<QLabel>("Verlaufsfehler")->isVisible());
        QVERIFY(control<QLabel>("Verlaufsfehler")->text().contains("Empfang und Aufzeichnung"));
        // Emptied once the operator says so, it is written again.
        question.clear = false;
        control<QPushButton>("Leeren")->click();
        QCOMPARE(question.clearAsked, 1);
        QVERIFY(store->failed());
        QVERIFY(control<QLabel>("Verlaufsfehler")->isVisible());
        question.clear = true;
        control<QPushButton>("Leeren")->click();
        QVERIFY(!control<QLabel>("Verlaufsfehler")->isVisible());
        store->appendReceived("wieder\r\n");
        QTRY_COMPARE(view()->rowsInSight(), QStringList{"10:00:00.125  wieder"});
    }

    void placement_data()
    {
        QTest::addColumn<QRect>("main");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("placed");
        const QRect wide(0, 0, 1920, 1080);
        QTest::newRow("on the right of the main window")
            << QRect(0, 0, 600, 420) << wide << QRect(600, 0, 900, 560);
        QTest::newRow("on its left when the right is full")
            << QRect(1000, 100, 600, 420) << wide << QRect(100, 100, 900, 560);
        QTest::newRow("over it on 1280×1024, the bottom edge on the screen")
            << QRect(300, 600, 640, 420) << QRect(0, 0, 1280, 1024) << QRect(170, 464, 900, 560);
        QTest::newRow("on the main window's screen, the second")
            << QRect(1400, 50, 600, 420) << QRect(1280, 0, 1920, 1080) << QRect(2000, 50, 900, 560);
    }
    void placement()
    {
        QFETCH(QRect, main);
        QFETCH(QRect, available);
        QFETCH(QRect, placed);
        QCOMPARE(HistoryWindow::placement(main, QSize(900, 560), available), placed);
    }

    // The window opens on the screen (the offscreen one is narrower than
    // it), also when its remembered place is off every screen.
    void keptOnTheScreen()
    {
        const QRect screen = window->screen()->availableGeometry();
        QVERIFY2(screen.contains(window->frameGeometry()),
                 qPrintable(QDebug::toString(window->frameGeometry())));
        window->move(screen.right() + 2000, screen.bottom() + 2000);
        QTRY_VERIFY(!screen.intersects(window->frameGeometry()));
        window->close();
        window.reset();
        open();
        QVERIFY2(screen.contains(window->frameGeometry()),
                 qPrintable(QDebug::toString(window->frameGeometry())));
    }

    void filesGoneAfterSigterm()
    {
        QProcess child;
        QVERIFY(startHistoryChild(child, cache->path()));
        const QStringList own = QDir(cache->path()).entryList({"history-*"}, QDir::Files);
        QVERIFY(!own.isEmpty());
        child.terminate(); // SIGTERM
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        // Only the files of this test's own store are left.
        const QStringList left = QDir(cache->path()).entryList({"history-*"}, QDir::Files);
        QCOMPARE(left.filter(QStringLiteral("history-%1-").arg(child.processId())), QStringList());
        QVERIFY(!left.isEmpty());
    }
};

// The child of filesGoneAfterSigterm: the history window on its own, ended
// by a signal as the program is.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("KAVRO_HISTORY_CHILD")) {
        HistoryStore store(qEnvironmentVariable("KAVRO_HISTORY_CHILD"));
        HistoryWindow window(store);
        closeOnTerminationSignals(&window);
        window.show();
        store.appendReceived("x\r\n");
        sayReady();
        return app.exec();
    }
    TestHistoryWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_historywindow.moc"
