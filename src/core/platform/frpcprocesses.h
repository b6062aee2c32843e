// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

class QProcess;

// The system side of running the frpc client.
namespace FrpcProcesses {

// File name of the client program inside the application directory.
QString programFileName();

// Ends the left-over client processes of the current user, waiting at most timeoutMs milliseconds.
// On Unix these are the processes that run the program file at programPath, but those spared; on
// Windows every process of the client's program name. The outcome is not reported.
void endAll(const QString &programPath, int timeoutMs);

// Marks the client process with this ID as one this program runs beside its tunnel client (spared
// true), so that endAll leaves it alone, or drops the mark (false).
void spare(qint64 pid, bool spared);

// Ties a client process that is about to be started to this program, so that the system ends it
// when this program ends for any reason, a crash or a forced kill included.
void bindToProgram(QProcess &process);

// True while the process with this ID runs this very program.
bool isThisProgram(qint64 pid);

} // namespace FrpcProcesses
