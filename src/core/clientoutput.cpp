// SPDX-License-Identifier: Apache-2.0
// The client's output cut into whole lines and judged, without the controller around it.
#include "core/clientoutput.h"

#include "core/frpcclienttext.h"
#include "core/proxyname.h"
#include "core/redaction.h"

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
        if (ProxyName::isNameTakenError(line))
            verdict.nameTaken = true;
        if (FrpcClientText::isErrorLine(line, onStandardError))
            verdict.errorLine = line.trimmed();
    }
    return verdict;
}

QString logText(const QString &line, bool onStandardError, const QStringList &secrets)
{
    // Hidden in the whole text: a secret may begin in the mark itself.
    return Redaction::hideSecrets(onStandardError ? QStringLiteral("[错误] ") + line : line, secrets);
}

} // namespace ClientOutput
