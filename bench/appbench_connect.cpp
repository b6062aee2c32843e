// SPDX-License-Identifier: Apache-2.0
// The whole-program benchmark: a click on "连接" until "address:port" is shown and on "断开" until
// "未连接" is, with the fake and the real client, and timer wake-ups meanwhile.
#include "appbench.h"
#include "realfrp.h"

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
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTextStream>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace AppBench {

using RealFrp::freePort;

// --- Connecting through the window ---------------------------------------------------------------

// Clicks "连接" and "断开" on the card of one server in rounds; optionally counts wake-ups while
// stopped and while running.
ConnectionFigures connectRounds(int index, const QString &shownAddress, bool countWakeups, int rounds,
                                const std::function<void()> &beforeRound)
{
    ConnectionFigures figures;
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        figures.problem = QStringLiteral("the window was not shown");
        return figures;
    }
    spin(1000);
    QLabel *status = statusLabel(&window);
    if (countWakeups && !timerCounterWorks()) {
        figures.problem = QStringLiteral("the timer counter does not see timer events");
        return figures;
    }
    if (countWakeups)
        figures.stoppedWakeups = wakeups(kWakeupSeconds);

    for (int round = 0; round < rounds; ++round) {
        if (beforeRound) {
            beforeRound();
            spin(300);
        }
        QPushButton *connectButton = cardButton(&window, index, QStringLiteral("连接"));
        if (!connectButton || !status) {
            figures.problem = QStringLiteral("no \"连接\" button on the card");
            return figures;
        }
        const double up = clickUntilShown(connectButton, status, shownAddress, &figures.problem);
        if (up < 0)
            return figures;
        figures.connectMs << up;
        if (countWakeups && round == 0)
            figures.runningWakeups = wakeups(kWakeupSeconds);
        else
            spin(500);

        QPushButton *disconnectButton = cardButton(&window, index, QStringLiteral("断开"));
        if (!disconnectButton) {
            figures.problem = QStringLiteral("no \"断开\" button on the connected card");
            return figures;
        }
        const double down
            = clickUntilShown(disconnectButton, status, QStringLiteral("未连接"), &figures.problem);
        if (down < 0)
            return figures;
        figures.disconnectMs << down;
        spin(500);
    }
    return figures;
}

// Ten tunnels, no program listening on any of their local ports: the timer wake-ups of the whole
// program while they are up, counted once the first looks are over. With the real client against a
// local server, so that the public addresses answer as they do for a user.
void measureTenTunnelWakeups(int index, const QString &shownAddress)
{
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        say(QStringLiteral("ten tunnels: the window was not shown"));
        return;
    }
    QList<Tunnel> tunnels;
    for (int i = 0; i < Tunnel::MAX_TUNNELS; ++i)
        tunnels.append({ freePort(), Tunnel::Tcp });
    window.setTunnels(tunnels);
    spin(1000);
    QLabel *status = statusLabel(&window);
    QPushButton *connectButton = cardButton(&window, index, QStringLiteral("连接"));
    QString problem;
    if (!connectButton || !status || clickUntilShown(connectButton, status, shownAddress, &problem) < 0) {
        say(QStringLiteral("ten tunnels: not up (%1)").arg(problem));
        return;
    }
    spin(2000);
    const QString counted = wakeups(kTenTunnelWakeupSeconds);
    say(QStringLiteral("timer wake-ups over %1 s with %2 tunnels up, no program on their local ports: %3 "
                       "(goal: at most one per 5 s in all)")
            .arg(kTenTunnelWakeupSeconds)
            .arg(tunnels.size())
            .arg(counted));
    if (QPushButton *disconnectButton = cardButton(&window, index, QStringLiteral("断开")))
        clickUntilShown(disconnectButton, status, QStringLiteral("未连接"));
}

void reportConnection(const QString &client, const ConnectionFigures &figures, const QString &address)
{
    if (!figures.problem.isEmpty()) {
        say(QStringLiteral("connection with the %1 client: %2").arg(client, figures.problem));
        return;
    }
    say(QStringLiteral("click on \"连接\" to \"%1\" shown, %2 client: %3 ms (median %4 ms; goal <= 300 ms)")
            .arg(address, client, joined(figures.connectMs))
            .arg(median(figures.connectMs), 0, 'f', 0));
    say(QStringLiteral(
            "click on \"断开\" to \"未连接\" shown, %1 client: %2 ms (median %3 ms; goal <= 300 ms)")
            .arg(client, joined(figures.disconnectMs))
            .arg(median(figures.disconnectMs), 0, 'f', 0));
}

int childTenTunnels(const QStringList &arguments)
{
    prepareStore();
    measureTenTunnelWakeups(arguments.value(0).toInt(), QStringLiteral("127.0.0.1:"));
    return 0;
}

// The bare client with one TCP proxy: milliseconds from its start until its status lists the proxy
// running with a port (asked every millisecond); -1 on time-out.
double bareClientStart(const QString &frpc, int serverPort, const QString &token, int webPort,
                       QTemporaryDir &work)
{
    QFile file(work.filePath(QStringLiteral("bare.toml")));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QStringLiteral("serverAddr = \"127.0.0.1\"\nserverPort = %1\nauth.token = \"%2\"\n"
                              "webServer.addr = \"127.0.0.1\"\nwebServer.port = %3\n"
                              "webServer.user = \"u\"\nwebServer.password = \"p\"\n"
                              "[[proxies]]\nname = \"bare_click\"\ntype = \"tcp\"\nlocalPort = 20000\n")
                   .arg(serverPort)
                   .arg(token)
                   .arg(webPort)
                   .toUtf8());
    file.close();
    return RealFrp::timeClient(frpc, file.fileName(), [webPort] {
        const QByteArray body = RealFrp::statusReply(webPort, "u:p");
        return body.contains("\"running\"") && body.contains("\"remote_addr\"");
    });
}

// Arguments: the card's index, the address shown, and for the bare client beside the window the
// server's port, its token and a free port for the bare client's web API.
int childConnect(const QStringList &arguments)
{
    const int index = arguments.value(0).toInt();
    const QString address = arguments.value(1);
    prepareStore();
    QTemporaryDir work;
    QList<double> bare;
    const auto bareRound = [&] {
        const double ms = bareClientStart(QCoreApplication::applicationDirPath() + QStringLiteral("/frpc"),
                                          arguments.value(2).toInt(), arguments.value(3),
                                          arguments.value(4).toInt(), work);
        if (ms >= 0)
            bare << ms;
    };
    const ConnectionFigures figures = connectRounds(index, address, false, kRealClientRounds, bareRound);
    if (!figures.problem.isEmpty()) {
        say(QStringLiteral("problem ") + figures.problem);
        return 1;
    }
    say(QStringLiteral("bare ") + joined(bare, 1));
    say(QStringLiteral("connect ") + joined(figures.connectMs, 1));
    say(QStringLiteral("disconnect ") + joined(figures.disconnectMs, 1));
    return 0;
}

// The same rounds with the real frpc against a local frps: a copy of this program with the real
// client beside it does the clicking, since the window looks for the client beside the executable.
void measureRealClient(const QString &frpDir, RealClientParts parts)
{
    const QString frpc = frpDir + QStringLiteral("/frpc");
    const QString frps = frpDir + QStringLiteral("/frps");
    if (!QFileInfo(frpc).isExecutable() || !QFileInfo(frps).isExecutable()) {
        say(QStringLiteral("real client: not measured (no frpc and frps in %1)").arg(frpDir));
        return;
    }

    QTemporaryDir work;
    const int bindPort = freePort();
    const QString token = QStringLiteral("bench-token");
    RealFrp::Server server(frps, work.path(), bindPort, token);
    if (!server.start()) {
        say(QStringLiteral("real client: frps did not start"));
        return;
    }

    ServerConfig local;
    local.name = QStringLiteral("本机 frps");
    local.serverAddr = QStringLiteral("127.0.0.1");
    local.serverPort = bindPort;
    local.token = token;
    local.webServerPort = freePort();
    ServerConfigManager::instance().addConfig(local);
    const int index = int(ServerConfigManager::instance().getConfigs().size()) - 1;

    const QString program = RealFrp::copyBesideClient(frpc, work.path(), QStringLiteral("bench_app"));
    const auto stopServer = [&] {
        ServerConfigManager::instance().removeConfig(index);
        server.stop();
    };
    if (parts == RealClientParts::TenTunnels) {
        const RealFrp::ChildResult child
            = RealFrp::runChild(program, { QStringLiteral("--child-ten"), QString::number(index) }, 180000);
        for (const QByteArray &line : child.output.trimmed().split('\n'))
            say(QString::fromUtf8(line));
        stopServer();
        return;
    }

    // The bare client on the same server, started by the measuring copy before each of its clicks:
    // the window's click is compared with it.
    QByteArray output;
    for (int attempt = 0; attempt < 3; ++attempt) {
        output = RealFrp::runChild(program,
                                   { QStringLiteral("--child-connect"), QString::number(index),
                                     QStringLiteral("127.0.0.1:"), QString::number(bindPort), token,
                                     QString::number(freePort()) },
                                   180000)
                     .output;
        if (!output.contains("problem "))
            break;
        say(QStringLiteral("(real client run disturbed: %1; repeating)")
                .arg(QString::fromUtf8(output).trimmed()));
    }
    stopServer();

    ConnectionFigures figures;
    QList<double> bare;
    for (const QByteArray &raw : output.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        auto values = [&line] {
            QList<double> list;
            for (const QString &v : line.section(QLatin1Char(' '), 1).split(QStringLiteral(" / ")))
                list << v.toDouble();
            return list;
        };
        if (line.startsWith(QLatin1String("bare ")))
            bare = values();
        else if (line.startsWith(QLatin1String("connect ")))
            figures.connectMs = values();
        else if (line.startsWith(QLatin1String("disconnect ")))
            figures.disconnectMs = values();
        else if (line.startsWith(QLatin1String("problem ")))
            figures.problem = line.mid(8);
    }
    if (figures.connectMs.isEmpty() && figures.problem.isEmpty())
        figures.problem = QStringLiteral("the measuring copy reported nothing");
    reportConnection(QStringLiteral("real"), figures, QStringLiteral("127.0.0.1:<port>"));
    if (figures.problem.isEmpty() && !bare.isEmpty()) {
        say(QStringLiteral("bare frpc from its start until its status lists the port, before each click: %1 "
                           "ms (median %2 ms); the window's click to the address against it: ratio %3 (goal "
                           "<= 1.2)")
                .arg(joined(bare, 1))
                .arg(median(bare), 0, 'f', 1)
                .arg(median(figures.connectMs) / median(bare), 0, 'f', 2));
    }
}

} // namespace AppBench
