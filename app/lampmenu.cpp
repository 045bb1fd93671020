#include "lampmenu.h"

#include "linepulser.h"
#include "modemlines.h"
#include "openlevels.h"

#include <QMenu>
#include <QPointer>
#include <QTimer>

namespace
{

QString level(const std::optional<bool> &on)
{
    if (!on)
        return QStringLiteral("unbekannt");
    return *on ? QStringLiteral("an") : QStringLiteral("aus");
}

QString states(const QList<std::pair<const char *, std::optional<bool>>> &lines)
{
    QStringList parts;
    for (const auto &[name, on] : lines)
        parts.append(QStringLiteral("%1 %2").arg(QLatin1String(name), level(on)));
    return parts.join(QStringLiteral(", "));
}

} // namespace

std::function<void()> fillLineMenu(QMenu *menu, ModemControl &lines, LinePulser &pulser,
                                   std::optional<qint16> port, const LineMenuRunner &run)
{
    menu->setToolTipsVisible(true);
    QAction *reason = menu->addAction(QString());
    reason->setEnabled(false);
    QAction *dtr = menu->addAction(QStringLiteral("DTR"));
    QAction *rts = menu->addAction(QStringLiteral("RTS"));
    dtr->setCheckable(true);
    rts->setCheckable(true);
    QAction *brk = menu->addAction(QStringLiteral("Break senden"));
    QMenu *pulse = menu->addMenu(QStringLiteral("Reset-Puls"));
    QAction *pulseDtr = pulse->addAction(QStringLiteral("DTR"));
    QAction *pulseRts = pulse->addAction(QStringLiteral("RTS"));

    QMenu *onOpen = menu->addMenu(QStringLiteral("Beim Öffnen"));
    onOpen->setToolTipsVisible(true);
    QAction *openDtr = onOpen->addAction(QStringLiteral("DTR"));
    QAction *openRts = onOpen->addAction(QStringLiteral("RTS"));
    for (QAction *a : {openDtr, openRts}) {
        a->setCheckable(true);
        a->setEnabled(port.has_value());
        if (!port)
            a->setToolTip(QStringLiteral("Keine gültige Portnummer gewählt."));
    }
    auto showOpenLevels = [=] {
        if (!port)
            return;
        const OpenLevels levels = OpenLevels::load(*port);
        openDtr->setChecked(levels.dtr);
        openRts->setChecked(levels.rts);
    };
    showOpenLevels();

    menu->addSection(QStringLiteral("Eingänge (nur lesen)"));
    const char *const inputNames[] = {"CTS", "DSR", "DCD", "RI"};
    QList<QAction *> inputs;
    for (const char *name : inputNames) {
        inputs.append(menu->addAction(QLatin1String(name)));
        inputs.last()->setEnabled(false);
    }

    // Everything that changes with the port, read anew.
    auto refresh = [=, &lines, &pulser] {
        const LineAccess access = lines.lineAccess();
        const bool full = access == LineAccess::Full;
        const ModemLines now = full ? lines.lines() : ModemLines{};
        const QString refusal = lineRefusal(access);
        reason->setText(refusal);
        reason->setVisible(!full);
        const QString busy =
            pulser.busy() ? QStringLiteral("Ein Break oder Reset-Puls läuft gerade.") : QString();
        for (QAction *a : {dtr, rts, brk, pulseDtr, pulseRts}) {
            const bool timed = a != dtr && a != rts;
            a->setEnabled(full && !(timed && pulser.busy()));
            a->setToolTip(!full ? refusal : timed ? busy : QString());
        }
        pulse->setEnabled(full);
        dtr->setChecked(now.dtr.value_or(false));
        rts->setChecked(now.rts.value_or(false));
        dtr->setText(now.dtr || !full ? QStringLiteral("DTR") : QStringLiteral("DTR (unbekannt)"));
        rts->setText(now.rts || !full ? QStringLiteral("RTS") : QStringLiteral("RTS (unbekannt)"));
        const std::optional<bool> in[] = {now.cts, now.dsr, now.dcd, now.ri};
        for (int i = 0; i < 4; ++i)
            inputs[i]->setText(
                full ? QStringLiteral("%1: %2").arg(QLatin1String(inputNames[i]), level(in[i]))
                     : QLatin1String(inputNames[i]));
        for (QAction *a : std::as_const(inputs))
            a->setToolTip(refusal);
    };
    refresh();

    // A change is read back: the check shows what the line is, also after
    // the device refused. A message box lets events run while the change is
    // made; the menu may be gone by then.
    const QPointer<QMenu> alive(menu);
    auto change = [=](const std::function<void()> &what) {
        run(what);
        if (alive)
            refresh();
    };
    QObject::connect(dtr, &QAction::triggered, menu,
                     [=, &lines](bool on) { change([&] { lines.setDtr(on); }); });
    QObject::connect(rts, &QAction::triggered, menu,
                     [=, &lines](bool on) { change([&] { lines.setRts(on); }); });
    QObject::connect(brk, &QAction::triggered, menu,
                     [=, &pulser] { change([&] { pulser.sendBreak(); }); });
    QObject::connect(pulseDtr, &QAction::triggered, menu,
                     [=, &pulser] { change([&] { pulser.pulse(LinePulser::Line::Dtr); }); });
    QObject::connect(pulseRts, &QAction::triggered, menu,
                     [=, &pulser] { change([&] { pulser.pulse(LinePulser::Line::Rts); }); });
    auto keepOpenLevel = [=](bool OpenLevels::*line, bool on) {
        run([&] {
            OpenLevels levels = OpenLevels::load(*port);
            levels.*line = on;
            OpenLevels::save(*port, levels);
        });
        if (alive)
            showOpenLevels();
    };
    QObject::connect(openDtr, &QAction::triggered, menu,
                     [=](bool on) { keepOpenLevel(&OpenLevels::dtr, on); });
    QObject::connect(openRts, &QAction::triggered, menu,
                     [=](bool on) { keepOpenLevel(&OpenLevels::rts, on); });

    auto *timer = new QTimer(menu);
    timer->setInterval(LineMenuRefreshMs);
    QObject::connect(timer, &QTimer::timeout, menu, refresh);
    QObject::connect(menu, &QMenu::aboutToShow, timer, [timer, refresh] {
        refresh();
        timer->start();
    });
    QObject::connect(menu, &QMenu::aboutToHide, timer, &QTimer::stop);
    return refresh;
}

QString lineToolTip(ModemControl &lines)
{
    const LineAccess access = lines.lineAccess();
    if (access == LineAccess::NoControlLines)
        return lineRefusal(access);
    if (access != LineAccess::Full)
        return {};
    const ModemLines now = lines.lines();
    return QStringLiteral("Ausgänge: %1\nEingänge: %2")
        .arg(states({{"DTR", now.dtr}, {"RTS", now.rts}}),
             states({{"CTS", now.cts}, {"DSR", now.dsr}, {"DCD", now.dcd}, {"RI", now.ri}}));
}
