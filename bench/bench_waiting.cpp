// SPDX-License-Identifier: Apache-2.0
// What waiting for a server costs, and how soon a waiting connection is up once it can be.
//
//   bench_waiting --frp-dir <folder with frpc and frps> [--seconds <length of the wait, default 600>]
//
// Figures:
//   waiting CPU   CPU time of the program, and of the clients it started (one attempt per pause),
//                 over the wait against a port where no server listens yet.
//   to the port   from the system's notice (a wake-up, the network coming online) to the port being
//                 known, with the server started during a 4-s pause (median of ROUNDS each). Goal:
//                 within 2 s, well before the next attempt.
//
// The controller looks for the client beside its executable, so the measuring is done by a copy of
// this program with the real client beside it, in a temporary folder.

#include "core/connectivitywatch.h"
#include "core/frpcmanager.h"
#include "core/serverconfig.h"

#include "realfrp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

#include <algorithm>

using namespace RealFrp;

namespace {

const int ROUNDS = 5;
const char TOKEN[] = "bench-waiting";

double cpuMs(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The copy beside the real client.
int measure(const QString &frps, int seconds)
{
    QTemporaryDir work;
    const int serverPort = freePort();
    Server server(frps, work.path(), serverPort, QLatin1String(TOKEN));
    ServerConfig config;
    config.name = QStringLiteral("bench");
    config.serverAddr = QStringLiteral("127.0.0.1");
    config.serverPort = serverPort;
    config.token = QLatin1String(TOKEN);
    config.webServerPort = freePort();
    FrpcManager controller;
    QTcpServer local;
    local.listen(QHostAddress::LocalHost);

    // The wait: nothing listens on the server's port.
    const double ownBefore = cpuMs(RUSAGE_SELF);
    const double clientsBefore = cpuMs(RUSAGE_CHILDREN);
    controller.start(config, local.serverPort());
    // An event loop of its own: QTest::qWait would wake up every few milliseconds.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double own = cpuMs(RUSAGE_SELF) - ownBefore;
    const double clients = cpuMs(RUSAGE_CHILDREN) - clientsBefore;
    const bool waited = controller.waitReason() == FrpcManager::WaitingForServer;
    controller.stop();
    (void)QTest::qWaitFor([&controller] { return controller.status() == FrpcManager::Stopped; }, 10000);
    say(QStringLiteral("waiting %1 s (%2): CPU of the program %3 ms (%4 ms per minute), of its clients %5 ms")
            .arg(seconds)
            .arg(waited ? QStringLiteral("still waiting for the server") : QStringLiteral("NOT WAITING"))
            .arg(own, 0, 'f', 0)
            .arg(own * 60 / seconds, 0, 'f', 1)
            .arg(clients, 0, 'f', 0));

    // The notice while the server has come up during a pause of 4 s.
    for (const bool wakeUp : { true, false }) {
        QList<double> times;
        for (int round = 0; round < ROUNDS; ++round) {
            QSignalSpy ready(&controller, &FrpcManager::remotePortReady);
            controller.start(config, local.serverPort());
            // The attempts at once, after 1 s and after 2 s; the next one would come 4 s later.
            QTest::qWait(3500);
            server.start();
            if (!wakeUp)
                ConnectivityWatch::instance().noteOnline(false);
            QElapsedTimer clock;
            clock.start();
            if (wakeUp)
                ConnectivityWatch::instance().noteWakeUp();
            else
                ConnectivityWatch::instance().noteOnline(true);
            if (!ready.wait(10000))
                return 1;
            times << clock.nsecsElapsed() / 1e6;
            controller.stop();
            (void)QTest::qWaitFor([&controller] { return controller.status() == FrpcManager::Stopped; },
                                  10000);
            server.stop();
        }
        say(QStringLiteral("%1 to the port: median %2 ms, at most %3 ms (goal <= 2000 ms)")
                .arg(wakeUp ? QStringLiteral("wake-up notice") : QStringLiteral("network online"))
                .arg(median(times), 0, 'f', 1)
                .arg(*std::max_element(times.begin(), times.end()), 0, 'f', 1));
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    PrivateFolder privateFolder;
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int secondsAt = arguments.indexOf(QStringLiteral("--seconds"));
    const int seconds = secondsAt > 0 ? arguments.value(secondsAt + 1).toInt() : 600;
    if (arguments.value(1) == QLatin1String("--child"))
        return measure(arguments.value(2), seconds);

    const QString frpDir = RealFrp::frpDir(arguments);
    const QString frps = frpDir + QStringLiteral("/frps");
    if (frpDir.isEmpty() || seconds <= 0) {
        say(QStringLiteral("usage: bench_waiting --frp-dir <folder with frpc and frps> [--seconds <n>]"));
        return 2;
    }
    QTemporaryDir work;
    const QString copy
        = copyBesideClient(frpDir + QStringLiteral("/frpc"), work.path(), QStringLiteral("bench_waiting"));
    return runChild(
               copy,
               { QStringLiteral("--child"), frps, QStringLiteral("--seconds"), QString::number(seconds) }, -1,
               true)
        .exitCode;
}
