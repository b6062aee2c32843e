// SPDX-License-Identifier: Apache-2.0
// The client's output cut into whole lines and judged, without the controller around it.
#include "core/clientoutput.h"

#include "core/frpcclienttext.h"
#include "core/proxyname.h"
#include "core/redaction.h"

#include <QCoreApplication>

namespace ClientOutput {

QStringList takeLines(QByteArray &pending, const QByteArray &bytes, bool clientEnded)
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
    pending.remove(0, start);
    return lines;
}

Verdict judge(const QStringList &lines, bool onStandardError)
{
    Verdict verdict;
    for (const QString &line : lines) {
        // Our own status requests make the client write; they must never cause another one.
        if (line.trimmed().isEmpty() || FrpcClientText::isStatusRequestLine(line))
            continue;
        // A visitor came through the tunnel, but nothing listens on the local port. Such lines come
        // with every visit and say nothing about the tunnel itself.
        if (FrpcClientText::isUnreachableLocalServiceLine(line)) {
            verdict.visitorReachedNothing = true;
            verdict.unreachableLines << line;
            continue;
        }
        verdict.newsFromClient = true;
        if (FrpcClientText::isProxyStartedLine(line))
            verdict.proxyStarted = true;
        if (FrpcClientText::isWebApiListeningLine(line))
            verdict.webApiListening = true;
        if (ProxyName::isNameTakenError(line))
            verdict.nameTaken = true;
        if (FrpcClientText::isErrorLine(line, onStandardError))
            verdict.errorLine = line.trimmed();
    }
    return verdict;
}

Unreachability unreachability(const QString &errorLine)
{
    // Go's words for a failed dial, as the client passes them on: "dial tcp 203.0.113.1:7000:
    // connect: connection refused", "... i/o timeout", "dial tcp: lookup host on ...: no such host".
    struct Cause
    {
        const char *words;
        Unreachable kind;
        const char *reason;
    };
    static const Cause causes[] = {
        { "connection refused", Unreachable::Server, QT_TRANSLATE_NOOP("ClientOutput", "连接被拒绝") },
        { "i/o timeout", Unreachable::Server, QT_TRANSLATE_NOOP("ClientOutput", "没有应答") },
        { "connection reset", Unreachable::Server, QT_TRANSLATE_NOOP("ClientOutput", "连接被重置") },
        { "network is unreachable", Unreachable::Network, QT_TRANSLATE_NOOP("ClientOutput", "网络不可达") },
        { "no route to host", Unreachable::Network, QT_TRANSLATE_NOOP("ClientOutput", "没有到服务器的路由") },
        { "no such host", Unreachable::Network, QT_TRANSLATE_NOOP("ClientOutput", "域名无法解析") },
        { "server misbehaving", Unreachable::Network, QT_TRANSLATE_NOOP("ClientOutput", "域名无法解析") },
        { "temporary failure in name resolution", Unreachable::Network,
          QT_TRANSLATE_NOOP("ClientOutput", "域名无法解析") },
    };
    if (!errorLine.contains(QLatin1String("dial tcp")) && !errorLine.contains(QLatin1String("lookup ")))
        return {};
    for (const Cause &cause : causes) {
        if (errorLine.contains(QLatin1String(cause.words), Qt::CaseInsensitive))
            return { cause.kind, QCoreApplication::translate("ClientOutput", cause.reason) };
    }
    return {};
}

bool isLoginSuccessLine(const QString &line)
{
    return line.contains(QLatin1String("login to server success"));
}

QString logText(const QString &line, bool onStandardError, const QStringList &secrets)
{
    // Hidden in the whole text: a secret may begin in the mark itself.
    return Redaction::hideSecrets(
        onStandardError ? QCoreApplication::translate("ClientOutput", "[错误] %1").arg(line) : line, secrets);
}

} // namespace ClientOutput
