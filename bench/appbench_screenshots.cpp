// SPDX-License-Identifier: Apache-2.0
// The whole-program benchmark's other mode: the window driven through its states for the README's
// pictures.
#include "appbench.h"

#include "core/frpcmanager.h"
#include "core/platform/singleinstance.h"
#include "core/serverconfig.h"
#include "core/sharecode.h"
#include "gui/joinedtunnels.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "gui/servercardwidget.h"
#include "gui/themestyles.h"
#include "gui/tunneltrayicon.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>

namespace AppBench {

// --- Screenshots ---------------------------------------------------------------------------------

bool save(QWidget *widget, const QString &folder, const QString &name)
{
    const QString path = folder + QLatin1Char('/') + name;
    const bool ok = widget->grab().save(path);
    say(QStringLiteral("%1 %2").arg(ok ? QStringLiteral("saved") : QStringLiteral("could not save"), path));
    return ok;
}

// The tray's menu as it pops up under a panel: a tray icon of the window's (this virtual screen has no
// tray to show it in) in the window's state, the panel with its icon painted above the grabbed menu.
bool saveTrayMenu(QWidget *window, QLabel *status, const QString &address, const QString &path)
{
    TunnelTrayIcon tray(window);
    tray.setState(TunnelTrayIcon::Connected, QTextDocumentFragment::fromHtml(status->text()).toPlainText(),
                  address);
    QMenu *menu = tray.menu();
    menu->popup(QPoint(40, 60));
    spin(300);
    if (!menu->isVisible())
        return false;
    menu->setActiveAction(menu->actions().first());
    spin(100);
    const QRect area = menu->frameGeometry();
    const QPixmap grabbed
        = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    menu->close();

    const int margin = 40;
    const int panelHeight = 32;
    QPixmap picture(area.width() + 2 * margin, panelHeight + 6 + area.height() + margin);
    picture.fill(QColor(0xDF, 0xE6, 0xE9));
    QPainter painter(&picture);
    painter.fillRect(0, 0, picture.width(), panelHeight, QColor(0x2C, 0x3E, 0x50));
    const int iconSize = 22;
    TunnelTrayIcon::iconFor(TunnelTrayIcon::Connected)
        .paint(&painter, QRect(margin + 4, (panelHeight - iconSize) / 2, iconSize, iconSize));
    painter.drawPixmap(margin, panelHeight + 6, grabbed);
    painter.end();
    const bool saved = picture.save(path);
    say(QStringLiteral("%1 %2").arg(saved ? QStringLiteral("saved") : QStringLiteral("could not save"),
                                    path));
    return saved;
}

// The demonstration servers lie in the documentation ranges, which nobody answers from: the cards of
// the first ones are given round trips as reachable servers would have them; the last one keeps what
// was measured (its name is not found).
void showDemoRoundTrips(QWidget *window)
{
    const int demoTimes[] = { 8, 38, 61 };
    for (ServerCardWidget *card : window->findChildren<ServerCardWidget *>()) {
        if (card->getIndex() < int(std::size(demoTimes)))
            card->setLatency(demoTimes[card->getIndex()]);
    }
    spin(200);
}

bool saveWindow(QWidget *window, const QString &folder, const QString &name)
{
    showDemoRoundTrips(window);
    return save(window, folder, name);
}

// The check of the demonstration tunnel's public address fails by itself: the warning is shown as it
// comes. The connected picture then shows the address as a reachable one would be.
bool saveReachability(QWidget *window, const QString &folder, const QString &name)
{
    auto *reachability = window->findChild<QLabel *>(QStringLiteral("reachabilityLabel"));
    QElapsedTimer waited;
    waited.start();
    while (reachability && !reachability->isVisible() && waited.elapsed() < 5000)
        spin(100);
    if (!reachability || !reachability->isVisible())
        return false;
    const bool saved = saveWindow(window, folder, name);
    reachability->setText(QStringLiteral("外部可访问"));
    reachability->setStyleSheet(ThemeStyles::successHintSheet());
    return saved;
}

int takeScreenshots(const QString &folder)
{
    QDir().mkpath(folder);
    prepareStore();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/main.png")));
    if (!QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/frpc")).isExecutable()) {
        say(QStringLiteral("the fake frpc is not beside this program"));
        return 1;
    }
    // The pointer rests outside the window, so that no card shows its hover border.
    QCursor::setPos(QGuiApplication::primaryScreen()->geometry().bottomRight());
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    auto *theme = window.findChild<QComboBox *>(QStringLiteral("themeCombo"));
    QLabel *status = statusLabel(&window);
    bool ok = true;
    const QString demoAddress = QStringLiteral("%1:46000").arg(QLatin1String(kDemoServers[0].address));

    auto connected = [&](const QString &name, const QString &warningName) {
        if (clickUntilShown(cardButton(&window, kDemoIndex, QStringLiteral("连接")), status, demoAddress) < 0)
            return false;
        spin(300);
        const bool warned = warningName.isEmpty() || saveReachability(&window, folder, warningName);
        return saveWindow(&window, folder, name) && warned;
    };
    auto disconnect = [&] {
        return clickUntilShown(cardButton(&window, kDemoIndex, QStringLiteral("断开")), status,
                               QStringLiteral("未连接"))
            >= 0;
    };

    for (int dark = 0; dark < 2; ++dark) {
        theme->setCurrentIndex(dark);
        spin(500);
        const QString suffix = dark ? QStringLiteral("dark") : QStringLiteral("light");
        ok &= saveWindow(&window, folder, QStringLiteral("main-%1.png").arg(suffix));
        ok &= connected(QStringLiteral("connected-%1.png").arg(suffix),
                        QStringLiteral("reachability-%1.png").arg(suffix));

        // The log window, with the lines of this connection.
        QTest::mouseClick(buttonWithText(&window, QStringLiteral("查看日志")), Qt::LeftButton);
        spin(500);
        if (auto *log = window.findChild<LogWindow *>(); log && log->isVisible()) {
            ok &= save(log, folder, QStringLiteral("log-%1.png").arg(suffix));
            log->hide();
        } else {
            ok = false;
        }
        ok &= disconnect();

        // Three tunnels: a game's TCP and UDP on one public port, its voice chat, a web server.
        const Tunnel first = window.tunnels().first();
        window.setTunnels(
            { { first.localPort, Tunnel::TcpUdp }, { 24454, Tunnel::Udp }, { 8080, Tunnel::Tcp } });
        spin(300);
        ok &= connected(QStringLiteral("tunnels-%1.png").arg(suffix), QString());
        ok &= disconnect();
        window.setTunnels({ first });

        // A port shared with friends only: no public address, the share code ready to copy.
        window.setTunnels({ { first.localPort, Tunnel::TcpUdp, true } });
        spin(300);
        if (clickUntilShown(cardButton(&window, kDemoIndex, QStringLiteral("连接")), status,
                            QStringLiteral("无公网端口"))
            >= 0) {
            if (auto *label = window.findChild<QLineEdit *>(QStringLiteral("shareLabelEdit")))
                label->setText(QStringLiteral("我的世界服务器"));
            spin(300);
            ok &= saveWindow(&window, folder, QStringLiteral("private-%1.png").arg(suffix));
        } else {
            ok = false;
        }
        ok &= disconnect();
        window.setTunnels({ first });

        // A friend's tunnel joined: the join dialog with the friend's code, then its row ready, carried
        // by the server's relay (the fake client says the direct path failed, as the real one does).
        ShareCode code;
        code.serverAddr = QLatin1String(kDemoServers[0].address);
        code.serverPort = 7000;
        code.token = QStringLiteral("demo-token");
        code.name = QStringLiteral("mc7f3k2q");
        code.protocol = Tunnel::TcpUdp;
        code.secretKey = QStringLiteral("Zq8vN3kLp0xR4tYw9bHc2A");
        code.hostPort = 25565;
        code.label = QStringLiteral("我的世界服务器");
        QTimer::singleShot(800, &window, [&] {
            if (QWidget *dialog = QApplication::activeModalWidget()) {
                ok &= save(dialog, folder, QStringLiteral("join-%1.png").arg(suffix));
                dialog->close();
            } else {
                ok = false;
            }
        });
        window.openJoinDialog(code.toText());
        qputenv("FAKEFRPC_STDOUT", "[mc7f3k2q-tcp] open tunnel error: open tunnel timeout\\n");
        window.joinTunnel(code.toText());
        qunsetenv("FAKEFRPC_STDOUT");
        if (auto *joined = window.findChild<JoinedTunnels *>(); joined && !joined->rows().isEmpty()) {
            JoinedTunnelRow *row = joined->rows().first();
            ok &= QTest::qWaitFor(
                [row] {
                    return row->client()->path() == VisitorClient::Relay
                        && row->client()->state() == VisitorClient::Ready;
                },
                5000);
            spin(300);
            ok &= saveWindow(&window, folder, QStringLiteral("joined-%1.png").arg(suffix));
            row->findChild<QPushButton *>(QStringLiteral("removeJoinedButton"))->click();
            spin(100);
        } else {
            ok = false;
        }

        if (!dark) {
            // A UDP tunnel: the protocol selector beside the port, the status line marked, and the tray's
            // menu of the running tunnel.
            auto *protocol = window.findChild<QComboBox *>(QStringLiteral("protocolCombo"));
            protocol->setCurrentIndex(protocol->findText(QStringLiteral("UDP")));
            ok &= connected(QStringLiteral("protocol-%1.png").arg(suffix), QString());
            ok &= saveTrayMenu(&window, status, demoAddress,
                               folder + QStringLiteral("/tray-menu-%1.png").arg(suffix));
            ok &= disconnect();
            protocol->setCurrentIndex(protocol->findText(QStringLiteral("TCP")));
        }

        // The edit dialog of the first demonstration server; it is modal, so it is grabbed from
        // inside its own event loop.
        QTimer::singleShot(800, &window, [&] {
            if (QWidget *dialog = QApplication::activeModalWidget()) {
                ok &= save(dialog, folder, QStringLiteral("edit-%1.png").arg(suffix));
                dialog->close();
            } else {
                ok = false;
            }
        });
        QTest::mouseClick(cardButton(&window, kDemoIndex, QStringLiteral("编辑")), Qt::LeftButton);
        spin(300);

        // The server list's context menu, opened by a right click on a card. The menu is a window of
        // its own, so the screen is grabbed where the main window and the menu lie.
        QTimer::singleShot(500, &window, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu || menu->actions().isEmpty()) {
                ok = false;
                return;
            }
            // The first entry highlighted, as under the pointer.
            menu->setActiveAction(menu->actions().first());
            spin(100);
            const QRect area = window.frameGeometry().united(menu->frameGeometry());
            const QString path = folder + QStringLiteral("/menu-%1.png").arg(suffix);
            const bool saved = QGuiApplication::primaryScreen()
                                   ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                                   .save(path);
            say(QStringLiteral("%1 %2").arg(
                saved ? QStringLiteral("saved") : QStringLiteral("could not save"), path));
            ok &= saved;
            menu->close();
        });
        QWidget *card = cardButton(&window, kDemoIndex, QStringLiteral("连接"));
        while (card && !qobject_cast<ServerCardWidget *>(card))
            card = card->parentWidget();
        if (card) {
            const QPoint pos(card->width() / 3, card->height() / 2);
            QContextMenuEvent event(QContextMenuEvent::Mouse, pos, card->mapToGlobal(pos));
            QApplication::sendEvent(card, &event);
        } else {
            ok = false;
        }
        spin(300);
    }

    // The window in English, in both themes, with the tunnel up; the language is switched while the
    // window is open, as a person would.
    auto *language = window.findChild<QComboBox *>(QStringLiteral("languageCombo"));
    language->setCurrentIndex(language->findData(QStringLiteral("en")));
    spin(300);
    for (int dark = 0; dark < 2; ++dark) {
        theme->setCurrentIndex(dark);
        spin(500);
        if (clickUntilShown(cardButton(&window, kDemoIndex, QStringLiteral("Connect")), status, demoAddress)
            < 0) {
            ok = false;
            continue;
        }
        spin(300);
        ok &= saveWindow(
            &window, folder,
            QStringLiteral("english-%1.png").arg(dark ? QStringLiteral("dark") : QStringLiteral("light")));
        ok &= clickUntilShown(cardButton(&window, kDemoIndex, QStringLiteral("Disconnect")), status,
                              QStringLiteral("Not connected"))
            >= 0;
    }
    language->setCurrentIndex(language->findData(QStringLiteral("zh")));
    theme->setCurrentIndex(0);
    return ok ? 0 : 1;
}

} // namespace AppBench
