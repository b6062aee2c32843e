#include "frpcprocesses.h"

#include <QProcess>

namespace FrpcProcesses {

QString programFileName()
{
    return QStringLiteral("frpc.exe");
}

void endAll(int timeoutMs)
{
    QProcess taskkill;
    taskkill.start(QStringLiteral("taskkill"),
                   { QStringLiteral("/F"), QStringLiteral("/IM"), QStringLiteral("frpc.exe") });
    taskkill.waitForFinished(timeoutMs);
}

} // namespace FrpcProcesses
