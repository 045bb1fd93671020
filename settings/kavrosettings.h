#pragma once

#include "linedecoder.h"
#include "openlevels.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

// kavro.conf, where the operator's choices are kept between runs:
// $XDG_CONFIG_HOME/kavro/kavro.conf (normally ~/.config/kavro/kavro.conf), in
// QSettings' ini format. This class is the only one that opens it: it knows
// the file's path, every group and key in it and what each one is when the
// file does not say. The keys are German and grouped by the control they
// belong to, as earlier versions wrote them, so a file from then reads the
// same.
//
// An object opens the file the environment names at that moment and writes
// what it was told when it goes; make one where a choice is read or kept,
// not one for the life of the program, so every reader sees the last write.
//
// Kavro writes a few hundred bytes there. QSettings reads a file whole, so a
// far larger one (damaged, or filled by something else) would cost seconds
// and hundreds of megabytes at every start, and again at every choice saved.
// While kavro.conf is that large it is set aside: the run starts with the
// defaults and keeps the choices made meanwhile in a file of its own, removed
// when the run ends, and neither reads nor changes kavro.conf.
class KavroSettings
{
public:
    // The most kavro.conf may hold to be used.
    static constexpr qint64 LargestFile = qint64(1) << 20;

    // The receive box ("Empfang"): its character set and whether colour
    // sequences are shown. Bytes as they are by default. A character set is
    // kept by the name the operator picks it by; one this version does not
    // know reads as the default.
    struct ReceiveChoices {
        Charset charset = Charset::Windows1252;
        bool colours = false;

        friend bool operator==(const ReceiveChoices &, const ReceiveChoices &) = default;
    };

    // The history window ("Verlauf"): its columns, view and search.
    struct HistoryChoices {
        bool times = true;
        bool sent = true;
        bool hex = false;
        Charset charset = Charset::Automatic;
        bool colours = true;
        bool searchHex = false;
        bool caseSensitive = false;

        friend bool operator==(const HistoryChoices &, const HistoryChoices &) = default;
    };

    KavroSettings();

    ReceiveChoices receiveChoices() const;
    void setReceiveChoices(const ReceiveChoices &choices);

    HistoryChoices historyChoices() const;
    void setHistoryChoices(const HistoryChoices &choices);
    // The history window's place and size as QWidget::saveGeometry() gives
    // it; empty when none was kept.
    QByteArray historyGeometry() const;
    void setHistoryGeometry(const QByteArray &geometry);

    // How the plot ("Kurven") reads lines: the format, separator and decimal
    // mark by the names the operator picks them by (empty: not chosen yet),
    // and the regular expression kept for each port number.
    struct PlotChoices {
        QString format;
        QString separator;
        QString decimal;

        friend bool operator==(const PlotChoices &, const PlotChoices &) = default;
    };
    PlotChoices plotChoices() const;
    void setPlotChoices(const PlotChoices &choices);
    QString plotPattern(int port) const;
    // An empty pattern is forgotten.
    void setPlotPattern(int port, const QString &pattern);

    // The folder received files go into ("Datei empfangen…", and ZMODEM's
    // start by itself): the one last chosen, or the user's download folder.
    QString receiveFolder() const;
    void setReceiveFolder(const QString &folder);

    // "Beim Öffnen" of a port number.
    OpenLevels openLevels(qint16 port) const;
    // Written at once; throws KavroError when the file cannot be written.
    void setOpenLevels(qint16 port, const OpenLevels &levels);

    // The file opened now: kavro.conf, or this run's own while kavro.conf is
    // set aside.
    static QString path();
    // The saved commands beside it: $XDG_CONFIG_HOME/kavro/commands.json.
    static QString commandsPath();
    // Throws KavroError when kavro.conf is set aside, telling the operator
    // why and what the run does instead; nothing when it is used.
    static void check();

private:
    QSettings m_file;
};
