#pragma once

#include <QList>
#include <QString>

// One tunnel server the user can connect to.
struct ServerConfig
{
    QString name;
    QString serverAddr;
    int serverPort = 7000;
    QString token;
    int webServerPort = 7400;
    bool isBuiltIn = false;

    bool isValid() const;
};

// The process-wide list of servers, with the built-in entry first, and the last local port.
// Every change is written to the settings store at once.
class ServerConfigManager
{
public:
    static ServerConfigManager &instance();

    ServerConfigManager(const ServerConfigManager &) = delete;
    ServerConfigManager &operator=(const ServerConfigManager &) = delete;

    void loadConfigs();
    void saveConfigs();

    QList<ServerConfig> getConfigs() const;
    void addConfig(const ServerConfig &config);
    void updateConfig(int index, const ServerConfig &config);
    void removeConfig(int index);

    int getCurrentIndex() const;
    void setCurrentIndex(int index);
    ServerConfig getCurrentConfig() const;

    int getLastLocalPort() const;
    void setLastLocalPort(int port);

    bool exportToFile(const QString &filePath);
    bool importFromFile(const QString &filePath, bool append);

    // Loading reads at most this many stored entries, whatever size the store claims.
    static const int MAX_STORED_SERVERS = 10000;

private:
    ServerConfigManager();
    ~ServerConfigManager();

    QList<ServerConfig> m_configs;
    int m_currentIndex = 0;
    int m_lastLocalPort = 12345;
};
