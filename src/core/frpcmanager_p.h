// SPDX-License-Identifier: Apache-2.0
#pragma once

// The tunnel controller's own workings, for its implementation files only.
#include "core/frpcmanager.h"
#include "core/serverconfig.h"
#include "core/sharecode.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

class ConnectivityWatch;
class LocalListenerWatch;
class QNetworkAccessManager;
class QNetworkRequest;
class QTimer;

// What FrpcManager is made of: the client process, its file, the phases of the connection and the
// proxies of its tunnels. A child of the controller, whose signals it emits.
class FrpcManagerPrivate : public QObject
{
public:
    explicit FrpcManagerPrivate(FrpcManager *controller);
    ~FrpcManagerPrivate() override;

    QList<TunnelState> tunnelStates() const;

    // What the client and its replies tell.
    void onProcessStarted();
    void onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onProcessError(QProcess::ProcessError error);
    void onProcessOutput();
    void queryRemotePort();
    void onQueryFinished();
    void onReconnectTimeout();
    void onReloadFinished();
    // A client that could not reach its server ended, or a tunnel lost its network: the connection waits
    // for the next attempt. restoring: the tunnel had been up.
    void startWaiting(FrpcManager::WaitReason reason, const QString &cause, bool restoring);
    // The next attempt of a waiting connection, now.
    void tryAgainNow();
    // The server was reached, or the connection ended: the wait is over.
    void endWaiting(const QString &logText);
    void onOfflineChanged();
    // Follows the system's network and wake-ups from the first connection on.
    void followConnectivity();
    // Whether the system reports no network.
    bool offline() const;
    QNetworkAccessManager *networkManager();
    // Emits waitingChanged when the reason changed.
    void announceWaiting();

    // Where the tunnel is. Each phase has one public status and its own set of running timers.
    enum class Phase {
        // No tunnel (status Stopped).
        Idle,
        // The client of a new tunnel runs, its port not yet known (Starting).
        Launching,
        // The tunnel is established on m_remotePort (Running).
        Up,
        // The client of a tunnel that was up still runs but has lost its server (Starting).
        Recovering,
        // The client of a tunnel that was up has ended; another starts after a pause (Starting).
        Restarting,
        // A client started to bring back a tunnel that was up, its port not yet known (Starting).
        Relaunching,
        // No client: the server could not be reached, and the next attempt comes after a pause, or
        // as soon as the system reports a chance to reach it (Starting).
        Waiting,
        // The client was asked to end (Stopping).
        Stopping,
        // The tunnel failed and stays so until the next start or stop (Error).
        Failed,
    };
    // What is said when a phase is entered for a failure: a log line and the error shown to the user.
    struct Failure
    {
        QString logText;
        QString error;
        // Whether errorMessage() reports it from then on.
        bool remembered = true;
    };

    static FrpcManager::Status statusOf(Phase phase);
    // Whether a client runs in this phase whose status is worth asking for.
    static bool asksClient(Phase phase);
    // The one way into a phase: switches the query and reconnection timers as the phase needs,
    // resets what the phase ends, announces a failure and then the state.
    void enterPhase(Phase phase, const Failure &failure);
    void enterPhase(Phase phase) { enterPhase(phase, Failure()); }
    bool generateConfigFile(const ServerConfig &config);
    QString getConfigPath() const;
    QString getFrpcPath() const;
    void cleanup();
    static void removeLeftoverConfigFiles();
    void cleanupOrphanedFrpcProcesses();
    // Starts a client for the tunnel: a new one, or one that restores a tunnel that was up. Its proxy
    // takes the tunnel's stable name, or a fresh one when the server still holds that.
    void launchClient(const ServerConfig &config, bool restoring, bool freshName = false);
    // When the client says the server holds the proxy's name for an earlier session, the client is
    // replaced at once by one under a fresh name (once per launch of the stable name).
    void noteNameTaken();
    void replaceTakenName(QProcess *client);
    void releaseProcess();
    // A line of the controller's own for the log; the repeated attempts of a wait are not logged.
    void note(const QString &text);
    // Stops both query timers and abandons the replies still on their way.
    void stopQueries();
    // Adds bytes of one channel to its pending text, then logs and judges each line completed; once
    // the client has ended, the rest too.
    void readOutput(const QByteArray &bytes, QByteArray &pending, bool onStandardError,
                    bool clientEnded = false);
    void judgeLines(const QStringList &lines, bool onStandardError);
    void reportProxyError(const QString &proxyError);
    void reportFailedStart(int exitCode);
    void reportUnreachableLocalService();
    // Whether a report of a visitor of tunnel that reached nothing belongs to a connection of our own;
    // takes it.
    bool takeOwnVisit(int tunnel);
    // The proxy whose reports a tunnel's own visits are counted for: its TCP proxy's name.
    QString ownVisitProxy(int tunnel) const;

    // One proxy of a tunnel.
    struct ProxySlot
    {
        // The tunnel's protocol carries this type.
        bool used = false;
        // Listed in the client file (the UDP proxy of TcpUdp waits for the TCP port).
        bool written = false;
        QString name;
        // The remote port asked for; 0: any.
        int askedPort = 0;
        QString port;
        QString error;
        // The client says it runs (what tells that a private proxy, which has no port, is up).
        bool running = false;
    };
    // A private tunnel's TCP slot is its stcp proxy, written with an xtcp proxy beside it for the direct
    // path between the two computers; its UDP slot is its sudp proxy. Their names come from its share.
    struct TunnelEntry
    {
        Tunnel tunnel;
        ProxySlot tcp;
        ProxySlot udp;
        // A private tunnel's key in the settings and what it shares.
        QString shareKey = QString();
        ServerConfigManager::PrivateShare share = {};
    };
    static bool isReady(const TunnelEntry &entry, const ProxySlot &slot)
    {
        return entry.tunnel.isPrivate ? slot.running : !slot.port.isEmpty();
    }
    // Whether any tunnel is up.
    bool anyTunnelUp() const;
    // The code a friend needs for a private tunnel.
    ShareCode shareCodeOf(const TunnelEntry &entry) const;
    // Takes the private tunnel's share from the settings, under a key of its own among takenNames.
    void preparePrivateEntry(TunnelEntry &entry, const QStringList &takenNames);
    // Gives each proxy its name (stable, or fresh when m_freshProxyName) and forgets ports and errors.
    void prepareTunnels();
    void prepareEntry(TunnelEntry &entry, const QStringList &takenNames);
    QString proxyNameFor(int localPort, const QString &type, const QStringList &takenNames) const;
    // Rewrites the client file and asks the running client to reload it; nothing without a client.
    void applyTunnelChange();
    void requestReload();
    QNetworkRequest apiRequest(const QString &path) const;
    // Takes a status reply into the tunnels; returns whether the file must be reloaded (the UDP proxy of
    // a TcpUdp tunnel can now ask for its port, or must take any).
    bool takeProxyStatuses(const QByteArray &body, bool *valid);
    // The port shown for the connection: the first tunnel's, else the first known one.
    QString shownPort() const;
    bool everyProxyRefused() const;
    // Watches the local port of every tunnel whose public port is known while the connection is up.
    void updateTunnelWatches();
    void onWatchHintChanged();
    void noteTunnelsMaybeChanged();
    // The index of the tunnel whose proxy a client line names; 0 when it names none.
    int tunnelOfLine(const QString &line) const;
    QStringList proxyNamesExcept(int index) const;
    // What the log must never show of the client file: the server's token, the web API's password.
    QStringList secrets() const;
    // A text from the client or the server made fit for the log and the user: paths, tokens and the
    // client file's secrets hidden (the format around it, the program's own words with %1 for the
    // text, included).
    QString reportable(const QString &text, const QString &format = QString()) const;
    // The first tunnel's name in the client's lines.
    QString firstProxyName() const;

    FrpcManager *const q;
    QProcess *m_process = nullptr;
    QTimer *m_queryTimer = nullptr;
    QTimer *m_reconnectTimer = nullptr;
    // Single-shot: one status query soon after the client wrote output, however many lines it wrote.
    QTimer *m_outputQueryTimer = nullptr;
    // Made by networkManager() on first use.
    QNetworkAccessManager *m_networkManager = nullptr;
    // Looks for programs on the local ports of the tunnels, all at once.
    LocalListenerWatch *m_listenerWatch = nullptr;
    // The hint of the first tunnel last announced.
    bool m_firstHint = false;
    Phase m_phase = Phase::Idle;
    // The port of the tunnel while it is up; empty in every other phase.
    QString m_remotePort;
    QString m_errorMessage;
    // Whether the proxy names were drawn fresh because the server held the stable one.
    bool m_freshProxyName = false;
    ServerConfig m_currentConfig;
    int m_webServerPort = 7400;
    // The drops of the tunnel since it was last up; counted from a drop, reset when it is up again.
    int m_reconnectAttempts = 0;
    // Credentials of the client's web API, drawn anew for every start.
    QString m_webUser;
    QString m_webPassword;
    // The proxy errors already shown since the tunnel was started, so that each is shown once;
    // cleared when a new tunnel is launched.
    QStringList m_shownProxyErrors;
    // Whether the user has been told that visitors of the tunnel reach nothing; cleared each time the
    // tunnel comes up.
    bool m_localServiceHintGiven = false;
    // Our own connections to the public addresses whose report may still come, each until its deadline,
    // by proxy name; cleared for every new client.
    QHash<QString, QList<QDeadlineTimer>> m_ownVisits;
    // The last line of the current client that may say why it failed, colour codes removed.
    QString m_lastErrorLine;
    // The bytes after the last line feed of each channel, kept until the line is complete, so that a
    // line that arrives in two reads is logged and judged as one.
    QByteArray m_pendingOutput;
    QByteArray m_pendingErrors;
    // The tunnels of the connection; the first is "the" tunnel of the controller's single-tunnel
    // functions and signals.
    QList<TunnelEntry> m_tunnels;
    // The tunnel states last announced, to tell whether they changed.
    QList<TunnelState> m_announcedStates;
    // The wait of a connection whose server could not be reached: why, in the user's words, the
    // attempts so far, and whether the tunnel had been up. The reason stays through the attempts.
    FrpcManager::WaitReason m_waitReason = FrpcManager::NotWaiting;
    QString m_waitCause;
    int m_waitRound = 0;
    bool m_waitRestoring = false;
    bool m_waitHintDue = false;
    // The pause before the next attempt, and the time after which the hint names the address.
    QTimer *m_waitTimer = nullptr;
    QTimer *m_waitHintTimer = nullptr;
    ConnectivityWatch *m_connectivity = nullptr;
    // Whether the running attempt of a wait keeps the log quiet (until its client logs in).
    bool m_quiet = false;
    // The wait reason last announced.
    FrpcManager::WaitReason m_announcedWaitReason = FrpcManager::NotWaiting;
    int m_restartDelayMs = FrpcManager::RECONNECT_DELAY_MS;
    int m_ownVisitWindowMs = FrpcManager::OWN_VISIT_WINDOW_MS;
};
