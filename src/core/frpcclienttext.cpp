// SPDX-License-Identifier: Apache-2.0
// The texts exchanged with the frpc client: the client file written for it, the status replies and
// the output lines read from it.
#include "core/frpcclienttext.h"

#include "core/tunneladdress.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>

#include <cmath>
#include <optional>

namespace {

QString keyLine(const char *key, const QString &text)
{
    return QLatin1String(key) + QStringLiteral(" = ") + FrpcClientText::tomlString(text);
}

QString keyLine(const char *key, int number)
{
    return QLatin1String(key) + QStringLiteral(" = ") + QString::number(number);
}

constexpr int MAX_PORT = 65535;

// The port a text names when it is all decimal digits with a value from 1 to MAX_PORT, written
// without leading zeros; an empty text otherwise.
QString assignedPort(const QString &text)
{
    if (text.isEmpty() || text.size() > 8)
        return {};
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return {};
    }
    const int number = text.toInt();
    return number >= 1 && number <= MAX_PORT ? QString::number(number) : QString();
}

constexpr int HEARTBEAT_INTERVAL_S = 2;
constexpr int HEARTBEAT_TIMEOUT_S = 8;

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
                   const WebCredentials &credentials, const QString &proxyType)
{
    return configFile(config, { ProxyEntry { proxyName, proxyType, localPort, 0 } }, credentials);
}

QString configFile(const ServerConfig &config, const QList<ProxyEntry> &proxies,
                   const WebCredentials &credentials)
{
    QStringList lines = {
        // An IPv6 literal typed in brackets reaches the client without them: it adds its own.
        keyLine("serverAddr", TunnelAddress::bareHost(config.serverAddr)),
        keyLine("serverPort", config.serverPort),
        // A ping every 2 s and an alarm after 8 s without an answer: a path that goes silent is seen
        // within about 9 s, well under 10, while four pings must go unanswered before it is, so a slow
        // link raises no false alarm. Servers with frp's default settings answer every ping.
        keyLine("transport.heartbeatInterval", HEARTBEAT_INTERVAL_S),
        keyLine("transport.heartbeatTimeout", HEARTBEAT_TIMEOUT_S),
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
    };
    for (const ProxyEntry &proxy : proxies) {
        lines << QString() << QStringLiteral("[[proxies]]") << keyLine("name", proxy.name)
              << keyLine("type", proxy.type) << keyLine("localIP", QStringLiteral("127.0.0.1"))
              << keyLine("localPort", proxy.localPort);
        if (proxy.secretKey.isEmpty())
            lines << keyLine("remotePort", proxy.remotePort);
        else
            lines << keyLine("secretKey", proxy.secretKey);
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

namespace {

// Takes one element of a status reply into what is known of its proxy.
void readProxyElement(const QJsonObject &proxy, ProxyStatus &result)
{
    if (result.error.isEmpty())
        result.error = proxy.value(QLatin1String("err")).toString().trimmed();
    if (proxy.value(QLatin1String("status")).toString() == QLatin1String("running"))
        result.running = true;
    if (!result.port.isEmpty())
        return;
    // Before its proxy runs the client reports the bare server address (for "::1" the text after
    // the last colon is no port at all): only a running proxy has a remote port.
    const QJsonValue status = proxy.value(QLatin1String("status"));
    if (!status.isUndefined() && status.toString() != QLatin1String("running"))
        return;

    // The reply may come from any program that took the port first: only a port a server can assign
    // is taken, a decimal number from 1 to 65535, written as the controller writes it.
    QString port;
    const QString address = proxy.value(QLatin1String("remote_addr")).toString();
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0)
        port = assignedPort(address.mid(colon + 1));

    if (port.isEmpty()) {
        const QJsonValue remotePort = proxy.value(QLatin1String("remote_port"));
        const double number = remotePort.isDouble() ? remotePort.toDouble() : 0.0;
        if (std::floor(number) == number && number >= 1 && number <= MAX_PORT)
            port = QString::number(int(number));
    }
    result.port = port;
}

// The elements of a reply, "tcp" ones first, then "udp" and the private types; nothing when the reply
// is not a JSON object.
std::optional<QJsonArray> replyElements(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    // A missing member or one of another type reads as an empty array.
    const QJsonObject types = document.object();
    QJsonArray proxies = types.value(QLatin1String("tcp")).toArray();
    for (const char *type : { "udp", "stcp", "xtcp", "sudp" }) {
        for (const QJsonValue &element : types.value(QLatin1String(type)).toArray())
            proxies.append(element);
    }
    return proxies;
}

} // namespace

ProxyStatus proxyStatus(const QByteArray &body, const QString &proxyName)
{
    ProxyStatus result;
    const std::optional<QJsonArray> proxies = replyElements(body);
    if (!proxies)
        return result;
    result.valid = true;
    for (const QJsonValue &element : *proxies) {
        const QJsonObject proxy = element.toObject();
        const QJsonValue name = proxy.value(QLatin1String("name"));
        if (name.isString() && name.toString() == proxyName)
            readProxyElement(proxy, result);
    }
    return result;
}

AllProxyStatuses allProxyStatuses(const QByteArray &body)
{
    AllProxyStatuses result;
    const std::optional<QJsonArray> proxies = replyElements(body);
    if (!proxies)
        return result;
    result.valid = true;
    for (const QJsonValue &element : *proxies) {
        const QJsonObject proxy = element.toObject();
        const QJsonValue name = proxy.value(QLatin1String("name"));
        if (!name.isString())
            continue;
        ProxyStatus &status = result.byName[name.toString()];
        status.valid = true;
        readProxyElement(proxy, status);
    }
    return result;
}

QString remotePortFromStatus(const QByteArray &body, const QString &proxyName)
{
    return proxyStatus(body, proxyName).port;
}

bool isProxyStartedLine(const QString &line)
{
    return line.contains(QLatin1String("start proxy success"));
}

bool isWebApiListeningLine(const QString &line)
{
    return line.contains(QLatin1String("admin server listen on"));
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
