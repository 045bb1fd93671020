#pragma once

#include <QString>

// A pseudo-terminal pair, raw on both sides so that bytes pass as they are:
// the master is the far end of a line, the slave's path is what a port number
// gets mapped to. The master does not block.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return m_master >= 0; }
    int master() const { return m_master; }
    // The slave's descriptor kept open here; -1 once closed.
    int slave() const { return m_slave; }
    QString slavePath() const { return m_slavePath; }

    void closeMaster();
    void closeSlave();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
