#include "plotfeed.h"

#include "kavrosettings.h"

namespace
{

template <class E> E named(const QStringList &names, const QString &name)
{
    const qsizetype at = names.indexOf(name);
    return at < 0 ? E{} : E(at);
}

} // namespace

PlotFeed::PlotFeed(QObject *parent) : QObject(parent)
{
    readChoice();
}

QStringList PlotFeed::formatNames()
{
    return {QStringLiteral("Automatisch"), QStringLiteral("Name:Wert"), QStringLiteral("Zahlen"),
            QStringLiteral("Regulärer Ausdruck")};
}

QStringList PlotFeed::separatorNames()
{
    return {QStringLiteral("Automatisch"), QStringLiteral("Leerzeichen/Tab"),
            QStringLiteral("Komma"), QStringLiteral("Semikolon")};
}

QStringList PlotFeed::markNames()
{
    return {QStringLiteral("Automatisch"), QStringLiteral("Punkt"), QStringLiteral("Komma")};
}

void PlotFeed::readChoice()
{
    const KavroSettings settings;
    const KavroSettings::PlotChoices kept = settings.plotChoices();
    ReadingChoice choice;
    choice.format = named<ReadingFormat>(formatNames(), kept.format);
    choice.separator = named<Separator>(separatorNames(), kept.separator);
    choice.decimal = named<DecimalMark>(markNames(), kept.decimal);
    choice.pattern = settings.plotPattern(m_port);
    m_reader.setChoice(choice);
}

void PlotFeed::setChoice(const ReadingChoice &choice)
{
    if (choice == m_reader.choice())
        return;
    m_reader.setChoice(choice);
    KavroSettings settings;
    settings.setPlotChoices({formatNames().value(int(choice.format)),
                             separatorNames().value(int(choice.separator)),
                             markNames().value(int(choice.decimal))});
    settings.setPlotPattern(m_port, choice.pattern);
}

void PlotFeed::take(QByteArrayView bytes, qint64 time) noexcept
{
    try {
        m_reader.feed(bytes, time);
    } catch (...) {
        // Out of memory in the middle of a line: the plot misses it, the
        // history and the capture do not.
    }
}

void PlotFeed::portOpened(int port)
{
    m_port = port;
    m_reader.sessionStarted();
    // What Automatic settled on was for the device before; the pattern is
    // this port number's.
    readChoice();
}

void PlotFeed::portClosed()
{
    m_reader.sessionEnded();
}
