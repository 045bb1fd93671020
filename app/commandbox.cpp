#include "commandbox.h"

#include <QTextDocument>

CommandBox::CommandBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

QString CommandBox::text() const
{
    // The raw text keeps every character as typed (toPlainText() would turn a
    // no-break space into a blank); Enter and Shift+Enter leave paragraph and
    // line separators, and both are a line break to the operator.
    QString t = document()->toRawText();
    t.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    t.replace(QChar::LineSeparator, QLatin1String("\r\n"));
    return t;
}

void CommandBox::setText(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    setPlainText(t);
}
