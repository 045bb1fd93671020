#pragma once

#include "historyjobs.h"
#include "historyquestions.h"
#include "historyview.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

class HistoryStore;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;

// The history window "Verlauf": the view with its choices, the search bar
// (Ctrl+F, F3, Shift+F3), saving, clearing, and a status line that tells
// whether it follows, what a search or a save is doing, and when the history
// cannot be written any more.
//
// The main window makes it once, with the store, and shows it with
// showAndRaise(); setPortNumber() keeps its title. Closing it only hides it:
// a save goes on and tells how it ended when the window is shown again.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryWindow(HistoryStore &store, HistoryQuestions *questions = nullptr,
                           QWidget *parent = nullptr);
    ~HistoryWindow() override;

    // "Verlauf – Com n", or "Verlauf" for 0 (no port open).
    void setPortNumber(int number);
    void showAndRaise();

    HistoryView *view() const { return m_view; }
    HistoryJobs &jobs() { return m_jobs; }

    // Search: opens the bar; next and previous hit.
    void openSearch();
    void findNext(bool forward);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void readChoices();
    void writeChoices() const;
    void choicesChanged();
    void searchChanged();
    void save(bool exactBytes, bool selectionOnly);
    void copySelection();
    void showState();
    void showProgress();
    void showStatus(const QString &text, bool failure = false);
    void clearHistory();

    QPointer<HistoryStore> m_store;
    std::shared_ptr<const HistoryLog> m_log;
    std::unique_ptr<HistoryQuestions> m_ownQuestions;
    HistoryQuestions &m_questions;
    HistoryJobs m_jobs;

    HistoryView *m_view = nullptr;
    QCheckBox *m_times = nullptr;
    QCheckBox *m_sent = nullptr;
    QComboBox *m_mode = nullptr;
    QComboBox *m_charset = nullptr;
    QCheckBox *m_colours = nullptr;
    QMenu *m_saveMenu = nullptr;
    QWidget *m_searchBar = nullptr;
    QLineEdit *m_searchText = nullptr;
    QComboBox *m_searchMode = nullptr;
    QCheckBox *m_caseSensitive = nullptr;
    QLabel *m_hits = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_failure = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_cancel = nullptr;
    QTimer m_searchDelay;
    QTimer m_progressTimer;
    QTimer m_countBeat;
    QString m_note; // the last thing said in the status line
    bool m_noteIsFailure = false;
    bool m_reading = false;    // choices are being read, not changed
    bool m_forward = true;     // the direction of the last search for a hit
    bool m_remembered = false; // a geometry of an earlier run was restored
    bool m_placed = false;
};
