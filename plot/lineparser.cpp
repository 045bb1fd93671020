#include "lineparser.h"

#include "codepage.h"

#include <QStringDecoder>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace
{

constexpr qsizetype LongestNumber = 64;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

QByteArrayView trimmed(QByteArrayView s)
{
    while (!s.isEmpty() && isBlank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && isBlank(s.back()))
        s.chop(1);
    return s;
}

char separatorChar(Separator separator)
{
    return separator == Separator::Comma ? ',' : separator == Separator::Semicolon ? ';' : ' ';
}

// The mark numbers are read with: beside a comma separator the point.
char markOf(const ReadingChoice &choice)
{
    if (choice.decimal == DecimalMark::Point || choice.separator == Separator::Comma)
        return '.';
    return choice.decimal == DecimalMark::Comma ? ',' : 0;
}

// One value read into out; which mark it had noted.
bool take(QByteArrayView text, char mark, LineValues &out)
{
    const std::optional<double> v = readNumber(text, mark);
    if (!v)
        return false;
    out.values.push_back(*v);
    for (const char c : text) {
        out.sawComma |= c == ',';
        out.sawPoint |= c == '.';
    }
    return true;
}

// A guess only asks whether a line reads as values: it stops at the first
// piece that does not, and leaves Text and Rejected apart (Rejected).
enum class Asked { Kind, ValuesOnly };

void finish(QByteArrayView line, bool bad, LineValues &out, Asked asked)
{
    if (!bad && !out.values.empty()) {
        out.kind = LineValues::Values;
        return;
    }
    out.kind = asked == Asked::ValuesOnly || LineParser::hasNumber(line) ? LineValues::Rejected
                                                                         : LineValues::Text;
    out.names.clear();
    out.values.clear();
}

void readNumbers(QByteArrayView line, Separator separator, char mark, LineValues &out, Asked asked)
{
    bool bad = false;
    LineParser::eachField(line, separator, [&](QByteArrayView field) {
        bad |= !take(field, mark, out);
        return !bad || asked == Asked::Kind;
    });
    finish(line, bad, out, asked);
}

void readPairs(QByteArrayView line, Separator separator, char mark, LineValues &out, Asked asked)
{
    const char sep = separatorChar(separator);
    auto isSeparator = [&](char c) {
        return separator == Separator::Blank ? isBlank(c) : c == sep;
    };
    bool bad = false;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n && !(bad && asked == Asked::ValuesOnly)) {
        while (i < n && (isBlank(line[i]) || isSeparator(line[i])))
            ++i;
        if (i == n)
            break;
        const qsizetype nameFrom = i;
        while (i < n && line[i] != ':' && line[i] != '=' && !isSeparator(line[i]))
            ++i;
        const QByteArrayView name = trimmed(line.sliced(nameFrom, i - nameFrom));
        if (i == n || isSeparator(line[i]) || name.isEmpty()) {
            // A piece without its name or its mark.
            bad = true;
            while (i < n && !isSeparator(line[i]))
                ++i;
            continue;
        }
        ++i; // the mark
        while (i < n && isBlank(line[i]))
            ++i;
        const qsizetype valueFrom = i;
        while (i < n && !isSeparator(line[i]))
            ++i;
        if (!take(trimmed(line.sliced(valueFrom, i - valueFrom)), mark, out)) {
            bad = true;
            continue;
        }
        // A name twice in one line is two lines run together.
        for (const QByteArrayView other : out.names)
            bad |= other == name;
        out.names.push_back(name);
    }
    finish(line, bad, out, asked);
}

QString lineText(QByteArrayView line)
{
    // UTF-8 where the line is that, else the code page, as the receive box
    // shows the bytes.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(line);
    return utf8.hasError() ? textFromBytes(line) : text;
}

} // namespace

std::optional<double> readNumber(QByteArrayView text, char mark)
{
    const qsizetype n = text.size();
    if (n == 0 || n > LongestNumber)
        return std::nullopt;
    char buffer[LongestNumber + 1];
    int k = 0;
    qsizetype i = 0;
    if (text[0] == '+' || text[0] == '-') {
        if (text[0] == '-')
            buffer[k++] = '-';
        ++i;
    }
    int digits = 0;
    for (; i < n && isDigit(text[i]); ++i, ++digits)
        buffer[k++] = text[i];
    if (i < n && (mark ? text[i] == mark : text[i] == '.' || text[i] == ',')) {
        buffer[k++] = '.';
        for (++i; i < n && isDigit(text[i]); ++i, ++digits)
            buffer[k++] = text[i];
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        buffer[k++] = 'e';
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            buffer[k++] = text[i++];
        int exponent = 0;
        for (; i < n && isDigit(text[i]); ++i, ++exponent)
            buffer[k++] = text[i];
        if (exponent == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(buffer, buffer + k, value);
    if (error != std::errc() || end != buffer + k || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void LineParser::eachField(QByteArrayView line, Separator separator,
                           const std::function<bool(QByteArrayView)> &take)
{
    line = trimmed(line);
    if (line.isEmpty())
        return;
    if (separator == Separator::Blank || separator == Separator::Automatic) {
        qsizetype i = 0;
        while (i < line.size()) {
            const qsizetype from = i;
            while (i < line.size() && !isBlank(line[i]))
                ++i;
            if (!take(line.sliced(from, i - from)))
                return;
            while (i < line.size() && isBlank(line[i]))
                ++i;
        }
        return;
    }
    const char sep = separatorChar(separator);
    qsizetype from = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == sep) {
            const QByteArrayView field = trimmed(line.sliced(from, i - from));
            // Many devices end every line with the separator.
            if (i == line.size() && field.isEmpty() && from > 0)
                return;
            if (!take(field))
                return;
            from = i + 1;
        }
    }
}

std::vector<QByteArrayView> LineParser::fields(QByteArrayView line, Separator separator)
{
    std::vector<QByteArrayView> out;
    eachField(line, separator, [&out](QByteArrayView field) {
        out.push_back(field);
        return true;
    });
    return out;
}

bool LineParser::hasDigit(QByteArrayView line)
{
    return std::any_of(line.begin(), line.end(), isDigit);
}

bool LineParser::hasNumber(QByteArrayView line)
{
    qsizetype i = 0;
    const qsizetype n = line.size();
    auto splits = [](char c) { return isBlank(c) || c == ',' || c == ';' || c == ':' || c == '='; };
    while (i < n) {
        while (i < n && splits(line[i]))
            ++i;
        const qsizetype from = i;
        while (i < n && !splits(line[i]))
            ++i;
        if (i > from && readNumber(line.sliced(from, i - from), '.'))
            return true;
    }
    return false;
}

void LineParser::setChoice(const ReadingChoice &choice)
{
    Q_ASSERT(choice.settled());
    m_choice = choice;
    m_patternError.clear();
    m_groupNames.clear();
    if (choice.format != ReadingFormat::Pattern)
        return;
    m_pattern.setPattern(choice.pattern);
    if (!m_pattern.isValid()) {
        m_patternError = QStringLiteral("Fehler im regulären Ausdruck an Stelle %1: %2")
                             .arg(m_pattern.patternErrorOffset() + 1)
                             .arg(m_pattern.errorString());
        return;
    }
    m_pattern.optimize();
    for (const QString &name : m_pattern.namedCaptureGroups())
        m_groupNames.append(name.toUtf8());
    bool named = false;
    for (const QByteArray &name : m_groupNames)
        named |= !name.isEmpty();
    if (!named)
        m_patternError = QStringLiteral("Der reguläre Ausdruck hat keine benannte Gruppe, etwa "
                                        "(?<U>[\\d,]+).");
}

void LineParser::read(QByteArrayView line, LineValues &out) const
{
    out.clear();
    switch (m_choice.format) {
    case ReadingFormat::Pattern:
        return readPattern(line, out);
    case ReadingFormat::Pairs:
        return readPairs(line, m_choice.separator, markOf(m_choice), out, Asked::Kind);
    case ReadingFormat::Numbers:
    case ReadingFormat::Automatic:
        return readNumbers(line, m_choice.separator, markOf(m_choice), out, Asked::Kind);
    }
}

void LineParser::readPattern(QByteArrayView line, LineValues &out) const
{
    if (!m_patternError.isEmpty())
        return;
    const QRegularExpressionMatch match = m_pattern.match(lineText(line));
    if (!match.hasMatch())
        return; // text of another kind
    const char mark = markOf(m_choice);
    bool bad = false;
    for (int group = 1; group < m_groupNames.size(); ++group) {
        if (m_groupNames[group].isEmpty() || !match.hasCaptured(group))
            continue;
        const QByteArray text = match.capturedView(group).toLatin1();
        if (!take(trimmed(text), mark, out)) {
            bad = true;
            continue;
        }
        out.names.push_back(m_groupNames[group]);
    }
    if (bad || out.values.empty()) {
        // The line is of the kind the pattern describes, but a group holds
        // no number.
        out.kind = bad ? LineValues::Rejected : LineValues::Text;
        out.names.clear();
        out.values.clear();
        return;
    }
    out.kind = LineValues::Values;
}

std::optional<ReadingChoice> LineParser::guess(QByteArrayView line, const ReadingChoice &choice)
{
    if (choice.settled())
        return choice;
    if (!hasDigit(line))
        return std::nullopt;
    const bool hasMark = line.contains(':') || line.contains('=');
    LineValues values;
    for (const ReadingFormat format : {ReadingFormat::Pairs, ReadingFormat::Numbers}) {
        if (choice.format != ReadingFormat::Automatic && choice.format != format)
            continue;
        if (format == ReadingFormat::Pairs && !hasMark)
            continue;
        for (const Separator separator :
             {Separator::Semicolon, Separator::Blank, Separator::Comma}) {
            if (choice.separator != Separator::Automatic && choice.separator != separator)
                continue;
            if (separator != Separator::Blank && !line.contains(separatorChar(separator)))
                continue;
            // A comma cannot be both.
            if (separator == Separator::Comma && choice.decimal == DecimalMark::Comma)
                continue;
            const ReadingChoice candidate{format, separator, choice.decimal, {}};
            values.clear();
            if (format == ReadingFormat::Pairs)
                readPairs(line, separator, markOf(candidate), values, Asked::ValuesOnly);
            else
                readNumbers(line, separator, markOf(candidate), values, Asked::ValuesOnly);
            if (values.kind == LineValues::Values)
                return candidate;
        }
    }
    return std::nullopt;
}
