#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair: the master is the far end of the line, the slave's
// path is what a port number gets mapped to.
class FarEnd
{
public:
    FarEnd();
    ~FarEnd();
    FarEnd(const FarEnd &) = delete;
    FarEnd &operator=(const FarEnd &) = delete;

    bool isValid() const { return m_master >= 0; }
    int master() const { return m_master; }
    // The slave's fd the test keeps (for termios checks); -1 once closed.
    int slave() const { return m_slave; }
    QString slavePath() const { return m_slavePath; }

    // Writes everything to the master (the far end sends); false when the
    // line takes nothing for ten seconds.
    bool send(QByteArrayView bytes);
    // Reads what the far end has received, waiting up to timeoutMs for
    // at least `atLeast` bytes in all.
    QByteArray receive(qsizetype atLeast, int timeoutMs = 3000);
    void closeMaster();
    void closeSlave();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
