#pragma once

#include <QtGlobal>

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
        // A marker that belongs with the commands (the name of a saved
        // command before its sent line, a wait's outcome): it does not cut
        // the received line it comes in, and it is shown with the commands.
        Remark = 4,
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
