#pragma once

#include "historyline.h"
#include "piececutter.h"
#include "runlock.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class SegmentFiles;
struct HistoryRecord;

// The received stream, the commands sent and the markers, kept in files and
// read back from any thread. HistoryStore writes it; readers (the window, a
// search running beside it) share it and may outlive the store: its files
// are gone from the folder then, their contents still readable to them.
class HistoryLog : private PieceCutter::Owner
{
public:
    using Clock = std::function<qint64()>;
    struct Options {
        QString folder;
        // What the files may take: the received bytes, their index and the
        // commands and markers all count. The oldest segment goes while those
        // before the newest take more, so the folder holds at most this and
        // the one segment growing (an eighth of it), and at least this less
        // a segment.
        qint64 budget = qint64(1) << 30;
        // A line longer than this is cut into pieces of at most this length.
        qint64 pieceLength = 1024;
        Clock clock; // msecs since the epoch; the system clock when empty
    };

    explicit HistoryLog(Options options);
    ~HistoryLog();
    HistoryLog(const HistoryLog &) = delete;
    HistoryLog &operator=(const HistoryLog &) = delete;

    // Writing, from one thread. A failure stops the log (failure() tells
    // why); nothing is thrown.
    void appendReceived(QByteArrayView bytes);
    // With the time they came, read from the clock by whoever hands them on
    // to other readers too (HistoryStore).
    void appendReceived(QByteArrayView bytes, qint64 time);
    void appendSent(QByteArrayView bytes);
    // A marker line. newSession: a port was opened, so the line-end pairing
    // starts afresh, as the receive box's does.
    void appendMarker(const QString &text, bool newSession = false);
    // A marker of the commands (HistoryLine::Remark).
    void appendRemark(const QString &text);
    // Everything goes; a failed log tries its folder again.
    void clear();
    // Removes the files; readers keep what they have open.
    void close();

    // Reading, from any thread. Lines are numbered from the start of the
    // program; beginLine() is the first still kept (the marker of dropped data
    // when there is one), endLine() one past the last (the line still growing
    // included).
    qint64 beginLine() const;
    qint64 endLine() const;
    // Lines [from, from + count) within the kept ones; fewer when the files
    // cannot be read.
    std::vector<HistoryLine> lines(qint64 from, qint64 count) const;
    HistoryLine line(qint64 number) const;
    // A line's bytes: received ones without their line end; a marker's text
    // as UTF-8.
    QByteArray content(const HistoryLine &line) const;
    // The contents of many lines, the received ones read in one go.
    std::vector<QByteArray> contents(const std::vector<HistoryLine> &lines) const;
    // Received bytes [from, to), clipped to what is kept; `start` gets where
    // they begin (later than `from` when older bytes went meanwhile).
    QByteArray received(qint64 from, qint64 to, qint64 *start = nullptr) const;
    // Where the kept received stream begins and ends.
    qint64 receivedBegin() const;
    qint64 receivedEnd() const;
    // The received line (or piece) that holds the stream byte at pos, its
    // line end included; -1 when none.
    qint64 lineAt(qint64 pos) const;
    // Where the bytes of line number n and its line end end: the next
    // received piece's start, or the end of the stream.
    qint64 receivedEndOf(qint64 number) const;

    bool failed() const;
    QString failure() const;
    qint64 droppedBytes() const;
    // Bumped whenever lines go at the start (dropped or cleared).
    quint64 generation() const;

    static constexpr int RecordSize = 24; // each line's record in the index

private:
    using SegmentPtr = std::shared_ptr<SegmentFiles>;

    qint64 now() const;
    bool prepareFolder();
    bool rotate();
    void dropOld();
    void appendNote(HistoryLine::Kind kind, QByteArrayView bytes, bool newSession,
                    quint8 flags = 0);
    void pieceBegun(const PieceCutter::Piece &piece) override;
    void pieceEnded(const PieceCutter::Piece &piece) override;
    void push(SegmentFiles &segment, const HistoryRecord &record);
    void fail(const FileFault &fault);
    SegmentPtr segmentOfLine(qint64 number) const; // under the lock
    HistoryLine droppedMarker() const;             // under the lock
    // Stream bytes [from, to); `whole`: all of them or nothing.
    QByteArray readStream(qint64 from, qint64 to, bool whole, qint64 *start = nullptr) const;

    const Options m_options;
    const qint64 m_segmentSize;
    RunLock m_lock;

    mutable std::mutex m_mutex; // readers on other threads take it
    std::deque<SegmentPtr> m_segments;
    qint64 m_nextSegment = 0;
    qint64 m_nextLine = 0;
    qint64 m_streamEnd = 0;
    qint64 m_droppedBytes = 0;
    qint64 m_droppedTime = 0;
    bool m_showDropped = false;
    quint64 m_generation = 0;
    QString m_failure;
    bool m_failed = false;

    // The received lines, and of the piece still growing its number, time
    // and segment (never dropped while a piece grows in it).
    PieceCutter m_cutter;
    qint64 m_openNumber = -1;
    qint64 m_openTime = 0;
    SegmentFiles *m_openSegment = nullptr;
    qint64 m_receivedTime = 0; // of the bytes being cut
};
