#include "historyjobs.h"

#include "historyexport.h"

#include <QtConcurrent/QtConcurrentRun>

namespace
{
// Ranges are counted in blocks of this many lines, so that lines dropped at
// the start take whole blocks with them and only one is counted again.
constexpr qint64 LinesPerBlock = qint64(1) << 18;
} // namespace

HistoryJobs::HistoryJobs(std::shared_ptr<const HistoryLog> log, QObject *parent)
    : QObject(parent), m_log(std::move(log))
{
    connect(&m_countWatcher, &QFutureWatcher<qint64>::finished, this, [this] {
        const qint64 hits = m_countWatcher.future().result();
        m_countBusy = false;
        if (hits >= 0 && !m_countState->cancelled)
            m_blocks.push_back({m_counting.from, m_counting.to, hits});
        countNext();
        Q_EMIT countChanged();
    });
    connect(&m_taskWatcher, &QFutureWatcher<void>::finished, this, [this] {
        m_taskRunning = false;
        if (auto done = std::exchange(m_taskDone, {}))
            done();
    });
}

HistoryJobs::~HistoryJobs()
{
    if (m_countState)
        m_countState->cancelled = true;
    if (m_taskState)
        m_taskState->cancelled = true;
    m_countWatcher.waitForFinished();
    m_taskWatcher.waitForFinished();
}

void HistoryJobs::setPattern(const SearchPattern &pattern)
{
    if (m_countState)
        m_countState->cancelled = true;
    m_pattern = pattern;
    m_blocks.clear();
    m_todo.clear();
    m_generation = m_log->generation();
    m_countedEnd = m_log->beginLine();
    refresh();
    Q_EMIT countChanged();
}

void HistoryJobs::refresh()
{
    if (m_pattern.isEmpty())
        return;
    const quint64 generation = m_log->generation();
    const qint64 begin = m_log->beginLine();
    const qint64 end = m_log->endLine();
    if (generation != m_generation) {
        // Lines went at the start: their blocks go, one cut in two is counted
        // again from the new start.
        m_generation = generation;
        auto trim = [begin, this](std::deque<Block> &blocks, bool recount) {
            for (auto it = blocks.begin(); it != blocks.end();) {
                if (it->from >= begin) {
                    ++it;
                    continue;
                }
                if (it->to > begin && recount)
                    m_todo.push_front({begin, it->to, 0});
                else if (it->to > begin)
                    it->from = begin;
                if (it->to <= begin || recount)
                    it = blocks.erase(it);
                else
                    ++it;
            }
        };
        trim(m_todo, false);
        trim(m_blocks, true);
        if (counting() && m_counting.from < begin) {
            m_countState->cancelled = true;
            if (m_counting.to > begin)
                m_todo.push_front({begin, m_counting.to, 0});
        }
        m_countedEnd = std::max(m_countedEnd, begin);
    }
    // The last line may still grow: it is counted directly when asked.
    if (end - 1 > m_countedEnd) {
        m_todo.push_back({m_countedEnd, end - 1, 0});
        m_countedEnd = end - 1;
    }
    countNext();
}

void HistoryJobs::countNext()
{
    if (counting() || m_todo.empty())
        return;
    Block block = m_todo.front();
    m_todo.pop_front();
    if (block.to - block.from > LinesPerBlock) {
        m_todo.push_front({block.from + LinesPerBlock, block.to, 0});
        block.to = block.from + LinesPerBlock;
    }
    m_counting = block;
    m_countBusy = true;
    m_countState = std::make_shared<State>();
    m_countWatcher.setFuture(
        QtConcurrent::run([search = HistorySearch(m_log, m_pattern), state = m_countState, block] {
            return search.count(block.from, block.to,
                                [&state](double share) { return state->report(share); });
        }));
}

qint64 HistoryJobs::hits() const
{
    qint64 hits = 0;
    for (const Block &b : m_blocks)
        hits += b.hits;
    const qint64 end = m_log->endLine();
    if (!m_pattern.isEmpty() && !counting() && end - m_countedEnd <= 16)
        hits += HistorySearch(m_log, m_pattern).count(m_countedEnd, end);
    return hits;
}

double HistoryJobs::countProgress() const
{
    double done = 0, total = 0;
    for (const Block &b : m_blocks)
        done += double(b.to - b.from);
    for (const Block &b : m_todo)
        total += double(b.to - b.from);
    if (counting()) {
        const double lines = double(m_counting.to - m_counting.from);
        done += lines * m_countState->permille / 1000.0;
        total += lines;
    }
    total += done;
    return total > 0 ? done / total : 1.0;
}

void HistoryJobs::stopCounting()
{
    if (m_countState)
        m_countState->cancelled = true;
    m_todo.clear();
    m_pattern = SearchPattern();
    Q_EMIT countChanged();
}

template <class Work> void HistoryJobs::startTask(Work work)
{
    cancel();
    m_taskState = std::make_shared<State>();
    m_taskRunning = true;
    m_taskWatcher.setFuture(QtConcurrent::run([work = std::move(work), state = m_taskState] {
        work([&state](double share) { return state->report(share); });
    }));
}

void HistoryJobs::find(const SearchHit &from, bool forward)
{
    auto result = std::make_shared<std::optional<SearchHit>>();
    startTask([search = HistorySearch(m_log, m_pattern), from, forward,
               result](const HistorySearch::Progress &progress) {
        *result = search.next(from, forward, progress);
    });
    m_taskDone = [this, result, state = m_taskState] {
        if (!state->cancelled)
            Q_EMIT found(result->has_value(), result->value_or(SearchHit()));
    };
}

void HistoryJobs::saveBytes(qint64 from, qint64 to, const QString &path)
{
    auto error = std::make_shared<QString>();
    startTask([log = m_log, from, to, path, error](const HistoryExport::Progress &progress) {
        *error = HistoryExport::saveBytes(*log, from, to, path, progress);
    });
    m_taskDone = [this, error] { Q_EMIT saved(*error); };
}

void HistoryJobs::saveText(qint64 from, qint64 to, const DecodeOptions &options, bool sentLines,
                           const QString &path)
{
    auto error = std::make_shared<QString>();
    startTask([log = m_log, from, to, options, sentLines, path,
               error](const HistoryExport::Progress &progress) {
        *error = HistoryExport::saveText(*log, from, to, options, sentLines, path, progress);
    });
    m_taskDone = [this, error] { Q_EMIT saved(*error); };
}

double HistoryJobs::progress() const
{
    return m_taskState ? m_taskState->permille / 1000.0 : 0.0;
}

void HistoryJobs::cancel()
{
    if (m_taskState)
        m_taskState->cancelled = true;
    m_taskDone = {};
    m_taskRunning = false;
}
