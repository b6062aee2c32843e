// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/tunnel.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

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

    // The fields under their stored and exported names; the built-in mark is never stored.
    QVariantMap toVariantMap() const;
    // A user entry from such a map; a field the map lacks keeps its default.
    static ServerConfig fromVariantMap(const QVariantMap &map);
};

// A friend's tunnel this program joined: the share code as text and the local port its visitors are
// bound to.
struct JoinedTunnel
{
    QString code;
    int localPort = 0;

    bool operator==(const JoinedTunnel &other) const
    {
        return code == other.code && localPort == other.localPort;
    }
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

    // What a click on "连接" keeps: the first tunnel's local port, protocol and private mark, and the
    // server's name (as setLastLocalPort, setLastProtocol, setLastPrivate and setLastServer). The getters return them at once, but
    // they reach the disk only with writeDeferred() or the next write of the store: writing the file
    // takes tens of milliseconds, which the tunnel's start should not wait for.
    void rememberConnection(const QString &serverName, const Tunnel &first);
    void writeDeferred();
    bool hasDeferredWrites() const { return !m_deferred.isEmpty(); }

    // This installation's random number, from which the tunnels' stable proxy names are derived;
    // drawn and stored on first use.
    quint64 installationNumber();

    // The window's preferences. They are not kept here: every call reads or writes the store.
    bool getAutoStart() const;
    void setAutoStart(bool enabled);
    // Whether every start of the program connects the server of the tunnel that was up when it last
    // ended (getLastServer, by name).
    bool getAutoConnect() const;
    void setAutoConnect(bool enabled);
    // The name of the server whose tunnel is up, kept until the tunnel ends otherwise than with the
    // program; empty when none.
    QString getLastServer() const;
    void setLastServer(const QString &name);
    // 0 light, 1 dark; other stored values are returned as stored.
    int getTheme() const;
    void setTheme(int theme);
    // The language the window speaks, "zh" or "en"; "zh" when none is stored.
    QString getLanguage() const;
    void setLanguage(const QString &code);
    // The protocol of the last tunnel started, "tcp", "udp" or "tcp+udp"; a missing or unknown value
    // reads "tcp".
    QString getLastProtocol() const;
    void setLastProtocol(const QString &protocol);
    // Whether the first tunnel is private (only for holders of its share code).
    bool getLastPrivate() const;
    void setLastPrivate(bool isPrivate);

    // What a private tunnel shares with its friends: the base of its proxies' names, the secret and the
    // name the host gave it. Kept under a key that stands for the installation, server entry and tunnel,
    // so that a code handed out keeps working across restarts.
    struct PrivateShare
    {
        QString name;
        QString secretKey;
        QString label;
    };
    // The share kept under key; a missing or unreadable one is drawn and stored. renew draws a new secret
    // (the old code stops working), keeping the name and the label.
    PrivateShare privateShare(const QString &key, bool renew = false);
    void setPrivateShareLabel(const QString &key, const QString &label);
    // The window's tunnels after the first, up to Tunnel::MAX_TUNNELS - 1; stored entries that describe
    // no tunnel are passed over.
    QList<Tunnel> getMoreTunnels() const;
    void setMoreTunnels(const QList<Tunnel> &tunnels);

    // The friends' tunnels joined, in the order they were added; stored entries whose port is out of
    // range are passed over, at most MAX_JOINED_TUNNELS are read. They hold secrets: the settings file
    // is kept readable by its owner only.
    QList<JoinedTunnel> getJoinedTunnels() const;
    void setJoinedTunnels(const QList<JoinedTunnel> &tunnels);
    static constexpr int MAX_JOINED_TUNNELS = 20;

    // The file holds tokens: it is made readable by its owner only, and written whole or not at all
    // unless its folder takes no new files (then an existing file is overwritten in place).
    // On failure, `errorMessage` (when given) receives the reason.
    bool exportToFile(const QString &filePath, QString *errorMessage = nullptr);
    // On success, `added` and `skipped` (when given) receive the number of accepted entries and of
    // elements left out as invalid; on failure nothing changes and `errorMessage` says why.
    bool importFromFile(const QString &filePath, bool append, QString *errorMessage = nullptr,
                        int *added = nullptr, int *skipped = nullptr);

    // Files larger than this are refused by the import without being read.
    static constexpr qint64 MAX_IMPORT_FILE_SIZE = 1024 * 1024;

    // Loading reads at most this many stored entries, whatever size the store claims.
    static constexpr int MAX_STORED_SERVERS = 10000;

private:
    ServerConfigManager();
    ~ServerConfigManager();

    QList<ServerConfig> m_configs;
    int m_currentIndex = 0;
    int m_lastLocalPort = 12345;
    // Values set but not yet written, by key.
    QVariantMap m_deferred;
};
