// SPDX-License-Identifier: Apache-2.0
// The client processes on Windows: left-over clients ended, the client tied to the program by a job
// object.
#include "core/platform/frpcprocesses.h"

#include <QProcess>

#include <iterator>

#include <windows.h>

namespace {

// One job object for the whole run; the system closes its handle when the program ends, in any way,
// and then ends every process in the job.
HANDLE clientJob()
{
    static const HANDLE job = [] {
        HANDLE handle = ::CreateJobObjectW(nullptr, nullptr);
        if (!handle)
            return HANDLE(nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!::SetInformationJobObject(handle, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
            ::CloseHandle(handle);
            return HANDLE(nullptr);
        }
        return handle;
    }();
    return job;
}

} // namespace

namespace FrpcProcesses {

QString programFileName()
{
    return QStringLiteral("frpc.exe");
}

void endAll(const QString &programPath, int timeoutMs)
{
    Q_UNUSED(programPath);
    QProcess taskkill;
    taskkill.start(QStringLiteral("taskkill"),
                   { QStringLiteral("/F"), QStringLiteral("/IM"), QStringLiteral("frpc.exe") });
    taskkill.waitForFinished(timeoutMs);
}

// taskkill names no exceptions: the spared clients end too, and their owners start them again.
void spare(qint64 pid, bool spared)
{
    Q_UNUSED(pid);
    Q_UNUSED(spared);
}

void bindToProgram(QProcess &process)
{
    QObject::connect(&process, &QProcess::started, &process, [&process] {
        const HANDLE job = clientJob();
        if (!job)
            return;
        const HANDLE child
            = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(process.processId()));
        if (!child)
            return;
        ::AssignProcessToJobObject(job, child);
        ::CloseHandle(child);
    });
}

bool isThisProgram(qint64 pid)
{
    if (pid <= 0)
        return false;
    const HANDLE handle = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!handle)
        return false;
    wchar_t path[MAX_PATH * 4];
    DWORD size = DWORD(std::size(path));
    DWORD exitCode = 0;
    const bool running = ::GetExitCodeProcess(handle, &exitCode) && exitCode == STILL_ACTIVE;
    const bool named = ::QueryFullProcessImageNameW(handle, 0, path, &size);
    ::CloseHandle(handle);
    if (!running || !named)
        return false;
    wchar_t self[MAX_PATH * 4];
    DWORD selfSize = DWORD(std::size(self));
    if (!::QueryFullProcessImageNameW(::GetCurrentProcess(), 0, self, &selfSize))
        return false;
    return QString::fromWCharArray(path, int(size))
               .compare(QString::fromWCharArray(self, int(selfSize)), Qt::CaseInsensitive)
        == 0;
}

} // namespace FrpcProcesses
