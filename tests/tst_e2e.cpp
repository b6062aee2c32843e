// The whole chain against the real frp client and server: the main window connects the built-in
// server entry through a local frps, and bytes travel through the tunnel to a local echo server.

#include "frpcmanager.h"
#include "logwindow.h"
#include "mainwindow.h"
#include "serverconfig.h"
#include "testsupport.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>

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

bool portIsFree(int port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, quint16(port));
}

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
    void cleanupTestCase();
    void tunnelCarriesBytesAndSurvivesAClientExit();

private:
    QJsonObject frpsProxy(const QString &name);
    QJsonArray frpsProxies();
    QByteArray clientRequest(const QByteArray &verb, const QString &path);
    QString clientConfigValue(const QString &key) const;
    void expectEcho(int remotePort);
    int shownRemotePort() const;

    QString m_frpDir = QStringLiteral(MARROWGATE_FRP_DIR);
    QProcess m_frps;
    QString m_dashboardPassword;
    int m_dashboardPort = 0;
    int m_entryIndex = 0;
    EchoServer m_echo;
    QNetworkAccessManager m_network;
    std::unique_ptr<MainWindow> m_window;
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
    if (!portIsFree(FrpsBindPort) || !portIsFree(ClientAdminPort))
        QFAIL("ports 7000 and 7500 on 127.0.0.1 must be free for the built-in server entry");

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

    const QString frpsConfig = TestSupport::sandboxPath() + QStringLiteral("/frps.toml");
    QFile config(frpsConfig);
    QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Text));
    config.write(QStringLiteral("bindAddr = \"127.0.0.1\"\n"
                                "bindPort = %1\n"
                                "proxyBindAddr = \"127.0.0.1\"\n"
                                "auth.token = \"%2\"\n"
                                "webServer.addr = \"127.0.0.1\"\n"
                                "webServer.port = %3\n"
                                "webServer.user = \"admin\"\n"
                                "webServer.password = \"%4\"\n")
                     .arg(FrpsBindPort)
                     .arg(QLatin1String(BuiltInToken))
                     .arg(m_dashboardPort)
                     .arg(m_dashboardPassword)
                     .toUtf8());
    config.close();

    m_frps.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_frps.setStandardOutputFile(TestSupport::sandboxPath() + QStringLiteral("/frps.log"));
    m_frps.start(frps, { QStringLiteral("-c"), frpsConfig });
    QVERIFY(m_frps.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!portIsFree(FrpsBindPort), Timeout);
    QTRY_VERIFY_WITH_TIMEOUT(!portIsFree(m_dashboardPort), Timeout);

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
}

void TestEndToEnd::cleanupTestCase()
{
    m_window.reset();
    if (m_frps.state() != QProcess::NotRunning) {
        m_frps.terminate();
        if (!m_frps.waitForFinished(5000))
            m_frps.kill();
    }
}

QJsonArray TestEndToEnd::frpsProxies()
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/proxy/tcp").arg(m_dashboardPort)));
    request.setRawHeader("Authorization",
                         "Basic " + (QByteArray("admin:") + m_dashboardPassword.toUtf8()).toBase64());
    QNetworkReply *reply = m_network.get(request);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("proxies")).toArray();
}

QJsonObject TestEndToEnd::frpsProxy(const QString &name)
{
    const QJsonArray proxies = frpsProxies();
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
    const QRegularExpression shown(QStringLiteral("#2E86DE.*>127\\.0\\.0\\.1:(\\d+)</span>"));
    for (const QLabel *label : m_window->findChildren<QLabel *>()) {
        if (label->text().startsWith(QStringLiteral("连接状态: ")))
            return shown.match(label->text()).captured(1).toInt();
    }
    return 0;
}

void TestEndToEnd::expectEcho(int remotePort)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(remotePort));
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::ConnectedState, Timeout);
    const QByteArray payload = "through the tunnel " + randomText(32).toUtf8();
    socket.write(payload);
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += socket.readAll()).size() >= payload.size(), Timeout);
    QCOMPARE(received, payload);
}

void TestEndToEnd::tunnelCarriesBytesAndSurvivesAClientExit()
{
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    auto *controller = m_window->findChild<FrpcManager *>();
    QVERIFY(controller);
    auto *portField = m_window->findChild<QSpinBox *>();
    QVERIFY(portField);
    portField->setValue(m_echo.serverPort());

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
    QVERIFY(secondProxy != firstProxy);
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
    QTRY_VERIFY_WITH_TIMEOUT(frpcProcessIds().isEmpty(), Timeout);
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
    const QString log = m_window->findChild<LogWindow *>()->findChild<QTextEdit *>()->toPlainText();
    QVERIFY2(log.contains(QStringLiteral("login to server success")), qPrintable(log));
    QVERIFY(!log.contains(QChar(0x1b)));
    QVERIFY(!log.contains(QLatin1String(BuiltInToken)));
}

MARROWGATE_TEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
