#include "charsets.h"

QString charsetName(Charset charset)
{
    switch (charset) {
    case Charset::Windows1252:
        return QStringLiteral("Windows-1252");
    case Charset::Utf8:
        return QStringLiteral("UTF-8");
    case Charset::Automatic:
        break;
    }
    return QStringLiteral("Automatisch");
}

QStringList charsetNames()
{
    return {charsetName(Charset::Automatic), charsetName(Charset::Utf8),
            charsetName(Charset::Windows1252)};
}

Charset charsetNamed(const QString &name, Charset otherwise)
{
    for (const Charset c : {Charset::Automatic, Charset::Utf8, Charset::Windows1252}) {
        if (name == charsetName(c))
            return c;
    }
    return otherwise;
}
