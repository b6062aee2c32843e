// SPDX-License-Identifier: Apache-2.0
// Server records, their store in the settings, and the preferences kept beside them.
#include "core/serverconfig.h"

#include "core/proxyname.h"
#include "core/sharecode.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSaveFile>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <limits>

#ifndef MARROWGATE_BUILTIN_SERVER_ADDR
#define MARROWGATE_BUILTIN_SERVER_ADDR "127.0.0.1"
#endif

namespace {

const QString KEY_CURRENT_INDEX = QStringLiteral("currentIndex");
const QString KEY_LAST_LOCAL_PORT = QStringLiteral("lastLocalPort");
const QString KEY_SERVERS = QStringLiteral("servers");
const QString KEY_NAME = QStringLiteral("name");
const QString KEY_SERVER_ADDR = QStringLiteral("serverAddr");
const QString KEY_SERVER_PORT = QStringLiteral("serverPort");
const QString KEY_TOKEN = QStringLiteral("token");
const QString KEY_WEB_SERVER_PORT = QStringLiteral("webServerPort");
const QString KEY_AUTO_START = QStringLiteral("autoStart");
const QString KEY_AUTO_CONNECT = QStringLiteral("autoConnect");
const QString KEY_LAST_SERVER = QStringLiteral("lastServer");
const QString KEY_THEME = QStringLiteral("theme");
const QString KEY_LANGUAGE = QStringLiteral("language");
const QString KEY_LAST_PROTOCOL = QStringLiteral("lastProtocol");
const QString KEY_JOINED_TUNNELS = QStringLiteral("joinedTunnels");
const QString KEY_LAST_PRIVATE = QStringLiteral("lastPrivate");
const QString KEY_PRIVATE_SHARES = QStringLiteral("privateShares/");

const int DEFAULT_LAST_LOCAL_PORT = 12345;
const bool DEFAULT_AUTO_START = false;
const int DEFAULT_THEME = 0;

// The built-in entry's name.
const char BUILT_IN_NAME[] = QT_TRANSLATE_NOOP("ServerConfigManager", "HalvornMarrowgate服务器");

// The entry every load puts first: the project's own tunnel server. It is never stored.
ServerConfig builtInConfig()
{
    ServerConfig config;
    // Stored and matched as it is; the cards show it translated.
    config.name = QString::fromUtf8(BUILT_IN_NAME);
    config.serverAddr = QStringLiteral(MARROWGATE_BUILTIN_SERVER_ADDR);
    config.serverPort = 7000;
    config.token = QStringLiteral("tQenvobRxaL");
    config.webServerPort = 7500;
    config.isBuiltIn = true;
    return config;
}

// Whether an imported value is a whole JSON number that fits an int.
bool isWholeInt(const QJsonValue &value)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    return std::isfinite(number) && std::trunc(number) == number
        && number >= double(std::numeric_limits<int>::min())
        && number <= double(std::numeric_limits<int>::max());
}

// The members of an imported object that have their field's type: text for the texts, a whole
// number for the ports. Strings, fractions, booleans and huge numbers are left out, so the field
// keeps its default.
QVariantMap acceptedMembers(const QJsonObject &object)
{
    QVariantMap fields;
    const QVariantMap defaults = ServerConfig().toVariantMap();
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        const QJsonValue value = object.value(it.key());
        if (it->typeId() == QMetaType::QString && value.isString())
            fields.insert(it.key(), value.toString());
        else if (it->typeId() == QMetaType::Int && isWholeInt(value))
            fields.insert(it.key(), int(value.toDouble()));
    }
    return fields;
}

} // namespace

bool ServerConfig::isValid() const
{
    return !name.isEmpty() && !serverAddr.isEmpty() && !token.isEmpty() && serverPort > 0
        && serverPort <= 65535 && webServerPort > 0 && webServerPort <= 65535;
}

QVariantMap ServerConfig::toVariantMap() const
{
    return { { KEY_NAME, name },
             { KEY_SERVER_ADDR, serverAddr },
             { KEY_SERVER_PORT, serverPort },
             { KEY_TOKEN, token },
             { KEY_WEB_SERVER_PORT, webServerPort } };
}

ServerConfig ServerConfig::fromVariantMap(const QVariantMap &map)
{
    ServerConfig config;
    config.name = map.value(KEY_NAME).toString();
    config.serverAddr = map.value(KEY_SERVER_ADDR).toString();
    config.serverPort = map.value(KEY_SERVER_PORT, config.serverPort).toInt();
    config.token = map.value(KEY_TOKEN).toString();
    config.webServerPort = map.value(KEY_WEB_SERVER_PORT, config.webServerPort).toInt();
    return config;
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

void ServerConfigManager::loadConfigs()
{
    // Loading takes the store as it is now.
    m_deferred.clear();
    QSettings settings;
    m_currentIndex = settings.value(KEY_CURRENT_INDEX, 0).toInt();
    m_lastLocalPort = settings.value(KEY_LAST_LOCAL_PORT, DEFAULT_LAST_LOCAL_PORT).toInt();

    // Loading replaces the list, so a second call cannot duplicate the entries.
    m_configs.clear();
    m_configs.append(builtInConfig());

    // A hand-edited or damaged store may claim any size; only a sane number of entries is read.
    const QStringList keys = ServerConfig().toVariantMap().keys();
    const int size = qMin(settings.beginReadArray(KEY_SERVERS), MAX_STORED_SERVERS);
    for (int i = 0; i < size; ++i) {
        settings.setArrayIndex(i);
        QVariantMap fields;
        for (const QString &key : keys) {
            if (settings.contains(key))
                fields.insert(key, settings.value(key));
        }
        m_configs.append(ServerConfig::fromVariantMap(fields));
    }
    settings.endArray();
}

void ServerConfigManager::saveConfigs()
{
    QSettings settings;
    for (auto it = m_deferred.cbegin(); it != m_deferred.cend(); ++it)
        settings.setValue(it.key(), it.value());
    m_deferred.clear();
    settings.setValue(KEY_CURRENT_INDEX, m_currentIndex);
    settings.setValue(KEY_LAST_LOCAL_PORT, m_lastLocalPort);

    // Drop the whole old array first: a removed server (and its token) must not linger in the file
    // beyond the new size.
    settings.remove(KEY_SERVERS);
    settings.beginWriteArray(KEY_SERVERS);
    int position = 0;
    for (const ServerConfig &config : std::as_const(m_configs)) {
        if (config.isBuiltIn)
            continue;
        settings.setArrayIndex(position++);
        const QVariantMap fields = config.toVariantMap();
        for (auto it = fields.cbegin(); it != fields.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }
    settings.endArray();
}

QList<ServerConfig> ServerConfigManager::getConfigs() const
{
    return m_configs;
}

void ServerConfigManager::addConfig(const ServerConfig &config)
{
    m_configs.append(config);
    saveConfigs();
}

void ServerConfigManager::updateConfig(int index, const ServerConfig &config)
{
    if (index < 0 || index >= m_configs.size())
        return;
    m_configs[index] = config;
    saveConfigs();
}

void ServerConfigManager::removeConfig(int index)
{
    if (index < 0 || index >= m_configs.size())
        return;
    m_configs.removeAt(index);
    if (m_currentIndex >= m_configs.size())
        m_currentIndex = int(m_configs.size()) - 1;
    if (m_currentIndex < 0)
        m_currentIndex = 0;
    saveConfigs();
}

int ServerConfigManager::getCurrentIndex() const
{
    return m_currentIndex;
}

void ServerConfigManager::setCurrentIndex(int index)
{
    if (index < 0 || index >= m_configs.size())
        return;
    m_currentIndex = index;
    saveConfigs();
}

ServerConfig ServerConfigManager::getCurrentConfig() const
{
    if (m_currentIndex >= 0 && m_currentIndex < m_configs.size())
        return m_configs.at(m_currentIndex);
    return ServerConfig();
}

int ServerConfigManager::getLastLocalPort() const
{
    return m_lastLocalPort;
}

void ServerConfigManager::rememberConnection(const QString &serverName, const Tunnel &first)
{
    m_lastLocalPort = first.localPort;
    m_deferred.insert(KEY_LAST_LOCAL_PORT, first.localPort);
    m_deferred.insert(KEY_LAST_PROTOCOL, Tunnel::protocolName(first.protocol));
    m_deferred.insert(KEY_LAST_PRIVATE, first.isPrivate);
    m_deferred.insert(KEY_LAST_SERVER, serverName);
}

void ServerConfigManager::writeDeferred()
{
    if (m_deferred.isEmpty())
        return;
    QSettings settings;
    for (auto it = m_deferred.cbegin(); it != m_deferred.cend(); ++it)
        settings.setValue(it.key(), it.value());
    m_deferred.clear();
}

void ServerConfigManager::setLastLocalPort(int port)
{
    m_lastLocalPort = port;
    saveConfigs();
}

quint64 ServerConfigManager::installationNumber()
{
    // Like the preferences, read from the store on every call: it is drawn once and never changes.
    QSettings settings;
    return ProxyName::installationNumber(settings);
}

bool ServerConfigManager::getAutoStart() const
{
    return QSettings().value(KEY_AUTO_START, DEFAULT_AUTO_START).toBool();
}

void ServerConfigManager::setAutoStart(bool enabled)
{
    QSettings().setValue(KEY_AUTO_START, enabled);
}

bool ServerConfigManager::getAutoConnect() const
{
    return QSettings().value(KEY_AUTO_CONNECT, false).toBool();
}

void ServerConfigManager::setAutoConnect(bool enabled)
{
    QSettings().setValue(KEY_AUTO_CONNECT, enabled);
}

QString ServerConfigManager::getLastServer() const
{
    return m_deferred.value(KEY_LAST_SERVER, QSettings().value(KEY_LAST_SERVER)).toString();
}

void ServerConfigManager::setLastServer(const QString &name)
{
    m_deferred.remove(KEY_LAST_SERVER);
    QSettings().setValue(KEY_LAST_SERVER, name);
}

int ServerConfigManager::getTheme() const
{
    return QSettings().value(KEY_THEME, DEFAULT_THEME).toInt();
}

void ServerConfigManager::setTheme(int theme)
{
    QSettings().setValue(KEY_THEME, theme);
}

QString ServerConfigManager::getLanguage() const
{
    return QSettings().value(KEY_LANGUAGE, QStringLiteral("zh")).toString();
}

void ServerConfigManager::setLanguage(const QString &code)
{
    QSettings().setValue(KEY_LANGUAGE, code);
}

QString ServerConfigManager::getLastProtocol() const
{
    const QString stored
        = m_deferred.value(KEY_LAST_PROTOCOL, QSettings().value(KEY_LAST_PROTOCOL)).toString();
    return stored == QLatin1String("udp") || stored == QLatin1String("tcp+udp") ? stored
                                                                                : QStringLiteral("tcp");
}

void ServerConfigManager::setLastProtocol(const QString &protocol)
{
    m_deferred.remove(KEY_LAST_PROTOCOL);
    QSettings().setValue(KEY_LAST_PROTOCOL, protocol);
}

bool ServerConfigManager::getLastPrivate() const
{
    return m_deferred.value(KEY_LAST_PRIVATE, QSettings().value(KEY_LAST_PRIVATE, false)).toBool();
}

void ServerConfigManager::setLastPrivate(bool isPrivate)
{
    m_deferred.remove(KEY_LAST_PRIVATE);
    QSettings().setValue(KEY_LAST_PRIVATE, isPrivate);
}

namespace {

// Stores a private tunnel's share, and keeps the file that holds its secret readable by its owner only
// (where the settings are a file).
void storeShare(QSettings &settings, const QString &key, const ServerConfigManager::PrivateShare &share)
{
    settings.setValue(KEY_PRIVATE_SHARES + key, QStringList { share.name, share.secretKey, share.label });
    settings.sync();
    if (QFileInfo(settings.fileName()).isFile())
        QFile::setPermissions(settings.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// Whether a code can carry the share.
bool isCarried(const ServerConfigManager::PrivateShare &share)
{
    ShareCode probe;
    probe.builtInServer = true;
    probe.name = share.name;
    probe.secretKey = share.secretKey;
    probe.label = share.label;
    probe.hostPort = 1;
    return !probe.toText().isEmpty();
}

} // namespace

ServerConfigManager::PrivateShare ServerConfigManager::privateShare(const QString &key, bool renew)
{
    QSettings settings;
    const QStringList stored = settings.value(KEY_PRIVATE_SHARES + key).toStringList();
    PrivateShare share;
    // Only what a code can carry is taken; anything else is drawn anew.
    if (stored.size() == 3 && isCarried({ stored.at(0), stored.at(1), stored.at(2) }))
        share = { stored.at(0), stored.at(1), stored.at(2) };
    if (share.name.isEmpty())
        share = { ShareCode::newName(), ShareCode::newSecretKey(), QString() };
    else if (!renew)
        return share;
    if (renew)
        share.secretKey = ShareCode::newSecretKey();
    storeShare(settings, key, share);
    return share;
}

void ServerConfigManager::setPrivateShareLabel(const QString &key, const QString &label)
{
    PrivateShare share = privateShare(key);
    share.label = label.left(ShareCode::MAX_LABEL_LENGTH);
    // A name no code can carry is not taken: the tunnel keeps its code.
    if (!isCarried(share))
        return;
    QSettings settings;
    storeShare(settings, key, share);
}

QList<Tunnel> ServerConfigManager::getMoreTunnels() const
{
    QList<Tunnel> tunnels;
    const QStringList stored = QSettings().value(QStringLiteral("moreTunnels")).toStringList();
    for (const QString &text : stored) {
        if (tunnels.size() + 1 >= Tunnel::MAX_TUNNELS)
            break;
        if (const std::optional<Tunnel> tunnel = Tunnel::fromStoredText(text))
            tunnels.append(*tunnel);
    }
    return tunnels;
}

void ServerConfigManager::setMoreTunnels(const QList<Tunnel> &tunnels)
{
    QStringList stored;
    for (const Tunnel &tunnel : tunnels)
        stored << tunnel.storedText();
    QSettings().setValue(QStringLiteral("moreTunnels"), stored);
}

QList<JoinedTunnel> ServerConfigManager::getJoinedTunnels() const
{
    QList<JoinedTunnel> tunnels;
    QSettings settings;
    const int size = qMin(settings.beginReadArray(KEY_JOINED_TUNNELS), MAX_JOINED_TUNNELS);
    for (int i = 0; i < size; ++i) {
        settings.setArrayIndex(i);
        const JoinedTunnel tunnel { settings.value(QStringLiteral("code")).toString(),
                                    settings.value(QStringLiteral("port")).toInt() };
        if (!tunnel.code.isEmpty() && tunnel.localPort >= 1 && tunnel.localPort <= 65535)
            tunnels.append(tunnel);
    }
    settings.endArray();
    return tunnels;
}

void ServerConfigManager::setJoinedTunnels(const QList<JoinedTunnel> &tunnels)
{
    QSettings settings;
    // A removed code (and its key) must not linger beyond the new size.
    settings.remove(KEY_JOINED_TUNNELS);
    settings.beginWriteArray(KEY_JOINED_TUNNELS);
    for (int i = 0; i < tunnels.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("code"), tunnels.at(i).code);
        settings.setValue(QStringLiteral("port"), tunnels.at(i).localPort);
    }
    settings.endArray();
    settings.sync();
    if (QFileInfo(settings.fileName()).isFile())
        QFile::setPermissions(settings.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool ServerConfigManager::exportToFile(const QString &filePath, QString *errorMessage)
{
    QJsonArray array;
    for (const ServerConfig &config : std::as_const(m_configs))
        array.append(QJsonObject::fromVariantMap(config.toVariantMap()));
    const QByteArray text = QJsonDocument(array).toJson(QJsonDocument::Indented);

    // Written through a temporary file: either the whole text arrives or the old file stays as it
    // was, and a short write is reported as a failure. In a folder where no temporary file can be
    // created, an existing file that may be written is overwritten in place instead.
    QSaveFile file(filePath);
    file.setDirectWriteFallback(true);
    const auto fail = [&file, errorMessage] {
        if (errorMessage)
            *errorMessage = file.errorString();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    // Owner-only from the start; an existing file's wider permissions are not carried over. A file
    // written in place that is not ours to change keeps its own.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return fail();
    }
    if (!file.commit())
        return fail();
    return true;
}

bool ServerConfigManager::importFromFile(const QString &filePath, bool append, QString *errorMessage,
                                         int *added, int *skipped)
{
    const auto fail = [errorMessage](const QString &reason) {
        if (errorMessage)
            *errorMessage = reason;
        return false;
    };

    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    // Read one byte past the bound at most: a larger file is refused without being read whole.
    const QByteArray text = file.read(MAX_IMPORT_FILE_SIZE + 1);
    file.close();
    if (text.size() > MAX_IMPORT_FILE_SIZE)
        return fail(QCoreApplication::translate("ServerConfigManager", "文件大于 1 MiB"));

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        return fail(QCoreApplication::translate("ServerConfigManager", "不是有效的 JSON：%1")
                        .arg(error.errorString()));
    if (!document.isArray())
        return fail(QCoreApplication::translate("ServerConfigManager", "文件内容不是 JSON 数组"));
    const QJsonArray array = document.array();
    if (array.isEmpty())
        return fail(QCoreApplication::translate("ServerConfigManager", "文件中没有服务器"));

    // The accepted entries are collected first, so the list changes only once the whole file has
    // been read.
    QList<ServerConfig> imported;
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            continue;
        const ServerConfig config = ServerConfig::fromVariantMap(acceptedMembers(element.toObject()));
        if (config.isValid())
            imported.append(config);
    }

    // Loading reads no more than the bound; an import never stores entries that would be lost.
    const qsizetype kept = append
        ? std::count_if(m_configs.cbegin(), m_configs.cend(),
                        [](const ServerConfig &config) { return !config.isBuiltIn; })
        : 0;
    if (kept + imported.size() > MAX_STORED_SERVERS)
        return fail(QCoreApplication::translate("ServerConfigManager", "导入后服务器将超过 %1 个")
                        .arg(MAX_STORED_SERVERS));

    if (!append)
        m_configs.clear();
    m_configs.append(imported);
    saveConfigs();
    if (added)
        *added = int(imported.size());
    if (skipped)
        *skipped = int(array.size() - imported.size());
    return true;
}
