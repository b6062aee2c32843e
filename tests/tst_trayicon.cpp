#include "testsupport.h"
#include "trayhost.h"

#include "trayicon.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMenu>
#include <QSignalSpy>
#include <QWidget>

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

private:
    static QImage image(const QIcon &icon) { return icon.pixmap(32, 32).toImage(); }

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
