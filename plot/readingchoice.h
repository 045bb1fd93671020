#pragma once

#include <QString>

// How the numbers of a received line are read, as the operator chooses it.
enum class ReadingFormat : quint8 {
    Automatic,
    Pairs,   // name:value (or name=value) pairs, each name a series
    Numbers, // plain numbers, series 1, 2, … or named by a line of names
    Pattern, // a regular expression whose named groups are the series
};
enum class Separator : quint8 {
    Automatic,
    Blank, // runs of blanks and tabs
    Comma,
    Semicolon,
};
enum class DecimalMark : quint8 {
    Automatic,
    Point,
    Comma,
};

struct ReadingChoice {
    ReadingFormat format = ReadingFormat::Automatic;
    Separator separator = Separator::Automatic;
    DecimalMark decimal = DecimalMark::Automatic;
    QString pattern; // for ReadingFormat::Pattern
    bool operator==(const ReadingChoice &) const = default;
    // Nothing left to decide: a format, and for pairs and numbers a
    // separator. The decimal mark may stay Automatic: then a number takes
    // either mark, which cannot be confused where the separator is no comma
    // (beside a comma separator the mark is the point).
    bool settled() const
    {
        return format == ReadingFormat::Pattern ||
               (format != ReadingFormat::Automatic && separator != Separator::Automatic);
    }
};
