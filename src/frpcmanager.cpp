#include "frpcmanager.h"

#include "frpcprocesses.h"
#include "logwindow.h"
#include "privatefolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
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

#include <cmath>
#include <limits>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// Removes the file or link at path when it is this user's; anything of another user stays as it is.
bool removeOwnFile(const QString &path)
{
#ifdef Q_OS_WIN
    return QFile::remove(path);
#else
    const QByteArray nativePath = QFile::encodeName(path);
    struct stat info;
    return ::lstat(nativePath.constData(), &info) == 0 && info.st_uid == ::getuid()
        && ::unlink(nativePath.constData()) == 0;
#endif
}

// Creates the file at path anew, readable and writable by its owner only. An older file or link of
// this user at the path is removed first, never written through; anything else there (another user's
// file, a folder) is left untouched and the creation fails, as it does when something appears there
// again before the file is created.
bool createOwnerOnlyFile(QFile &file, const QString &path)
{
    if (path.isEmpty())
        return false;
    removeOwnFile(path);
#ifdef Q_OS_WIN
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::NewOnly,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#else
    const QByteArray nativePath = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Text, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#endif
}

QString keyLine(const char *key, const QString &text)
{
    return QLatin1String(key) + QStringLiteral(" = ") + FrpcClientText::tomlString(text);
}

QString keyLine(const char *key, int number)
{
    return QLatin1String(key) + QStringLiteral(" = ") + QString::number(number);
}

} // namespace

namespace FrpcClientText {

QString tomlString(const QString &value)
{
    QString quoted;
    quoted.reserve(value.size() + 2);
    quoted.append(QLatin1Char('"'));
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '"':
            quoted.append(QStringLiteral("\\\""));
            break;
        case '\\':
            quoted.append(QStringLiteral("\\\\"));
            break;
        case '\b':
            quoted.append(QStringLiteral("\\b"));
            break;
        case '\t':
            quoted.append(QStringLiteral("\\t"));
            break;
        case '\n':
            quoted.append(QStringLiteral("\\n"));
            break;
        case '\f':
            quoted.append(QStringLiteral("\\f"));
            break;
        case '\r':
            quoted.append(QStringLiteral("\\r"));
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                quoted.append(
                    QStringLiteral("\\u")
                    + QString::number(c.unicode(), 16).rightJustified(4, QLatin1Char('0')).toUpper());
            else
                quoted.append(c);
        }
    }
    quoted.append(QLatin1Char('"'));
    return quoted;
}

QString configFile(const ServerConfig &config, int localPort, const QString &proxyName,
                   const WebCredentials &credentials)
{
    const QStringList lines = {
        keyLine("serverAddr", config.serverAddr),
        keyLine("serverPort", config.serverPort),
        QString(),
        QStringLiteral("[auth]"),
        keyLine("method", QStringLiteral("token")),
        keyLine("token", config.token),
        QString(),
        QStringLiteral("[webServer]"),
        keyLine("addr", QStringLiteral("127.0.0.1")),
        keyLine("port", config.webServerPort),
        keyLine("user", credentials.user),
        keyLine("password", credentials.password),
        QString(),
        QStringLiteral("[[proxies]]"),
        keyLine("name", proxyName),
        keyLine("type", QStringLiteral("tcp")),
        keyLine("localIP", QStringLiteral("127.0.0.1")),
        keyLine("localPort", localPort),
        QStringLiteral("remotePort = 0"),
    };
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

ProxyStatus proxyStatus(const QByteArray &body, const QString &proxyName)
{
    ProxyStatus result;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return result;
    result.valid = true;
    // A missing "tcp" member or one of another type reads as an empty array.
    const QJsonArray proxies = document.object().value(QLatin1String("tcp")).toArray();
    for (const QJsonValue &element : proxies) {
        const QJsonObject proxy = element.toObject();
        const QJsonValue name = proxy.value(QLatin1String("name"));
        if (!name.isString() || name.toString() != proxyName)
            continue;

        if (result.error.isEmpty())
            result.error = proxy.value(QLatin1String("err")).toString().trimmed();
        if (!result.port.isEmpty())
            continue;
        // Before its proxy runs the client reports the bare server address (for "::1" the text after
        // the last colon is no port at all): only a running proxy has a remote port.
        const QJsonValue status = proxy.value(QLatin1String("status"));
        if (!status.isUndefined() && status.toString() != QLatin1String("running"))
            continue;

        QString port;
        const QString address = proxy.value(QLatin1String("remote_addr")).toString();
        const int colon = address.lastIndexOf(QLatin1Char(':'));
        if (colon >= 0)
            port = address.mid(colon + 1);

        if (port.isEmpty()) {
            const QJsonValue remotePort = proxy.value(QLatin1String("remote_port"));
            const double number = remotePort.isDouble() ? remotePort.toDouble() : 0.0;
            const bool wholeInt = std::floor(number) == number
                && number >= double(std::numeric_limits<int>::min())
                && number <= double(std::numeric_limits<int>::max());
            if (wholeInt && number > 0)
                port = QString::number(int(number));
        }
        result.port = port;
    }
    return result;
}

QString remotePortFromStatus(const QByteArray &body, const QString &proxyName)
{
    return proxyStatus(body, proxyName).port;
}

bool isUnreachableLocalServiceLine(const QString &line)
{
    return line.contains(QLatin1String("connect to local service"));
}

bool isStatusRequestLine(const QString &line)
{
    // The casing differs between client versions ("Http request [/api/status]", "http request ...").
    return line.contains(QLatin1String("/api/status"), Qt::CaseInsensitive);
}

bool isErrorLine(const QString &line, bool onStandardError)
{
    if (line.trimmed().isEmpty() || isStatusRequestLine(line))
        return false;
    if (onStandardError)
        return true;
    // The client's log lines begin with date, time and level: "2025-01-01 12:00:00.000 [I] ...".
    static const QRegularExpression informational(QStringLiteral("^[0-9/:. -]+\\[[IDT]\\] "));
    return !informational.match(line).hasMatch();
}

QStringList outputLines(const QString &text)
{
    // Control sequences of terminals: ESC [, parameter bytes, intermediate bytes, one final byte.
    static const QRegularExpression controlSequence(QStringLiteral("\\x1B\\[[0-?]*[ -/]*[@-~]"));
    QString plain = text;
    plain.remove(controlSequence);
    return plain.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace FrpcClientText

FrpcManager::FrpcManager(QObject *parent)
    : QObject(parent)
    , m_process(nullptr)
    , m_queryTimer(new QTimer(this))
    , m_reconnectTimer(new QTimer(this))
    , m_outputQueryTimer(new QTimer(this))
    , m_networkManager(new QNetworkAccessManager(this))
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
}

FrpcManager::~FrpcManager()
{
    // Lets go of the client (its process object ends it) and deletes the client file. The state
    // is left as it is: nothing is reported but the removal of the file.
    cleanup();
}

void FrpcManager::start(const ServerConfig &config, int localPort)
{
    if (m_status == Running || m_status == Starting)
        stop();
    m_reconnecting = false;
    m_shownProxyErrors.clear();
    launchClient(config, localPort);
}

void FrpcManager::launchClient(const ServerConfig &config, int localPort)
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

    m_proxyName = QStringLiteral("tunnel_") + QString::number(QRandomGenerator::global()->generate());
    m_webUser = randomText(WEB_USER_LENGTH);
    m_webPassword = randomText(WEB_PASSWORD_LENGTH);

    emit logMessage(QStringLiteral("正在启动隧道: %1").arg(record.name));
    emit logMessage(
        QStringLiteral("服务器: %1:%2").arg(record.serverAddr, QString::number(record.serverPort)));
    emit logMessage(QStringLiteral("本地端口: %1").arg(localPort));

    cleanupOrphanedFrpcProcesses();
    // Without a file of its own the client would run with whatever lies at the path: it is not
    // started, and the tunnel ends here.
    if (!generateConfigFile(record, localPort)) {
        const QString text = QStringLiteral("无法创建配置文件");
        m_reconnecting = false;
        emit logMessage(text);
        emit errorOccurred(text);
        m_errorMessage = text;
        setStatus(Error);
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
    setStatus(Starting);
    m_process->start(program, arguments, QIODevice::ReadWrite);
}

void FrpcManager::stop()
{
    stopQueries();
    m_reconnectTimer->stop();
    m_reconnectAttempts = 0;
    m_reconnecting = false;

    if (m_process && m_process->state() != QProcess::NotRunning) {
        emit logMessage(QStringLiteral("正在停止隧道..."));
        setStatus(Stopping);
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
    setStatus(Stopped);
    emit logMessage(QStringLiteral("隧道已停止"));
    cleanupOrphanedFrpcProcesses();
}

void FrpcManager::onProcessStarted()
{
    emit logMessage(QStringLiteral("frpc 进程已启动"));
    m_queryTimer->start();
}

void FrpcManager::onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitStatus);
    // The last words of the client may lack a line feed. They are logged and judged before the
    // queries stop, so that they cannot ask the ended client for its status.
    readOutput({}, m_pendingOutput, false, true);
    readOutput({}, m_pendingErrors, true, true);
    emit logMessage(QStringLiteral("frpc 进程已退出 (代码: %1)").arg(exitCode));
    // A reply still on its way came from the client that has just ended.
    stopQueries();

    if (m_status == Running || (m_status == Starting && m_reconnecting)) {
        // The established tunnel dropped, or a client started to restore it ended before it was up.
        ++m_reconnectAttempts;
        m_reconnecting = true;
        emit logMessage(QStringLiteral("检测到连接断开，准备重连..."));
        m_reconnectTimer->start(RECONNECT_DELAY_MS);
        setStatus(Starting);
    } else if (m_status == Stopping) {
        cleanup();
        setStatus(Stopped);
        emit logMessage(QStringLiteral("隧道已停止"));
        cleanupOrphanedFrpcProcesses();
    } else {
        // The client of a new tunnel ended before the tunnel was ever up (typically a failed login),
        // or after an error that has already been shown.
        const bool failedStart = m_status == Starting;
        m_reconnecting = false;
        cleanup();
        setStatus(Stopped);
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
        : LogWindow::filterSensitiveInfo(m_lastErrorLine);
    m_errorMessage = QStringLiteral("连接失败: ") + reason;
    emit errorOccurred(m_errorMessage);
}

void FrpcManager::onProcessError(QProcess::ProcessError error)
{
    if (m_status == Stopped || m_status == Stopping)
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

    // The tunnel is over: no more status queries, even while an error box is open.
    stopQueries();
    m_reconnecting = false;

    emit logMessage(text);
    emit errorOccurred(text);
    m_errorMessage = text;
    setStatus(Error);
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
        if (FrpcClientText::isErrorLine(line, onStandardError))
            m_lastErrorLine = line.trimmed();
    }
    if (newsFromClient && (m_status == Starting || m_status == Running) && !m_outputQueryTimer->isActive())
        m_outputQueryTimer->start();
    // Last: the box that shows it may run the event loop for a long time.
    if (visitorReachedNothing)
        reportUnreachableLocalService();
}

void FrpcManager::reportUnreachableLocalService()
{
    // Once for every established tunnel; the log goes on showing each visit.
    if (m_status != Running || m_localServiceHintGiven)
        return;
    m_localServiceHintGiven = true;
    const QString text
        = QStringLiteral("访问者无法连接：本地端口 %1 上没有程序在监听").arg(m_currentLocalPort);
    emit logMessage(text);
    emit errorOccurred(text);
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
    if (m_status != Starting && m_status != Running)
        return;

    const FrpcClientText::ProxyStatus proxy = FrpcClientText::proxyStatus(reply->readAll(), m_proxyName);
    if (!proxy.valid)
        return;

    if (proxy.port.isEmpty()) {
        // The client has lost the server, or the server refused the proxy; the client keeps trying.
        if (m_status == Running)
            onTunnelDown();
    } else if (m_status == Running) {
        // The client logged in again and the server assigned another port.
        if (proxy.port != m_remotePort) {
            m_remotePort = proxy.port;
            emit logMessage(QStringLiteral("远程端口已变更: %1").arg(proxy.port));
            emit remotePortReady(proxy.port);
        }
    } else {
        m_remotePort = proxy.port;
        m_queryTimer->stop();
        m_reconnectAttempts = 0;
        m_reconnecting = false;
        m_localServiceHintGiven = false;
        setStatus(Running);
        emit logMessage(QStringLiteral("隧道已建立！远程端口: %1").arg(proxy.port));
        emit remotePortReady(proxy.port);
    }

    // Last: the box that shows it may run the event loop for a long time.
    if (!proxy.error.isEmpty() && proxy.port.isEmpty())
        reportProxyError(proxy.error);
}

void FrpcManager::onTunnelDown()
{
    emit logMessage(QStringLiteral("隧道已断开，等待 frpc 重新连接..."));
    m_remotePort.clear();
    // A client that ends from here on ends a tunnel that was up: it is restarted.
    m_reconnecting = true;
    m_queryTimer->start();
    setStatus(Starting);
}

void FrpcManager::reportProxyError(const QString &proxyError)
{
    if (m_shownProxyErrors.contains(proxyError))
        return;
    m_shownProxyErrors.append(proxyError);
    const QString text = QStringLiteral("服务器拒绝了隧道: ") + LogWindow::filterSensitiveInfo(proxyError);
    emit logMessage(text);
    emit errorOccurred(text);
}

void FrpcManager::onReconnectTimeout()
{
    if (m_status != Starting || !m_reconnecting)
        return;

    if (m_reconnectAttempts >= MAX_RECONNECT_ATTEMPTS) {
        m_reconnecting = false;
        emit logMessage(QStringLiteral("重连失败次数过多，已停止"));
        emit errorOccurred(QStringLiteral("重连失败"));
        setStatus(Error);
        return;
    }

    emit logMessage(
        QStringLiteral("尝试重连... (%1/%2)").arg(m_reconnectAttempts + 1).arg(MAX_RECONNECT_ATTEMPTS));
    // The state stays Starting: the ended client and its file are released without a stop, so the
    // owner sees one unbroken attempt to bring the tunnel back.
    cleanup();
    const ServerConfig config = m_currentConfig;
    launchClient(config, m_currentLocalPort);
}

void FrpcManager::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged(status);
}

bool FrpcManager::generateConfigFile(const ServerConfig &config, int localPort)
{
    QFile file;
    if (!createOwnerOnlyFile(file, getConfigPath()))
        return false;

    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::Utf8);
    stream << FrpcClientText::configFile(config, localPort, m_proxyName, { m_webUser, m_webPassword });
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
            removeOwnFile(file.filePath());
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
    if (removeOwnFile(getConfigPath()))
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
