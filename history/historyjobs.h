#pragma once

#include "historysearch.h"

#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The long work on the history, done beside the window on threads of its
// own: counting the hits of the search (kept up to date as lines come and
// go), finding the next or previous hit, saving, and copying a selection. Progress is read when the
// window wants to show it; everything can be cancelled.
//
// Not on Qt's global pool: Qt's painting cuts large fills into pieces for
// that pool's threads and waits for them, and a save and a search holding
// every one of them for seconds held the windows still as long.
//
// Saving runs on its own, beside finding and counting: a search started
// meanwhile does not touch it. It ends with saved() whatever happens, also
// when it was cancelled; only the jobs' end (the program's) drops it.
class HistoryJobs : public QObject
{
    Q_OBJECT
public:
    explicit HistoryJobs(std::shared_ptr<const HistoryLog> log, QObject *parent = nullptr);
    ~HistoryJobs() override;

    // A new search: the count starts again (nothing is counted for an empty
    // pattern), a search for a hit of the old pattern ends.
    void setPattern(const SearchPattern &pattern);
    const SearchPattern &pattern() const { return m_pattern; }
    // Brings the count up to the log after lines came or went.
    void refresh();
    // Hits counted so far; all of them once counting() is over.
    qint64 hits() const;
    // Until the count's result is taken in, not only while it runs: a count
    // that has ended on its thread is not in hits() before that.
    bool counting() const { return m_countBusy; }
    double countProgress() const;
    // Stops counting; hits() stays what was counted so far.
    void stopCounting();

    // One search for a hit at a time; a new one replaces the one running.
    // found() tells what it found, and whether it went round the end (or,
    // backward, the start) to find it.
    void find(const SearchHit &from, bool forward);
    bool finding() const { return m_find.running && !m_locating; }
    double findProgress() const { return m_find.progress(); }
    void stopFinding();
    // The place of the hit found last among all of them, 1 for the first;
    // -1 while it is not known (the count not complete, or being worked
    // out). countChanged() says when it changes.
    qint64 currentIndex() const;

    // One save at a time: false, and nothing started, while one runs.
    bool saveBytes(qint64 from, qint64 to, const QString &path);
    bool saveText(qint64 from, qint64 to, const DecodeOptions &options, bool sentLines,
                  const QString &path);
    bool saving() const { return m_save.running; }
    QString savingTo() const { return m_savePath; }
    double saveProgress() const { return m_save.progress(); }
    // The save stops soon and says so with saved(…, true); one that was
    // already written is not undone.
    void cancelSave();

    // One copy of a selection at a time; a new one replaces the one
    // running. `make` answers the text, or nothing when there is too much
    // of it; copied() tells which, unless it was stopped.
    using CopyWork = std::function<std::optional<QString>(const HistorySearch::Progress &)>;
    void copy(CopyWork make);
    bool copying() const { return m_copy.running; }
    double copyProgress() const { return m_copy.progress(); }
    void stopCopying() { m_copy.drop(); }

    // The threads the jobs run on, one for each kind; tests keep them busy
    // to see what happens while a job runs.
    QThreadPool &threads() { return m_threads; }

Q_SIGNALS:
    void found(bool any, const SearchHit &hit, bool wrapped);
    // An error text, empty when the file was written; cancelled when it was
    // not written because cancelSave() stopped it.
    void saved(const QString &error, bool cancelled);
    // The count, or the place of the current hit among them.
    void countChanged();
    // A copy ended: its text, or nothing when the selection was too large.
    void copied(const QString &text, bool tooLarge);

private:
    struct State {
        std::atomic<bool> cancelled{false};
        std::atomic<int> permille{0};
        bool report(double share)
        {
            permille = int(share * 1000);
            return !cancelled;
        }
    };
    // One job on the pool at a time, and what to do on this thread when it
    // has ended.
    struct Task {
        std::shared_ptr<State> state;
        QFutureWatcher<void> watcher;
        bool running = false;
        std::function<void()> done;
        double progress() const { return state ? state->permille / 1000.0 : 0.0; }
        // The job's result is not wanted any more.
        void drop();
    };
    struct Block {
        qint64 from;
        qint64 to;
        qint64 hits;
    };
    // Where each counted block starts, and the hits in the blocks before it.
    using Starts = std::vector<std::pair<qint64, qint64>>;
    void countNext();
    Starts countedStarts() const;
    template <class Work> void start(Task &task, Work work);
    template <class Save> bool startSave(const QString &path, Save save);
    void locateCurrent();

    QThreadPool m_threads; // goes last, when nothing runs on it any more
    std::shared_ptr<const HistoryLog> m_log;
    SearchPattern m_pattern;
    std::deque<Block> m_blocks; // counted ranges
    std::deque<Block> m_todo;   // ranges still to count
    qint64 m_countedEnd = 0;    // new lines are counted from here
    quint64 m_generation = 0;   // of the log when last refreshed
    std::shared_ptr<State> m_countState;
    QFutureWatcher<qint64> m_countWatcher;
    bool m_countBusy = false;
    Block m_counting{};

    Task m_find;
    std::optional<SearchHit> m_current; // found last
    qint64 m_currentIndex = -1;
    bool m_locating = false; // m_find works out m_currentIndex

    Task m_save;
    QString m_savePath;
    Task m_copy;
};
