#include "traffic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

Traffic::Traffic(Kind kind, quint64 seed)
    : m_kind(kind), m_state(seed * 0x9e3779b97f4a7c15ull + kind)
{
}

quint64 Traffic::random()
{
    // splitmix64: fast, and every seed gives a full-quality stream.
    quint64 z = (m_state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

void Traffic::refill()
{
    // Printable ASCII, blank included: 95 characters.
    auto printable = [this](char *to, int n) {
        for (int i = 0; i < n; i += 8) {
            quint64 r = random();
            for (int j = i; j < std::min(n, i + 8); ++j, r >>= 8)
                to[j] = char(0x20 + (r & 0xff) % 95);
        }
    };
    switch (m_kind) {
    case Lines: {
        // "00001234 " then text; the number makes a lost or doubled line
        // easy to spot by eye.
        char head[16];
        std::snprintf(head, sizeof head, "%08lld ", static_cast<long long>(m_line++ % 100000000));
        std::memcpy(m_block.data(), head, 9);
        printable(m_block.data() + 9, LineLength - 11);
        m_block[LineLength - 2] = '\r';
        m_block[LineLength - 1] = '\n';
        m_blockSize = LineLength;
        break;
    }
    case Readings: {
        // "0042.7 12.34 …": the line's number in the first of the ten.
        const quint64 r = random();
        int at = std::snprintf(m_block.data(), m_block.size(), "%04lld.%d",
                               static_cast<long long>(m_line++ % 10000), int(r % 10));
        for (int k = 1; k < 10; ++k)
            at += std::snprintf(m_block.data() + at, m_block.size() - size_t(at), " %02d.%02d",
                                int((r >> (6 * k)) % 100), int((r >> (6 * k + 3)) % 100));
        m_block[size_t(at)] = '\r';
        m_block[size_t(at) + 1] = '\n';
        m_blockSize = at + 2;
        break;
    }
    case Endless:
        printable(m_block.data(), int(m_block.size()));
        m_blockSize = int(m_block.size());
        break;
    case Binary:
        for (size_t i = 0; i < m_block.size(); i += 8) {
            const quint64 r = random();
            std::memcpy(m_block.data() + i, &r, 8);
        }
        m_blockSize = int(m_block.size());
        break;
    }
    m_at = 0;
}

void Traffic::read(char *out, qsizetype n)
{
    while (n > 0) {
        if (m_at == m_blockSize)
            refill();
        const qsizetype take = std::min<qsizetype>(n, m_blockSize - m_at);
        std::memcpy(out, m_block.data() + m_at, size_t(take));
        m_at += int(take);
        out += take;
        n -= take;
        m_position += take;
    }
}

QByteArray Traffic::next(qsizetype n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    read(bytes.data(), n);
    return bytes;
}

QString Traffic::name(Kind kind)
{
    switch (kind) {
    case Lines:
        return QStringLiteral("lines");
    case Endless:
        return QStringLiteral("endless");
    case Binary:
        return QStringLiteral("binary");
    case Readings:
        return QStringLiteral("readings");
    }
    return {};
}
