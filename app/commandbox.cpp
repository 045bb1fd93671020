#include "commandbox.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace
{

// The character a marked break stands for (13 or 10).
constexpr int LineEndProperty = QTextFormat::UserProperty + 1;

} // namespace

CommandBox::CommandBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

QString CommandBox::text() const
{
    return exactText(0, document()->characterCount() - 1);
}

void CommandBox::setText(const QString &text)
{
    clear();
    QTextCursor cursor(document());
    insertExact(cursor, text);
}

void CommandBox::keyPressEvent(QKeyEvent *event)
{
    // Shift+Enter is a line break like Enter: both read as CR LF.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers().testFlag(Qt::ShiftModifier)) {
        QTextCursor cursor = textCursor();
        cursor.insertBlock();
        setTextCursor(cursor);
        ensureCursorVisible();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CommandBox::insertFromMimeData(const QMimeData *source)
{
    if (!source || !source->hasText())
        return;
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    insertExact(cursor, source->text());
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

QMimeData *CommandBox::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    auto *data = new QMimeData;
    data->setText(exactText(cursor.selectionStart(), cursor.selectionEnd()));
    return data;
}

void CommandBox::insertExact(QTextCursor &cursor, const QString &text)
{
    const QTextCharFormat plain = cursor.charFormat();
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        cursor.insertText(text.mid(from, i - from), plain);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            cursor.insertBlock();
            ++i;
        } else {
            QTextCharFormat marked = plain;
            marked.setProperty(LineEndProperty, int(c.unicode()));
            cursor.insertText(QString(QChar::LineSeparator), marked);
        }
        from = i + 1;
    }
    cursor.insertText(text.mid(from), plain);
    cursor.setCharFormat(plain);
}

QString CommandBox::exactText(int from, int to) const
{
    QString out;
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from)
            out += QLatin1String("\r\n");
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int start = qMax(from, fragment.position());
            const int end = qMin(to, fragment.position() + fragment.length());
            if (start >= end)
                continue;
            // The fragment's own text keeps every character as typed (a no-break
            // space stays one); breaks become what they stand for.
            const QString piece = fragment.text().mid(start - fragment.position(), end - start);
            const int marked = fragment.charFormat().property(LineEndProperty).toInt();
            for (const QChar c : piece) {
                if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                    out += marked ? QString(QChar(marked)) : QStringLiteral("\r\n");
                else
                    out += c;
            }
        }
    }
    return out;
}
