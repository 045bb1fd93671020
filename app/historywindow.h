#pragma once

#include "historyjobs.h"
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

// The question for the file to save the history into; tests answer it.
class SaveFileQuestion
{
public:
    virtual ~SaveFileQuestion() = default;
    // The file chosen, or an empty text when the operator cancelled.
    virtual QString askFile(QWidget *parent, const QString &title, const QString &filter) = 0;
};

// The history window "Verlauf": the view with its choices, the search bar
// (Ctrl+F, F3, Shift+F3), saving, clearing, and a status line that tells
// whether it follows, what a search or a save is doing, and when the history
// cannot be written any more.
//
// The main window makes it once, with the store, and shows it with
// showAndRaise(); setPortNumber() keeps its title.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryWindow(HistoryStore &store, SaveFileQuestion *question = nullptr,
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

private:
    void buildControls();
    void readChoices();
    void writeChoices() const;
    void choicesChanged();
    void searchChanged();
    void save(bool exactBytes, bool selectionOnly);
    void showState();
    void showProgress();
    void showStatus(const QString &text, bool failure = false);

    QPointer<HistoryStore> m_store;
    std::shared_ptr<const HistoryLog> m_log;
    std::unique_ptr<SaveFileQuestion> m_ownQuestion;
    SaveFileQuestion &m_question;
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
    bool m_reading = false; // choices are being read, not changed
};
