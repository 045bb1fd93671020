#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// Waits for the device of an open port that went away (a board reset, an
// adapter pulled and plugged in again) and opens it again when it is back.
// Looking costs nothing while nothing changes: the folders where the device
// and its link appear are watched, with a slow look once a second for what no
// folder tells (another program letting go of the device, the system granting
// access a moment after the device appeared, a pseudo-terminal coming back,
// since /dev/pts is not watched).
class DeviceReturn : public QObject
{
    Q_OBJECT
public:
    // device: the path it was opened by; linkPath: the com<n> link it was
    // found by, or empty. reopen: opens the device found, throwing KavroError
    // when it cannot be had.
    DeviceReturn(const QString &device, const QString &linkPath,
                 std::function<void(const QString &)> reopen, QObject *parent = nullptr);

    // What the operator is told meanwhile.
    const QString &about() const { return m_about; }

    // Looks now; once the device is back, nothing more.
    void look();

Q_SIGNALS:
    void aboutChanged(const QString &about);
    // The device is open again, under this path.
    void returned(const QString &device);
    // A look was taken and the device is still away.
    void looked();

private:
    void lookSoon();
    void watchFolders();
    QString returnedDevice() const;
    bool strangerTerminal(const QString &target) const;
    quint64 linkStamp() const;

    const QString m_device;
    const QString m_linkPath;
    const std::function<void(const QString &)> m_reopen;
    const quint64 m_lostLinkStamp;
    QString m_about;
    bool m_returned = false;
    QFileSystemWatcher m_watcher;
    QTimer m_slowLook;
};

// What the operator is told while a device or a server is away, and while a
// device is back but another program has it.
QString awayText(const QString &device, const QString &linkPath, bool network);
QString takenMeanwhileText(const QString &device, bool network);
