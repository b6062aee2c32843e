// SPDX-License-Identifier: Apache-2.0
// How long the tunnel controller takes on top of the client itself.
//
// Needs the fake client "frpc" beside this program (both are built into the build tree's tests
// directory). Like every start of a tunnel, it ends all frpc processes of the user.
//
// Figures:
//   start  time from start() to remotePortReady, with a client that reports its proxy started as
//          soon as it runs: the controller asks for the status soon after that line. Goal: under
//          300 ms.
//   stop   time from stop() to the state Stopped, for a client that ends on the polite request.
//          Goal: under 300 ms.

#include "core/frpcmanager.h"
#include "core/platform/frpcprocesses.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace {

const int ROUNDS = 5;
const int WAIT_MS = 15000;

int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

void printFigures(const char *name, QList<double> values, double goal)
{
    std::sort(values.begin(), values.end());
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / values.size();
    std::printf("%-28s min %7.1f ms  median %7.1f ms  mean %7.1f ms  max %7.1f ms  (goal < %.0f ms: %s)\n",
                name, values.first(), values.at(values.size() / 2), mean, values.last(), goal,
                values.at(values.size() / 2) < goal ? "met" : "MISSED");
}

} // namespace

int main(int argc, char *argv[])
{
    // The client file goes to a private temporary directory.
    QTemporaryDir tempDir;
    if (!tempDir.isValid())
        return 1;
    qputenv("TMPDIR", QFile::encodeName(tempDir.path()));
    QCoreApplication app(argc, argv);

    if (!QFileInfo(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                   + FrpcProcesses::programFileName())
             .isExecutable()) {
        std::fprintf(stderr,
                     "The fake client frpc must lie beside this program (build the target fakefrpc).\n");
        return 1;
    }
    // The fake client reports its port on the first query and ends at once on request.
    for (const char *name : { "FAKEFRPC_EXIT_AFTER_MS", "FAKEFRPC_NO_PORT", "FAKEFRPC_IGNORE_SIGTERM",
                              "FAKEFRPC_STATUS_BODY", "FAKEFRPC_SERVE_DELAY_MS", "FAKEFRPC_REPLY_DELAY_MS" })
        qunsetenv(name);

    QList<double> starts;
    QList<double> stops;
    for (int round = 0; round < ROUNDS; ++round) {
        ServerConfig config;
        config.name = QStringLiteral("bench");
        config.serverAddr = QStringLiteral("127.0.0.1");
        config.token = QStringLiteral("token");
        config.webServerPort = freePort();

        FrpcManager manager;
        QSignalSpy ready(&manager, &FrpcManager::remotePortReady);
        QElapsedTimer timer;
        timer.start();
        manager.start(config, 8080);
        if (!ready.wait(WAIT_MS)) {
            std::fprintf(stderr, "round %d: no remote port reported\n", round + 1);
            return 1;
        }
        starts.append(double(timer.nsecsElapsed()) / 1e6);

        QSignalSpy states(&manager, &FrpcManager::statusChanged);
        timer.restart();
        manager.stop();
        while (manager.status() != FrpcManager::Stopped && states.wait(WAIT_MS)) { }
        if (manager.status() != FrpcManager::Stopped) {
            std::fprintf(stderr, "round %d: the tunnel did not stop\n", round + 1);
            return 1;
        }
        stops.append(double(timer.nsecsElapsed()) / 1e6);
    }

    std::printf("FrpcManager, %d rounds\n", ROUNDS);
    printFigures("start to remote port", starts, 300);
    printFigures("stop to Stopped", stops, 300);
    return 0;
}
