#pragma once

#include "historysearch.h"

#include <QFutureWatcher>
#include <QObject>

#include <atomic>
#include <deque>
#include <memory>

// The long work on the history, done beside the window on Qt's thread pool:
// counting the hits of the search (kept up to date as lines come and go),
// finding the next or previous hit, and saving. Progress is read when the
// window wants to show it; everything can be cancelled.
class HistoryJobs : public QObject
{
    Q_OBJECT
public:
    explicit HistoryJobs(std::shared_ptr<const HistoryLog> log, QObject *parent = nullptr);
    ~HistoryJobs() override;

    // A new search: the count starts again (nothing is counted for an empty
    // pattern).
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

    // One search for a hit or one save at a time; a new one cancels the one
    // running.
    void find(const SearchHit &from, bool forward);
    void saveBytes(qint64 from, qint64 to, const QString &path);
    void saveText(qint64 from, qint64 to, const DecodeOptions &options, bool sentLines,
                  const QString &path);
    bool busy() const { return m_taskRunning; }
    double progress() const;
    void cancel();

Q_SIGNALS:
    void found(bool any, const SearchHit &hit);
    void saved(const QString &error);
    void countChanged();

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
    struct Block {
        qint64 from;
        qint64 to;
        qint64 hits;
    };
    void countNext();
    template <class Work> void startTask(Work work);

    std::shared_ptr<const HistoryLog> m_log;
    SearchPattern m_pattern;
    std::deque<Block> m_blocks; // counted ranges, in order
    std::deque<Block> m_todo;   // ranges still to count
    qint64 m_countedEnd = 0;    // new lines are counted from here
    quint64 m_generation = 0;   // of the log when last refreshed
    std::shared_ptr<State> m_countState;
    QFutureWatcher<qint64> m_countWatcher;
    bool m_countBusy = false;
    Block m_counting{};

    std::shared_ptr<State> m_taskState;
    QFutureWatcher<void> m_taskWatcher;
    bool m_taskRunning = false;
    std::function<void()> m_taskDone;
};
