#pragma once

#include "historylog.h"

#include <QObject>

#include <memory>

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
    // A command as the bytes handed to the port; a saved command's name
    // (as the operator reads it: "Befehl „Status“") goes before it as a
    // remark, which the history window shows with the sent lines.
    void appendSent(QByteArrayView bytes, const QString &name = {}) noexcept;
    // What the saved commands tell beside their sent lines (a wait's
    // outcome); it does not cut the received line it comes in.
    void appendRemark(const QString &text) noexcept;
    // "Com 3 geöffnet (9600,n,8,1)" and "Com 3 geschlossen", with the date and
    // time.
    void portOpened(int port, const QString &settings) noexcept;
    void portClosed(int port) noexcept;
    void appendMarker(const QString &text) noexcept;
    // A file transfer's start or end, with the time.
    void transferMarker(const QString &what) noexcept;
    void clear() noexcept;

    const std::shared_ptr<HistoryLog> &log() const { return m_log; }
    bool failed() const { return m_log->failed(); }
    QString failure() const { return m_log->failure(); }

Q_SIGNALS:
    // Something was added; raised once per call.
    void grown();
    // Every piece of received bytes with the time the history gives its
    // lines, also when the history cannot be written: for the views that
    // must agree with it (the plot). The view lasts until the signal returns.
    void received(QByteArrayView bytes, qint64 time);
    // The log stopped growing (a full disk, a folder that cannot be
    // written); raised once per failure.
    void failedChanged(const QString &failure);

private:
    template <class Write> void guarded(Write write) noexcept;
    qint64 now() const;
    std::shared_ptr<HistoryLog> m_log;
    bool m_reportedFailure = false;
    HistoryLog::Clock m_clock;
};
