#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The answers of the simulated instrument, apart from any line or clock, so
// that the program around it and the tests feed it the same way.
//
// A command ends at CR or LF; CR LF and LF CR leave an empty line behind,
// which is ignored, so every usual line end works. Case does not matter.
//   AT                 -> OK
//   ATI                -> the identification (Latin-1, with an umlaut)
//   BYTES              -> every byte value 0..255 once, then CR LF
//   STREAM n [rate]    -> n numbered readings at rate lines a second
//                         (10 unless given), then OK; commands are still
//                         answered in between
//   CURVES n [rate]    -> n lines of readings of four series as
//                         name:value pairs (temp, feuchte, sinus, saege),
//                         as STREAM paces them, then OK
//   STOP               -> ends a running stream, OK
//   anything else      -> ERROR
// Every answer line ends in CR LF. Times are milliseconds on any clock that
// only moves forward.
class Instrument
{
public:
    // Takes bytes from the line and returns what the instrument sends back
    // at once: answers and the stream lines that are due.
    QByteArray receive(QByteArrayView bytes, qint64 now);
    // The stream lines (and the closing OK) due by now.
    QByteArray due(qint64 now);
    // Milliseconds from now until the next stream line; -1 without a stream.
    qint64 waitFor(qint64 now) const;

    static QByteArray identification();
    // Reading number n (from 1) as it goes out, without its line end.
    static QByteArray reading(int n);
    // Line n (from 1) of CURVES, without its line end.
    static QByteArray curves(int n);

private:
    QByteArray answer(const QByteArray &command, qint64 now);

    QByteArray m_line;
    bool m_overlong = false;
    // The running stream: lines sent so far out of m_total, line k (from 0)
    // due m_start + k * 1000 / m_rate.
    int m_total = 0;
    int m_sent = 0;
    int m_rate = 1;
    bool m_curves = false; // CURVES lines instead of readings
    qint64 m_start = 0;
};
