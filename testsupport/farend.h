#pragma once

#include "pseudoterminal.h"

#include <QByteArray>
#include <QByteArrayView>

// The far end of a line for tests and benchmarks: a pseudo-terminal pair (the
// master is the far end, the slave's path is what a port number gets mapped
// to) that sends and receives with patience.
class FarEnd : public PseudoTerminal
{
public:
    // Writes everything to the master (the far end sends); false when the
    // line took nothing for ten seconds.
    bool send(QByteArrayView bytes);
    // Reads what the far end has received, waiting up to timeoutMs for
    // at least `atLeast` bytes in all.
    QByteArray receive(qsizetype atLeast, int timeoutMs = 3000);
};
