#include "historyjobs.h"

#include "historyexport.h"

#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace
{
// Ranges are counted in blocks of this many lines, so that lines dropped at
// the start take whole blocks with them and only one is counted again.
constexpr qint64 LinesPerBlock = qint64(1) << 18;

bool before(const SearchHit &a, const SearchHit &b, bool hex)
{
    if (hex)
        return a.pos < b.pos;
    return a.line != b.line ? a.line < b.line : a.offset < b.offset;
}

// Whether the search from `from` had to go round the end (backward: the
// start) to find `hit`: it is not beyond the place it started from. A hex
// search starts from the place's line when it has no stream position, as
// HistorySearch::next does.
bool wentRound(const HistoryLog &log, bool hex, SearchHit from, const SearchHit &hit, bool forward)
{
    if (hex && from.pos < 0)
        from.pos =
            from.line < log.beginLine() ? -1 : log.line(std::min(from.line, log.endLine() - 1)).pos;
    return forward ? !before(from, hit, hex) : !before(hit, from, hex);
}

// The place of a hit among all: the hits of the counted blocks before the
// one it begins in, and those of that block up to it, counted again. -1 when
// it is not found there (gone meanwhile) or when stopped.
qint64 indexOf(const HistorySearch &search, const HistoryLog &log,
               const std::vector<std::pair<qint64, qint64>> &starts, const SearchHit &hit,
               const HistorySearch::Progress &progress)
{
    const bool hex = search.pattern().mode == SearchPattern::Hex;
    auto it = std::upper_bound(starts.begin(), starts.end(), hit.line,
                               [](qint64 line, const auto &start) { return line < start.first; });
    qint64 from = log.beginLine();
    qint64 index = 0;
    if (it != starts.begin()) {
        --it;
        from = it->first;
        index = it->second;
    }
    bool seen = false;
    const bool done = search.scan(
        from, log.endLine(),
        [&](const SearchHit &h) {
            ++index;
            seen = hex ? h.pos == hit.pos : h.line == hit.line && h.offset == hit.offset;
            return !seen;
        },
        progress);
    return done && seen ? index : -1;
}

} // namespace

void HistoryJobs::Task::drop()
{
    if (state)
        state->cancelled = true;
    done = {};
    running = false;
}

HistoryJobs::HistoryJobs(std::shared_ptr<const HistoryLog> log, QObject *parent)
    : QObject(parent), m_log(std::move(log))
{
    m_threads.setMaxThreadCount(4);
    connect(&m_countWatcher, &QFutureWatcher<qint64>::finished, this, [this] {
        const qint64 hits = m_countWatcher.future().result();
        m_countBusy = false;
        if (hits >= 0 && !m_countState->cancelled)
            m_blocks.push_back({m_counting.from, m_counting.to, hits});
        countNext();
        locateCurrent();
        Q_EMIT countChanged();
    });
    for (Task *task : {&m_find, &m_save, &m_copy}) {
        connect(&task->watcher, &QFutureWatcher<void>::finished, this, [task] {
            task->running = false;
            if (auto done = std::exchange(task->done, {}))
                done();
        });
    }
}

HistoryJobs::~HistoryJobs()
{
    // The program ends: a save that has not finished is not written.
    if (m_countState)
        m_countState->cancelled = true;
    for (Task *task : {&m_find, &m_save, &m_copy}) {
        task->drop();
        task->watcher.waitForFinished();
    }
    m_countWatcher.waitForFinished();
}

void HistoryJobs::setPattern(const SearchPattern &pattern)
{
    if (m_countState)
        m_countState->cancelled = true;
    m_find.drop();
    m_locating = false;
    m_current.reset();
    m_currentIndex = -1;
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
        // The hits before the current one are fewer now.
        m_currentIndex = -1;
        if (m_current && m_current->line < begin)
            m_current.reset();
    }
    // The last line may still grow: it is counted directly when asked.
    if (end - 1 > m_countedEnd) {
        m_todo.push_back({m_countedEnd, end - 1, 0});
        m_countedEnd = end - 1;
    }
    countNext();
    locateCurrent();
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
    m_countWatcher.setFuture(QtConcurrent::run(
        &m_threads, [search = HistorySearch(m_log, m_pattern), state = m_countState, block] {
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

HistoryJobs::Starts HistoryJobs::countedStarts() const
{
    // Blocks counted again after lines went are not in order.
    std::vector<Block> blocks(m_blocks.begin(), m_blocks.end());
    std::sort(blocks.begin(), blocks.end(),
              [](const Block &a, const Block &b) { return a.from < b.from; });
    Starts starts;
    qint64 hits = 0;
    for (const Block &b : blocks) {
        starts.emplace_back(b.from, hits);
        hits += b.hits;
    }
    return starts;
}

template <class Work> void HistoryJobs::start(Task &task, Work work)
{
    task.drop();
    task.state = std::make_shared<State>();
    task.running = true;
    task.watcher.setFuture(
        QtConcurrent::run(&m_threads, [work = std::move(work), state = task.state] {
            work([&state](double share) { return state->report(share); });
        }));
}

void HistoryJobs::find(const SearchHit &from, bool forward)
{
    struct Result {
        std::optional<SearchHit> hit;
        bool wrapped = false;
        qint64 index = -1;
    };
    auto result = std::make_shared<Result>();
    // With the count complete, its place among the hits is worked out on
    // the way.
    std::optional<Starts> starts;
    if (!counting())
        starts = countedStarts();
    const quint64 generation = m_log->generation();
    m_locating = false;
    start(m_find, [search = HistorySearch(m_log, m_pattern), log = m_log, from, forward, starts,
                   result](const HistorySearch::Progress &progress) {
        result->hit = search.next(from, forward, progress);
        if (!result->hit)
            return;
        result->wrapped = wentRound(*log, search.pattern().mode == SearchPattern::Hex, from,
                                    *result->hit, forward);
        if (starts)
            result->index = indexOf(search, *log, *starts, *result->hit,
                                    [&progress](double) { return progress(1.0); });
    });
    m_find.done = [this, result, generation, state = m_find.state] {
        if (state->cancelled)
            return;
        if (result->hit) {
            m_current = result->hit;
            m_currentIndex = generation == m_log->generation() ? result->index : -1;
        }
        Q_EMIT found(result->hit.has_value(), result->hit.value_or(SearchHit()), result->wrapped);
        locateCurrent();
    };
}

void HistoryJobs::locateCurrent()
{
    // Once the count is complete, the current hit's place among the hits;
    // a search for the next hit works it out itself.
    if (!m_current || m_currentIndex >= 0 || counting() || m_find.running || m_pattern.isEmpty() ||
        m_current->line < m_log->beginLine())
        return;
    auto index = std::make_shared<qint64>(-1);
    const quint64 generation = m_log->generation();
    m_locating = true;
    start(m_find, [search = HistorySearch(m_log, m_pattern), log = m_log, starts = countedStarts(),
                   hit = *m_current, index](const HistorySearch::Progress &progress) {
        *index = indexOf(search, *log, starts, hit, progress);
    });
    m_find.done = [this, index, generation] {
        m_locating = false;
        if (generation != m_log->generation())
            return locateCurrent(); // lines went meanwhile: again
        m_currentIndex = *index;
        Q_EMIT countChanged();
    };
}

qint64 HistoryJobs::currentIndex() const
{
    return m_current && !counting() ? m_currentIndex : -1;
}

void HistoryJobs::stopFinding()
{
    m_find.drop();
    m_locating = false;
}

template <class Save> bool HistoryJobs::startSave(const QString &path, Save save)
{
    if (saving())
        return false;
    auto error = std::make_shared<QString>();
    start(m_save, [save = std::move(save), error](const HistoryExport::Progress &progress) {
        *error = save(progress);
    });
    m_savePath = path;
    m_save.done = [this, error, state = m_save.state] {
        m_savePath.clear();
        Q_EMIT saved(*error, state->cancelled && !error->isEmpty());
    };
    return true;
}

bool HistoryJobs::saveBytes(qint64 from, qint64 to, const QString &path)
{
    return startSave(path, [log = m_log, from, to, path](const HistoryExport::Progress &progress) {
        return HistoryExport::saveBytes(*log, from, to, path, progress);
    });
}

bool HistoryJobs::saveText(qint64 from, qint64 to, const DecodeOptions &options, bool sentLines,
                           const QString &path)
{
    return startSave(path, [log = m_log, from, to, options, sentLines,
                            path](const HistoryExport::Progress &progress) {
        return HistoryExport::saveText(*log, from, to, options, sentLines, path, progress);
    });
}

void HistoryJobs::cancelSave()
{
    if (m_save.running)
        m_save.state->cancelled = true;
}

void HistoryJobs::copy(CopyWork make)
{
    auto text = std::make_shared<std::optional<QString>>();
    start(m_copy, [make = std::move(make), text](const HistorySearch::Progress &progress) {
        *text = make(progress);
    });
    m_copy.done = [this, text, state = m_copy.state] {
        if (!state->cancelled)
            Q_EMIT copied(text->value_or(QString()), !text->has_value());
    };
}
