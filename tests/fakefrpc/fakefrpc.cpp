// SPDX-License-Identifier: Apache-2.0
// A stand-in for the frpc tunnel client, built beside the tests under the client's file name.
//
// Command line: frpc -c <configuration file>
//
// It reads the TOML configuration file with a TOML library (a malformed file is refused with a message
// on standard error and exit code 1), then serves GET /api/status on webServer.addr:webServer.port.
// When webServer.user and webServer.password are set, every request must carry them as HTTP basic
// authentication, or it is answered with 401. Like the real client it writes a log line for every
// request it serves, and it reports every configured proxy, listed under its type ("tcp", "udp"):
//   running:     {"name":"tunnel_1","type":"tcp","status":"running","err":"",
//                 "local_addr":"127.0.0.1:8080","plugin":"","remote_addr":"<serverAddr>:46000"}
//   wait start:  "status":"wait start", "remote_addr" the bare server address
//   start error: "status":"start error", "err" the reason, "remote_addr" empty
//   server lost: a reply without any proxy ({})
// Its standard output carries log lines in the real client's format (colour codes, date, level) when
// the proxies start, fail or lose the server.
//
// Behaviour is chosen through environment variables, which the client inherits from whoever starts
// it (a test sets them with qputenv before starting the controller):
//   FAKEFRPC_STDOUT=text        written to standard output at start-up, after decoding the escapes
//   FAKEFRPC_STDERR=text        \n \r \t \\ and \e (the terminal escape character); no line break is
//                               added, so a test controls how the text splits into lines
//   FAKEFRPC_STDOUT_LATER=text  written to standard output 400 ms after start-up, escapes decoded:
//                               with FAKEFRPC_STDOUT, one line can arrive in two writes
//   FAKEFRPC_EXIT_AFTER_MS=n    end n ms after start-up (0: at once, after reading the file and
//                               writing the record, before serving); unset: run until ended
//   FAKEFRPC_EXIT_AFTER_REPORT=n  end n ms after the first status reply that named a port
//   FAKEFRPC_EXIT_CODE=n        exit code of such an end (default 0)
//   FAKEFRPC_CRASH=abort|segv   make such an end a crash (abort() or a segmentation fault)
//   FAKEFRPC_IGNORE_SIGTERM=1   ignore the polite request to end (SIGTERM)
//   FAKEFRPC_TERM_EXIT_CODE=n   exit code after SIGTERM (default 0)
//   FAKEFRPC_REMOTE_PORT=n      remote port reported for the proxies (default 46000; the n-th proxy
//                               gets n added)
//   FAKEFRPC_NO_PORT=1          never report a port: proxies stay "wait start"
//   FAKEFRPC_PROXY_ERROR=text   the server refuses the proxies: "start error" with this "err"
//   FAKEFRPC_REFUSE_PORT=n      ... only the proxies of local port n (the "err" "port not allowed" when
//                               FAKEFRPC_PROXY_ERROR is unset)
//   FAKEFRPC_UDP_PORT_TAKEN=1   a UDP proxy that asks for a remote port is refused ("port already used");
//                               a proxy that asks for one otherwise gets it
//   FAKEFRPC_NO_RELOAD=1        answer GET /api/reload with 404, like an older client; otherwise it
//                               reads the file again, starts the proxies that are new or changed and
//                               drops those no longer listed (each proxy keeps its port while listed)
//   FAKEFRPC_FIRST_NAME_TAKEN=n in the n-th run written to FAKEFRPC_RECORD (n-1 runs in the file before
//                               it), the server holds the proxies' names for an earlier session: "start
//                               error" with "err" "proxy [<name>] already exists"
//   FAKEFRPC_DROP_AFTER_MS=n    lose the server n ms after the first reply that named a port ...
//   FAKEFRPC_BACK_AFTER_MS=m    ... and regain it m ms later, the proxies on ports 100 higher
//   FAKEFRPC_DROP_REPEAT=1      ... and so on for ever: n ms after each return the server is lost
//                               again; the ports alternate between the first ones and 100 higher
//   FAKEFRPC_MOVE_AFTER_MS=n    n ms after the first reply that named a port, log in again without
//                               losing the server: the proxies move to ports 100 higher at once
//   FAKEFRPC_VISITS=n           after the first reply that named a port, n visitors reach the proxies
//                               while nothing listens on the local port: one warning line each
//   FAKEFRPC_VISITS_AFTER_MS=n  ... and they come n ms after that reply (default 0)
//   FAKEFRPC_STATUS_BODY=json   reply with this body instead; every %NAME% is replaced by the name of
//                               the first configured proxy
//   FAKEFRPC_STATUS_PAD=n       add n spaces to the end of every status reply
//   FAKEFRPC_SERVE_DELAY_MS=n   open the web API only n ms after start-up (the log reports the
//                               proxies started at once)
//   FAKEFRPC_REPLY_DELAY_MS=n   answer each status request n ms after it arrived
//   FAKEFRPC_RECORD=path        append one line of compact JSON per run to this file:
//                               {"pid", "startedMs" (ms since the epoch), "arguments",
//                                "workingDirectory", "configPath", "configMode" (octal text),
//                                "config" (the parsed file) or "error" (why it was refused)}
//
// A file with [[visitors]] and no webServer section (a client of visitors only) serves no web API:
// each visitor with a port of its own listens there on its bindAddr, over UDP for "sudp" and TCP
// otherwise, until the client is ended.
//
// Apart from the file and these variables, nothing of the real client's behaviour is imitated.

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

// The library compiled into this program, reporting failures by its results rather than exceptions.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// --- Reading the configuration file ------------------------------------------------------------------

QJsonValue toJson(const toml::node &node)
{
    if (const toml::table *table = node.as_table()) {
        QJsonObject object;
        for (const auto &[key, value] : *table)
            object.insert(QString::fromUtf8(key.str().data(), qsizetype(key.str().size())), toJson(value));
        return object;
    }
    if (const toml::array *array = node.as_array()) {
        QJsonArray elements;
        for (const toml::node &value : *array)
            elements.append(toJson(value));
        return elements;
    }
    if (const auto *text = node.as_string())
        return QString::fromStdString(text->get());
    if (const auto *integer = node.as_integer())
        return qint64(integer->get());
    if (const auto *number = node.as_floating_point())
        return number->get();
    if (const auto *boolean = node.as_boolean())
        return boolean->get();
    // Dates and times, as TOML writes them.
    std::ostringstream text;
    node.visit([&text](const auto &value) { text << value; });
    return QString::fromStdString(text.str());
}

// Reads the file into a JSON object; on failure returns false and sets error.
bool readConfig(const QString &path, QJsonObject *config, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    const toml::parse_result result = toml::parse(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (!result) {
        *error = QStringLiteral("line %1: %2")
                     .arg(result.error().source().begin.line)
                     .arg(QString::fromUtf8(result.error().description().data(),
                                            qsizetype(result.error().description().size())));
        return false;
    }
    *config = toJson(result.table()).toObject();
    return true;
}

// --- Environment ------------------------------------------------------------------------------------------

std::optional<int> envInt(const char *name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

QByteArray decodeEscapes(const QByteArray &text)
{
    QByteArray decoded;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\\' || i + 1 == text.size()) {
            decoded.append(c);
            continue;
        }
        const char next = text.at(++i);
        switch (next) {
        case 'n':
            decoded.append('\n');
            break;
        case 'r':
            decoded.append('\r');
            break;
        case 't':
            decoded.append('\t');
            break;
        case 'e':
            decoded.append('\x1b');
            break;
        case '\\':
            decoded.append('\\');
            break;
        default:
            decoded.append('\\');
            decoded.append(next);
        }
    }
    return decoded;
}

int termExitCode = 0;

// Whether the server holds the proxies' names for an earlier session (FAKEFRPC_FIRST_NAME_TAKEN).
bool namesTaken = false;

// Why the server refuses the proxy; empty when it takes it.
QString proxyErrorFor(const QJsonObject &proxy)
{
    const QString name = proxy.value(QLatin1String("name")).toString();
    QString proxyError = qEnvironmentVariable("FAKEFRPC_PROXY_ERROR");
    if (proxyError.isEmpty() && namesTaken)
        return QStringLiteral("proxy [%1] already exists").arg(name);
    if (qEnvironmentVariableIsSet("FAKEFRPC_REFUSE_PORT")) {
        if (proxy.value(QLatin1String("localPort")).toInt()
            != qEnvironmentVariableIntValue("FAKEFRPC_REFUSE_PORT"))
            return {};
        return proxyError.isEmpty() ? QStringLiteral("port not allowed") : proxyError;
    }
    if (proxyError.isEmpty() && qEnvironmentVariableIntValue("FAKEFRPC_UDP_PORT_TAKEN") != 0
        && proxy.value(QLatin1String("type")).toString() == QLatin1String("udp")
        && proxy.value(QLatin1String("remotePort")).toInt() != 0)
        return QStringLiteral("port already used");
    return proxyError;
}

extern "C" void onTerminate(int)
{
    std::_Exit(termExitCode);
}

[[noreturn]] void endNow()
{
    std::fflush(stdout);
    std::fflush(stderr);
    const QByteArray crash = qgetenv("FAKEFRPC_CRASH");
    if (!crash.isEmpty()) {
#ifdef Q_OS_UNIX
        // No core file: it would only slow the test down.
        const struct rlimit noCore = { 0, 0 };
        ::setrlimit(RLIMIT_CORE, &noCore);
#endif
        if (crash == "segv") {
            std::signal(SIGSEGV, SIG_DFL);
            std::raise(SIGSEGV);
        }
        std::signal(SIGABRT, SIG_DFL);
        std::abort();
    }
    std::_Exit(envInt("FAKEFRPC_EXIT_CODE").value_or(0));
}

void appendRecord(const QJsonObject &record)
{
    const QString path = qEnvironmentVariable("FAKEFRPC_RECORD");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    // One write per line, so that runs close together never mix their lines.
    file.write(QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n');
}

QString fileMode(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return QString::number(info.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0'));
#else
    Q_UNUSED(path);
    return {};
#endif
}

// While the rest of a line written in two writes (FAKEFRPC_STDOUT_LATER) is still to come, the log
// lines wait here, so that none lands inside that line.
bool lineOpen = false;
QByteArray heldLines;

// Writes one line of the real client's log to standard output: colour, date, level, source, text.
void logLine(char level, const char *source, const QString &text)
{
    const QByteArray colour = level == 'W' ? "1;33" : level == 'E' ? "1;31" : "1;34";
    const QByteArray line = "\x1b[" + colour + 'm'
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8() + " ["
        + level + "] [" + source + "] " + text.toUtf8() + "\n\x1b[0m";
    if (lineOpen) {
        heldLines += line;
        return;
    }
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

// --- The status API -------------------------------------------------------------------------------

class StatusServer : public QObject
{
public:
    explicit StatusServer(const QJsonObject &config, QObject *parent = nullptr)
        : QObject(parent)
        , m_config(config)
        , m_proxies(config.value(QLatin1String("proxies")).toArray())
        , m_runId(QByteArray::number(QCoreApplication::applicationPid(), 16).rightJustified(16, '0'))
    {
        const QJsonObject web = config.value(QLatin1String("webServer")).toObject();
        const QString user = web.value(QLatin1String("user")).toString();
        const QString password = web.value(QLatin1String("password")).toString();
        if (!user.isEmpty() || !password.isEmpty())
            m_expectedAuth = "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
        connect(&m_server, &QTcpServer::newConnection, this, &StatusServer::onNewConnection);
    }

    bool listen(QString *error)
    {
        const QJsonObject web = m_config.value(QLatin1String("webServer")).toObject();
        const QHostAddress address(web.value(QLatin1String("addr")).toString(QStringLiteral("127.0.0.1")));
        const int port = web.value(QLatin1String("port")).toInt(-1);
        if (port < 0 || port > 65535) {
            *error = QStringLiteral("webServer.port missing or out of range");
            return false;
        }
        if (!m_server.listen(address, quint16(port))) {
            *error = m_server.errorString();
            return false;
        }
        m_webAddress = QStringLiteral("%1:%2").arg(address.toString()).arg(port);
        return true;
    }

    // The proxies start (or fail) as soon as the client has logged in.
    void logIn()
    {
        m_online = true;
        logLine('I', "client/service.go:323",
                QStringLiteral("[%1] login to server success, get run id [%1]").arg(runId()));
        startProxies(m_proxies);
    }

    // Re-reads the file: new and changed proxies start, those no longer listed end.
    void reload(QTcpSocket *socket)
    {
        QJsonObject config;
        QString error;
        if (!readConfig(m_configPath, &config, &error)) {
            respond(socket, "400 Bad Request", "text/plain; charset=utf-8", error.toUtf8() + '\n');
            return;
        }
        const QJsonArray proxies = config.value(QLatin1String("proxies")).toArray();
        QJsonArray started;
        for (const QJsonValue &proxy : proxies) {
            if (!m_proxies.contains(proxy))
                started.append(proxy);
        }
        for (const QJsonValue &proxy : std::as_const(m_proxies)) {
            if (!proxies.contains(proxy))
                m_ports.remove(proxy.toObject().value(QLatin1String("name")).toString());
        }
        m_proxies = proxies;
        appendRecord(QJsonObject { { QStringLiteral("pid"), QCoreApplication::applicationPid() },
                                   { QStringLiteral("reload"), true },
                                   { QStringLiteral("config"), config } });
        respond(socket, "200 OK", "text/plain; charset=utf-8", "reload success\n");
        if (m_online && !started.isEmpty())
            startProxies(started);
    }

    void startProxies(const QJsonArray &proxies)
    {
        QStringList names;
        for (const QJsonValue &proxy : proxies)
            names << proxy.toObject().value(QLatin1String("name")).toString();
        logLine('I', "proxy/proxy_manager.go:180",
                QStringLiteral("[%1] proxy added: [%2]").arg(runId(), names.join(QLatin1Char(' '))));
        for (const QJsonValue &proxy : proxies) {
            const QString name = proxy.toObject().value(QLatin1String("name")).toString();
            const QString proxyError = proxyErrorFor(proxy.toObject());
            if (!proxyError.isEmpty())
                logLine('W', "client/control.go:170",
                        QStringLiteral("[%1] [%2] start error: %3").arg(runId(), name, proxyError));
            else if (qEnvironmentVariableIntValue("FAKEFRPC_NO_PORT") == 0)
                logLine('I', "client/control.go:172",
                        QStringLiteral("[%1] [%2] start proxy success").arg(runId(), name));
        }
    }

private:
    QString runId() const { return QString::fromLatin1(m_runId); }

    void loseServer()
    {
        m_online = false;
        logLine('I', "client/service.go:331",
                QStringLiteral("[%1] try to connect to server...").arg(runId()));
        logLine('W', "client/service.go:334",
                QStringLiteral("[%1] connect to server error: session shutdown").arg(runId()));
    }

    // The first reply that named a port starts what the environment asks to happen after it.
    void onFirstPortReported()
    {
        if (const std::optional<int> visits = envInt("FAKEFRPC_VISITS"))
            QTimer::singleShot(envInt("FAKEFRPC_VISITS_AFTER_MS").value_or(0), this,
                               [this, visits] { refuseVisitors(*visits); });
        if (const std::optional<int> delay = envInt("FAKEFRPC_EXIT_AFTER_REPORT"))
            QTimer::singleShot(*delay, this, [] { endNow(); });
        if (const std::optional<int> moveAfter = envInt("FAKEFRPC_MOVE_AFTER_MS")) {
            QTimer::singleShot(*moveAfter, this, [this] {
                m_portShift += 100;
                logIn();
            });
        }
        scheduleDrop();
    }

    void scheduleDrop()
    {
        if (const std::optional<int> dropAfter = envInt("FAKEFRPC_DROP_AFTER_MS")) {
            QTimer::singleShot(*dropAfter, this, [this] {
                loseServer();
                if (const std::optional<int> backAfter = envInt("FAKEFRPC_BACK_AFTER_MS")) {
                    QTimer::singleShot(*backAfter, this, [this] {
                        const bool repeat = qEnvironmentVariableIntValue("FAKEFRPC_DROP_REPEAT") != 0;
                        m_portShift = repeat && m_portShift == 100 ? 0 : m_portShift + 100;
                        logIn();
                        if (repeat)
                            scheduleDrop();
                    });
                }
            });
        }
    }

    void refuseVisitors(int count)
    {
        const QJsonObject proxy = m_proxies.first().toObject();
        const QString local
            = QStringLiteral("127.0.0.1:%1").arg(proxy.value(QLatin1String("localPort")).toInteger());
        const QString text
            = QStringLiteral("[%1] [%2] connect to local service [%3] error: dial tcp %3: connect: "
                             "connection refused")
                  .arg(runId(), proxy.value(QLatin1String("name")).toString(), local);
        for (int i = 0; i < count; ++i)
            logLine('W', "proxy/proxy.go:204", text);
    }

    void onNewConnection()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void onReadyRead(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer.append(socket->readAll());
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            if (buffer.size() > 65536)
                socket->abort();
            return;
        }
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        m_buffers.remove(socket);

        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        QByteArray authorization;
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "authorization")
                authorization = line.mid(colon + 1).trimmed();
        }

        if (!m_expectedAuth.isEmpty() && authorization != m_expectedAuth) {
            respond(socket, "401 Unauthorized", "text/plain; charset=utf-8", "Unauthorized\n",
                    "Www-Authenticate: Basic realm=\"Restricted\"\r\n");
            return;
        }
        if (requestLine.value(0) == "GET" && requestLine.value(1) == "/api/reload"
            && qEnvironmentVariableIntValue("FAKEFRPC_NO_RELOAD") == 0) {
            logLine('I', "client/admin_api.go:60", QStringLiteral("http request [/api/reload]"));
            reload(socket);
            return;
        }
        if (requestLine.value(0) != "GET" || requestLine.value(1) != "/api/status") {
            respond(socket, "404 Not Found", "text/plain; charset=utf-8", "404 page not found\n");
            return;
        }

        const int delay = envInt("FAKEFRPC_REPLY_DELAY_MS").value_or(0);
        if (delay <= 0) {
            answerStatus(socket);
            return;
        }
        const QPointer<QTcpSocket> guarded = socket;
        QTimer::singleShot(delay, this, [this, guarded] {
            if (guarded)
                answerStatus(guarded);
        });
    }

    void answerStatus(QTcpSocket *socket)
    {
        logLine('I', "client/admin_api.go:168", QStringLiteral("http request [/api/status]"));
        bool namesPort = false;
        QByteArray body = statusBody(&namesPort);
        body.append(QByteArray(qMax(0, envInt("FAKEFRPC_STATUS_PAD").value_or(0)), ' '));
        respond(socket, "200 OK", "application/json", body);
        logLine('I', "client/admin_api.go:170", QStringLiteral("http response [/api/status]"));
        if (namesPort && !m_portReported) {
            m_portReported = true;
            onFirstPortReported();
        }
    }

    QByteArray statusBody(bool *namesPort) const
    {
        const QByteArray custom = qgetenv("FAKEFRPC_STATUS_BODY");
        if (!custom.isEmpty()) {
            QByteArray body = custom;
            const QString name = m_proxies.isEmpty()
                ? QString()
                : m_proxies.first().toObject().value(QLatin1String("name")).toString();
            // The name goes in as the inside of a JSON string.
            QByteArray quoted = QJsonDocument(QJsonArray { name }).toJson(QJsonDocument::Compact);
            quoted = quoted.mid(2, quoted.size() - 4);
            body.replace("%NAME%", quoted);
            *namesPort = true;
            return body;
        }
        *namesPort = false;
        if (!m_online)
            return "{}";

        const QString serverAddr = m_config.value(QLatin1String("serverAddr")).toString();
        const bool noPort = qEnvironmentVariableIntValue("FAKEFRPC_NO_PORT") != 0;
        const int remotePort = envInt("FAKEFRPC_REMOTE_PORT").value_or(46000) + m_portShift;
        QHash<QString, QJsonArray> byType;
        for (int i = 0; i < m_proxies.size(); ++i) {
            const QJsonObject proxy = m_proxies.at(i).toObject();
            const QString proxyError = proxyErrorFor(proxy);
            const QString localAddr
                = proxy.value(QLatin1String("localIP")).toString(QStringLiteral("127.0.0.1"))
                + QLatin1Char(':') + QString::number(proxy.value(QLatin1String("localPort")).toInteger());
            QString status = QStringLiteral("running");
            const int asked = proxy.value(QLatin1String("remotePort")).toInt();
            QString remoteAddr = serverAddr + QLatin1Char(':')
                + QString::number(asked != 0 ? asked : remotePort + portIndex(proxy));

            if (!proxyError.isEmpty()) {
                status = QStringLiteral("start error");
                remoteAddr.clear();
            } else if (noPort) {
                status = QStringLiteral("wait start");
                remoteAddr = serverAddr;
            } else {
                *namesPort = true;
            }
            const QString type = proxy.value(QLatin1String("type")).toString(QStringLiteral("tcp"));
            byType[type].append(QJsonObject {
                { QStringLiteral("name"), proxy.value(QLatin1String("name")).toString() },
                { QStringLiteral("type"), proxy.value(QLatin1String("type")).toString() },
                { QStringLiteral("status"), status },
                { QStringLiteral("err"), proxyError },
                { QStringLiteral("local_addr"), localAddr },
                { QStringLiteral("plugin"), QString() },
                { QStringLiteral("remote_addr"), remoteAddr },
            });
        }
        QJsonObject reply;
        for (auto it = byType.cbegin(); it != byType.cend(); ++it)
            reply.insert(it.key(), it.value());
        if (reply.isEmpty())
            reply.insert(QStringLiteral("tcp"), QJsonArray());
        return QJsonDocument(reply).toJson(QJsonDocument::Compact);
    }

    static void respond(QTcpSocket *socket, const QByteArray &status, const QByteArray &contentType,
                        const QByteArray &body, const QByteArray &extraHeaders = QByteArray())
    {
        QByteArray response = "HTTP/1.1 " + status + "\r\n";
        response += "Content-Type: " + contentType + "\r\n";
        response += extraHeaders;
        response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        response += "Connection: close\r\n\r\n";
        response += body;
        socket->write(response);
        socket->disconnectFromHost();
    }

    // The place of each proxy among those that were given a port, kept while it is listed.
    int portIndex(const QJsonObject &proxy) const
    {
        const QString name = proxy.value(QLatin1String("name")).toString();
        auto it = m_ports.constFind(name);
        if (it == m_ports.cend()) {
            int next = 0;
            for (const int taken : m_ports)
                next = qMax(next, taken + 1);
            it = m_ports.insert(name, next);
        }
        return it.value();
    }

public:
    QString m_configPath;
    QString m_webAddress;

private:
    QJsonObject m_config;
    QJsonArray m_proxies;
    mutable QHash<QString, int> m_ports;

    QByteArray m_runId;
    QByteArray m_expectedAuth;
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    bool m_online = false;
    bool m_portReported = false;
    int m_portShift = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 startedMs = QDateTime::currentMSecsSinceEpoch();

    termExitCode = envInt("FAKEFRPC_TERM_EXIT_CODE").value_or(0);
    if (qEnvironmentVariableIntValue("FAKEFRPC_IGNORE_SIGTERM") != 0)
        std::signal(SIGTERM, SIG_IGN);
    else
        std::signal(SIGTERM, onTerminate);

    const QByteArray out = decodeEscapes(qgetenv("FAKEFRPC_STDOUT"));
    const QByteArray err = decodeEscapes(qgetenv("FAKEFRPC_STDERR"));
    if (!out.isEmpty()) {
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        std::fflush(stdout);
    }
    if (!err.isEmpty()) {
        std::fwrite(err.constData(), 1, size_t(err.size()), stderr);
        std::fflush(stderr);
    }

    const QByteArray later = decodeEscapes(qgetenv("FAKEFRPC_STDOUT_LATER"));
    if (!later.isEmpty()) {
        lineOpen = true;
        QTimer::singleShot(400, &app, [later] {
            const QByteArray rest = later + heldLines;
            lineOpen = false;
            heldLines.clear();
            std::fwrite(rest.constData(), 1, size_t(rest.size()), stdout);
            std::fflush(stdout);
        });
    }

    const QStringList arguments = app.arguments().mid(1);
    QJsonObject record {
        { QStringLiteral("pid"), QCoreApplication::applicationPid() },
        { QStringLiteral("startedMs"), startedMs },
        { QStringLiteral("arguments"), QJsonArray::fromStringList(arguments) },
        { QStringLiteral("workingDirectory"), QDir::currentPath() },
    };

    if (arguments.size() != 2 || arguments.at(0) != QLatin1String("-c")) {
        std::fprintf(stderr, "usage: frpc -c <configuration file>\n");
        record.insert(QStringLiteral("error"), QStringLiteral("bad command line"));
        appendRecord(record);
        return 2;
    }

    const QString configPath = arguments.at(1);
    record.insert(QStringLiteral("configPath"), configPath);
    record.insert(QStringLiteral("configMode"), fileMode(configPath));

    QJsonObject config;
    QString error;
    if (!readConfig(configPath, &config, &error)) {
        std::fprintf(stderr, "fakefrpc: %s\n", qPrintable(error));
        record.insert(QStringLiteral("error"), error);
        appendRecord(record);
        return 1;
    }
    record.insert(QStringLiteral("config"), config);
    if (const int takenRun = qEnvironmentVariableIntValue("FAKEFRPC_FIRST_NAME_TAKEN"); takenRun > 0) {
        QFile runs(qEnvironmentVariable("FAKEFRPC_RECORD"));
        namesTaken = (runs.open(QIODevice::ReadOnly) ? int(runs.readAll().count('\n')) : 0) == takenRun - 1;
    }
    appendRecord(record);

    const std::optional<int> exitAfter = envInt("FAKEFRPC_EXIT_AFTER_MS");
    if (exitAfter && *exitAfter <= 0)
        endNow();
    if (exitAfter)
        QTimer::singleShot(*exitAfter, &app, [] { endNow(); });

    if (!config.contains(QLatin1String("webServer")) && config.contains(QLatin1String("visitors"))) {
        std::vector<std::unique_ptr<QObject>> listeners;
        for (const QJsonValue &value : config.value(QLatin1String("visitors")).toArray()) {
            const QJsonObject visitor = value.toObject();
            const int port = visitor.value(QLatin1String("bindPort")).toInt(-1);
            if (port <= 0 || port > 65535)
                continue;
            const QHostAddress address(
                visitor.value(QLatin1String("bindAddr")).toString(QStringLiteral("127.0.0.1")));
            if (visitor.value(QLatin1String("type")).toString() == QLatin1String("sudp")) {
                auto socket = std::make_unique<QUdpSocket>();
                socket->bind(address, quint16(port));
                listeners.push_back(std::move(socket));
            } else {
                auto server = std::make_unique<QTcpServer>();
                server->listen(address, quint16(port));
                listeners.push_back(std::move(server));
            }
        }
        return app.exec();
    }

    StatusServer server(config);
    server.m_configPath = configPath;
    const auto serve = [&server] {
        QString listenError;
        if (!server.listen(&listenError)) {
            std::fprintf(stderr, "fakefrpc: web server: %s\n", qPrintable(listenError));
            std::exit(1);
        }
    };
    const int serveDelay = envInt("FAKEFRPC_SERVE_DELAY_MS").value_or(0);
    if (serveDelay > 0) {
        // The proxies start while the web API is still closed.
        server.logIn();
        QTimer::singleShot(serveDelay, &app, serve);
    } else {
        // As the real client does, the web API listens and says so before the client logs in. A web
        // API that opens late says nothing, so that only the periodic query finds it.
        serve();
        logLine('I', "client/service.go:210",
                QStringLiteral("admin server listen on ") + server.m_webAddress);
        server.logIn();
    }

    return app.exec();
}
