// SPDX-License-Identifier: Apache-2.0
#include "modalscript.h"
#include "testsupport.h"

#include "core/frpcmanager.h"
#include "core/serverconfig.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>

using TestSupport::buttonWithText;

// A stand-in for the desktop's notification service that records every call.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString appName;
        uint replacesId;
        QString appIcon;
        QString summary;
        QString body;
        uint id;
    };
    QList<Call> calls;

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &, int)
    {
        const uint id = 100 + uint(calls.size());
        calls << Call { appName, replacesId, appIcon, summary, body, id };
        return id;
    }
};

class TestDesktopNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void tunnelStatesAreNotifiedWhileTheWindowIsInactive();
    void nothingWhileTheWindowIsActive();
    void withoutAServiceTheProgramGoesOn();

private:
    static void disconnect(MainWindow &window);

    QProcess m_bus;
    QString m_busAddress;
    NotificationService m_service;
    ModalScript *m_script = nullptr;
};

// A private session bus: nothing reaches the desktop of whoever runs the test.
void TestDesktopNotifier::initTestCase()
{
    m_bus.start(
        QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--print-address"), QStringLiteral("--nofork") });
    QVERIFY2(m_bus.waitForStarted(5000), "dbus-daemon (package dbus-daemon) does not start");
    QTRY_VERIFY(m_bus.canReadLine());
    m_busAddress = QString::fromLocal8Bit(m_bus.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toLocal8Bit());
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "the program's bus is not the private one");

    QDBusConnection service = QDBusConnection::connectToBus(m_busAddress, QStringLiteral("service"));
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_service,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));

    auto &store = ServerConfigManager::instance();
    ServerConfig alpha;
    alpha.name = QStringLiteral("alpha");
    alpha.serverAddr = QStringLiteral("tunnel.example.org");
    alpha.token = QStringLiteral("secret");
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    alpha.webServerPort = probe.serverPort();
    store.addConfig(alpha);
}

void TestDesktopNotifier::init()
{
    for (const char *name : { "FAKEFRPC_EXIT_AFTER_MS", "FAKEFRPC_EXIT_AFTER_REPORT", "FAKEFRPC_CRASH",
                              "FAKEFRPC_NO_PORT", "FAKEFRPC_MOVE_AFTER_MS" })
        qunsetenv(name);
    qputenv("FAKEFRPC_REMOTE_PORT", "46123");
    m_service.calls.clear();
    m_script = new ModalScript;
}

void TestDesktopNotifier::cleanup()
{
    finishModalScript(m_script);
}

void TestDesktopNotifier::cleanupTestCase()
{
    m_bus.kill();
    m_bus.waitForFinished(5000);
}

void TestDesktopNotifier::disconnect(MainWindow &window)
{
    auto *controller = window.findChild<FrpcManager *>();
    controller->stop();
    QTRY_COMPARE(controller->status(), FrpcManager::Stopped);
}

// Established, lost, back on another port, moved while up and failed: one call each, every one
// replacing the last.
// The window is never shown, so it is not the active window. The tunnel is a UDP one, and stays so
// when it is restored.
void TestDesktopNotifier::tunnelStatesAreNotifiedWhileTheWindowIsInactive()
{
    MainWindow window;
    auto *controller = window.findChild<FrpcManager *>();
    qputenv("FAKEFRPC_EXIT_AFTER_REPORT", "300");
    QVERIFY(window.connectServerByName(QStringLiteral("alpha"), 0, Tunnel::Udp));
    QTRY_COMPARE_WITH_TIMEOUT(m_service.calls.size(), 1, 15000);
    // The next client, which restores the tunnel, stays and gets another port, then moves to a third.
    qunsetenv("FAKEFRPC_EXIT_AFTER_REPORT");
    qputenv("FAKEFRPC_REMOTE_PORT", "46200");
    qputenv("FAKEFRPC_MOVE_AFTER_MS", "300");
    QTRY_COMPARE_WITH_TIMEOUT(m_service.calls.size(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_service.calls.size(), 4, 15000);
    disconnect(window);

    // A client that crashes before it reports a port: the tunnel fails without being established.
    qputenv("FAKEFRPC_NO_PORT", "1");
    qputenv("FAKEFRPC_EXIT_AFTER_MS", "300");
    qputenv("FAKEFRPC_CRASH", "abort");
    m_script->answer(QMessageBox::Ok);
    QVERIFY(window.connectServerByName(QStringLiteral("alpha")));
    QTRY_VERIFY_WITH_TIMEOUT(m_script->finished(), 15000);
    QTRY_COMPARE(controller->status(), FrpcManager::Stopped);

    QStringList shown;
    for (const NotificationService::Call &call : std::as_const(m_service.calls))
        shown << call.summary + QLatin1Char('|') + call.body;
    const QStringList expected { "隧道已建立|连接状态: ● 已连接 | UDP tunnel.example.org:46123",
                                 "隧道已断开，正在重新连接|连接状态: ● 正在连接...",
                                 "隧道已恢复|连接状态: ● 已连接 | UDP tunnel.example.org:46200",
                                 "隧道的远程端口已变化|连接状态: ● 已连接 | UDP tunnel.example.org:46300",
                                 "隧道出错|frpc 进程崩溃" };
    QVERIFY2(shown == expected, qPrintable(shown.join(u'\n')));
    QCOMPARE(m_script->boxes, QStringList { "错误|frpc 进程崩溃" });
    QCOMPARE(m_service.calls.first().replacesId, 0u);
    for (int i = 1; i < m_service.calls.size(); ++i)
        QCOMPARE(m_service.calls.at(i).replacesId, m_service.calls.at(i - 1).id);
    QCOMPARE(m_service.calls.first().appName, QStringLiteral("Marrowgate"));
    QCOMPARE(m_service.calls.first().appIcon, QStringLiteral("marrowgate"));
}

void TestDesktopNotifier::nothingWhileTheWindowIsActive()
{
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(window.connectServerByName(QStringLiteral("alpha")));
    QTRY_COMPARE_WITH_TIMEOUT(window.findChild<FrpcManager *>()->status(), FrpcManager::Running, 15000);
    QTRY_VERIFY(buttonWithText(&window, QStringLiteral("复制端口"))->isVisible());
    disconnect(window);
    QTest::qWait(200); // time for a call that should not have been made
    QCOMPARE(m_service.calls.size(), 0);
}

// Without a service, one line in the log and nothing else: no box, no wait, the tunnel comes up.
void TestDesktopNotifier::withoutAServiceTheProgramGoesOn()
{
    QDBusConnection service(QStringLiteral("service"));
    QVERIFY(service.unregisterService(QStringLiteral("org.freedesktop.Notifications")));
    MainWindow window;
    auto *log = window.findChild<LogWindow *>();
    const QString unavailable = QStringLiteral("桌面通知不可用");
    for (int round = 0; round < 2; ++round) {
        QVERIFY(window.connectServerByName(QStringLiteral("alpha")));
        QTRY_COMPARE_WITH_TIMEOUT(window.findChild<FrpcManager *>()->status(), FrpcManager::Running, 15000);
        QTRY_VERIFY(log->lines().join(QLatin1Char('\n')).contains(unavailable));
        disconnect(window);
    }
    QCOMPARE(log->lines().join(QLatin1Char('\n')).count(unavailable), 1);
    QCOMPARE(m_service.calls.size(), 0);
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
}

MARROWGATE_TEST_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
