#pragma once

#include <QByteArray>
#include <QString>

#include <array>

// Deterministic traffic for a serial line: the same kind and seed always give
// the same byte stream, however it is read in pieces, so what a receiver wrote
// down can be checked against a second generator of the same kind and seed.
class Traffic
{
public:
    enum Kind {
        Lines,   // lines of 62 bytes: a number, printable text, CR LF
        Endless, // printable text that never ends a line
        Binary,  // every byte value, CR, LF and NUL included
        // Lines of 62 bytes that hold ten numbers with decimals between
        // blanks, CR LF: what a measuring device sends the plot.
        Readings,
    };
    static constexpr int LineLength = 62;

    explicit Traffic(Kind kind, quint64 seed = 1);

    // The next n bytes of the stream.
    void read(char *out, qsizetype n);
    QByteArray next(qsizetype n);
    // Bytes handed out so far.
    qint64 position() const { return m_position; }

    static QString name(Kind kind);

private:
    void refill();
    quint64 random();

    Kind m_kind;
    quint64 m_state;
    qint64 m_position = 0;
    qint64 m_line = 0;
    std::array<char, 64> m_block{};
    int m_blockSize = 0;
    int m_at = 0;
};
