#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include <memory>
#include <vector>

class SeriesStore;
class TimeText;

// Rows of the store as a CSV file, as German spreadsheets read it: the
// columns separated by semicolons, a decimal comma, UTF-8. The first column
// is the line's time as the history shows it ("2026-12-06 14:03:07.125"),
// then one column per series, empty where the series has no value in that
// row. Each value is written in the fewest digits that read back as the same
// number. Folded rows are left out.
//
// It writes a piece at a time (step), so that a window can go on answering
// while millions of rows go out; the file appears whole or not at all.
class CsvWriter
{
public:
    CsvWriter(const SeriesStore &store, qint64 from, qint64 to, std::vector<int> series);
    ~CsvWriter();
    CsvWriter(const CsvWriter &) = delete;
    CsvWriter &operator=(const CsvWriter &) = delete;

    // The German reason when the file cannot be written; empty when it can.
    QString open(const QString &path);
    // Writes up to `rows` more rows; false once everything is written (or a
    // write failed: error()).
    bool step(qint64 rows);
    // Commits the file; the German reason when that failed.
    QString finish();
    void cancel();

    QString error() const { return m_error; }
    double progress() const;
    qint64 written() const { return m_written; }
    // Values left out because they were folded.
    qint64 foldedValues() const { return m_folded; }

    // One value as it goes into the file.
    static void appendValue(QByteArray &out, double value);

private:
    bool flush();

    const SeriesStore &m_store;
    qint64 m_row;
    const qint64 m_from;
    const qint64 m_to;
    const std::vector<int> m_series;
    std::vector<qint64> m_next; // each series' next point
    std::unique_ptr<QSaveFile> m_file;
    std::unique_ptr<TimeText> m_times;
    QByteArray m_buffer;
    QString m_error;
    qint64 m_written = 0;
    qint64 m_folded = 0;
};
