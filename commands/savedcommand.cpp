#include "savedcommand.h"

#include "bytenames.h"
#include "codepage.h"

namespace
{
struct TerminatorName {
    TerminatorChoice choice;
    const char16_t *caption;
    const char *key;
};
// The captions of the main window's "Abschlusszeichen" options.
constexpr TerminatorName Names[] = {
    {TerminatorChoice::Window, u"wie im Fenster", "fenster"},
    {TerminatorChoice::None, u"kein Zeichen", "kein"},
    {TerminatorChoice::Cr, u"nur CR", "cr"},
    {TerminatorChoice::Lf, u"nur LF", "lf"},
    {TerminatorChoice::CrLf, u"CR / LF", "crlf"},
    {TerminatorChoice::LfCr, u"LF / CR", "lfcr"},
};
} // namespace

QString terminatorCaption(TerminatorChoice choice)
{
    return QString::fromUtf16(Names[int(choice)].caption);
}

QString terminatorKey(TerminatorChoice choice)
{
    return QLatin1String(Names[int(choice)].key);
}

std::optional<TerminatorChoice> terminatorFromKey(const QString &key)
{
    for (const TerminatorName &n : Names)
        if (key == QLatin1String(n.key))
            return n.choice;
    return std::nullopt;
}

Terminator resolved(TerminatorChoice choice, Terminator window)
{
    switch (choice) {
    case TerminatorChoice::Window:
        return window;
    case TerminatorChoice::None:
        return Terminator::None;
    case TerminatorChoice::Cr:
        return Terminator::Cr;
    case TerminatorChoice::Lf:
        return Terminator::Lf;
    case TerminatorChoice::CrLf:
        return Terminator::CrLf;
    case TerminatorChoice::LfCr:
        return Terminator::LfCr;
    }
    return window;
}

QByteArray bytesToSend(const QString &text, TerminatorChoice choice, Terminator window)
{
    return bytesFromText(commandToSend(text, resolved(choice, window)));
}

QString keyName(int key)
{
    return key >= 1 && key <= SavedCommand::Keys ? QStringLiteral("F%1").arg(key) : QString();
}

int keyNumber(const QString &name)
{
    for (int key = 1; key <= SavedCommand::Keys; ++key)
        if (name.compare(keyName(key), Qt::CaseInsensitive) == 0)
            return key;
    return 0;
}

QString readableName(const QString &text)
{
    QString name;
    for (const char byte : bytesFromText(commandToSend(text, Terminator::None))) {
        const ShownByte shown = shownAs(uchar(byte));
        name += shown.boxed ? u'<' + shown.text + u'>' : shown.text;
    }
    return name;
}
