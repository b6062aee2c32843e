// SPDX-License-Identifier: Apache-2.0
// What the running client reports to the tunnel controller: its output, kept as whole lines, logged
// and judged, and its replies to the status queries that tell the remote port.
#include "core/frpcmanager_p.h"

#include "core/clientoutput.h"
#include "core/frpcclienttext.h"
#include "core/locallistenerwatch.h"
#include "core/proxyname.h"
#include "core/redaction.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {

// A status reply larger than this is not the client's: it is dropped unread.
const qint64 STATUS_REPLY_LIMIT = 1024 * 1024;

} // namespace

// The client's last line that may say why it failed is the most useful one. frp 0.66, for instance,
// ends a login with a wrong token with
//     [E] ... token in login doesn't match token from configuration
//     [W] ... connect to server error: token in login doesn't match token from configuration
//     [I] ... frpc service for config file [...] stopped
//     login to the server failed: token in login doesn't match token from configuration. With
//     loginFailExit enabled, no additional retries will be attempted
// and an unreachable server the same way, with "dial tcp ...: connect: connection refused" and no
// [E] line: the informational lines are passed over, and the plain last words are shown.
void FrpcManagerPrivate::reportFailedStart(int exitCode)
{
    const QString reason = m_lastErrorLine.isEmpty()
        ? QCoreApplication::translate("FrpcManager", "frpc 进程已退出 (代码: %1)").arg(exitCode)
        : reportable(m_lastErrorLine);
    m_errorMessage = QCoreApplication::translate("FrpcManager", "连接失败: %1").arg(reason);
    emit q->errorOccurred(m_errorMessage);
}

void FrpcManagerPrivate::onProcessError(QProcess::ProcessError error)
{
    if (m_phase == Phase::Idle || m_phase == Phase::Stopping)
        return;

    QString text;
    switch (error) {
    case QProcess::FailedToStart:
        text = QCoreApplication::translate("FrpcManager", "frpc 启动失败，请检查 frpc.exe 是否存在");
        break;
    case QProcess::Crashed:
        text = QCoreApplication::translate("FrpcManager", "frpc 进程崩溃");
        break;
    default:
        text = QCoreApplication::translate("FrpcManager", "frpc 进程错误: %1").arg(int(error));
        break;
    }

    enterPhase(Phase::Failed, { text, text });
}

void FrpcManagerPrivate::onProcessOutput()
{
    if (!m_process)
        return;
    const QByteArray output = m_process->readAllStandardOutput();
    const QByteArray errors = m_process->readAllStandardError();
    readOutput(output, m_pendingOutput, false);
    readOutput(errors, m_pendingErrors, true);
}

void FrpcManagerPrivate::readOutput(const QByteArray &bytes, QByteArray &pending, bool onStandardError,
                                    bool clientEnded)
{
    const QStringList lines = ClientOutput::takeLines(pending, bytes, clientEnded);
    // An attempt of a waiting connection has reached the server: the wait is over, and its client
    // is heard again.
    if (m_waitReason != FrpcManager::NotWaiting
        && std::any_of(lines.begin(), lines.end(), ClientOutput::isLoginSuccessLine)) {
        endWaiting(QCoreApplication::translate("FrpcManager", "已连接到服务器，结束等待"));
        announceWaiting();
    }
    // The pending text is taken before anything is shown: a box shown while judging runs the event
    // loop, which may deliver more output. The attempts of a wait are not logged.
    for (const QString &line : lines) {
        if (!m_quiet)
            emit q->logMessage(ClientOutput::logText(line, onStandardError, secrets()));
    }
    judgeLines(lines, onStandardError);
}

void FrpcManagerPrivate::judgeLines(const QStringList &lines, bool onStandardError)
{
    const ClientOutput::Verdict verdict = ClientOutput::judge(lines, onStandardError);
    if (!verdict.errorLine.isEmpty())
        m_lastErrorLine = verdict.errorLine;
    const bool newsFromClient = verdict.newsFromClient;
    const bool nameTaken = verdict.nameTaken;
    bool visitorReachedNothing = false;
    for (const QString &line : verdict.unreachableLines) {
        // The other tunnels show the hint on their rows, from their own watch; the address check's
        // own visit to a tunnel is no visitor, and is counted off that tunnel's visits only.
        const int tunnel = tunnelOfLine(line);
        if (!takeOwnVisit(tunnel) && tunnel == 0)
            visitorReachedNothing = true;
    }
    // A proxy that started has its port in the status at once: asked without waiting. A web API that
    // has just begun to listen is asked at once too: its reply names no port yet, but the connection
    // stays open for the query that finds the port. Other news is asked about once for a whole burst
    // of lines.
    if (newsFromClient && asksClient(m_phase)) {
        if (verdict.proxyStarted || verdict.webApiListening) {
            m_outputQueryTimer->stop();
            queryRemotePort();
        } else if (!m_outputQueryTimer->isActive()) {
            m_outputQueryTimer->start();
        }
    }
    if (nameTaken)
        noteNameTaken();
    // Last: the box that shows it may run the event loop for a long time.
    if (visitorReachedNothing)
        reportUnreachableLocalService();
}

QStringList FrpcManagerPrivate::secrets() const
{
    QStringList secrets = { m_currentConfig.token, m_webPassword };
    for (const TunnelEntry &entry : m_tunnels) {
        if (entry.tunnel.isPrivate)
            secrets << entry.share.secretKey;
    }
    return secrets;
}

QString FrpcManagerPrivate::reportable(const QString &text, const QString &format) const
{
    const QString filtered = Redaction::filterSensitiveInfo(text);
    return Redaction::hideSecrets(format.isEmpty() ? filtered : format.arg(filtered), secrets());
}

void FrpcManagerPrivate::reportUnreachableLocalService()
{
    // Once for every established tunnel; the log goes on showing each visit.
    if (m_phase != Phase::Up || m_localServiceHintGiven || m_tunnels.isEmpty())
        return;
    // Whether the window shows the hint already: a look at the local ports still due is taken now.
    m_listenerWatch->lookNowIfDue();
    m_localServiceHintGiven = true;
    const TunnelEntry &first = m_tunnels.first();
    const QString text
        = QCoreApplication::translate("FrpcManager", "访问者无法连接：本地端口 %1 上没有程序在监听")
              .arg(first.tunnel.localPort);
    emit q->logMessage(text);
    // While the window shows the hint, it has already said so.
    if (!m_firstHint)
        emit q->errorOccurred(text);
}

QString FrpcManagerPrivate::ownVisitProxy(int tunnel) const
{
    return m_tunnels.value(tunnel).tcp.name;
}

void FrpcManager::expectOwnVisit(int tunnel)
{
    d->m_ownVisits[d->ownVisitProxy(tunnel)].append(QDeadlineTimer(d->m_ownVisitWindowMs));
}

void FrpcManager::withdrawOwnVisit(int tunnel)
{
    // The connection that failed is the latest one.
    const auto found = d->m_ownVisits.find(d->ownVisitProxy(tunnel));
    if (found != d->m_ownVisits.end() && !found->isEmpty())
        found->removeLast();
}

bool FrpcManagerPrivate::takeOwnVisit(int tunnel)
{
    const auto found = m_ownVisits.find(ownVisitProxy(tunnel));
    if (found == m_ownVisits.end())
        return false;
    QList<QDeadlineTimer> &visits = *found;
    while (!visits.isEmpty() && visits.first().hasExpired())
        visits.removeFirst();
    if (visits.isEmpty()) {
        m_ownVisits.erase(found);
        return false;
    }
    visits.removeFirst();
    return true;
}

void FrpcManagerPrivate::noteNameTaken()
{
    // Only public proxies take fresh names; private ones wait for theirs.
    const bool anyPublic = std::any_of(m_tunnels.begin(), m_tunnels.end(),
                                       [](const TunnelEntry &entry) { return !entry.tunnel.isPrivate; });
    if (!anyPublic || m_freshProxyName || !m_process
        || (m_phase != Phase::Launching && m_phase != Phase::Relaunching && m_phase != Phase::Recovering))
        return;
    // Replaced once control returns to the event loop: the output or the reply being read now is the
    // client's that is to be replaced.
    const QPointer<QProcess> client = m_process;
    QMetaObject::invokeMethod(
        this, [this, client] { replaceTakenName(client); }, Qt::QueuedConnection);
}

void FrpcManagerPrivate::replaceTakenName(QProcess *client)
{
    // The line and the status reply may both have asked for it: only the first request for the
    // client still running is carried out.
    if (!client || client != m_process || m_freshProxyName
        || (m_phase != Phase::Launching && m_phase != Phase::Relaunching && m_phase != Phase::Recovering))
        return;
    // An earlier session of the same name (a client that lost its path and was replaced) is held by
    // the server until it notices the loss; the client alone would wait for that.
    emit q->logMessage(
        QCoreApplication::translate(
            "FrpcManager", "服务器仍保留着上一次连接的隧道名称 %1，改用新名称连接（远程端口将会改变）")
            .arg(firstProxyName()));
    const bool restoring = m_phase != Phase::Launching;
    cleanup();
    const ServerConfig config = m_currentConfig;
    launchClient(config, restoring, true);
}

void FrpcManagerPrivate::queryRemotePort()
{
    QNetworkReply *reply = networkManager()->get(apiRequest(QStringLiteral("/api/status")));
    connect(reply, &QNetworkReply::finished, this, &FrpcManagerPrivate::onQueryFinished);
    // An oversized reply is cut off as soon as it shows its size; it then finishes with an error.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > STATUS_REPLY_LIMIT || total > STATUS_REPLY_LIMIT)
            reply->abort();
    });
}

void FrpcManagerPrivate::onQueryFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    reply->deleteLater();

    // A failed query tells nothing about the tunnel.
    if (reply->error() != QNetworkReply::NoError || reply->bytesAvailable() > STATUS_REPLY_LIMIT)
        return;
    // Only a tunnel on its way up, or already up, takes a port from a reply.
    if (!asksClient(m_phase))
        return;

    bool valid = false;
    const bool reloadNeeded = takeProxyStatuses(reply->readAll(), &valid);
    if (!valid)
        return;

    // A private tunnel is up without a port: the port may stay empty while the connection is up.
    const QString port = shownPort();
    if (!anyTunnelUp()) {
        // The client has lost the server, or the server refused the proxies; the client keeps trying.
        // A client that ends from here on ends a tunnel that was up: it is restarted.
        if (m_phase == Phase::Up) {
            emit q->logMessage(
                QCoreApplication::translate("FrpcManager", "隧道已断开，等待 frpc 重新连接..."));
            enterPhase(Phase::Recovering);
        }
    } else if (m_phase == Phase::Up) {
        // The client logged in again and the server assigned another port.
        if (!port.isEmpty() && port != m_remotePort) {
            m_remotePort = port;
            emit q->logMessage(QCoreApplication::translate("FrpcManager", "远程端口已变更: %1").arg(port));
            emit q->tunnelEvent(FrpcManager::TunnelPortChanged, port);
            emit q->remotePortReady(port);
        }
    } else {
        const FrpcManager::TunnelEvent event
            = m_phase == Phase::Launching ? FrpcManager::TunnelEstablished : FrpcManager::TunnelRestored;
        m_remotePort = port;
        enterPhase(Phase::Up);
        emit q->logMessage(
            port.isEmpty()
                ? QCoreApplication::translate("FrpcManager", "隧道已建立！仅好友可连接，服务器未开放公网端口")
                : QCoreApplication::translate("FrpcManager", "隧道已建立！远程端口: %1").arg(port));
        emit q->tunnelEvent(event, port);
        emit q->remotePortReady(port);
    }
    updateTunnelWatches();
    noteTunnelsMaybeChanged();
    if (reloadNeeded)
        applyTunnelChange();

    // Last: the box that shows it may run the event loop for a long time. A refused proxy is told on
    // its own row while others run; only when the server refuses them all is the connection's error.
    bool nameTaken = false;
    QStringList refusals;
    for (const TunnelEntry &entry : std::as_const(m_tunnels)) {
        for (const ProxySlot *slot : { &entry.tcp, &entry.udp }) {
            if (!slot->written || slot->error.isEmpty() || isReady(entry, *slot))
                continue;
            // A private tunnel keeps its names (its code names them): the client tries again until the
            // server lets go of the earlier session's.
            if (ProxyName::isNameTakenError(slot->error) && entry.tunnel.isPrivate)
                continue;
            if (ProxyName::isNameTakenError(slot->error) && !m_freshProxyName)
                nameTaken = true;
            else
                refusals << slot->error;
        }
    }
    if (nameTaken) {
        noteNameTaken();
    } else if (!refusals.isEmpty() && everyProxyRefused()) {
        reportProxyError(refusals.first());
    } else {
        for (const QString &refusal : std::as_const(refusals)) {
            const QString key = QStringLiteral("row:") + refusal;
            if (m_shownProxyErrors.contains(key))
                continue;
            m_shownProxyErrors.append(key);
            emit q->logMessage(reportable(
                refusal, QCoreApplication::translate("FrpcManager", "服务器拒绝了其中一个隧道: %1")));
        }
    }
}

void FrpcManagerPrivate::reportProxyError(const QString &proxyError)
{
    if (m_shownProxyErrors.contains(proxyError))
        return;
    m_shownProxyErrors.append(proxyError);
    const QString text
        = reportable(proxyError, QCoreApplication::translate("FrpcManager", "服务器拒绝了隧道: %1"));
    emit q->logMessage(text);
    emit q->errorOccurred(text);
}

void FrpcManagerPrivate::stopQueries()
{
    m_queryTimer->stop();
    m_outputQueryTimer->stop();
    if (!m_networkManager)
        return;
    const QList<QNetworkReply *> replies = m_networkManager->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies) {
        if (reply->isRunning())
            reply->abort();
    }
    // The connections kept open to a client that ended would hold up the queries of the next one
    // (it listens on the same port): they are closed with it.
    m_networkManager->clearConnectionCache();
}
