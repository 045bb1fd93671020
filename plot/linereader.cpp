#include "linereader.h"

#include "codepage.h"
#include "seriesstore.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <utility>

namespace
{

QString nameText(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? textFromBytes(bytes) : text;
}

} // namespace

LineReader::LineReader(SeriesStore &store) : m_store(store)
{
}

void LineReader::setChoice(const ReadingChoice &choice)
{
    rejectHeld();
    m_choice = choice;
    m_settled.reset();
    if (choice.settled()) {
        m_settled = choice;
        m_parser.setChoice(choice);
    }
    m_count = 0;
    m_numberSeries.clear();
    m_lastNames.clear();
    m_lastSeries.clear();
    m_lastText.clear();
    m_tooMany = false;
    m_lastMark = DecimalMark::Automatic;
}

QString LineReader::patternError() const
{
    return m_choice.format == ReadingFormat::Pattern ? m_parser.patternError() : QString();
}

void LineReader::feed(QByteArrayView bytes, qint64 time)
{
    const char *p = bytes.data();
    const qsizetype n = bytes.size();
    LineEndFinder ends(p, n);
    auto append = [&](qsizetype from, qsizetype to) {
        const qsizetype room = LongestLine - m_line.size();
        if (to - from > room) {
            m_overlong = true;
            to = from + std::max<qsizetype>(room, 0);
        }
        m_line.append(p + from, to - from);
    };
    qsizetype i = 0;
    while (i < n) {
        const qsizetype q = ends.next(i);
        if (q > i) {
            // A run of text leaves the pairing as its first byte does.
            m_ends.take(p[i]);
            if (!m_open) {
                m_open = true;
                m_lineTime = time;
            }
        }
        if (q == n) {
            append(i, n);
            break;
        }
        if (m_ends.take(p[q]) == LineEnds::End) {
            if (!m_open)
                m_lineTime = time; // an empty line: its time is its end's
            if (m_line.isEmpty() && !m_overlong) {
                lineEnded(QByteArrayView(p + i, q - i), m_lineTime);
            } else {
                append(i, q);
                lineEnded(m_line, m_lineTime);
            }
            m_line.clear();
            m_overlong = false;
            m_open = false;
        }
        i = q + 1;
    }
}

void LineReader::sessionStarted()
{
    sessionEnded();
    m_ends.reset();
    m_first = true;
}

void LineReader::sessionEnded()
{
    // A line the closing cut off may end anywhere, in the middle of a
    // number too: it is counted, not plotted.
    if (m_open) {
        ++m_counts.received;
        ++m_counts.rejected;
        m_line.clear();
        m_overlong = false;
        m_open = false;
    }
    rejectHeld();
}

void LineReader::rejectHeld()
{
    if (!m_held)
        return;
    m_held.reset();
    m_counts.held = 0;
    ++m_counts.rejected;
}

void LineReader::lineEnded(QByteArrayView line, qint64 time)
{
    ++m_counts.received;
    const bool first = std::exchange(m_first, false);
    if (m_overlong || line.size() > LongestLine) {
        rejectHeld();
        ++m_counts.rejected;
        m_lastText.clear();
        return;
    }
    take(line, time, first);
}

std::optional<ReadingChoice> LineReader::choiceFor(QByteArrayView line) const
{
    return m_settled ? m_settled : LineParser::guess(line, m_choice);
}

void LineReader::readWith(const ReadingChoice &choice, QByteArrayView line, LineValues &out)
{
    if (!(m_parser.choice() == choice))
        m_parser.setChoice(choice);
    m_parser.read(line, out);
}

void LineReader::take(QByteArrayView line, qint64 time, bool first)
{
    // Without a digit a line holds no number, whatever the choice (a
    // pattern may still call it rejected).
    const bool digits = LineParser::hasDigit(line);
    const std::optional<ReadingChoice> choice =
        digits || m_choice.format == ReadingFormat::Pattern ? choiceFor(line) : std::nullopt;
    if (choice) {
        readWith(*choice, line, m_values);
    } else if (!digits) {
        m_values.clear();
    } else {
        m_values.clear();
        m_values.kind = LineParser::hasNumber(line) ? LineValues::Rejected : LineValues::Text;
    }
    switch (m_values.kind) {
    case LineValues::Text:
        ++m_counts.skipped;
        // Perhaps the names of the numbers in the next line.
        if (m_count == 0 && !m_held)
            m_lastText = line.toByteArray();
        return;
    case LineValues::Rejected:
        ++m_counts.rejected;
        if (!m_held)
            m_lastText.clear();
        return;
    case LineValues::Values:
        break;
    }
    if (m_held) {
        // The next line with values tells whether the held one was whole.
        const Held held = std::move(*m_held);
        m_held.reset();
        m_counts.held = 0;
        if (*choice == held.choice) {
            readWith(held.choice, held.line, m_heldValues);
            if (sameShape(m_heldValues, m_values)) {
                m_settled = choice;
                plot(m_heldValues, held.time);
                plot(m_values, time);
                m_lastText.clear();
                return;
            }
        }
        ++m_counts.rejected;
    }
    // A new shape waits for a second line: after an opening, and for plain
    // numbers until their count is settled.
    if (!fits(m_values) && (first || (m_values.names.empty() && m_count == 0))) {
        m_held = Held{line.toByteArray(), time, *choice};
        m_counts.held = 1;
        return;
    }
    m_settled = choice;
    plot(m_values, time);
    m_lastText.clear();
}

bool LineReader::fits(const LineValues &values) const
{
    if (values.names.empty())
        return m_count != 0 && qsizetype(values.values.size()) == m_count;
    return std::all_of(values.names.begin(), values.names.end(), [this](QByteArrayView name) {
        return m_named.contains(name.toByteArray());
    });
}

bool LineReader::sameShape(const LineValues &a, const LineValues &b)
{
    // Plain numbers: as many. Names: the first line's are all in the second
    // (which may bring more).
    if (a.names.empty())
        return a.values.size() == b.values.size();
    return std::all_of(a.names.begin(), a.names.end(), [&b](QByteArrayView name) {
        return std::find(b.names.begin(), b.names.end(), name) != b.names.end();
    });
}

int LineReader::seriesOf(QByteArrayView name)
{
    const QByteArray key = name.toByteArray();
    if (const auto it = m_named.constFind(key); it != m_named.constEnd())
        return it.value();
    const QString text = nameText(name);
    int series = m_store.find(text);
    if (series < 0)
        series = m_store.addSeries(text);
    m_named.insert(key, series);
    return series;
}

bool LineReader::plot(const LineValues &values, qint64 time)
{
    const qsizetype n = qsizetype(values.values.size());
    if (values.names.empty()) {
        if (m_count == 0) {
            // The first line of numbers settles their count and series.
            const std::vector<QByteArrayView> names =
                LineParser::fields(m_lastText, m_settled->separator);
            const bool named = qsizetype(names.size()) == n &&
                               std::none_of(names.begin(), names.end(),
                                            [](QByteArrayView f) { return f.isEmpty(); });
            std::vector<int> series;
            for (qsizetype k = 0; k < n; ++k) {
                const QString name = named ? nameText(names[size_t(k)]) : QString::number(k + 1);
                int s = m_store.find(name);
                if (s < 0 && m_store.seriesCount() >= MostSeries) {
                    m_tooMany = true;
                    ++m_counts.rejected;
                    return false;
                }
                series.push_back(s >= 0 ? s : m_store.addSeries(name));
            }
            m_count = n;
            m_numberSeries = std::move(series);
        } else if (n != m_count) {
            ++m_counts.rejected;
            return false;
        }
        m_store.addRow(time);
        for (qsizetype k = 0; k < n; ++k)
            m_store.append(m_numberSeries[size_t(k)], values.values[size_t(k)]);
    } else {
        // Most lines name the same series in the same order as the one before.
        const bool same = m_lastNames.size() == values.names.size() &&
                          std::equal(values.names.begin(), values.names.end(), m_lastNames.begin(),
                                     [](QByteArrayView a, const QByteArray &b) { return a == b; });
        if (!same) {
            qsizetype unknown = 0;
            for (const QByteArrayView name : values.names)
                unknown += !m_named.contains(name.toByteArray());
            if (unknown > 0 && m_store.seriesCount() + unknown > MostSeries) {
                m_tooMany = true;
                ++m_counts.rejected;
                return false;
            }
            m_lastNames.clear();
            m_lastSeries.clear();
            for (const QByteArrayView name : values.names) {
                m_lastNames.push_back(name.toByteArray());
                m_lastSeries.push_back(seriesOf(name));
            }
        }
        m_store.addRow(time);
        for (qsizetype k = 0; k < n; ++k)
            m_store.append(m_lastSeries[size_t(k)], values.values[size_t(k)]);
    }
    ++m_counts.plotted;
    if (values.sawComma)
        m_lastMark = DecimalMark::Comma;
    else if (values.sawPoint)
        m_lastMark = DecimalMark::Point;
    return true;
}
