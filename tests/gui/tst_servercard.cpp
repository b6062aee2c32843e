// SPDX-License-Identifier: Apache-2.0
#include "testsupport.h"

#include "core/frpcmanager.h"
#include "core/serverconfig.h"
#include "core/tcpprobe.h"
#include "gui/cardlatencies.h"
#include "gui/mainwindow.h"

#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

using TestSupport::buttonWithText;

namespace {

const QString LIGHT_CARD_SHEET = QStringLiteral(
    "ServerCardWidget {    background-color: #FFFFFF;    border: 1px solid #DFE6E9;    border-radius: 12px;}"
    "ServerCardWidget:hover {    border-color: #3498DB;}");
const QString DARK_CARD_SHEET = QStringLiteral(
    "ServerCardWidget {    background-color: #2C3546;    border: 1px solid #3D4759;    border-radius: 12px;}"
    "ServerCardWidget:hover {    border-color: #5B8DEE;}");

// Counts the paint events one widget receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget)
        : QObject(widget)
    {
        widget->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

void moveTo(QWidget *widget, const QPoint &pos)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(pos), QPointF(widget->mapToGlobal(pos)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace

class TestServerCard : public QObject
{
    Q_OBJECT

private slots:
    void registeredUnderItsClassName();
    void contents_data();
    void contents();
    void textsShownAsTyped();
    void connectButtonStates();
    void buttonsReportTheCardIndex();
    void setEnabledCoversTheButtons_data();
    void setEnabledCoversTheButtons();
    void closeButtonHitTest_data();
    void closeButtonHitTest();
    void hoverRepaintsAndChangesCursor();
    void builtInCardIgnoresTheCorner();
    void closeButtonPainting();
    void sheetFollowsTheMainWindowTheme();
    void roundTripShownWhileTheWindowIsSeen();
};

void TestServerCard::registeredUnderItsClassName()
{
    ServerCardWidget card(QStringLiteral("a"), QStringLiteral("h"), 1, false, 0);
    QCOMPARE(card.metaObject()->className(), "ServerCardWidget");
}

void TestServerCard::contents_data()
{
    QTest::addColumn<bool>("builtIn");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("nameText");
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QStringList>("buttons");

    QTest::newRow("user entry") << false << 7000 << QStringLiteral("⚙️ 东京")
                                << QStringLiteral("tunnel.example:7000")
                                << QStringList { QStringLiteral("编辑"), QStringLiteral("连接") };
    QTest::newRow("user entry, five-digit port without grouping")
        << false << 65535 << QStringLiteral("⚙️ 东京") << QStringLiteral("tunnel.example:65535")
        << QStringList { QStringLiteral("编辑"), QStringLiteral("连接") };
    QTest::newRow("built-in entry") << true << 7000 << QStringLiteral("🔒 东京 [内置]") << QString()
                                    << QStringList { QStringLiteral("连接") };
}

void TestServerCard::contents()
{
    QFETCH(bool, builtIn);
    QFETCH(int, port);
    QFETCH(QString, nameText);
    QFETCH(QString, addressText);
    QFETCH(QStringList, buttons);

    ServerCardWidget card(QStringLiteral("东京"), QStringLiteral("tunnel.example"), port, builtIn, 3);
    card.resize(400, 80);
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));

    QStringList shownTexts;
    for (QLabel *label : card.findChildren<QLabel *>()) {
        if (!label->text().isEmpty())
            shownTexts << label->text();
        QVERIFY2(!label->text().contains(QLatin1String("tunnel.example")) || !builtIn,
                 "the built-in card must not show its address");
    }
    QStringList expectedTexts { nameText };
    if (!addressText.isEmpty())
        expectedTexts << addressText;
    QCOMPARE(shownTexts, expectedTexts);

    QStringList captions;
    for (QPushButton *button : card.findChildren<QPushButton *>())
        captions << button->text();
    QCOMPARE(captions, buttons);
    QCOMPARE(card.maximumHeight(), 90);
}

void TestServerCard::textsShownAsTyped()
{
    ServerCardWidget card(QStringLiteral("<b>bold</b> &amp;"), QStringLiteral("<i>host</i>"), 7000, false, 0);
    QStringList texts;
    for (QLabel *label : card.findChildren<QLabel *>()) {
        QCOMPARE(label->textFormat(), Qt::PlainText);
        if (!label->text().isEmpty())
            texts << label->text();
    }
    QCOMPARE(
        texts,
        (QStringList { QStringLiteral("⚙️ <b>bold</b> &amp;"), QStringLiteral("<i>host</i>:7000") }));
}

void TestServerCard::connectButtonStates()
{
    ServerCardWidget card(QStringLiteral("a"), QStringLiteral("h"), 7000, false, 0);
    QPushButton *connectBtn = buttonWithText(&card, QStringLiteral("连接"));
    QVERIFY(connectBtn);
    QCOMPARE(connectBtn->styleSheet(), QStringLiteral("font-size: 9pt; font-weight: bold;"));

    card.setConnected(true);
    QCOMPARE(connectBtn->text(), QStringLiteral("断开"));
    QCOMPARE(connectBtn->styleSheet(),
             QStringLiteral("QPushButton { background-color: #E9A568; font-weight: bold; }"
                            "QPushButton:hover { background-color: #F0B878; }"));

    card.setConnected(false);
    QCOMPARE(connectBtn->text(), QStringLiteral("连接"));
    QCOMPARE(connectBtn->styleSheet(), QStringLiteral("QPushButton { font-weight: bold; }"));
}

void TestServerCard::buttonsReportTheCardIndex()
{
    ServerCardWidget card(QStringLiteral("a"), QStringLiteral("h"), 7000, false, 4);
    QSignalSpy connectSpy(&card, &ServerCardWidget::connectClicked);
    QSignalSpy editSpy(&card, &ServerCardWidget::editClicked);
    QSignalSpy deleteSpy(&card, &ServerCardWidget::deleteClicked);

    QTest::mouseClick(buttonWithText(&card, QStringLiteral("连接")), Qt::LeftButton);
    QTest::mouseClick(buttonWithText(&card, QStringLiteral("编辑")), Qt::LeftButton);

    QCOMPARE(connectSpy.count(), 1);
    QCOMPARE(connectSpy.at(0).at(0).toInt(), 4);
    QCOMPARE(editSpy.count(), 1);
    QCOMPARE(editSpy.at(0).at(0).toInt(), 4);
    QCOMPARE(deleteSpy.count(), 0);
}

void TestServerCard::setEnabledCoversTheButtons_data()
{
    QTest::addColumn<bool>("builtIn");
    QTest::newRow("user card") << false;
    QTest::newRow("built-in card without edit button") << true;
}

void TestServerCard::setEnabledCoversTheButtons()
{
    QFETCH(bool, builtIn);
    ServerCardWidget card(QStringLiteral("a"), QStringLiteral("h"), 7000, builtIn, 0);
    const auto buttons = card.findChildren<QPushButton *>();

    card.setEnabled(false);
    QVERIFY(!card.isEnabled());
    for (QPushButton *button : buttons)
        QVERIFY2(!button->isEnabled(), qPrintable(button->text()));

    card.setEnabled(true);
    QVERIFY(card.isEnabled());
    for (QPushButton *button : buttons)
        QVERIFY2(button->isEnabled(), qPrintable(button->text()));
}

void TestServerCard::closeButtonHitTest_data()
{
    QTest::addColumn<bool>("builtIn");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<bool>("deleteRequested");

    // A card 400 pixels wide has its close button at x 376..391, y 8..23, edges included.
    QTest::newRow("bottom-right edge") << false << true << Qt::LeftButton << QPoint(391, 23) << true;
    QTest::newRow("top-left edge") << false << true << Qt::LeftButton << QPoint(376, 8) << true;
    QTest::newRow("centre") << false << true << Qt::LeftButton << QPoint(383, 15) << true;
    QTest::newRow("one pixel right of it") << false << true << Qt::LeftButton << QPoint(392, 8) << false;
    QTest::newRow("one pixel left of it") << false << true << Qt::LeftButton << QPoint(375, 15) << false;
    QTest::newRow("one pixel above it") << false << true << Qt::LeftButton << QPoint(383, 7) << false;
    QTest::newRow("one pixel below it") << false << true << Qt::LeftButton << QPoint(383, 24) << false;
    QTest::newRow("right button") << false << true << Qt::RightButton << QPoint(380, 12) << false;
    QTest::newRow("middle button") << false << true << Qt::MiddleButton << QPoint(380, 12) << false;
    QTest::newRow("disabled card") << false << false << Qt::LeftButton << QPoint(380, 12) << false;
    QTest::newRow("built-in card") << true << true << Qt::LeftButton << QPoint(380, 12) << false;
}

void TestServerCard::closeButtonHitTest()
{
    QFETCH(bool, builtIn);
    QFETCH(bool, enabled);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, pos);
    QFETCH(bool, deleteRequested);

    ServerCardWidget card(QStringLiteral("a"), QStringLiteral("h"), 7000, builtIn, 2);
    card.resize(400, 80);
    card.setEnabled(enabled);
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));
    QCOMPARE(card.width(), 400);

    QSignalSpy deleteSpy(&card, &ServerCardWidget::deleteClicked);
    QTest::mousePress(&card, button, Qt::NoModifier, pos);
    QTest::mouseRelease(&card, button, Qt::NoModifier, pos);

    QCOMPARE(deleteSpy.count(), deleteRequested ? 1 : 0);
    if (deleteRequested)
        QCOMPARE(deleteSpy.at(0).at(0).toInt(), 2);
}

void TestServerCard::hoverRepaintsAndChangesCursor()
{
    ServerCardWidget card(QStringLiteral("a"), QStringLiteral("h"), 7000, false, 0);
    card.resize(400, 80);
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));
    QVERIFY(card.hasMouseTracking());
    settle();
    auto *paints = new PaintCounter(&card);

    moveTo(&card, QPoint(200, 40));
    settle();
    QCOMPARE(paints->count, 0);
    QCOMPARE(card.cursor().shape(), Qt::ArrowCursor);

    moveTo(&card, QPoint(380, 12));
    QTRY_COMPARE(paints->count, 1);
    QCOMPARE(card.cursor().shape(), Qt::PointingHandCursor);

    // Moving inside the button changes nothing.
    moveTo(&card, QPoint(385, 18));
    settle();
    QCOMPARE(paints->count, 1);

    moveTo(&card, QPoint(300, 40));
    QTRY_COMPARE(paints->count, 2);
    QCOMPARE(card.cursor().shape(), Qt::ArrowCursor);

    moveTo(&card, QPoint(380, 12));
    QTRY_COMPARE(paints->count, 3);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&card, &leave);
    QTRY_COMPARE(paints->count, 4);
    QCOMPARE(card.cursor().shape(), Qt::ArrowCursor);

    // Leaving again without hovering first repaints nothing.
    QCoreApplication::sendEvent(&card, &leave);
    settle();
    QCOMPARE(paints->count, 4);
}

void TestServerCard::builtInCardIgnoresTheCorner()
{
    ServerCardWidget card(QStringLiteral("a"), QStringLiteral("h"), 7000, true, 0);
    card.resize(400, 80);
    card.show();
    QVERIFY(QTest::qWaitForWindowExposed(&card));
    settle();
    auto *paints = new PaintCounter(&card);

    moveTo(&card, QPoint(380, 12));
    settle();
    QCOMPARE(paints->count, 0);
    QVERIFY(!card.testAttribute(Qt::WA_SetCursor));
}

void TestServerCard::closeButtonPainting()
{
    ServerCardWidget userCard(QStringLiteral("a"), QStringLiteral("h"), 7000, false, 1);
    ServerCardWidget builtInCard(QStringLiteral("a"), QStringLiteral("h"), 7000, true, 0);
    for (ServerCardWidget *card : { &userCard, &builtInCard }) {
        card->resize(400, 80);
        card->show();
        QVERIFY(QTest::qWaitForWindowExposed(card));
    }
    // Pixels: a point on the cross (w-20,12)->(w-13,19), a point on the disc away from the cross,
    // and a point of plain card background well left of the button.
    const QPoint onCross(383, 15);
    const QPoint onDiscOnly(383, 10);
    const QPoint background(360, 10);

    QImage image = userCard.grab().toImage();
    const QColor plain = image.pixelColor(background);
    QCOMPARE(image.pixelColor(onDiscOnly), plain);
    // The light theme's cross is grey 150; antialiasing may lighten it but never to the background.
    const QColor cross = image.pixelColor(onCross);
    QVERIFY2(cross.red() < plain.red() - 40 && qAbs(cross.red() - cross.blue()) < 10,
             qPrintable(cross.name()));

    moveTo(&userCard, onCross);
    image = userCard.grab().toImage();
    const QColor disc = image.pixelColor(onDiscOnly);
    QVERIFY2(disc.red() > disc.green() + 60 && disc.red() > disc.blue() + 60, qPrintable(disc.name()));

    image = builtInCard.grab().toImage();
    QCOMPARE(image.pixelColor(onCross), image.pixelColor(background));
}

void TestServerCard::sheetFollowsTheMainWindowTheme()
{
    ServerCardWidget parentless(QStringLiteral("a"), QStringLiteral("h"), 7000, false, 0);
    QCOMPARE(parentless.styleSheet(), LIGHT_CARD_SHEET);

    MainWindow window;
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("themeCombo"));
    QVERIFY(combo);
    combo->setCurrentIndex(1);
    QVERIFY(window.isDarkTheme());

    // The cards of the list follow a change of theme.
    const auto cards = window.findChildren<ServerCardWidget *>();
    QVERIFY(!cards.isEmpty());
    for (ServerCardWidget *card : cards)
        QCOMPARE(card->styleSheet(), DARK_CARD_SHEET);

    ServerCardWidget inDarkWindow(QStringLiteral("a"), QStringLiteral("h"), 7000, false, 0, &window);
    QCOMPARE(inDarkWindow.styleSheet(), DARK_CARD_SHEET);

    combo->setCurrentIndex(0);
    for (ServerCardWidget *card : cards)
        QCOMPARE(card->styleSheet(), LIGHT_CARD_SHEET);
    inDarkWindow.updateCardTheme();
    QCOMPARE(inDarkWindow.styleSheet(), LIGHT_CARD_SHEET);
}

void TestServerCard::roundTripShownWhileTheWindowIsSeen()
{
    // One server listens; nothing listens on the other's port.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    int closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    ServerConfigManager &store = ServerConfigManager::instance();
    const int first = int(store.getConfigs().size());
    for (const int port : { int(server.serverPort()), closedPort }) {
        ServerConfig config;
        config.name = QString::number(port);
        config.serverAddr = QStringLiteral("127.0.0.1");
        config.serverPort = port;
        config.token = QStringLiteral("t");
        store.addConfig(config);
    }
    const auto forget = qScopeGuard([&store, first] {
        while (store.getConfigs().size() > first)
            store.removeConfig(first);
    });
    MainWindow window;
    const auto cardOf = [&window](int index) {
        for (ServerCardWidget *card : window.findChildren<ServerCardWidget *>()) {
            if (card->getIndex() == index)
                return card;
        }
        return static_cast<ServerCardWidget *>(nullptr);
    };
    const auto latencyOf = [&cardOf](int index) {
        return cardOf(index) ? cardOf(index)->findChild<QLabel *>(QStringLiteral("latencyLabel")) : nullptr;
    };
    QVERIFY(latencyOf(first) && latencyOf(first + 1));
    // Nothing is measured while the window is hidden.
    QVERIFY(!window.findChild<TcpProbe *>());
    QCOMPARE(latencyOf(first)->text(), QString());

    window.show();
    QTRY_VERIFY2(QRegularExpression(QStringLiteral("^\\d+ ms$")).match(latencyOf(first)->text()).hasMatch(),
                 qPrintable(latencyOf(first)->text()));
    QTRY_COMPARE(latencyOf(first + 1)->text(), QStringLiteral("无法连接"));
    QVERIFY(latencyOf(first + 1)->styleSheet().contains(QLatin1String("#D35400")));
    // A bare connection, closed at once: the server hears nothing.
    QTRY_VERIFY(server.hasPendingConnections());
    QTcpSocket *measured = server.nextPendingConnection();
    QTRY_COMPARE(measured->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(measured->readAll(), QByteArray());

    auto *latencies = window.findChild<CardLatencies *>();
    QVERIFY(latencies);
    // The card whose tunnel is starting is left alone meanwhile; the others are measured.
    qputenv("FAKEFRPC_NO_PORT", "1");
    const auto portsAgain = qScopeGuard([] { qunsetenv("FAKEFRPC_NO_PORT"); });
    QTest::mouseClick(buttonWithText(cardOf(first), QStringLiteral("连接")), Qt::LeftButton);
    QCOMPARE(window.findChild<FrpcManager *>()->status(), FrpcManager::Starting);
    latencies->measureAll();
    QVERIFY(!cardOf(first)->findChild<TcpProbe *>());
    QVERIFY(cardOf(first + 1)->findChild<TcpProbe *>());
    QTRY_VERIFY(!window.findChild<TcpProbe *>());

    // Hidden in the tray or minimised, the window measures nothing, whatever asks it to.
    window.hide();
    latencies->measureAll();
    QVERIFY(!window.findChild<TcpProbe *>());
    window.showMinimized();
    latencies->measureAll();
    QVERIFY(!window.findChild<TcpProbe *>());
}

MARROWGATE_TEST_MAIN(TestServerCard)
#include "tst_servercard.moc"
