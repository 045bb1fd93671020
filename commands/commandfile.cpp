#include "commandfile.h"

#include "kavroerror.h"
#include "kavrosettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace
{
// A file's contents do not fit the format: why, in the operator's words.
struct Unfit {
    QString why;
};

QString keyOf(int key)
{
    return keyName(key);
}

QJsonObject stepToJson(const SequenceStep &s)
{
    QJsonObject o;
    switch (s.kind) {
    case SequenceStep::Send:
        o[u"art"] = QStringLiteral("senden");
        o[u"text"] = s.text;
        o[u"abschluss"] = terminatorKey(s.terminator);
        break;
    case SequenceStep::Pause:
        o[u"art"] = QStringLiteral("warten");
        o[u"ms"] = s.ms;
        break;
    case SequenceStep::WaitFor:
        o[u"art"] = QStringLiteral("warten_auf");
        o[u"text"] = s.text;
        o[u"regex"] = s.regex;
        o[u"ms"] = s.ms;
        o[u"danach"] = s.goOn ? QStringLiteral("weiter") : QStringLiteral("anhalten");
        break;
    }
    return o;
}

QString text(const QJsonObject &o, QStringView key, bool required = true)
{
    const QJsonValue v = o.value(key);
    if (v.isString())
        return v.toString();
    if (v.isUndefined() && !required)
        return {};
    throw Unfit{QStringLiteral("„%1“ ist kein Text").arg(key)};
}

int number(const QJsonObject &o, QStringView key, int fallback)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined())
        return fallback;
    const double d = v.toDouble(-1);
    if (!v.isDouble() || d != double(int(d)) || d < 0 || d > 86400000.0 * 365)
        throw Unfit{QStringLiteral("„%1“ ist keine ganze Zahl ab 0").arg(key)};
    return int(d);
}

bool flag(const QJsonObject &o, QStringView key, bool fallback)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined())
        return fallback;
    if (!v.isBool())
        throw Unfit{QStringLiteral("„%1“ ist weder true noch false").arg(key)};
    return v.toBool();
}

TerminatorChoice terminator(const QJsonObject &o)
{
    const QJsonValue v = o.value(u"abschluss");
    if (v.isUndefined())
        return TerminatorChoice::Window;
    if (const auto t = terminatorFromKey(v.toString()); v.isString() && t)
        return *t;
    throw Unfit{QStringLiteral("„abschluss“ ist keins von fenster, kein, cr, lf, crlf, lfcr")};
}

QJsonObject objectAt(const QJsonArray &a, qsizetype i)
{
    if (!a.at(i).isObject())
        throw Unfit{QStringLiteral("Eintrag %1 ist kein Objekt").arg(i + 1)};
    return a.at(i).toObject();
}

QJsonArray array(const QJsonObject &o, QStringView key)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined())
        return {};
    if (!v.isArray())
        throw Unfit{QStringLiteral("„%1“ ist keine Liste").arg(key)};
    return v.toArray();
}

SequenceStep stepFromJson(const QJsonObject &o)
{
    SequenceStep s;
    const QString kind = text(o, u"art");
    if (kind == u"senden") {
        s.text = text(o, u"text");
        s.terminator = terminator(o);
    } else if (kind == u"warten") {
        s.kind = SequenceStep::Pause;
        s.ms = number(o, u"ms", 0);
    } else if (kind == u"warten_auf") {
        s.kind = SequenceStep::WaitFor;
        s.text = text(o, u"text");
        s.regex = flag(o, u"regex", false);
        s.ms = number(o, u"ms", 0);
        const QString after = text(o, u"danach", false);
        if (!after.isEmpty() && after != u"weiter" && after != u"anhalten")
            throw Unfit{QStringLiteral("„danach“ ist weder weiter noch anhalten")};
        s.goOn = after == u"weiter";
    } else {
        throw Unfit{QStringLiteral("die Art „%1“ kennt Kavro nicht").arg(kind)};
    }
    return s;
}

SavedCommand commandFromJson(const QJsonObject &o)
{
    SavedCommand c;
    c.name = text(o, u"name");
    c.text = text(o, u"text", false);
    const QString key = text(o, u"taste", false);
    c.key = keyNumber(key);
    if (!key.isEmpty() && c.key == 0)
        throw Unfit{QStringLiteral("die Taste „%1“ gibt es nicht").arg(key)};
    c.terminator = terminator(o);
    c.periodMs = number(o, u"abstand_ms", 0);
    c.times = number(o, u"durchlaeufe", 1);
    const QJsonArray steps = array(o, u"schritte");
    for (qsizetype i = 0; i < steps.size(); ++i)
        c.steps.append(stepFromJson(objectAt(steps, i)));
    return c;
}

ReplyRule ruleFromJson(const QJsonObject &o)
{
    ReplyRule r;
    r.pattern = text(o, u"wenn");
    r.regex = flag(o, u"regex", false);
    r.reply = text(o, u"senden");
    r.terminator = terminator(o);
    r.once = flag(o, u"einmal", false);
    r.enabled = flag(o, u"an", true);
    return r;
}

// The line of a byte offset, counted from 1.
int lineOf(const QByteArray &bytes, qsizetype offset)
{
    return int(bytes.first(std::clamp<qsizetype>(offset, 0, bytes.size())).count('\n')) + 1;
}
} // namespace

QByteArray CommandFile::toJson(const CommandBook &book)
{
    QJsonArray commands;
    for (const SavedCommand &c : book.commands()) {
        QJsonObject o;
        o[u"name"] = c.name;
        o[u"text"] = c.text;
        if (c.key)
            o[u"taste"] = keyOf(c.key);
        o[u"abschluss"] = terminatorKey(c.terminator);
        if (c.periodMs)
            o[u"abstand_ms"] = c.periodMs;
        if (c.isSequence()) {
            QJsonArray steps;
            for (const SequenceStep &s : c.steps)
                steps.append(stepToJson(s));
            o[u"schritte"] = steps;
            o[u"durchlaeufe"] = c.times;
        }
        commands.append(o);
    }
    QJsonArray rules;
    for (const ReplyRule &r : book.replies())
        rules.append(QJsonObject{{QStringLiteral("wenn"), r.pattern},
                                 {QStringLiteral("regex"), r.regex},
                                 {QStringLiteral("senden"), r.reply},
                                 {QStringLiteral("abschluss"), terminatorKey(r.terminator)},
                                 {QStringLiteral("einmal"), r.once},
                                 {QStringLiteral("an"), r.enabled}});
    const QJsonObject file{
        {QStringLiteral("format"), QLatin1String(Marker)},
        {QStringLiteral("version"), Version},
        {QStringLiteral("befehle"), commands},
        {QStringLiteral("antworten"),
         QJsonObject{{QStringLiteral("an"), book.repliesOn()}, {QStringLiteral("regeln"), rules}}}};
    return QJsonDocument(file).toJson(QJsonDocument::Indented);
}

CommandFile::Read CommandFile::fromJson(const QByteArray &bytes, const QString &shownName)
{
    Read read;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        read.refusal = QStringLiteral("Die Datei „%1“ ist beschädigt: Zeile %2 ist kein "
                                      "gültiges JSON.")
                           .arg(shownName)
                           .arg(lineOf(bytes, error.offset));
        return read;
    }
    const QJsonObject file = doc.object();
    if (!doc.isObject() || file.value(u"format").toString() != QLatin1String(Marker)) {
        read.refusal =
            QStringLiteral("Die Datei „%1“ ist keine Befehlsdatei von Kavro.").arg(shownName);
        return read;
    }
    if (file.value(u"version").toInt(0) > Version) {
        read.refusal = QStringLiteral("Die Datei „%1“ stammt von einer neueren Kavro-Version "
                                      "und wird nicht gelesen.")
                           .arg(shownName);
        return read;
    }
    qsizetype at = 0;
    QString where;
    try {
        const QJsonArray commands = array(file, u"befehle");
        for (; at < commands.size(); ++at) {
            where = QStringLiteral("Befehl %1").arg(at + 1);
            const SavedCommand c = commandFromJson(objectAt(commands, at));
            where = QStringLiteral("Befehl %1 („%2“)").arg(at + 1).arg(c.name);
            if (const Verdict v = read.book.add(c); !v.ok())
                throw Unfit{v.message};
        }
        where = QStringLiteral("Antworten");
        const QJsonObject replies = file.value(u"antworten").toObject();
        read.book.setRepliesOn(flag(replies, u"an", false));
        const QJsonArray rules = array(replies, u"regeln");
        QList<ReplyRule> taken;
        for (at = 0; at < rules.size(); ++at) {
            where = QStringLiteral("Antwort %1").arg(at + 1);
            taken.append(ruleFromJson(objectAt(rules, at)));
        }
        where = QStringLiteral("Antworten");
        if (const Verdict v = read.book.setReplies(taken); !v.ok())
            throw Unfit{v.message};
    } catch (const Unfit &unfit) {
        read.book = {};
        read.refusal = QStringLiteral("Die Datei „%1“ wird nicht gelesen: %2: %3")
                           .arg(shownName, where, unfit.why);
        if (!read.refusal.endsWith(u'.'))
            read.refusal += u'.';
    }
    return read;
}

CommandFile::Read CommandFile::read(const QString &path, bool missingIsEmpty)
{
    QFile file(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!file.exists() && missingIsEmpty)
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return {{},
                QStringLiteral("Die Datei „%1“ lässt sich nicht lesen (%2).")
                    .arg(shown, file.errorString())};
    if (file.size() > LargestFile)
        return {{},
                QStringLiteral("Die Datei „%1“ ist zu groß für eine Befehlsdatei von Kavro.")
                    .arg(shown)};
    return fromJson(file.readAll(), shown);
}

void CommandFile::write(const CommandBook &book, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const bool ok =
        file.open(QIODevice::WriteOnly) && file.write(toJson(book)) >= 0 && file.commit();
    if (!ok)
        raiseError(Err::PathAccess,
                   QStringLiteral("Die Befehle können nicht in %1 gespeichert werden (%2)")
                       .arg(QDir::toNativeSeparators(path), file.errorString()));
}

CommandStore::CommandStore(QString path)
    : m_path(path.isEmpty() ? KavroSettings::commandsPath() : std::move(path))
{
    CommandFile::Read read = CommandFile::read(m_path, true);
    m_book = std::move(read.book);
    m_refusal = std::move(read.refusal);
    m_keepAside = !m_refusal.isEmpty();
}

void CommandStore::save()
{
    if (m_keepAside) {
        const QString aside = m_path + QStringLiteral(".beschädigt");
        QFile::remove(aside);
        if (!QFile::copy(m_path, aside) && QFile::exists(m_path))
            raiseError(Err::PathAccess,
                       QStringLiteral("Die Befehle werden nicht gespeichert: die Datei %1, die "
                                      "Kavro nicht lesen konnte, lässt sich nicht nach %2 "
                                      "sichern")
                           .arg(QDir::toNativeSeparators(m_path), QDir::toNativeSeparators(aside)));
        m_keepAside = false;
    }
    CommandFile::write(m_book, m_path);
}

QString CommandStore::import(const QString &file)
{
    CommandFile::Read read = CommandFile::read(file, false);
    if (!read.ok())
        return read.refusal;
    const CommandBook before = std::exchange(m_book, std::move(read.book));
    try {
        save();
    } catch (...) {
        m_book = before;
        throw;
    }
    return {};
}
