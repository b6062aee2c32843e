// SPDX-License-Identifier: Apache-2.0
// What the endurance benchmarks share: a private home, the stand-in client's behaviour, waiting on the
// event loop, and the process's resident memory, open descriptors and child processes before and after.
#pragma once

#include "core/frpcmanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <initializer_list>

#include <malloc.h>
#include <unistd.h>

namespace Endurance {

// Pauses of the controller for the benchmarks: a restart 20 ms after a client ended, a status query
// every 2 ms while the port is unknown, one 5 ms after output.
inline void shortenPauses(FrpcManager *manager)
{
    manager->setPauses(20, 2, 5);
}

// Points settings, temporary and runtime folders into dir, so that the user's own stay untouched.
inline bool isolateUserFiles(const QTemporaryDir &dir)
{
    if (!dir.isValid())
        return false;
    for (const char *sub : { "config", "tmp", "runtime" })
        QDir(dir.path()).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(dir.path() + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));
    qputenv("TMPDIR", QFile::encodeName(dir.path() + QStringLiteral("/tmp")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path() + QStringLiteral("/runtime")));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    return true;
}

// The stand-in client's behaviour: every FAKEFRPC_ variable unset, then the given ones set.
inline void fakeClient(std::initializer_list<std::pair<const char *, const char *>> settings)
{
    for (const QString &name : QProcess::systemEnvironment()) {
        if (name.startsWith(QLatin1String("FAKEFRPC_")))
            qunsetenv(qPrintable(name.section(QLatin1Char('='), 0, 0)));
    }
    for (const auto &[name, value] : settings)
        qputenv(name, value);
}

inline int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Runs the event loop until done() holds; false after timeoutMs.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    // Wakes the loop now and then, so that a condition without an event of its own is seen too.
    QTimer tick;
    tick.start(10);
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop until counter reaches target; false when it stays the same for stallMs.
inline bool waitForCount(const int &counter, int target, int stallMs)
{
    while (counter < target) {
        const int seen = counter;
        if (!waitFor([&] { return counter != seen; }, stallMs))
            return false;
    }
    return true;
}

struct Sample
{
    long long rssKb = -1;
    int fds = -1;
    int children = -1;
};

// Taken once the event loop has settled: deferred deletions done, freed memory handed back.
inline Sample sample()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    malloc_trim(0);

    Sample s;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                s.rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    s.fds = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    // Children, ended ones not yet collected included: their parent field names this process.
    s.children = 0;
    const QString self = QString::number(::getpid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) == self.toLatin1())
            ++s.children;
    }
    return s;
}

// Prints the last line and returns the exit code: 1 when the end exceeds the start by more than 1 MB
// of resident memory, by any descriptor or by any process.
inline int verdict(const Sample &start, const Sample &end, int cycles)
{
    std::printf("endurance: rss_kb_start=%lld rss_kb_end=%lld fds_start=%d fds_end=%d children_end=%d "
                "cycles=%d\n",
                start.rssKb, end.rssKb, start.fds, end.fds, end.children, cycles);
    std::fflush(stdout);
    const bool grew = end.rssKb - start.rssKb > 1024 || end.fds > start.fds || end.children > start.children;
    return grew ? 1 : 0;
}

} // namespace Endurance
