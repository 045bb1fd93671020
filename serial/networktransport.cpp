#include "networktransport.h"

#include "devicereturn.h"
#include "networkredial.h"

NetworkTransport::NetworkTransport(const PortSetup &setup, QObject *parent)
    : PortTransport(setup, parent)
{
    connect(&m_line, &NetworkLine::readyRead, this, &PortTransport::readyRead);
    // A call again after a dropped connection is NetworkRedial's.
    connect(&m_line, &NetworkLine::opened, this, [this] {
        if (std::exchange(m_opening, false))
            Q_EMIT opened();
    });
    connect(&m_line, &NetworkLine::refused, this, [this](int number, const QString &description) {
        if (std::exchange(m_opening, false))
            Q_EMIT refused(KavroError(number, description));
    });
    connect(&m_line, &NetworkLine::lineAnswered, this, &PortTransport::lineAnswered);
    connect(&m_line, &NetworkLine::controlAnswered, this,
            [this](Rfc2217Client::Control asked, bool asWanted) {
                using C = Rfc2217Client::Control;
                if (!asWanted)
                    Q_EMIT failed(KavroError(
                        Err::PortIo,
                        lineRefusedText(asked == C::DtrOn || asked == C::DtrOff ? ModemOutput::Dtr
                                                                                : ModemOutput::Rts,
                                        asked == C::DtrOn || asked == C::RtsOn, m_target,
                                        QStringLiteral("der Server meldet sie unverändert"))));
                Q_EMIT linesAnswered();
            });
    connect(&m_line, &NetworkLine::dropped, this, [this] {
        Q_EMIT lost(Err::PortGone,
                    QStringLiteral("Die Verbindung zu %1 ist abgebrochen").arg(m_target));
    });
}

NetworkTransport::~NetworkTransport()
{
    close();
}

bool NetworkTransport::open(const QString &target)
{
    m_line.setAddress(*NetworkAddress::parse(target));
    m_line.setOpenLevels(m_setup.openLevels());
    m_target = target;
    m_opening = true;
    m_line.begin(m_setup.settings);
    return false;
}

void NetworkTransport::close()
{
    m_opening = false;
    delete std::exchange(m_redial, nullptr);
    m_line.close();
}

bool NetworkTransport::write(const QByteArray &bytes)
{
    return m_line.write(bytes) == bytes.size();
}

bool NetworkTransport::setLine(const LineSettings &settings, const QString &)
{
    return !m_line.setLine(settings);
}

ModemLines NetworkTransport::lines()
{
    const Rfc2217Client::Lines &said = m_line.controlLines();
    ModemLines now{said.dtr, said.rts, {}, {}, {}, {}};
    if (const std::optional<quint8> state = said.modemState) {
        now.cts = bool(*state & Rfc2217Client::ModemCts);
        now.dsr = bool(*state & Rfc2217Client::ModemDsr);
        now.dcd = bool(*state & Rfc2217Client::ModemDcd);
        now.ri = bool(*state & Rfc2217Client::ModemRi);
    }
    return now;
}

void NetworkTransport::setOutput(ModemOutput line, bool on)
{
    using C = Rfc2217Client::Control;
    static const C controls[3][2] = {
        {C::DtrOff, C::DtrOn}, {C::RtsOff, C::RtsOn}, {C::BreakOff, C::BreakOn}};
    m_line.setControl(controls[int(line)][on]);
}

QString NetworkTransport::awaitReturn(const QString &linkPath)
{
    m_line.close();
    delete std::exchange(m_redial, nullptr);
    m_line.setOpenLevels(m_setup.openLevels());
    m_redial = new NetworkRedial(m_line, m_setup.settings, this);
    connect(m_redial, &NetworkRedial::returned, this, [this] {
        // Let go of from inside its own signal: it goes once that has returned.
        std::exchange(m_redial, nullptr)->deleteLater();
        Q_EMIT returned(m_target);
    });
    connect(m_redial, &NetworkRedial::refused, this, [this, linkPath](int number) {
        Q_EMIT awayChanged(number == Err::PortInUse ? takenMeanwhileText(m_target, true)
                                                    : awayText(m_target, linkPath, true));
    });
    return awayText(m_target, linkPath, true);
}
