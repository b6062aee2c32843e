// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/serverconfig.h"
#include "core/sharecode.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>

class QProcess;
class QTimer;

// The friend's end of a private tunnel: a client of its own that carries only visitors, which take
// what is sent to 127.0.0.1:localPort and bring it through the server to the host's proxies named by
// a share code. TCP goes first through a visitor that tries a direct path between the two computers
// and hands the connection to one through the server's relay when none opens in time; UDP goes
// through the relay. The client is started again after it ends or loses its server, with pauses, and
// ends with this object (or the program).
class VisitorClient : public QObject
{
    Q_OBJECT

public:
    // Ready once the local port takes connections (the client writes no status of its visitors).
    enum State { Stopped, Starting, Ready };
    Q_ENUM(State)
    // What carried the last TCP connection, as far as the client's output tells.
    enum Path { PathUnknown, Direct, Relay };
    Q_ENUM(Path)

    explicit VisitorClient(QObject *parent = nullptr);
    ~VisitorClient() override;

    // Starts (or restarts) the client for code, through server, bound to 127.0.0.1:localPort.
    void start(const ShareCode &code, const ServerConfig &server, int localPort);
    void stop();

    State state() const { return m_state; }
    Path path() const { return m_path; }
    int localPort() const { return m_localPort; }
    const ShareCode &code() const { return m_code; }
    // Why the last client ended before its port took connections, in the user's words where the
    // reason is known, else its last error line (secrets hidden); empty once the port is ready.
    QString failure() const { return m_failure; }

    // The server a code names: for the built-in one the program's own entry, else the code's fields.
    static ServerConfig serverFor(const ShareCode &code);
    // The client file for code through server with its visitors bound to 127.0.0.1:localPort.
    static QString configFile(const ShareCode &code, const ServerConfig &server, int localPort);
    // A local port for code: derived from its name within [FIRST_PORT, LAST_PORT], moving on past the
    // ports in taken; 0 when every port of the range is taken.
    static int choosePort(const ShareCode &code, const QSet<int> &taken);
    // The ports on this machine that take TCP or UDP on 127.0.0.1 now.
    static QSet<int> portsInUse();

    static constexpr int FIRST_PORT = 42000;
    static constexpr int LAST_PORT = 48999;
    // How long a TCP connection waits for a direct path before it goes through the relay.
    static constexpr int FALLBACK_TIMEOUT_MS = 1000;

    // Only tests and benchmarks call this: the pause before a restart, and how often the local port is
    // looked at while the client is on its way up.
    void setPauses(int restartDelayMs, int readyPollMs);

signals:
    void stateChanged(VisitorClient::State state);
    void pathChanged(VisitorClient::Path path);
    void failureChanged();
    void logMessage(const QString &text);

private:
    void launch();
    void onFinished();
    void onOutput();
    void pollReady();
    void setState(State state);
    void setFailure(const QString &failure);
    void releaseProcess();
    QString configPath() const;
    QStringList secrets() const;

    ShareCode m_code;
    ServerConfig m_server;
    int m_localPort = 0;
    State m_state = Stopped;
    Path m_path = PathUnknown;
    QProcess *m_process = nullptr;
    QTimer *m_restartTimer = nullptr;
    QTimer *m_readyTimer = nullptr;
    QByteArray m_pendingOutput;
    QByteArray m_pendingErrors;
    QString m_lastErrorLine;
    QString m_failure;
    int m_round = 0;
    int m_restartDelayMs = -1;
    int m_readyPollMs = 5;
    QElapsedTimer m_startClock;
};
