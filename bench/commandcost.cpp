// What a long command costs the command box: a paste of N letters without a
// blank or line break, then one keystroke after it, each until the box has
// painted again.
//
//   QT_QPA_PLATFORM=offscreen build/bench/kavro-commandcost [N ...]
//
// N defaults to 100000, 200000 and 1000000 characters.

#include "artwork.h"
#include "commandbox.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMimeData>
#include <QTest>

#include <cstdio>

namespace
{

// Milliseconds until what `act` did is laid out and painted.
double timed(CommandBox &box, const std::function<void()> &act)
{
    QElapsedTimer clock;
    clock.start();
    act();
    box.viewport()->repaint();
    QCoreApplication::processEvents();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QList<qsizetype> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.append(QByteArray(argv[i]).toLongLong());
    if (sizes.isEmpty())
        sizes = {100'000, 200'000, 1'000'000};

    std::printf("%10s %12s %14s\n", "chars", "paste ms", "keystroke ms");
    for (const qsizetype n : sizes) {
        CommandBox box;
        box.setFont(designFont(11));
        box.resize(289, 65);
        box.show();
        QCoreApplication::processEvents();
        QString text(n, Qt::Uninitialized);
        for (qsizetype i = 0; i < n; ++i)
            text[i] = QChar(char16_t(u'a' + i % 26));
        QApplication::clipboard()->setText(text);
        box.setFocus();
        const double paste = timed(box, [&] { box.paste(); });
        const double key = timed(box, [&] { QTest::keyClick(&box, Qt::Key_X); });
        std::printf("%10lld %12.1f %14.1f\n", static_cast<long long>(n), paste, key);
        if (box.text().size() != n + 1)
            std::printf("  the box holds %lld characters\n",
                        static_cast<long long>(box.text().size()));
    }
    return 0;
}
