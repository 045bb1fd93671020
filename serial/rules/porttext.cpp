#include "porttext.h"

#include "kavroerror.h"

QString trimSpaces(const QString &text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from] == QLatin1Char(' '))
        ++from;
    while (to > from && text[to - 1] == QLatin1Char(' '))
        --to;
    return text.mid(from, to - from);
}

qint16 portNumber(const QString &text)
{
    const QString t = trimSpaces(text);
    qsizetype i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
        ++i;
    const auto noNumber = [&t] {
        raiseError(Err::TypeMismatch, QStringLiteral("„%1“ ist keine Portnummer").arg(t));
    };
    if (i == t.size())
        noNumber();
    for (qsizetype j = i; j < t.size(); ++j) {
        if (t[j] < QLatin1Char('0') || t[j] > QLatin1Char('9'))
            noNumber();
    }
    bool ok = false;
    const qlonglong n = t.toLongLong(&ok);
    if (!ok || n < -32768 || n > 32767)
        raiseError(Err::Overflow,
                   QStringLiteral("Die Portnummer %1 liegt außerhalb von -32768 bis 32767").arg(t));
    return qint16(n);
}
