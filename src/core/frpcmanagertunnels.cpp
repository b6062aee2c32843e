// SPDX-License-Identifier: Apache-2.0
// The tunnels of one connection: their proxies in the client file, their ports and refusals read from
// the status replies, and the changes made while the client runs (the file rewritten and reloaded).
#include "core/frpcmanager_p.h"

#include "core/frpcclienttext.h"
#include "core/locallistenerwatch.h"
#include "core/proxyname.h"
#include "core/redaction.h"
#include "core/tunneladdress.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>

namespace {

const int API_TIMEOUT_MS = 3000;

} // namespace

int FrpcManager::addTunnel(const Tunnel &tunnel)
{
    if (d->m_tunnels.size() >= Tunnel::MAX_TUNNELS)
        return -1;
    FrpcManagerPrivate::TunnelEntry entry { tunnel, {}, {} };
    d->prepareEntry(entry, d->proxyNamesExcept(-1));
    d->m_tunnels.append(entry);
    if (d->m_tunnels.size() == 1)
        d->prepareTunnels();
    d->applyTunnelChange();
    return int(d->m_tunnels.size()) - 1;
}

bool FrpcManager::changeTunnel(int index, const Tunnel &tunnel)
{
    if (index < 0 || index >= d->m_tunnels.size())
        return false;
    FrpcManagerPrivate::TunnelEntry &entry = d->m_tunnels[index];
    if (entry.tunnel == tunnel)
        return true;
    entry.tunnel = tunnel;
    d->prepareEntry(entry, d->proxyNamesExcept(index));
    d->applyTunnelChange();
    return true;
}

bool FrpcManager::removeTunnel(int index)
{
    if (index <= 0 || index >= d->m_tunnels.size())
        return false;
    d->m_tunnels.removeAt(index);
    d->applyTunnelChange();
    return true;
}

std::optional<ShareCode> FrpcManager::shareCode(int index) const
{
    if (index < 0 || index >= d->m_tunnels.size() || !d->m_tunnels.at(index).tunnel.isPrivate)
        return std::nullopt;
    return d->shareCodeOf(d->m_tunnels.at(index));
}

bool FrpcManager::renewShareCode(int index)
{
    if (index < 0 || index >= d->m_tunnels.size() || !d->m_tunnels.at(index).tunnel.isPrivate)
        return false;
    FrpcManagerPrivate::TunnelEntry &entry = d->m_tunnels[index];
    entry.share = ServerConfigManager::instance().privateShare(entry.shareKey, true);
    emit logMessage(QCoreApplication::translate("FrpcManager", "已生成新的分享码，旧的分享码不再有效"));
    d->applyTunnelChange();
    return true;
}

void FrpcManager::setShareLabel(int index, const QString &label)
{
    if (index < 0 || index >= d->m_tunnels.size() || !d->m_tunnels.at(index).tunnel.isPrivate)
        return;
    FrpcManagerPrivate::TunnelEntry &entry = d->m_tunnels[index];
    ServerConfigManager::instance().setPrivateShareLabel(entry.shareKey, label);
    entry.share = ServerConfigManager::instance().privateShare(entry.shareKey);
}

ShareCode FrpcManagerPrivate::shareCodeOf(const TunnelEntry &entry) const
{
    ShareCode code;
    // The built-in entry's address and token are the friend's program's too: only the mark is passed.
    code.builtInServer = m_currentConfig.isBuiltIn;
    if (!code.builtInServer) {
        code.serverAddr = TunnelAddress::bareHost(m_currentConfig.serverAddr);
        code.serverPort = m_currentConfig.serverPort;
        code.token = m_currentConfig.token;
    }
    code.name = entry.share.name;
    code.protocol = entry.tunnel.protocol;
    code.secretKey = entry.share.secretKey;
    code.hostPort = entry.tunnel.localPort;
    code.label = entry.share.label;
    return code;
}

bool FrpcManagerPrivate::anyTunnelUp() const
{
    const QList<TunnelState> states = tunnelStates();
    return std::any_of(states.begin(), states.end(), [](const TunnelState &state) { return state.isUp(); });
}

QList<TunnelState> FrpcManagerPrivate::tunnelStates() const
{
    QList<TunnelState> states;
    for (const TunnelEntry &entry : m_tunnels) {
        TunnelState state;
        state.tunnel = entry.tunnel;
        state.port = entry.tunnel.protocol == Tunnel::Udp ? entry.udp.port : entry.tcp.port;
        if (entry.tunnel.protocol == Tunnel::TcpUdp)
            state.udpPort = entry.udp.port;
        state.privateReady = entry.tunnel.isPrivate;
        for (const ProxySlot *slot : { &entry.tcp, &entry.udp }) {
            if (slot->written && !isReady(entry, *slot) && !slot->error.isEmpty() && state.error.isEmpty())
                state.error = reportable(slot->error);
            if (slot->used && !(slot->written && slot->running))
                state.privateReady = false;
        }
        // Its port is watched while the connection is up and its public port is known (or, private, its
        // proxies run).
        state.nobodyListens = m_phase == Phase::Up && state.isUp()
            && m_listenerWatch->nobodyListens(
                { entry.tunnel.localPort, entry.tunnel.protocol == Tunnel::Udp });
        states.append(state);
    }
    return states;
}

void FrpcManagerPrivate::prepareTunnels()
{
    QStringList names;
    for (TunnelEntry &entry : m_tunnels) {
        prepareEntry(entry, names);
        names << entry.tcp.name << entry.udp.name << entry.shareKey;
    }
}

QString FrpcManagerPrivate::firstProxyName() const
{
    if (m_tunnels.isEmpty())
        return {};
    const TunnelEntry &first = m_tunnels.first();
    return first.tcp.used ? first.tcp.name : first.udp.name;
}

void FrpcManagerPrivate::prepareEntry(TunnelEntry &entry, const QStringList &takenNames)
{
    const Tunnel::Protocol protocol = entry.tunnel.protocol;
    entry.tcp = ProxySlot();
    entry.udp = ProxySlot();
    entry.tcp.used = protocol != Tunnel::Udp;
    entry.udp.used = protocol != Tunnel::Tcp;
    entry.shareKey.clear();
    entry.share = {};
    if (entry.tunnel.isPrivate) {
        preparePrivateEntry(entry, takenNames);
        return;
    }
    QStringList taken = takenNames;
    if (entry.tcp.used) {
        entry.tcp.name = proxyNameFor(entry.tunnel.localPort, QStringLiteral("tcp"), taken);
        taken << entry.tcp.name;
    }
    if (entry.udp.used)
        entry.udp.name = proxyNameFor(entry.tunnel.localPort, QStringLiteral("udp"), taken);
    // The UDP half of TCP+UDP is written once the TCP proxy has its port, to ask for the same number.
    entry.tcp.written = entry.tcp.used;
    entry.udp.written = protocol == Tunnel::Udp;
}

void FrpcManagerPrivate::preparePrivateEntry(TunnelEntry &entry, const QStringList &takenNames)
{
    // The key, and with it the names and the secret, stay the same for the same installation, server
    // entry, local port and protocol; a second private tunnel alike takes a numbered variant. A fresh
    // name never replaces them: the friend's code names them. While the server still holds a name for an
    // earlier session the client tries again until the server lets it go.
    const quint64 installation = ServerConfigManager::instance().installationNumber();
    const QString type = QStringLiteral("private-") + Tunnel::protocolName(entry.tunnel.protocol);
    for (int n = 1;; ++n) {
        entry.shareKey
            = ProxyName::stableName(installation, m_currentConfig.serverAddr, m_currentConfig.serverPort,
                                    entry.tunnel.localPort, n == 1 ? type : type + u'#' + QString::number(n));
        if (!takenNames.contains(entry.shareKey))
            break;
    }
    entry.share = ServerConfigManager::instance().privateShare(entry.shareKey);
    const ShareCode code = shareCodeOf(entry);
    if (entry.tcp.used)
        entry.tcp.name = code.stcpName();
    if (entry.udp.used)
        entry.udp.name = code.sudpName();
    // No port to wait for: every proxy is written at once.
    entry.tcp.written = entry.tcp.used;
    entry.udp.written = entry.udp.used;
}

QString FrpcManagerPrivate::proxyNameFor(int localPort, const QString &type,
                                         const QStringList &takenNames) const
{
    if (m_freshProxyName)
        return ProxyName::freshName();
    // The name of one local port and type is the same as for a connection of that one tunnel; a second
    // tunnel of the same port and type (two rows alike) takes a numbered variant, stable as well.
    const quint64 installation = ServerConfigManager::instance().installationNumber();
    QString name = ProxyName::stableName(installation, m_currentConfig.serverAddr, m_currentConfig.serverPort,
                                         localPort, type);
    for (int n = 2; takenNames.contains(name); ++n)
        name = ProxyName::stableName(installation, m_currentConfig.serverAddr, m_currentConfig.serverPort,
                                     localPort, type + u'#' + QString::number(n));
    return name;
}

QStringList FrpcManagerPrivate::proxyNamesExcept(int index) const
{
    QStringList names;
    for (int i = 0; i < m_tunnels.size(); ++i) {
        if (i != index)
            names << m_tunnels.at(i).tcp.name << m_tunnels.at(i).udp.name << m_tunnels.at(i).shareKey;
    }
    return names;
}

int FrpcManagerPrivate::tunnelOfLine(const QString &line) const
{
    for (int i = 0; i < m_tunnels.size(); ++i) {
        for (const ProxySlot *slot : { &m_tunnels.at(i).tcp, &m_tunnels.at(i).udp }) {
            if (slot->used && line.contains(u'[' + slot->name + u']'))
                return i;
        }
        const TunnelEntry &entry = m_tunnels.at(i);
        if (entry.tunnel.isPrivate && entry.tcp.used
            && line.contains(u'[' + shareCodeOf(entry).xtcpName() + u']'))
            return i;
    }
    return 0;
}

void FrpcManagerPrivate::applyTunnelChange()
{
    updateTunnelWatches();
    noteTunnelsMaybeChanged();
    // Without a running client the tunnels take effect at its next start.
    if (!m_process || m_process->state() == QProcess::NotRunning || !asksClient(m_phase))
        return;
    if (!generateConfigFile(m_currentConfig)) {
        emit q->logMessage(QCoreApplication::translate("FrpcManager", "无法更新配置文件，隧道的更改未生效"));
        return;
    }
    requestReload();
}

QNetworkRequest FrpcManagerPrivate::apiRequest(const QString &path) const
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_webServerPort) + path));
    request.setTransferTimeout(API_TIMEOUT_MS);
    const QByteArray credentials = (m_webUser + QLatin1Char(':') + m_webPassword).toUtf8();
    request.setRawHeader("Authorization", "Basic " + credentials.toBase64());
    return request;
}

void FrpcManagerPrivate::requestReload()
{
    QNetworkReply *reply = networkManager()->get(apiRequest(QStringLiteral("/api/reload")));
    connect(reply, &QNetworkReply::finished, this, &FrpcManagerPrivate::onReloadFinished);
}

void FrpcManagerPrivate::onReloadFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    reply->deleteLater();
    // A reply abandoned when the client ended or was replaced says nothing about the one running now.
    if (reply->error() == QNetworkReply::OperationCanceledError || !m_process || !asksClient(m_phase))
        return;

    const int httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (httpStatus == 404) {
        // An older client without the reload call: only a new client reads the changed file.
        emit q->logMessage(QCoreApplication::translate("FrpcManager",
                                                       "frpc 不支持重新加载配置（/api/reload 返回 404），"
                                                       "正在重启 frpc 以应用隧道的更改"));
        const bool restoring = m_phase != Phase::Launching;
        const ServerConfig config = m_currentConfig;
        cleanup();
        launchClient(config, restoring, m_freshProxyName);
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        const QString detail = QString::fromUtf8(reply->readAll()).trimmed();
        emit q->logMessage(
            reportable(detail.isEmpty() ? reply->errorString() : detail,
                       QCoreApplication::translate("FrpcManager", "frpc 重新加载配置失败: %1")));
        return;
    }
    emit q->logMessage(QCoreApplication::translate("FrpcManager", "frpc 已重新加载配置"));
    // The proxies added or changed report their ports soon; the client's line about each asks again.
    queryRemotePort();
}

bool FrpcManagerPrivate::takeProxyStatuses(const QByteArray &body, bool *valid)
{
    const FrpcClientText::AllProxyStatuses all = FrpcClientText::allProxyStatuses(body);
    *valid = all.valid;
    if (!all.valid)
        return false;
    bool reloadNeeded = false;
    for (TunnelEntry &entry : m_tunnels) {
        for (ProxySlot *slot : { &entry.tcp, &entry.udp }) {
            if (!slot->written)
                continue;
            const FrpcClientText::ProxyStatus status = all.byName.value(slot->name);
            // A private proxy has no port; a public one is up once it has one.
            slot->port = entry.tunnel.isPrivate ? QString() : status.port;
            slot->error = status.error;
            slot->running = status.running;
        }
        if (entry.tunnel.protocol != Tunnel::TcpUdp || entry.tunnel.isPrivate)
            continue;
        if (!entry.udp.written && !entry.tcp.port.isEmpty()) {
            // The server keeps TCP and UDP ports apart: the same number is usually free for UDP.
            entry.udp.written = true;
            entry.udp.askedPort = entry.tcp.port.toInt();
            reloadNeeded = true;
        } else if (entry.udp.written && entry.udp.askedPort != 0 && entry.udp.port.isEmpty()
                   && !entry.udp.error.isEmpty() && !ProxyName::isNameTakenError(entry.udp.error)) {
            emit q->logMessage(
                QCoreApplication::translate(
                    "FrpcManager", "服务器无法为 UDP 提供与 TCP 相同的端口 %1（%2），改用任意空闲端口")
                    .arg(QString::number(entry.udp.askedPort), reportable(entry.udp.error)));
            entry.udp.askedPort = 0;
            entry.udp.error.clear();
            reloadNeeded = true;
        }
    }
    return reloadNeeded;
}

QString FrpcManagerPrivate::shownPort() const
{
    for (const TunnelState &state : tunnelStates()) {
        const QString port = state.port.isEmpty() ? state.udpPort : state.port;
        if (!port.isEmpty())
            return port;
    }
    return {};
}

bool FrpcManagerPrivate::everyProxyRefused() const
{
    bool anyWritten = false;
    for (const TunnelEntry &entry : m_tunnels) {
        for (const ProxySlot *slot : { &entry.tcp, &entry.udp }) {
            if (!slot->written)
                continue;
            anyWritten = true;
            if (isReady(entry, *slot) || slot->error.isEmpty())
                return false;
        }
    }
    return anyWritten;
}

void FrpcManagerPrivate::updateTunnelWatches()
{
    QList<LocalListenerWatch::Target> targets;
    for (const TunnelState &state : tunnelStates()) {
        if (m_phase == Phase::Up && state.isUp())
            targets.append({ state.tunnel.localPort, state.tunnel.protocol == Tunnel::Udp });
    }
    m_listenerWatch->watch(targets);
}

void FrpcManagerPrivate::onWatchHintChanged()
{
    // The hint under the status line is the first tunnel's; the others show theirs on their rows.
    const bool firstHint = tunnelStates().value(0).nobodyListens;
    if (firstHint != m_firstHint) {
        m_firstHint = firstHint;
        emit q->localServiceHintChanged(firstHint);
    }
    noteTunnelsMaybeChanged();
}

void FrpcManagerPrivate::noteTunnelsMaybeChanged()
{
    const QList<TunnelState> states = tunnelStates();
    if (states == m_announcedStates)
        return;
    m_announcedStates = states;
    emit q->tunnelsChanged();
}
