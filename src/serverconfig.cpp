#include "serverconfig.h"

bool ServerConfig::isValid() const
{
    return !name.isEmpty() && !serverAddr.isEmpty() && !token.isEmpty() && serverPort > 0 && serverPort <= 65535
           && webServerPort > 0 && webServerPort <= 65535;
}

ServerConfigManager &ServerConfigManager::instance()
{
    static ServerConfigManager manager;
    return manager;
}

ServerConfigManager::ServerConfigManager()
{
    loadConfigs();
}

ServerConfigManager::~ServerConfigManager()
{
    saveConfigs();
}

void ServerConfigManager::loadConfigs() { }
void ServerConfigManager::saveConfigs() { }
QList<ServerConfig> ServerConfigManager::getConfigs() const { return m_configs; }
void ServerConfigManager::addConfig(const ServerConfig &) { }
void ServerConfigManager::updateConfig(int, const ServerConfig &) { }
void ServerConfigManager::removeConfig(int) { }
int ServerConfigManager::getCurrentIndex() const { return m_currentIndex; }
void ServerConfigManager::setCurrentIndex(int) { }
ServerConfig ServerConfigManager::getCurrentConfig() const { return {}; }
int ServerConfigManager::getLastLocalPort() const { return m_lastLocalPort; }
void ServerConfigManager::setLastLocalPort(int) { }
bool ServerConfigManager::exportToFile(const QString &) { return false; }
bool ServerConfigManager::importFromFile(const QString &, bool) { return false; }
