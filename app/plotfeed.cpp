#include "plotfeed.h"

#include "kavroconf.h"

#include <QSettings>

namespace
{

const QString Group = QStringLiteral("Kurven");

QString patternKey(int port)
{
    return QStringLiteral("Ausdruck/%1").arg(port);
}

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
    // The one place the plot reads kavro.conf.
    QSettings settings(kavroSettingsPath(), QSettings::IniFormat);
    settings.beginGroup(Group);
    ReadingChoice choice;
    choice.format =
        named<ReadingFormat>(formatNames(), settings.value(QStringLiteral("Format")).toString());
    choice.separator = named<Separator>(separatorNames(),
                                        settings.value(QStringLiteral("Trennzeichen")).toString());
    choice.decimal = named<DecimalMark>(
        markNames(), settings.value(QStringLiteral("Dezimalzeichen")).toString());
    choice.pattern = settings.value(patternKey(m_port)).toString();
    m_reader.setChoice(choice);
}

void PlotFeed::setChoice(const ReadingChoice &choice)
{
    if (choice == m_reader.choice())
        return;
    m_reader.setChoice(choice);
    QSettings settings(kavroSettingsPath(), QSettings::IniFormat);
    settings.beginGroup(Group);
    settings.setValue(QStringLiteral("Format"), formatNames().value(int(choice.format)));
    settings.setValue(QStringLiteral("Trennzeichen"),
                      separatorNames().value(int(choice.separator)));
    settings.setValue(QStringLiteral("Dezimalzeichen"), markNames().value(int(choice.decimal)));
    if (choice.pattern.isEmpty())
        settings.remove(patternKey(m_port));
    else
        settings.setValue(patternKey(m_port), choice.pattern);
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
