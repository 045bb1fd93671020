#include "commandtext.h"

namespace
{
const QChar CR(13);
const QChar LF(10);
} // namespace

QString commandToSend(QString command, Terminator terminator)
{
    while (command.endsWith(CR) || command.endsWith(LF)) {
        if (command.endsWith(LF))
            command.chop(1);
        if (command.endsWith(CR))
            command.chop(1);
    }
    switch (terminator) {
    case Terminator::None:
        break;
    case Terminator::Cr:
        command += CR;
        break;
    case Terminator::Lf:
        command += LF;
        break;
    case Terminator::CrLf:
        command += CR;
        command += LF;
        break;
    case Terminator::LfCr:
        command += LF;
        command += CR;
        break;
    }
    return command;
}
