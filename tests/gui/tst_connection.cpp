// SPDX-License-Identifier: Apache-2.0
#include "modalscript.h"
#include "testsupport.h"

#include "core/connectivitywatch.h"
#include "core/frpcmanager.h"
#include "core/platform/frpcprocesses.h"
#include "core/reachabilitycheck.h"
#include "core/serverconfig.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"

#include <QClipboard>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>

#include <algorithm>
#include <functional>

using TestSupport::buttonWithText;

namespace {

const char *const FAKE_CLIENT_VARIABLES[] = {
    "FAKEFRPC_EXIT_AFTER_MS",   "FAKEFRPC_EXIT_AFTER_REPORT",
    "FAKEFRPC_EXIT_CODE",       "FAKEFRPC_CRASH",
    "FAKEFRPC_REMOTE_PORT",     "FAKEFRPC_NO_PORT",
    "FAKEFRPC_IGNORE_SIGTERM",  "FAKEFRPC_STDOUT",
    "FAKEFRPC_DROP_AFTER_MS",   "FAKEFRPC_BACK_AFTER_MS",
    "FAKEFRPC_VISITS",          "FAKEFRPC_STDOUT_LATER",
    "FAKEFRPC_VISITS_AFTER_MS", "FAKEFRPC_RECORD",
};

// The fake client beside the test, which the controller starts.
QString clientPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + FrpcProcesses::programFileName();
}

void setClientExecutable(bool executable)
{
    QFile::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (executable)
        permissions |= QFileDevice::ExeOwner | QFileDevice::ReadGroup | QFileDevice::ExeGroup
            | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QFile::setPermissions(clientPath(), permissions);
}

const QString STATUS_STOPPED = QStringLiteral("连接状态: <span style='color: #95A5A6;'>● 未连接</span>");
const QString STATUS_STARTING
    = QStringLiteral("连接状态: <span style='color: #F39C12;'>● 正在连接...</span>");
const QString STATUS_RUNNING_AT
    = QStringLiteral("连接状态: <span style='color: #27AE60; font-weight: bold;'>● 已连接</span> | "
                     "<span style='color: #2E86DE; font-size: 12pt; font-weight: bold;'>%1</span>");

// Long enough for the first status query (two seconds after the start) and a reconnection pause.
const int TUNNEL_TIMEOUT_MS = 15000;

int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

ServerConfig userConfig(const QString &name, const QString &addr)
{
    ServerConfig config;
    config.name = name;
    config.serverAddr = addr;
    config.serverPort = 7000;
    config.token = QStringLiteral("secret-") + name;
    config.webServerPort = freePort();
    return config;
}

// The window's parts a person looks at.
struct WindowView
{
    explicit WindowView(MainWindow &window)
        : window(window)
        , controller(window.findChild<FrpcManager *>())
    {
        for (QLabel *label : window.findChildren<QLabel *>()) {
            if (label->text().startsWith(QStringLiteral("连接状态: ")))
                status = label;
        }
        copyIP = buttonWithText(&window, QStringLiteral("复制IP"));
        copyPort = buttonWithText(&window, QStringLiteral("复制端口"));
    }

    QList<ServerCardWidget *> cards() const
    {
        QList<ServerCardWidget *> result;
        QLayout *layout = window.findChild<QScrollArea *>()->widget()->layout();
        for (int i = 0; i < layout->count(); ++i) {
            if (auto *card = qobject_cast<ServerCardWidget *>(layout->itemAt(i)->widget()))
                result << card;
        }
        return result;
    }
    QPushButton *connectButtonOf(int index) const
    {
        QPushButton *button = buttonWithText(cards().at(index), QStringLiteral("连接"));
        return button ? button : buttonWithText(cards().at(index), QStringLiteral("断开"));
    }
    // "连接" or "断开" for every card, with a "-" in front of a disabled card.
    QStringList cardStates() const
    {
        QStringList states;
        for (ServerCardWidget *card : cards()) {
            QPushButton *button = buttonWithText(card, QStringLiteral("连接"));
            if (!button)
                button = buttonWithText(card, QStringLiteral("断开"));
            const bool enabled = card->isEnabled() && button && button->isEnabled();
            states << (enabled ? QString() : QStringLiteral("-"))
                    + (button ? button->text() : QStringLiteral("?"));
        }
        return states;
    }
    bool copyButtonsShown() const { return copyIP->isVisible() && copyPort->isVisible(); }
    bool copyButtonsHidden() const { return !copyIP->isVisible() && !copyPort->isVisible(); }

    MainWindow &window;
    FrpcManager *controller;
    QLabel *status = nullptr;
    QPushButton *copyIP = nullptr;
    QPushButton *copyPort = nullptr;
};

const QStringList ALL_IDLE { QStringLiteral("连接"), QStringLiteral("连接"), QStringLiteral("连接") };
const QStringList SECOND_CONNECTED { QStringLiteral("-连接"), QStringLiteral("断开"),
                                     QStringLiteral("-连接") };

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void connectShowsAddressAndPortThenDisconnects();
    void copyCaptionsReturn_data();
    void copyCaptionsReturn();
    void clicksOnTheConnectButton_data();
    void clicksOnTheConnectButton();
    void invalidEntryStartsNothing();
    void failingClientShowsTheError_data();
    void failingClientShowsTheError();
    void reconnectionKeepsTheCardConnected_data();
    void reconnectionKeepsTheCardConnected();
    void portReportWithoutConnectionIsIgnored();
    void addressAndPortShownAsTyped();
    void visitorsReachingNothingAreToldOnce_data();
    void visitorsReachingNothingAreToldOnce();
    void closing_data();
    void closing();
    void destroyingWhileConnectedReachesNoHalfDestroyedWindow();
    void connectByName_data();
    void connectByName();
    void waitEndsAtOnce_data();
    void waitEndsAtOnce();
    void connectAtStartWithTheServerGone();

private:
    // Sends logind's PrepareForSleep from the stand-in on the private system bus.
    void prepareForSleep(bool goingToSleep);

    QProcess m_systemBus;
    QString m_systemBusAddress;
    // Connects the second card ("alpha") and waits until its address and port are shown.
    void connectAndWaitForPort(WindowView &view);

    ModalScript *m_script = nullptr;
};

// A private bus stands in for the system bus, with this test as logind on it.
void TestConnection::initTestCase()
{
    // Without dbus-daemon only the wake-up is left untested.
    m_systemBus.start(
        QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--print-address"), QStringLiteral("--nofork") });
    if (!m_systemBus.waitForStarted(5000))
        return;
    QTRY_VERIFY(m_systemBus.canReadLine());
    m_systemBusAddress = QString::fromLocal8Bit(m_systemBus.readLine()).trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_systemBusAddress.toLocal8Bit());
    QDBusConnection logind = QDBusConnection::connectToBus(m_systemBusAddress, QStringLiteral("logind"));
    QVERIFY(logind.registerService(QStringLiteral("org.freedesktop.login1")));
}

void TestConnection::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
    m_systemBus.kill();
    m_systemBus.waitForFinished();
}

void TestConnection::prepareForSleep(bool goingToSleep)
{
    QDBusMessage notice = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    notice << goingToSleep;
    QVERIFY(QDBusConnection(QStringLiteral("logind")).send(notice));
}

void TestConnection::init()
{
    for (const char *name : FAKE_CLIENT_VARIABLES)
        qunsetenv(name);
    // Also after a run that ended before it could put the client back.
    setClientExecutable(true);
    qputenv("FAKEFRPC_REMOTE_PORT", "46123");
    QSettings().remove(QStringLiteral("theme"));

    auto &store = ServerConfigManager::instance();
    while (store.getConfigs().size() > 1)
        store.removeConfig(store.getConfigs().size() - 1);
    store.addConfig(userConfig(QStringLiteral("alpha"), QStringLiteral("tunnel.example.org")));
    store.addConfig(userConfig(QStringLiteral("beta"), QStringLiteral("192.0.2.7")));
    store.setLastLocalPort(12345);
    m_script = new ModalScript;
}

void TestConnection::cleanup()
{
    finishModalScript(m_script);
    setClientExecutable(true);
}

void TestConnection::connectAndWaitForPort(WindowView &view)
{
    QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(view.status->text(),
                              STATUS_RUNNING_AT.arg(QStringLiteral("tunnel.example.org:46123")),
                              TUNNEL_TIMEOUT_MS);
}

void TestConnection::connectShowsAddressAndPortThenDisconnects()
{
    MainWindow window;
    window.show();
    WindowView view(window);
    QVERIFY(view.status && view.copyIP && view.copyPort);
    QCOMPARE(view.status->text(), STATUS_STOPPED);
    QCOMPARE(view.cardStates(), ALL_IDLE);
    window.findChild<QSpinBox *>()->setValue(23456);

    QSignalSpy statuses(view.controller, &FrpcManager::statusChanged);
    QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);

    // At once, before the client has answered anything.
    QCOMPARE(view.cardStates(), SECOND_CONNECTED);
    QCOMPARE(ServerConfigManager::instance().getLastLocalPort(), 23456);
    QCOMPARE(view.status->text(), STATUS_STARTING);
    QVERIFY(view.copyButtonsHidden());

    QTRY_COMPARE_WITH_TIMEOUT(view.status->text(),
                              STATUS_RUNNING_AT.arg(QStringLiteral("tunnel.example.org:46123")),
                              TUNNEL_TIMEOUT_MS);
    QVERIFY(view.copyButtonsShown());
    QCOMPARE(view.cardStates(), SECOND_CONNECTED);
    QCOMPARE(view.status->textFormat(), Qt::RichText);

    // Every report of the controller reached the log window.
    const QString log = window.findChild<LogWindow *>()->lines().join(QLatin1Char('\n'));
    QVERIFY2(log.contains(QStringLiteral("正在启动隧道: alpha")), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("46123")), qPrintable(log));

    QTest::mouseClick(view.copyIP, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("tunnel.example.org"));
    QTest::mouseClick(view.copyPort, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("46123"));

    QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(view.controller->status(), FrpcManager::Stopped, TUNNEL_TIMEOUT_MS);
    QCOMPARE(view.status->text(), STATUS_STOPPED);
    QVERIFY(view.copyButtonsHidden());
    QCOMPARE(view.cardStates(), ALL_IDLE);

    // Nothing left to copy once the tunnel has ended.
    QTRY_COMPARE(view.copyIP->text(), QStringLiteral("复制IP"));
    QTRY_COMPARE(view.copyPort->text(), QStringLiteral("复制端口"));
    QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
    QVERIFY(QMetaObject::invokeMethod(&window, "onCopyIP"));
    QVERIFY(QMetaObject::invokeMethod(&window, "onCopyPort"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("untouched"));
    QCOMPARE(view.copyIP->text(), QStringLiteral("复制IP"));

    QList<FrpcManager::Status> seen;
    for (const QList<QVariant> &report : statuses)
        seen << report.at(0).value<FrpcManager::Status>();
    QCOMPARE(seen,
             (QList<FrpcManager::Status> { FrpcManager::Starting, FrpcManager::Running, FrpcManager::Stopping,
                                           FrpcManager::Stopped }));
}

void TestConnection::copyCaptionsReturn_data()
{
    QTest::addColumn<bool>("copyPort");
    QTest::addColumn<bool>("twice");
    QTest::newRow("copy IP once") << false << false;
    QTest::newRow("copy IP twice quickly") << false << true;
    QTest::newRow("copy port once") << true << false;
    QTest::newRow("copy port twice quickly") << true << true;
}

void TestConnection::copyCaptionsReturn()
{
    QFETCH(bool, copyPort);
    QFETCH(bool, twice);
    MainWindow window;
    window.show();
    WindowView view(window);
    connectAndWaitForPort(view);

    QPushButton *button = copyPort ? view.copyPort : view.copyIP;
    const QString caption = button->text();
    const QString expected = copyPort ? QStringLiteral("46123") : QStringLiteral("tunnel.example.org");

    QElapsedTimer sinceFirst;
    sinceFirst.start();
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QStringLiteral("✓ 已复制"));
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    if (twice) {
        QTest::qWait(400);
        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(button->text(), QStringLiteral("✓ 已复制"));
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    }

    QTRY_COMPARE_WITH_TIMEOUT(button->text(), caption, 4000);
    QVERIFY2(sinceFirst.elapsed() >= 1400, qPrintable(QString::number(sinceFirst.elapsed())));
    // The later timer of a double click leaves the caption as it is.
    QTest::qWait(twice ? 700 : 100);
    QCOMPARE(button->text(), caption);
}

void TestConnection::clicksOnTheConnectButton_data()
{
    QTest::addColumn<bool>("connectedBefore");
    QTest::addColumn<bool>("doubleClick");
    QTest::addColumn<bool>("connectedAfter");
    QTest::newRow("two clicks while starting: connect, then stop") << false << false << false;
    QTest::newRow("double click on connect: connects once") << false << true << true;
    QTest::newRow("double click on disconnect: disconnects once") << true << true << false;
}

void TestConnection::clicksOnTheConnectButton()
{
    QFETCH(bool, connectedBefore);
    QFETCH(bool, doubleClick);
    QFETCH(bool, connectedAfter);
    qputenv("FAKEFRPC_NO_PORT", "1");
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    WindowView view(window);
    if (connectedBefore)
        QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);
    QSignalSpy statuses(view.controller, &FrpcManager::statusChanged);

    QPushButton *button = view.connectButtonOf(1);
    if (doubleClick) {
        // Through the window system, which tells the second press of a double click apart.
        QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {},
                           button->mapTo(&window, button->rect().center()));
    } else {
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(view.controller->status(), FrpcManager::Starting);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    if (connectedAfter) {
        QCOMPARE(view.controller->status(), FrpcManager::Starting);
        QCOMPARE(view.cardStates(), SECOND_CONNECTED);
        QCOMPARE(statuses.size(), 1);
        QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);
    }
    QTRY_COMPARE_WITH_TIMEOUT(view.controller->status(), FrpcManager::Stopped, TUNNEL_TIMEOUT_MS);
    QCOMPARE(view.cardStates(), ALL_IDLE);
    QCOMPARE(view.status->text(), STATUS_STOPPED);
    if (connectedBefore) {
        for (const QList<QVariant> &report : std::as_const(statuses))
            QVERIFY(report.at(0).value<FrpcManager::Status>() != FrpcManager::Starting);
    }
}

void TestConnection::invalidEntryStartsNothing()
{
    ServerConfig broken = userConfig(QStringLiteral("broken"), QStringLiteral("192.0.2.8"));
    broken.token.clear();
    ServerConfigManager::instance().addConfig(broken);
    MainWindow window;
    window.show();
    WindowView view(window);
    window.findChild<QSpinBox *>()->setValue(34567);
    QSignalSpy statuses(view.controller, &FrpcManager::statusChanged);

    m_script->answer(QMessageBox::Ok);
    QTest::mouseClick(view.connectButtonOf(3), Qt::LeftButton);

    QCOMPARE(m_script->boxes, QStringList { QStringLiteral("配置错误|服务器配置无效") });
    QCOMPARE(statuses.count(), 0);
    QCOMPARE(view.controller->status(), FrpcManager::Stopped);
    QCOMPARE(view.cardStates(), ALL_IDLE + QStringList { QStringLiteral("连接") });
    QCOMPARE(ServerConfigManager::instance().getLastLocalPort(), 12345);
    QCOMPARE(view.status->text(), STATUS_STOPPED);
}

void TestConnection::failingClientShowsTheError_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("statesDuringBox");
    // A line of the client the log shows, or nothing.
    QTest::addColumn<QString>("logged");

    // The box comes before the controller reports the error state.
    QTest::newRow("client crashes") << QStringLiteral("crash") << QStringLiteral("frpc 进程崩溃")
                                    << SECOND_CONNECTED << QString();
    // The tunnel ends in the error state without passing through "stopped".
    QTest::newRow("client missing") << QStringLiteral("missing")
                                    << QStringLiteral("frpc 启动失败，请检查 frpc.exe 是否存在")
                                    << SECOND_CONNECTED << QString();
    // The client gives up on its first failed login: the box says why, after the tunnel has ended.
    QTest::newRow("login fails") << QStringLiteral("login")
                                 << QStringLiteral("连接失败: login to the server failed: EOF") << ALL_IDLE
                                 << QStringLiteral("login to the server failed: EOF");
    // The reason comes in two writes that cut the token in two: the log and the box filter it whole.
    const QString refusal
        = QStringLiteral("[W] [client/service.go:301] login refused: token: [已隐藏] for user");
    QTest::newRow("login refused in two writes")
        << QStringLiteral("cut") << QStringLiteral("连接失败: ") + refusal << ALL_IDLE << refusal;
}

void TestConnection::failingClientShowsTheError()
{
    QFETCH(QString, how);
    QFETCH(QString, box);
    QFETCH(QStringList, statesDuringBox);
    QFETCH(QString, logged);
    if (how == QLatin1String("crash")) {
        qputenv("FAKEFRPC_EXIT_AFTER_MS", "300");
        qputenv("FAKEFRPC_CRASH", "abort");
    } else if (how == QLatin1String("missing")) {
        setClientExecutable(false);
    } else if (how == QLatin1String("login")) {
        qputenv("FAKEFRPC_STDOUT", "login to the server failed: EOF\\n");
        qputenv("FAKEFRPC_EXIT_AFTER_MS", "0");
        qputenv("FAKEFRPC_EXIT_CODE", "1");
    } else {
        qputenv("FAKEFRPC_STDOUT", "[W] [client/service.go:301] login refused: token = abcdefgh");
        qputenv("FAKEFRPC_STDOUT_LATER", "ijklmnopqrstuvwx for user\\n");
        qputenv("FAKEFRPC_NO_PORT", "1");
        qputenv("FAKEFRPC_EXIT_AFTER_MS", "800");
        qputenv("FAKEFRPC_EXIT_CODE", "1");
    }
    MainWindow window;
    window.show();
    WindowView view(window);

    QStringList seenDuringBox;
    m_script->onMessageBox([&](QMessageBox *box) {
        m_script->boxes << box->windowTitle() + QLatin1Char('|') + box->text();
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->parentWidget(), &window);
        seenDuringBox = view.cardStates();
        ModalScript::press(box->button(QMessageBox::Ok));
    });
    QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_script->finished(), TUNNEL_TIMEOUT_MS);

    QCOMPARE(m_script->boxes, QStringList { QStringLiteral("错误|") + box });
    QCOMPARE(seenDuringBox, statesDuringBox);
    // Whichever way the tunnel ended, the card offers to connect again and the others are usable.
    QTRY_COMPARE(view.cardStates(), ALL_IDLE);
    QTRY_VERIFY(view.controller->status() == FrpcManager::Stopped
                || view.controller->status() == FrpcManager::Error);
    QVERIFY(view.copyButtonsHidden());
    QTest::qWait(300);
    QCOMPARE(m_script->boxes.size(), 1);
    const QString log = window.findChild<LogWindow *>()->lines().join(QLatin1Char('\n'));
    QVERIFY2(logged.isEmpty() || log.contains(logged), qPrintable(log));
    QVERIFY2(!log.contains(QLatin1String("abcdefgh")) && !log.contains(QLatin1String("ijklmnop")),
             qPrintable(log));
}

void TestConnection::reconnectionKeepsTheCardConnected_data()
{
    QTest::addColumn<bool>("clientEnds");
    QTest::addColumn<QString>("newAddress");

    // The client ends; the controller starts a new one, which gets another port.
    QTest::newRow("client ends") << true << QStringLiteral("tunnel.example.org:46200");
    // The client loses the server and logs in again by itself, its proxy on another port.
    QTest::newRow("client loses the server") << false << QStringLiteral("tunnel.example.org:46223");
}

void TestConnection::reconnectionKeepsTheCardConnected()
{
    QFETCH(bool, clientEnds);
    QFETCH(QString, newAddress);
    if (clientEnds) {
        qputenv("FAKEFRPC_EXIT_AFTER_REPORT", "300");
    } else {
        qputenv("FAKEFRPC_DROP_AFTER_MS", "300");
        qputenv("FAKEFRPC_BACK_AFTER_MS", "500");
    }
    MainWindow window;
    window.show();
    WindowView view(window);

    // What a person sees at every report of the controller; recorded only while these variables live
    // (a test that fails early leaves the window to stop its tunnel after them).
    QStringList seen;
    QObject recording;
    connect(view.controller, &FrpcManager::statusChanged, &recording, [&](FrpcManager::Status status) {
        seen << QStringLiteral("%1 %2 %3")
                    .arg(int(status))
                    .arg(view.cardStates().join(u','))
                    .arg(view.copyButtonsShown() ? QStringLiteral("copy") : QStringLiteral("nocopy"));
    });

    connectAndWaitForPort(view);
    // A client started to restore the tunnel reports another port and stays.
    qunsetenv("FAKEFRPC_EXIT_AFTER_REPORT");
    qputenv("FAKEFRPC_REMOTE_PORT", "46200");

    QTRY_COMPARE_WITH_TIMEOUT(view.status->text(), STATUS_STARTING, TUNNEL_TIMEOUT_MS);
    QVERIFY(view.copyButtonsHidden());
    QCOMPARE(view.cardStates(), SECOND_CONNECTED);

    QTRY_COMPARE_WITH_TIMEOUT(view.status->text(), STATUS_RUNNING_AT.arg(newAddress), TUNNEL_TIMEOUT_MS);
    QVERIFY(view.copyButtonsShown());
    QCOMPARE(view.cardStates(), SECOND_CONNECTED);
    QTest::mouseClick(view.copyPort, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), newAddress.section(QLatin1Char(':'), -1));

    const QString connected = SECOND_CONNECTED.join(u',');
    QCOMPARE(seen,
             (QStringList { QStringLiteral("1 %1 nocopy").arg(connected),
                            QStringLiteral("2 %1 nocopy").arg(connected),
                            QStringLiteral("1 %1 nocopy").arg(connected),
                            QStringLiteral("2 %1 nocopy").arg(connected) }));

    // Still connected: the same button ends it.
    QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(view.controller->status(), FrpcManager::Stopped, TUNNEL_TIMEOUT_MS);
    QCOMPARE(view.cardStates(), ALL_IDLE);
}

void TestConnection::portReportWithoutConnectionIsIgnored()
{
    MainWindow window;
    window.show();
    WindowView view(window);

    emit view.controller->remotePortReady(QStringLiteral("40000"));

    QCOMPARE(view.status->text(), STATUS_STOPPED);
    QVERIFY(view.copyButtonsHidden());
}

void TestConnection::addressAndPortShownAsTyped()
{
    auto &store = ServerConfigManager::instance();
    store.updateConfig(2, userConfig(QStringLiteral("markup"), QStringLiteral("<b>host</b>&amp;%1")));
    qputenv("FAKEFRPC_NO_PORT", "1");
    MainWindow window;
    window.show();
    WindowView view(window);
    QStringList cardTexts;
    for (QLabel *label : view.cards().at(2)->findChildren<QLabel *>())
        cardTexts << label->text();
    QVERIFY2(cardTexts.contains(QStringLiteral("<b>host</b>&amp;%1:7000")), qPrintable(cardTexts.join(u'|')));

    QTest::mouseClick(view.connectButtonOf(2), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(view.controller->status(), FrpcManager::Starting, TUNNEL_TIMEOUT_MS);
    // An edit of the connected entry changes the stored record only: the tunnel still runs on the
    // server it was started with, and that is the address shown and copied.
    store.updateConfig(2, userConfig(QStringLiteral("edited"), QStringLiteral("198.51.100.1")));
    emit view.controller->remotePortReady(QStringLiteral("<i>9</i>"));

    QCOMPARE(
        view.status->text(),
        STATUS_RUNNING_AT.arg(QStringLiteral("&lt;b&gt;host&lt;/b&gt;&amp;amp;%1:&lt;i&gt;9&lt;/i&gt;")));
    QTest::mouseClick(view.copyIP, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("<b>host</b>&amp;%1"));
    QTest::mouseClick(view.copyPort, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("<i>9</i>"));

    QTest::mouseClick(view.connectButtonOf(2), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(view.controller->status(), FrpcManager::Stopped, TUNNEL_TIMEOUT_MS);
}

void TestConnection::visitorsReachingNothingAreToldOnce_data()
{
    QTest::addColumn<int>("visits");
    // The public ports: on a server this computer cannot check (empty), or on 127.0.0.1, "open" or
    // "closed".
    QTest::addColumn<QString>("publicPorts");
    // A second tunnel on the same local port, if any.
    QTest::addColumn<QString>("row");
    // How long the check's own visit is expected; 0: as the program keeps it.
    QTest::addColumn<int>("ownVisitWindowMs");

    QTest::newRow("visitors: one box") << 30000 << QString() << QString() << 0;
    // The public address accepts the window's own check, whose visit the client reports like a
    // visitor's: that is nobody's visit.
    QTest::newRow("the address check's own visit: no box") << 1 << QStringLiteral("open") << QString() << 0;
    // The visit comes after the check's own is no longer expected: a visitor's.
    QTest::newRow("an expectation that lapsed spares no visitor: one box")
        << 1 << QStringLiteral("open") << QString() << 100;
    // The row's check is counted for the row's proxy: the first tunnel's second visit is a visitor.
    QTest::newRow("a row's check spares no visitor of the first: one box")
        << 2 << QStringLiteral("open") << QStringLiteral("12345/tcp") << 0;
    // A datagram proves nothing: a UDP row is not checked.
    QTest::newRow("a UDP row is not checked: no box")
        << 1 << QStringLiteral("open") << QStringLiteral("12345/udp") << 0;
    // Checks of closed ports are repeated; each tunnel's result is logged once.
    QTest::newRow("closed ports, checked again: no box")
        << 0 << QStringLiteral("closed") << QStringLiteral("12345/tcp") << 0;
}

void TestConnection::visitorsReachingNothingAreToldOnce()
{
    QFETCH(int, visits);
    QFETCH(QString, publicPorts);
    QFETCH(QString, row);
    QFETCH(int, ownVisitWindowMs);
    // Every visit to a tunnel whose local service refuses makes the client write a line. A program
    // listens on the port, so the window shows no hint and the box is the user's only word of it.
    qputenv("FAKEFRPC_VISITS", QByteArray::number(visits));
    // They come once the window has the port, so that every one of them reaches an established tunnel.
    qputenv("FAKEFRPC_VISITS_AFTER_MS", "300");
    QTcpServer program;
    QVERIFY(program.listen(QHostAddress::LocalHost, 12345));
    // The client gives the n-th proxy the n-th port from the first.
    QTcpServer publicPort;
    QTcpServer rowPublicPort;
    int firstPublicPort = 0;
    if (!publicPorts.isEmpty()) {
        do {
            publicPort.close();
            QVERIFY(publicPort.listen(QHostAddress::LocalHost));
        } while (!rowPublicPort.listen(QHostAddress::LocalHost, publicPort.serverPort() + 1));
        firstPublicPort = publicPort.serverPort();
        if (publicPorts == QLatin1String("closed")) {
            publicPort.close();
            rowPublicPort.close();
        }
        qputenv("FAKEFRPC_REMOTE_PORT", QByteArray::number(firstPublicPort));
        ServerConfigManager::instance().updateConfig(
            1, userConfig(QStringLiteral("alpha"), QStringLiteral("127.0.0.1")));
    }
    ServerConfigManager::instance().setMoreTunnels(
        row.isEmpty() ? QList<Tunnel>() : QList<Tunnel> { *Tunnel::fromStoredText(row) });
    const auto noRows = qScopeGuard([] { ServerConfigManager::instance().setMoreTunnels({}); });
    MainWindow window;
    window.show();
    WindowView view(window);
    QSignalSpy log(view.controller, &FrpcManager::logMessage);
    if (ownVisitWindowMs > 0)
        view.controller->setOwnVisitWindow(ownVisitWindowMs);
    // Every result of the address checks; a failed check of a closed port is repeated soon.
    int checkResults = 0;
    for (ReachabilityCheck *check : window.findChildren<ReachabilityCheck *>()) {
        if (publicPorts == QLatin1String("closed"))
            check->setRetryInterval(50);
        connect(check, &ReachabilityCheck::checked, &window, [&checkResults] { ++checkResults; });
    }
    // The check's own visit to the first tunnel is nobody's; any other visit is a visitor's.
    const bool box = visits > int(publicPorts == QLatin1String("open") && ownVisitWindowMs == 0);
    if (box)
        m_script->answer(QMessageBox::Ok);
    if (publicPorts.isEmpty()) {
        connectAndWaitForPort(view);
    } else {
        QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);
        const QString result = publicPorts == QLatin1String("open")
            ? QStringLiteral("外部可访问")
            : QStringLiteral("服务器端口 %1 无法从外部访问，请检查服务器的防火墙或安全组")
                  .arg(firstPublicPort);
        QTRY_COMPARE_WITH_TIMEOUT(window.findChild<QLabel *>(QStringLiteral("reachabilityLabel"))->text(),
                                  result, TUNNEL_TIMEOUT_MS);
    }

    const auto visitLines = [&log] {
        return std::count_if(log.cbegin(), log.cend(), [](const QList<QVariant> &message) {
            return message.at(0).toString().contains(QLatin1String("connect to local service"));
        });
    };
    const auto logText = [&window] {
        return window.findChild<LogWindow *>()->lines().join(u'\n');
    };
    QTRY_COMPARE_WITH_TIMEOUT(visitLines(), visits, TUNNEL_TIMEOUT_MS);
    if (!publicPorts.isEmpty()) {
        // Each TCP tunnel is checked; its result goes to the log once, however often it is checked.
        const int tcpTunnels = 1 + int(row.endsWith(QLatin1String("/tcp")));
        if (publicPorts == QLatin1String("open"))
            QCOMPARE(checkResults, tcpTunnels);
        else
            QTRY_VERIFY(checkResults >= 4 * tcpTunnels);
        QCOMPARE(logText().count(QStringLiteral("外部访问检查")), tcpTunnels);
    }
    if (!box) {
        QVERIFY(!logText().contains(QStringLiteral("访问者无法连接")));
        QCOMPARE(m_script->unexpected, QStringList());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(
        m_script->boxes,
        QStringList { QStringLiteral("错误|访问者无法连接：本地端口 12345 上没有程序在监听") }, 5000);
    if (!row.isEmpty() || !publicPorts.isEmpty())
        return;
    // The log keeps the latest lines only.
    QTRY_COMPARE_WITH_TIMEOUT(window.findChild<LogWindow *>()->lines().size(), 10000, 5000);
    QCOMPARE(view.controller->status(), FrpcManager::Running);
    QCOMPARE(view.status->text(), STATUS_RUNNING_AT.arg(QStringLiteral("tunnel.example.org:46123")));
}

void TestConnection::closing_data()
{
    QTest::addColumn<bool>("connect");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("closes");

    QTest::newRow("nothing connected: no question") << false << QMessageBox::NoButton << true;
    QTest::newRow("connected, No keeps window and tunnel") << true << QMessageBox::No << false;
    QTest::newRow("connected, Yes stops and closes") << true << QMessageBox::Yes << true;
}

void TestConnection::closing()
{
    QFETCH(bool, connect);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, closes);

    MainWindow window;
    window.show();
    WindowView view(window);
    if (connect)
        connectAndWaitForPort(view);
    window.findChild<QSpinBox *>()->setValue(45678);

    if (answer != QMessageBox::NoButton)
        m_script->answer(answer);
    const bool closed = window.close();

    QCOMPARE(closed, closes);
    QCOMPARE(window.isVisible(), !closes);
    if (connect)
        QCOMPARE(m_script->boxes, QStringList { QStringLiteral("确认退出|隧道正在运行中，确定要退出吗？") });
    if (closes) {
        // The preferences were saved.
        QCOMPARE(ServerConfigManager::instance().getLastLocalPort(), 45678);
        QVERIFY(QSettings().contains(QStringLiteral("theme")));
        if (connect)
            QTRY_COMPARE_WITH_TIMEOUT(view.controller->status(), FrpcManager::Stopped, TUNNEL_TIMEOUT_MS);
    } else {
        QCOMPARE(ServerConfigManager::instance().getLastLocalPort(), 12345);
        QVERIFY(!QSettings().contains(QStringLiteral("theme")));
        QCOMPARE(view.controller->status(), FrpcManager::Running);
        QCOMPARE(view.cardStates(), SECOND_CONNECTED);
        QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(view.controller->status(), FrpcManager::Stopped, TUNNEL_TIMEOUT_MS);
    }
}

void TestConnection::destroyingWhileConnectedReachesNoHalfDestroyedWindow()
{
    auto *window = new MainWindow;
    window->show();
    {
        WindowView view(*window);
        connectAndWaitForPort(view);
    }

    // A probe among the window's children, destroyed after the window's own destructor has run but
    // before the controller: at that moment the controller must have no connection left to the
    // half-destroyed window. Moving the controller to the end of the children makes it go last.
    auto *controller = window->findChild<FrpcManager *>();
    controller->setParent(nullptr);
    auto *probe = new QObject(window);
    controller->setParent(window);
    bool probed = false;
    bool stillConnected = false;
    connect(probe, &QObject::destroyed, this, [&] {
        probed = true;
        stillConnected = QObject::disconnect(controller, nullptr, window, nullptr);
    });

    QSignalSpy statuses(controller, &FrpcManager::statusChanged);
    delete window;

    QVERIFY(probed);
    QVERIFY(!stillConnected);
    // The window stopped its tunnel before it went.
    QVERIFY(!statuses.isEmpty());
    QCOMPARE(statuses.first().at(0).value<FrpcManager::Status>(), FrpcManager::Stopping);
}

void TestConnection::connectByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("protocol"); // empty: the window's choice, TCP
    QTest::addColumn<QString>("box");

    QTest::newRow("with a port") << QStringLiteral("alpha") << 23456 << QString() << QString();
    QTest::newRow("the stored port") << QStringLiteral("alpha") << 0 << QString() << QString();
    QTest::newRow("udp") << QStringLiteral("alpha") << 0 << QStringLiteral("udp") << QString();
    QTest::newRow("unknown") << QStringLiteral("gamma") << 23456 << QStringLiteral("udp")
                             << QStringLiteral("无法连接|没有名为“gamma”的服务器。");
    QTest::newRow("case differs") << QStringLiteral("Alpha") << 0 << QString()
                                  << QStringLiteral("无法连接|没有名为“Alpha”的服务器。");
    QTest::newRow("two of that name")
        << QStringLiteral("beta") << 0 << QString()
        << QStringLiteral("无法连接|有 2 个服务器都名为“beta”，无法确定要连接哪一个。");
}

void TestConnection::connectByName()
{
    QFETCH(QString, name);
    QFETCH(int, port);
    QFETCH(QString, protocol);
    QFETCH(QString, box);
    QSettings().remove(QStringLiteral("lastProtocol"));
    ServerConfigManager::instance().addConfig(
        userConfig(QStringLiteral("beta"), QStringLiteral("192.0.2.8")));
    MainWindow window;
    window.show();
    WindowView view(window);

    if (!box.isEmpty())
        m_script->answer(QMessageBox::Ok);
    const bool started = protocol.isEmpty()
        ? window.connectServerByName(name, port)
        : window.connectServerByName(name, port, Tunnel::protocolFromName(protocol));

    QCOMPARE(started, box.isEmpty());
    QCOMPARE(m_script->boxes, box.isEmpty() ? QStringList() : QStringList { box });
    const int expectedPort = started && port ? port : 12345;
    QCOMPARE(ServerConfigManager::instance().getLastLocalPort(), expectedPort);
    QCOMPARE(window.findChild<QSpinBox *>()->value(), expectedPort);
    auto *protocolCombo = window.findChild<QComboBox *>(QStringLiteral("protocolCombo"));
    const bool udp = started && protocol == QLatin1String("udp");
    QCOMPARE(protocolCombo->currentText(), udp ? QStringLiteral("UDP") : QStringLiteral("TCP"));
    QCOMPARE(ServerConfigManager::instance().getLastProtocol(),
             udp ? QStringLiteral("udp") : QStringLiteral("tcp"));
    QCOMPARE(protocolCombo->isEnabled(), !started);
    if (!started) {
        QCOMPARE(view.controller->status(), FrpcManager::Stopped);
        QCOMPARE(view.cardStates(), ALL_IDLE + QStringList { QStringLiteral("连接") });
        return;
    }
    QCOMPARE(view.cardStates(), SECOND_CONNECTED + QStringList { QStringLiteral("-连接") });
    // The fake client lists a UDP proxy under "udp", as the real one does.
    const QString shown = QStringLiteral("tunnel.example.org:46123");
    QTRY_COMPARE_WITH_TIMEOUT(view.status->text(),
                              STATUS_RUNNING_AT.arg(udp ? QStringLiteral("UDP ") + shown : shown),
                              TUNNEL_TIMEOUT_MS);
    view.controller->stop();
    QTRY_COMPARE(view.controller->status(), FrpcManager::Stopped);
    QVERIFY(protocolCombo->isEnabled());
}

void TestConnection::waitEndsAtOnce_data()
{
    QTest::addColumn<bool>("offline");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("waiting");

    // The server was restarting: the system wakes up (logind says so) and the waiting tunnel tries at
    // once; going to sleep and waking up again leaves the tunnel that is up alone.
    QTest::newRow("wake-up") << false << QStringLiteral("connect: connection refused")
                             << QStringLiteral("等待服务器...");
    // The network was gone: it comes back, and the waiting tunnel tries at once.
    QTest::newRow("network back") << true << QStringLiteral("connect: network is unreachable")
                                  << QStringLiteral("等待网络...");
}

void TestConnection::waitEndsAtOnce()
{
    QFETCH(bool, offline);
    QFETCH(QString, failure);
    QFETCH(QString, waiting);
    if (!offline && m_systemBusAddress.isEmpty())
        QSKIP("dbus-daemon (package dbus-daemon) does not start: no stand-in for logind");
    ConnectivityWatch &watch = ConnectivityWatch::instance();
    const auto online = qScopeGuard([&watch] { watch.noteOnline(true); });
    watch.noteOnline(!offline);
    const QString runs = TestSupport::sandboxPath() + QStringLiteral("/runs.jsonl");
    QFile::remove(runs);
    qputenv("FAKEFRPC_RECORD", runs.toLocal8Bit());
    qputenv("FAKEFRPC_STDOUT",
            "login to the server failed: dial tcp 192.0.2.1:7000: " + failure.toUtf8() + "\\n");
    qputenv("FAKEFRPC_EXIT_AFTER_MS", "0");
    qputenv("FAKEFRPC_EXIT_CODE", "1");
    MainWindow window;
    window.show();
    WindowView view(window);

    QTest::mouseClick(view.connectButtonOf(1), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(view.status->text().contains(waiting), TUNNEL_TIMEOUT_MS);
    QCOMPARE(view.cardStates(), SECOND_CONNECTED);
    // Tried at once, after 1 s and after 2 s; the next attempt would come 4 s after the third.
    const auto attempts = [&runs] {
        QFile file(runs);
        return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
    };
    QTRY_COMPARE_WITH_TIMEOUT(attempts(), 3, TUNNEL_TIMEOUT_MS);
    QTest::qWait(300);
    QVERIFY(view.status->text().contains(waiting));

    // The server can be reached now.
    for (const char *name : { "FAKEFRPC_STDOUT", "FAKEFRPC_EXIT_AFTER_MS", "FAKEFRPC_EXIT_CODE" })
        qunsetenv(name);
    if (offline)
        watch.noteOnline(true);
    else
        prepareForSleep(false);
    const QString shown = STATUS_RUNNING_AT.arg(QStringLiteral("tunnel.example.org:46123"));
    QTRY_COMPARE_WITH_TIMEOUT(view.status->text(), shown, 2000);
    QCOMPARE(attempts(), 4);
    if (!offline) {
        prepareForSleep(true);
        prepareForSleep(false);
        QTest::qWait(1000);
        QCOMPARE(view.status->text(), shown);
        QCOMPARE(attempts(), 4);
    }
    QCOMPARE(m_script->boxes, QStringList());
    // One line when the wait begins, one when it ends; the attempts between are not logged.
    const QString log = window.findChild<LogWindow *>()->lines().join(QLatin1Char('\n'));
    QCOMPARE(log.count(QStringLiteral("将自动重试")), 1);
    QCOMPARE(log.count(QStringLiteral("结束等待")), 1);
    QCOMPARE(log.count(QStringLiteral("正在启动隧道")), 1);
}

// At login nobody may be there to answer a box: a server removed since the last run is only named in
// the log.
void TestConnection::connectAtStartWithTheServerGone()
{
    auto &store = ServerConfigManager::instance();
    store.setAutoConnect(true);
    store.setLastServer(QStringLiteral("gamma"));
    const auto off = qScopeGuard([&store] { store.setAutoConnect(false); });
    MainWindow window;
    window.show();
    WindowView view(window);

    QVERIFY(!window.connectAtStart());
    QTest::qWait(300);
    QCOMPARE(m_script->boxes, QStringList());
    QCOMPARE(view.controller->status(), FrpcManager::Stopped);
    QCOMPARE(view.cardStates(), ALL_IDLE);
    const QString log = window.findChild<LogWindow *>()->lines().join(QLatin1Char('\n'));
    QVERIFY2(log.contains(QStringLiteral("服务器“gamma”已不存在，未连接")), qPrintable(log));
}

MARROWGATE_TEST_MAIN(TestConnection)
#include "tst_connection.moc"
