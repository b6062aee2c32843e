// SPDX-License-Identifier: Apache-2.0
// Several tunnels through one real frpc client against a real frps on loopback, side by side with the
// bare client.
//
//   bench_tunnels --frp-dir <folder with frpc and frps>
//
// Figures (median of ROUNDS):
//   bare frpc, 1 / 10 proxies   from the client's start until its status reply lists every proxy
//                               with a port (asked every millisecond)
//   controller, 1 / 10 tunnels  from start() until every tunnel's port is known (the window shows
//                               the address on that signal). Goal: within 1.5 times the bare client.
//   added while up              from addTunnel() on a running connection until the new tunnel's port
//                               is known. Goal: <= 100 ms.
//   idle CPU, 1 / 10 tunnels    CPU time of the program, and of its client, over 10 s of an idle
//                               connection. Goal: ten no more than one.
//
// The controller looks for the client beside its executable, so the measuring is done by a copy of
// this program with the real client beside it, in a temporary folder.

#include "core/frpcmanager.h"
#include "core/serverconfig.h"

#include "realfrp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace RealFrp;

namespace {

const int ROUNDS = 5;
const int IDLE_SECONDS = 10;
const char TOKEN[] = "bench-token";

int runningProxies(const QByteArray &body)
{
    int running = 0;
    const QJsonObject types = QJsonDocument::fromJson(body).object();
    for (const QString &type : { QStringLiteral("tcp"), QStringLiteral("udp") }) {
        for (const QJsonValue &proxy : types.value(type).toArray())
            running += proxy.toObject().value(QLatin1String("status")).toString() == QLatin1String("running");
    }
    return running;
}

// The bare client with count proxies: milliseconds from its start until all run with a port.
double bareClient(const QString &frpc, int serverPort, int count, QTemporaryDir &work)
{
    const int webPort = freePort();
    QString text = QStringLiteral("serverAddr = \"127.0.0.1\"\nserverPort = %1\nauth.token = \"%2\"\n"
                                  "webServer.addr = \"127.0.0.1\"\nwebServer.port = %3\n"
                                  "webServer.user = \"u\"\nwebServer.password = \"p\"\n")
                       .arg(serverPort)
                       .arg(QLatin1String(TOKEN))
                       .arg(webPort);
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("[[proxies]]\nname = \"bare_%1\"\ntype = \"%2\"\nlocalPort = %3\n")
                    .arg(i)
                    .arg(i % 2 ? "udp" : "tcp")
                    .arg(20000 + i);
    QFile file(work.filePath(QStringLiteral("bare.toml")));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text.toUtf8());
    file.close();
    return timeClient(frpc, file.fileName(),
                      [&] { return runningProxies(statusReply(webPort, "u:p")) == count; });
}

QList<Tunnel> tunnels(int count)
{
    QList<Tunnel> list;
    for (int i = 0; i < count; ++i)
        list.append({ 21000 + i, i % 2 ? Tunnel::Udp : Tunnel::Tcp });
    return list;
}

bool allPorts(const FrpcManager &manager)
{
    const QList<TunnelState> states = manager.tunnelStates();
    return std::all_of(states.begin(), states.end(),
                       [](const TunnelState &state) { return !state.port.isEmpty(); });
}

// Runs the event loop until done() holds, checked whenever the tunnels change (never sleeping, unlike
// QTest::qWaitFor); false on time-out.
bool waitForTunnels(FrpcManager &manager, const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    const QMetaObject::Connection check
        = QObject::connect(&manager, &FrpcManager::tunnelsChanged, &loop, [&] {
              if (done())
                  loop.quit();
          });
    if (!done())
        loop.exec();
    QObject::disconnect(check);
    return done();
}

// CPU milliseconds so far of this process (pid 0) or of the process pid.
double cpuMs(qint64 pid)
{
    if (pid == 0) {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3
            + usage.ru_stime.tv_usec / 1e3;
    }
    double ms = 0;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray fields = stat.readAll();
        const QList<QByteArray> after = fields.mid(fields.lastIndexOf(')') + 2).split(' ');
        ms += (after.value(11).toDouble() + after.value(12).toDouble()) * 1e3 / sysconf(_SC_CLK_TCK);
    }
    return ms;
}

qint64 clientPid()
{
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/frpc");
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget() == path)
            return entry.toLongLong();
    }
    return 0;
}

// The copy beside the real client: the controller's figures.
int measureController(int serverPort)
{
    ServerConfig config;
    config.name = QStringLiteral("本机 frps");
    config.serverAddr = QStringLiteral("127.0.0.1");
    config.serverPort = serverPort;
    config.token = QString::fromLatin1(TOKEN);
    config.webServerPort = freePort();
    // The local services run, as they do for a connection in use (while none listens, each tunnel's
    // hint is checked again every few seconds).
    std::vector<std::unique_ptr<QObject>> services;
    for (const Tunnel &tunnel : tunnels(Tunnel::MAX_TUNNELS)) {
        if (tunnel.protocol == Tunnel::Udp) {
            auto socket = std::make_unique<QUdpSocket>();
            socket->bind(QHostAddress::LocalHost, quint16(tunnel.localPort));
            services.push_back(std::move(socket));
        } else {
            auto server = std::make_unique<QTcpServer>();
            server->listen(QHostAddress::LocalHost, quint16(tunnel.localPort));
            services.push_back(std::move(server));
        }
    }
    FrpcManager manager;
    QElapsedTimer logClock;
    if (qEnvironmentVariableIsSet("BENCH_TRACE"))
        QObject::connect(&manager, &FrpcManager::logMessage, [&](const QString &m) {
            std::fprintf(stderr, "%7.1f %s\n", logClock.nsecsElapsed() / 1e6, qPrintable(m.left(120)));
        });
    for (const int count : { 1, Tunnel::MAX_TUNNELS }) {
        QList<double> times;
        for (int round = 0; round < ROUNDS; ++round) {
            QElapsedTimer clock;
            clock.start();
            logClock.start();
            manager.start(config, tunnels(count));
            if (!waitForTunnels(
                    manager, [&] { return allPorts(manager); }, 15000))
                return 1;
            times << clock.nsecsElapsed() / 1e6;
            if (round + 1 < ROUNDS) {
                manager.stop();
                (void)QTest::qWaitFor([&] { return manager.status() == FrpcManager::Stopped; }, 5000);
                QTest::qWait(300);
            }
        }
        say(QStringLiteral("controller %1 %2").arg(count).arg(median(times), 0, 'f', 1));
        QTest::qWait(1000);
        const qint64 pid = clientPid();
        const double before = cpuMs(0);
        const double clientBefore = cpuMs(pid);
        {
            // An event loop that sleeps until something happens (QTest::qWait wakes every 10 ms).
            QEventLoop idle;
            QTimer::singleShot(IDLE_SECONDS * 1000, &idle, &QEventLoop::quit);
            idle.exec();
        }
        say(QStringLiteral("idle %1 %2").arg(count).arg((cpuMs(0) - before) / IDLE_SECONDS, 0, 'f', 2));
        say(QStringLiteral("client %1 %2")
                .arg(count)
                .arg((cpuMs(pid) - clientBefore) / IDLE_SECONDS, 0, 'f', 2));
        if (count == 1) {
            QList<double> added;
            for (int round = 0; round < ROUNDS; ++round) {
                QElapsedTimer clock;
                clock.start();
                const int index = manager.addTunnel({ 22000 + round, Tunnel::Tcp });
                if (!waitForTunnels(
                        manager, [&] { return !manager.tunnelStates().value(index).port.isEmpty(); }, 5000))
                    return 1;
                added << clock.nsecsElapsed() / 1e6;
                manager.removeTunnel(index);
                QTest::qWait(300);
            }
            say(QStringLiteral("added %1").arg(median(added), 0, 'f', 1));
        }
        manager.stop();
        (void)QTest::qWaitFor([&] { return manager.status() == FrpcManager::Stopped; }, 5000);
        QTest::qWait(300);
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    PrivateFolder privateFolder;
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.value(1) == QLatin1String("--child"))
        return measureController(arguments.value(2).toInt());

    const QString frpDir = RealFrp::frpDir(arguments);
    const QString frpc = frpDir + QStringLiteral("/frpc");
    const QString frps = frpDir + QStringLiteral("/frps");
    if (frpDir.isEmpty()) {
        say(QStringLiteral("usage: bench_tunnels --frp-dir <folder with frpc and frps>"));
        return 2;
    }
    QTemporaryDir work;
    const int serverPort = freePort();
    Server server(frps, work.path(), serverPort, QLatin1String(TOKEN));
    server.start();

    QMap<int, double> bare;
    for (const int count : { 1, Tunnel::MAX_TUNNELS }) {
        QList<double> times;
        for (int round = 0; round < ROUNDS; ++round)
            times << bareClient(frpc, serverPort, count, work);
        bare[count] = median(times);
    }

    const QString copy = copyBesideClient(frpc, work.path(), QStringLiteral("bench_tunnels"));
    const ChildResult child
        = runChild(copy, { QStringLiteral("--child"), QString::number(serverPort) }, 300000);
    const QStringList lines = QString::fromUtf8(child.output).split(u'\n');
    server.stop();

    QMap<QString, double> figures;
    for (const QString &line : lines) {
        const QStringList parts = line.split(u' ');
        if (parts.size() >= 2)
            figures[parts.mid(0, parts.size() - 1).join(u' ')] = parts.last().toDouble();
    }
    for (const int count : { 1, Tunnel::MAX_TUNNELS }) {
        const double mine = figures.value(QStringLiteral("controller %1").arg(count), -1);
        say(QStringLiteral("%1 tunnel(s): bare frpc to every port in its status %2 ms; controller start to "
                           "every port %3 ms: ratio %4 (goal <= 1.5)")
                .arg(count)
                .arg(bare[count], 0, 'f', 1)
                .arg(mine, 0, 'f', 1)
                .arg(mine / bare[count], 0, 'f', 2));
        say(QStringLiteral("%1 tunnel(s): idle CPU of the program %2 ms per second, of its client %3 ms "
                           "per second")
                .arg(count)
                .arg(figures.value(QStringLiteral("idle %1").arg(count), -1), 0, 'f', 2)
                .arg(figures.value(QStringLiteral("client %1").arg(count), -1), 0, 'f', 2));
    }
    say(QStringLiteral("one tunnel added while up until its port is known: %1 ms (goal <= 100 ms)")
            .arg(figures.value(QStringLiteral("added"), -1), 0, 'f', 1));
    if (child.exitCode != 0)
        say(QStringLiteral("the measuring copy failed: ") + QString::fromUtf8(child.errors));
    return child.exitCode;
}
