#pragma once

#include <QPlainTextEdit>

// The command box. Enter makes a line break, and a line break reads as CR LF in
// text(), whatever the editor keeps inside; Tab moves the focus on.
class CommandBox : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit CommandBox(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);
};
