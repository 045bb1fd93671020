#pragma once

#include <QString>

class QWidget;

// What the history window asks the operator; tests answer it.
class HistoryQuestions
{
public:
    virtual ~HistoryQuestions() = default;
    // The file to save the history into, or an empty text when the operator
    // cancelled.
    virtual QString askFile(QWidget *parent, const QString &title, const QString &filter) = 0;
    // Whether the history is to be emptied.
    virtual bool askClear(QWidget *parent) = 0;
};

// The questions in Qt's file dialog and a message box.
class QtHistoryQuestions : public HistoryQuestions
{
public:
    QString askFile(QWidget *parent, const QString &title, const QString &filter) override;
    bool askClear(QWidget *parent) override;
};
