#pragma once

#include <QString>

#include <functional>
#include <optional>

class LinePulser;
class ModemControl;
class QMenu;

// Runs one handler of the menu; the window passes its error reporter's run(),
// so that a refused change is told once and the menu stays usable.
using LineMenuRunner = std::function<void(const std::function<void()> &)>;

// Fills the lamp's context menu with the port's lines:
//
//     DTR, RTS               checkable, as the device reports them
//     Break senden           a break of 250 ms
//     Reset-Puls ▸ DTR, RTS  that line off for 100 ms, then on
//     Beim Öffnen ▸ DTR, RTS whether the next opening of `port` raises them
//     Eingänge: CTS, DSR, DCD, RI, read only
//
// While the menu is open its entries follow the lines (four times a second).
// Entries that need an open port are disabled while it is closed, its device
// away or it is a tcp:// port, with the reason on top and in their tooltips.
// "Beim Öffnen" works at any time; it is disabled only when `port` is empty
// (no port number chosen). Returns what reads the lines anew into the menu,
// for whoever learns of a change first (a serial server's answer).
std::function<void()> fillLineMenu(QMenu *menu, ModemControl &lines, LinePulser &pulser,
                                   std::optional<qint16> port, const LineMenuRunner &run);

// How often the open menu looks at the lines.
constexpr int LineMenuRefreshMs = 250;

// The lamp's tooltip lines for the lines of an open port ("Ausgänge: DTR an,
// RTS aus" and "Eingänge: CTS an, DSR aus, DCD aus, RI aus"); on a tcp://
// port that it has none; empty while closed or away.
QString lineToolTip(ModemControl &lines);
