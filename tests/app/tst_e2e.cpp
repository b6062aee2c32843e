// SPDX-License-Identifier: Apache-2.0
// The whole chain against the real frp client and server: the main window connects the built-in
// server entry through a local frps, and bytes travel through the tunnel to a local echo server.

#include "core/frpcmanager.h"
#include "core/platform/frpcprocesses.h"
#include "core/serverconfig.h"
#include "core/sharecode.h"
#include "core/tunnelreachability.h"
#include "core/visitorclient.h"
#include "gui/joinedtunnels.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "modalscript.h"
#include "stallingrelay.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <memory>

namespace {

const int FrpsBindPort = 7000;
const int ClientAdminPort = 7500;
const char BuiltInToken[] = "tQenvobRxaL";
const int Timeout = 20000;

// Sends every byte it receives straight back.
class EchoServer : public QTcpServer
{
public:
    EchoServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket,
                        [socket] { socket->write(socket->readAll()); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
};

QString randomText(int length)
{
    const QString alphabet = QStringLiteral("abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789");
    QString text;
    for (int i = 0; i < length; ++i)
        text += alphabet.at(QRandomGenerator::global()->bounded(int(alphabet.size())));
    return text;
}

bool portIsFree(int port, const QHostAddress &address = QHostAddress::LocalHost)
{
    QTcpServer probe;
    return probe.listen(address, quint16(port));
}

// The frpc processes started from this test's folders (the one beside the test and the unrelated
// one in the sandbox); clients of other programs on the machine are none of its business.
QList<qint64> frpcProcessIds()
{
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(entry));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        if (comm.readAll().trimmed() != "frpc")
            continue;
        const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(entry));
        const auto inside = [&exe](const QString &folder) {
            return exe.startsWith(QFileInfo(folder).canonicalFilePath() + u'/');
        };
        if (!inside(QCoreApplication::applicationDirPath()) && !inside(TestSupport::sandboxPath()))
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray fields = stat.readAll();
            const int close = fields.lastIndexOf(')');
            if (close > 0 && fields.mid(close + 2, 1) == "Z")
                continue; // an ended child that has not been reaped yet
        }
        pids.append(pid);
    }
    return pids;
}

QString clientFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
        + QStringLiteral("/frpc_%1.toml").arg(QCoreApplication::applicationPid());
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void tunnelCarriesBytesAndSurvivesAClientExit();
    void tunnelFollowsTheServer();
    void sameAddressOnEveryConnect();
    void silentPathIsNoticedAndRecovered();
    void visitorsReachingNothingAreTold();
    void blockedPublicPortIsNamed_data();
    void blockedPublicPortIsNamed();
    void failuresAreShown_data();
    void failuresAreShown();
    void serverNotYetRunningIsWaitedFor();
    void serverOnIPv6Loopback();
    void udpTunnelCarriesDatagrams();
    void severalTunnelsChangedWhileUp();
    void privateTunnelReachesOnlyCodeHolders();
    void friendJoinsAPrivateTunnel();
    void hostAndFriendWindows();

private:
    // publicAddress: where the server opens the tunnels' ports; address when null.
    void startFrps(const QHostAddress &address, const QString &extraLines = QString(),
                   const QHostAddress &publicAddress = QHostAddress());
    void stopFrps();
    QJsonObject frpsProxy(const QString &name, const QString &type = QStringLiteral("tcp"));
    QJsonArray frpsProxies(const QString &type = QStringLiteral("tcp"));
    QByteArray clientRequest(const QByteArray &verb, const QString &path);
    QString clientConfigValue(const QString &key) const;
    void expectEcho(int remotePort, const QHostAddress &address = QHostAddress::LocalHost);
    int shownRemotePort() const;
    QString statusText() const;
    bool localServiceHintShown(int localPort) const;
    QString reachabilityText() const;
    void openNewWindow();
    QPushButton *cardButton(int index, const QString &caption) const;
    int connectAndWaitForPort(int index);
    void disconnectAndWait(int index);
    // Makes the first row private over TCP+UDP, or public over TCP again.
    void setFirstRowPrivate(bool isPrivate);
    // Stops the tunnels and makes the first row public over TCP again.
    void stopAndMakeFirstRowPublic();
    // Connects the built-in entry and returns the share code its row copies once the tunnel is up.
    QString connectAndCopyShareCode();

    QString m_frpDir = QStringLiteral(MARROWGATE_FRP_DIR);
    QProcess m_frps;
    QString m_dashboardPassword;
    int m_dashboardPort = 0;
    int m_entryIndex = 0;
    int m_wrongTokenIndex = 0;
    int m_ipv6Index = 0;
    EchoServer m_echo;
    QNetworkAccessManager m_network;
    std::unique_ptr<MainWindow> m_window;
    // The answers to the boxes of the running test; a box nobody expects is closed after a second, so
    // that a test that goes wrong fails instead of waiting for an answer.
    ModalScript *m_script = nullptr;
};

void TestEndToEnd::initTestCase()
{
    const bool ci = !qEnvironmentVariableIsEmpty("CI");
    const QString frpc = m_frpDir + QStringLiteral("/frpc");
    const QString frps = m_frpDir + QStringLiteral("/frps");
    if (!QFileInfo(frpc).isExecutable() || !QFileInfo(frps).isExecutable()) {
        const QString why
            = QStringLiteral("the real frpc and frps are not in %1 (scripts/test.sh builds them with Go)")
                  .arg(m_frpDir);
        if (ci)
            QFAIL(qPrintable(why));
        QSKIP(qPrintable(why));
    }
    // The built-in entry's server and its client's web API.
    const QString taken = TestSupport::portsTaken({ FrpsBindPort, ClientAdminPort });
    if (!taken.isEmpty())
        QFAIL(qPrintable(taken));

    // The client must lie beside the running executable.
    const QString besideUs = QCoreApplication::applicationDirPath() + QStringLiteral("/frpc");
    QFile::remove(besideUs);
    QVERIFY(QFile::copy(frpc, besideUs));

    QVERIFY(m_echo.listen(QHostAddress::LocalHost));

    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    m_dashboardPort = probe.serverPort();
    probe.close();
    m_dashboardPassword = randomText(20);
    startFrps(QHostAddress::LocalHost);
    if (QTest::currentTestFailed())
        return;

    // The built-in entry is the server under test; in a build that points it elsewhere, an
    // ordinary entry with the same token stands in for it.
    const ServerConfig builtIn = ServerConfigManager::instance().getConfigs().value(0);
    QVERIFY(builtIn.isBuiltIn);
    m_entryIndex = 0;
    QCOMPARE(builtIn.serverPort, FrpsBindPort);
    QCOMPARE(builtIn.token, QLatin1String(BuiltInToken));
    QCOMPARE(builtIn.webServerPort, ClientAdminPort);
    if (builtIn.serverAddr != QLatin1String("127.0.0.1")) {
        ServerConfig local = builtIn;
        local.name = QStringLiteral("local frps");
        local.serverAddr = QStringLiteral("127.0.0.1");
        local.isBuiltIn = false;
        ServerConfigManager::instance().addConfig(local);
        m_entryIndex = ServerConfigManager::instance().getConfigs().size() - 1;
    }

    // The same server with a wrong token, and the server on the IPv6 loopback address (typed in
    // brackets).
    ServerConfig entry = builtIn;
    entry.isBuiltIn = false;
    entry.name = QStringLiteral("wrong token");
    entry.serverAddr = QStringLiteral("127.0.0.1");
    entry.token = QStringLiteral("not-the-token");
    ServerConfigManager::instance().addConfig(entry);
    m_wrongTokenIndex = ServerConfigManager::instance().getConfigs().size() - 1;
    entry.name = QStringLiteral("IPv6");
    entry.serverAddr = QStringLiteral("[::1]");
    entry.token = QLatin1String(BuiltInToken);
    ServerConfigManager::instance().addConfig(entry);
    m_ipv6Index = ServerConfigManager::instance().getConfigs().size() - 1;

    m_window = std::make_unique<MainWindow>();
    m_window->show();
    auto *portField = m_window->findChild<QSpinBox *>();
    QVERIFY(portField);
    portField->setValue(m_echo.serverPort());
}

// Starts frps on address with the built-in entry's port and token, its dashboard on 127.0.0.1. The
// server ends with the test, however the test ends. A failure here fails the running test: callers
// return when QTest::currentTestFailed().
void TestEndToEnd::startFrps(const QHostAddress &address, const QString &extraLines,
                             const QHostAddress &publicAddress)
{
    stopFrps();
    const QString host = address.toString();
    // Another program on the port would take the tunnels' logins: that is said at once.
    QVERIFY2(portIsFree(FrpsBindPort, address),
             qPrintable(QStringLiteral("port %1 on %2 is taken by another program; the test needs it free")
                            .arg(FrpsBindPort)
                            .arg(host)));
    const QString frpsConfig = TestSupport::sandboxPath() + QStringLiteral("/frps.toml");
    QFile config(frpsConfig);
    QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate));
    config.write(QStringLiteral("bindAddr = \"%1\"\n"
                                "bindPort = %2\n"
                                "proxyBindAddr = \"%6\"\n"
                                "auth.token = \"%3\"\n"
                                "webServer.addr = \"127.0.0.1\"\n"
                                "webServer.port = %4\n"
                                "webServer.user = \"admin\"\n"
                                "webServer.password = \"%5\"\n")
                     .arg(host)
                     .arg(FrpsBindPort)
                     .arg(QLatin1String(BuiltInToken))
                     .arg(m_dashboardPort)
                     .arg(m_dashboardPassword)
                     .arg(publicAddress.isNull() ? host : publicAddress.toString())
                     .toUtf8()
                 + extraLines.toUtf8());
    config.close();

    m_frps.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_frps.setStandardOutputFile(TestSupport::sandboxPath() + QStringLiteral("/frps.log"), QIODevice::Append);
    FrpcProcesses::bindToProgram(m_frps);
    m_frps.start(m_frpDir + QStringLiteral("/frps"), { QStringLiteral("-c"), frpsConfig });
    QVERIFY(m_frps.waitForStarted());
    const auto listening = [this, address] {
        return m_frps.state() != QProcess::Running
            || (!portIsFree(FrpsBindPort, address) && !portIsFree(m_dashboardPort));
    };
    QTRY_VERIFY_WITH_TIMEOUT(listening(), Timeout);
    QVERIFY2(m_frps.state() == QProcess::Running, "frps ended at once (its output is in frps.log)");
}

void TestEndToEnd::stopFrps()
{
    if (m_frps.state() == QProcess::NotRunning)
        return;
    m_frps.terminate();
    if (!m_frps.waitForFinished(5000)) {
        m_frps.kill();
        m_frps.waitForFinished(5000);
    }
}

// Every test begins with the server running; when it cannot run again (its port taken), the test
// says so at once.
void TestEndToEnd::init()
{
    m_script = new ModalScript;
    if (m_frps.state() == QProcess::NotRunning)
        startFrps(QHostAddress::LocalHost);
}

// A test that failed half-way leaves no box waiting and no tunnel to the next one.
void TestEndToEnd::cleanup()
{
    if (QTest::currentTestFailed()) {
        delete m_script;
        m_script = nullptr;
    } else if (m_script) {
        finishModalScript(m_script);
    }
    if (!m_window)
        return;
    auto *controller = m_window->findChild<FrpcManager *>();
    if (controller->status() != FrpcManager::Stopped && controller->status() != FrpcManager::Error) {
        // Closes any box the stop brings up after a second.
        ModalScript closer;
        controller->stop();
        const bool ended = QTest::qWaitFor(
            [controller] {
                return controller->status() == FrpcManager::Stopped
                    || controller->status() == FrpcManager::Error;
            },
            Timeout);
        if (!ended)
            qWarning("the tunnel did not stop");
    }
}

void TestEndToEnd::cleanupTestCase()
{
    m_window.reset();
    stopFrps();
}

QJsonArray TestEndToEnd::frpsProxies(const QString &type)
{
    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:%1/api/proxy/%2").arg(m_dashboardPort).arg(type)));
    request.setRawHeader("Authorization",
                         "Basic " + (QByteArray("admin:") + m_dashboardPassword.toUtf8()).toBase64());
    QNetworkReply *reply = m_network.get(request);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("proxies")).toArray();
}

QJsonObject TestEndToEnd::frpsProxy(const QString &name, const QString &type)
{
    const QJsonArray proxies = frpsProxies(type);
    for (const QJsonValue &proxy : proxies) {
        if (proxy.toObject().value(QStringLiteral("name")).toString() == name)
            return proxy.toObject();
    }
    return {};
}

QString TestEndToEnd::clientConfigValue(const QString &key) const
{
    QFile file(clientFilePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QRegularExpression line(QStringLiteral("^%1 = \"([^\"\\\\]*)\"$").arg(key),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(file.readAll())).captured(1);
}

QByteArray TestEndToEnd::clientRequest(const QByteArray &verb, const QString &path)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(ClientAdminPort).arg(path)));
    const QString credentials = clientConfigValue(QStringLiteral("user")) + QLatin1Char(':')
        + clientConfigValue(QStringLiteral("password"));
    request.setRawHeader("Authorization", "Basic " + credentials.toUtf8().toBase64());
    QNetworkReply *reply = m_network.sendCustomRequest(request, verb);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return reply->readAll();
}

int TestEndToEnd::shownRemotePort() const
{
    // The address shown is the entry's, as typed, then a colon and the port.
    const QRegularExpression shown(QStringLiteral("#2E86DE.*>[^<]*:(\\d+)</span>"));
    return shown.match(statusText()).captured(1).toInt();
}

QString TestEndToEnd::statusText() const
{
    for (const QLabel *label : m_window->findChildren<QLabel *>()) {
        if (label->text().startsWith(QStringLiteral("连接状态: ")))
            return label->text();
    }
    return {};
}

bool TestEndToEnd::localServiceHintShown(int localPort) const
{
    const QString hint = QStringLiteral("本地端口 %1 上没有程序在监听").arg(localPort);
    for (const QLabel *label : m_window->findChildren<QLabel *>()) {
        if (label->text() == hint && label->isVisible())
            return true;
    }
    return false;
}

// The result of the check of the tunnel's public address; empty while none is shown.
QString TestEndToEnd::reachabilityText() const
{
    const auto *label = m_window->findChild<QLabel *>(QStringLiteral("reachabilityLabel"));
    return label && label->isVisible() ? label->text() : QString();
}

// Replaces the window by a new one, as a new start of the program would, publishing the same port.
void TestEndToEnd::openNewWindow()
{
    const int localPort = m_window->findChild<QSpinBox *>()->value();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    m_window->findChild<QSpinBox *>()->setValue(localPort);
}

QPushButton *TestEndToEnd::cardButton(int index, const QString &caption) const
{
    for (ServerCardWidget *card : m_window->findChildren<ServerCardWidget *>()) {
        if (card->getIndex() == index)
            return TestSupport::buttonWithText(card, caption);
    }
    return nullptr;
}

// Connects the card at index and returns the remote port shown once the tunnel is up (0 if it never
// comes up).
int TestEndToEnd::connectAndWaitForPort(int index)
{
    QPushButton *connectButton = cardButton(index, QStringLiteral("连接"));
    if (!connectButton)
        return 0;
    connectButton->click();
    auto *controller = m_window->findChild<FrpcManager *>();
    const bool up = QTest::qWaitFor(
        [&] { return controller->status() == FrpcManager::Running && shownRemotePort() > 0; }, Timeout);
    return up ? shownRemotePort() : 0;
}

void TestEndToEnd::disconnectAndWait(int index)
{
    QPushButton *disconnect = cardButton(index, QStringLiteral("断开"));
    QVERIFY(disconnect);
    disconnect->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_window->findChild<FrpcManager *>()->status(), FrpcManager::Stopped, Timeout);
    QTRY_VERIFY(cardButton(index, QStringLiteral("连接")));
}

void TestEndToEnd::setFirstRowPrivate(bool isPrivate)
{
    m_window->findChild<QCheckBox *>(QStringLiteral("privateTunnelCheck"))->setChecked(isPrivate);
    auto *protocol = m_window->findChild<QComboBox *>(QStringLiteral("protocolCombo"));
    protocol->setCurrentIndex(
        protocol->findText(isPrivate ? QStringLiteral("TCP+UDP") : QStringLiteral("TCP")));
}

void TestEndToEnd::stopAndMakeFirstRowPublic()
{
    auto *manager = m_window->findChild<FrpcManager *>();
    manager->stop();
    (void)QTest::qWaitFor([manager] { return manager->status() == FrpcManager::Stopped; });
    setFirstRowPrivate(false);
}

QString TestEndToEnd::connectAndCopyShareCode()
{
    if (QPushButton *connectButton = cardButton(m_entryIndex, QStringLiteral("连接")))
        connectButton->click();
    auto *copy = m_window->findChild<QPushButton *>(QStringLiteral("copyShareCodeButton"));
    if (!QTest::qWaitFor([copy] { return copy->isVisible(); }, Timeout))
        return {};
    copy->click();
    return QGuiApplication::clipboard()->text();
}

void TestEndToEnd::expectEcho(int remotePort, const QHostAddress &address)
{
    QTcpSocket socket;
    socket.connectToHost(address, quint16(remotePort));
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::ConnectedState, Timeout);
    const QByteArray payload = "through the tunnel " + randomText(32).toUtf8();
    socket.write(payload);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += socket.readAll()).size() >= payload.size(), Timeout);
    QCOMPARE(received, payload);
}

void TestEndToEnd::tunnelCarriesBytesAndSurvivesAClientExit()
{
    auto *controller = m_window->findChild<FrpcManager *>();
    QVERIFY(controller);

    ServerCardWidget *card = nullptr;
    for (ServerCardWidget *candidate : m_window->findChildren<ServerCardWidget *>()) {
        if (candidate->getIndex() == m_entryIndex)
            card = candidate;
    }
    QVERIFY(card);
    auto buttonOf = [card](const QString &caption) -> QPushButton * {
        for (QPushButton *button : card->findChildren<QPushButton *>()) {
            if (button->text() == caption)
                return button;
        }
        return nullptr;
    };
    // A client of somebody else's, from another folder, has nothing to do with the program.
    const QString elsewhere = TestSupport::sandboxPath() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QFile::copy(m_frpDir + QStringLiteral("/frpc"), elsewhere + QStringLiteral("/frpc")));
    QFile unrelatedConfig(elsewhere + QStringLiteral("/frpc.toml"));
    QVERIFY(unrelatedConfig.open(QIODevice::WriteOnly));
    unrelatedConfig.write(
        QStringLiteral("serverAddr = \"127.0.0.1\"\nserverPort = %1\nloginFailExit = false\n"
                       "auth.token = \"%2\"\n")
            .arg(FrpsBindPort)
            .arg(QLatin1String(BuiltInToken))
            .toUtf8());
    unrelatedConfig.close();
    QProcess unrelated;
    unrelated.setStandardOutputFile(QProcess::nullDevice());
    FrpcProcesses::bindToProgram(unrelated);
    unrelated.start(elsewhere + QStringLiteral("/frpc"),
                    { QStringLiteral("-c"), unrelatedConfig.fileName() });
    QVERIFY(unrelated.waitForStarted());

    QVERIFY(buttonOf(QStringLiteral("连接")));
    buttonOf(QStringLiteral("连接"))->click();

    // The tunnel comes up, and the port shown is the one the server assigned.
    QTRY_COMPARE_WITH_TIMEOUT(controller->status(), FrpcManager::Running, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(shownRemotePort() > 0, Timeout);
    const int firstPort = shownRemotePort();
    QCOMPARE(controller->remotePort(), QString::number(firstPort));
    const QString firstProxy = clientConfigValue(QStringLiteral("name"));
    QVERIFY(firstProxy.startsWith(QStringLiteral("tunnel_")));
    QJsonObject proxy = frpsProxy(firstProxy);
    QCOMPARE(proxy.value(QStringLiteral("status")).toString(), QStringLiteral("online"));
    QCOMPARE(proxy.value(QStringLiteral("conf")).toObject().value(QStringLiteral("remotePort")).toInt(),
             firstPort);
    expectEcho(firstPort);

    // Without credentials the client's admin API refuses to talk.
    {
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/config").arg(ClientAdminPort)));
        QNetworkReply *reply = m_network.get(request);
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), Timeout);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
        reply->deleteLater();
    }

    // The client ends by itself: the window keeps the card connected while the tunnel comes back.
    clientRequest("POST", QStringLiteral("/api/stop"));
    QTRY_COMPARE_WITH_TIMEOUT(controller->status(), FrpcManager::Starting, Timeout);
    QVERIFY(buttonOf(QStringLiteral("断开")));
    QTRY_COMPARE_WITH_TIMEOUT(controller->status(), FrpcManager::Running, Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(shownRemotePort() > 0, Timeout);
    const int secondPort = shownRemotePort();
    const QString secondProxy = clientConfigValue(QStringLiteral("name"));
    // The restarted client keeps the proxy's name, and the server gives it back its port.
    QCOMPARE(secondProxy, firstProxy);
    QCOMPARE(secondPort, firstPort);
    QTRY_COMPARE_WITH_TIMEOUT(reachabilityText(), QStringLiteral("外部可访问"), 3000);
    proxy = frpsProxy(secondProxy);
    QCOMPARE(proxy.value(QStringLiteral("status")).toString(), QStringLiteral("online"));
    QCOMPARE(proxy.value(QStringLiteral("conf")).toObject().value(QStringLiteral("remotePort")).toInt(),
             secondPort);
    expectEcho(secondPort);

    // Disconnecting leaves no client, no file and no proxy behind.
    QPushButton *disconnect = buttonOf(QStringLiteral("断开"));
    QVERIFY(disconnect);
    disconnect->click();
    QTRY_COMPARE_WITH_TIMEOUT(controller->status(), FrpcManager::Stopped, Timeout);
    QTRY_COMPARE_WITH_TIMEOUT(frpcProcessIds(), QList<qint64> { unrelated.processId() }, Timeout);
    QCOMPARE(unrelated.state(), QProcess::Running);
    unrelated.kill();
    unrelated.waitForFinished();
    QVERIFY(!QFile::exists(clientFilePath()));
    QTRY_VERIFY_WITH_TIMEOUT(
        [this] {
            const QJsonArray proxies = frpsProxies();
            for (const QJsonValue &proxy : proxies) {
                if (proxy.toObject().value(QStringLiteral("status")).toString() == QLatin1String("online"))
                    return false;
            }
            return true;
        }(),
        Timeout);

    // The log mirrors the client's output without colour codes and never shows the token.
    const QString log = m_window->findChild<LogWindow *>()->lines().join(QLatin1Char('\n'));
    QVERIFY2(log.contains(QStringLiteral("login to server success")), qPrintable(log));
    QVERIFY(!log.contains(QChar(0x1b)));
    QVERIFY(!log.contains(QLatin1String(BuiltInToken)));
    QVERIFY(!log.contains(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)));
}

void TestEndToEnd::tunnelFollowsTheServer()
{
    QVERIFY(connectAndWaitForPort(m_entryIndex) > 0);

    // The server goes away: the window says at once that the tunnel is on its way back and offers
    // no dead address to copy.
    stopFrps();
    QTRY_VERIFY_WITH_TIMEOUT(statusText().contains(QStringLiteral("正在连接...")), 5000);
    QVERIFY(!TestSupport::buttonWithText(m_window.get(), QStringLiteral("复制端口"))->isVisible());
    QVERIFY(cardButton(m_entryIndex, QStringLiteral("断开")));

    // It comes back: the client logs in again by itself, and the port the server assigned now is the
    // one shown, and it carries bytes.
    startFrps(QHostAddress::LocalHost);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(shownRemotePort() > 0, 30000);
    const int port = shownRemotePort();
    const QJsonObject proxy = frpsProxy(clientConfigValue(QStringLiteral("name")));
    QCOMPARE(proxy.value(QStringLiteral("conf")).toObject().value(QStringLiteral("remotePort")).toInt(),
             port);
    expectEcho(port);
    disconnectAndWait(m_entryIndex);
}

void TestEndToEnd::sameAddressOnEveryConnect()
{
    // The address handed to a friend holds across 断开 and 连接, and across a new start of the program.
    const int port = connectAndWaitForPort(m_entryIndex);
    QVERIFY(port > 0);
    disconnectAndWait(m_entryIndex);
    QCOMPARE(connectAndWaitForPort(m_entryIndex), port);
    disconnectAndWait(m_entryIndex);
    openNewWindow();
    QCOMPARE(connectAndWaitForPort(m_entryIndex), port);
    expectEcho(port);
    disconnectAndWait(m_entryIndex);
}

void TestEndToEnd::silentPathIsNoticedAndRecovered()
{
    // The path between client and server goes through a relay that can go silent: no reset, no error,
    // the bytes simply stop.
    StallingRelay relay;
    QVERIFY(relay.listen(QHostAddress::LocalHost, FrpsBindPort));
    ServerConfig entry = ServerConfigManager::instance().getConfigs().value(m_entryIndex);
    entry.name = QStringLiteral("through the relay");
    entry.serverAddr = QStringLiteral("127.0.0.1");
    entry.serverPort = relay.port();
    entry.isBuiltIn = false;
    ServerConfigManager::instance().addConfig(entry);
    const auto forgetEntry = qScopeGuard([] {
        ServerConfigManager &store = ServerConfigManager::instance();
        store.removeConfig(store.getConfigs().size() - 1);
    });
    QVERIFY(m_window->connectServerByName(entry.name));
    auto *controller = m_window->findChild<FrpcManager *>();
    QTRY_VERIFY_WITH_TIMEOUT(controller->status() == FrpcManager::Running && shownRemotePort() > 0, Timeout);
    const int port = shownRemotePort();

    relay.stall();
    QTRY_VERIFY_WITH_TIMEOUT(!statusText().contains(QStringLiteral("已连接")), 10000);

    // The path works again: the client logs in by itself and gets its port back.
    relay.resetAndPass();
    QTRY_VERIFY_WITH_TIMEOUT(controller->status() == FrpcManager::Running && shownRemotePort() > 0, 30000);
    QCOMPARE(shownRemotePort(), port);
    expectEcho(port);
    controller->stop();
    QTRY_COMPARE_WITH_TIMEOUT(controller->status(), FrpcManager::Stopped, Timeout);
}

void TestEndToEnd::visitorsReachingNothingAreTold()
{
    // Nothing listens on the local port that the tunnel publishes.
    auto *portField = m_window->findChild<QSpinBox *>();
    const int echoPort = portField->value();
    int closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    portField->setValue(closedPort);
    // Put back even when the test fails.
    const auto restorePort = qScopeGuard([portField, echoPort] { portField->setValue(echoPort); });
    const int remotePort = connectAndWaitForPort(m_entryIndex);
    QVERIFY(remotePort > 0);
    // The window says so under the status line, and no box opens.
    QTRY_VERIFY_WITH_TIMEOUT(localServiceHintShown(closedPort), 3000);
    // The public address is checked: the check's visit reaches the client, which finds nothing on the
    // local port, but it is no visitor and is not told as one.
    QTRY_COMPARE_WITH_TIMEOUT(reachabilityText(), QStringLiteral("外部可访问"), 3000);
    const auto logText = [this] {
        return m_window->findChild<LogWindow *>()->lines().join(QLatin1Char('\n'));
    };
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains(QStringLiteral("connect to local service")), 5000);
    QVERIFY2(!logText().contains(QStringLiteral("访问者无法连接")), qPrintable(logText()));

    // A few visitors: the server takes them in, the client finds nothing to hand them to. The window
    // already says why; no box is added.
    for (int i = 0; i < 3; ++i) {
        QTcpSocket visitor;
        // The server may hang up before the state could be seen as connected: the signal is kept.
        QSignalSpy admitted(&visitor, &QTcpSocket::connected);
        visitor.connectToHost(QHostAddress::LocalHost, quint16(remotePort));
        visitor.write("anybody there?");
        QTRY_VERIFY_WITH_TIMEOUT(!admitted.isEmpty(), Timeout);
        QTRY_COMPARE_WITH_TIMEOUT(visitor.state(), QAbstractSocket::UnconnectedState, Timeout);
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        logText().contains(QStringLiteral("访问者无法连接：本地端口 %1 上没有程序在监听").arg(closedPort)),
        5000);
    QCOMPARE(m_script->boxes, QStringList());

    // A program starts listening: the hint goes.
    QTcpServer program;
    QVERIFY(program.listen(QHostAddress::LocalHost, quint16(closedPort)));
    QTRY_VERIFY_WITH_TIMEOUT(!localServiceHintShown(closedPort), 10000);
    QCOMPARE(m_window->findChild<FrpcManager *>()->status(), FrpcManager::Running);
    disconnectAndWait(m_entryIndex);
}

void TestEndToEnd::blockedPublicPortIsNamed_data()
{
    QTest::addColumn<QString>("firstProtocol");
    QTest::newRow("TCP") << QStringLiteral("TCP");
    // Its TCP half is checked as any TCP tunnel's.
    QTest::newRow("TCP+UDP") << QStringLiteral("TCP+UDP");
}

// The server opens the tunnels' ports on another address than the one its clients log in to, as a
// firewall in front of it would hide them: the window names the port, then sees it open.
void TestEndToEnd::blockedPublicPortIsNamed()
{
    QFETCH(QString, firstProtocol);
    auto *protocol = m_window->findChild<QComboBox *>(QStringLiteral("protocolCombo"));
    protocol->setCurrentIndex(protocol->findText(firstProtocol));
    const auto usualProtocol = qScopeGuard([protocol] { protocol->setCurrentIndex(0); });
    startFrps(QHostAddress::LocalHost, QString(), QHostAddress(QStringLiteral("127.0.0.2")));
    if (QTest::currentTestFailed())
        return;
    ReachabilityCheck *check = m_window->findChild<TunnelReachability *>()->check();
    const int retryMs = 1000;
    check->setRetryInterval(retryMs);
    const auto usualRetry
        = qScopeGuard([check] { check->setRetryInterval(ReachabilityCheck::RETRY_INTERVAL_MS); });
    QCOMPARE(reachabilityText(), QString());
    // A second TCP tunnel, to the same local service: named blocked on its row.
    m_window->findChild<QPushButton *>(QStringLiteral("addTunnelButton"))->click();
    const auto removeRow = qScopeGuard(
        [this] { m_window->findChild<QPushButton *>(QStringLiteral("removeTunnelButton"))->click(); });
    auto *row = m_window->findChild<QWidget *>(QStringLiteral("tunnelRow"));
    row->findChild<QSpinBox *>()->setValue(m_echo.serverPort());
    emit row->findChild<QSpinBox *>()->editingFinished();
    const int port = connectAndWaitForPort(m_entryIndex);
    QVERIFY(port > 0);
    const QString blocked = QStringLiteral("服务器端口 %1 无法从外部访问，请检查服务器的防火墙或安全组");
    QTRY_COMPARE_WITH_TIMEOUT(reachabilityText(), blocked.arg(port), 5000);
    const auto rowHint = [row] {
        QStringList texts;
        for (const QLabel *label : row->findChildren<QLabel *>())
            texts << label->text();
        return texts.join(u'|');
    };
    const auto rowPort = [row] {
        return row->findChild<QLabel *>(QStringLiteral("tunnelAddressLabel"))->text().section(u':', -1);
    };
    QTRY_VERIFY_WITH_TIMEOUT(rowHint().contains(blocked.arg(rowPort())), 5000);
    QCOMPARE(m_script->unexpected, QStringList());

    // The port opens to this computer: the next repeat sees it.
    QTcpServer opened;
    QVERIFY(opened.listen(QHostAddress::LocalHost, quint16(port)));
    QTRY_COMPARE_WITH_TIMEOUT(reachabilityText(), QStringLiteral("外部可访问"), retryMs + 3000);
    disconnectAndWait(m_entryIndex);
    QCOMPARE(reachabilityText(), QString());
    QVERIFY(!rowHint().contains(blocked.section(u' ', 0, 0)));
    startFrps(QHostAddress::LocalHost);
}

void TestEndToEnd::failuresAreShown_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("naming");

    // The client ends on its first failed login; the box says why.
    const QString failedLogin = QStringLiteral("连接失败: login to the server failed: ");
    QTest::newRow("wrong token") << QStringLiteral("token") << failedLogin << QStringLiteral("token");
    // The only port the server may hand out is taken: it refuses the proxy, and the client retries.
    QTest::newRow("proxy refused") << QStringLiteral("refused") << QStringLiteral("服务器拒绝了隧道: ")
                                   << QStringLiteral("port");
}

void TestEndToEnd::failuresAreShown()
{
    QFETCH(QString, how);
    QFETCH(QString, shown);
    QFETCH(QString, naming);
    const bool refused = how == QLatin1String("refused");
    QTcpServer taken;
    int index = m_wrongTokenIndex;
    if (refused) {
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        startFrps(QHostAddress::LocalHost,
                  QStringLiteral("allowPorts = [ { start = %1, end = %1 } ]\n").arg(taken.serverPort()));
        if (QTest::currentTestFailed())
            return;
        index = m_entryIndex;
    }

    m_script->answer(QMessageBox::Ok);
    QPushButton *connectButton = cardButton(index, QStringLiteral("连接"));
    QVERIFY2(connectButton && connectButton->isEnabled(), "the card cannot be connected");
    connectButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(m_script->finished(), 5000);
    QCOMPARE(m_script->boxes.size(), 1);
    const QString box = m_script->boxes.first();
    QVERIFY2(box.startsWith(QStringLiteral("错误|") + shown) && box.size() > shown.size() + 10,
             qPrintable(box));
    QVERIFY2(box.contains(naming), qPrintable(box));
    if (refused) {
        disconnectAndWait(index);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(cardButton(index, QStringLiteral("连接")), 5000);
        QCOMPARE(m_window->findChild<FrpcManager *>()->status(), FrpcManager::Stopped);
    }
    finishModalScript(m_script);
}

// The server is not running yet when the tunnel is started (a login before the network, a server
// restarting): the window waits for it without a box, names the address after 30 s, and connects
// within a pause of the server's start; "断开" ends a wait with nothing left behind.
void TestEndToEnd::serverNotYetRunningIsWaitedFor()
{
    stopFrps();
    auto *controller = m_window->findChild<FrpcManager *>();
    const auto waitHint = [this] {
        const auto *label = m_window->findChild<QLabel *>(QStringLiteral("waitHintLabel"));
        return label->isVisible() ? label->text() : QString();
    };
    QPushButton *connectButton = cardButton(m_entryIndex, QStringLiteral("连接"));
    QVERIFY(connectButton);
    connectButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(statusText().contains(QStringLiteral("等待服务器...")), Timeout);
    QVERIFY(cardButton(m_entryIndex, QStringLiteral("断开")));
    QCOMPARE(waitHint(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(
        waitHint(),
        QStringLiteral("服务器 127.0.0.1:%1 仍无法连接（连接被拒绝），请检查地址和端口，或等待服务器启动")
            .arg(FrpsBindPort),
        FrpcManager::WAIT_HINT_MS + 2000);
    QVERIFY(statusText().contains(QStringLiteral("等待服务器...")));
    QCOMPARE(controller->status(), FrpcManager::Starting);

    startFrps(QHostAddress::LocalHost);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(controller->status() == FrpcManager::Running && shownRemotePort() > 0, 6000);
    QCOMPARE(waitHint(), QString());
    expectEcho(shownRemotePort());
    disconnectAndWait(m_entryIndex);

    stopFrps();
    cardButton(m_entryIndex, QStringLiteral("连接"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(statusText().contains(QStringLiteral("等待服务器...")), Timeout);
    QTest::qWait(1500);
    disconnectAndWait(m_entryIndex);
    QTRY_COMPARE(frpcProcessIds(), QList<qint64>());
    QTest::qWait(FrpcManager::waitPauseMs(3));
    QCOMPARE(frpcProcessIds(), QList<qint64>());
    QCOMPARE(controller->status(), FrpcManager::Stopped);
    QVERIFY(!QFile::exists(clientFilePath()));
    QCOMPARE(m_script->boxes, QStringList());
}

void TestEndToEnd::serverOnIPv6Loopback()
{
    startFrps(QHostAddress::LocalHostIPv6);
    if (QTest::currentTestFailed())
        return;
    const int port = connectAndWaitForPort(m_ipv6Index);
    QVERIFY(port > 0);
    // The port the server assigned, never a piece of the server's address.
    const QJsonObject proxy = frpsProxy(clientConfigValue(QStringLiteral("name")));
    QCOMPARE(proxy.value(QStringLiteral("conf")).toObject().value(QStringLiteral("remotePort")).toInt(),
             port);
    expectEcho(port, QHostAddress::LocalHostIPv6);
    // Shown in brackets, so that address and port can be told apart; copied without them.
    QVERIFY2(statusText().contains(QStringLiteral("[::1]:%1").arg(port)), qPrintable(statusText()));
    QTRY_COMPARE_WITH_TIMEOUT(reachabilityText(), QStringLiteral("外部可访问"), 3000);
    TestSupport::buttonWithText(m_window.get(), QStringLiteral("复制IP"))->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("::1"));
    disconnectAndWait(m_ipv6Index);
}

// Sends every datagram the socket receives back to where it came from.
void answerDatagrams(QUdpSocket &socket)
{
    QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [&socket] {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            socket.writeDatagram(datagram.makeReply(datagram.data()));
        }
    });
}

// A UDP tunnel: a friend's datagram reaches a local UDP echo through the remote port and comes back;
// the next window starts with UDP chosen. The echo is bound to :: on a port where no TCP program
// listens, and counts as listening.
void TestEndToEnd::udpTunnelCarriesDatagrams()
{
    // The server on 127.0.0.1 again, after a test that moved it.
    startFrps(QHostAddress::LocalHost);
    if (QTest::currentTestFailed())
        return;
    QUdpSocket echo;
    QVERIFY(echo.bind(QHostAddress::Any, 0));
    const int localPort = echo.localPort();
    QVERIFY(portIsFree(localPort));
    auto *portField = m_window->findChild<QSpinBox *>();
    const int echoPort = portField->value();
    portField->setValue(localPort);
    const auto restorePort = qScopeGuard([portField, echoPort] { portField->setValue(echoPort); });
    answerDatagrams(echo);
    auto *protocol = m_window->findChild<QComboBox *>(QStringLiteral("protocolCombo"));
    QVERIFY(protocol);
    const auto backToTcp = qScopeGuard([protocol] { protocol->setCurrentIndex(0); });
    protocol->setCurrentIndex(protocol->findText(QStringLiteral("UDP")));

    const int remotePort = connectAndWaitForPort(m_entryIndex);
    QVERIFY2(remotePort > 0, qPrintable(statusText()));
    QVERIFY2(statusText().contains(QStringLiteral(">UDP 127.0.0.1:%1<").arg(remotePort)),
             qPrintable(statusText()));
    QVERIFY(!protocol->isEnabled());
    QCOMPARE(clientConfigValue(QStringLiteral("type")), QStringLiteral("udp"));

    // Datagrams may be lost while the server opens the port: the friend sends until one comes back.
    QUdpSocket friendSocket;
    QVERIFY(friendSocket.bind(QHostAddress::LocalHost, 0));
    const QByteArray payload = "datagram through the tunnel " + randomText(32).toUtf8();
    QByteArray received;
    const bool answered = QTest::qWaitFor(
        [&] {
            if (friendSocket.hasPendingDatagrams()) {
                received = friendSocket.receiveDatagram().data();
                return true;
            }
            friendSocket.writeDatagram(payload, QHostAddress::LocalHost, quint16(remotePort));
            QTest::qWait(200);
            return false;
        },
        Timeout);
    QVERIFY2(answered, "no datagram came back through the tunnel");
    QCOMPARE(received, payload);
    QVERIFY(!localServiceHintShown(localPort));

    MainWindow next;
    QCOMPARE(next.findChild<QComboBox *>(QStringLiteral("protocolCombo"))->currentText(),
             QStringLiteral("UDP"));
    disconnectAndWait(m_entryIndex);
    QVERIFY(protocol->isEnabled());
}

// Whether a datagram sent to the public port comes back (sent again until it does: datagrams may be lost
// while the server opens the port).
bool udpEchoes(int remotePort)
{
    QUdpSocket friendSocket;
    friendSocket.bind(QHostAddress::LocalHost, 0);
    const QByteArray payload = "datagram " + randomText(16).toUtf8();
    return QTest::qWaitFor(
        [&] {
            if (friendSocket.hasPendingDatagrams())
                return friendSocket.receiveDatagram().data() == payload;
            friendSocket.writeDatagram(payload, QHostAddress::LocalHost, quint16(remotePort));
            QTest::qWait(100);
            return false;
        },
        Timeout);
}

// The frpc processes this test started (other programs may run their own).
QList<qint64> ownClients()
{
    QList<qint64> own;
    for (const qint64 pid : frpcProcessIds()) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray fields = stat.readAll();
            if (fields.mid(fields.lastIndexOf(')') + 2).split(' ').value(1).toLongLong()
                == QCoreApplication::applicationPid())
                own << pid;
        }
    }
    return own;
}

void TestEndToEnd::severalTunnelsChangedWhileUp()
{
    // TCP and UDP echo on the same local port.
    QUdpSocket echo;
    QVERIFY(echo.bind(QHostAddress::LocalHost, quint16(m_echo.serverPort())));
    answerDatagrams(echo);
    const auto rows = [this] {
        QList<QWidget *> shown;
        for (QWidget *row : m_window->findChildren<QWidget *>(QStringLiteral("tunnelRow")))
            if (!row->isHidden())
                shown << row;
        return shown;
    };
    // Adds a row for the echo port (or localPort) with the protocol given, as the user finishes editing it.
    const auto addRow = [&](const QString &protocol, int localPort = 0) {
        const QList<QWidget *> before = rows();
        m_window->findChild<QPushButton *>(QStringLiteral("addTunnelButton"))->click();
        QWidget *row = nullptr;
        for (QWidget *shown : rows())
            row = before.contains(shown) ? row : shown;
        row->findChild<QSpinBox *>()->setValue(localPort ? localPort : m_echo.serverPort());
        emit row->findChild<QSpinBox *>()->editingFinished();
        auto *combo = row->findChild<QComboBox *>();
        combo->setCurrentIndex(combo->findText(protocol));
        emit combo->activated(combo->currentIndex());
        return row;
    };
    const auto rowPort = [](QWidget *row) {
        const QString text = row->findChild<QLabel *>(QStringLiteral("tunnelAddressLabel"))->text();
        return text.section(u':', -1).toInt();
    };
    addRow(QStringLiteral("UDP"));
    const int firstPort = connectAndWaitForPort(m_entryIndex);
    QVERIFY2(firstPort > 0, qPrintable(statusText()));
    QTRY_VERIFY_WITH_TIMEOUT(rowPort(rows().first()) > 0, Timeout);
    const QList<qint64> client = ownClients();
    QCOMPARE(client.size(), 1);
    expectEcho(firstPort);
    QVERIFY(udpEchoes(rowPort(rows().first())));

    // A connection through the first tunnel stays open across the changes.
    QTcpSocket longLived;
    longLived.connectToHost(QHostAddress::LocalHost, quint16(firstPort));
    QVERIFY(longLived.waitForConnected(Timeout));
    const auto stillEchoes = [&longLived] {
        longLived.write("ping");
        QByteArray answer;
        return QTest::qWaitFor([&] { return (answer += longLived.readAll()) == "ping"; }, Timeout);
    };
    QVERIFY(stillEchoes());

    // A row added while up: TCP+UDP on one public port, through the same client.
    QWidget *both = addRow(QStringLiteral("TCP+UDP"));
    QTRY_VERIFY_WITH_TIMEOUT(both->findChild<QLabel *>(QStringLiteral("tunnelAddressLabel"))
                                 ->text()
                                 .startsWith("TCP+UDP 127.0.0.1:"),
                             Timeout);
    const int bothPort = rowPort(both);
    // The row's copy button copies what a friend types: the address without the protocol.
    const QList<QPushButton *> buttons = both->findChildren<QPushButton *>();
    const auto copy = std::find_if(buttons.cbegin(), buttons.cend(), [](QPushButton *button) {
        return button->text() == QStringLiteral("复制");
    });
    QVERIFY(copy != buttons.cend());
    (*copy)->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("127.0.0.1:%1").arg(bothPort));
    expectEcho(bothPort);
    QVERIFY(udpEchoes(bothPort));
    QVERIFY(stillEchoes());
    QCOMPARE(ownClients(), client);
    QCOMPARE(shownRemotePort(), firstPort);

    // A TCP row where nothing listens locally: its check's own visit reaches nothing there, which is
    // no visitor's: no box, and the row names no blocked port.
    QSignalSpy checked(m_window->findChild<TunnelReachability *>()->check(), &ReachabilityCheck::checked);
    int closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    QWidget *quiet = addRow(QStringLiteral("TCP"), closedPort);
    const auto quietResults = [&checked] {
        QList<bool> results;
        for (const QList<QVariant> &result : std::as_const(checked))
            if (result.at(0).toInt() == 3)
                results << result.at(1).toBool();
        return results;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!quietResults().isEmpty(), Timeout);
    QTest::qWait(500);
    QVERIFY(!quietResults().contains(false));
    QCOMPARE(m_script->unexpected, QStringList());
    QVERIFY(!quiet->findChild<QLabel *>(QStringLiteral("tunnelAddressLabel"))->text().isEmpty());
    for (const QLabel *label : quiet->findChildren<QLabel *>())
        QVERIFY(!label->text().contains(QStringLiteral("无法从外部访问")));
    quiet->findChild<QPushButton *>(QStringLiteral("removeTunnelButton"))->click();

    // Removed: its public port closes, the first tunnel goes on.
    both->findChild<QPushButton *>(QStringLiteral("removeTunnelButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(portIsFree(bothPort), Timeout);
    QVERIFY(stillEchoes());
    QCOMPARE(ownClients(), client);

    // A new start shows the rows kept.
    disconnectAndWait(m_entryIndex);
    openNewWindow();
    QCOMPARE(rows().size(), 1);
    QCOMPARE(rows().first()->findChild<QSpinBox *>()->value(), int(m_echo.serverPort()));
    QCOMPARE(rows().first()->findChild<QComboBox *>()->currentText(), QStringLiteral("UDP"));
    rows().first()->findChild<QPushButton *>(QStringLiteral("removeTunnelButton"))->click();
}

// The friend's side of a private tunnel: the host's client (started here from its own file) registers
// the proxies a share code names; the window joins the code, and bytes and datagrams reach the host's
// services through the friend's local port. No direct path opens on this machine, so TCP goes through
// the server's relay once the direct attempt has timed out. A code with another key reaches nothing.
void TestEndToEnd::friendJoinsAPrivateTunnel()
{
    startFrps(QHostAddress::LocalHost);
    if (QTest::currentTestFailed())
        return;
    // TCP and UDP of the host's service on one port number.
    QUdpSocket udpEcho;
    QVERIFY(udpEcho.bind(QHostAddress::LocalHost, m_echo.serverPort()));
    answerDatagrams(udpEcho);

    ShareCode code;
    code.serverAddr = QStringLiteral("127.0.0.1");
    code.serverPort = FrpsBindPort;
    code.token = QLatin1String(BuiltInToken);
    code.name = ShareCode::newName();
    code.protocol = Tunnel::TcpUdp;
    code.secretKey = ShareCode::newSecretKey();
    code.hostPort = m_echo.serverPort();
    QString hostFile;
    for (const auto &[name, type] :
         { std::pair { code.stcpName(), "stcp" }, std::pair { code.xtcpName(), "xtcp" },
           std::pair { code.sudpName(), "sudp" } })
        hostFile += QStringLiteral("[[proxies]]\nname = \"%1\"\ntype = \"%2\"\nsecretKey = \"%3\"\n"
                                   "localIP = \"127.0.0.1\"\nlocalPort = %4\n")
                        .arg(name, QLatin1String(type), code.secretKey)
                        .arg(code.hostPort);
    const QString hostPath = TestSupport::sandboxPath() + QStringLiteral("/host.toml");
    QFile file(hostPath);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QStringLiteral("serverAddr = \"127.0.0.1\"\nserverPort = %1\nauth.token = \"%2\"\n")
                   .arg(FrpsBindPort)
                   .arg(QLatin1String(BuiltInToken))
                   .toUtf8()
               + hostFile.toUtf8());
    file.close();
    QProcess host;
    host.setStandardOutputFile(TestSupport::sandboxPath() + QStringLiteral("/host.log"));
    FrpcProcesses::bindToProgram(host);
    host.start(QCoreApplication::applicationDirPath() + QStringLiteral("/frpc"), { "-c", hostPath });
    QVERIFY(host.waitForStarted());
    const auto endHost = qScopeGuard([&host] {
        host.kill();
        host.waitForFinished();
    });
    QTRY_VERIFY_WITH_TIMEOUT(frpsProxy(code.sudpName(), "sudp").value("status").toString() == "online",
                             Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(frpsProxy(code.stcpName(), "stcp").value("status").toString() == "online",
                             Timeout);

    QVERIFY(m_window->joinTunnel(code.toText()));
    auto *joined = m_window->findChild<JoinedTunnels *>();
    QCOMPARE(joined->rows().size(), 1);
    JoinedTunnelRow *row = joined->rows().first();
    const auto removeRow
        = qScopeGuard([row] { row->findChild<QPushButton *>("removeJoinedButton")->click(); });
    QTRY_COMPARE_WITH_TIMEOUT(row->client()->state(), VisitorClient::Ready, Timeout);
    const int port = row->localPort();
    QCOMPARE(row->findChild<QLabel *>("joinedAddressLabel")->text(),
             QStringLiteral("127.0.0.1:%1").arg(port));

    // Bytes through TCP within the wait for a direct path and a second.
    const auto echoed = [port](int withinMs) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (!socket.waitForConnected(withinMs))
            return false;
        socket.write("through the friend's port");
        return QTest::qWaitFor([&socket] { return socket.bytesAvailable() >= 25; }, withinMs)
            && socket.readAll() == "through the friend's port";
    };
    QElapsedTimer clock;
    clock.start();
    QVERIFY(echoed(VisitorClient::FALLBACK_TIMEOUT_MS + 1000));
    QVERIFY2(clock.elapsed() <= VisitorClient::FALLBACK_TIMEOUT_MS + 1000,
             qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(row->client()->path(), VisitorClient::Relay, Timeout);
    QVERIFY(row->findChild<QLabel *>("joinedStateLabel")->text().contains(QStringLiteral("经服务器中转")));

    // A datagram and its answer.
    QUdpSocket friendSocket;
    QVERIFY(friendSocket.bind(QHostAddress::LocalHost, 0));
    const bool answered = QTest::qWaitFor(
        [&] {
            if (friendSocket.hasPendingDatagrams())
                return friendSocket.receiveDatagram().data() == "a datagram";
            friendSocket.writeDatagram("a datagram", QHostAddress::LocalHost, quint16(port));
            QTest::qWait(200);
            return false;
        },
        Timeout);
    QVERIFY2(answered, "no datagram came back through the friend's port");

    // The key never reaches the log; the code of the same tunnel with another key takes the row's
    // place and port, and reaches nothing.
    const QStringList lines = m_window->findChild<LogWindow *>()->lines();
    QVERIFY(!lines.join(u'\n').contains(code.secretKey));
    ShareCode wrongKey = code;
    wrongKey.secretKey = ShareCode::newSecretKey();
    QVERIFY(m_window->joinTunnel(wrongKey.toText()));
    QCOMPARE(joined->rows().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(row->client()->state(), VisitorClient::Ready, Timeout);
    QCOMPARE(row->localPort(), port);
    QVERIFY(!echoed(VisitorClient::FALLBACK_TIMEOUT_MS + 2000));

    // Ended with the button, its visitors' port closes.
    QVERIFY(m_window->joinTunnel(code.toText()));
    QTRY_COMPARE_WITH_TIMEOUT(row->client()->state(), VisitorClient::Ready, Timeout);
    row->findChild<QPushButton *>("joinedToggleButton")->click();
    QCOMPARE(row->client()->state(), VisitorClient::Stopped);
    QVERIFY(portIsFree(port));

    // A code whose server refuses its token: the row says that it fails and why, without the token.
    ShareCode wrongToken = code;
    wrongToken.name = ShareCode::newName();
    wrongToken.token = QStringLiteral("wrong-token-") + randomText(8);
    QVERIFY(m_window->joinTunnel(wrongToken.toText()));
    JoinedTunnelRow *refused = joined->rows().last();
    const auto removeRefused
        = qScopeGuard([refused] { refused->findChild<QPushButton *>("removeJoinedButton")->click(); });
    QTRY_VERIFY_WITH_TIMEOUT(!refused->client()->failure().isEmpty(), Timeout);
    QVERIFY2(refused->client()->failure().contains(QStringLiteral("token")),
             qPrintable(refused->client()->failure()));
    QVERIFY(!refused->client()->failure().contains(wrongToken.token));
    QVERIFY(refused->findChild<QLabel *>("joinedStateLabel")->text().contains(QStringLiteral("连接失败")));
}

// Whether bytes sent to the port come back within timeoutMs.
bool tcpEchoes(int port, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!socket.waitForConnected(timeoutMs))
        return false;
    const QByteArray payload = "private " + randomText(16).toUtf8();
    socket.write(payload);
    QByteArray received;
    return QTest::qWaitFor([&] { return (received += socket.readAll()) == payload; }, timeoutMs);
}

void TestEndToEnd::privateTunnelReachesOnlyCodeHolders()
{
    QUdpSocket echo;
    QVERIFY(echo.bind(QHostAddress::LocalHost, quint16(m_echo.serverPort())));
    answerDatagrams(echo);
    // The first row private, over TCP+UDP; it is kept for the next start.
    setFirstRowPrivate(true);
    const auto restore = qScopeGuard([this] { stopAndMakeFirstRowPublic(); });
    const QString text = connectAndCopyShareCode();
    QString error;
    const std::optional<ShareCode> code = ShareCode::fromText(text, &error);
    QVERIFY2(code, qPrintable(text + u' ' + error));
    QCOMPARE(code->builtInServer, m_entryIndex == 0);
    QCOMPARE(code->protocol, Tunnel::TcpUdp);
    QCOMPARE(code->hostPort, int(m_echo.serverPort()));
    QVERIFY2(statusText().contains(QStringLiteral("仅好友")), qPrintable(statusText()));
    QVERIFY(!statusText().contains(code->secretKey));
    QVERIFY(reachabilityText().isEmpty());

    // The server lists its proxies under the private types and opens no public port for them.
    const auto listed = [this](const QString &type, const QString &name) {
        for (const QJsonValue &proxy : frpsProxies(type))
            if (proxy.toObject().value(QStringLiteral("name")).toString() == name)
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(listed(QStringLiteral("stcp"), code->stcpName()), Timeout);
    QVERIFY(listed(QStringLiteral("xtcp"), code->xtcpName()));
    QVERIFY(listed(QStringLiteral("sudp"), code->sudpName()));
    for (const QString &type : { QStringLiteral("tcp"), QStringLiteral("udp") }) {
        for (const QJsonValue &proxy : frpsProxies(type))
            QVERIFY2(proxy.toObject().value(QStringLiteral("status")).toString() != QLatin1String("online"),
                     qPrintable(type));
    }

    // A friend's client with visitors made from the code reaches the local TCP and UDP services.
    QProcess visitor;
    const auto stopVisitor = [&visitor] {
        visitor.terminate();
        visitor.waitForFinished(5000);
    };
    const auto guardVisitor = qScopeGuard(stopVisitor);
    int tcpPort = 0;
    int udpPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        tcpPort = probe.serverPort();
        QUdpSocket udpProbe;
        QVERIFY(udpProbe.bind(QHostAddress::LocalHost, 0));
        udpPort = udpProbe.localPort();
    }
    const auto startVisitor = [&](const ShareCode &held) {
        const QString path = TestSupport::sandboxPath() + QStringLiteral("/visitor.toml");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QString entry = QStringLiteral("\n[[visitors]]\nname = \"friend-%1\"\ntype = \"%1\"\n"
                                             "serverName = \"%2\"\nsecretKey = \"%3\"\n"
                                             "bindAddr = \"127.0.0.1\"\nbindPort = %4\n");
        file.write(
            QStringLiteral("serverAddr = \"127.0.0.1\"\nserverPort = %1\nauth.token = \"%2\"\n")
                .arg(FrpsBindPort)
                .arg(QLatin1String(BuiltInToken))
                .toUtf8()
            + entry.arg(QStringLiteral("stcp"), held.stcpName(), held.secretKey).arg(tcpPort).toUtf8()
            + entry.arg(QStringLiteral("sudp"), held.sudpName(), held.secretKey).arg(udpPort).toUtf8());
        file.close();
        visitor.setStandardOutputFile(TestSupport::sandboxPath() + QStringLiteral("/visitor.log"),
                                      QIODevice::Append);
        visitor.start(m_frpDir + QStringLiteral("/frpc"), { QStringLiteral("-c"), path });
        QVERIFY(visitor.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!portIsFree(tcpPort), Timeout);
    };
    startVisitor(*code);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(tcpEchoes(tcpPort, Timeout));
    QVERIFY(udpEchoes(udpPort));

    // A new code: the old one stops working at once, the new one works.
    m_window->findChild<QPushButton *>(QStringLiteral("renewShareCodeButton"))->click();
    m_window->findChild<QPushButton *>(QStringLiteral("copyShareCodeButton"))->click();
    const std::optional<ShareCode> renewed = ShareCode::fromText(QGuiApplication::clipboard()->text());
    QVERIFY(renewed);
    QVERIFY(renewed->secretKey != code->secretKey);
    QCOMPARE(renewed->name, code->name);
    QTRY_VERIFY_WITH_TIMEOUT(!tcpEchoes(tcpPort, 2000), Timeout);
    stopVisitor();
    startVisitor(*renewed);
    QVERIFY(tcpEchoes(tcpPort, Timeout));

    // After a restart of the program the row is still private and its code the same.
    stopVisitor();
    disconnectAndWait(m_entryIndex);
    openNewWindow();
    QVERIFY(m_window->findChild<QCheckBox *>(QStringLiteral("privateTunnelCheck"))->isChecked());
    QCOMPARE(ShareCode::fromText(connectAndCopyShareCode()), renewed);
    startVisitor(*renewed);
    QVERIFY(tcpEchoes(tcpPort, Timeout));
    QVERIFY(udpEchoes(udpPort));
    // The secret never reaches the log.
    QVERIFY(!m_window->findChild<LogWindow *>()->lines().join(u'\n').contains(renewed->secretKey));
}

// The two ends in two windows: the host's shares its first row privately over TCP+UDP, the friend's
// joins the copied code through its dialog. Bytes and datagrams pass; a new code shuts the friend out
// until the friend joins it; after both windows are made anew the friend's kept code joins again with
// one click.
void TestEndToEnd::hostAndFriendWindows()
{
    QUdpSocket echo;
    QVERIFY(echo.bind(QHostAddress::LocalHost, quint16(m_echo.serverPort())));
    answerDatagrams(echo);
    std::unique_ptr<MainWindow> friendWindow;
    const auto restore = qScopeGuard([&] {
        friendWindow.reset();
        ServerConfigManager::instance().setJoinedTunnels({});
        stopAndMakeFirstRowPublic();
    });
    const auto friendRow = [&friendWindow]() -> JoinedTunnelRow * {
        const QList<JoinedTunnelRow *> rows = friendWindow->findChild<JoinedTunnels *>()->rows();
        return rows.size() == 1 ? rows.first() : nullptr;
    };
    const int withinFallback = VisitorClient::FALLBACK_TIMEOUT_MS + 1000;

    setFirstRowPrivate(true);
    const QString code = connectAndCopyShareCode();
    QVERIFY2(ShareCode::fromText(code), qPrintable(code));
    friendWindow = std::make_unique<MainWindow>();
    friendWindow->show();
    QTimer::singleShot(0, friendWindow.get(), [code] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        dialog->findChild<QLineEdit *>(QStringLiteral("shareCodeEdit"))->setText(code);
        dialog->findChild<QPushButton *>(QStringLiteral("confirmJoinButton"))->click();
    });
    friendWindow->findChild<QPushButton *>(QStringLiteral("joinButton"))->click();
    QVERIFY(friendRow());
    QTRY_COMPARE_WITH_TIMEOUT(friendRow()->client()->state(), VisitorClient::Ready, Timeout);
    const int port = friendRow()->localPort();
    QVERIFY(tcpEchoes(port, withinFallback));
    QVERIFY(udpEchoes(port));

    m_window->findChild<QPushButton *>(QStringLiteral("renewShareCodeButton"))->click();
    m_window->findChild<QPushButton *>(QStringLiteral("copyShareCodeButton"))->click();
    const QString renewed = QGuiApplication::clipboard()->text();
    QVERIFY(renewed != code);
    QTRY_VERIFY_WITH_TIMEOUT(!tcpEchoes(port, withinFallback), Timeout);
    QVERIFY(friendWindow->joinTunnel(renewed));
    QTRY_COMPARE_WITH_TIMEOUT(friendRow()->client()->state(), VisitorClient::Ready, Timeout);
    QCOMPARE(friendRow()->localPort(), port);
    QVERIFY(tcpEchoes(port, withinFallback));

    friendWindow.reset();
    QVERIFY(portIsFree(port));
    disconnectAndWait(m_entryIndex);
    openNewWindow();
    QCOMPARE(connectAndCopyShareCode(), renewed);
    friendWindow = std::make_unique<MainWindow>();
    QVERIFY(friendRow());
    QCOMPARE(friendRow()->client()->state(), VisitorClient::Stopped);
    friendRow()->findChild<QPushButton *>(QStringLiteral("joinedToggleButton"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(friendRow()->client()->state(), VisitorClient::Ready, Timeout);
    QVERIFY(tcpEchoes(port, withinFallback));
    QVERIFY(udpEchoes(port));
}

MARROWGATE_TEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
