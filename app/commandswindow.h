#pragma once

#include <QPointer>
#include <QWidget>

#include <optional>

class CommandDesk;
class CommandQuestions;
class ErrorReporter;
class QLabel;
class QTableWidget;
struct SavedCommand;

// Puts a command the operator made into the list, at `index` (-1: a new
// one): a key another command has is moved when the operator agrees, any
// other refusal is told and the question asked again with what was entered.
// `edit` asks with the whole command's dialog, otherwise with "Als Befehl
// speichern". True when the list changed (and was saved).
bool askAndPut(CommandDesk &desk, CommandQuestions &questions, ErrorReporter &reporter,
               QWidget *parent, SavedCommand proposal, qsizetype index, bool edit);

// "Befehle – Com n": the saved commands (name, text with its control bytes
// boxed as the command box shows them, key, terminator, what runs), to add,
// change, reorder, delete, send, start and stop, and to import and export;
// the automatic replies behind "Antworten…". A window of its own, made once
// by the main window; closing it only hides it. Esc stops what runs.
class CommandsWindow : public QWidget
{
    Q_OBJECT
public:
    CommandsWindow(CommandDesk &desk, CommandQuestions &questions, ErrorReporter &reporter,
                   QWidget *parent = nullptr);
    ~CommandsWindow() override;

    // "Befehle – Com n", or "Befehle" for 0 (no port open).
    void setPortNumber(int number);
    void showAndRaise();

    QTableWidget *list() const { return m_list; }
    QString status() const;
    // The selected row; -1 when none.
    int current() const;
    void select(int row);

    // The buttons' deeds.
    void addCommand();
    void editCommand();
    void moveCommand(int by);
    void deleteCommand();
    void sendCommand();
    void importFile();
    void exportFile();
    void editReplies();
    void tell(const QString &text);

private:
    void fill();
    void showRuns();
    void buttonsFollow();

    CommandDesk &m_desk;
    CommandQuestions &m_questions;
    ErrorReporter &m_reporter;
    QTableWidget *m_list = nullptr;
    QLabel *m_status = nullptr;
};
