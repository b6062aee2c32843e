#include "frpcprocesses.h"

#include <QtGlobal>

namespace FrpcProcesses {

QString programFileName()
{
    return QStringLiteral("frpc");
}

void endAll(int timeoutMs)
{
    Q_UNUSED(timeoutMs);
}

} // namespace FrpcProcesses
