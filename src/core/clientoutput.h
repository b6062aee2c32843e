// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The client's output as the controller reads it: cut into whole lines, whatever the reads, and each
// line judged for what it says about the tunnel. Pure functions, so that any output can be tried on
// them without a client.
namespace ClientOutput {

// A client that writes this many bytes without a line feed has them logged and judged as one line.
constexpr qsizetype MAX_PENDING_LINE = 64 * 1024;

// Adds bytes of one channel to its pending text and returns the lines completed, colour codes
// removed; the bytes after the last line feed stay pending. Once the client has ended (clientEnded),
// the rest is returned too.
QStringList takeLines(QByteArray &pending, const QByteArray &bytes, bool clientEnded);

// What a batch of lines from one channel says.
struct Verdict
{
    // Some line is news from the client (not about a status request nor a visitor's failed visit).
    bool newsFromClient = false;
    // A visitor came through the tunnel but found nothing listening on the local port.
    bool visitorReachedNothing = false;
    // The lines that said so (they name the proxy the visitor came through).
    QStringList unreachableLines;
    // A proxy started: its port is in the client's status at once.
    bool proxyStarted = false;
    // The client's web API listens: the status can be asked from now on.
    bool webApiListening = false;
    // The server still holds the proxy's name for an earlier session.
    bool nameTaken = false;
    // The last line that may say why the client failed, trimmed; empty when none did.
    QString errorLine;
};

Verdict judge(const QStringList &lines, bool onStandardError);

// Why a client that could not log in did not reach its server, when waiting may mend it: the
// system has no way to the server (no network, no route, a name that does not resolve) or the server
// does not take the connection (refuses it, does not answer). Anything else (a wrong token, a server
// that answers with something else) is no reason to wait.
enum class Unreachable { No, Network, Server };
struct Unreachability
{
    Unreachable kind = Unreachable::No;
    // The reason in the user's words, for the log and the hint ("连接被拒绝").
    QString reason;
};
Unreachability unreachability(const QString &errorLine);

// The line the client writes once it has logged in to the server.
bool isLoginSuccessLine(const QString &line);

// The text a line of the client's output is logged as: marked when it came on standard error, and
// the secrets of the client file (its token, the web API's password) hidden wherever they stand.
QString logText(const QString &line, bool onStandardError, const QStringList &secrets);

} // namespace ClientOutput
