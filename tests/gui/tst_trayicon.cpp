// SPDX-License-Identifier: Apache-2.0
#include "testsupport.h"
#include "trayhost.h"

#include "core/frpcmanager.h"
#include "core/serverconfig.h"
#include "gui/mainwindow.h"
#include "gui/tunneltrayicon.h"

#include <QAction>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMenu>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QWidget>

// Plays the desktop's notification service on the private bus, keeping the summaries it is sent.
class NotificationRecorder : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries;

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &,
                const QStringList &, const QVariantMap &, int)
    {
        summaries << summary;
        return uint(summaries.size());
    }
};

// The tray icon against a stand-in for the desktop's tray host, under a real X server.
class TestTrayIcon : public QObject
{
    Q_OBJECT

public:
    explicit TestTrayIcon(TrayHost *host)
        : m_host(host)
    {
    }

private slots:
    void initTestCase();
    void looksFollowTheTunnel();
    void menuAndClickAskThroughSignals();
    void windowClosesToTheTray();

private:
    static QImage image(const QIcon &icon) { return icon.pixmap(32, 32).toImage(); }
    static void choose(TunnelTrayIcon *tray, const QString &text)
    {
        for (QAction *action : tray->menu()->actions()) {
            if (action->text() == text && action->isVisible() && action->isEnabled())
                return action->trigger();
        }
        QFAIL(qPrintable(text + QStringLiteral(" is not offered")));
    }

    TrayHost *m_host;
    QWidget m_window;
};

void TestTrayIcon::initTestCase()
{
    QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
}

// The mark, the tooltip and the menu entries follow the state; the item is registered with the host.
void TestTrayIcon::looksFollowTheTunnel()
{
    std::unique_ptr<TunnelTrayIcon> tray(TunnelTrayIcon::createIfAvailable(&m_window));
    QVERIFY(tray);
    QCOMPARE(tray->systemTrayIcon()->parent(), &m_window);
    QTRY_COMPARE(m_host->registeredItems().size(), 1);
    const QList<QAction *> actions = tray->menu()->actions();
    const auto shown = [&actions] {
        QStringList texts;
        for (const QAction *action : actions) {
            if (action->isVisible() && action->isEnabled() && !action->isSeparator())
                texts << action->text();
        }
        return texts;
    };
    const QImage idle = image(tray->systemTrayIcon()->icon());
    QCOMPARE(shown(), QStringList({ "显示窗口", "退出" }));
    QCOMPARE(tray->systemTrayIcon()->toolTip(), QStringLiteral("Marrowgate"));

    tray->setState(TunnelTrayIcon::Connecting, QStringLiteral("正在连接…"), QString());
    QCOMPARE(shown(), QStringList({ "显示窗口", "断开", "退出" }));
    const QImage connecting = image(tray->systemTrayIcon()->icon());
    QVERIFY(connecting != idle);

    tray->setState(TunnelTrayIcon::Connected, QStringLiteral("已连接"), QStringLiteral("[2001:db8::1]:6000"));
    QCOMPARE(shown(), QStringList({ "显示窗口", "复制地址", "断开", "退出" }));
    QCOMPARE(tray->systemTrayIcon()->toolTip(), QStringLiteral("Marrowgate\n已连接\n[2001:db8::1]:6000"));
    const QImage connected = image(tray->systemTrayIcon()->icon());
    QVERIFY(connected != idle && connected != connecting);

    tray->setState(TunnelTrayIcon::Idle, QStringLiteral("未连接"), QString());
    QCOMPARE(shown(), QStringList({ "显示窗口", "退出" }));
    QCOMPARE(image(tray->systemTrayIcon()->icon()), idle);
    QCOMPARE(tray->systemTrayIcon()->toolTip(), QStringLiteral("Marrowgate\n未连接"));
}

// Each menu entry asks for its deed; a left click on the item, as the host passes it on, asks to
// show or hide the window.
void TestTrayIcon::menuAndClickAskThroughSignals()
{
    const int registered = m_host->registeredItems().size();
    TunnelTrayIcon tray(&m_window);
    tray.setState(TunnelTrayIcon::Connected, QStringLiteral("已连接"), QStringLiteral("127.0.0.1:6000"));
    const QList<QPair<QString, const char *>> entries {
        { QStringLiteral("显示窗口"), SIGNAL(showWindowRequested()) },
        { QStringLiteral("复制地址"), SIGNAL(copyAddressRequested()) },
        { QStringLiteral("断开"), SIGNAL(disconnectRequested()) },
        { QStringLiteral("退出"), SIGNAL(quitRequested()) },
    };
    for (const auto &[text, signal] : entries) {
        QSignalSpy spy(&tray, signal);
        const QList<QAction *> actions = tray.menu()->actions();
        const auto found = std::find_if(actions.begin(), actions.end(),
                                        [&text = text](QAction *action) { return action->text() == text; });
        QVERIFY(found != actions.end());
        (*found)->trigger();
        QCOMPARE(spy.size(), 1);
    }

    QSignalSpy toggles(&tray, &TunnelTrayIcon::toggleWindowRequested);
    QTRY_COMPARE(m_host->registeredItems().size(), registered + 1);
    QDBusConnection clicker = QDBusConnection::connectToBus(
        qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("clicker"));
    QDBusMessage click = QDBusMessage::createMethodCall(
        m_host->registeredItems().constLast(), QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
    click << 10 << 10;
    // Asked without waiting: the item answers from this thread.
    clicker.send(click);
    QTRY_COMPARE(toggles.size(), 1);
    emit tray.systemTrayIcon()->activated(QSystemTrayIcon::Context);
    QCOMPARE(toggles.size(), 1);
}

// The window with a tray, its tunnel run by the fake client: closing while connected only hides the
// window (said once per run), and the tray shows the tunnel, brings the window back and ends the tunnel.
void TestTrayIcon::windowClosesToTheTray()
{
    NotificationRecorder notifications;
    QDBusConnection service = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                                            QStringLiteral("notifications"));
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
    const auto unregister
        = qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("notifications")); });
    const auto toldItRuns = [&notifications] {
        return notifications.summaries.count(QStringLiteral("Marrowgate 仍在运行"));
    };

    ServerConfig config;
    config.name = QStringLiteral("alpha");
    config.serverAddr = QStringLiteral("tunnel.example.org");
    config.token = QStringLiteral("secret");
    QTcpServer freePort;
    QVERIFY(freePort.listen(QHostAddress::LocalHost));
    config.webServerPort = freePort.serverPort();
    freePort.close();
    ServerConfigManager::instance().addConfig(config);
    qputenv("FAKEFRPC_REMOTE_PORT", "46123");

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *tray = window.findChild<TunnelTrayIcon *>();
    QVERIFY(tray);
    auto *controller = window.findChild<FrpcManager *>();
    const QImage idle = image(tray->systemTrayIcon()->icon());

    QVERIFY(window.connectServerByName(QStringLiteral("alpha"), 0, Tunnel::Udp));
    QTRY_COMPARE_WITH_TIMEOUT(tray->look(), TunnelTrayIcon::Connected, 15000);
    // The address once: the status text names it.
    QTRY_COMPARE(tray->systemTrayIcon()->toolTip(),
                 QStringLiteral("Marrowgate\n连接状态: ● 已连接 | UDP tunnel.example.org:46123"));
    QVERIFY(image(tray->systemTrayIcon()->icon()) != idle);

    // No question: the tunnel goes on, the window is out of sight.
    QVERIFY(!window.close());
    QVERIFY(!window.isVisible());
    QCOMPARE(controller->status(), FrpcManager::Running);
    QTRY_COMPARE(toldItRuns(), 1);

    choose(tray, QStringLiteral("复制地址"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("tunnel.example.org:46123"));
    choose(tray, QStringLiteral("显示窗口"));
    QVERIFY(window.isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // Closed again, it goes without a word. A click on the icon brings it back, and restores it
    // rather than hiding it when it is minimised.
    QVERIFY(!window.close());
    emit tray->systemTrayIcon()->activated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isVisible());
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());
    emit tray->systemTrayIcon()->activated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isVisible() && !window.isMinimized());
    QVERIFY(QTest::qWaitForWindowActive(&window));

    choose(tray, QStringLiteral("断开"));
    QTRY_COMPARE_WITH_TIMEOUT(controller->status(), FrpcManager::Stopped, 15000);
    QCOMPARE(tray->look(), TunnelTrayIcon::Idle);
    QCOMPARE(image(tray->systemTrayIcon()->icon()), idle);
    QCOMPARE(tray->systemTrayIcon()->toolTip(), QStringLiteral("Marrowgate\n连接状态: ● 未连接"));
    QCOMPARE(toldItRuns(), 1);

    // With no tunnel, closing ends the window as ever.
    QVERIFY(window.close());
    QVERIFY(!window.isVisible());
}

int main(int argc, char *argv[])
{
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return 1;
    TestSupport::isolateUserFiles(sandbox.path());
    TrayHost host;
    if (!host.startBus()) {
        qWarning("dbus-daemon (package dbus-daemon) does not start");
        return 1;
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Halvorn"));
        QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));
        if (!host.serve())
            return 1;
        TestTrayIcon tc(&host);
        QTEST_SET_MAIN_SOURCE_PATH
        result = QTest::qExec(&tc, argc, argv);
        host.stop();
    }
    return result;
}
#include "tst_trayicon.moc"
