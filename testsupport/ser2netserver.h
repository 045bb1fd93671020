#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// The real ser2net serving one device on 127.0.0.1, for tests and the
// benchmark: its config, pid file and output stay in the given folder, it
// takes one client at a time, and no UUCP lock is written anywhere.
//
//     FarEnd pty;
//     Ser2NetServer server(tempDir.path(), pty.slavePath());
//     QVERIFY2(server.start(), qPrintable(server.errorText()));
//     // connect to 127.0.0.1:server.port() ...
//     server.stop();   // the server goes away, as a rebooting one would
//     server.start();  // and comes back on the same port
class Ser2NetServer
{
public:
    enum class Accepter {
        Rfc2217, // telnet with the COM-PORT-OPTION
        RawTcp,  // bytes only
    };

    Ser2NetServer(const QString &folder, const QString &device,
                  Accepter accepter = Accepter::Rfc2217);
    ~Ser2NetServer();
    Ser2NetServer(const Ser2NetServer &) = delete;
    Ser2NetServer &operator=(const Ser2NetServer &) = delete;

    // Starts ser2net and returns once it accepts connections, false if it
    // did not within timeoutMs (errorText() says why). The first start picks
    // a free port; later ones reuse it.
    bool start(int timeoutMs = 5000);
    // Ends the server by its pid (SIGTERM), as an operator would;
    // connected clients see their connection close.
    void stop();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
    QString url() const;
    QString errorText() const { return m_error; }

    // Sets a variable in the server's environment, from its next start on
    // (LD_PRELOAD and its variable, for a test that watches the server's
    // system calls).
    void setEnvironment(const QString &name, const QString &value);

    // Whether ser2net is installed where the tests look for it.
    static bool available();

private:
    bool launch(int timeoutMs);
    bool owns(const QByteArray &inode) const;
    void kill();

    QString m_folder;
    QString m_device;
    Accepter m_accepter;
    quint16 m_port = 0;
    QProcess m_process;
    QProcessEnvironment m_environment; // set on top of the one inherited
    QString m_error;
    bool m_portTaken = false; // the last launch found another program on the port
};
