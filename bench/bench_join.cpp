// SPDX-License-Identifier: Apache-2.0
// Joining a friend's tunnel through the real frpc client against a real frps on loopback, side by side
// with the bare client.
//
//   bench_join --frp-dir <folder with frpc and frps>
//
// Figures (median of ROUNDS, TCP+UDP visitors):
//   bare frpc     from the client's start, with the visitor file the program writes, until its local
//                 port listens for TCP and UDP (the system's socket tables looked at every millisecond)
//   visitors      from VisitorClient::start() (what "加入" calls) until it reports the port ready.
//                 Goal: within 1.5 times the bare client.
//
// The visitor client looks for frpc beside its executable, so the measuring is done by a copy of this
// program with the real client beside it, in a temporary folder.

#include "core/platform/localports.h"
#include "core/sharecode.h"
#include "core/visitorclient.h"

#include "realfrp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

using namespace RealFrp;

namespace {

const int ROUNDS = 5;
const char TOKEN[] = "bench-token";

ShareCode benchCode(int serverPort)
{
    ShareCode code;
    code.serverAddr = QStringLiteral("127.0.0.1");
    code.serverPort = serverPort;
    code.token = QString::fromLatin1(TOKEN);
    code.name = QStringLiteral("benchjoin");
    code.protocol = Tunnel::TcpUdp;
    code.secretKey = QStringLiteral("bench-secret-key-0123");
    code.hostPort = 22;
    return code;
}

bool listens(int port)
{
    return LocalPorts::listeningPorts(false).value_or(QSet<int>()).contains(port)
        && LocalPorts::listeningPorts(true).value_or(QSet<int>()).contains(port);
}

// The bare client with the same file: milliseconds from its start until its port listens.
double bareClient(const QString &frpc, int serverPort, QTemporaryDir &work)
{
    const ShareCode code = benchCode(serverPort);
    const int port = freePort();
    QFile file(work.filePath(QStringLiteral("bare.toml")));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(VisitorClient::configFile(code, VisitorClient::serverFor(code), port).toUtf8());
    file.close();
    return timeClient(
        frpc, file.fileName(), [port] { return listens(port); }, false);
}

// The copy beside the real client: the visitor client's figure.
int measureVisitors(int serverPort)
{
    const ShareCode code = benchCode(serverPort);
    QList<double> times;
    for (int round = 0; round < ROUNDS; ++round) {
        VisitorClient client;
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        QObject::connect(&client, &VisitorClient::stateChanged, &loop, [&loop](VisitorClient::State state) {
            if (state == VisitorClient::Ready)
                loop.quit();
        });
        const int port = freePort();
        QElapsedTimer clock;
        clock.start();
        client.start(code, VisitorClient::serverFor(code), port);
        loop.exec();
        if (client.state() != VisitorClient::Ready)
            return 1;
        times << clock.nsecsElapsed() / 1e6;
        client.stop();
        QThread::msleep(300);
    }
    say(QStringLiteral("visitors %1").arg(median(times), 0, 'f', 1));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    PrivateFolder privateFolder;
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.value(1) == QLatin1String("--child"))
        return measureVisitors(arguments.value(2).toInt());

    const QString frpDir = RealFrp::frpDir(arguments);
    const QString frpc = frpDir + QStringLiteral("/frpc");
    const QString frps = frpDir + QStringLiteral("/frps");
    if (frpDir.isEmpty()) {
        say(QStringLiteral("usage: bench_join --frp-dir <folder with frpc and frps>"));
        return 2;
    }
    QTemporaryDir work;
    const int serverPort = freePort();
    Server server(frps, work.path(), serverPort, QLatin1String(TOKEN));
    server.start();
    const QString copy = copyBesideClient(frpc, work.path(), QStringLiteral("bench_join"));

    // Side by side: a bare round, then the visitor client's rounds, then bare rounds again.
    QList<double> bare;
    bare << bareClient(frpc, serverPort, work);
    const ChildResult child
        = runChild(copy, { QStringLiteral("--child"), QString::number(serverPort) }, 120000);
    for (int round = 1; round < ROUNDS; ++round)
        bare << bareClient(frpc, serverPort, work);
    server.stop();

    double mine = -1;
    for (const QString &line : QString::fromUtf8(child.output).split(u'\n')) {
        if (line.startsWith(QLatin1String("visitors ")))
            mine = line.section(u' ', 1).toDouble();
    }
    const double bareMedian = median(bare);
    say(QStringLiteral("bare frpc start to its visitors' port listening (TCP and UDP) %1 ms; visitor client "
                       "start to ready %2 ms: ratio %3 (goal <= 1.5)")
            .arg(bareMedian, 0, 'f', 1)
            .arg(mine, 0, 'f', 1)
            .arg(mine / bareMedian, 0, 'f', 2));
    if (child.exitCode != 0)
        say(QStringLiteral("the measuring copy failed: ") + QString::fromUtf8(child.errors));
    return child.exitCode;
}
