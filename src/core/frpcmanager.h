// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/serverconfig.h"
#include "core/sharecode.h"
#include "core/tunnel.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class FrpcManagerPrivate;

// Runs one connection at a time by driving the external frpc client: writes its configuration file,
// starts and supervises the process, learns the assigned remote ports from the client's web API
// and restarts the client when an established connection drops. One client carries every tunnel of
// the connection (up to Tunnel::MAX_TUNNELS); tunnels are added, changed and removed while it runs by
// rewriting the file and asking the client to reload it. The first tunnel is "the" tunnel of the
// single-tunnel functions and signals.
class FrpcManager : public QObject
{
    Q_OBJECT

public:
    enum Status { Stopped, Starting, Running, Stopping, Error };
    // What happens to an established tunnel, for those who tell the user about it.
    enum TunnelEvent {
        // A new tunnel is up on its first port.
        TunnelEstablished,
        // The tunnel that was up dropped; the controller is bringing it back.
        TunnelLost,
        // The tunnel is up again after a loss, on the port given.
        TunnelRestored,
        // The tunnel stayed up, and the server now names another port.
        TunnelPortChanged,
    };
    Q_ENUM(TunnelEvent)
    // Why a connection on its way up (status Starting) waits instead of failing: the system has no
    // network (or no way to the server), or the server does not take the connection yet.
    enum WaitReason { NotWaiting, WaitingForNetwork, WaitingForServer };
    Q_ENUM(WaitReason)

    explicit FrpcManager(QObject *parent = nullptr);
    ~FrpcManager() override;

    // Publishes localPort over TCP, or the protocol given.
    void start(const ServerConfig &config, int localPort, Tunnel::Protocol protocol = Tunnel::Tcp);
    // Publishes every tunnel (the first Tunnel::MAX_TUNNELS of them) through one client.
    void start(const ServerConfig &config, const QList<Tunnel> &tunnels);
    void stop();

    // Changes the tunnels of the connection; while a client runs it is asked to reload its file (an
    // older client that cannot is restarted), and the other tunnels keep their ports and connections.
    // addTunnel returns the new tunnel's index, or -1 when Tunnel::MAX_TUNNELS run already. The first tunnel
    // cannot be removed. An index out of range changes nothing and returns false.
    int addTunnel(const Tunnel &tunnel);
    bool changeTunnel(int index, const Tunnel &tunnel);
    bool removeTunnel(int index);
    // The tunnels of the connection last started, with what is known of each.
    QList<TunnelState> tunnelStates() const;
    // What a friend needs to reach tunnel index while it is private; none for a public tunnel or an
    // index out of range.
    std::optional<ShareCode> shareCode(int index) const;
    // Draws a new secret for private tunnel index and has the running client take it at once: the code
    // handed out before stops working. Returns whether the tunnel is private.
    bool renewShareCode(int index);
    // The name the host gives private tunnel index in its code (kept in the settings).
    void setShareLabel(int index, const QString &label);

    Status status() const;
    QString remotePort() const;
    QString errorMessage() const;
    // The protocol of the first tunnel last started; reconnections keep it.
    Tunnel::Protocol protocol() const;

    // A connection this program makes to the public address of tunnel (0: the first), to check that it
    // can be reached, is on its way. When nothing listens on the local port the client reports it like
    // a visitor that reached nothing; that report is not a visitor's and is passed over (once per
    // connection, within OWN_VISIT_WINDOW_MS). Each tunnel's proxy has its own count.
    void expectOwnVisit(int tunnel = 0);
    // Such a connection never reached the server: no report is to come for it.
    void withdrawOwnVisit(int tunnel = 0);

    static constexpr int MAX_RECONNECT_ATTEMPTS = 5;
    static constexpr int RECONNECT_DELAY_MS = 3000;
    static constexpr int QUERY_INTERVAL_MS = 2000;
    // How soon after the client wrote something its status is asked for.
    static constexpr int OUTPUT_QUERY_DELAY_MS = 50;
    // The check's connection takes up to 3 s, the client's connection to the local port up to 10 s.
    static constexpr int OWN_VISIT_WINDOW_MS = 15000;

    // What the connection waits for; NotWaiting unless the status is Starting.
    WaitReason waitReason() const;
    // After WAIT_HINT_MS of waiting for the same server: its address and why it cannot be reached, so that
    // a mistyped address is not taken for a slow network. Empty otherwise.
    QString waitHint() const;

    // The pauses between the attempts of a waiting connection: 1, 2 and 4 s, then 5 s each.
    static int waitPauseMs(int round);
    static constexpr int WAIT_HINT_MS = 30000;

    // Only tests and benchmarks call these; the program keeps the times above.
    // Shortens the pause before a client is restarted, the interval of the status queries and the
    // delay of the query after output, so that a benchmark can drive many drops and restarts in
    // little time.
    void setPauses(int restartDelayMs, int queryIntervalMs, int outputQueryDelayMs);
    // Shortens the time the check's own visit is expected.
    void setOwnVisitWindow(int milliseconds);

signals:
    void statusChanged(FrpcManager::Status status);
    void remotePortReady(const QString &port);
    void logMessage(const QString &msg);
    void errorOccurred(const QString &error);
    // Emitted just before the state change (lost) or the port report (the others) it goes with.
    void tunnelEvent(FrpcManager::TunnelEvent event, const QString &port);
    // The tunnel came up and no program listens on its local port (true), or the hint no longer
    // holds: a program listens now, or the tunnel ended (false).
    void localServiceHintChanged(bool nobodyListens);
    // What is known of the tunnels changed: a port came or went, a proxy was refused, a tunnel was
    // added, changed or removed, the hint of one changed.
    void tunnelsChanged();
    // The wait reason or the wait hint changed.
    void waitingChanged(FrpcManager::WaitReason reason);

private:
    friend class FrpcManagerPrivate;
    // The phases of the connection, the client, its proxies and the queries.
    FrpcManagerPrivate *const d;
};
