#pragma once

#include <QString>

// The system side of running the frpc client.
namespace FrpcProcesses {

// File name of the client program inside the application directory.
QString programFileName();

// Ends every client process of the current user that carries the client's program name,
// waiting at most timeoutMs milliseconds. The outcome is not reported.
void endAll(int timeoutMs);

} // namespace FrpcProcesses
