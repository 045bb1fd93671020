#include "kavrosettings.h"

#include "charsets.h"
#include "kavroerror.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace
{

// Kavro's files in the user's configuration folder, wherever the
// environment names it at that moment.
QString configFile(const QString &name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/kavro/") + name;
}

QString kavroConf()
{
    return configFile(QStringLiteral("kavro.conf"));
}

// Looked at whenever the file is opened, so that it follows the folder the
// environment names at that moment; a stat costs nothing beside QSettings.
bool setAside(const QString &conf)
{
    return QFileInfo(conf).size() > KavroSettings::LargestFile;
}

// The groups and keys, as earlier versions wrote them.
const QString Receive = QStringLiteral("Empfang");
const QString History = QStringLiteral("Verlauf");
const QString Plot = QStringLiteral("Kurven");
const QString CharsetKey = QStringLiteral("Zeichensatz");
const QString ColoursKey = QStringLiteral("Farben");

QString portGroup(qint16 port)
{
    return QStringLiteral("com%1").arg(port);
}

} // namespace

KavroSettings::KavroSettings() : m_file(path(), QSettings::IniFormat)
{
}

QString KavroSettings::path()
{
    const QString conf = kavroConf();
    if (!setAside(conf))
        return conf;
    static const QTemporaryDir own(QDir::tempPath() + QStringLiteral("/kavro-settings-XXXXXX"));
    return own.isValid() ? own.filePath(QStringLiteral("kavro.conf")) : QString();
}

QString KavroSettings::commandsPath()
{
    return configFile(QStringLiteral("commands.json"));
}

void KavroSettings::check()
{
    const QString conf = kavroConf();
    if (!setAside(conf))
        return;
    const QLocale german(QLocale::German);
    raiseError(
        Err::PathAccess,
        QStringLiteral("Die Einstellungsdatei %1 ist %2 Bytes groß, weit mehr als die "
                       "höchstens %3 Bytes, die Kavro liest. Kavro beginnt mit den "
                       "Grundeinstellungen und lässt die Datei in diesem Lauf unberührt.")
            .arg(conf, german.toString(QFileInfo(conf).size()), german.toString(LargestFile)));
}

KavroSettings::ReceiveChoices KavroSettings::receiveChoices() const
{
    const ReceiveChoices defaults;
    return {charsetNamed(m_file.value(Receive + '/' + CharsetKey).toString(), defaults.charset),
            m_file.value(Receive + '/' + ColoursKey, defaults.colours).toBool()};
}

void KavroSettings::setReceiveChoices(const ReceiveChoices &choices)
{
    m_file.setValue(Receive + '/' + CharsetKey, charsetName(choices.charset));
    m_file.setValue(Receive + '/' + ColoursKey, choices.colours);
}

KavroSettings::HistoryChoices KavroSettings::historyChoices() const
{
    const HistoryChoices defaults;
    auto value = [this](const QString &key, const QVariant &otherwise) {
        return m_file.value(History + '/' + key, otherwise);
    };
    return {.times = value(QStringLiteral("Zeit"), defaults.times).toBool(),
            .sent = value(QStringLiteral("Gesendete"), defaults.sent).toBool(),
            .hex = value(QStringLiteral("Hex"), defaults.hex).toBool(),
            .charset = charsetNamed(value(CharsetKey, {}).toString(), defaults.charset),
            .colours = value(ColoursKey, defaults.colours).toBool(),
            .searchHex = value(QStringLiteral("SucheHex"), defaults.searchHex).toBool(),
            .caseSensitive = value(QStringLiteral("GrossKlein"), defaults.caseSensitive).toBool()};
}

void KavroSettings::setHistoryChoices(const HistoryChoices &choices)
{
    auto set = [this](const QString &key, const QVariant &value) {
        m_file.setValue(History + '/' + key, value);
    };
    set(QStringLiteral("Zeit"), choices.times);
    set(QStringLiteral("Gesendete"), choices.sent);
    set(QStringLiteral("Hex"), choices.hex);
    set(CharsetKey, charsetName(choices.charset));
    set(ColoursKey, choices.colours);
    set(QStringLiteral("SucheHex"), choices.searchHex);
    set(QStringLiteral("GrossKlein"), choices.caseSensitive);
}

QByteArray KavroSettings::historyGeometry() const
{
    return m_file.value(History + QStringLiteral("/Fenster")).toByteArray();
}

void KavroSettings::setHistoryGeometry(const QByteArray &geometry)
{
    m_file.setValue(History + QStringLiteral("/Fenster"), geometry);
}

KavroSettings::PlotChoices KavroSettings::plotChoices() const
{
    return {m_file.value(Plot + QStringLiteral("/Format")).toString(),
            m_file.value(Plot + QStringLiteral("/Trennzeichen")).toString(),
            m_file.value(Plot + QStringLiteral("/Dezimalzeichen")).toString()};
}

void KavroSettings::setPlotChoices(const PlotChoices &choices)
{
    m_file.setValue(Plot + QStringLiteral("/Format"), choices.format);
    m_file.setValue(Plot + QStringLiteral("/Trennzeichen"), choices.separator);
    m_file.setValue(Plot + QStringLiteral("/Dezimalzeichen"), choices.decimal);
}

QString KavroSettings::plotPattern(int port) const
{
    return m_file.value(Plot + QStringLiteral("/Ausdruck/%1").arg(port)).toString();
}

void KavroSettings::setPlotPattern(int port, const QString &pattern)
{
    const QString key = Plot + QStringLiteral("/Ausdruck/%1").arg(port);
    if (pattern.isEmpty())
        m_file.remove(key);
    else
        m_file.setValue(key, pattern);
}

QString KavroSettings::receiveFolder() const
{
    const QString kept = m_file.value(QStringLiteral("Uebertragung/Empfangsordner")).toString();
    if (!kept.isEmpty())
        return kept;
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return downloads.isEmpty() ? QDir::homePath() : downloads;
}

void KavroSettings::setReceiveFolder(const QString &folder)
{
    m_file.setValue(QStringLiteral("Uebertragung/Empfangsordner"), folder);
}

OpenLevels KavroSettings::openLevels(qint16 port) const
{
    const OpenLevels defaults;
    const QString group = portGroup(port);
    return {m_file.value(group + QStringLiteral("/dtrOnOpen"), defaults.dtr).toBool(),
            m_file.value(group + QStringLiteral("/rtsOnOpen"), defaults.rts).toBool()};
}

void KavroSettings::setOpenLevels(qint16 port, const OpenLevels &levels)
{
    const QString group = portGroup(port);
    m_file.setValue(group + QStringLiteral("/dtrOnOpen"), levels.dtr);
    m_file.setValue(group + QStringLiteral("/rtsOnOpen"), levels.rts);
    m_file.sync();
    if (m_file.status() != QSettings::NoError)
        raiseError(Err::PathAccess,
                   QStringLiteral("Die Einstellung „Beim Öffnen“ kann nicht in %1 gespeichert "
                                  "werden")
                       .arg(m_file.fileName()));
}
