#include "frpcmanager.h"

#include "frpcprocesses.h"

#include <QNetworkAccessManager>
#include <QTimer>

FrpcManager::FrpcManager(QObject *parent)
    : QObject(parent)
    , m_queryTimer(new QTimer(this))
    , m_reconnectTimer(new QTimer(this))
    , m_networkManager(new QNetworkAccessManager(this))
{
}

FrpcManager::~FrpcManager() = default;

void FrpcManager::start(const ServerConfig &, int) { }
void FrpcManager::stop() { }
void FrpcManager::onProcessStarted() { }
void FrpcManager::onProcessFinished(int, QProcess::ExitStatus) { }
void FrpcManager::onProcessError(QProcess::ProcessError) { }
void FrpcManager::onProcessOutput() { }
void FrpcManager::queryRemotePort() { }
void FrpcManager::onQueryFinished() { }
void FrpcManager::onReconnectTimeout() { }
void FrpcManager::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged(status);
}
void FrpcManager::generateConfigFile(const ServerConfig &, int) { }
QString FrpcManager::getConfigPath() const { return {}; }
QString FrpcManager::getFrpcPath() const { return {}; }
void FrpcManager::cleanup() { }
void FrpcManager::cleanupOrphanedFrpcProcesses() { }
