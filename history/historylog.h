#pragma once

#include "lineends.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// One line of the history as the store keeps it.
struct HistoryLine {
    enum Kind : quint8 {
        Received, // a line of the received stream, or a piece of a long one
        Sent,     // a command, as the bytes handed to the port
        Marker,   // a port opened or closed, older data dropped
    };
    enum Flag : quint8 {
        // The piece goes on from the received piece before it: that one was
        // cut at the length bound, or a sent command came between.
        Continued = 1,
        // The marker that stands for dropped data; not in the files.
        Dropped = 2,
    };
    qint64 number = -1;
    qint64 time = 0; // msecs since the epoch when its first byte arrived
    // Received: the position of its first byte in the received stream (every
    // byte received since the start counts). The others: the stream's length
    // when they came.
    qint64 pos = 0;
    qint64 length = 0; // received: its bytes without the line end
    Kind kind = Received;
    quint8 flags = 0;
    qint64 noteAt = 0; // sent and marker lines: where the store keeps their bytes
    bool continued() const { return flags & Continued; }
};

// The received stream, the commands sent and the markers, kept in files and
// read back from any thread. HistoryStore writes it; readers (the window, a
// search running beside it) share it and may outlive the store: its files
// are gone from the folder then, their contents still readable to them.
class HistoryLog
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
    void appendSent(QByteArrayView bytes);
    // A marker line. newSession: a port was opened, so the line-end pairing
    // starts afresh, as the receive box's does.
    void appendMarker(const QString &text, bool newSession = false);
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

    static constexpr int RecordSize = 24;

private:
    // A line as the index files hold it: fixed size, so line n of a segment
    // is found at (n - first) * RecordSize.
    // The time takes the low 48 bits of the stamp (enough for the next
    // eight thousand years), the flags and the kind the two bytes above.
    struct Record {
        quint64 stamp = 0;
        qint64 pos = 0;
        quint32 length = 0;
        quint32 noteAt = 0;
    };
    struct Segment;
    using SegmentPtr = std::shared_ptr<Segment>;

    bool prepareFolder();
    bool rotate();
    void dropOld();
    void appendNote(HistoryLine::Kind kind, QByteArrayView bytes, bool newSession);
    void scan(const char *p, qsizetype n, qint64 base, qint64 time);
    void openPiece(qint64 pos, qint64 time, quint8 flags);
    void finishPiece();
    void cutPiece(uchar next, qint64 time);
    void remember(const char *p, qsizetype n);
    void push(Segment &segment, const Record &record);
    bool flush(Segment &segment);
    void fail(int err, const QString &path);
    void removeFiles(Segment &segment);
    SegmentPtr segmentOfLine(qint64 number) const; // under the lock
    HistoryLine droppedMarker() const;             // under the lock
    bool readRecords(const SegmentPtr &segment, qint64 first, qint64 count,
                     std::vector<Record> &out) const;
    QString path(qint64 segment, const char *suffix) const;
    // Stream bytes [from, to); `whole`: all of them or nothing.
    QByteArray readStream(qint64 from, qint64 to, bool whole, qint64 *start = nullptr) const;

    const Options m_options;
    const qint64 m_segmentSize;
    QString m_prefix; // this run's files: <folder>/history-<pid>-<n>
    int m_lock = -1;

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

    // The received piece still growing: its record, number and segment.
    std::optional<Record> m_open;
    qint64 m_openNumber = -1;
    Segment *m_openSegment = nullptr; // never dropped while a piece grows in it
    bool m_continueNext = false;      // the next piece goes on from an interrupted one
    LineEnds m_lineEnds;
    // The newest bytes of the growing piece, brought up to date at the end
    // of each piece received and where it is cut: there a character or an
    // escape sequence is not split.
    std::array<char, 32> m_recent{};
    int m_recentCount = 0;
};

// The history of this run: the one place that writes it. The window's port
// hands it each piece of received bytes as it is taken in, the commands as
// they go out and the openings and closings; the history window reads it.
// It never throws: a full disk or a folder that cannot be written stops it
// growing, once, with failed().
class HistoryStore : public QObject
{
    Q_OBJECT
public:
    using Options = HistoryLog::Options;
    explicit HistoryStore(Options options, QObject *parent = nullptr);
    // In that folder, keeping 1 GiB, on the system clock.
    explicit HistoryStore(const QString &folder, QObject *parent = nullptr);
    ~HistoryStore() override;

    // Where the program keeps it: $XDG_CACHE_HOME/kavro.
    static QString defaultFolder();

    void appendReceived(QByteArrayView bytes) noexcept;
    void appendSent(QByteArrayView bytes) noexcept;
    // "Com 3 geöffnet (9600,n,8,1)" and "Com 3 geschlossen", with the date and
    // time.
    void portOpened(int port, const QString &settings) noexcept;
    void portClosed(int port) noexcept;
    void appendMarker(const QString &text) noexcept;
    void clear() noexcept;

    const std::shared_ptr<HistoryLog> &log() const { return m_log; }
    bool failed() const { return m_log->failed(); }
    QString failure() const { return m_log->failure(); }

Q_SIGNALS:
    // Something was added; raised once per call.
    void grown();
    // The log stopped growing (a full disk, a folder that cannot be
    // written); raised once per failure.
    void failedChanged(const QString &failure);

private:
    template <class Write> void guarded(Write write) noexcept;
    QString markerTime() const;
    std::shared_ptr<HistoryLog> m_log;
    bool m_reportedFailure = false;
    HistoryLog::Clock m_clock;
};
