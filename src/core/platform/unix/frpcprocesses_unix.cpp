// SPDX-License-Identifier: Apache-2.0
// The client processes on Linux: left-over clients found in /proc and ended, the client tied to the
// program by the parent-death signal.
#include "core/platform/frpcprocesses.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

const char ClientName[] = "frpc";

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

// The program file a process runs, as the kernel names it. Readable for our own processes only. A
// program file replaced since the process started is named with a mark the kernel adds.
QString executableOf(const QString &procDir)
{
    QString exe = QFile::symLinkTarget(procDir + QStringLiteral("/exe"));
    const QString deletedMark = QStringLiteral(" (deleted)");
    if (exe.endsWith(deletedMark))
        exe.chop(deletedMark.size());
    return exe;
}

// A process has ended when its /proc entry is gone or it only waits to be reaped by its parent.
bool hasEnded(pid_t pid)
{
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.isEmpty())
        return true;
    // The state letter follows the command name, which is enclosed in parentheses and may hold any
    // character, so search from the last closing parenthesis.
    const int close = stat.lastIndexOf(')');
    if (close < 0 || close + 2 >= stat.size())
        return true;
    const char state = stat.at(close + 2);
    return state == 'Z' || state == 'X';
}

QMutex sparedMutex;
QSet<qint64> sparedProcesses;

bool isSpared(pid_t pid)
{
    const QMutexLocker locker(&sparedMutex);
    return sparedProcesses.contains(pid);
}

} // namespace

namespace FrpcProcesses {

void spare(qint64 pid, bool spared)
{
    if (pid <= 0)
        return;
    const QMutexLocker locker(&sparedMutex);
    if (spared)
        sparedProcesses.insert(pid);
    else
        sparedProcesses.remove(pid);
}

QString programFileName()
{
    return QString::fromLatin1(ClientName);
}

void endAll(const QString &programPath, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // The kernel names a process's program by its real path, links resolved.
    const QByteArray program = QFile::encodeName(QFileInfo(programPath).canonicalFilePath());
    if (program.isEmpty())
        return;
    // A program file replaced since the process started is named with a mark the kernel adds.
    const QByteArray replaced = program + " (deleted)";
    const uid_t uid = ::getuid();
    const pid_t self = ::getpid();

    // Runs at every connect: one system call for each process that runs another program, the reading
    // of its link to the program file (which fails for other users' processes and kernel threads).
    QList<pid_t> killed;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return;
    char path[64];
    char exe[PATH_MAX + 16];
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self)
            continue;
        std::snprintf(path, sizeof path, "/proc/%ld/exe", pid);
        const ssize_t length = ::readlink(path, exe, sizeof exe - 1);
        if (length <= 0)
            continue;
        const QByteArrayView target(exe, length);
        if (target != program && target != replaced)
            continue;
        std::snprintf(path, sizeof path, "/proc/%ld", pid);
        struct stat info;
        if (::stat(path, &info) != 0 || info.st_uid != uid || isSpared(pid_t(pid)) || hasEnded(pid_t(pid)))
            continue;
        if (::kill(pid_t(pid), SIGKILL) == 0)
            killed.append(pid_t(pid));
    }
    ::closedir(proc);

    while (!killed.isEmpty()) {
        killed.removeIf(hasEnded);
        if (killed.isEmpty() || deadline.hasExpired())
            break;
        QThread::msleep(2);
    }
}

void bindToProgram(QProcess &process)
{
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec: the kernel kills the child when the thread that
    // started it ends, which is the program's main thread, so when the program ends. A program that
    // ended before the request took effect is caught by the changed parent ID.
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
    });
}

bool isThisProgram(qint64 pid)
{
    if (pid <= 0)
        return false;
    const QString exe = executableOf(QStringLiteral("/proc/%1").arg(pid));
    return !exe.isEmpty() && exe == executableOf(QStringLiteral("/proc/self")) && !hasEnded(pid_t(pid));
}

} // namespace FrpcProcesses
