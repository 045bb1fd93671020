#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The line a transfer talks through: the window hands it the open port,
// tests a pseudo-terminal. A transfer never waits on it; it asks how much it
// still holds and comes back later.
class TransferLine
{
public:
    virtual ~TransferLine() = default;
    // Hands bytes to the line; they go out in the background, in order.
    virtual void put(const QByteArray &bytes) = 0;
    // Bytes handed and not on the wire yet.
    virtual qint64 unsent() const = 0;
};

// How a transfer went: ok only when every byte went out and was taken (for
// the protocols, acknowledged). `message` says why not, in German; `files`
// are the received files where they landed.
struct TransferOutcome {
    bool ok = false;
    bool cancelled = false;
    QString message;
    QStringList files;
};

// What the progress window shows; -1 where nothing is known yet.
struct TransferProgress {
    qint64 done = 0;
    qint64 total = -1;
    int retries = 0;
    QString lastWord;
};
