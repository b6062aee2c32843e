#include "frpcmanager.h"

#include "frpcclienttext.h"
#include "frpcprocesses.h"
#include "localportprobe.h"
#include "privatefolders.h"
#include "proxyname.h"
#include "redaction.h"

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
const int QUERY_TIMEOUT_MS = 3000;
const int WEB_USER_LENGTH = 16;
const int WEB_PASSWORD_LENGTH = 32;
// A status reply larger than this is not the client's: it is dropped unread.
const qint64 STATUS_REPLY_LIMIT = 1024 * 1024;
// A client that writes this many bytes without a line feed has them logged and judged as one line.
constexpr qsizetype MAX_PENDING_LINE = 64 * 1024;

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
    , m_process(nullptr)
    , m_queryTimer(new QTimer(this))
    , m_reconnectTimer(new QTimer(this))
    , m_outputQueryTimer(new QTimer(this))
    , m_networkManager(new QNetworkAccessManager(this))
    , m_listenerWatch(new LocalListenerWatch(this))
{
    removeLeftoverConfigFiles();

    // The client's web API is always on this machine; a proxy from the environment must not see it.
    m_networkManager->setProxy(QNetworkProxy::NoProxy);

    // The delays are promises to the user and to the client, not hints: keep them exact.
    m_queryTimer->setTimerType(Qt::PreciseTimer);
    m_queryTimer->setInterval(QUERY_INTERVAL_MS);
    connect(m_queryTimer, &QTimer::timeout, this, &FrpcManager::queryRemotePort);

    // The client writes a line when it logs in, when a proxy starts and when it loses or regains the
    // server: its status is asked for soon after, once for a whole burst of lines.
    m_outputQueryTimer->setSingleShot(true);
    m_outputQueryTimer->setInterval(OUTPUT_QUERY_DELAY_MS);
    connect(m_outputQueryTimer, &QTimer::timeout, this, &FrpcManager::queryRemotePort);

    m_reconnectTimer->setTimerType(Qt::PreciseTimer);
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &FrpcManager::onReconnectTimeout);

    connect(m_listenerWatch, &LocalListenerWatch::hintChanged, this, &FrpcManager::localServiceHintChanged);
}

FrpcManager::~FrpcManager()
{
    // Lets go of the client (its process object ends it) and deletes the client file. The state
    // is left as it is: nothing is reported but the removal of the file.
    cleanup();
}

void FrpcManager::start(const ServerConfig &config, int localPort)
{
    start(config, localPort, Tcp);
}

void FrpcManager::start(const ServerConfig &config, int localPort, Protocol protocol)
{
    m_protocol = protocol;
    if (m_phase != Phase::Idle && m_phase != Phase::Stopping && m_phase != Phase::Failed)
        stop();
    launchClient(config, localPort, false);
}

void FrpcManager::launchClient(const ServerConfig &config, int localPort, bool restoring, bool freshName)
{
    // An old client that has not ended yet (a stop still in progress, or an error that left it
    // running) must not be taken for the new one: cut it off from the slots and end it now.
    releaseProcess();

    const ServerConfig record = config;
    m_currentConfig = record;
    m_currentLocalPort = localPort;
    m_webServerPort = record.webServerPort;
    m_remotePort.clear();
    m_errorMessage.clear();
    m_lastErrorLine.clear();
    m_pendingOutput.clear();
    m_pendingErrors.clear();

    // The server gives a name back the port it had, so the stable name keeps the address the user
    // handed out across connects, restarts of the client and restarts of the program.
    m_freshProxyName = freshName;
    m_proxyName = freshName ? ProxyName::freshName()
                            : ProxyName::stableName(ServerConfigManager::instance().installationNumber(),
                                                    record.serverAddr, record.serverPort, localPort,
                                                    protocolName(m_protocol));
    m_webUser = randomText(WEB_USER_LENGTH);
    m_webPassword = randomText(WEB_PASSWORD_LENGTH);

    emit logMessage(QStringLiteral("正在启动隧道: %1").arg(record.name));
    emit logMessage(
        QStringLiteral("服务器: %1:%2").arg(record.serverAddr, QString::number(record.serverPort)));
    if (m_protocol == Udp)
        emit logMessage(QStringLiteral("本地端口: %1 (UDP)").arg(localPort));
    else
        emit logMessage(QStringLiteral("本地端口: %1").arg(localPort));

    cleanupOrphanedFrpcProcesses();
    // Without a file of its own the client would run with whatever lies at the path: it is not
    // started, and the tunnel ends here.
    if (!generateConfigFile(record, localPort)) {
        const QString text = QStringLiteral("无法创建配置文件");
        enterPhase(Phase::Failed, { text, text });
        return;
    }

    m_process = new QProcess(this);
    m_process->setWorkingDirectory(QCoreApplication::applicationDirPath());
    connect(m_process, &QProcess::started, this, &FrpcManager::onProcessStarted);
    connect(m_process, &QProcess::finished, this, &FrpcManager::onProcessFinished);
    connect(m_process, &QProcess::errorOccurred, this, &FrpcManager::onProcessError);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &FrpcManager::onProcessOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, &FrpcManager::onProcessOutput);
    FrpcProcesses::bindToProgram(*m_process);

    const QString program = getFrpcPath();
    const QStringList arguments = { QStringLiteral("-c"), getConfigPath() };

    // The state changes first: a failure to start may be reported before start() returns, and must
    // then find the controller starting.
    enterPhase(restoring ? Phase::Relaunching : Phase::Launching);
    m_process->start(program, arguments, QIODevice::ReadWrite);
}

void FrpcManager::stop()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        emit logMessage(QStringLiteral("正在停止隧道..."));
        enterPhase(Phase::Stopping);
        m_process->terminate();
        // The check concerns this process only: a client started after it must never be killed here.
        const QPointer<QProcess> process = m_process;
        QTimer::singleShot(STOP_GRACE_MS, Qt::PreciseTimer, this, [this, process] {
            if (process && process->state() != QProcess::NotRunning) {
                emit logMessage(QStringLiteral("进程未响应，强制停止..."));
                process->kill();
            }
        });
        return;
    }

    cleanup();
    enterPhase(Phase::Idle);
    emit logMessage(QStringLiteral("隧道已停止"));
    cleanupOrphanedFrpcProcesses();
}

void FrpcManager::onProcessStarted()
{
    emit logMessage(QStringLiteral("frpc 进程已启动"));
}

void FrpcManager::onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitStatus);
    // The last words of the client may lack a line feed. They are logged and judged before the
    // queries stop, so that they cannot ask the ended client for its status.
    readOutput({}, m_pendingOutput, false, true);
    readOutput({}, m_pendingErrors, true, true);
    emit logMessage(QStringLiteral("frpc 进程已退出 (代码: %1)").arg(exitCode));
    // Every phase entered from here stops the queries: a reply still on its way came from the client
    // that has just ended.

    if (m_phase == Phase::Up || m_phase == Phase::Recovering || m_phase == Phase::Relaunching) {
        // The established tunnel dropped, or a client started to restore it ended before it was up.
        ++m_reconnectAttempts;
        emit logMessage(QStringLiteral("检测到连接断开，准备重连..."));
        enterPhase(Phase::Restarting);
    } else if (m_phase == Phase::Stopping) {
        cleanup();
        enterPhase(Phase::Idle);
        emit logMessage(QStringLiteral("隧道已停止"));
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

// The client's last line that may say why it failed is the most useful one. frp 0.66, for instance,
// ends a login with a wrong token with
//     [E] ... token in login doesn't match token from configuration
//     [W] ... connect to server error: token in login doesn't match token from configuration
//     [I] ... frpc service for config file [...] stopped
//     login to the server failed: token in login doesn't match token from configuration. With
//     loginFailExit enabled, no additional retries will be attempted
// and an unreachable server the same way, with "dial tcp ...: connect: connection refused" and no
// [E] line: the informational lines are passed over, and the plain last words are shown.
void FrpcManager::reportFailedStart(int exitCode)
{
    const QString reason = m_lastErrorLine.isEmpty()
        ? QStringLiteral("frpc 进程已退出 (代码: %1)").arg(exitCode)
        : Redaction::filterSensitiveInfo(m_lastErrorLine);
    m_errorMessage = QStringLiteral("连接失败: ") + reason;
    emit errorOccurred(m_errorMessage);
}

void FrpcManager::onProcessError(QProcess::ProcessError error)
{
    if (m_phase == Phase::Idle || m_phase == Phase::Stopping)
        return;

    QString text;
    switch (error) {
    case QProcess::FailedToStart:
        text = QStringLiteral("frpc 启动失败，请检查 frpc.exe 是否存在");
        break;
    case QProcess::Crashed:
        text = QStringLiteral("frpc 进程崩溃");
        break;
    default:
        text = QStringLiteral("frpc 进程错误: %1").arg(int(error));
        break;
    }

    enterPhase(Phase::Failed, { text, text });
}

void FrpcManager::onProcessOutput()
{
    if (!m_process)
        return;
    const QByteArray output = m_process->readAllStandardOutput();
    const QByteArray errors = m_process->readAllStandardError();
    readOutput(output, m_pendingOutput, false);
    readOutput(errors, m_pendingErrors, true);
}

void FrpcManager::readOutput(const QByteArray &bytes, QByteArray &pending, bool onStandardError,
                             bool clientEnded)
{
    // Only whole lines are logged and judged: the filter of the log must see a secret whole, however
    // the pipe cut it. A line without an end is taken at MAX_PENDING_LINE bytes, so that a client
    // cannot make the controller hold its output without bound.
    pending += bytes;
    QStringList lines;
    qsizetype start = 0;
    while (start < pending.size()) {
        const qsizetype lineFeed = pending.indexOf('\n', start);
        qsizetype end;
        if (lineFeed >= 0 && lineFeed - start < MAX_PENDING_LINE)
            end = lineFeed + 1;
        else if (pending.size() - start >= MAX_PENDING_LINE)
            end = start + MAX_PENDING_LINE;
        else if (clientEnded)
            end = pending.size();
        else
            break;
        lines += FrpcClientText::outputLines(QString::fromLocal8Bit(pending.mid(start, end - start)));
        start = end;
    }
    // Taken before anything is shown: a box shown while judging runs the event loop, which may
    // deliver more output.
    pending.remove(0, start);
    for (const QString &line : lines)
        emit logMessage(onStandardError ? QStringLiteral("[错误] ") + line : line);
    judgeLines(lines, onStandardError);
}

void FrpcManager::judgeLines(const QStringList &lines, bool onStandardError)
{
    bool newsFromClient = false;
    bool visitorReachedNothing = false;
    bool nameTaken = false;
    for (const QString &line : lines) {
        // Our own status requests make the client write; they must never cause another one.
        if (line.trimmed().isEmpty() || FrpcClientText::isStatusRequestLine(line))
            continue;
        // A visitor came through the tunnel, but nothing listens on the local port. Such lines come
        // with every visit and say nothing about the tunnel itself.
        if (FrpcClientText::isUnreachableLocalServiceLine(line)) {
            visitorReachedNothing = true;
            continue;
        }
        newsFromClient = true;
        if (ProxyName::isNameTakenError(line))
            nameTaken = true;
        if (FrpcClientText::isErrorLine(line, onStandardError))
            m_lastErrorLine = line.trimmed();
    }
    if (newsFromClient && asksClient(m_phase) && !m_outputQueryTimer->isActive())
        m_outputQueryTimer->start();
    if (nameTaken)
        noteNameTaken();
    // Last: the box that shows it may run the event loop for a long time.
    if (visitorReachedNothing)
        reportUnreachableLocalService();
}

void FrpcManager::reportUnreachableLocalService()
{
    // Once for every established tunnel; the log goes on showing each visit.
    if (m_phase != Phase::Up || m_localServiceHintGiven)
        return;
    m_localServiceHintGiven = true;
    const QString text
        = QStringLiteral("访问者无法连接：本地端口 %1 上没有程序在监听").arg(m_currentLocalPort);
    emit logMessage(text);
    // While the window shows the hint, it has already said so.
    if (!m_listenerWatch->nobodyListens())
        emit errorOccurred(text);
}

void FrpcManager::noteNameTaken()
{
    if (m_freshProxyName || !m_process
        || (m_phase != Phase::Launching && m_phase != Phase::Relaunching && m_phase != Phase::Recovering))
        return;
    // Replaced once control returns to the event loop: the output or the reply being read now is the
    // client's that is to be replaced.
    const QPointer<QProcess> client = m_process;
    QMetaObject::invokeMethod(this, [this, client] { replaceTakenName(client); }, Qt::QueuedConnection);
}

void FrpcManager::replaceTakenName(QProcess *client)
{
    // The line and the status reply may both have asked for it: only the first request for the
    // client still running is carried out.
    if (!client || client != m_process || m_freshProxyName
        || (m_phase != Phase::Launching && m_phase != Phase::Relaunching && m_phase != Phase::Recovering))
        return;
    // An earlier session of the same name (a client that lost its path and was replaced) is held by
    // the server until it notices the loss; the client alone would wait for that.
    emit logMessage(QStringLiteral("服务器仍保留着上一次连接的隧道名称 %1，改用新名称连接（远程端口将会改变）")
                        .arg(m_proxyName));
    const bool restoring = m_phase != Phase::Launching;
    cleanup();
    const ServerConfig config = m_currentConfig;
    launchClient(config, m_currentLocalPort, restoring, true);
}

void FrpcManager::queryRemotePort()
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/status").arg(m_webServerPort)));
    request.setTransferTimeout(QUERY_TIMEOUT_MS);
    const QByteArray credentials = (m_webUser + QLatin1Char(':') + m_webPassword).toUtf8();
    request.setRawHeader("Authorization", "Basic " + credentials.toBase64());
    QNetworkReply *reply = m_networkManager->get(request);
    connect(reply, &QNetworkReply::finished, this, &FrpcManager::onQueryFinished);
    // An oversized reply is cut off as soon as it shows its size; it then finishes with an error.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > STATUS_REPLY_LIMIT || total > STATUS_REPLY_LIMIT)
            reply->abort();
    });
}

void FrpcManager::onQueryFinished()
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

    const FrpcClientText::ProxyStatus proxy = FrpcClientText::proxyStatus(reply->readAll(), m_proxyName);
    if (!proxy.valid)
        return;

    if (proxy.port.isEmpty()) {
        // The client has lost the server, or the server refused the proxy; the client keeps trying.
        // A client that ends from here on ends a tunnel that was up: it is restarted.
        if (m_phase == Phase::Up) {
            emit logMessage(QStringLiteral("隧道已断开，等待 frpc 重新连接..."));
            enterPhase(Phase::Recovering);
        }
    } else if (m_phase == Phase::Up) {
        // The client logged in again and the server assigned another port.
        if (proxy.port != m_remotePort) {
            m_remotePort = proxy.port;
            emit logMessage(QStringLiteral("远程端口已变更: %1").arg(proxy.port));
            emit tunnelEvent(TunnelPortChanged, proxy.port);
            emit remotePortReady(proxy.port);
        }
    } else {
        const TunnelEvent event = m_phase == Phase::Launching ? TunnelEstablished : TunnelRestored;
        m_remotePort = proxy.port;
        enterPhase(Phase::Up);
        emit logMessage(QStringLiteral("隧道已建立！远程端口: %1").arg(proxy.port));
        emit tunnelEvent(event, proxy.port);
        emit remotePortReady(proxy.port);
    }

    // Last: the box that shows it may run the event loop for a long time.
    if (!proxy.error.isEmpty() && proxy.port.isEmpty()) {
        if (ProxyName::isNameTakenError(proxy.error) && !m_freshProxyName)
            noteNameTaken();
        else
            reportProxyError(proxy.error);
    }
}

void FrpcManager::reportProxyError(const QString &proxyError)
{
    if (m_shownProxyErrors.contains(proxyError))
        return;
    m_shownProxyErrors.append(proxyError);
    const QString text = QStringLiteral("服务器拒绝了隧道: ") + Redaction::filterSensitiveInfo(proxyError);
    emit logMessage(text);
    emit errorOccurred(text);
}

void FrpcManager::onReconnectTimeout()
{
    if (m_phase != Phase::Restarting)
        return;

    if (m_reconnectAttempts >= MAX_RECONNECT_ATTEMPTS) {
        enterPhase(Phase::Failed,
                   { QStringLiteral("重连失败次数过多，已停止"), QStringLiteral("重连失败"), false });
        return;
    }

    emit logMessage(
        QStringLiteral("尝试重连... (%1/%2)").arg(m_reconnectAttempts + 1).arg(MAX_RECONNECT_ATTEMPTS));
    // The state stays Starting: the ended client and its file are released without a stop, so the
    // owner sees one unbroken attempt to bring the tunnel back.
    cleanup();
    const ServerConfig config = m_currentConfig;
    launchClient(config, m_currentLocalPort, true);
}

QString FrpcManager::protocolName(Protocol protocol)
{
    return protocol == Udp ? QStringLiteral("udp") : QStringLiteral("tcp");
}

FrpcManager::Protocol FrpcManager::protocolFromName(const QString &name)
{
    return name.compare(QLatin1String("udp"), Qt::CaseInsensitive) == 0 ? Udp : Tcp;
}

FrpcManager::Status FrpcManager::statusOf(Phase phase)
{
    switch (phase) {
    case Phase::Idle:
        return Stopped;
    case Phase::Launching:
    case Phase::Recovering:
    case Phase::Restarting:
    case Phase::Relaunching:
        return Starting;
    case Phase::Up:
        return Running;
    case Phase::Stopping:
        return Stopping;
    case Phase::Failed:
        return Error;
    }
    return Stopped;
}

bool FrpcManager::asksClient(Phase phase)
{
    return phase == Phase::Launching || phase == Phase::Up || phase == Phase::Recovering
        || phase == Phase::Relaunching;
}

void FrpcManager::enterPhase(Phase phase, const Failure &failure)
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
        m_reconnectTimer->start(RECONNECT_DELAY_MS);
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
        m_listenerWatch->watch(m_currentLocalPort, m_protocol == Udp);
    }
    if (phase == Phase::Idle || phase == Phase::Failed || phase == Phase::Stopping)
        m_listenerWatch->stop();
    if (phase != Phase::Up)
        m_remotePort.clear();

    // A failure is told while the old state still holds: the box that shows it may run the event loop
    // for a long time, and the queries stopped above cannot reach the controller meanwhile.
    if (!failure.error.isEmpty()) {
        emit logMessage(failure.logText);
        emit errorOccurred(failure.error);
        if (failure.remembered)
            m_errorMessage = failure.error;
    }

    m_phase = phase;
    if (previous == Phase::Up && (phase == Phase::Recovering || phase == Phase::Restarting))
        emit tunnelEvent(TunnelLost, QString());
    if (statusOf(previous) != statusOf(phase))
        emit statusChanged(statusOf(phase));
}

bool FrpcManager::generateConfigFile(const ServerConfig &config, int localPort)
{
    QFile file;
    if (!PrivateFolders::createOwnerOnlyFile(file, getConfigPath()))
        return false;

    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::Utf8);
    stream << FrpcClientText::configFile(config, localPort, m_proxyName, { m_webUser, m_webPassword },
                                         protocolName(m_protocol));
    stream.flush();
    const bool streamOk = stream.status() == QTextStream::Ok;
    file.close();
    // A file that could not be written completely is a failure too, never reported as generated;
    // what was written of it is removed.
    if (!streamOk || file.error() != QFileDevice::NoError) {
        file.remove();
        return false;
    }
    emit logMessage(QStringLiteral("配置文件已生成"));
    return true;
}

QString FrpcManager::getConfigPath() const
{
    const QString folder = PrivateFolders::runtimeFolder();
    if (folder.isEmpty())
        return {};
    return folder + QStringLiteral("/frpc_") + QString::number(QCoreApplication::applicationPid())
        + QStringLiteral(".toml");
}

void FrpcManager::removeLeftoverConfigFiles()
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

QString FrpcManager::getFrpcPath() const
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + FrpcProcesses::programFileName();
}

void FrpcManager::cleanup()
{
    releaseProcess();
    m_remotePort.clear();
    // Removing fails for a missing file or one that is not ours; either way nothing is reported then.
    if (PrivateFolders::removeOwnFile(getConfigPath()))
        emit logMessage(QStringLiteral("配置文件已删除"));
}

void FrpcManager::releaseProcess()
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

void FrpcManager::stopQueries()
{
    m_queryTimer->stop();
    m_outputQueryTimer->stop();
    const QList<QNetworkReply *> replies = m_networkManager->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies) {
        if (reply->isRunning())
            reply->abort();
    }
}

void FrpcManager::cleanupOrphanedFrpcProcesses()
{
    FrpcProcesses::endAll(getFrpcPath(), ORPHAN_WAIT_MS);
}
