#pragma once

#include "serverconfig.h"

#include <QObject>
#include <QProcess>
#include <QString>

class QNetworkAccessManager;
class QTimer;

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

    static const int MAX_RECONNECT_ATTEMPTS = 5;
    static const int RECONNECT_DELAY_MS = 3000;
    static const int QUERY_INTERVAL_MS = 2000;

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
    void generateConfigFile(const ServerConfig &config, int localPort);
    QString getConfigPath() const;
    QString getFrpcPath() const;
    void cleanup();
    void cleanupOrphanedFrpcProcesses();

    QProcess *m_process = nullptr;
    QTimer *m_queryTimer = nullptr;
    QTimer *m_reconnectTimer = nullptr;
    QNetworkAccessManager *m_networkManager = nullptr;
    Status m_status = Stopped;
    QString m_remotePort;
    QString m_errorMessage;
    QString m_proxyName;
    ServerConfig m_currentConfig;
    int m_currentLocalPort = 0;
    int m_webServerPort = 7400;
    int m_reconnectAttempts = 0;
    // Credentials of the client's web API, drawn anew for every start.
    QString m_webUser;
    QString m_webPassword;
};
