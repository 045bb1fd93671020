// A serial server's stream as the client takes it apart: whatever a server
// sends, and wherever the network splits it, the line's bytes are what a
// plain reading of the telnet framing gives, and what the client answers
// stays within its budget. Sent back, the same bytes arrive unchanged.
//
// Input: the stream, and at its end how often it is fed in a row (so that a
// short input can keep a server's requests coming) and the sizes of the
// pieces it is handed over in.

#include "rfc2217.h"
#include "check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <utility>
#include <vector>

namespace
{

constexpr quint8 Iac = 255, Wont = 252, Will = 251, Sb = 250, Se = 240;

// The line's bytes in a telnet stream, written out plainly from RFC 854 and
// RFC 856 for the whole stream at once: IAC IAC is a 255; a negotiation, a
// subnegotiation up to IAC SE and any other command carry none; inside a
// subnegotiation an IAC followed by anything but IAC or SE is the command
// it starts (the server forgot the end). While the server sends in NVT
// mode, before its WILL BINARY and after its WONT BINARY, a NUL right after
// a CR only completes the CR.
QByteArray lineBytes(const QByteArray &stream)
{
    QByteArray out;
    bool binary = false;
    bool afterCr = false;
    bool inSb = false;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        const quint8 c = quint8(stream[i]);
        if (c != Iac) {
            if (!inSb) {
                const bool completesCr = std::exchange(afterCr, c == '\r' && !binary) && c == 0;
                if (!completesCr)
                    out.append(char(c));
            }
            continue;
        }
        if (++i == stream.size())
            break;
        const quint8 command = quint8(stream[i]);
        if (inSb && command != Se && command != Iac)
            inSb = false; // an unended subnegotiation: read the command
        if (inSb) {
            inSb = command != Se;
        } else if (command == Iac) {
            afterCr = false;
            out.append(char(Iac));
        } else if (command >= Will) {
            if (++i == stream.size())
                break;
            if (stream[i] == 0 && (command == Will || command == Wont))
                binary = command == Will;
        } else if (command == Sb) {
            inSb = true;
        }
    }
    return out;
}

// Whether a reply consists of whole negotiations only.
bool negotiationsOnly(const QByteArray &reply)
{
    if (reply.size() % 3 != 0)
        return false;
    for (qsizetype i = 0; i < reply.size(); i += 3)
        if (quint8(reply[i]) != Iac || quint8(reply[i + 1]) < Will)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    const int times = in.ConsumeIntegralInRange(1, 64);
    std::vector<qsizetype> pieces(in.ConsumeIntegralInRange(0, 8));
    for (qsizetype &piece : pieces)
        piece = in.ConsumeIntegralInRange(1, 64);
    const std::vector<char> once = in.ConsumeRemainingBytes<char>();
    // Up to 16 KB: enough for the budget, and a run stays quick.
    QByteArray stream;
    for (int t = 0; t < times && stream.size() + qsizetype(once.size()) <= 16384; ++t)
        stream.append(once.data(), qsizetype(once.size()));

    Rfc2217Client client;
    client.opening();
    client.requestSettings({19200, 8, 'n', 2});
    QByteArray data;
    qsizetype answered = 0;
    for (qsizetype at = 0, k = 0; at < stream.size(); ++k) {
        const qsizetype piece = pieces.empty() ? stream.size() : pieces[size_t(k) % pieces.size()];
        QByteArray reply;
        client.decode(QByteArrayView(stream).sliced(at, std::min(piece, stream.size() - at)), data,
                      reply);
        FUZZ_CHECK(negotiationsOnly(reply));
        answered += reply.size();
        at += piece;
    }
    FUZZ_CHECK(data == lineBytes(stream));
    FUZZ_CHECK(answered <= 3 * Rfc2217Client::AnswerBudget);
    FUZZ_CHECK(!client.pestered() || answered == 3 * Rfc2217Client::AnswerBudget);

    // The other way: what the client sends of these bytes reads back as
    // them at a receiver in the mode the client sends in.
    Rfc2217Client receiver;
    QByteArray back, ignored;
    if (client.sendsBinary())
        receiver.decode(QByteArray::fromHex("fffb00"), back, ignored);
    receiver.decode(client.encode(data), back, ignored);
    FUZZ_CHECK(back == data);
    return 0;
}
