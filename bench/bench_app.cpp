// SPDX-License-Identifier: Apache-2.0
// Figures of the whole program, measured in one run through the real window:
//   - cold start to the first painted main window, as a ratio to a bare QMainWindow of the same size;
//   - a click on "连接" until "address:port" is shown, and a click on "断开" until "未连接" is shown,
//     with the fake client beside this program and, when the real frpc and frps are at hand, the real one;
//   - timer wake-ups per second while stopped and while a tunnel runs;
//   - resident memory at idle and after 10,000 log lines.
//
// Run it from the build's tests folder, beside the fake frpc, under an X server for figures that match
// a desktop:
//     xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/bench_app [--frp-dir <folder with frpc, frps>]
// The real client is looked for in --frp-dir, else in $MARROWGATE_FRP_DIR, else in <build>/frp.
// With --start-only it measures the cold start and the resident memory only, and starts no client; with
// --click-only, the click on "连接" with the real client beside the bare client's start only; with
// --wakeups-only, the timer wake-ups with ten tunnels up through the real client only.
//
// With --screenshots <folder> it drives the window through its states instead and saves pictures of the
// main window (light and dark), the connected state, the edit dialog, the log window, the server
// list's context menu, a UDP tunnel with the protocol selector and the tray's menu.
//
// Settings and the client configuration file go to a private folder: the user's own are not touched.
// Starting a tunnel ends every frpc process of the user, as the program does.

#include "appbench.h"

#include "core/frpcmanager.h"
#include "core/platform/singleinstance.h"
#include "core/serverconfig.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "gui/tunneltrayicon.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using namespace AppBench;

namespace {

int orchestrate(const QString &frpDir, const QStringList &arguments)
{
    const bool startOnly = arguments.contains(QStringLiteral("--start-only"));
    say(QStringLiteral("Marrowgate whole-program figures"));
    say(QStringLiteral("machine: ") + machineDescription());
    prepareStore();
    if (arguments.contains(QStringLiteral("--click-only"))) {
        measureRealClient(frpDir);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--wakeups-only"))) {
        measureRealClient(frpDir, RealClientParts::TenTunnels);
        return 0;
    }

    measureColdStart();
    if (startOnly) {
        measureMemory();
        return 0;
    }

    const QString demoAddress = QStringLiteral("%1:46000").arg(QLatin1String(kDemoServers[0].address));
    if (QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/frpc")).isExecutable()) {
        // Tests running at the same time end every frpc of the user; such a disturbed run is repeated.
        ConnectionFigures fake = connectRounds(kDemoIndex, demoAddress, true);
        for (int attempt = 1; attempt < 3 && !fake.problem.isEmpty(); ++attempt) {
            say(QStringLiteral("(fake client run disturbed: %1; repeating)").arg(fake.problem));
            fake = connectRounds(kDemoIndex, demoAddress, true);
        }
        reportConnection(QStringLiteral("fake"), fake, demoAddress);
        if (fake.problem.isEmpty())
            say(QStringLiteral(
                    "timer wake-ups while stopped: %1\ntimer wake-ups while running, port known: %2 "
                    "(goal: none)")
                    .arg(fake.stoppedWakeups, fake.runningWakeups));
    } else {
        say(QStringLiteral("fake client: not beside this program; run it from the build's tests folder"));
    }
    measureRealClient(frpDir);
    measureRealClient(frpDir, RealClientParts::TenTunnels);

    measureMemory();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    g_mainClock.start();
    // Private settings and temporary folder, shared with the children this program starts.
    std::unique_ptr<QTemporaryDir> sandbox;
    if (qEnvironmentVariableIsEmpty("MARROWGATE_BENCH_SANDBOX")) {
        sandbox = std::make_unique<QTemporaryDir>();
        QDir(sandbox->path()).mkpath(QStringLiteral("config"));
        QDir(sandbox->path()).mkpath(QStringLiteral("tmp"));
        qputenv("MARROWGATE_BENCH_SANDBOX", sandbox->path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (sandbox->path() + QStringLiteral("/config")).toLocal8Bit());
        qputenv("TMPDIR", (sandbox->path() + QStringLiteral("/tmp")).toLocal8Bit());
        // A runtime folder of its own for the client file and the instance lock, and no session bus:
        // no desktop notification of a run reaches the desktop.
        const QString runtime = sandbox->path() + QStringLiteral("/runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    QApplication app(argc, argv);
    g_appReadyMs = g_mainClock.nsecsElapsed() / 1e6;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString mode = arguments.value(0);
    if (mode == QLatin1String("--child-start"))
        return childStart(app, arguments.value(1));
    if (mode == QLatin1String("--child-memory"))
        return childMemory(app, arguments.value(1));

    QApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    if (mode == QLatin1String("--child-connect"))
        return childConnect(arguments.mid(1));
    if (mode == QLatin1String("--child-ten"))
        return childTenTunnels(arguments.mid(1));
    if (mode == QLatin1String("--screenshots"))
        return takeScreenshots(arguments.value(1, QStringLiteral("screenshots")));

    QString frpDir = qEnvironmentVariable("MARROWGATE_FRP_DIR");
    const int frpArg = int(arguments.indexOf(QStringLiteral("--frp-dir")));
    if (frpArg >= 0)
        frpDir = arguments.value(frpArg + 1);
    if (frpDir.isEmpty())
        frpDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../frp");
    return orchestrate(QDir::cleanPath(frpDir), arguments);
}
