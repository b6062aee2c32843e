// SPDX-License-Identifier: Apache-2.0
// The tunnel controller: the client process, its file and credentials, and the phases of the tunnel.
#include "core/frpcmanager_p.h"

#include "core/frpcclienttext.h"
#include "core/locallistenerwatch.h"
#include "core/platform/frpcprocesses.h"
#include "core/platform/privatefolders.h"
#include "core/proxyname.h"
#include "core/redaction.h"

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
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

namespace {

const int STOP_GRACE_MS = 2000;
const int ORPHAN_WAIT_MS = 2000;
const int WEB_USER_LENGTH = 16;
const int WEB_PASSWORD_LENGTH = 32;

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
    d->launchClient(config, false);
}

void FrpcManager::stop()
{
    if (d->m_process && d->m_process->state() != QProcess::NotRunning) {
        emit logMessage(QStringLiteral("正在停止隧道..."));
        d->enterPhase(FrpcManagerPrivate::Phase::Stopping);
        d->m_process->terminate();
        // The check concerns this process only: a client started after it must never be killed here.
        const QPointer<QProcess> process = d->m_process;
        QTimer::singleShot(STOP_GRACE_MS, Qt::PreciseTimer, this, [this, process] {
            if (process && process->state() != QProcess::NotRunning) {
                emit logMessage(QStringLiteral("进程未响应，强制停止..."));
                process->kill();
            }
        });
        return;
    }

    d->cleanup();
    d->enterPhase(FrpcManagerPrivate::Phase::Idle);
    emit logMessage(QStringLiteral("隧道已停止"));
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
    , m_networkManager(new QNetworkAccessManager(this))
    , m_listenerWatch(new LocalListenerWatch(this))
{
    connect(m_listenerWatch, &LocalListenerWatch::hintChanged, this, &FrpcManagerPrivate::onWatchHintChanged);
    removeLeftoverConfigFiles();

    // The client's web API is always on this machine; a proxy from the environment must not see it.
    m_networkManager->setProxy(QNetworkProxy::NoProxy);

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

    emit q->logMessage(QStringLiteral("正在启动隧道: %1").arg(record.name));
    emit q->logMessage(
        QStringLiteral("服务器: %1:%2").arg(record.serverAddr, QString::number(record.serverPort)));
    for (const TunnelEntry &entry : std::as_const(m_tunnels)) {
        const int localPort = entry.tunnel.localPort;
        if (entry.tunnel.protocol == Tunnel::Udp)
            emit q->logMessage(QStringLiteral("本地端口: %1 (UDP)").arg(localPort));
        else if (entry.tunnel.protocol == Tunnel::TcpUdp)
            emit q->logMessage(QStringLiteral("本地端口: %1 (TCP+UDP)").arg(localPort));
        else
            emit q->logMessage(QStringLiteral("本地端口: %1").arg(localPort));
    }

    cleanupOrphanedFrpcProcesses();
    // Without a file of its own the client would run with whatever lies at the path: it is not
    // started, and the tunnel ends here.
    if (!generateConfigFile(record)) {
        const QString text = QStringLiteral("无法创建配置文件");
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
}

void FrpcManagerPrivate::onProcessStarted()
{
    emit q->logMessage(QStringLiteral("frpc 进程已启动"));
}

void FrpcManagerPrivate::onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitStatus);
    // The last words of the client may lack a line feed. They are logged and judged before the
    // queries stop, so that they cannot ask the ended client for its status.
    readOutput({}, m_pendingOutput, false, true);
    readOutput({}, m_pendingErrors, true, true);
    emit q->logMessage(QStringLiteral("frpc 进程已退出 (代码: %1)").arg(exitCode));
    // Every phase entered from here stops the queries: a reply still on its way came from the client
    // that has just ended.

    if (m_phase == Phase::Up || m_phase == Phase::Recovering || m_phase == Phase::Relaunching) {
        // The established tunnel dropped, or a client started to restore it ended before it was up.
        ++m_reconnectAttempts;
        emit q->logMessage(QStringLiteral("检测到连接断开，准备重连..."));
        enterPhase(Phase::Restarting);
    } else if (m_phase == Phase::Stopping) {
        cleanup();
        enterPhase(Phase::Idle);
        emit q->logMessage(QStringLiteral("隧道已停止"));
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

    if (m_reconnectAttempts >= FrpcManager::MAX_RECONNECT_ATTEMPTS) {
        enterPhase(Phase::Failed,
                   { QStringLiteral("重连失败次数过多，已停止"), QStringLiteral("重连失败"), false });
        return;
    }

    emit q->logMessage(QStringLiteral("尝试重连... (%1/%2)")
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

    // Each piece of state lives as long as what it belongs to.
    if (phase == Phase::Launching) {
        m_reconnectAttempts = 0;
        m_shownProxyErrors.clear();
    }
    if (phase == Phase::Up && previous != Phase::Up) {
        m_reconnectAttempts = 0;
        m_localServiceHintGiven = false;
    }
    // Ports and refusals are what the running client last said; without one, nothing is known.
    if (!asksClient(phase)) {
        for (TunnelEntry &entry : m_tunnels) {
            for (ProxySlot *slot : { &entry.tcp, &entry.udp }) {
                slot->port.clear();
                slot->error.clear();
            }
        }
    }
    if (phase != Phase::Up)
        m_remotePort.clear();

    // A failure is told while the old state still holds: the box that shows it may run the event loop
    // for a long time, and the queries stopped above cannot reach the controller meanwhile.
    if (!failure.error.isEmpty()) {
        emit q->logMessage(failure.logText);
        emit q->errorOccurred(failure.error);
        if (failure.remembered)
            m_errorMessage = failure.error;
    }

    m_phase = phase;
    if (previous == Phase::Up && (phase == Phase::Recovering || phase == Phase::Restarting))
        emit q->tunnelEvent(FrpcManager::TunnelLost, QString());
    if (statusOf(previous) != statusOf(phase))
        emit q->statusChanged(statusOf(phase));
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
    emit q->logMessage(QStringLiteral("配置文件已生成"));
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
    static const QRegularExpression clientFileName(QStringLiteral("^frpc_([0-9]{1,10})\\.toml$"));
    QDirIterator files(folder, { QStringLiteral("frpc_*.toml") },
                       QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        const QRegularExpressionMatch match = clientFileName.match(file.fileName());
        if (!match.hasMatch())
            continue;
        const qint64 pid = match.captured(1).toLongLong();
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
        emit q->logMessage(QStringLiteral("配置文件已删除"));
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

void FrpcManagerPrivate::cleanupOrphanedFrpcProcesses()
{
    FrpcProcesses::endAll(getFrpcPath(), ORPHAN_WAIT_MS);
}
