// SPDX-License-Identifier: Apache-2.0
// The friend's client of a private tunnel: its file, its process and what its output and the local
// port say about it.
#include "core/visitorclient.h"

#include "core/clientoutput.h"
#include "core/frpcclienttext.h"
#include "core/frpcmanager.h"
#include "core/platform/frpcprocesses.h"
#include "core/platform/localports.h"
#include "core/platform/privatefolders.h"
#include "core/tunneladdress.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>

namespace {

const int STOP_GRACE_MS = 2000;
// Once the port takes connections it is looked at now and then, to see the client lose its server
// (the visitors' ports close until it logs in again): as seldom as the own tunnels' ports are, so
// that a program at rest is not woken up every second.
const int READY_WATCH_MS = 5000;
// The port is looked at often while the client starts, and less often once it is late (waiting for
// its server).
const int EAGER_POLL_MS = 2000;
const int LATE_POLL_MS = 250;

QString keyLine(const char *key, const QString &text)
{
    return QLatin1String(key) + QStringLiteral(" = ") + FrpcClientText::tomlString(text);
}

QString keyLine(const char *key, int number)
{
    return QLatin1String(key) + QStringLiteral(" = ") + QString::number(number);
}

QStringList visitorLines(const QString &name, const char *type, const QString &serverName,
                         const QString &secretKey, int bindPort)
{
    return { QString(),
             QStringLiteral("[[visitors]]"),
             keyLine("name", name),
             keyLine("type", QString::fromLatin1(type)),
             keyLine("serverName", serverName),
             keyLine("secretKey", secretKey),
             keyLine("bindAddr", QStringLiteral("127.0.0.1")),
             keyLine("bindPort", bindPort) };
}

QString relayVisitorName(const ShareCode &code)
{
    return code.name + QStringLiteral("-relay");
}

bool carriesTcp(const ShareCode &code)
{
    return code.protocol != Tunnel::Udp;
}

bool carriesUdp(const ShareCode &code)
{
    return code.protocol != Tunnel::Tcp;
}

// A file of this kind left by a run that no longer goes on holds a token and a key: removed.
void removeLeftoverFiles(const QString &folder)
{
    static bool done = false;
    if (done || folder.isEmpty())
        return;
    done = true;
    static const QRegularExpression fileName(QStringLiteral("^frpcv_([0-9]{1,10})_[A-Za-z0-9_.-]+\\.toml$"));
    QDirIterator files(folder, { QStringLiteral("frpcv_*.toml") },
                       QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    while (files.hasNext()) {
        const QFileInfo file(files.next());
        const QRegularExpressionMatch match = fileName.match(file.fileName());
        if (!match.hasMatch())
            continue;
        const qint64 pid = match.captured(1).toLongLong();
        if (pid != QCoreApplication::applicationPid() && !FrpcProcesses::isThisProgram(pid))
            PrivateFolders::removeOwnFile(file.filePath());
    }
}

} // namespace

VisitorClient::VisitorClient(QObject *parent)
    : QObject(parent)
    , m_restartTimer(new QTimer(this))
    , m_readyTimer(new QTimer(this))
{
    m_restartTimer->setSingleShot(true);
    connect(m_restartTimer, &QTimer::timeout, this, &VisitorClient::launch);
    m_readyTimer->setTimerType(Qt::PreciseTimer);
    connect(m_readyTimer, &QTimer::timeout, this, &VisitorClient::pollReady);
}

VisitorClient::~VisitorClient()
{
    releaseProcess();
    PrivateFolders::removeOwnFile(configPath());
}

ServerConfig VisitorClient::serverFor(const ShareCode &code)
{
    if (code.builtInServer) {
        const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
        return configs.isEmpty() ? ServerConfig() : configs.first();
    }
    ServerConfig server;
    server.name = TunnelAddress::formatHostPort(code.serverAddr, code.serverPort);
    server.serverAddr = code.serverAddr;
    server.serverPort = code.serverPort;
    server.token = code.token;
    return server;
}

QString VisitorClient::configFile(const ShareCode &code, const ServerConfig &server, int localPort)
{
    // No web API: a client of visitors only has no status to tell, and the port of the user's own
    // tunnel client stays its own.
    QStringList lines = {
        keyLine("serverAddr", TunnelAddress::bareHost(server.serverAddr)),
        keyLine("serverPort", server.serverPort),
        keyLine("transport.heartbeatInterval", 2),
        keyLine("transport.heartbeatTimeout", 8),
        QString(),
        QStringLiteral("[auth]"),
        keyLine("method", QStringLiteral("token")),
        keyLine("token", server.token),
    };
    if (carriesTcp(code)) {
        // The relay's visitor takes no port of its own: the direct one hands it what it cannot carry.
        lines << visitorLines(relayVisitorName(code), "stcp", code.stcpName(), code.secretKey, -1);
        lines << visitorLines(code.name + QStringLiteral("-tcp"), "xtcp", code.xtcpName(), code.secretKey,
                              localPort)
              << keyLine("fallbackTo", relayVisitorName(code))
              << keyLine("fallbackTimeoutMs", FALLBACK_TIMEOUT_MS);
    }
    if (carriesUdp(code))
        lines << visitorLines(code.name + QStringLiteral("-udp"), "sudp", code.sudpName(), code.secretKey,
                              localPort);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

int VisitorClient::choosePort(const ShareCode &code, const QSet<int> &taken)
{
    const int span = LAST_PORT - FIRST_PORT + 1;
    const QByteArray hash = QCryptographicHash::hash(code.name.toUtf8(), QCryptographicHash::Sha256);
    const quint32 seed = (quint32(quint8(hash.at(0))) << 24) | (quint32(quint8(hash.at(1))) << 16)
        | (quint32(quint8(hash.at(2))) << 8) | quint32(quint8(hash.at(3)));
    for (int step = 0; step < span; ++step) {
        const int port = FIRST_PORT + int((seed + quint32(step)) % quint32(span));
        if (!taken.contains(port))
            return port;
    }
    return 0;
}

QSet<int> VisitorClient::portsInUse()
{
    QSet<int> ports = LocalPorts::listeningPorts(false).value_or(QSet<int>());
    ports.unite(LocalPorts::listeningPorts(true).value_or(QSet<int>()));
    return ports;
}

void VisitorClient::setPauses(int restartDelayMs, int readyPollMs)
{
    m_restartDelayMs = restartDelayMs;
    m_readyPollMs = readyPollMs;
}

void VisitorClient::start(const ShareCode &code, const ServerConfig &server, int localPort)
{
    releaseProcess();
    m_code = code;
    m_server = server;
    m_localPort = localPort;
    m_round = 0;
    if (m_path != PathUnknown) {
        m_path = PathUnknown;
        emit pathChanged(m_path);
    }
    launch();
}

void VisitorClient::stop()
{
    m_restartTimer->stop();
    m_readyTimer->stop();
    releaseProcess();
    PrivateFolders::removeOwnFile(configPath());
    if (m_path != PathUnknown) {
        m_path = PathUnknown;
        emit pathChanged(m_path);
    }
    setFailure(QString());
    setState(Stopped);
}

QString VisitorClient::configPath() const
{
    const QString folder = PrivateFolders::runtimeFolder();
    if (folder.isEmpty() || m_code.name.isEmpty())
        return {};
    return folder
        + QStringLiteral("/frpcv_%1_%2.toml").arg(QCoreApplication::applicationPid()).arg(m_code.name);
}

QStringList VisitorClient::secrets() const
{
    return { m_code.secretKey, m_server.token };
}

void VisitorClient::launch()
{
    releaseProcess();
    m_pendingOutput.clear();
    m_pendingErrors.clear();
    m_lastErrorLine.clear();
    removeLeftoverFiles(PrivateFolders::runtimeFolder());
    setState(Starting);

    QFile file;
    if (!PrivateFolders::createOwnerOnlyFile(file, configPath())) {
        emit logMessage(tr("好友的隧道 127.0.0.1:%1：无法创建配置文件").arg(m_localPort));
        stop();
        return;
    }
    {
        QTextStream stream(&file);
        stream.setEncoding(QStringConverter::Utf8);
        stream << configFile(m_code, m_server, m_localPort);
    }
    file.close();

    emit logMessage(tr("正在加入好友的隧道：服务器 %1，本地地址 127.0.0.1:%2")
                        .arg(TunnelAddress::formatHostPort(m_server.serverAddr, m_server.serverPort))
                        .arg(m_localPort));
    m_process = new QProcess(this);
    m_process->setWorkingDirectory(QCoreApplication::applicationDirPath());
    connect(m_process, &QProcess::finished, this, &VisitorClient::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFinished();
    });
    connect(m_process, &QProcess::readyReadStandardOutput, this, &VisitorClient::onOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, &VisitorClient::onOutput);
    FrpcProcesses::bindToProgram(*m_process);
    const QString program
        = QCoreApplication::applicationDirPath() + QLatin1Char('/') + FrpcProcesses::programFileName();
    m_process->start(program, { QStringLiteral("-c"), configPath() });
    if (m_process)
        FrpcProcesses::spare(m_process->processId(), true);
    m_startClock.start();
    m_readyTimer->start(m_readyPollMs);
}

void VisitorClient::releaseProcess()
{
    if (!m_process)
        return;
    QProcess *process = m_process;
    m_process = nullptr;
    disconnect(process, nullptr, this, nullptr);
    FrpcProcesses::spare(process->processId(), false);
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(STOP_GRACE_MS);
    }
    process->deleteLater();
}

void VisitorClient::onFinished()
{
    if (!m_process)
        return;
    onOutput();
    const int code = m_process->exitCode();
    releaseProcess();
    m_readyTimer->stop();
    if (m_state != Ready) {
        const ClientOutput::Unreachability why = ClientOutput::unreachability(m_lastErrorLine);
        setFailure(why.kind != ClientOutput::Unreachable::No ? why.reason : m_lastErrorLine);
    }
    emit logMessage(
        tr("好友的隧道 127.0.0.1:%1 的客户端已退出 (代码: %2)，稍后重连").arg(m_localPort).arg(code));
    setState(Starting);
    const int delay = m_restartDelayMs >= 0 ? m_restartDelayMs : FrpcManager::waitPauseMs(m_round);
    ++m_round;
    m_restartTimer->start(delay);
}

void VisitorClient::onOutput()
{
    if (!m_process)
        return;
    const bool ended = m_process->state() == QProcess::NotRunning;
    const QStringList outLines
        = ClientOutput::takeLines(m_pendingOutput, m_process->readAllStandardOutput(), ended);
    const QStringList errorLines
        = ClientOutput::takeLines(m_pendingErrors, m_process->readAllStandardError(), ended);
    Path path = m_path;
    for (const QString &line : outLines + errorLines) {
        if (line.contains(QLatin1String("nat hole connection successful")))
            path = Direct;
        else if (line.contains(QLatin1String("open tunnel error")))
            path = Relay;
    }
    const QStringList hidden = secrets();
    for (const bool onStandardError : { false, true }) {
        const QString errorLine
            = ClientOutput::judge(onStandardError ? errorLines : outLines, onStandardError).errorLine;
        if (!errorLine.isEmpty())
            m_lastErrorLine = ClientOutput::logText(errorLine, false, hidden);
    }
    for (const QString &line : outLines)
        emit logMessage(ClientOutput::logText(line, false, hidden));
    for (const QString &line : errorLines)
        emit logMessage(ClientOutput::logText(line, true, hidden));
    if (path != m_path) {
        m_path = path;
        emit pathChanged(m_path);
    }
}

void VisitorClient::pollReady()
{
    bool listens = true;
    if (carriesTcp(m_code))
        listens = LocalPorts::listeningPorts(false).value_or(QSet<int>()).contains(m_localPort);
    if (listens && carriesUdp(m_code))
        listens = LocalPorts::listeningPorts(true).value_or(QSet<int>()).contains(m_localPort);
    if (listens && m_state != Ready) {
        m_round = 0;
        setFailure(QString());
        setState(Ready);
        emit logMessage(tr("好友的隧道已就绪：127.0.0.1:%1").arg(m_localPort));
        m_readyTimer->start(READY_WATCH_MS);
    } else if (!listens && m_state == Ready) {
        emit logMessage(tr("好友的隧道 127.0.0.1:%1 与服务器的连接中断，正在重连").arg(m_localPort));
        setState(Starting);
        m_startClock.start();
        m_readyTimer->start(m_readyPollMs);
    } else if (!listens && m_startClock.isValid() && m_startClock.elapsed() > EAGER_POLL_MS
               && m_readyTimer->interval() < LATE_POLL_MS) {
        m_readyTimer->setInterval(LATE_POLL_MS);
    }
}

void VisitorClient::setFailure(const QString &failure)
{
    if (failure == m_failure)
        return;
    m_failure = failure;
    emit failureChanged();
}

void VisitorClient::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
}
