// SPDX-License-Identifier: Apache-2.0
// The tunnel controller: the client process, its file and credentials, and the phases of the tunnel.
#include "core/frpcmanager_p.h"

#include "core/clientoutput.h"
#include "core/connectivitywatch.h"
#include "core/frpcclienttext.h"
#include "core/locallistenerwatch.h"
#include "core/platform/frpcprocesses.h"
#include "core/platform/privatefolders.h"
#include "core/proxyname.h"
#include "core/redaction.h"
#include "core/tunneladdress.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <iterator>

namespace {

const int STOP_GRACE_MS = 2000;
const int ORPHAN_WAIT_MS = 2000;
// How long after a tunnel first comes up the controller begins to follow the network.
const int FOLLOW_CONNECTIVITY_AFTER_UP_MS = 1000;
const int WEB_USER_LENGTH = 16;
const int WEB_PASSWORD_LENGTH = 32;
const int WAIT_PAUSES_MS[] = { 1000, 2000, 4000, 5000 };

// Random letters and digits from the system's cryptographic source.
QString randomText(int length)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const int alphabetSize = int(sizeof(alphabet)) - 1;
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text.append(QLatin1Char(alphabet[QRandomGenerator::system()->bounded(alphabetSize)]));
    return text;
}

} // namespace

FrpcManager::FrpcManager(QObject *parent)
    : QObject(parent)
    , d(new FrpcManagerPrivate(this))
{ }

FrpcManager::~FrpcManager()
{
    // Lets go of the client (its process object ends it) and deletes the client file. The state
    // is left as it is: nothing is reported but the removal of the file.
    d->cleanup();
}

void FrpcManager::start(const ServerConfig &config, int localPort, Tunnel::Protocol protocol)
{
    start(config, { Tunnel { localPort, protocol } });
}

void FrpcManager::start(const ServerConfig &config, const QList<Tunnel> &tunnels)
{
    if (d->m_phase != FrpcManagerPrivate::Phase::Idle && d->m_phase != FrpcManagerPrivate::Phase::Stopping
        && d->m_phase != FrpcManagerPrivate::Phase::Failed)
        stop();
    d->m_tunnels.clear();
    for (const Tunnel &tunnel : tunnels.mid(0, Tunnel::MAX_TUNNELS))
        d->m_tunnels.append({ tunnel, {}, {} });
    if (d->m_tunnels.isEmpty())
        d->m_tunnels.append({ Tunnel { 0, Tunnel::Tcp }, {}, {} });
    d->m_quiet = false;
    d->launchClient(config, false);
}

void FrpcManager::stop()
{
    if (d->m_process && d->m_process->state() != QProcess::NotRunning) {
        emit logMessage(QCoreApplication::translate("FrpcManager", "正在停止隧道..."));
        d->enterPhase(FrpcManagerPrivate::Phase::Stopping);
        d->m_process->terminate();
        // The check concerns this process only: a client started after it must never be killed here.
        const QPointer<QProcess> process = d->m_process;
        QTimer::singleShot(STOP_GRACE_MS, Qt::PreciseTimer, this, [this, process] {
            if (process && process->state() != QProcess::NotRunning) {
                emit logMessage(QCoreApplication::translate("FrpcManager", "进程未响应，强制停止..."));
                process->kill();
            }
        });
        return;
    }

    d->cleanup();
    d->enterPhase(FrpcManagerPrivate::Phase::Idle);
    emit logMessage(QCoreApplication::translate("FrpcManager", "隧道已停止"));
    d->cleanupOrphanedFrpcProcesses();
}

QList<TunnelState> FrpcManager::tunnelStates() const
{
    return d->tunnelStates();
}

FrpcManager::Status FrpcManager::status() const
{
    return FrpcManagerPrivate::statusOf(d->m_phase);
}

QString FrpcManager::remotePort() const
{
    return d->m_remotePort;
}

QString FrpcManager::errorMessage() const
{
    return d->m_errorMessage;
}

Tunnel::Protocol FrpcManager::protocol() const
{
    return d->m_tunnels.isEmpty() ? Tunnel::Tcp : d->m_tunnels.first().tunnel.protocol;
}

FrpcManager::WaitReason FrpcManager::waitReason() const
{
    if (status() != Starting)
        return NotWaiting;
    const bool offline = d->offline();
    if (d->m_waitReason != NotWaiting)
        return offline ? WaitingForNetwork : d->m_waitReason;
    // A tunnel that lost its server while the system has no network waits for the network too.
    if (offline && d->m_phase != FrpcManagerPrivate::Phase::Launching)
        return WaitingForNetwork;
    return NotWaiting;
}

QString FrpcManager::waitHint() const
{
    if (waitReason() == NotWaiting || !d->m_waitHintDue)
        return {};
    return QCoreApplication::translate("FrpcManager",
                                       "服务器 %1 仍无法连接（%2），请检查地址和端口，或等待服务器启动")
        .arg(TunnelAddress::formatHostPort(d->m_currentConfig.serverAddr, d->m_currentConfig.serverPort),
             d->m_waitCause);
}

int FrpcManager::waitPauseMs(int round)
{
    const int last = int(std::size(WAIT_PAUSES_MS)) - 1;
    return WAIT_PAUSES_MS[qBound(0, round, last)];
}

void FrpcManager::setPauses(int restartDelayMs, int queryIntervalMs, int outputQueryDelayMs)
{
    d->m_restartDelayMs = restartDelayMs;
    d->m_queryTimer->setInterval(queryIntervalMs);
    d->m_outputQueryTimer->setInterval(outputQueryDelayMs);
}

void FrpcManager::setOwnVisitWindow(int milliseconds)
{
    d->m_ownVisitWindowMs = milliseconds;
}

FrpcManagerPrivate::FrpcManagerPrivate(FrpcManager *controller)
    : QObject(controller)
    , q(controller)
    , m_queryTimer(new QTimer(this))
    , m_reconnectTimer(new QTimer(this))
    , m_outputQueryTimer(new QTimer(this))
    , m_listenerWatch(new LocalListenerWatch(this))
    , m_waitTimer(new QTimer(this))
    , m_waitHintTimer(new QTimer(this))
{
    connect(m_listenerWatch, &LocalListenerWatch::hintChanged, this, &FrpcManagerPrivate::onWatchHintChanged);
    removeLeftoverConfigFiles();

    // The delays are promises to the user and to the client, not hints: keep them exact.
    m_queryTimer->setTimerType(Qt::PreciseTimer);
    m_queryTimer->setInterval(FrpcManager::QUERY_INTERVAL_MS);
    connect(m_queryTimer, &QTimer::timeout, this, &FrpcManagerPrivate::queryRemotePort);

    // The client writes a line when it logs in, when a proxy starts and when it loses or regains the
    // server: its status is asked for soon after, once for a whole burst of lines.
    m_outputQueryTimer->setSingleShot(true);
    m_outputQueryTimer->setInterval(FrpcManager::OUTPUT_QUERY_DELAY_MS);
    connect(m_outputQueryTimer, &QTimer::timeout, this, &FrpcManagerPrivate::queryRemotePort);

    m_reconnectTimer->setTimerType(Qt::PreciseTimer);
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &FrpcManagerPrivate::onReconnectTimeout);

    // A waiting connection tries again after its pause, or at once when the system woke up or its
    // network came back; one attempt at a time, no timer runs while nothing waits.
    m_waitTimer->setSingleShot(true);
    connect(m_waitTimer, &QTimer::timeout, this, &FrpcManagerPrivate::tryAgainNow);
    m_waitHintTimer->setSingleShot(true);
    m_waitHintTimer->setInterval(FrpcManager::WAIT_HINT_MS);
    connect(m_waitHintTimer, &QTimer::timeout, this, [this] {
        m_waitHintDue = true;
        emit q->waitingChanged(q->waitReason());
    });
}

void FrpcManagerPrivate::followConnectivity()
{
    // Only once a client has ended or a tunnel is up: neither the window's first paint nor the first
    // client's start waits for the system's network information (its first look takes tens of
    // milliseconds).
    if (m_connectivity)
        return;
    m_connectivity = &ConnectivityWatch::instance();
    connect(m_connectivity, &ConnectivityWatch::chanceToConnect, this, &FrpcManagerPrivate::tryAgainNow);
    connect(m_connectivity, &ConnectivityWatch::offlineChanged, this, &FrpcManagerPrivate::onOfflineChanged);
}

bool FrpcManagerPrivate::offline() const
{
    return m_connectivity && m_connectivity->isOffline();
}

FrpcManagerPrivate::~FrpcManagerPrivate() = default;

void FrpcManagerPrivate::launchClient(const ServerConfig &config, bool restoring, bool freshName)
{
    // An old client that has not ended yet (a stop still in progress, or an error that left it
    // running) must not be taken for the new one: cut it off from the slots and end it now.
    releaseProcess();

    const ServerConfig record = config;
    m_currentConfig = record;
    m_webServerPort = record.webServerPort;
    m_remotePort.clear();
    m_errorMessage.clear();
    m_lastErrorLine.clear();
    m_pendingOutput.clear();
    m_pendingErrors.clear();
    m_ownVisits.clear();

    // The server gives a name back the port it had, so the stable name keeps the address the user
    // handed out across connects, restarts of the client and restarts of the program.
    m_freshProxyName = freshName;
    prepareTunnels();
    m_webUser = randomText(WEB_USER_LENGTH);
    m_webPassword = randomText(WEB_PASSWORD_LENGTH);

    note(QCoreApplication::translate("FrpcManager", "正在启动隧道: %1").arg(record.name));
    note(QCoreApplication::translate("FrpcManager", "服务器: %1:%2")
             .arg(record.serverAddr, QString::number(record.serverPort)));
    for (const TunnelEntry &entry : std::as_const(m_tunnels)) {
        const int localPort = entry.tunnel.localPort;
        if (entry.tunnel.isPrivate)
            note(QCoreApplication::translate("FrpcManager", "本地端口: %1 (%2，仅好友)")
                     .arg(QString::number(localPort), Tunnel::protocolName(entry.tunnel.protocol).toUpper()));
        else if (entry.tunnel.protocol == Tunnel::Udp)
            note(QCoreApplication::translate("FrpcManager", "本地端口: %1 (UDP)").arg(localPort));
        else if (entry.tunnel.protocol == Tunnel::TcpUdp)
            note(QCoreApplication::translate("FrpcManager", "本地端口: %1 (TCP+UDP)").arg(localPort));
        else
            note(QCoreApplication::translate("FrpcManager", "本地端口: %1").arg(localPort));
    }

    cleanupOrphanedFrpcProcesses();
    // Without a file of its own the client would run with whatever lies at the path: it is not
    // started, and the tunnel ends here.
    if (!generateConfigFile(record)) {
        const QString text = QCoreApplication::translate("FrpcManager", "无法创建配置文件");
        enterPhase(Phase::Failed, { text, text });
        return;
    }

    m_process = new QProcess(this);
    m_process->setWorkingDirectory(QCoreApplication::applicationDirPath());
    connect(m_process, &QProcess::started, this, &FrpcManagerPrivate::onProcessStarted);
    connect(m_process, &QProcess::finished, this, &FrpcManagerPrivate::onProcessFinished);
    connect(m_process, &QProcess::errorOccurred, this, &FrpcManagerPrivate::onProcessError);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &FrpcManagerPrivate::onProcessOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, &FrpcManagerPrivate::onProcessOutput);
    FrpcProcesses::bindToProgram(*m_process);

    const QString program = getFrpcPath();
    const QStringList arguments = { QStringLiteral("-c"), getConfigPath() };

    // The state changes first: a failure to start may be reported before start() returns, and must
    // then find the controller starting.
    enterPhase(restoring ? Phase::Relaunching : Phase::Launching);
    m_process->start(program, arguments, QIODevice::ReadWrite);
    // Made while the client starts up, in time for its first status query.
    networkManager();
}

QNetworkAccessManager *FrpcManagerPrivate::networkManager()
{
    // Made on first use: a program that is never connected does not load the toolkit's HTTP code.
    if (!m_networkManager) {
        m_networkManager = new QNetworkAccessManager(this);
        // The client's web API is always on this machine; a proxy from the environment must not see it.
        m_networkManager->setProxy(QNetworkProxy::NoProxy);
    }
    return m_networkManager;
}

void FrpcManagerPrivate::onProcessStarted()
{
    note(QCoreApplication::translate("FrpcManager", "frpc 进程已启动"));
}

void FrpcManagerPrivate::onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitStatus);
    followConnectivity();
    // The last words of the client may lack a line feed. They are logged and judged before the
    // queries stop, so that they cannot ask the ended client for its status.
    readOutput({}, m_pendingOutput, false, true);
    readOutput({}, m_pendingErrors, true, true);
    note(QCoreApplication::translate("FrpcManager", "frpc 进程已退出 (代码: %1)").arg(exitCode));
    // Every phase entered from here stops the queries: a reply still on its way came from the client
    // that has just ended.

    // A client that could not reach its server, or a tunnel that ended while the system has no
    // network, waits for the next attempt; none of this counts as a failed reconnection.
    const bool offline = this->offline();
    const ClientOutput::Unreachability why = ClientOutput::unreachability(m_lastErrorLine);
    if ((m_phase == Phase::Launching || m_phase == Phase::Relaunching)
        && why.kind != ClientOutput::Unreachable::No) {
        const bool network = offline || why.kind == ClientOutput::Unreachable::Network;
        startWaiting(network ? FrpcManager::WaitingForNetwork : FrpcManager::WaitingForServer, why.reason,
                     m_phase == Phase::Relaunching);
        return;
    }
    if (offline && (m_phase == Phase::Up || m_phase == Phase::Recovering || m_phase == Phase::Relaunching)) {
        startWaiting(FrpcManager::WaitingForNetwork, QCoreApplication::translate("FrpcManager", "网络不可用"),
                     true);
        return;
    }

    if (m_phase == Phase::Up || m_phase == Phase::Recovering || m_phase == Phase::Relaunching) {
        // The established tunnel dropped, or a client started to restore it ended before it was up.
        ++m_reconnectAttempts;
        emit q->logMessage(QCoreApplication::translate("FrpcManager", "检测到连接断开，准备重连..."));
        enterPhase(Phase::Restarting);
    } else if (m_phase == Phase::Stopping) {
        cleanup();
        enterPhase(Phase::Idle);
        emit q->logMessage(QCoreApplication::translate("FrpcManager", "隧道已停止"));
        cleanupOrphanedFrpcProcesses();
    } else {
        // The client of a new tunnel ended before the tunnel was ever up (typically a failed login),
        // or after an error that has already been shown.
        const bool failedStart = m_phase == Phase::Launching;
        cleanup();
        enterPhase(Phase::Idle);
        if (failedStart)
            reportFailedStart(exitCode);
    }
}

void FrpcManagerPrivate::onReconnectTimeout()
{
    if (m_phase != Phase::Restarting)
        return;
    if (offline()) {
        startWaiting(FrpcManager::WaitingForNetwork, QCoreApplication::translate("FrpcManager", "网络不可用"),
                     true);
        return;
    }

    if (m_reconnectAttempts >= FrpcManager::MAX_RECONNECT_ATTEMPTS) {
        enterPhase(Phase::Failed,
                   { QCoreApplication::translate("FrpcManager", "重连失败次数过多，已停止"),
                     QCoreApplication::translate("FrpcManager", "重连失败"), false });
        return;
    }

    emit q->logMessage(QCoreApplication::translate("FrpcManager", "尝试重连... (%1/%2)")
                           .arg(m_reconnectAttempts + 1)
                           .arg(FrpcManager::MAX_RECONNECT_ATTEMPTS));
    // The state stays FrpcManager::Starting: the ended client and its file are released without a stop, so the
    // owner sees one unbroken attempt to bring the tunnel back.
    cleanup();
    const ServerConfig config = m_currentConfig;
    launchClient(config, true);
}

FrpcManager::Status FrpcManagerPrivate::statusOf(Phase phase)
{
    switch (phase) {
    case Phase::Idle:
        return FrpcManager::Stopped;
    case Phase::Launching:
    case Phase::Recovering:
    case Phase::Restarting:
    case Phase::Relaunching:
    case Phase::Waiting:
        return FrpcManager::Starting;
    case Phase::Up:
        return FrpcManager::Running;
    case Phase::Stopping:
        return FrpcManager::Stopping;
    case Phase::Failed:
        return FrpcManager::Error;
    }
    return FrpcManager::Stopped;
}

bool FrpcManagerPrivate::asksClient(Phase phase)
{
    return phase == Phase::Launching || phase == Phase::Up || phase == Phase::Recovering
        || phase == Phase::Relaunching;
}

void FrpcManagerPrivate::enterPhase(Phase phase, const Failure &failure)
{
    const Phase previous = m_phase;

    // The periodic query runs while the tunnel is on its way up; the one after output whenever the
    // client is asked at all; the pause before a restart only while a restart is pending.
    if (!asksClient(phase))
        stopQueries();
    else if (phase == Phase::Up)
        m_queryTimer->stop();
    else
        m_queryTimer->start();
    if (phase == Phase::Restarting)
        m_reconnectTimer->start(m_restartDelayMs);
    else
        m_reconnectTimer->stop();
    if (phase == Phase::Waiting)
        m_waitTimer->start(FrpcManager::waitPauseMs(m_waitRound++));
    else
        m_waitTimer->stop();

    // Each piece of state lives as long as what it belongs to.
    if (phase == Phase::Launching) {
        m_reconnectAttempts = 0;
        m_shownProxyErrors.clear();
    }
    if (phase == Phase::Up && previous != Phase::Up) {
        m_reconnectAttempts = 0;
        m_localServiceHintGiven = false;
        // Once the address has been shown: a tunnel that is up follows the network from then on.
        if (!m_connectivity)
            QTimer::singleShot(FOLLOW_CONNECTIVITY_AFTER_UP_MS, this, [this] { followConnectivity(); });
    }
    // Ports and refusals are what the running client last said; without one, nothing is known.
    if (!asksClient(phase)) {
        for (TunnelEntry &entry : m_tunnels) {
            for (ProxySlot *slot : { &entry.tcp, &entry.udp }) {
                slot->port.clear();
                slot->error.clear();
                slot->running = false;
            }
        }
    }
    if (phase != Phase::Up)
        m_remotePort.clear();
    if (phase == Phase::Up)
        endWaiting(QCoreApplication::translate("FrpcManager", "已连接到服务器，结束等待"));
    else if (statusOf(phase) != FrpcManager::Starting)
        endWaiting(QCoreApplication::translate("FrpcManager", "已停止等待"));

    // A failure is told while the old state still holds: the box that shows it may run the event loop
    // for a long time, and the queries stopped above cannot reach the controller meanwhile.
    if (!failure.error.isEmpty()) {
        emit q->logMessage(failure.logText);
        emit q->errorOccurred(failure.error);
        if (failure.remembered)
            m_errorMessage = failure.error;
    }

    m_phase = phase;
    if (previous == Phase::Up
        && (phase == Phase::Recovering || phase == Phase::Restarting || phase == Phase::Waiting))
        emit q->tunnelEvent(FrpcManager::TunnelLost, QString());
    if (statusOf(previous) != statusOf(phase))
        emit q->statusChanged(statusOf(phase));
    announceWaiting();
    updateTunnelWatches();
    noteTunnelsMaybeChanged();
}

bool FrpcManagerPrivate::generateConfigFile(const ServerConfig &config)
{
    QFile file;
    if (!PrivateFolders::createOwnerOnlyFile(file, getConfigPath()))
        return false;

    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::Utf8);
    QList<FrpcClientText::ProxyEntry> proxies;
    for (const TunnelEntry &entry : std::as_const(m_tunnels)) {
        if (entry.tunnel.isPrivate) {
            const ShareCode code = shareCodeOf(entry);
            const int localPort = entry.tunnel.localPort;
            if (entry.tcp.written) {
                proxies.append({ entry.tcp.name, QStringLiteral("stcp"), localPort, 0, code.secretKey });
                proxies.append({ code.xtcpName(), QStringLiteral("xtcp"), localPort, 0, code.secretKey });
            }
            if (entry.udp.written)
                proxies.append({ entry.udp.name, QStringLiteral("sudp"), localPort, 0, code.secretKey });
            continue;
        }
        if (entry.tcp.written)
            proxies.append(
                { entry.tcp.name, QStringLiteral("tcp"), entry.tunnel.localPort, entry.tcp.askedPort });
        if (entry.udp.written)
            proxies.append(
                { entry.udp.name, QStringLiteral("udp"), entry.tunnel.localPort, entry.udp.askedPort });
    }
    stream << FrpcClientText::configFile(config, proxies, { m_webUser, m_webPassword });
    stream.flush();
    const bool streamOk = stream.status() == QTextStream::Ok;
    file.close();
    // A file that could not be written completely is a failure too, never reported as generated;
    // what was written of it is removed.
    if (!streamOk || file.error() != QFileDevice::NoError) {
        file.remove();
        return false;
    }
    note(QCoreApplication::translate("FrpcManager", "配置文件已生成"));
    return true;
}

QString FrpcManagerPrivate::getConfigPath() const
{
    const QString folder = PrivateFolders::runtimeFolder();
    if (folder.isEmpty())
        return {};
    return folder + QStringLiteral("/frpc_") + QString::number(QCoreApplication::applicationPid())
        + QStringLiteral(".toml");
}

void FrpcManagerPrivate::removeLeftoverConfigFiles()
{
    // A run that ended without cleaning up (a crash, a forced kill, a power cut) left its client
    // file behind, with the server's token in it. Only this user's files of runs that no longer go on
    // are removed.
    const QString folder = PrivateFolders::runtimeFolder();
    if (folder.isEmpty())
        return;
    // "frpc_<pid>.toml", read without patterns: this runs at every start, before the first paint.
    const QLatin1String prefix("frpc_");
    const QLatin1String suffix(".toml");
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        const QString name = file.fileName();
        if (!name.startsWith(prefix) || !name.endsWith(suffix))
            continue;
        const QStringView digits
            = QStringView(name).mid(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (digits.isEmpty() || digits.size() > 10
            || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            continue;
        const qint64 pid = digits.toLongLong();
        if (pid != QCoreApplication::applicationPid() && !FrpcProcesses::isThisProgram(pid))
            PrivateFolders::removeOwnFile(file.filePath());
    }
}

QString FrpcManagerPrivate::getFrpcPath() const
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + FrpcProcesses::programFileName();
}

void FrpcManagerPrivate::cleanup()
{
    releaseProcess();
    m_remotePort.clear();
    // Removing fails for a missing file or one that is not ours; either way nothing is reported then.
    if (PrivateFolders::removeOwnFile(getConfigPath()))
        note(QCoreApplication::translate("FrpcManager", "配置文件已删除"));
}

void FrpcManagerPrivate::releaseProcess()
{
    if (!m_process)
        return;
    QProcess *process = m_process;
    m_process = nullptr;
    disconnect(process, nullptr, this, nullptr);
    // Callers release a client that has ended, except when the controller is destroyed or replaces a
    // client that is still ending; such a client is ended here.
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(STOP_GRACE_MS);
    }
    process->deleteLater();
}

void FrpcManagerPrivate::note(const QString &text)
{
    if (!m_quiet)
        emit q->logMessage(text);
}

void FrpcManagerPrivate::startWaiting(FrpcManager::WaitReason reason, const QString &cause, bool restoring)
{
    const bool begins = m_waitReason == FrpcManager::NotWaiting;
    m_waitReason = reason;
    m_waitCause = cause;
    m_waitRestoring = restoring;
    cleanup();
    if (begins) {
        m_waitRound = 0;
        m_waitHintDue = false;
        m_waitHintTimer->start();
        const QString server
            = TunnelAddress::formatHostPort(m_currentConfig.serverAddr, m_currentConfig.serverPort);
        emit q->logMessage(
            (reason == FrpcManager::WaitingForNetwork
                 ? QCoreApplication::translate("FrpcManager", "无法连接服务器 %1（%2），等待网络，将自动重试")
                 : QCoreApplication::translate("FrpcManager",
                                               "无法连接服务器 %1（%2），等待服务器，将自动重试"))
                .arg(server, cause));
    }
    // The attempts that follow are logged only once one of them reaches the server.
    m_quiet = true;
    enterPhase(Phase::Waiting);
}

void FrpcManagerPrivate::tryAgainNow()
{
    if (m_phase != Phase::Waiting)
        return;
    m_waitTimer->stop();
    const ServerConfig config = m_currentConfig;
    launchClient(config, m_waitRestoring);
}

void FrpcManagerPrivate::endWaiting(const QString &logText)
{
    m_quiet = false;
    if (m_waitReason == FrpcManager::NotWaiting)
        return;
    m_waitReason = FrpcManager::NotWaiting;
    m_waitCause.clear();
    m_waitHintDue = false;
    m_waitHintTimer->stop();
    emit q->logMessage(logText);
}

void FrpcManagerPrivate::announceWaiting()
{
    const FrpcManager::WaitReason reason = q->waitReason();
    if (reason == m_announcedWaitReason)
        return;
    m_announcedWaitReason = reason;
    emit q->waitingChanged(reason);
}

void FrpcManagerPrivate::onOfflineChanged()
{
    announceWaiting();
}

void FrpcManagerPrivate::cleanupOrphanedFrpcProcesses()
{
    FrpcProcesses::endAll(getFrpcPath(), ORPHAN_WAIT_MS);
}
