// What the receive box shows: the rows in sight after lines arrive, scroll out,
// are cleared or grow to the line bound; every byte value painted so that it
// can be told apart; selecting and copying.

#include "artwork.h"
#include "cachedcontrols.h"
#include "lineassembler.h"
#include "receiveview.h"
#include "support.h"
#include "textcolours.h"

#include <QtWidgets>

class TestReceiveView : public QObject
{
    Q_OBJECT
    std::unique_ptr<ReceiveView> view;
    LineAssembler lines;

    // Folds the bytes in one at a time, as the port hands them out, and
    // writes the view once, as the receive handler does.
    void receive(const QByteArray &bytes)
    {
        for (qsizetype i = 0; i < bytes.size(); ++i)
            lines.feed(QByteArrayView(bytes).sliced(i, 1));
        view->setLines(lines.shownLines());
    }
    // What the box shows, without the line breaks.
    QByteArray shown() const { return view->textBytes().replace("\r\n", ""); }
    // What the screen shows of a box: the pixels it painted there (a row it
    // failed to repaint keeps its old picture), not a rendering made now.
    static QImage onScreen(const ReceiveView &box)
    {
        return box.screen()
            ->grabWindow(box.winId())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    // The box as it should look: one of the same size and font, given the
    // text in one piece and painted afresh; as the screen shows it, or as
    // rendered now (at a pixel ratio that is not whole, the offscreen screen
    // keeps only the top left of a window).
    QImage paintedAfresh(const QByteArray &text, bool rendered = false) const
    {
        ReceiveView fresh;
        fresh.setFocusPolicy(Qt::NoFocus); // no caret
        fresh.setFont(view->font());
        fresh.resize(view->size());
        fresh.setLines({text});
        fresh.show();
        if (!QTest::qWaitForWindowExposed(&fresh))
            return {};
        fresh.syncNow();
        fresh.viewport()->repaint();
        return rendered ? fresh.grab().toImage().convertToFormat(QImage::Format_RGB32)
                        : onScreen(fresh);
    }

private Q_SLOTS:
    void init()
    {
        view = std::make_unique<ReceiveView>();
        view->setFont(designFont(13));
        view->resize(289, 193); // its place in the window
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        lines = LineAssembler();
        lines.reset();
    }
    void cleanup() { view.reset(); }

    void newestInSight_data()
    {
        QTest::addColumn<QList<QByteArray>>("events");
        QTest::addColumn<bool>("clearFirst"); // "Inhalt löschen" after the first event
        QTest::addColumn<bool>("allInSight");
        QTest::newRow("a few short lines, one growing")
            << QList<QByteArray>{"A\r\n", "B\r\nC", "D"} << false << true;
        const QByteArray twelve = numberedLines(12);
        QTest::newRow("scrolled past line ten") << QList<QByteArray>{twelve, "x"} << false << true;
        QTest::newRow("cleared") << QList<QByteArray>{twelve, "neu"} << true << true;
        QByteArray wide;
        for (int i = 0; i < 12; ++i)
            wide += QByteArray(61, char('0' + i % 10)) + "\r\n";
        QTest::newRow("wrapped lines, more than fit")
            << QList<QByteArray>{wide, "y"} << false << false;
        QTest::newRow("a line at the bound")
            << QList<QByteArray>{QByteArray(LineAssembler::MaxLine, 'w') + "z"} << false << false;
        QTest::newRow("every byte value")
            << QList<QByteArray>{allValues(8), allValues(8)} << false << false;
    }
    void newestInSight()
    {
        QFETCH(QList<QByteArray>, events);
        QFETCH(bool, clearFirst);
        QFETCH(bool, allInSight);
        // Within a frame the screen shows what a box painted afresh with the
        // same text shows: no row is left from before.
        const auto showsTheText = [&] {
            const QImage expected = paintedAfresh(lines.shownText());
            return QTest::qWaitFor([&] { return onScreen(*view) == expected; });
        };
        view->clearFocus(); // no caret
        for (qsizetype i = 0; i < events.size(); ++i) {
            receive(events[i]);
            QCOMPARE(view->textBytes(), lines.shownText()); // at once, at the end of the event
            QVERIFY(showsTheText());
            if (i == 0 && clearFirst) {
                view->clearText();
                lines.clear();
                QVERIFY(showsTheText());
            }
        }
        // The newest byte shows: one more changes the picture.
        QVERIFY(paintedAfresh(lines.shownText(), true) !=
                paintedAfresh(lines.shownText() + '.', true));
        // The rows in sight end with the newest byte (every event here ends
        // with text) and are a piece of the text without gaps.
        QTRY_VERIFY(!view->rowsInSight().last().isEmpty() &&
                    shown().endsWith(view->rowsInSight().last()));
        const QByteArray rows = view->rowsInSight().join();
        QVERIFY(shown().endsWith(rows));
        QCOMPARE(rows == shown(), allInSight);
        QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
        // Nothing painted is wider than the box.
        for (const QByteArray &row : view->rowsInSight())
            QVERIFY(row.size() <= 60);
        if (!allInSight) { // the operator can scroll back to the start
            view->verticalScrollBar()->setValue(0);
            QVERIFY(shown().startsWith(view->rowsInSight().first()));
        }
    }

    // Every byte value looks different from every other, and every one but
    // the blank leaves a mark: none is invisible, none is the replacement
    // character the font draws for what it cannot show.
    void everyByteLooksDifferent()
    {
        view->clearFocus(); // no caret
        const auto cell = [&] {
            return view->viewport()
                ->grab(QRect(0, 0, 60, 20))
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        // The part of a picture that differs from the ground.
        const auto mark = [](const QImage &image) {
            QRect box;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixel(x, y) != image.pixel(0, 0))
                        box |= QRect(x, y, 1, 1);
            return image.copy(box);
        };
        // What the font shows for what it cannot show: the replacement
        // character, and its box for a character no font has.
        QList<QImage> notShown;
        view->setLines({});
        view->syncNow();
        for (const char16_t c : {u'\uFFFD', u'\uE000'}) {
            QImage image = cell();
            QPainter painter(&image);
            painter.setFont(view->font());
            painter.setPen(view->palette().color(QPalette::Text));
            painter.drawText(QPoint(10, 15), QString(QChar(c)));
            painter.end();
            notShown.append(mark(image));
        }
        QSet<QByteArray> pictures;
        for (int b = 0; b < 256; ++b) {
            view->setLines({QByteArray(1, char(b))});
            view->syncNow();
            const QImage image = cell();
            pictures.insert(
                QByteArray(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes()));
            QVERIFY2(b == ' ' || !mark(image).isNull(), qPrintable(QString::number(b, 16)));
            QVERIFY2(!notShown.contains(mark(image)), qPrintable(QString::number(b, 16)));
        }
        QCOMPARE(pictures.size(), 256);
    }

    void selectAndCopy_data()
    {
        QTest::addColumn<QList<QKeyCombination>>("keys");
        QTest::addColumn<QString>("selected");
        const auto shift = Qt::ShiftModifier;
        QTest::newRow("all") << QList<QKeyCombination>{Qt::ControlModifier | Qt::Key_A}
                             << QString::fromUtf8("A\t<ESC>\n\u20ac\u00ff");
        QTest::newRow("back over the line break")
            << QList<QKeyCombination>{shift | Qt::Key_Left, shift | Qt::Key_Left,
                                      shift | Qt::Key_Left}
            << QString::fromUtf8("\n\u20ac\u00ff");
        QTest::newRow("to the start of the row")
            << QList<QKeyCombination>{shift | Qt::Key_Home} << QString::fromUtf8("\u20ac\u00ff");
    }
    void selectAndCopy()
    {
        QFETCH(QList<QKeyCombination>, keys);
        QFETCH(QString, selected);
        receive("A\t\x1b\r\n\x80\xff");
        view->syncNow();
        view->setFocus();
        for (const QKeyCombination &k : keys)
            QTest::keyClick(view.get(), k.key(), k.keyboardModifiers());
        QCOMPARE(view->selectedText(), selected);
        QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), selected);
        QCOMPARE(view->textBytes(), QByteArray("A\t\x1b\r\n\x80\xff")); // the text is untouched
    }

    // The box keeps pictures of the cells it painted; a new palette (a dark
    // desktop theme, say) must not leave any in the old colours.
    void followsThePalette()
    {
        receive("Messwert 42\x1b\r\n");
        view->syncNow();
        view->viewport()->grab(); // the cells painted in the old colours
        QPalette dark = view->palette();
        dark.setColor(QPalette::Base, Qt::black);
        dark.setColor(QPalette::Text, Qt::green);
        dark.setColor(QPalette::PlaceholderText, Qt::red);
        view->setPalette(dark);
        const QImage image = view->viewport()->grab().toImage();
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                colours.insert(image.pixel(x, y));
        QVERIFY(colours.contains(qRgb(0, 0, 0)));
        QVERIFY(colours.contains(qRgb(0, 255, 0)));
        QVERIFY(colours.contains(qRgb(255, 0, 0)));
        QVERIFY(!colours.contains(qRgb(255, 255, 255)));
    }

    void mouseSelectsWhatIsUnderIt()
    {
        receive("Messwert 42\r\n");
        view->syncNow();
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, QPoint(10, 8));
        QCOMPARE(view->selectedText(), QStringLiteral("Messwert"));
    }

    // A board's UTF-8 and colours, once the operator picks them in the menu;
    // by default the box shows the bytes as it always did. The choice is
    // remembered for the next box.
    void charsetAndColours_data()
    {
        QTest::addColumn<int>("charset");
        QTest::addColumn<bool>("colours");
        QTest::addColumn<QString>("copied");
        QTest::addColumn<bool>("green");
        QTest::newRow("as always")
            << int(Charset::Windows1252) << false
            << QString::fromUtf8("21,5 \u00c2\u00b0C <ESC>[32mOK<ESC>[0m") << false;
        QTest::newRow("UTF-8") << int(Charset::Utf8) << false
                               << QString::fromUtf8("21,5 \u00b0C <ESC>[32mOK<ESC>[0m") << false;
        QTest::newRow("UTF-8 in colour")
            << int(Charset::Automatic) << true << QString::fromUtf8("21,5 \u00b0C OK") << true;
    }
    void charsetAndColours()
    {
        QFETCH(int, charset);
        QFETCH(bool, colours);
        QFETCH(QString, copied);
        QFETCH(bool, green);
        QCOMPARE(view->decoding(), (DecodeOptions{Charset::Windows1252, false}));
        view->setDecoding({Charset(charset), colours});
        receive("21,5 \xc2\xb0"
                "C \x1b[32mOK\x1b[0m");
        view->syncNow();
        view->selectAll();
        QCOMPARE(view->selectedText(), copied);
        QTest::mouseClick(view->viewport(), Qt::LeftButton); // the selection goes
        const int greenPixels = pixels(view->viewport()->grab().toImage(), [](const QColor &c) {
            return c.green() > 120 && c.red() < 100 && c.blue() < 140;
        });
        QCOMPARE(greenPixels > 0, green);
        ReceiveView next;
        QCOMPARE(next.decoding(), (DecodeOptions{Charset(charset), colours}));
        view->setDecoding({Charset::Windows1252, false}); // as the next row expects
    }

    // Text a board writes in its ground's own colour (white on the white box,
    // a colour on the same colour) is drawn darker or lighter until it can be
    // read: at least MinimumContrast against the ground it stands on.
    void readableOnItsGround_data()
    {
        QTest::addColumn<QByteArray>("sequence");
        QTest::addColumn<quint32>("colour");
        QTest::addColumn<QColor>("ground"); // invalid: the box's own
        auto row = [](const char *name, const QByteArray &sequence, quint32 colour,
                      const QColor &ground) {
            QTest::newRow(name) << sequence << colour << ground;
        };
        row("white of the 256", "\x1b[38;5;231m", TextColour::indexed(231), {});
        row("the grey ramp's lightest", "\x1b[38;5;255m", TextColour::indexed(255), {});
        row("white as red, green, blue", "\x1b[38;2;255;255;255m", TextColour::rgb(255, 255, 255),
            {});
        row("near white", "\x1b[38;2;250;250;250m", TextColour::rgb(250, 250, 250), {});
        row("bright white of the sixteen", "\x1b[97m", TextColour::indexed(15), {});
        row("blue on the same blue", "\x1b[38;5;21;48;5;21m", TextColour::indexed(21),
            QColor(0, 0, 255));
        row("the default text on black", "\x1b[40m", TextColour::Default, QColor(0, 0, 0));
    }
    void readableOnItsGround()
    {
        QFETCH(QByteArray, sequence);
        QFETCH(quint32, colour);
        QFETCH(QColor, ground);
        const QPalette palette = view->palette();
        const QColor on = ground.isValid() ? ground : palette.color(QPalette::Base);
        const QColor pen = textColour(colour, palette.color(QPalette::Text), on);
        QVERIFY2(contrast(pen, on) >= MinimumContrast, qPrintable(pen.name()));
        view->setDecoding({Charset::Windows1252, true});
        receive(sequence + "MMMM\x1b[0m\r\n");
        view->syncNow();
        // The first row's first two cells, as painted: their most inked
        // pixel stands out from the ground (a glyph's edges are softened).
        const QImage image = view->viewport()->grab().toImage();
        const qreal ratio = image.devicePixelRatio();
        const QFontMetrics metrics(view->font());
        qreal most = 0;
        for (int y = int(4 * ratio); y < (2 + metrics.height()) * ratio; ++y)
            for (int x = int(4 * ratio); x < (2 + metrics.horizontalAdvance("MM")) * ratio; ++x)
                most = std::max(most, contrast(image.pixelColor(x, y), on));
        view->setDecoding({Charset::Windows1252, false}); // as the next rows expect
        QVERIFY2(most >= MinimumContrast * 0.9, qPrintable(QString::number(most)));
    }

    // The classic sixteen keep their colour on the white box but the two that
    // are too light for it, which change a little; every numbered colour
    // can be read on white, on black and on a grey between.
    void classicColoursKept()
    {
        const QColor white(255, 255, 255);
        for (int i = 0; i < 16; ++i) {
            const QColor asked = groundColour(TextColour::indexed(i));
            const QColor drawn = textColour(TextColour::indexed(i), Qt::black, white);
            if (i == 10 || i == 15) {
                for (const auto channel : {&QColor::red, &QColor::green, &QColor::blue})
                    QVERIFY2(std::abs((drawn.*channel)() - (asked.*channel)()) < 32,
                             qPrintable(drawn.name()));
            } else {
                QCOMPARE(drawn, asked);
            }
        }
        for (const QColor ground : {white, QColor(0, 0, 0), QColor(0x77, 0x77, 0x77)})
            for (int i = 0; i < 256; ++i)
                QVERIFY2(contrast(textColour(TextColour::indexed(i), Qt::black, ground), ground) >=
                             MinimumContrast,
                         qPrintable(QString::number(i) + " on " + ground.name()));
    }

    // A screen reader reads the lines on show, and where the caret is.
    void readByAScreenReader()
    {
        receive("Messwert 42\r\nESC \x1b!");
        view->syncNow();
        QAccessibleInterface *box = QAccessible::queryAccessibleInterface(view.get());
        QVERIFY(box && box->textInterface());
        QAccessibleTextInterface *text = box->textInterface();
        QCOMPARE(text->text(0, text->characterCount()),
                 QString::fromUtf8("Messwert 42\nESC \u241b!"));
        QCOMPARE(box->text(QAccessible::Value), text->text(0, text->characterCount()));
        QVERIFY(box->state().readOnly && box->state().multiLine);
        QCOMPARE(text->cursorPosition(), text->characterCount());
        text->setSelection(0, 0, 8);
        QCOMPARE(view->selectedText(), QStringLiteral("Messwert"));
        // Each character is where it is painted: the first one at the top left.
        const QRect first = text->characterRect(0);
        QVERIFY(first.isValid());
        QCOMPARE(text->offsetAtPoint(first.center()), 0);
        QCOMPARE(text->offsetAtPoint(text->characterRect(12).center()), 12);
    }

    // The activity bar and the box's scroll bar copy pictures the style drew
    // before: whatever changed since (value, range, size, palette, enabled),
    // they look exactly as the stock control would now.
    void keptPicturesFollowTheControl()
    {
        ActivityBar bar;
        QProgressBar stockBar;
        CachedScrollBar scroll(Qt::Vertical);
        QScrollBar stockScroll(Qt::Vertical);
        for (QProgressBar *b : {static_cast<QProgressBar *>(&bar), &stockBar}) {
            b->setTextVisible(false);
            b->resize(313, 9);
        }
        scroll.resize(17, 193);
        stockScroll.resize(17, 193);
        stockBar.setAutoFillBackground(true); // on the same ground
        stockScroll.setAutoFillBackground(true);
        const auto same = [&](int step) {
            for (QProgressBar *b : {static_cast<QProgressBar *>(&bar), &stockBar})
                b->setValue(step % 101);
            for (QScrollBar *s : {static_cast<QScrollBar *>(&scroll), &stockScroll}) {
                s->setRange(0, 10 + step % 3);
                s->setValue(step % 7);
            }
            return bar.grab().toImage() == stockBar.grab().toImage() &&
                   scroll.grab().toImage() == stockScroll.grab().toImage();
        };
        for (int step = 0; step < 120; step += 7)
            QVERIFY2(same(step), qPrintable(QString::number(step)));
        QTRY_VERIFY(bar.updatesEnabled()); // a step is held back for the next frame only
        QPalette red;
        red.setColor(QPalette::Highlight, Qt::red);
        red.setColor(QPalette::Button, Qt::green);
        for (QWidget *w : std::initializer_list<QWidget *>{&bar, &stockBar, &scroll, &stockScroll})
            w->setPalette(red);
        QVERIFY(same(7)); // drawn before, in the old look
        bar.resize(200, 9);
        stockBar.resize(200, 9);
        scroll.setEnabled(false);
        stockScroll.setEnabled(false);
        QVERIFY(same(7)); // drawn before, in the old look
    }
};

QTEST_MAIN(TestReceiveView)
#include "tst_receiveview.moc"
