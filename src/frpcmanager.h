#pragma once

#include "serverconfig.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class QTimer;

// The texts the controller exchanges with the client, as pure functions.
namespace FrpcClientText {

// The credentials of the client's local web API, passed on to the file and the status queries.
struct WebCredentials
{
    QString user;
    QString password;
};

// A TOML basic string, quotes included: quotation marks, backslashes and control characters are
// escaped, so that no value can end the string or add keys to the file.
QString tomlString(const QString &value);

// The whole client configuration file, line breaks included.
QString configFile(const ServerConfig &config, int localPort, const QString &proxyName,
                   const WebCredentials &credentials);

// What a reply of the client's status API says about the proxy named proxyName.
struct ProxyStatus
{
    // False when the reply is not a JSON object: it then tells nothing about the proxy.
    bool valid = false;
    // The remote port of the first element of the proxy that runs and names a port; empty when the
    // proxy is missing or not running.
    QString port;
    // The first non-empty "err" of the proxy's elements: why the proxy could not start.
    QString error;
};

ProxyStatus proxyStatus(const QByteArray &body, const QString &proxyName);

// The remote port of the proxy named proxyName in a reply of the client's status API, or an empty
// text when the reply does not name that proxy as running together with a port.
QString remotePortFromStatus(const QByteArray &body, const QString &proxyName);

// True for a line the client writes about a request of its status API: such lines follow every
// status query, so they must never cause another one.
bool isStatusRequestLine(const QString &line);

// True for a line in which the client reports that a visitor's connection found nothing listening on
// the local port.
bool isUnreachableLocalServiceLine(const QString &line);

// True for a line that may tell why the client failed: anything on standard error, and on standard
// output every line but the informational ones (levels [I], [D], [T]). Warnings and errors of the
// client's log qualify, and so does the plain message without a level that the client prints last
// when it gives up (for example "login to the server failed: ...").
bool isErrorLine(const QString &line, bool onStandardError);

// The log lines of a block of client output: terminal colour sequences removed, split at line feeds,
// empty pieces dropped.
QStringList outputLines(const QString &text);

} // namespace FrpcClientText

// Runs one tunnel at a time by driving the external frpc client: writes its configuration file,
// starts and supervises the process, learns the assigned remote port from the client's web API
// and restarts the client when an established tunnel drops.
class FrpcManager : public QObject
{
    Q_OBJECT

public:
    enum Status { Stopped, Starting, Running, Stopping, Error };

    explicit FrpcManager(QObject *parent = nullptr);
    ~FrpcManager() override;

    void start(const ServerConfig &config, int localPort);
    void stop();

    Status status() const { return m_status; }
    QString remotePort() const { return m_remotePort; }
    QString errorMessage() const { return m_errorMessage; }

    static constexpr int MAX_RECONNECT_ATTEMPTS = 5;
    static constexpr int RECONNECT_DELAY_MS = 3000;
    static constexpr int QUERY_INTERVAL_MS = 2000;
    // How soon after the client wrote something its status is asked for.
    static constexpr int OUTPUT_QUERY_DELAY_MS = 50;

signals:
    void statusChanged(FrpcManager::Status status);
    void remotePortReady(const QString &port);
    void logMessage(const QString &msg);
    void errorOccurred(const QString &error);

private slots:
    void onProcessStarted();
    void onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onProcessError(QProcess::ProcessError error);
    void onProcessOutput();
    void queryRemotePort();
    void onQueryFinished();
    void onReconnectTimeout();

private:
    void setStatus(Status status);
    bool generateConfigFile(const ServerConfig &config, int localPort);
    QString getConfigPath() const;
    QString getFrpcPath() const;
    void cleanup();
    static void removeLeftoverConfigFiles();
    void cleanupOrphanedFrpcProcesses();
    void launchClient(const ServerConfig &config, int localPort);
    void releaseProcess();
    // Stops both query timers and abandons the replies still on their way.
    void stopQueries();
    // Adds bytes of one channel to its pending text, then logs and judges each line completed; once
    // the client has ended, the rest too.
    void readOutput(const QByteArray &bytes, QByteArray &pending, bool onStandardError,
                    bool clientEnded = false);
    void judgeLines(const QStringList &lines, bool onStandardError);
    void onTunnelDown();
    void reportProxyError(const QString &proxyError);
    void reportFailedStart(int exitCode);
    void reportUnreachableLocalService();

    QProcess *m_process = nullptr;
    QTimer *m_queryTimer = nullptr;
    QTimer *m_reconnectTimer = nullptr;
    // Single-shot: one status query soon after the client wrote output, however many lines it wrote.
    QTimer *m_outputQueryTimer = nullptr;
    QNetworkAccessManager *m_networkManager = nullptr;
    Status m_status = Stopped;
    QString m_remotePort;
    QString m_errorMessage;
    QString m_proxyName;
    ServerConfig m_currentConfig;
    int m_currentLocalPort = 0;
    int m_webServerPort = 7400;
    int m_reconnectAttempts = 0;
    // True from a disconnection of an established tunnel until a tunnel is established again or the
    // user stops or starts: an exit before the port is known then counts as another disconnection.
    bool m_reconnecting = false;
    // Credentials of the client's web API, drawn anew for every start.
    QString m_webUser;
    QString m_webPassword;
    // The proxy errors already shown to the user since the last start, so that each is shown once.
    QStringList m_shownProxyErrors;
    // Whether the user has been told that visitors of the established tunnel reach nothing.
    bool m_localServiceHintGiven = false;
    // The last line of the current client that may say why it failed, colour codes removed.
    QString m_lastErrorLine;
    // The bytes after the last line feed of each channel, kept until the line is complete, so that a
    // line that arrives in two reads is logged and judged as one.
    QByteArray m_pendingOutput;
    QByteArray m_pendingErrors;
};
