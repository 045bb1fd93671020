#pragma once

#include "lineends.h"

#include <QtGlobal>

#include <array>
#include <optional>

// Cuts the received stream into the history's lines, as the receive box
// does (LineEnds), and a line longer than the piece length into pieces that
// keep characters and escape sequences whole (unfinishedTail). A command
// sent in the middle of a line comes between its pieces; the rest of the
// line goes on after it as a continued piece. It keeps no bytes but the few
// newest of the growing piece, and tells its owner where pieces begin and
// end.
class PieceCutter
{
public:
    struct Piece {
        qint64 pos = 0;    // its first byte in the received stream
        qint64 length = 0; // its bytes, without the line end
        quint8 flags = 0;  // HistoryLine::Continued
    };
    // Where the pieces go, each told when it begins and when it is done.
    class Owner
    {
    public:
        virtual void pieceBegun(const Piece &piece) = 0;
        virtual void pieceEnded(const Piece &piece) = 0;

    protected:
        ~Owner() = default;
    };

    explicit PieceCutter(qint64 pieceLength) : m_pieceLength(pieceLength) {}

    // Received bytes, the first at stream position `base`.
    void feed(const char *p, qsizetype n, qint64 base, Owner &owner);
    // A command or a marker comes between: the growing piece ends, and after
    // a command (goesOn) the line's rest goes on as a continued piece.
    void interrupt(bool goesOn, Owner &owner);
    // A port opened anew: its first CR or LF ends a line.
    void newSession() { m_lineEnds.reset(); }
    // Everything went: the growing piece with it.
    void drop();

    // The piece still growing, if any.
    const std::optional<Piece> &growing() const { return m_open; }

private:
    void begin(qint64 pos, quint8 flags, Owner &owner);
    void finish(Owner &owner);
    void cut(uchar next, Owner &owner);
    void remember(const char *p, qsizetype n);

    const qint64 m_pieceLength;
    LineEnds m_lineEnds;
    std::optional<Piece> m_open;
    bool m_continueNext = false; // the next piece goes on from an interrupted one
    // The newest bytes of the growing piece, brought up to date at the end
    // of each piece received and where it is cut: there a character or an
    // escape sequence is not split.
    std::array<char, 32> m_recent{};
    int m_recentCount = 0;
};
