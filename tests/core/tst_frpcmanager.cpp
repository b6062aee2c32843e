// SPDX-License-Identifier: Apache-2.0
#include "coretestsupport.h"

#include "core/clientoutput.h"
#include "core/frpcclienttext.h"
#include "core/frpcmanager.h"
#include "core/platform/frpcprocesses.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <memory>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using TestSupport::processGone;

namespace {

const int WAIT_MS = 15000;
const char CHILD_MODE[] = "FRPCMANAGER_TEST_CHILD";

const char *const FAKE_VARIABLES[] = {
    "FAKEFRPC_STDOUT",         "FAKEFRPC_STDERR",
    "FAKEFRPC_EXIT_AFTER_MS",  "FAKEFRPC_EXIT_AFTER_REPORT",
    "FAKEFRPC_EXIT_CODE",      "FAKEFRPC_CRASH",
    "FAKEFRPC_IGNORE_SIGTERM", "FAKEFRPC_TERM_EXIT_CODE",
    "FAKEFRPC_REMOTE_PORT",    "FAKEFRPC_NO_PORT",
    "FAKEFRPC_STATUS_BODY",    "FAKEFRPC_SERVE_DELAY_MS",
    "FAKEFRPC_REPLY_DELAY_MS", "FAKEFRPC_RECORD",
    "FAKEFRPC_STATUS_PAD",     "FAKEFRPC_PROXY_ERROR",
    "FAKEFRPC_DROP_AFTER_MS",  "FAKEFRPC_BACK_AFTER_MS",
    "FAKEFRPC_MOVE_AFTER_MS",  "FAKEFRPC_FIRST_NAME_TAKEN",
    "FAKEFRPC_REFUSE_PORT",    "FAKEFRPC_UDP_PORT_TAKEN",
    "FAKEFRPC_NO_RELOAD",
};

// "port", "port+udpPort" for TCP+UDP, "private" for a private one that is up, "!error" for a refused
// one, per tunnel.
QStringList stateTexts(const QList<TunnelState> &states)
{
    QStringList texts;
    for (const TunnelState &state : states) {
        QString text = state.privateReady ? QStringLiteral("private") : state.port;
        if (!state.udpPort.isEmpty())
            text += u'+' + state.udpPort;
        if (!state.error.isEmpty())
            text += u'!' + state.error;
        texts << text;
    }
    return texts;
}

// "8001/tcp 8002/udp 8003/tcp+udp 8004/tcp/private"
QList<Tunnel> tunnelList(const QString &ports)
{
    QList<Tunnel> tunnels;
    for (const QString &item : ports.split(u' ', Qt::SkipEmptyParts))
        tunnels.append({ item.section(u'/', 0, 0).toInt(), Tunnel::protocolFromName(item.section(u'/', 1, 1)),
                         item.section(u'/', 2) == QLatin1String("private") });
    return tunnels;
}

QString statusName(FrpcManager::Status status)
{
    switch (status) {
    case FrpcManager::Stopped:
        return QStringLiteral("[Stopped]");
    case FrpcManager::Starting:
        return QStringLiteral("[Starting]");
    case FrpcManager::Running:
        return QStringLiteral("[Running]");
    case FrpcManager::Stopping:
        return QStringLiteral("[Stopping]");
    case FrpcManager::Error:
        return QStringLiteral("[Error]");
    }
    return QStringLiteral("[?]");
}

// Events as Recorder::text() shows them.
QString sequence(const QStringList &events)
{
    return events.join(QStringLiteral(" | "));
}

// Everything a controller reports, in order: log lines as they are, state changes in brackets,
// "error: " and "port: " for the other two signals. The fake client's own log lines (date, time and
// level, as the real client writes them) are left out; its lines about status requests are counted.
class Recorder : public QObject
{
public:
    explicit Recorder(FrpcManager *manager)
    {
        m_clock.start();
        connect(manager, &FrpcManager::logMessage, this, [this](const QString &msg) {
            static const QRegularExpression clientLog(
                QStringLiteral("^\\d{4}-\\d\\d-\\d\\d [0-9:.]+ \\[[A-Z]\\] "));
            if (!clientLog.match(msg).hasMatch())
                add(msg);
            else if (msg.contains(QLatin1String("http request [/api/status]")))
                ++statusRequests;
        });
        connect(manager, &FrpcManager::statusChanged, this, [this, manager](FrpcManager::Status status) {
            states.append(status);
            add(statusName(status));
            // A port is known exactly while the tunnel runs.
            if (manager->remotePort().isEmpty() == (status == FrpcManager::Running))
                portOutsideRunning = true;
        });
        connect(manager, &FrpcManager::tunnelEvent, this,
                [this](FrpcManager::TunnelEvent event, const QString &port) {
                    static const char *const names[] = { "established", "lost", "restored", "moved" };
                    tunnel.append((QLatin1String(names[event]) + QLatin1Char(' ') + port).trimmed());
                });
        connect(manager, &FrpcManager::errorOccurred, this, [this](const QString &error) {
            errors.append(error);
            add(QStringLiteral("error: ") + error);
        });
        connect(manager, &FrpcManager::remotePortReady, this, [this](const QString &port) {
            ports.append(port);
            add(QStringLiteral("port: ") + port);
        });
    }

    QStringList events;
    QList<qint64> times;
    // The arguments of each signal, in order, kept by clear().
    QList<FrpcManager::Status> states;
    QStringList errors;
    QStringList ports;
    // The tunnel events, as "established 46000", "lost", "restored 46100", "moved 46100".
    QStringList tunnel;
    int statusRequests = 0;
    bool portOutsideRunning = false;

    bool has(const QString &event) const { return events.contains(event); }
    int count(const QString &event) const { return int(events.count(event)); }
    qint64 timeOf(const QString &event, int occurrence = 0) const
    {
        int from = 0;
        for (int i = 0; i <= occurrence; ++i) {
            from = int(events.indexOf(event, from)) + 1;
            if (from == 0)
                return -1;
        }
        return times.at(from - 1);
    }
    qint64 now() const { return m_clock.elapsed(); }
    // The events from the first occurrence of event on.
    QStringList from(const QString &event) const { return events.mid(events.indexOf(event)); }
    QString text() const { return sequence(events); }
    void clear()
    {
        events.clear();
        times.clear();
    }

private:
    void add(const QString &event)
    {
        events.append(event);
        times.append(m_clock.elapsed());
    }

    QElapsedTimer m_clock;
};

int freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

ServerConfig testConfig()
{
    ServerConfig config;
    config.name = QStringLiteral("测试服务器");
    config.serverAddr = QStringLiteral("127.0.0.1");
    config.serverPort = 7000;
    config.token = QStringLiteral("secret-token");
    config.webServerPort = freePort();
    return config;
}

QString configPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/frpc_")
        + QString::number(QCoreApplication::applicationPid()) + QStringLiteral(".toml");
}

QStringList startLines(const ServerConfig &config, int localPort)
{
    // Built by concatenation: placeholders inside the values must come out as they are.
    return { QStringLiteral("正在启动隧道: ") + config.name,
             QStringLiteral("服务器: ") + config.serverAddr + QLatin1Char(':')
                 + QString::number(config.serverPort),
             QStringLiteral("本地端口: ") + QString::number(localPort) };
}

} // namespace

// Waits for cond, showing what the controller reported if it never comes.
#define WAIT_FOR(recorder, cond, timeout)                                                                    \
    QTRY_VERIFY2_WITH_TIMEOUT(cond, qPrintable((recorder).text()), timeout)

class TestFrpcManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Pure texts
    void tomlString_data();
    void tomlString();
    void configFileLines();
    void remotePortFromStatus_data();
    void remotePortFromStatus();
    void outputLines_data();
    void outputLines();
    void clientLines_data();
    void clientLines();

    // The controller with the fake client
    void newControllerIsQuiet();
    void stopWithoutTunnel_data();
    void stopWithoutTunnel();
    void startAndStop_data();
    void startAndStop();
    void clientFileReadBack_data();
    void clientFileReadBack();
    void credentialsDifferPerStartNameStays();
    void clientFileOwnerOnly_data();
    void clientFileOwnerOnly();
    void unwritableClientFile_data();
    void unwritableClientFile();
    void clientOutputLogged();
    void remotePortFromClient_data();
    void remotePortFromClient();
    void clientScenarios_data();
    void clientScenarios();
    void takenNameReplaced_data();
    void takenNameReplaced();
    void severalTunnels_data();
    void severalTunnels();
    void tunnelsChangedWhileUp_data();
    void tunnelsChangedWhileUp();
    void newClientSurvivesOldStop_data();
    void newClientSurvivesOldStop();
    void pendingReplyIgnoredAfterStop();
    void missingClient_data();
    void missingClient();
    void missingClientChild();
    void reconnectAfterExit();
    void leftOverClientsEndedBeforeStart_data();
    void leftOverClientsEndedBeforeStart();
    void endedClientsNotCounted_data();
    void endedClientsNotCounted();
    void destructorCleansUp();

private:
    QList<QJsonObject> records() const;
    QJsonObject waitForRecord(int index) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_recordPath;
};

void TestFrpcManager::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_recordPath = m_dir->filePath(QStringLiteral("records.jsonl"));
    if (qEnvironmentVariableIsEmpty(CHILD_MODE)) {
        QVERIFY2(QFileInfo(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                           + FrpcProcesses::programFileName())
                     .isExecutable(),
                 "the fake client must be built beside the test");
    }
}

void TestFrpcManager::init()
{
    for (const char *name : FAKE_VARIABLES)
        qunsetenv(name);
    QFile::remove(m_recordPath);
    qputenv("FAKEFRPC_RECORD", QFile::encodeName(m_recordPath));
}

void TestFrpcManager::cleanup()
{
    for (const char *name : FAKE_VARIABLES)
        qunsetenv(name);
    if (qEnvironmentVariableIsEmpty(CHILD_MODE))
        FrpcProcesses::endAll(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                                  + FrpcProcesses::programFileName(),
                              2000);
    QFile::remove(configPath());
    QDir().rmdir(configPath());
}

QList<QJsonObject> TestFrpcManager::records() const
{
    QList<QJsonObject> result;
    QFile file(m_recordPath);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.isEmpty())
            result.append(QJsonDocument::fromJson(line).object());
    }
    return result;
}

QJsonObject TestFrpcManager::waitForRecord(int index) const
{
    QElapsedTimer timer;
    timer.start();
    while (records().size() <= index && timer.elapsed() < WAIT_MS)
        QTest::qWait(20);
    return records().value(index);
}

// --- Pure texts ---------------------------------------------------------------------------------------

void TestFrpcManager::tomlString_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QStringLiteral("frp.example.com") << QStringLiteral("\"frp.example.com\"");
    QTest::newRow("empty") << QString() << QStringLiteral("\"\"");
    QTest::newRow("quotation mark") << QStringLiteral("a\"b") << QStringLiteral("\"a\\\"b\"");
    QTest::newRow("backslash") << QStringLiteral("a\\b") << QStringLiteral("\"a\\\\b\"");
    QTest::newRow("line breaks") << QStringLiteral("a\nb\r\n") << QStringLiteral("\"a\\nb\\r\\n\"");
    QTest::newRow("tab, backspace, form feed") << QStringLiteral("\t\b\f") << QStringLiteral("\"\\t\\b\\f\"");
    QTest::newRow("other control characters")
        << (QString(QChar(0x01)) + QChar(0x1f) + QChar(0x7f) + QChar(0x1b))
        << QStringLiteral("\"\\u0001\\u001F\\u007F\\u001B\"");
    QTest::newRow("non-ASCII unchanged") << QStringLiteral("令牌é🔑") << QStringLiteral("\"令牌é🔑\"");
    QTest::newRow("injection stays one value") << QStringLiteral("x\"\n[webServer]\nport = 1\n#")
                                               << QStringLiteral("\"x\\\"\\n[webServer]\\nport = 1\\n#\"");
}

void TestFrpcManager::tomlString()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(FrpcClientText::tomlString(value), expected);
}

void TestFrpcManager::configFileLines()
{
    ServerConfig config;
    config.name = QStringLiteral("not written");
    config.serverAddr = QStringLiteral("frp.example.com");
    config.serverPort = 7001;
    config.token = QString();
    config.webServerPort = -7;
    const QString text
        = FrpcClientText::configFile(config, 8080, QStringLiteral("tunnel_42"),
                                     { QStringLiteral("u"), QStringLiteral("p") }, QStringLiteral("tcp"));

    const QStringList expected = {
        QStringLiteral("serverAddr = \"frp.example.com\""),
        QStringLiteral("serverPort = 7001"),
        QStringLiteral("transport.heartbeatInterval = 2"),
        QStringLiteral("transport.heartbeatTimeout = 8"),
        QString(),
        QStringLiteral("[auth]"),
        QStringLiteral("method = \"token\""),
        QStringLiteral("token = \"\""),
        QString(),
        QStringLiteral("[webServer]"),
        QStringLiteral("addr = \"127.0.0.1\""),
        QStringLiteral("port = -7"),
        QStringLiteral("user = \"u\""),
        QStringLiteral("password = \"p\""),
        QString(),
        QStringLiteral("[[proxies]]"),
        QStringLiteral("name = \"tunnel_42\""),
        QStringLiteral("type = \"tcp\""),
        QStringLiteral("localIP = \"127.0.0.1\""),
        QStringLiteral("localPort = 8080"),
        QStringLiteral("remotePort = 0"),
        QString(), // every line ends with a line break
    };
    QCOMPARE(text.split(QLatin1Char('\n')), expected);

    // A UDP tunnel differs in the proxy's type alone.
    QStringList udp = expected;
    udp.replace(udp.indexOf(QStringLiteral("type = \"tcp\"")), QStringLiteral("type = \"udp\""));
    QCOMPARE(FrpcClientText::configFile(config, 8080, QStringLiteral("tunnel_42"),
                                        { QStringLiteral("u"), QStringLiteral("p") }, QStringLiteral("udp"))
                 .split(QLatin1Char('\n')),
             udp);
}

void TestFrpcManager::remotePortFromStatus_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("port");

    const auto one = [](const QByteArray &members) {
        return QByteArray(R"({"tcp":[{"name":"tunnel_1",)") + members + "}]}";
    };

    QTest::newRow("colon and port") << one(R"("remote_addr":":6000")") << QStringLiteral("6000");
    QTest::newRow("host and port") << one(R"("remote_addr":"frp.example.com:6001")")
                                   << QStringLiteral("6001");
    QTest::newRow("several colons") << one(R"("remote_addr":"[::1]:6002")") << QStringLiteral("6002");
    // The reply may come from another program on the port: only a port a server can assign counts.
    QTest::newRow("text after the colon is no port")
        << one(R"("remote_addr":"h:p0rt","remote_port":6020)") << QStringLiteral("6020");
    QTest::newRow("port with leading zeros") << one(R"("remote_addr":"h:0786")") << QStringLiteral("786");
    QTest::newRow("port above 65535 in the address") << one(R"("remote_addr":"h:65536")") << QString();
    QTest::newRow("trailing colon falls back to remote_port")
        << one(R"("remote_addr":"h:","remote_port":6003)") << QStringLiteral("6003");
    QTest::newRow("empty address falls back to remote_port")
        << one(R"("remote_addr":"","remote_port":6004)") << QStringLiteral("6004");
    QTest::newRow("address without colon falls back to remote_port")
        << one(R"("remote_addr":"6005","remote_port":6006)") << QStringLiteral("6006");
    QTest::newRow("address without colon alone") << one(R"("remote_addr":"6005")") << QString();
    QTest::newRow("remote_port alone") << one(R"("remote_port":6007)") << QStringLiteral("6007");
    QTest::newRow("remote_port largest") << one(R"("remote_port":65535)") << QStringLiteral("65535");
    QTest::newRow("remote_port above 65535") << one(R"("remote_port":65536)") << QString();
    QTest::newRow("remote_port beyond int") << one(R"("remote_port":2147483648)") << QString();
    QTest::newRow("remote_port zero") << one(R"("remote_addr":"h:","remote_port":0)") << QString();
    QTest::newRow("remote_port negative") << one(R"("remote_port":-6008)") << QString();
    QTest::newRow("remote_port fraction") << one(R"("remote_port":6008.5)") << QString();
    QTest::newRow("remote_port as text") << one(R"("remote_port":"6009")") << QString();
    QTest::newRow("address of another type") << one(R"("remote_addr":6010)") << QString();
    QTest::newRow("name only") << one(R"("status":"wait start")") << QString();
    QTest::newRow("running proxy") << one(R"("status":"running","remote_addr":"::1:6016")")
                                   << QStringLiteral("6016");
    // Before the proxy runs, the address is the bare server address: "::1" names no port.
    QTest::newRow("waiting proxy, IPv6 server")
        << one(R"("status":"wait start","remote_addr":"::1")") << QString();
    QTest::newRow("refused proxy") << one(
        R"("status":"start error","err":"port not allowed","remote_addr":"","remote_port":6017)")
                                   << QString();
    QTest::newRow("waiting element, then a running one")
        << QByteArray(R"({"tcp":[{"name":"tunnel_1","status":"wait start","remote_addr":"h:1"},)"
                      R"({"name":"tunnel_1","status":"running","remote_addr":"h:6018"}]})")
        << QStringLiteral("6018");
    QTest::newRow("other names ignored") << QByteArray(
        R"({"tcp":[{"name":"tunnel_2","remote_addr":":1"},{"name":"Tunnel_1","remote_addr":":2"},)"
        R"({"name":"tunnel_1 ","remote_port":3},{"name":"tunnel_1","remote_addr":":6011"}]})")
                                         << QStringLiteral("6011");
    QTest::newRow("first element with a port wins") << QByteArray(
        R"({"tcp":[{"name":"tunnel_1","remote_addr":""},{"name":"tunnel_1","remote_addr":":6012"},)"
        R"({"name":"tunnel_1","remote_addr":":6013"}]})")
                                                    << QStringLiteral("6012");
    QTest::newRow("name of another type")
        << QByteArray(R"({"tcp":[{"name":1,"remote_addr":":6014"}]})") << QString();
    QTest::newRow("elements that are not objects")
        << QByteArray(R"({"tcp":[1,"tunnel_1",null,{"name":"tunnel_1","remote_addr":":6015"}]})")
        << QStringLiteral("6015");
    QTest::newRow("udp proxy") << QByteArray(
        R"({"udp":[{"name":"tunnel_1","type":"udp","status":"running","remote_addr":"127.0.0.1:5005"}]})")
                               << QStringLiteral("5005");
    QTest::newRow("udp beside tcp") << QByteArray(R"({"tcp":[{"name":"tunnel_2","remote_addr":":1"}],)"
                                                  R"("udp":[{"name":"tunnel_1","remote_addr":":6019"}]})")
                                    << QStringLiteral("6019");
    QTest::newRow("neither tcp nor udp")
        << QByteArray(R"({"http":[{"name":"tunnel_1","remote_addr":":1"}]})") << QString();
    QTest::newRow("tcp not an array")
        << QByteArray(R"({"tcp":{"name":"tunnel_1","remote_addr":":1"}})") << QString();
    QTest::newRow("document is an array")
        << QByteArray(R"([{"name":"tunnel_1","remote_addr":":1"}])") << QString();
    QTest::newRow("not JSON") << QByteArray("Unauthorized\n") << QString();
    QTest::newRow("empty body") << QByteArray() << QString();
}

void TestFrpcManager::remotePortFromStatus()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, port);
    QCOMPARE(FrpcClientText::remotePortFromStatus(body, QStringLiteral("tunnel_1")), port);
}

void TestFrpcManager::outputLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("line, empty line, line")
        << QStringLiteral("one\n\ntwo\n") << QStringList { QStringLiteral("one"), QStringLiteral("two") };
    QTest::newRow("last line without line feed")
        << QStringLiteral("one\ntwo") << QStringList { QStringLiteral("one"), QStringLiteral("two") };
    QTest::newRow("carriage return and blanks kept")
        << QStringLiteral("  one\r\ntwo  \n")
        << QStringList { QStringLiteral("  one\r"), QStringLiteral("two  ") };
    QTest::newRow("colour codes removed")
        << QStringLiteral("\x1b[1;34m2024 [I] start\n\x1b[0m\x1b[1;33mwarn\x1b[0m\n")
        << QStringList { QStringLiteral("2024 [I] start"), QStringLiteral("warn") };
    QTest::newRow("line of colour codes only dropped")
        << QStringLiteral("\x1b[0m\n\x1b[2K\x1b[1G\nend") << QStringList { QStringLiteral("end") };
    QTest::newRow("brackets without escape kept")
        << QStringLiteral("[1;34m [W] x") << QStringList { QStringLiteral("[1;34m [W] x") };
}

void TestFrpcManager::outputLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(FrpcClientText::outputLines(text), lines);
}

void TestFrpcManager::clientLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("onStandardError");
    QTest::addColumn<bool>("statusRequest");
    QTest::addColumn<bool>("errorLine");
    // What a failed login waits for: nothing (0), the network (1), the server (2).
    QTest::addColumn<int>("waitsFor");

    const QString stamp = QStringLiteral("2025-01-01 12:00:00.000 ");
    QTest::newRow("request line, newer client")
        << stamp + QStringLiteral("[I] [client/admin_api.go:168] http request [/api/status]") << false << true
        << false << 0;
    QTest::newRow("request line, older client")
        << QStringLiteral("2024/01/01 12:00:00 [I] [admin_api.go:60] Http request [/API/Status]") << false
        << true << false << 0;
    QTest::newRow("information") << stamp + QStringLiteral("[I] [service.go:323] login to server success")
                                 << false << false << false << 0;
    QTest::newRow("debug") << stamp + QStringLiteral("[D] [x.go:1] detail") << false << false << false << 0;
    QTest::newRow("warning") << stamp + QStringLiteral("[W] [service.go:334] connect to server error: EOF")
                             << false << false << true << 0;
    QTest::newRow("error") << stamp + QStringLiteral("[E] [service.go:316] token doesn't match") << false
                           << false << true << 0;
    QTest::newRow("plain last words")
        << QStringLiteral("login to the server failed: i/o timeout. With loginFailExit enabled, no "
                          "additional retries will be attempted")
        << false << false << true << 0;
    QTest::newRow("standard error") << QStringLiteral("panic: runtime error") << true << false << true << 0;
    const QString failed = QStringLiteral("login to the server failed: dial tcp ");
    QTest::newRow("refused") << failed
            + QStringLiteral("127.0.0.1:27010: connect: connection refused. With "
                             "loginFailExit enabled, no additional retries will be attempted")
                             << false << false << true << 2;
    QTest::newRow("no answer") << failed + QStringLiteral("192.0.2.1:7000: i/o timeout") << false << false
                               << true << 2;
    QTest::newRow("no network") << failed + QStringLiteral("192.0.2.1:7000: connect: network is unreachable")
                                << false << false << true << 1;
    QTest::newRow("name does not resolve")
        << failed + QStringLiteral("lookup frp.example.invalid on 127.0.0.53:53: no such host") << false
        << false << true << 1;
    QTest::newRow("blank") << QStringLiteral("  \r") << true << false << false << 0;
}

void TestFrpcManager::clientLines()
{
    QFETCH(QString, line);
    QFETCH(bool, onStandardError);
    QFETCH(bool, statusRequest);
    QFETCH(bool, errorLine);
    QFETCH(int, waitsFor);
    QCOMPARE(FrpcClientText::isStatusRequestLine(line), statusRequest);
    QCOMPARE(FrpcClientText::isErrorLine(line, onStandardError), errorLine);
    QCOMPARE(int(ClientOutput::unreachability(line).kind), waitsFor);
}

// --- The controller with the fake client --------------------------------------------------------------

void TestFrpcManager::newControllerIsQuiet()
{
    FrpcManager manager;
    Recorder recorder(&manager);
    QCOMPARE(manager.status(), FrpcManager::Stopped);
    QVERIFY(manager.remotePort().isEmpty());
    QVERIFY(manager.errorMessage().isEmpty());
    QTest::qWait(50);
    QVERIFY(recorder.events.isEmpty());
}

void TestFrpcManager::stopWithoutTunnel_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no file") << false << QStringList { QStringLiteral("隧道已停止") };
    QTest::newRow("file of this run")
        << true << QStringList { QStringLiteral("配置文件已删除"), QStringLiteral("隧道已停止") };
}

void TestFrpcManager::stopWithoutTunnel()
{
    QFETCH(bool, fileExists);
    QFETCH(QStringList, expected);

    if (fileExists) {
        QFile file(configPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    FrpcManager manager;
    Recorder recorder(&manager);
    manager.stop();
    QCOMPARE(recorder.text(), sequence(expected));
    QCOMPARE(manager.status(), FrpcManager::Stopped);
    QVERIFY(!QFileInfo::exists(configPath()));
}

void TestFrpcManager::startAndStop_data()
{
    QTest::addColumn<bool>("untilRunning");
    QTest::addColumn<int>("serveDelay");
    QTest::addColumn<int>("earliest");
    QTest::addColumn<int>("latest");

    // The client's line about its started proxy makes the controller ask at once.
    QTest::newRow("stop while running") << true << 0 << 0 << 1000;
    // The client's web API opens after its output: only the periodic query finds the port.
    QTest::newRow("web API opens late") << true << 300 << 1900 << 3500;
    QTest::newRow("stop while starting") << false << 0 << 0 << 0;
}

void TestFrpcManager::startAndStop()
{
    QFETCH(bool, untilRunning);
    QFETCH(int, serveDelay);
    QFETCH(int, earliest);
    QFETCH(int, latest);
    if (!untilRunning)
        qputenv("FAKEFRPC_NO_PORT", "1");
    if (serveDelay > 0)
        qputenv("FAKEFRPC_SERVE_DELAY_MS", QByteArray::number(serveDelay));

    const ServerConfig config = testConfig();
    FrpcManager manager;
    Recorder recorder(&manager);
    manager.start(config, 8080);

    QStringList expected = startLines(config, 8080);
    expected << QStringLiteral("配置文件已生成") << QStringLiteral("[Starting]")
             << QStringLiteral("frpc 进程已启动");
    if (untilRunning) {
        WAIT_FOR(recorder, recorder.has(QStringLiteral("port: 46000")), WAIT_MS);
        expected << QStringLiteral("[Running]") << QStringLiteral("隧道已建立！远程端口: 46000")
                 << QStringLiteral("port: 46000");
        QCOMPARE(manager.status(), FrpcManager::Running);
        QCOMPARE(manager.remotePort(), QStringLiteral("46000"));
        const qint64 waited = recorder.timeOf(QStringLiteral("[Running]"))
            - recorder.timeOf(QStringLiteral("frpc 进程已启动"));
        QVERIFY2(waited >= earliest && waited <= latest, qPrintable(QString::number(waited)));
        // An established tunnel that nothing happens to asks nothing: the client's lines about our
        // own requests do not cause new ones.
        QTest::qWait(300);
        const int requests = recorder.statusRequests;
        QTest::qWait(FrpcManager::QUERY_INTERVAL_MS + 300);
        QCOMPARE(recorder.statusRequests, requests);
    } else {
        WAIT_FOR(recorder, recorder.has(QStringLiteral("frpc 进程已启动")), WAIT_MS);
    }
    QCOMPARE(recorder.text(), sequence(expected));

    // The client got the file and its directory as the command line says.
    const QJsonObject record = waitForRecord(0);
    QCOMPARE(record.value(QLatin1String("arguments")).toArray(),
             QJsonArray({ QStringLiteral("-c"), configPath() }));
    QCOMPARE(record.value(QLatin1String("workingDirectory")).toString(),
             QCoreApplication::applicationDirPath());
    QVERIFY(QFileInfo::exists(configPath()));

    recorder.clear();
    manager.stop();
    WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);
    QCOMPARE(recorder.text(),
             sequence({ QStringLiteral("正在停止隧道..."), QStringLiteral("[Stopping]"),
                        QStringLiteral("frpc 进程已退出 (代码: 0)"), QStringLiteral("配置文件已删除"),
                        QStringLiteral("[Stopped]"), QStringLiteral("隧道已停止") }));
    QVERIFY(!QFileInfo::exists(configPath()));
    QVERIFY(manager.remotePort().isEmpty());
    QVERIFY(processGone(record.value(QLatin1String("pid")).toInteger()));
}

void TestFrpcManager::clientFileReadBack_data()
{
    QTest::addColumn<QString>("serverAddr");
    QTest::addColumn<QString>("token");
    QTest::addColumn<int>("serverPort");
    QTest::addColumn<int>("localPort");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("plain values") << QStringLiteral("frp.example.com") << QStringLiteral("abc123") << 7000
                                  << 8080 << 0;
    QTest::newRow("empty token") << QStringLiteral("10.0.0.1") << QString() << 1 << 65535 << 3;
    QTest::newRow("quotes and backslashes")
        << QStringLiteral("a\"b\\c") << QStringLiteral("\\\"\\\\\"") << 7000 << 8080 << 255;
    QTest::newRow("line breaks and tabs")
        << QStringLiteral("host\nname") << QStringLiteral("line1\r\nline2\tend") << 7000 << 0 << 0;
    QTest::newRow("control characters")
        << QStringLiteral("x")
        << (QString(QChar(0x01)) + QChar(0x08) + QChar(0x0c) + QChar(0x1f) + QChar(0x7f)) << 7000 << 8080
        << 0;
    QTest::newRow("attempt to add keys")
        << QStringLiteral("x\"\nserverPort = 1\n#")
        << QStringLiteral("t\"\n[webServer]\nport = 1\n[[proxies]]\n") << 7000 << 8080 << 0;
    QTest::newRow("placeholders") << QStringLiteral("%2%1.example") << QStringLiteral("%1%2") << 7000 << 8080
                                  << 0;
    QTest::newRow("non-ASCII") << QStringLiteral("隧道.example") << QStringLiteral("令牌🔑é") << -1 << -2 << 0;
}

void TestFrpcManager::clientFileReadBack()
{
    QFETCH(QString, serverAddr);
    QFETCH(QString, token);
    QFETCH(int, serverPort);
    QFETCH(int, localPort);
    QFETCH(int, exitCode);

    // The client reads the file, records what it read and ends before any port is known.
    qputenv("FAKEFRPC_EXIT_AFTER_MS", "0");
    qputenv("FAKEFRPC_EXIT_CODE", QByteArray::number(exitCode));

    ServerConfig config = testConfig();
    config.serverAddr = serverAddr;
    config.token = token;
    config.serverPort = serverPort;
    FrpcManager manager;
    Recorder recorder(&manager);
    manager.start(config, localPort);
    WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);

    const QJsonObject record = waitForRecord(0);
    QVERIFY2(!record.contains(QLatin1String("error")),
             qPrintable(record.value(QLatin1String("error")).toString()));
    const QJsonObject read = record.value(QLatin1String("config")).toObject();
    const QJsonObject auth = read.value(QLatin1String("auth")).toObject();
    const QJsonObject web = read.value(QLatin1String("webServer")).toObject();
    const QJsonArray proxies = read.value(QLatin1String("proxies")).toArray();
    const QJsonObject proxy = proxies.first().toObject();

    QCOMPARE(read.keys(),
             QStringList({ QStringLiteral("auth"), QStringLiteral("proxies"), QStringLiteral("serverAddr"),
                           QStringLiteral("serverPort"), QStringLiteral("transport"),
                           QStringLiteral("webServer") }));
    QCOMPARE(read.value(QLatin1String("transport")).toObject(),
             QJsonObject(
                 { { QStringLiteral("heartbeatInterval"), 2 }, { QStringLiteral("heartbeatTimeout"), 8 } }));
    QCOMPARE(read.value(QLatin1String("serverAddr")).toString(), serverAddr);
    QCOMPARE(read.value(QLatin1String("serverPort")).toInteger(), serverPort);
    QCOMPARE(auth.keys(), QStringList({ QStringLiteral("method"), QStringLiteral("token") }));
    QCOMPARE(auth.value(QLatin1String("method")).toString(), QStringLiteral("token"));
    QCOMPARE(auth.value(QLatin1String("token")).toString(), token);
    QCOMPARE(web.keys(),
             QStringList({ QStringLiteral("addr"), QStringLiteral("password"), QStringLiteral("port"),
                           QStringLiteral("user") }));
    QCOMPARE(web.value(QLatin1String("addr")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(web.value(QLatin1String("port")).toInteger(), config.webServerPort);
    QVERIFY(web.value(QLatin1String("user")).toString().size() >= 16);
    QVERIFY(web.value(QLatin1String("password")).toString().size() >= 16);
    QCOMPARE(proxies.size(), 1);
    QVERIFY(QRegularExpression(QStringLiteral("^tunnel_[0-9]{1,20}$"))
                .match(proxy.value(QLatin1String("name")).toString())
                .hasMatch());
    QCOMPARE(proxy.value(QLatin1String("type")).toString(), QStringLiteral("tcp"));
    QCOMPARE(proxy.value(QLatin1String("localIP")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(proxy.value(QLatin1String("localPort")).toInteger(), localPort);
    QCOMPARE(proxy.value(QLatin1String("remotePort")).toInteger(), 0);

    QCOMPARE(recorder.events.mid(0, 3), startLines(config, localPort));
    // A client that ends before the port is known ends the tunnel; having written nothing, its exit
    // code is the reason shown.
    const QString exited = QStringLiteral("frpc 进程已退出 (代码: %1)").arg(exitCode);
    QCOMPARE(recorder.from(exited),
             QStringList({ exited, QStringLiteral("配置文件已删除"), QStringLiteral("[Stopped]"),
                           QStringLiteral("error: 连接失败: ") + exited }));
    QVERIFY(!QFileInfo::exists(configPath()));
}

void TestFrpcManager::credentialsDifferPerStartNameStays()
{
    qputenv("FAKEFRPC_EXIT_AFTER_MS", "0");
    FrpcManager manager;
    Recorder recorder(&manager);
    ServerConfig config = testConfig();
    for (int i = 0; i < 2; ++i) {
        manager.start(config, 8080);
        WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);
    }
    const QJsonObject first = waitForRecord(0).value(QLatin1String("config")).toObject();
    const QJsonObject second = waitForRecord(1).value(QLatin1String("config")).toObject();
    const QJsonObject firstWeb = first.value(QLatin1String("webServer")).toObject();
    const QJsonObject secondWeb = second.value(QLatin1String("webServer")).toObject();
    QVERIFY(!firstWeb.value(QLatin1String("user")).toString().isEmpty());
    QVERIFY(firstWeb.value(QLatin1String("user")) != secondWeb.value(QLatin1String("user")));
    QVERIFY(firstWeb.value(QLatin1String("password")) != secondWeb.value(QLatin1String("password")));
    // The proxy keeps its name, and with it the port the server gave it.
    const auto proxyName = [](const QJsonObject &config) {
        return config.value(QLatin1String("proxies"))
            .toArray()
            .first()
            .toObject()
            .value(QLatin1String("name"));
    };
    QCOMPARE(proxyName(second), proxyName(first));
    config.serverPort += 1;
    manager.start(config, 8080);
    WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);
    QVERIFY(proxyName(waitForRecord(2).value(QLatin1String("config")).toObject()) != proxyName(first));
}

void TestFrpcManager::clientFileOwnerOnly_data()
{
    QTest::addColumn<QString>("planted");

    QTest::newRow("nothing at the path") << QString();
    QTest::newRow("link to another file") << QStringLiteral("link");
    QTest::newRow("dangling link") << QStringLiteral("dangling");
    QTest::newRow("readable file of someone") << QStringLiteral("file");
}

void TestFrpcManager::clientFileOwnerOnly()
{
    QFETCH(QString, planted);

    const QString victim = m_dir->filePath(QStringLiteral("victim"));
    QFile::remove(victim);
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious\n");
    }
    if (planted == QLatin1String("link")) {
        QVERIFY(QFile::link(victim, configPath()));
    } else if (planted == QLatin1String("dangling")) {
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("nowhere")), configPath()));
    } else if (planted == QLatin1String("file")) {
        QFile file(configPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("old = 1\n");
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                            | QFileDevice::ReadOther | QFileDevice::WriteOther);
    }

    qputenv("FAKEFRPC_EXIT_AFTER_MS", "0");
    FrpcManager manager;
    Recorder recorder(&manager);
    manager.start(testConfig(), 8080);
    WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);

    const QJsonObject record = waitForRecord(0);
    QVERIFY2(!record.contains(QLatin1String("error")),
             qPrintable(record.value(QLatin1String("error")).toString()));
    // The mode of the path itself: a regular file readable and writable by its owner only.
    QCOMPARE(record.value(QLatin1String("configMode")).toString(), QStringLiteral("0600"));
    QVERIFY(recorder.has(QStringLiteral("配置文件已生成")));

    QFile file(victim);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("precious\n"));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("nowhere"))));
    QVERIFY(!QFileInfo(configPath()).isSymLink());
    QVERIFY(!QFileInfo::exists(configPath()));
}

void TestFrpcManager::unwritableClientFile_data()
{
    QTest::addColumn<QString>("planted");
    QTest::newRow("folder") << QStringLiteral("folder");
    QTest::newRow("file of another user") << QStringLiteral("foreign");
}

void TestFrpcManager::unwritableClientFile()
{
    // Whatever cannot be replaced by a file of our own stays as it is, and no client is started.
    QFETCH(QString, planted);
    const QByteArray plantedText = "serverAddr = \"attacker.example\"\n";
    if (planted == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(configPath()));
    } else {
        QFile file(configPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(plantedText);
        file.close();
        const uint other = TestSupport::otherUserId();
        if (::chown(QFile::encodeName(configPath()).constData(), other, other) != 0)
            QSKIP("Handing a file to another user needs root");
    }
    FrpcManager manager;
    Recorder recorder(&manager);
    const ServerConfig config = testConfig();
    manager.start(config, 8080);
    QCOMPARE(manager.status(), FrpcManager::Error);
    QCOMPARE(manager.errorMessage(), QStringLiteral("无法创建配置文件"));
    QTest::qWait(300);
    QCOMPARE(recorder.events,
             startLines(config, 8080)
                 << QStringLiteral("无法创建配置文件") << QStringLiteral("error: 无法创建配置文件")
                 << QStringLiteral("[Error]"));
    QVERIFY(records().isEmpty());
    if (planted == QLatin1String("folder")) {
        QVERIFY(QDir().rmdir(configPath()));
    } else {
        QFile file(configPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), plantedText);
        file.remove();
    }
}

void TestFrpcManager::clientOutputLogged()
{
    qputenv("FAKEFRPC_STDOUT", "\\e[1;34mfirst line\\n\\n\\e[0m\\e[1;34msecond line\\e[0m\\n");
    // The last line never ends: it is taken at 64 KiB, and the rest when the client ends.
    const QByteArray endless(64 * 1024 + 10, 'x');
    qputenv("FAKEFRPC_STDERR", "bad thing\\n\\nworse thing\\n" + endless);
    qputenv("FAKEFRPC_EXIT_AFTER_MS", "200");
    qputenv("FAKEFRPC_NO_PORT", "1");
    FrpcManager manager;
    Recorder recorder(&manager);
    manager.start(testConfig(), 8080);
    WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);

    const int started = int(recorder.events.indexOf(QStringLiteral("frpc 进程已启动")));
    const int exited = int(recorder.events.indexOf(QStringLiteral("frpc 进程已退出 (代码: 0)")));
    QVERIFY(started > 0 && exited > started);
    QStringList output = recorder.events.mid(started + 1, exited - started - 1);
    // The two channels are read as the data arrives; only the order within each channel is fixed.
    QCOMPARE(output.filter(QStringLiteral("[错误] ")),
             QStringList({ QStringLiteral("[错误] bad thing"), QStringLiteral("[错误] worse thing"),
                           QStringLiteral("[错误] ") + QString(64 * 1024, QLatin1Char('x')),
                           QStringLiteral("[错误] xxxxxxxxxx") }));
    output.removeIf([](const QString &line) { return line.startsWith(QStringLiteral("[错误] ")); });
    QCOMPARE(output, QStringList({ QStringLiteral("first line"), QStringLiteral("second line") }));
}

void TestFrpcManager::remotePortFromClient_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("padding");
    const QByteArray plain = R"({"tcp":[{"name":"%NAME%","remote_addr":":6003"}]})";
    const int limit = 1024 * 1024;
    // The margin leaves room for the longest proxy name ("tunnel_" and 20 digits) in place of %NAME%.
    QTest::newRow("reply just within the limit")
        << plain << QStringLiteral("6003") << limit - int(plain.size()) - 24;
    QTest::newRow("reply above the limit is ignored") << plain << QString() << limit;

    QTest::newRow("host and port, other proxies first") << QByteArray(
        R"({"tcp":[{"name":"tunnel_0","remote_addr":":1"},{"name":"%NAME%","remote_addr":"frp.example.com:6001"}]})")
                                                        << QStringLiteral("6001") << 0;
    QTest::newRow("remote_port after a trailing colon") << QByteArray(
        R"({"tcp":[{"name":"%NAME%","remote_addr":"h:"},{"name":"%NAME%","remote_addr":"","remote_port":6002}]})")
                                                        << QStringLiteral("6002") << 0;
}

void TestFrpcManager::remotePortFromClient()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, port);
    QFETCH(int, padding);
    qputenv("FAKEFRPC_STATUS_BODY", body);
    qputenv("FAKEFRPC_STATUS_PAD", QByteArray::number(padding));
    FrpcManager manager;
    Recorder recorder(&manager);
    manager.start(testConfig(), 8080);
    if (port.isEmpty()) {
        // Two queries answered, neither taken.
        WAIT_FOR(recorder, records().size() == 1, WAIT_MS);
        QTest::qWait(2 * FrpcManager::QUERY_INTERVAL_MS + 500);
        QVERIFY(recorder.ports.isEmpty());
        QCOMPARE(manager.status(), FrpcManager::Starting);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(recorder.ports, QStringList { port }, WAIT_MS);
    QCOMPARE(manager.remotePort(), port);
    QCOMPARE(recorder.from(QStringLiteral("[Running]")),
             QStringList({ QStringLiteral("[Running]"), QStringLiteral("隧道已建立！远程端口: %1").arg(port),
                           QStringLiteral("port: ") + port }));
}

void TestFrpcManager::clientScenarios_data()
{
    // Set in the environment before the start ("NAME=value"), and changed once the tunnel first runs
    // ("NAME" alone removes a variable).
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("onceRunning");
    // The owner stops after this event, as often as asked, 300 ms apart; empty: never.
    QTest::addColumn<QString>("stopAfter");
    QTest::addColumn<int>("stops");
    // The scenario has played out with this event; nothing more may happen for quietMs after it.
    QTest::addColumn<QString>("until");
    QTest::addColumn<int>("quietMs");
    QTest::addColumn<QString>("states");
    QTest::addColumn<QStringList>("tunnel");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QString>("errorMessage");
    // Clients started; each after the first announces a reconnection attempt.
    QTest::addColumn<int>("clients");
    // The events from the first of these on, exactly; empty: not compared.
    QTest::addColumn<QStringList>("tail");
    // The longest pause allowed between two state changes or errors; 0: any.
    QTest::addColumn<int>("within");

    const QString crashed = QStringLiteral("frpc 进程崩溃");
    const QString established = QStringLiteral("established 46000");
    const QString lost = QStringLiteral("lost");
    const QString dropped = QStringLiteral("检测到连接断开，准备重连...");
    const QString stopped = QStringLiteral("隧道已停止");
    const QString refusal = QStringLiteral("服务器拒绝了隧道: port not allowed, token: [已隐藏]");
    const QString failedLogin
        = QStringLiteral("连接失败: login to the server failed: token mismatch, password: [已隐藏]");
    const int afterReconnectDelay = FrpcManager::RECONNECT_DELAY_MS + 500;
    const auto crashTail = [&](int signal) {
        return QStringList { crashed,
                             QStringLiteral("error: ") + crashed,
                             QStringLiteral("[Error]"),
                             QStringLiteral("frpc 进程已退出 (代码: %1)").arg(signal),
                             QStringLiteral("配置文件已删除"),
                             QStringLiteral("[Stopped]") };
    };

    // A crash ends the tunnel with an error and no reconnection.
    QTest::newRow("crash while running")
        << QStringList { "FAKEFRPC_CRASH=abort", "FAKEFRPC_EXIT_AFTER_REPORT=100" } << QStringList()
        << QString() << 0 << "[Stopped]" << afterReconnectDelay << "Starting Running Error Stopped"
        << QStringList { established } << QStringList { crashed } << crashed << 1 << crashTail(SIGABRT) << 0;
    QTest::newRow("crash while starting")
        << QStringList { "FAKEFRPC_CRASH=segv", "FAKEFRPC_EXIT_AFTER_MS=100", "FAKEFRPC_NO_PORT=1" }
        << QStringList() << QString() << 0 << "[Stopped]" << 0 << "Starting Error Stopped" << QStringList()
        << QStringList { crashed } << crashed << 1 << crashTail(SIGSEGV) << 0;
    // What the real client writes when its login fails, then ends: its last error line is shown,
    // filtered like the log.
    QTest::newRow("failed start shows the last error line")
        << QStringList { "FAKEFRPC_STDOUT="
                         "\\e[1;34m2025-01-01 12:00:00.000 [I] [service.go:331] try to connect to "
                         "server...\\n\\e[0m"
                         "\\e[1;33m2025-01-01 12:00:00.010 [W] [service.go:334] connect to server error: "
                         "EOF\\n\\e[0m"
                         "login to the server failed: token mismatch, password=hunter2\\n"
                         "\\e[1;34m2025-01-01 12:00:00.020 [I] [root.go:178] frpc service stopped\\n\\e[0m",
                         "FAKEFRPC_EXIT_AFTER_MS=0", "FAKEFRPC_EXIT_CODE=1" }
        << QStringList() << QString() << 0 << "error: " + failedLogin << 0 << "Starting Stopped"
        << QStringList() << QStringList { failedLogin } << failedLogin << 1 << QStringList() << 0;
    // Seen from the client's first lines; the client keeps trying, the refusal is shown once, its
    // secret hidden in the log line and the box alike.
    QTest::newRow("refused proxy shown once")
        << QStringList { "FAKEFRPC_PROXY_ERROR=port not allowed, token=abcdefghijklmnop1234" }
        << QStringList() << QString() << 0 << "error: " + refusal << FrpcManager::QUERY_INTERVAL_MS + 500
        << "Starting" << QStringList() << QStringList { refusal } << QString() << 1
        << QStringList { refusal, "error: " + refusal } << 1000;
    // The client loses the server while the tunnel is up and regains it, its proxy on another port:
    // both seen from the client's own lines, well before a periodic query.
    QTest::newRow("tunnel follows the client's server")
        << QStringList { "FAKEFRPC_DROP_AFTER_MS=300", "FAKEFRPC_BACK_AFTER_MS=500" } << QStringList()
        << QString() << 0 << "port: 46100" << 0 << "Starting Running Starting Running"
        << QStringList { established, lost, "restored 46100" } << QStringList() << QString() << 1
        << QStringList() << 1700;
    // The client loses the server and ends before it is back: it is restarted like any other.
    QTest::newRow("client ends while recovering")
        << QStringList { "FAKEFRPC_DROP_AFTER_MS=300", "FAKEFRPC_EXIT_AFTER_REPORT=1000" }
        << QStringList { "FAKEFRPC_DROP_AFTER_MS", "FAKEFRPC_EXIT_AFTER_REPORT",
                         "FAKEFRPC_REMOTE_PORT=46200" }
        << QString() << 0 << "port: 46200" << 0 << "Starting Running Starting Running"
        << QStringList { established, lost, "restored 46200" } << QStringList() << QString() << 2
        << QStringList() << 0;
    // The client logs in again while the tunnel is up and names another port straight away.
    QTest::newRow("port moves while up")
        << QStringList { "FAKEFRPC_MOVE_AFTER_MS=300" } << QStringList() << QString() << 0 << "port: 46100"
        << 0 << "Starting Running" << QStringList { established, "moved 46100" } << QStringList() << QString()
        << 1 << QStringList() << 0;
    // Every restarted client ends before it reports a port: each attempt starts one client, and only
    // the final give-up reaches the user.
    QTest::newRow("repeated drops") << QStringList { "FAKEFRPC_EXIT_AFTER_REPORT=50" }
                                    << QStringList { "FAKEFRPC_EXIT_AFTER_REPORT", "FAKEFRPC_EXIT_AFTER_MS=0",
                                                     "FAKEFRPC_EXIT_CODE=1" }
                                    << QString() << 0 << "[Error]" << 0 << "Starting Running Starting Error"
                                    << QStringList { established, lost } << QStringList { "重连失败" }
                                    << QString() << int(FrpcManager::MAX_RECONNECT_ATTEMPTS) << QStringList()
                                    << 0;
    QTest::newRow("stop during the reconnection pause")
        << QStringList { "FAKEFRPC_EXIT_AFTER_REPORT=50" } << QStringList() << dropped << 1 << stopped
        << afterReconnectDelay << "Starting Running Starting Stopped" << QStringList { established, lost }
        << QStringList() << QString() << 1
        << QStringList { dropped, "[Starting]", "配置文件已删除", "[Stopped]", stopped } << 0;
    // A client that ignores the request to end is killed after the grace time; a second request while
    // the first is pending changes no state and schedules its own check, which finds nothing to do.
    QTest::newRow("forced stop") << QStringList { "FAKEFRPC_IGNORE_SIGTERM=1", "FAKEFRPC_NO_PORT=1" }
                                 << QStringList() << QStringLiteral("frpc 进程已启动") << 2 << stopped << 500
                                 << "Starting Stopping Stopped" << QStringList() << QStringList() << QString()
                                 << 1 << QStringList { "正在停止隧道...",
                                                       "[Stopping]",
                                                       "正在停止隧道...",
                                                       "进程未响应，强制停止...",
                                                       "frpc 进程已退出 (代码: 9)",
                                                       "配置文件已删除",
                                                       "[Stopped]",
                                                       stopped }
                                 << 0;
}

void TestFrpcManager::clientScenarios()
{
    QFETCH(QStringList, environment);
    QFETCH(QStringList, onceRunning);
    QFETCH(QString, stopAfter);
    QFETCH(int, stops);
    QFETCH(QString, until);
    QFETCH(int, quietMs);
    QFETCH(QString, states);
    QFETCH(QStringList, tunnel);
    QFETCH(QStringList, errors);
    QFETCH(QString, errorMessage);
    QFETCH(int, clients);
    QFETCH(QStringList, tail);
    QFETCH(int, within);

    const auto changeEnvironment = [](const QStringList &changes) {
        for (const QString &change : changes) {
            const qsizetype equals = change.indexOf(QLatin1Char('='));
            if (equals < 0)
                qunsetenv(qPrintable(change));
            else
                qputenv(qPrintable(change.left(equals)), change.mid(equals + 1).toUtf8());
        }
    };
    changeEnvironment(environment);
    FrpcManager manager;
    Recorder recorder(&manager);
    connect(&manager, &FrpcManager::statusChanged, &recorder, [&](FrpcManager::Status status) {
        if (status == FrpcManager::Running && recorder.count(QStringLiteral("[Running]")) == 1)
            changeEnvironment(onceRunning);
    });
    manager.start(testConfig(), 8080);
    const int timeout = (FrpcManager::MAX_RECONNECT_ATTEMPTS + 1) * FrpcManager::RECONNECT_DELAY_MS + WAIT_MS;
    qint64 stopAt = -1;
    if (!stopAfter.isEmpty()) {
        WAIT_FOR(recorder, recorder.has(stopAfter), WAIT_MS);
        // The client has read its file and set itself up.
        QVERIFY(!waitForRecord(0).isEmpty());
        stopAt = recorder.now();
        for (int i = 0; i < stops; ++i) {
            if (i > 0) {
                QTest::qWait(300);
                QCOMPARE(manager.status(), FrpcManager::Stopping);
            }
            manager.stop();
        }
    }
    WAIT_FOR(recorder, recorder.has(until), timeout);
    const int reported = int(recorder.events.size());
    QTest::qWait(quietMs);
    QCOMPARE(sequence(recorder.events.mid(reported)), QString());

    QStringList seen;
    for (const FrpcManager::Status status : std::as_const(recorder.states))
        seen << statusName(status).mid(1).chopped(1);
    QCOMPARE(seen.join(QLatin1Char(' ')), states);
    QCOMPARE(recorder.tunnel, tunnel);
    QStringList ports;
    for (const QString &event : std::as_const(tunnel)) {
        if (event != QLatin1String("lost"))
            ports << event.section(QLatin1Char(' '), 1);
    }
    QCOMPARE(recorder.ports, ports);
    QVERIFY2(!recorder.portOutsideRunning, qPrintable(recorder.text()));
    QCOMPARE(recorder.errors, errors);
    QCOMPARE(manager.errorMessage(), errorMessage);
    QCOMPARE(records().size(), clients);
    QStringList attempts;
    for (int attempt = 2; attempt <= clients; ++attempt)
        attempts
            << QStringLiteral("尝试重连... (%1/%2)").arg(attempt).arg(FrpcManager::MAX_RECONNECT_ATTEMPTS);
    QCOMPARE(recorder.events.filter(QStringLiteral("尝试重连")), attempts);
    if (!tail.isEmpty())
        QCOMPARE(sequence(recorder.from(tail.first())), sequence(tail));
    if (within > 0) {
        qint64 last = 0;
        for (int i = 0; i < recorder.events.size(); ++i) {
            const QString &event = recorder.events.at(i);
            if (!event.startsWith(QLatin1Char('[')) && !event.startsWith(QLatin1String("error: ")))
                continue;
            QVERIFY2(recorder.times.at(i) - last <= within, qPrintable(recorder.text()));
            last = recorder.times.at(i);
        }
    }
    const QString killed = QStringLiteral("进程未响应，强制停止...");
    if (recorder.has(killed)) {
        const qint64 killedAfter = recorder.timeOf(killed) - stopAt;
        QVERIFY2(killedAfter >= 1950 && killedAfter < 3000, qPrintable(QString::number(killedAfter)));
    }
    // A tunnel still on its way keeps asking its client.
    if (manager.status() == FrpcManager::Starting)
        QVERIFY(recorder.statusRequests >= 2);
    // An ended tunnel leaves no client; one that goes on keeps its last one.
    const bool ended = manager.status() == FrpcManager::Stopped || manager.status() == FrpcManager::Error;
    const QList<QJsonObject> started = records();
    for (int i = 0; i < started.size(); ++i) {
        const qint64 pid = started.at(i).value(QLatin1String("pid")).toInteger();
        QCOMPARE(processGone(pid), ended || i + 1 < started.size());
    }

    manager.stop();
    WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);
    QVERIFY(!QFileInfo::exists(configPath()));
}

void TestFrpcManager::newClientSurvivesOldStop_data()
{
    QTest::addColumn<QString>("how");

    // Connect again at once after a disconnect whose client ended promptly.
    QTest::newRow("stop completed, then start") << QStringLiteral("stopped");
    // Connect again while the old client still refuses to end.
    QTest::newRow("stop pending, then start") << QStringLiteral("stopping");
    // Start over a running tunnel.
    QTest::newRow("start while running") << QStringLiteral("running");
}

void TestFrpcManager::newClientSurvivesOldStop()
{
    QFETCH(QString, how);
    if (how == QLatin1String("stopping"))
        qputenv("FAKEFRPC_IGNORE_SIGTERM", "1");

    FrpcManager manager;
    Recorder recorder(&manager);
    const ServerConfig config = testConfig();
    manager.start(config, 8080);
    WAIT_FOR(recorder, manager.status() == FrpcManager::Running, WAIT_MS);
    const qint64 oldPid = waitForRecord(0).value(QLatin1String("pid")).toInteger();
    qunsetenv("FAKEFRPC_IGNORE_SIGTERM");

    const qint64 stopAt = recorder.now();
    if (how != QLatin1String("running"))
        manager.stop();
    if (how == QLatin1String("stopped"))
        WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);
    else if (how == QLatin1String("stopping"))
        QCOMPARE(manager.status(), FrpcManager::Stopping);
    recorder.clear();
    manager.start(config, 8081);

    QVERIFY(processGone(oldPid));
    WAIT_FOR(recorder, manager.status() == FrpcManager::Running, WAIT_MS);
    // Well past the moment the old stop would have forced an end.
    WAIT_FOR(recorder, recorder.now() - stopAt > 2500, WAIT_MS);
    QCOMPARE(manager.status(), FrpcManager::Running);
    QVERIFY2(!recorder.has(QStringLiteral("进程未响应，强制停止...")), qPrintable(recorder.text()));
    QVERIFY2(recorder.events.filter(QStringLiteral("frpc 进程已退出")).isEmpty(),
             qPrintable(recorder.text()));
    QVERIFY(recorder.errors.isEmpty());
    const QJsonObject second = waitForRecord(1);
    QVERIFY(!processGone(second.value(QLatin1String("pid")).toInteger()));
    QCOMPARE(records().size(), 2);
}

void TestFrpcManager::pendingReplyIgnoredAfterStop()
{
    // The client answers a second after each query and does not end on request: its answer to the
    // query that its first lines caused would arrive while the controller is stopping.
    qputenv("FAKEFRPC_REPLY_DELAY_MS", "1000");
    qputenv("FAKEFRPC_IGNORE_SIGTERM", "1");
    FrpcManager manager;
    Recorder recorder(&manager);
    manager.start(testConfig(), 8080);
    WAIT_FOR(recorder, recorder.has(QStringLiteral("frpc 进程已启动")), WAIT_MS);
    const qint64 startedAt = recorder.timeOf(QStringLiteral("frpc 进程已启动"));
    WAIT_FOR(recorder, recorder.now() - startedAt > 400, WAIT_MS);
    manager.stop();
    WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);
    QVERIFY2(!recorder.has(QStringLiteral("[Running]")), qPrintable(recorder.text()));
    QVERIFY(manager.remotePort().isEmpty());
}

void TestFrpcManager::missingClient_data()
{
    QTest::addColumn<bool>("plantFile");

    QTest::newRow("no client program") << false;
    QTest::newRow("client not executable") << true;
}

void TestFrpcManager::missingClient()
{
    // The controller looks for the client beside the running program, so this test runs a copy of
    // itself from a directory without a usable client.
    QFETCH(bool, plantFile);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString copy = dir.filePath(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
    if (plantFile) {
        QFile file(dir.filePath(FrpcProcesses::programFileName()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a program\n");
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(CHILD_MODE), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(copy, { QStringLiteral("missingClientChild") });
    QVERIFY(child.waitForFinished(WAIT_MS));
    const QString output = QString::fromLocal8Bit(child.readAll());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("PASS   : TestFrpcManager::missingClientChild()")),
             qPrintable(output));
}

void TestFrpcManager::missingClientChild()
{
    if (qEnvironmentVariableIsEmpty(CHILD_MODE))
        QSKIP("runs as a child of missingClient");

    FrpcManager manager;
    Recorder recorder(&manager);
    const ServerConfig config = testConfig();
    manager.start(config, 8080);
    const QString text = QStringLiteral("frpc 启动失败，请检查 frpc.exe 是否存在");
    WAIT_FOR(recorder, manager.status() == FrpcManager::Error, WAIT_MS);
    QStringList expected = startLines(config, 8080);
    expected << QStringLiteral("配置文件已生成") << QStringLiteral("[Starting]") << text
             << QStringLiteral("error: ") + text << QStringLiteral("[Error]");
    QCOMPARE(recorder.text(), sequence(expected));
    QCOMPARE(manager.errorMessage(), text);
    // The file stays until the next clean-up.
    QVERIFY(QFileInfo::exists(configPath()));

    recorder.clear();
    manager.stop();
    QCOMPARE(recorder.text(),
             sequence({ QStringLiteral("配置文件已删除"), QStringLiteral("[Stopped]"),
                        QStringLiteral("隧道已停止") }));
    QCOMPARE(manager.errorMessage(), text);
}

void TestFrpcManager::takenNameReplaced_data()
{
    QTest::addColumn<int>("takenRun");
    QTest::newRow("first start") << 0;
    // The client of the established tunnel ends; the one started to restore it finds the name held.
    QTest::newRow("client restoring the tunnel") << 1;
}

void TestFrpcManager::takenNameReplaced()
{
    // The server still holds the tunnel's name for an earlier session: the tunnel comes up at once
    // under a fresh name, without an error, and the next start asks for the stable name again.
    QFETCH(int, takenRun);
    qputenv("FAKEFRPC_FIRST_NAME_TAKEN", QByteArray::number(takenRun + 1));
    if (takenRun > 0)
        qputenv("FAKEFRPC_EXIT_AFTER_REPORT", "300");
    FrpcManager manager;
    Recorder recorder(&manager);
    connect(&manager, &FrpcManager::statusChanged, &recorder, [](FrpcManager::Status status) {
        if (status == FrpcManager::Running)
            qunsetenv("FAKEFRPC_EXIT_AFTER_REPORT");
    });
    const ServerConfig config = testConfig();
    manager.start(config, 8080);
    QStringList tunnel { QStringLiteral("established 46000") };
    if (takenRun > 0)
        tunnel << QStringLiteral("lost") << QStringLiteral("restored 46000");
    QTRY_COMPARE_WITH_TIMEOUT(recorder.tunnel, tunnel, WAIT_MS);
    QCOMPARE(recorder.states.size(), tunnel.size() + 1);
    QCOMPARE(manager.status(), FrpcManager::Running);
    QCOMPARE(recorder.errors, QStringList());
    QCOMPARE(records().size(), takenRun + 2);

    manager.stop();
    WAIT_FOR(recorder, manager.status() == FrpcManager::Stopped, WAIT_MS);
    manager.start(config, 8080);
    const auto proxyName = [this](int run) {
        const QJsonObject config = waitForRecord(run).value(QLatin1String("config")).toObject();
        return config.value(QLatin1String("proxies"))
            .toArray()
            .first()
            .toObject()
            .value(QLatin1String("name"));
    };
    QCOMPARE(proxyName(takenRun), proxyName(0));
    QVERIFY(proxyName(takenRun + 1) != proxyName(0));
    QCOMPARE(proxyName(takenRun + 2), proxyName(0));
}

void TestFrpcManager::severalTunnels_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("tunnels");
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<QStringList>("errors");
    QString ten;
    QStringList tenPorts;
    for (int i = 0; i < Tunnel::MAX_TUNNELS; ++i) {
        ten += QStringLiteral(" %1/%2").arg(8001 + i).arg(i % 2 ? "udp" : "tcp");
        tenPorts << QString::number(46000 + i);
    }
    QTest::newRow("ten tunnels, one client") << QStringList() << ten << tenPorts << QStringList();
    QTest::newRow("refused on one row")
        << QStringList { QStringLiteral("FAKEFRPC_REFUSE_PORT=8002") }
        << QStringLiteral("8001/tcp 8002/udp 8003/tcp")
        << QStringList { QStringLiteral("46000"), QStringLiteral("!port not allowed"),
                         QStringLiteral("46002") }
        << QStringList();
    QTest::newRow("every proxy refused")
        << QStringList { QStringLiteral("FAKEFRPC_PROXY_ERROR=port not allowed") }
        << QStringLiteral("8001/tcp 8002/udp")
        << QStringList { QStringLiteral("!port not allowed"), QStringLiteral("!port not allowed") }
        << QStringList { QStringLiteral("服务器拒绝了隧道: port not allowed") };
    // A proxy still starting has not been refused: the connection waits for it.
    QTest::newRow("refused on one row, another still starting")
        << QStringList { QStringLiteral("FAKEFRPC_REFUSE_PORT=8002"), QStringLiteral("FAKEFRPC_NO_PORT=1") }
        << QStringLiteral("8001/tcp 8002/udp")
        << QStringList { QString(), QStringLiteral("!port not allowed") } << QStringList();
    QTest::newRow("TCP+UDP on one port")
        << QStringList() << QStringLiteral("8001/tcp+udp 8002/tcp")
        << QStringList { QStringLiteral("46000+46000"), QStringLiteral("46001") } << QStringList();
    QTest::newRow("TCP+UDP, the UDP port taken")
        << QStringList { QStringLiteral("FAKEFRPC_UDP_PORT_TAKEN=1") }
        << QStringLiteral("8001/tcp+udp 8002/tcp")
        << QStringList { QStringLiteral("46000+46002"), QStringLiteral("46001") } << QStringList();
    // A private tunnel is up once its proxies run, without a port; it takes no part in the UDP half's
    // asking for the TCP port.
    QTest::newRow("private beside public")
        << QStringList() << QStringLiteral("8001/tcp+udp/private 8002/tcp")
        << QStringList { QStringLiteral("private"), QStringLiteral("46003") } << QStringList();
    QTest::newRow("private alone") << QStringList() << QStringLiteral("8001/udp/private")
                                   << QStringList { QStringLiteral("private") } << QStringList();
    QTest::newRow("private refused") << QStringList { QStringLiteral(
        "FAKEFRPC_PROXY_ERROR=port not allowed") }
                                     << QStringLiteral("8001/tcp/private")
                                     << QStringList { QStringLiteral("!port not allowed") }
                                     << QStringList { QStringLiteral("服务器拒绝了隧道: port not allowed") };
}

void TestFrpcManager::severalTunnels()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, tunnels);
    QFETCH(QStringList, states);
    QFETCH(QStringList, errors);
    for (const QString &setting : std::as_const(environment))
        qputenv(qPrintable(setting.section(u'=', 0, 0)), setting.section(u'=', 1).toUtf8());
    FrpcManager manager;
    Recorder recorder(&manager);
    manager.start(testConfig(), tunnelList(tunnels));
    WAIT_FOR(recorder, stateTexts(manager.tunnelStates()) == states, WAIT_MS);
    QTRY_COMPARE(recorder.errors, errors);
    // One client carries them all, and one status query serves every tunnel.
    QCOMPARE(records().first().value(QLatin1String("pid")), records().last().value(QLatin1String("pid")));
    QVERIFY2(recorder.statusRequests < 5, qPrintable(QString::number(recorder.statusRequests)));
    // Up once any tunnel has its port, or a private one runs.
    const bool anyPort = !states.filter(QRegularExpression(QStringLiteral("^(\\d|private)"))).isEmpty();
    QCOMPARE(manager.status(), anyPort ? FrpcManager::Running : FrpcManager::Starting);
    // The controller itself holds the limit, whoever asks it for one more.
    const int more = int(states.size()) < Tunnel::MAX_TUNNELS ? int(states.size()) : -1;
    QCOMPARE(manager.addTunnel({ 9000, Tunnel::Tcp }), more);
    QCOMPARE(manager.tunnelStates().size(), qMin(states.size() + 1, qsizetype(Tunnel::MAX_TUNNELS)));
}

void TestFrpcManager::tunnelsChangedWhileUp_data()
{
    QTest::addColumn<bool>("reloads");
    QTest::newRow("client reloads its file") << true;
    QTest::newRow("older client restarted") << false;
}

void TestFrpcManager::tunnelsChangedWhileUp()
{
    QFETCH(bool, reloads);
    if (!reloads)
        qputenv("FAKEFRPC_NO_RELOAD", "1");
    FrpcManager manager;
    Recorder recorder(&manager);
    manager.start(testConfig(), tunnelList(QStringLiteral("8001/tcp")));
    WAIT_FOR(recorder, manager.status() == FrpcManager::Running, WAIT_MS);
    const QJsonValue firstPid = records().first().value(QLatin1String("pid"));

    // Only a TCP program listens on the added UDP tunnel's port: for datagrams, nobody does.
    QTcpServer tcpOnly;
    QVERIFY(tcpOnly.listen(QHostAddress::LocalHost));
    QCOMPARE(manager.addTunnel({ tcpOnly.serverPort(), Tunnel::Udp }), 1);
    WAIT_FOR(recorder, stateTexts(manager.tunnelStates()) == QStringList({ "46000", "46001" }), WAIT_MS);
    WAIT_FOR(recorder, manager.tunnelStates().at(1).nobodyListens, WAIT_MS);
    QCOMPARE(records().last().value(QLatin1String("pid")) == firstPid, reloads);
    QCOMPARE(recorder.events.filter(QStringLiteral("404")).size(), reloads ? 0 : 1);
    QCOMPARE(manager.remotePort(), QStringLiteral("46000"));

    const auto proxiesInFile = [this] {
        return records()
            .last()
            .value(QLatin1String("config"))
            .toObject()
            .value(QLatin1String("proxies"))
            .toArray()
            .size();
    };
    QVERIFY(!manager.removeTunnel(0));
    QVERIFY(manager.removeTunnel(1));
    QCOMPARE(stateTexts(manager.tunnelStates()), QStringList { QStringLiteral("46000") });
    WAIT_FOR(recorder, proxiesInFile() == 1, WAIT_MS);
    QCOMPARE(recorder.errors, QStringList());
    WAIT_FOR(recorder, manager.status() == FrpcManager::Running, WAIT_MS);
}

void TestFrpcManager::reconnectAfterExit()
{
    qputenv("FAKEFRPC_EXIT_AFTER_REPORT", "50");
    qputenv("FAKEFRPC_EXIT_CODE", "0");
    FrpcManager manager;
    Recorder recorder(&manager);
    const ServerConfig config = testConfig();
    manager.start(config, 8080);
    WAIT_FOR(recorder, manager.status() == FrpcManager::Running, WAIT_MS);

    WAIT_FOR(recorder, recorder.count(QStringLiteral("[Running]")) == 2, WAIT_MS);
    qunsetenv("FAKEFRPC_EXIT_AFTER_REPORT"); // the third client stays
    QStringList expected = { QStringLiteral("[Running]"),
                             QStringLiteral("隧道已建立！远程端口: 46000"),
                             QStringLiteral("port: 46000"),
                             QStringLiteral("frpc 进程已退出 (代码: 0)"),
                             QStringLiteral("检测到连接断开，准备重连..."),
                             QStringLiteral("[Starting]"),
                             QStringLiteral("尝试重连... (2/5)"),
                             QStringLiteral("配置文件已删除") };
    expected << startLines(config, 8080);
    expected << QStringLiteral("配置文件已生成") << QStringLiteral("frpc 进程已启动")
             << QStringLiteral("[Running]") << QStringLiteral("隧道已建立！远程端口: 46000")
             << QStringLiteral("port: 46000");
    QCOMPARE(sequence(recorder.from(QStringLiteral("[Running]")).mid(0, expected.size())),
             sequence(expected));

    const qint64 pause = recorder.timeOf(QStringLiteral("尝试重连... (2/5)"))
        - recorder.timeOf(QStringLiteral("检测到连接断开，准备重连..."));
    QVERIFY2(pause >= 2950 && pause < 4000, qPrintable(QString::number(pause)));

    // The second client drops as well: the tunnel that came back counts its drops from the start.
    WAIT_FOR(recorder, recorder.count(QStringLiteral("[Running]")) == 3, WAIT_MS);
    QCOMPARE(recorder.count(QStringLiteral("尝试重连... (2/5)")), 2);

    // Same server, local port and proxy name.
    const QJsonObject first = waitForRecord(0).value(QLatin1String("config")).toObject();
    const QJsonObject second = waitForRecord(1).value(QLatin1String("config")).toObject();
    QCOMPARE(second.value(QLatin1String("serverAddr")), first.value(QLatin1String("serverAddr")));
    QCOMPARE(second.value(QLatin1String("serverPort")), first.value(QLatin1String("serverPort")));
    QCOMPARE(second.value(QLatin1String("auth")), first.value(QLatin1String("auth")));
    const QJsonObject firstProxy = first.value(QLatin1String("proxies")).toArray().first().toObject();
    const QJsonObject secondProxy = second.value(QLatin1String("proxies")).toArray().first().toObject();
    QCOMPARE(secondProxy.value(QLatin1String("localPort")).toInteger(), 8080);
    QCOMPARE(secondProxy.value(QLatin1String("name")), firstProxy.value(QLatin1String("name")));
}

void TestFrpcManager::leftOverClientsEndedBeforeStart_data()
{
    QTest::addColumn<bool>("fileReplaced");
    QTest::newRow("client file as it was") << false;
    // The client file was replaced since the left-over started (an update): the kernel now names the
    // left-over's program with a mark.
    QTest::newRow("client file replaced") << true;
}

void TestFrpcManager::leftOverClientsEndedBeforeStart()
{
    QFETCH(bool, fileReplaced);
    // A client of an earlier run, still holding its own web port.
    const QString oldConfig = m_dir->filePath(QStringLiteral("old.toml"));
    {
        QFile file(oldConfig);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("[webServer]\nport = %1\n\n[[proxies]]\nname = \"old\"\n")
                       .arg(freePort())
                       .toUtf8());
    }
    // It does not even end when asked politely.
    qputenv("FAKEFRPC_IGNORE_SIGTERM", "1");
    QProcess leftOver;
    leftOver.start(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                       + FrpcProcesses::programFileName(),
                   { QStringLiteral("-c"), oldConfig });
    QVERIFY(leftOver.waitForStarted());
    qunsetenv("FAKEFRPC_IGNORE_SIGTERM");
    const qint64 leftOverPid = leftOver.processId();
    QVERIFY(waitForRecord(0).value(QLatin1String("pid")).toInteger() == leftOverPid);
    if (fileReplaced) {
        const QString client = leftOver.program();
        const QString copy = m_dir->filePath(QStringLiteral("frpc copy"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(client, copy) && QFile::remove(client) && QFile::copy(copy, client));
        QVERIFY(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(leftOverPid)).endsWith(" (deleted)"));
    }

    bool goneBeforeFile = false;
    FrpcManager manager;
    connect(&manager, &FrpcManager::logMessage, &manager, [&](const QString &msg) {
        if (msg == QStringLiteral("配置文件已生成"))
            goneBeforeFile = processGone(leftOverPid);
    });
    manager.start(testConfig(), 8080);
    QVERIFY(goneBeforeFile);
    QVERIFY(leftOver.waitForFinished(WAIT_MS));
    QTRY_VERIFY_WITH_TIMEOUT(records().size() == 2, WAIT_MS);
    QVERIFY(!processGone(records().at(1).value(QLatin1String("pid")).toInteger()));
}

void TestFrpcManager::endedClientsNotCounted_data()
{
    QTest::addColumn<bool>("exited");
    QTest::newRow("running copy of this program") << false;
    // Ended, but not yet collected by its parent.
    QTest::newRow("zombie copy of this program") << true;
}

void TestFrpcManager::endedClientsNotCounted()
{
    // A copy of this program, not collected by the toolkit: it stays a zombie until this test reaps it.
    QFETCH(bool, exited);
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (exited)
            ::_exit(0);
        for (;;)
            ::pause();
    }
    const auto reap = [pid] {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    };
    auto reapOnReturn = qScopeGuard(reap);
    QTRY_COMPARE_WITH_TIMEOUT(processGone(pid), exited, WAIT_MS);
    QCOMPARE(FrpcProcesses::isThisProgram(pid), !exited);

    // Ending the copies of this program: a killed copy is a zombie at once, and no wait follows for a
    // parent that collects it.
    std::unique_ptr<QThread> ending(
        QThread::create([] { FrpcProcesses::endAll(QCoreApplication::applicationFilePath(), 600 * 1000); }));
    ending->start();
    const bool returned = QTest::qWaitFor([&] { return ending->isFinished(); }, WAIT_MS);
    const bool gone = processGone(pid);
    const bool counted = FrpcProcesses::isThisProgram(pid);
    // Collected now, an ending that still waits returns.
    reapOnReturn.dismiss();
    reap();
    ending->wait();
    QVERIFY(returned);
    QVERIFY(gone);
    QVERIFY(!counted);
}

void TestFrpcManager::destructorCleansUp()
{
    auto manager = std::make_unique<FrpcManager>();
    Recorder recorder(manager.get());
    manager->start(testConfig(), 8080);
    WAIT_FOR(recorder, manager->status() == FrpcManager::Running, WAIT_MS);
    const qint64 pid = waitForRecord(0).value(QLatin1String("pid")).toInteger();
    QVERIFY(QFileInfo::exists(configPath()));

    recorder.clear();
    manager.reset();
    QCOMPARE(recorder.events, QStringList { QStringLiteral("配置文件已删除") });
    QVERIFY(!QFileInfo::exists(configPath()));
    QVERIFY(processGone(pid));
}

MARROWGATE_CORE_TEST_MAIN(TestFrpcManager)
#include "tst_frpcmanager.moc"
