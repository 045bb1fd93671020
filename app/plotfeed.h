#pragma once

#include "linereader.h"
#include "seriesstore.h"

#include <QObject>
#include <QStringList>

// The plot's side of the received stream, from the start of the program
// whether its window is open or not: every piece as the history takes it,
// with the history's clock reading (HistoryStore::received), read into the
// series store. The reading choices are kept in kavro.conf: the format,
// separator and decimal mark for every port, the regular expression per
// port number.
class PlotFeed : public QObject
{
    Q_OBJECT
public:
    explicit PlotFeed(QObject *parent = nullptr);

    const SeriesStore &store() const { return m_store; }
    const LineReader &reader() const { return m_reader; }

    void take(QByteArrayView bytes, qint64 time) noexcept;
    // The port whose lines come in: its pattern, a fresh pairing of line
    // ends, and a first line that may be broken.
    void portOpened(int port);
    void portClosed();
    // The port last opened; 0 before any was.
    int port() const { return m_port; }

    ReadingChoice choice() const { return m_reader.choice(); }
    // From the next line on, and kept for the next start.
    void setChoice(const ReadingChoice &choice);

    // The words of the window's choices, in the order of the enums.
    static QStringList formatNames();
    static QStringList separatorNames();
    static QStringList markNames();

private:
    void readChoice();

    SeriesStore m_store;
    LineReader m_reader{m_store};
    int m_port = 0;
};
