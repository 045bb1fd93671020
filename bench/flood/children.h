#pragma once

#include "measure.h"

#include <QByteArray>
#include <QList>

#include <optional>

#include <sys/types.h>

// A child process of the driver: this executable started again in one of its
// modes (--window, --floor, --reader, --netreader), its reports read from a
// pipe on its stdout.
struct Child {
    pid_t pid = -1;
    int out = -1; // its reports
    QByteArray pending;

    // The next report, waiting up to timeout seconds.
    std::optional<Fields> next(double timeout);
    bool alive() const;
    // Waits up to ten seconds for the child to end, then kills it.
    void end();
};

// How the children are started.
struct Launcher {
    // A command the window's process runs under (--profile-with), or nothing.
    QList<QByteArray> windowWrapper;
    // The X display the window and the floor run on (--x11), or empty for
    // offscreen; the readers are always offscreen.
    QByteArray display;

    // Starts this executable with args, the first of them the mode, with its
    // own configuration and runtime folders.
    Child start(const QList<QByteArray> &args, const QByteArray &xdgConfig,
                const QByteArray &runtime) const;
};

// The X server the window runs on with --x11: the one serving DISPLAY when it
// is set, otherwise an Xvfb of its own, which ends with this object.
class XServer
{
public:
    XServer();
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    // Empty when an Xvfb of its own did not start.
    QByteArray display() const { return m_display; }
    // The server's process, or -1 when it is not to be seen (another user's,
    // or remote).
    pid_t pid() const { return m_pid; }
    bool isOwn() const { return m_own; }

private:
    QByteArray m_display;
    pid_t m_pid = -1;
    bool m_own = false;
};
