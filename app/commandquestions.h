#pragma once

#include "commandbook.h"

#include <QString>

#include <optional>

class QWidget;

// What the saved commands ask the operator; tests answer it.
class CommandQuestions
{
public:
    struct Replies {
        QList<ReplyRule> rules;
        bool on = false;
    };

    virtual ~CommandQuestions() = default;
    // "Als Befehl speichern…": the name, key and terminator for the command
    // box's text; `proposal` holds the defaults. None when cancelled.
    virtual std::optional<SavedCommand> askSave(QWidget *parent, const SavedCommand &proposal) = 0;
    // The whole command, new ("Neu…") or to change ("Bearbeiten…").
    virtual std::optional<SavedCommand> askEdit(QWidget *parent, const SavedCommand &command,
                                                const QString &title) = 0;
    // The automatic replies and their switch for all.
    virtual std::optional<Replies> askReplies(QWidget *parent, const Replies &replies) = 0;
    virtual bool askYes(QWidget *parent, const QString &question) = 0;
    // The file to import from or export to; empty when cancelled.
    virtual QString askFile(QWidget *parent, bool forExport) = 0;
    // A refusal the operator has to read.
    virtual void tell(QWidget *parent, const QString &message) = 0;
};

// The questions in dialogs of their own and Qt's.
class QtCommandQuestions : public CommandQuestions
{
public:
    std::optional<SavedCommand> askSave(QWidget *parent, const SavedCommand &proposal) override;
    std::optional<SavedCommand> askEdit(QWidget *parent, const SavedCommand &command,
                                        const QString &title) override;
    std::optional<Replies> askReplies(QWidget *parent, const Replies &replies) override;
    bool askYes(QWidget *parent, const QString &question) override;
    QString askFile(QWidget *parent, bool forExport) override;
    void tell(QWidget *parent, const QString &message) override;
};

// The choices of "Taste" and "Abschlusszeichen" as the dialogs offer them.
class QComboBox;
void fillKeyChoices(QComboBox *box, int key);
void fillTerminatorChoices(QComboBox *box, TerminatorChoice choice);
