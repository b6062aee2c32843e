// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/serverconfig.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The texts the controller exchanges with the client, as pure functions.
namespace FrpcClientText {

// The credentials of the client's local web API, passed on to the file and the status queries.
struct WebCredentials
{
    QString user;
    QString password;
};

// A TOML basic string, quotes included: quotation marks, backslashes and control characters are
// escaped, so that no value can end the string or add keys to the file.
QString tomlString(const QString &value);

// The whole client configuration file, line breaks included. proxyType is the proxy's "type": "tcp"
// or "udp".
QString configFile(const ServerConfig &config, int localPort, const QString &proxyName,
                   const WebCredentials &credentials, const QString &proxyType);

// What a reply of the client's status API says about the proxy named proxyName, which it lists under
// its type ("tcp" or "udp").
struct ProxyStatus
{
    // False when the reply is not a JSON object: it then tells nothing about the proxy.
    bool valid = false;
    // The remote port of the first element of the proxy that runs and names a port; empty when the
    // proxy is missing or not running.
    QString port;
    // The first non-empty "err" of the proxy's elements: why the proxy could not start.
    QString error;
    // An element says the proxy runs (a private proxy runs without a port).
    bool running = false;
};

ProxyStatus proxyStatus(const QByteArray &body, const QString &proxyName);

// What one reading of a status reply says about every proxy it lists (under "tcp" and "udp", and the
// private types "stcp", "xtcp" and "sudp"), by name,
// each read as proxyStatus reads one. Empty, with valid false, when the reply is not a JSON object.
struct AllProxyStatuses
{
    bool valid = false;
    QHash<QString, ProxyStatus> byName;
};
AllProxyStatuses allProxyStatuses(const QByteArray &body);

// One proxy of a client file that carries several: its name, "tcp" or "udp", the local port and the
// remote port asked for (0: any the server gives). A private proxy ("stcp", "xtcp" or "sudp") has no
// remote port: it carries the secret its visitors must hold instead.
struct ProxyEntry
{
    QString name;
    QString type;
    int localPort = 0;
    int remotePort = 0;
    QString secretKey = QString();
};

// The client file with every proxy listed, in order.
QString configFile(const ServerConfig &config, const QList<ProxyEntry> &proxies,
                   const WebCredentials &credentials);

// The remote port of the proxy named proxyName in a reply of the client's status API, or an empty
// text when the reply does not name that proxy as running together with a port.
QString remotePortFromStatus(const QByteArray &body, const QString &proxyName);

// True for a line the client writes about a request of its status API: such lines follow every
// status query, so they must never cause another one.
bool isStatusRequestLine(const QString &line);

// True for a line in which the client reports that one of its proxies started ("[name] start proxy
// success"): the proxy's remote port is then in the status.
bool isProxyStartedLine(const QString &line);

// True for a line in which the client reports that its local web API listens ("admin server listen
// on ..."): the status can be asked from then on.
bool isWebApiListeningLine(const QString &line);

// True for a line in which the client reports that a visitor's connection found nothing listening on
// the local port.
bool isUnreachableLocalServiceLine(const QString &line);

// True for a line that may tell why the client failed: anything on standard error, and on standard
// output every line but the informational ones (levels [I], [D], [T]). Warnings and errors of the
// client's log qualify, and so does the plain message without a level that the client prints last
// when it gives up (for example "login to the server failed: ...").
bool isErrorLine(const QString &line, bool onStandardError);

// The log lines of a block of client output: terminal colour sequences removed, split at line feeds,
// empty pieces dropped.
QStringList outputLines(const QString &text);

} // namespace FrpcClientText
