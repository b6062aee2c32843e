#include "frpcprocesses.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QThread>

#include <cerrno>
#include <csignal>
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

// True when the process in /proc/<pid> runs the client program: its command name or the file name of
// its executable is the client's. The executable link is readable for our own processes only, which
// are the only ones we look at.
bool runsClient(const QString &procDir)
{
    if (readSmallFile(procDir + QStringLiteral("/comm")).trimmed() == ClientName)
        return true;
    const QString exe = QFile::symLinkTarget(procDir + QStringLiteral("/exe"));
    if (exe.isEmpty())
        return false;
    QString name = QFileInfo(exe).fileName();
    name.remove(QStringLiteral(" (deleted)"));
    return name == QLatin1String(ClientName);
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

} // namespace

namespace FrpcProcesses {

QString programFileName()
{
    return QString::fromLatin1(ClientName);
}

void endAll(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    const uid_t uid = ::getuid();
    const pid_t self = ::getpid();

    QList<pid_t> killed;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const pid_t pid = entry.toInt(&numeric);
        if (!numeric || pid <= 0 || pid == self)
            continue;
        const QString procDir = QStringLiteral("/proc/") + entry;
        struct stat info;
        if (::stat(QFile::encodeName(procDir).constData(), &info) != 0 || info.st_uid != uid)
            continue;
        if (!runsClient(procDir) || hasEnded(pid))
            continue;
        if (::kill(pid, SIGKILL) == 0)
            killed.append(pid);
    }

    while (!killed.isEmpty()) {
        killed.removeIf(hasEnded);
        if (killed.isEmpty() || deadline.hasExpired())
            break;
        QThread::msleep(2);
    }
}

} // namespace FrpcProcesses
