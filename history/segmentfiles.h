#pragma once

#include "filefault.h"
#include "historyline.h"

#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <vector>

// A line as the index files hold it: fixed size, so line n of a segment is
// found at (n - first) * Size. The time takes the low 48 bits of the stamp
// (enough for the next eight thousand years), the flags and the kind the two
// bytes above.
struct HistoryRecord {
    static constexpr int Size = 24;
    quint64 stamp = 0;
    qint64 pos = 0;
    quint32 length = 0;
    quint32 noteAt = 0;

    static HistoryRecord of(qint64 time, HistoryLine::Kind kind, quint8 flags, qint64 pos,
                            qint64 length, qint64 noteAt = 0);
    HistoryLine line(qint64 number) const;
};
static_assert(sizeof(HistoryRecord) == HistoryRecord::Size);

// One segment of a run's history, in three files named <prefix>-<n>.<kind>:
// .data the received bytes from one stream position on, .index a record for
// each line from one line number on, .notes the bytes of the commands and
// markers (made with the first). Written from one thread; read from any with
// pread, also once its names are gone from the folder. Index records are
// gathered and written in one go (flush); until then they are read here.
class SegmentFiles
{
public:
    SegmentFiles(const QString &prefix, qint64 number, qint64 dataBegin, qint64 firstLine);
    ~SegmentFiles();
    SegmentFiles(const SegmentFiles &) = delete;
    SegmentFiles &operator=(const SegmentFiles &) = delete;

    // Makes the data and index files; what it made goes again on failure.
    bool create(FileFault &fault);
    bool appendData(QByteArrayView bytes, FileFault &fault);
    // A command's or a marker's bytes; `at` gets where they are kept.
    bool appendNote(QByteArrayView bytes, qint64 &at, FileFault &fault);
    // A finished line, written with the next flush.
    void add(const HistoryRecord &record);
    bool flush(FileFault &fault);
    qsizetype unwritten() const { return qsizetype(m_tail.size()); }
    // The names go; whoever holds the files reads on.
    void removeFiles() const;

    // Records of lines [first, first + count), counted from firstLine(),
    // from the index file: all of them below flushed().
    bool readRecords(qint64 first, qint64 count, std::vector<HistoryRecord> &out) const;
    // One at or after flushed(), still in memory (under the writer's lock).
    const HistoryRecord &unwrittenRecord(qint64 index) const
    {
        return m_tail[size_t(index - m_flushed)];
    }
    // Bytes of the data file from `at` (counted from dataBegin()), and of the notes.
    bool readData(char *out, qint64 at, qint64 size) const;
    bool readNote(char *out, qint64 at, qint64 size) const;

    qint64 number() const { return m_number; }
    qint64 dataBegin() const { return m_dataBegin; } // stream position of its first byte
    qint64 dataSize() const { return m_dataSize; }
    qint64 firstLine() const { return m_firstLine; }
    qint64 lines() const { return m_lines; }     // finished records, written or not
    qint64 flushed() const { return m_flushed; } // records in the index file
    // What its files take, or will once the gathered records are written.
    qint64 size() const { return m_dataSize + m_notesSize + m_lines * HistoryRecord::Size; }

private:
    QString path(const char *kind) const;

    const QString m_prefix;
    const qint64 m_number;
    const qint64 m_dataBegin;
    const qint64 m_firstLine;
    int m_data = -1;
    int m_index = -1;
    std::atomic<int> m_notes{-1}; // made by the writer while others may read
    qint64 m_dataSize = 0;
    qint64 m_notesSize = 0;
    qint64 m_lines = 0;
    qint64 m_flushed = 0;
    std::vector<HistoryRecord> m_tail;
};
