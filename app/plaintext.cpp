#include "plaintext.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QTextLayout>
#include <QToolTip>
#include <QWidget>

namespace
{

// Room the tooltip's frame and margins take from the screen, in pixels.
constexpr int Border = 32;

} // namespace

QString plainToolTip(const QString &text, const QWidget *widget)
{
    if (text.isEmpty())
        return {};
    const QScreen *screen = widget ? widget->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QFont font = QToolTip::font();
    const QFontMetrics metrics(font);
    const int width = std::max(room.width() - Border, 20 * metrics.averageCharWidth());
    const int most = std::max(3, (room.height() - Border) / metrics.lineSpacing());

    // A wrapped line's pieces are joined by a line separator, the text's
    // own lines by line breaks, so that the tooltip tells them apart as a
    // text document does.
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QStringList lines;
    int shown = 0;
    const QStringList given = text.split(QLatin1Char('\n'));
    for (const QString &line : given) {
        QStringList pieces;
        if (metrics.horizontalAdvance(line) <= width) {
            pieces.append(line);
        } else {
            QTextLayout layout(line, font);
            layout.setTextOption(wrapping);
            layout.beginLayout();
            for (QTextLine piece = layout.createLine(); piece.isValid();
                 piece = layout.createLine()) {
                piece.setLineWidth(width);
                pieces.append(line.mid(piece.textStart(), piece.textLength()));
            }
            layout.endLayout();
        }
        // The first line is always shown: it says what the tooltip is about.
        if (pieces.size() > most - 1)
            pieces.resize(most - 1);
        if (!lines.isEmpty() && shown + pieces.size() > most - 1) {
            lines.append(
                QStringLiteral("… und %1 weitere Zeilen").arg(given.size() - lines.size()));
            break;
        }
        shown += int(pieces.size());
        lines.append(pieces.join(QChar::LineSeparator));
    }
    // Escaped, in a paragraph that keeps every blank and line break: Qt
    // shows exactly the characters of the text.
    return QStringLiteral("<p style='white-space:pre'>") +
           lines.join(QLatin1Char('\n')).toHtmlEscaped() + QStringLiteral("</p>");
}
