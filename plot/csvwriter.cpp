#include "csvwriter.h"

#include "historyexport.h"
#include "seriesstore.h"

#include <QDir>

#include <charconv>

namespace
{

constexpr qsizetype FlushAt = 1 << 20;

void appendField(QByteArray &out, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (!bytes.contains(';') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r')) {
        out += bytes;
        return;
    }
    out += '"';
    for (const char c : bytes) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

CsvWriter::CsvWriter(const SeriesStore &store, qint64 from, qint64 to, std::vector<int> series)
    : m_store(store), m_row(std::max(from, store.foldedRows())), m_from(m_row),
      m_to(std::min(to, store.rows())), m_series(std::move(series)),
      m_times(std::make_unique<TimeText>())
{
    for (const int s : m_series)
        m_next.push_back(store.pointAtRow(s, m_row));
    // Rows before the first exact one are not written; their values count
    // as left out.
    for (const int s : m_series)
        m_folded += std::max<qint64>(0, store.pointAtRow(s, m_row) - store.pointAtRow(s, from));
}

CsvWriter::~CsvWriter() = default;

void CsvWriter::appendValue(QByteArray &out, double value)
{
    char buffer[32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc())
        return;
    for (char *c = buffer; c != end; ++c) {
        if (*c == '.')
            *c = ',';
    }
    out.append(buffer, end - buffer);
}

QString CsvWriter::open(const QString &path)
{
    m_file = std::make_unique<QSaveFile>(path);
    if (!m_file->open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("„%1“ kann nicht geschrieben werden: %2")
                      .arg(QDir::toNativeSeparators(path), m_file->errorString());
        return m_error;
    }
    m_buffer = "Zeit";
    for (const int s : m_series) {
        m_buffer += ';';
        appendField(m_buffer, m_store.name(s));
    }
    m_buffer += "\r\n";
    return {};
}

bool CsvWriter::flush()
{
    if (m_file->write(m_buffer) != m_buffer.size()) {
        m_error = QStringLiteral("„%1“ kann nicht geschrieben werden: %2")
                      .arg(QDir::toNativeSeparators(m_file->fileName()), m_file->errorString());
        return false;
    }
    m_buffer.clear();
    return true;
}

bool CsvWriter::step(qint64 rows)
{
    if (!m_error.isEmpty() || !m_file)
        return false;
    const qint64 stop = std::min(m_to, m_row + rows);
    for (; m_row < stop; ++m_row) {
        m_buffer += m_times->dateAndTime(m_store.timeOf(m_row)).toLatin1();
        for (size_t k = 0; k < m_series.size(); ++k) {
            m_buffer += ';';
            const int s = m_series[k];
            qint64 &p = m_next[k];
            if (p < m_store.points(s) && m_store.rowOf(s, p) == m_row) {
                if (const std::optional<double> v = m_store.value(s, p))
                    appendValue(m_buffer, *v);
                else
                    ++m_folded;
                ++p;
            }
        }
        m_buffer += "\r\n";
        ++m_written;
        if (m_buffer.size() >= FlushAt && !flush())
            return false;
    }
    if (m_row < m_to)
        return true;
    flush();
    return false;
}

QString CsvWriter::finish()
{
    if (!m_file)
        return m_error;
    if (m_error.isEmpty() && !m_buffer.isEmpty())
        flush();
    if (!m_error.isEmpty()) {
        m_file->cancelWriting();
        return m_error;
    }
    if (!m_file->commit())
        m_error = QStringLiteral("„%1“ kann nicht geschrieben werden: %2")
                      .arg(QDir::toNativeSeparators(m_file->fileName()), m_file->errorString());
    return m_error;
}

void CsvWriter::cancel()
{
    if (m_file)
        m_file->cancelWriting();
}

double CsvWriter::progress() const
{
    return m_to > m_from ? double(m_row - m_from) / double(m_to - m_from) : 1.0;
}
