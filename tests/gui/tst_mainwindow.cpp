// SPDX-License-Identifier: Apache-2.0
// The main window's fixed frame: sizes, texts, the order of the rows and how extra space is shared.
#include "core/serverconfig.h"
#include "core/sharecode.h"
#include "gui/joinedtunnels.h"
#include "gui/mainwindow.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QResource>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>

namespace {

// The frame's widgets carry no object names; they are found by their text inside the central widget
// (the log dialog is also a child of the window and must not be searched).
template<typename T> T *widgetWithText(QWidget *root, const QString &text)
{
    const auto all = root->findChildren<T *>();
    for (T *w : all) {
        if (w->text() == text)
            return w;
    }
    return nullptr;
}

QWidget *frameWidget(MainWindow &window, const QString &key)
{
    QWidget *central = window.centralWidget();
    if (key == QLatin1String("spin"))
        return central->findChild<QSpinBox *>();
    if (key == QLatin1String("status")) {
        for (QLabel *l : central->findChildren<QLabel *>())
            if (l->text().startsWith(QStringLiteral("连接状态")))
                return l;
        return nullptr;
    }
    if (key == QLatin1String("line")) {
        for (QFrame *f : central->findChildren<QFrame *>())
            if (f->frameShape() == QFrame::HLine)
                return f;
        return nullptr;
    }
    if (key == QLatin1String("scroll"))
        return central->findChild<QScrollArea *>();
    if (key == QLatin1String("combo"))
        return central->findChild<QComboBox *>(QStringLiteral("themeCombo"));
    if (key == QLatin1String("protocol"))
        return central->findChild<QComboBox *>(QStringLiteral("protocolCombo"));
    if (QLabel *l = widgetWithText<QLabel>(central, key))
        return l;
    if (QPushButton *b = widgetWithText<QPushButton>(central, key))
        return b;
    return widgetWithText<QCheckBox>(central, key);
}

// Geometry of a widget in window coordinates.
QRect windowRect(QWidget *w)
{
    return QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size());
}

const QString kInitialStatus = QStringLiteral("连接状态: <span style='color: #95A5A6;'>● 未连接</span>");

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void windowIdentity();
    void fixedWidgets_data();
    void fixedWidgets();
    void initialState();
    void portFieldInput_data();
    void portFieldInput();
    void rowOrder();
    void resizeSharesSpace_data();
    void resizeSharesSpace();
    void minimumSize();
    void iconResource();
    void cardsPackAtTop_data();
    void cardsPackAtTop();
    void tunnelRowsUpToTen();
    void joinDialog_data();
    void joinDialog();
    void joinedTunnelsKeptAcrossARestart();
};

void TestMainWindow::windowIdentity()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Marrowgate v1.0.0"));
    QCOMPARE(window.minimumSize(), QSize(700, 600));
    QCOMPARE(window.size(), QSize(750, 650));
    QVERIFY(!window.isDarkTheme());

    // The window's own icon is the program's picture.
    const QIcon icon = window.windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(QSize(144, 144)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
             QImage(QStringLiteral(":/main.png")).convertToFormat(QImage::Format_ARGB32_Premultiplied));

    // No menu bar, tool bar, status bar or window actions of its own.
    QVERIFY(!window.menuWidget());
    QVERIFY(!window.findChild<QStatusBar *>());
    QVERIFY(window.findChildren<QToolBar *>().isEmpty());
    QVERIFY(window.actions().isEmpty());
}

void TestMainWindow::fixedWidgets_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QSize>("fixedSize"); // invalid: not fixed
    QTest::addColumn<QString>("styleSheet");

    const QSize free;
    QTest::newRow("port label") << QStringLiteral("本地端口") << free
                                << QStringLiteral("font-size: 12pt; font-weight: 600;");
    QTest::newRow("port field") << QStringLiteral("spin") << QSize(100, 32)
                                << QStringLiteral("font-size: 11pt;");
    QTest::newRow("status line") << QStringLiteral("status") << free << QStringLiteral("font-size: 11pt;");
    QTest::newRow("copy address") << QStringLiteral("复制IP") << QSize(60, 24)
                                  << QStringLiteral("font-size: 9pt; padding: 2px 6px;");
    QTest::newRow("copy port") << QStringLiteral("复制端口") << QSize(70, 24)
                               << QStringLiteral("font-size: 9pt; padding: 2px 6px;");
    QTest::newRow("rule") << QStringLiteral("line") << QSize()
                          << QStringLiteral("background-color: #DFE6E9;");
    QTest::newRow("list title") << QStringLiteral("服务器列表") << free
                                << QStringLiteral("font-size: 14pt; font-weight: bold;");
    QTest::newRow("add") << QStringLiteral("+ 添加") << QSize(80, 28) << QStringLiteral("font-size: 9pt;");
    QTest::newRow("card area") << QStringLiteral(
        "scroll") << free << QStringLiteral("QScrollArea { background-color: transparent; border: none; }");
    QTest::newRow("view log") << QStringLiteral("查看日志") << QSize(90, 28)
                              << QStringLiteral("font-size: 9pt;");
    QTest::newRow("auto start") << QStringLiteral("开机自启动") << free << QString();
}

void TestMainWindow::fixedWidgets()
{
    QFETCH(QString, key);
    QFETCH(QSize, fixedSize);
    QFETCH(QString, styleSheet);

    MainWindow window;
    QWidget *w = frameWidget(window, key);
    QVERIFY2(w, qPrintable(key));
    QCOMPARE(w->styleSheet(), styleSheet);
    // The width is fixed. The height is capped at the given value, but the theme sheet's minimum
    // heights (content plus padding) may raise the floor above it, so only the cap is checked.
    if (fixedSize.isValid()) {
        QCOMPARE(w->minimumWidth(), fixedSize.width());
        QCOMPARE(w->maximumWidth(), fixedSize.width());
        QCOMPARE(w->maximumHeight(), fixedSize.height());
    }
    if (key == QLatin1String("line")) {
        QCOMPARE(w->minimumHeight(), 1);
        QCOMPARE(w->maximumHeight(), 1);
    }
}

void TestMainWindow::initialState()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto *spin = qobject_cast<QSpinBox *>(frameWidget(window, QStringLiteral("spin")));
    QVERIFY(spin);
    QCOMPARE(spin->minimum(), 1);
    QCOMPARE(spin->maximum(), 65535);
    QCOMPARE(spin->value(), 12345);
    QCOMPARE(spin->buttonSymbols(), QAbstractSpinBox::NoButtons);
    QCOMPARE(spin->alignment(), Qt::AlignCenter);

    auto *status = qobject_cast<QLabel *>(frameWidget(window, QStringLiteral("status")));
    QVERIFY(status);
    QCOMPARE(status->text(), kInitialStatus);
    QVERIFY(status->textFormat() == Qt::RichText || status->textFormat() == Qt::AutoText);
    QVERIFY(Qt::mightBeRichText(status->text()));
    QVERIFY(status->alignment() & Qt::AlignVCenter);

    for (const QString &caption : { QStringLiteral("复制IP"), QStringLiteral("复制端口") }) {
        QWidget *button = frameWidget(window, caption);
        QVERIFY2(button, qPrintable(caption));
        QVERIFY2(!button->isVisible(), qPrintable(caption));
    }

    auto *check = qobject_cast<QCheckBox *>(frameWidget(window, QStringLiteral("开机自启动")));
    QVERIFY(check);
    QVERIFY(!check->isChecked());

    auto *combo = qobject_cast<QComboBox *>(frameWidget(window, QStringLiteral("combo")));
    QVERIFY(combo);
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), QStringLiteral("浅色主题"));
    QCOMPARE(combo->itemText(1), QStringLiteral("深色主题"));
    QVERIFY(!combo->itemData(0).isValid());
    QVERIFY(!combo->itemData(1).isValid());
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(combo->maximumWidth(), 130);

    auto *protocol = qobject_cast<QComboBox *>(frameWidget(window, QStringLiteral("protocol")));
    QVERIFY(protocol);
    QCOMPARE(protocol->count(), 3);
    QCOMPARE(protocol->itemText(0), QStringLiteral("TCP"));
    QCOMPARE(protocol->itemText(1), QStringLiteral("UDP"));
    QCOMPARE(protocol->itemText(2), QStringLiteral("TCP+UDP"));
    QCOMPARE(protocol->currentText(), QStringLiteral("TCP"));
    QVERIFY(protocol->isEnabled());
}

// Typing into the port field: only whole numbers from 1 to 65535 get through.
void TestMainWindow::portFieldInput_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");

    QTest::newRow("ordinary") << QStringLiteral("8080") << 8080;
    QTest::newRow("lowest") << QStringLiteral("1") << 1;
    QTest::newRow("highest") << QStringLiteral("65535") << 65535;
    QTest::newRow("one digit too many") << QStringLiteral("65536") << 6553;
    QTest::newRow("letters") << QStringLiteral("abc") << 12345;
    QTest::newRow("minus sign dropped") << QStringLiteral("-22") << 22;
    QTest::newRow("decimal point dropped") << QStringLiteral("8.5") << 85;
    QTest::newRow("space dropped") << QStringLiteral("3 3") << 33;
    QTest::newRow("zero refused") << QStringLiteral("0") << 12345;
}

void TestMainWindow::portFieldInput()
{
    QFETCH(QString, typed);
    QFETCH(int, expected);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *spin = qobject_cast<QSpinBox *>(frameWidget(window, QStringLiteral("spin")));
    QVERIFY(spin);
    spin->setValue(12345);
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, typed);
    QTest::keyClick(spin, Qt::Key_Return);
    spin->clearFocus();
    QCOMPARE(spin->value(), expected);
}

// Top to bottom: port row, status row, rule, list header, card area, bottom bar; left to right inside
// each row.
void TestMainWindow::rowOrder()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QStringList columnOrder
        = { QStringLiteral("本地端口"),   QStringLiteral("status"), QStringLiteral("line"),
            QStringLiteral("服务器列表"), QStringLiteral("scroll"), QStringLiteral("查看日志") };
    int previousBottom = -1;
    for (const QString &key : columnOrder) {
        QWidget *w = frameWidget(window, key);
        QVERIFY2(w, qPrintable(key));
        const QRect r = windowRect(w);
        QVERIFY2(r.top() > previousBottom, qPrintable(key));
        previousBottom = r.bottom();
    }

    // The main layout's margins: 24 pixels around the content.
    QCOMPARE(windowRect(frameWidget(window, QStringLiteral("scroll"))).left(), 24);
    QCOMPARE(windowRect(frameWidget(window, QStringLiteral("scroll"))).right(), window.width() - 1 - 24);
    const QRect bottomRow = windowRect(frameWidget(window, QStringLiteral("查看日志")))
                                .united(windowRect(frameWidget(window, QStringLiteral("combo"))))
                                .united(windowRect(frameWidget(window, QStringLiteral("开机自启动"))));
    QCOMPARE(bottomRow.bottom(), window.height() - 1 - 24);
    QCOMPARE(windowRect(frameWidget(window, QStringLiteral("+ 添加"))).right(), window.width() - 1 - 24);

    const QList<QStringList> rows = {
        { QStringLiteral("本地端口"), QStringLiteral("spin"), QStringLiteral("protocol") },
        { QStringLiteral("服务器列表"), QStringLiteral("+ 添加") },
        { QStringLiteral("查看日志"), QStringLiteral("开机自启动"), QStringLiteral("combo") },
    };
    for (const QStringList &row : rows) {
        int previousRight = -1;
        const QRect first = windowRect(frameWidget(window, row.first()));
        for (const QString &key : row) {
            const QRect r = windowRect(frameWidget(window, key));
            QVERIFY2(r.left() > previousRight, qPrintable(key));
            QVERIFY2(r.intersects(QRect(0, first.top(), window.width(), first.height()))
                         || r.contains(QPoint(r.left(), first.center().y())),
                     qPrintable(key)); // same row
            previousRight = r.right();
        }
    }
    // The theme selector sits at the right edge, at least 12 pixels after the check box.
    const QRect check = windowRect(frameWidget(window, QStringLiteral("开机自启动")));
    const QRect combo = windowRect(frameWidget(window, QStringLiteral("combo")));
    QCOMPARE(combo.right(), window.width() - 1 - 24);
    QVERIFY(combo.left() - check.right() - 1 >= 12);
}

// Extra height goes to the card area alone; the port and status rows stay centred at any width.
void TestMainWindow::resizeSharesSpace_data()
{
    QTest::addColumn<QSize>("newSize");

    QTest::newRow("taller") << QSize(750, 900);
    QTest::newRow("wider") << QSize(1100, 650);
    QTest::newRow("both") << QSize(1000, 1000);
}

void TestMainWindow::resizeSharesSpace()
{
    QFETCH(QSize, newSize);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QStringList keys
        = { QStringLiteral("本地端口"),   QStringLiteral("spin"),   QStringLiteral("protocol"),
            QStringLiteral("status"),     QStringLiteral("line"),   QStringLiteral("服务器列表"),
            QStringLiteral("+ 添加"),     QStringLiteral("scroll"), QStringLiteral("查看日志"),
            QStringLiteral("开机自启动"), QStringLiteral("combo") };
    QHash<QString, QRect> before;
    for (const QString &key : keys) {
        QWidget *w = frameWidget(window, key);
        QVERIFY2(w, qPrintable(key));
        before.insert(key, windowRect(w));
    }

    window.resize(newSize);
    QTRY_COMPARE(window.size(), newSize);
    QTRY_COMPARE(windowRect(frameWidget(window, QStringLiteral("scroll"))).height(),
                 before.value(QStringLiteral("scroll")).height() + newSize.height() - 650);

    const int dy = newSize.height() - 650;
    for (const QString &key : keys) {
        const QRect was = before.value(key);
        const QRect now = windowRect(frameWidget(window, key));
        if (key != QLatin1String("scroll"))
            QVERIFY2(now.height() == was.height(), qPrintable(key));
        const bool below = was.top() > before.value(QStringLiteral("scroll")).top();
        QVERIFY2(now.top() == was.top() + (below ? dy : 0), qPrintable(key));
    }

    // The port row (label, field and protocol) and the status line keep their natural width, centred.
    const QRect portRow = windowRect(frameWidget(window, QStringLiteral("本地端口")))
                              .united(windowRect(frameWidget(window, QStringLiteral("protocol"))));
    QVERIFY(qAbs(portRow.center().x() - window.width() / 2) <= 2);
    QCOMPARE(
        portRow.width(),
        before.value(QStringLiteral("本地端口")).united(before.value(QStringLiteral("protocol"))).width());
    const QRect status = windowRect(frameWidget(window, QStringLiteral("status")));
    QCOMPARE(status.width(), before.value(QStringLiteral("status")).width());
    // Centred together with the (hidden) copy buttons' spacing of 10 pixels.
    QVERIFY(qAbs(status.center().x() + 5 - window.width() / 2) <= 2);
}

void TestMainWindow::minimumSize()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(400, 300);
    QCOMPARE(window.size(), QSize(700, 600));
    window.resize(699, 800);
    QCOMPARE(window.size(), QSize(700, 800));
}

// The program's picture: a 144 x 144 PNG, kept uncompressed in the compiled resources.
void TestMainWindow::iconResource()
{
    QResource resource(QStringLiteral(":/main.png"));
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    QVERIFY(resource.size() > 8);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(resource.data()), 8), QByteArray("\x89PNG\r\n\x1a\n"));

    QImageReader reader(QStringLiteral(":/main.png"));
    QCOMPARE(reader.format(), QByteArray("png"));
    QCOMPARE(reader.size(), QSize(144, 144));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
}

// However many cards there are, they sit at the top of the card area, 14 pixels apart, at their natural
// height; when they do not fit, the area scrolls.
void TestMainWindow::cardsPackAtTop_data()
{
    QTest::addColumn<int>("added");
    QTest::addColumn<bool>("scrolls");

    QTest::newRow("built-in entry only") << 0 << false;
    QTest::newRow("three") << 2 << false;
    QTest::newRow("more than fit") << 12 << true;
}

void TestMainWindow::cardsPackAtTop()
{
    QFETCH(int, added);
    QFETCH(bool, scrolls);

    ServerConfigManager &store = ServerConfigManager::instance();
    const int before = store.getConfigs().size();
    for (int i = 0; i < added; ++i) {
        ServerConfig config;
        config.name = QStringLiteral("server %1").arg(i);
        config.serverAddr = QStringLiteral("10.0.0.%1").arg(i + 1);
        store.addConfig(config);
    }
    const auto removeAdded = qScopeGuard([&] {
        while (store.getConfigs().size() > before)
            store.removeConfig(store.getConfigs().size() - 1);
    });

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *area = qobject_cast<QScrollArea *>(frameWidget(window, QStringLiteral("scroll")));
    QVERIFY(area && area->widget());
    QList<ServerCardWidget *> cards = area->widget()->findChildren<ServerCardWidget *>();
    QCOMPARE(cards.size(), before + added);
    std::sort(cards.begin(), cards.end(),
              [](ServerCardWidget *a, ServerCardWidget *b) { return a->getIndex() < b->getIndex(); });

    QTRY_COMPARE(cards.first()->y(), 0);
    for (int i = 0; i < cards.size(); ++i) {
        QCOMPARE(cards.at(i)->height(), cards.at(i)->sizeHint().height());
        if (i > 0)
            QCOMPARE(cards.at(i)->y() - cards.at(i - 1)->geometry().bottom() - 1, 14);
    }
    QCOMPARE(area->verticalScrollBar()->maximum() > 0, scrolls);
    if (!scrolls)
        QVERIFY(cards.last()->geometry().bottom() < area->viewport()->height() - 14);
}

void TestMainWindow::tunnelRowsUpToTen()
{
    // Nine rows beside the first, each proposing a port not yet used; the add button then gives up.
    MainWindow window;
    const auto rowPorts = [&window] {
        QList<int> ports { window.findChild<QSpinBox *>()->value() };
        for (QWidget *row : window.findChildren<QWidget *>(QStringLiteral("tunnelRow")))
            ports << row->findChild<QSpinBox *>()->value();
        return ports;
    };
    auto *add = window.findChild<QPushButton *>(QStringLiteral("addTunnelButton"));
    QCOMPARE(add->toolTip(), QStringLiteral("添加端口"));
    for (int i = 0; i < 9; ++i)
        add->click();
    QVERIFY(!add->isEnabled());
    add->click();
    const QList<int> ports = rowPorts();
    QCOMPARE(ports.size(), 10);
    QCOMPARE(QSet<int>(ports.begin(), ports.end()).size(), 10);
    QCOMPARE(ServerConfigManager::instance().getMoreTunnels().size(), 9);

    // An edit of a row's port or protocol is kept for the next start.
    QWidget *lastRow = window.findChildren<QWidget *>(QStringLiteral("tunnelRow")).last();
    lastRow->findChild<QSpinBox *>()->setValue(40000);
    emit lastRow->findChild<QSpinBox *>()->editingFinished();
    QCOMPARE(QSettings().value(QStringLiteral("moreTunnels")).toStringList().last(),
             QStringLiteral("40000/tcp"));
    lastRow->findChild<QComboBox *>()->setCurrentIndex(1);
    emit lastRow->findChild<QComboBox *>()->activated(1);
    QCOMPARE(QSettings().value(QStringLiteral("moreTunnels")).toStringList().last(),
             QStringLiteral("40000/udp"));

    // Removing one enables the button again and is kept.
    window.findChildren<QPushButton *>(QStringLiteral("removeTunnelButton")).first()->click();
    QVERIFY(add->isEnabled());
    QCOMPARE(ServerConfigManager::instance().getMoreTunnels().size(), 8);
    ServerConfigManager::instance().setMoreTunnels({});
}

namespace {

ShareCode friendsCode()
{
    ShareCode code;
    code.serverAddr = QStringLiteral("relay.example");
    code.serverPort = 7001;
    code.token = QStringLiteral("friends-token");
    code.name = QStringLiteral("k3j4h5");
    code.protocol = Tunnel::TcpUdp;
    code.secretKey = QStringLiteral("0123456789abcdefghijkl");
    code.hostPort = 25565;
    code.label = QStringLiteral("我的世界");
    return code;
}

} // namespace

// The dialog refuses what does not read, with the reason, and names the server of a code that does.
void TestMainWindow::joinDialog_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("verdictHolds");
    QTest::addColumn<bool>("joinable");
    const QString good = friendsCode().toText();
    QTest::newRow("empty") << QString() << QString() << false;
    QTest::newRow("not a code") << QStringLiteral("hello") << QStringLiteral("分享码无效：") << false;
    QTest::newRow("cut short") << good.left(good.size() - 12) << QStringLiteral("分享码无效：") << false;
    QTest::newRow("good") << good << QStringLiteral("relay.example:7001") << true;
    QTest::newRow("wrapped by a chat program") << good.left(30) + QStringLiteral("\n  ") + good.mid(30)
                                               << QStringLiteral("relay.example:7001") << true;
}

void TestMainWindow::joinDialog()
{
    QFETCH(QString, text);
    QFETCH(QString, verdictHolds);
    QFETCH(bool, joinable);
    JoinDialog dialog { QString() };
    dialog.findChild<QLineEdit *>(QStringLiteral("shareCodeEdit"))->setText(text);
    const QString verdict = dialog.findChild<QLabel *>(QStringLiteral("joinVerdictLabel"))->text();
    QVERIFY2(verdictHolds.isEmpty() ? verdict.isEmpty() : verdict.contains(verdictHolds),
             qPrintable(verdict));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("confirmJoinButton"))->isEnabled(), joinable);
}

// A joined code is kept with its port, owner-only; a new code of the same tunnel replaces it in place;
// after a restart its row is back, not joined, and removing it forgets it.
void TestMainWindow::joinedTunnelsKeptAcrossARestart()
{
    const auto forget = qScopeGuard([] { ServerConfigManager::instance().setJoinedTunnels({}); });
    int port = 0;
    {
        MainWindow window;
        QVERIFY(!window.joinTunnel(QStringLiteral("marrowgate://join/x")));
        QVERIFY(ServerConfigManager::instance().getJoinedTunnels().isEmpty());
        QVERIFY(window.joinTunnel(friendsCode().toText()));
        ShareCode renewed = friendsCode();
        renewed.secretKey = ShareCode::newSecretKey();
        QVERIFY(window.joinTunnel(renewed.toText()));
        const QList<JoinedTunnel> kept = ServerConfigManager::instance().getJoinedTunnels();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.first().code, renewed.toText());
        port = kept.first().localPort;
        QVERIFY(port >= VisitorClient::FIRST_PORT && port <= VisitorClient::LAST_PORT);
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
            | QFileDevice::ReadOther | QFileDevice::WriteOther;
        QVERIFY(!(QFileInfo(QSettings().fileName()).permissions() & others));
    }
    MainWindow next;
    const QList<QWidget *> rows = next.findChildren<QWidget *>(QStringLiteral("joinedTunnelRow"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first()->findChild<QLabel *>(QStringLiteral("joinedAddressLabel"))->text(),
             QStringLiteral("127.0.0.1:%1").arg(port));
    QCOMPARE(rows.first()->findChild<QPushButton *>(QStringLiteral("joinedToggleButton"))->text(),
             QStringLiteral("加入"));
    rows.first()->findChild<QPushButton *>(QStringLiteral("removeJoinedButton"))->click();
    QVERIFY(ServerConfigManager::instance().getJoinedTunnels().isEmpty());
}

MARROWGATE_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
