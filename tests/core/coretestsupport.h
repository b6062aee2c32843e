// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <initializer_list>

#include <unistd.h>

namespace TestSupport {

// Points every per-user location the program writes to (settings, autostart entries, the client
// configuration file, the instance lock) at a private directory, so that a test never touches the
// user's own files.
// A child process started by a test inherits the same directory.
inline void isolateUserFiles(const QString &root)
{
    if (!qEnvironmentVariableIsEmpty("MARROWGATE_TEST_SANDBOX"))
        return;
    QDir(root).mkpath(QStringLiteral("config"));
    QDir(root).mkpath(QStringLiteral("tmp"));
    QDir(root).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(root + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("MARROWGATE_TEST_SANDBOX", root.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toLocal8Bit());
    qputenv("TMPDIR", (root + QStringLiteral("/tmp")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toLocal8Bit());
    // No session bus: desktop notifications of a test never reach the user's desktop; no system bus:
    // the machine's own sleep notices never reach a test.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS",
            ("unix:path=" + root + QStringLiteral("/no-system-bus")).toLocal8Bit());
}

inline QString sandboxPath()
{
    return qEnvironmentVariable("MARROWGATE_TEST_SANDBOX");
}

// Whether the process is gone, or only waiting for its parent to collect it.
inline bool processGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close < 0 || close + 2 >= text.size() || text.at(close + 2) == 'Z';
}

// A user ID other than the running user's, to hand a file to "another user" (with chown, as root).
inline uint otherUserId()
{
    return ::getuid() == 65534 ? 65533 : 65534;
}

// Why the fixed ports on 127.0.0.1 that a test needs cannot be had, naming those another program
// holds; empty when all are free.
inline QString portsTaken(std::initializer_list<int> ports)
{
    QStringList taken;
    for (const int port : ports) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, quint16(port)))
            taken << QString::number(port);
    }
    if (taken.isEmpty())
        return {};
    return QStringLiteral("port %1 on 127.0.0.1 is taken by another program; the test needs it free")
        .arg(taken.join(QStringLiteral(", ")));
}

} // namespace TestSupport

// Like QTEST_MAIN with an application object of class App, the user's files replaced by a sandbox and
// the program's identity set.
#define MARROWGATE_TEST_MAIN_WITH(App, TestObject)                                                           \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        QTemporaryDir sandbox;                                                                               \
        if (!sandbox.isValid())                                                                              \
            return 1;                                                                                        \
        TestSupport::isolateUserFiles(sandbox.path());                                                       \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                  \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                         \
        App app(argc, argv);                                                                                 \
        QCoreApplication::setOrganizationName(QStringLiteral("Halvorn"));                                    \
        QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));                                    \
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));                                    \
        QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);                                               \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }

// For tests of the parts without widgets.
#define MARROWGATE_CORE_TEST_MAIN(TestObject) MARROWGATE_TEST_MAIN_WITH(QCoreApplication, TestObject)
