#include "simulatedinstrument.h"

#include <QList>

#include <cmath>

namespace
{

const QByteArray End("\r\n");
// A line this long is no command; it is answered with ERROR once it ends.
constexpr qsizetype LongestCommand = 256;
constexpr int MostLines = 99999; // what five digits can number
constexpr int FastestRate = 1000;
constexpr int DefaultRate = 10;

// A whole decimal number within [low, high]; -1 otherwise.
int number(const QByteArray &text, int low, int high)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && text.front() != '+' && n >= low && n <= high ? n : -1;
}

} // namespace

QByteArray Instrument::identification()
{
    return QByteArray("Kavro Messger\xe4t-Simulator V1.0");
}

QByteArray Instrument::reading(int n)
{
    // A supply voltage around 12 V that wanders in a fixed pattern, so that
    // every run shows the same numbers.
    const int millivolts = 11500 + (n * 7919) % 1000;
    return "Messwert " + QByteArray::number(n).rightJustified(5, '0') + ": " +
           QByteArray::number(millivolts / 1000) + ',' +
           QByteArray::number(millivolts % 1000).rightJustified(3, '0') + " V";
}

QByteArray Instrument::curves(int n)
{
    // A temperature and a humidity that drift slowly, a sine and a saw
    // tooth: four curves that are told apart at a glance.
    const double temp = 21 + 2 * std::sin(n / 40.0);
    const double humidity = 48 + 5 * std::cos(n / 65.0);
    return "temp:" + QByteArray::number(temp, 'f', 2) +
           ",feuchte:" + QByteArray::number(humidity, 'f', 1) +
           ",sinus:" + QByteArray::number(std::sin(n / 10.0), 'f', 3) +
           ",saege:" + QByteArray::number(n % 50);
}

QByteArray Instrument::receive(QByteArrayView bytes, qint64 now)
{
    QByteArray out;
    for (const char c : bytes) {
        if (c != '\r' && c != '\n') {
            if (m_line.size() < LongestCommand)
                m_line.append(c);
            else
                m_overlong = true;
            continue;
        }
        const QByteArray command = m_line.trimmed().toUpper();
        const bool overlong = m_overlong;
        m_line.clear();
        m_overlong = false;
        if (command.isEmpty() && !overlong)
            continue;
        // Lines already due go first, as they would have on a real line.
        out += due(now);
        out += overlong ? "ERROR" + End : answer(command, now);
    }
    return out + due(now);
}

QByteArray Instrument::answer(const QByteArray &command, qint64 now)
{
    if (command == "AT")
        return "OK" + End;
    if (command == "ATI")
        return identification() + End;
    if (command == "BYTES") {
        QByteArray all(256, '\0');
        for (int i = 0; i < 256; ++i)
            all[i] = char(i);
        return all + End;
    }
    if (command == "LOG") {
        // What a small board of today prints at its start: UTF-8 and the
        // colours of its log levels.
        return "\x1b[0;32mI (312) boot: Messknoten V2.4 gestartet\x1b[0m" + End +
               "\x1b[0;32mI (845) sensor: Temperatur 21,5 \xc2\xb0"
               "C, Feuchte 48 %\x1b[0m" +
               End +
               "\x1b[0;33mW (1203) wlan: Signal schwach (\xe2\x88\x92"
               "78 dBm)\x1b[0m" +
               End +
               "\x1b[0;31mE (1510) mqtt: Verbindung abgelehnt \xe2\x80\x93 neuer Versuch in 5 "
               "s\x1b[0m" +
               End + "\x1b[1mI (1520) main: bereit \xe2\x9c\x93\x1b[0m" + End;
    }
    if (command == "STOP") {
        m_total = m_sent = 0;
        return "OK" + End;
    }
    const QList<QByteArray> words = command.simplified().split(' ');
    if ((words.first() == "STREAM" || words.first() == "CURVES") &&
        (words.size() == 2 || words.size() == 3)) {
        const int total = number(words[1], 1, MostLines);
        const int rate = words.size() == 3 ? number(words[2], 1, FastestRate) : DefaultRate;
        if (total > 0 && rate > 0) {
            // A new stream takes the place of one still running.
            m_total = total;
            m_sent = 0;
            m_rate = rate;
            m_start = now;
            m_curves = words.first() == "CURVES";
            return due(now);
        }
    }
    return "ERROR" + End;
}

QByteArray Instrument::due(qint64 now)
{
    QByteArray out;
    while (m_sent < m_total && waitFor(now) == 0) {
        ++m_sent;
        out += (m_curves ? curves(m_sent) : reading(m_sent)) + End;
        if (m_sent == m_total) {
            out += "OK" + End;
            m_total = m_sent = 0;
        }
    }
    return out;
}

qint64 Instrument::waitFor(qint64 now) const
{
    if (m_sent >= m_total)
        return -1;
    const qint64 next = m_start + qint64(m_sent) * 1000 / m_rate;
    return next > now ? next - now : 0;
}
