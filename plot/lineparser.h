#pragma once

#include "readingchoice.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QRegularExpression>

#include <functional>
#include <optional>
#include <vector>

// A number as devices print it: an optional sign, digits with at most one
// decimal mark ('.' or ',', or either for 0), an optional exponent, and
// nothing else (no blank, no unit). nullopt for anything else and for what
// does not fit a double.
std::optional<double> readNumber(QByteArrayView text, char mark);

// What one received line holds.
struct LineValues {
    enum Kind : quint8 {
        Text,     // no number: a board's log text, a line of names, an empty line
        Values,   // the numbers, in the form chosen
        Rejected, // numbers, but not in the form chosen (a broken or merged line)
    };
    Kind kind = Text;
    // Pairs and Pattern: the name of each value, a view into the line or the
    // pattern's group names (valid until the next read or choice).
    std::vector<QByteArrayView> names;
    std::vector<double> values;
    // A value was written with a decimal comma, with a decimal point.
    bool sawComma = false;
    bool sawPoint = false;
    void clear()
    {
        kind = Text;
        names.clear();
        values.clear();
        sawComma = sawPoint = false;
    }
};

// Reads the numbers of one line by a settled choice (ReadingChoice::settled),
// and guesses the settled choice that reads a line when parts of the choice
// are Automatic. No state but the choice: the line reader keeps what the
// lines before said.
class LineParser
{
public:
    // Must be settled; a pattern is compiled here.
    void setChoice(const ReadingChoice &choice);
    const ReadingChoice &choice() const { return m_choice; }
    // Why the pattern cannot be used (German), empty when it can.
    QString patternError() const { return m_patternError; }

    void read(QByteArrayView line, LineValues &out) const;

    // The first settled choice, within what `choice` fixes, that reads the
    // line as values; pairs before plain numbers, then the semicolon, blanks
    // and the comma as separators. nullopt when none does.
    static std::optional<ReadingChoice> guess(QByteArrayView line, const ReadingChoice &choice);
    // Whether any piece of the line between blanks, commas, semicolons,
    // colons and equals signs is a number.
    static bool hasNumber(QByteArrayView line);
    // The fields of a line as plain numbers are split, for a line of names;
    // eachField hands them over one by one while `take` says go on.
    static std::vector<QByteArrayView> fields(QByteArrayView line, Separator separator);
    static void eachField(QByteArrayView line, Separator separator,
                          const std::function<bool(QByteArrayView)> &take);
    // Whether the line has a digit at all (no number without one).
    static bool hasDigit(QByteArrayView line);

private:
    void readPattern(QByteArrayView line, LineValues &out) const;

    ReadingChoice m_choice{ReadingFormat::Numbers, Separator::Blank, DecimalMark::Automatic, {}};
    QRegularExpression m_pattern;
    QString m_patternError;
    QList<QByteArray> m_groupNames; // UTF-8, empty for unnamed groups
};
