// Received bytes read into curves, under every reading choice: whatever
// comes, each line is counted once (received = plotted + rejected + skipped
// + the one held), each plotted line is one row, every value is a finite
// number kept exactly as read, and the bytes split anywhere into pieces give
// the same curves and counts as in one piece.
//
// The first byte picks the choice (format, separator, decimal mark, a
// pattern), the second where the pieces are cut.

#include "linereader.h"
#include "seriesstore.h"

#include "check.h"

#include <cmath>

namespace
{

struct Outcome {
    LineReader::Counts counts;
    std::vector<std::vector<double>> values;
    std::vector<QString> names;
    std::vector<qint64> times;
};

Outcome read(const ReadingChoice &choice, QByteArrayView bytes, int step)
{
    SeriesStore store;
    LineReader reader(store);
    reader.setChoice(choice);
    qint64 time = 0;
    for (qsizetype at = 0; at < bytes.size(); at += step)
        reader.feed(bytes.sliced(at, std::min<qsizetype>(step, bytes.size() - at)), time);
    Outcome out;
    out.counts = reader.counts();
    const LineReader::Counts &c = out.counts;
    FUZZ_CHECK(c.received == c.plotted + c.rejected + c.skipped + c.held);
    FUZZ_CHECK(c.held == 0 || c.held == 1);
    FUZZ_CHECK(store.rows() == c.plotted);
    FUZZ_CHECK(store.seriesCount() <= LineReader::MostSeries);
    for (int s = 0; s < store.seriesCount(); ++s) {
        out.names.push_back(store.name(s));
        std::vector<double> &v = out.values.emplace_back();
        qint64 lastRow = -1;
        for (qint64 p = 0; p < store.points(s); ++p) {
            const std::optional<double> value = store.value(s, p);
            FUZZ_CHECK(value && std::isfinite(*value));
            // At most one value of a series in a row, rows in order.
            FUZZ_CHECK(store.rowOf(s, p) > lastRow && store.rowOf(s, p) < store.rows());
            lastRow = store.rowOf(s, p);
            v.push_back(*value);
            const SeriesStore::Range r = store.range(s, p, p + 1);
            FUZZ_CHECK(r.min == *value && r.max == *value);
        }
    }
    for (qint64 r = 0; r < store.rows(); ++r)
        out.times.push_back(store.timeOf(r));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    static const QString patterns[] = {
        QStringLiteral("Messwert (?<n>\\d+): (?<U>[\\d,]+) V"),
        QStringLiteral("(?<a>\\S+)\\s+(?<b>\\S+)?"),
        QStringLiteral("("),
    };
    const uint8_t pick = data[0];
    ReadingChoice choice;
    choice.format = ReadingFormat(pick % 4);
    choice.separator = Separator(pick / 4 % 4);
    choice.decimal = DecimalMark(pick / 16 % 3);
    choice.pattern = patterns[pick / 48 % 3];
    const int step = 1 + data[1] % 64;
    const QByteArrayView bytes(data + 2, qsizetype(size - 2));
    const Outcome whole = read(choice, bytes, int(std::max<qsizetype>(bytes.size(), 1)));
    const Outcome pieces = read(choice, bytes, step);
    FUZZ_CHECK(whole.counts == pieces.counts);
    FUZZ_CHECK(whole.names == pieces.names);
    FUZZ_CHECK(whole.values == pieces.values);
    return 0;
}
