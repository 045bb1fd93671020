#pragma once

#include "seriallink.h"

#include <QPlainTextEdit>

// The command box. Enter makes a line break, and a line break reads as CR LF in
// text(), whatever the editor keeps inside; Tab moves the focus on.
class CommandBox : public QPlainTextEdit, public CommandControl
{
    Q_OBJECT
public:
    explicit CommandBox(QWidget *parent = nullptr);

    QString text() const override;
    void setText(const QString &text) override;
};
