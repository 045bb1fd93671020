#pragma once

#include "filefault.h"

#include <QString>

// The lock of one run's history files: history-<pid>-<n>.lock in the folder,
// held with flock for as long as the run keeps its files. Whoever takes a
// lock first removes what runs that ended without cleaning up left behind:
// files whose lock nobody holds any more.
class RunLock
{
public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;

    // Makes the folder, clears away stale runs and takes a lock of its own;
    // true at once while one is held.
    bool take(const QString &folder, FileFault &fault);
    bool held() const { return m_fd >= 0; }
    // The run's files begin with it: <folder>/history-<pid>-<n>.
    const QString &prefix() const { return m_prefix; }
    // Removes the lock file and lets the lock go.
    void release();

private:
    int m_fd = -1;
    QString m_prefix;
};
