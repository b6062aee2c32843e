// SPDX-License-Identifier: Apache-2.0
// The window in each language, switched while everything is open: in English no Chinese is left but
// what the user typed, switching back brings every text back as it was, every control Tab reaches has a
// name for screen readers, and Tab reaches them all, top to bottom.
#include "modalscript.h"
#include "testsupport.h"

#include "core/frpcmanager.h"
#include "core/serverconfig.h"
#include "core/tunnelreachability.h"
#include "gui/language.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "gui/servercardwidget.h"
#include "gui/servereditdialog.h"
#include "gui/tunneltrayicon.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTextDocumentFragment>
#include <QToolButton>

namespace {

// A name the user typed: shown as it is in every language.
const QString TYPED_NAME = QStringLiteral("香港节点");

const QRegularExpression
    CHINESE(QStringLiteral("[\\x{3000}-\\x{303F}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));

// The widget a person meets: the spin box, not the line edit inside it.
QWidget *owner(QWidget *widget)
{
    while (widget && widget->parentWidget() && widget->parentWidget()->focusProxy() == widget)
        widget = widget->parentWidget();
    return widget;
}

// The controls of window that Tab can reach now.
QList<QWidget *> focusable(QWidget *window)
{
    QList<QWidget *> list;
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(window) && widget->isEnabled()
            && !widget->focusProxy() && widget->window() == window)
            list << widget;
    }
    return list;
}

// What the window shows: its title, captions, labels, chosen entries, hints and tooltips.
QStringList shownTexts(QWidget *window)
{
    QStringList texts { window->windowTitle() };
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(window) || widget->window() != window)
            continue;
        texts << widget->toolTip();
        if (auto *label = qobject_cast<QLabel *>(widget))
            texts << QTextDocumentFragment::fromHtml(label->text()).toPlainText();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            texts << button->text();
        else if (auto *combo = qobject_cast<QComboBox *>(widget))
            texts << combo->currentText();
        else if (auto *edit = qobject_cast<QLineEdit *>(widget))
            texts << edit->placeholderText();
    }
    return texts;
}

void chooseLanguage(MainWindow &window, const QString &code)
{
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("languageCombo"));
    combo->setCurrentIndex(combo->findData(code));
    // The change reaches the application, which passes it on to every window.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowsInBothLanguages_data();
    void windowsInBothLanguages();
};

void TestLanguage::init()
{
    auto &store = ServerConfigManager::instance();
    while (store.getConfigs().size() > 1)
        store.removeConfig(store.getConfigs().size() - 1);
    // Servers that refuse at once: the cards' round trips are settled before the texts are read.
    for (const QString &name : { QStringLiteral("alpha"), TYPED_NAME, QStringLiteral("beta") }) {
        QTcpServer free;
        free.listen(QHostAddress::LocalHost, 0);
        ServerConfig config;
        config.name = name;
        config.serverAddr = QStringLiteral("127.0.0.1");
        config.serverPort = free.serverPort();
        config.token = QStringLiteral("secret");
        config.webServerPort = free.serverPort();
        store.addConfig(config);
    }
    store.setMoreTunnels({ { 23456, Tunnel::Udp }, { 34567, Tunnel::TcpUdp } });
    qputenv("FAKEFRPC_REMOTE_PORT", "46123");
}

void TestLanguage::cleanup()
{
    Language::apply(QStringLiteral("zh"));
    QCoreApplication::processEvents();
}

void TestLanguage::windowsInBothLanguages_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("connected");
    QTest::newRow("English") << "en" << false;
    QTest::newRow("English, connected") << "en" << true;
    QTest::newRow("back to Chinese") << "zh" << false;
    QTest::newRow("back to Chinese, connected") << "zh" << true;
}

void TestLanguage::windowsInBothLanguages()
{
    QFETCH(QString, language);
    QFETCH(bool, connected);
    MainWindow window;
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    for (const QLabel *latency : window.findChildren<QLabel *>(QStringLiteral("latencyLabel")))
        QTRY_VERIFY_WITH_TIMEOUT(!latency->text().isEmpty(), 5000);
    if (connected) {
        QVERIFY(window.connectServerByName(TYPED_NAME));
        auto *controller = window.findChild<FrpcManager *>();
        QTRY_VERIFY_WITH_TIMEOUT(!controller->remotePort().isEmpty(), 15000);
        // The checks from outside and the look at the local ports end in texts of their own: they are
        // settled before the texts are read.
        const auto *reachability = window.findChild<TunnelReachability *>();
        const auto settled = [controller, reachability] {
            const QList<TunnelState> states = controller->tunnelStates();
            return reachability->result(0) != TunnelReachability::Unknown
                && reachability->result(2) != TunnelReachability::Unknown
                && std::all_of(states.cbegin(), states.cend(), [](const TunnelState &state) {
                       return !state.port.isEmpty() && state.nobodyListens;
                   });
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 10000);
    }
    // Open before the switch: they follow it too.
    auto *dialog = new ServerEditDialog(2, &window);
    dialog->show();
    auto *log = window.findChild<LogWindow *>();
    log->show();
    TunnelTrayIcon tray(&window);
    const QList<QWidget *> windows { &window, dialog, log };
    const auto allTexts = [&windows, &tray] {
        QStringList texts;
        for (QWidget *top : windows)
            texts << shownTexts(top);
        for (const QAction *action : tray.menu()->actions())
            texts << action->text();
        return texts;
    };
    const QStringList chinese = allTexts();

    chooseLanguage(window, QStringLiteral("en"));
    chooseLanguage(window, language);
    QCOMPARE(ServerConfigManager::instance().getLanguage(), language);
    const bool english = language == QLatin1String("en");
    if (english) {
        for (QString text : allTexts())
            QVERIFY2(!CHINESE.match(text.remove(TYPED_NAME)).hasMatch(), qPrintable(text));
    } else {
        QCOMPARE(allTexts(), chinese);
    }

    for (QWidget *top : windows) {
        for (QWidget *control : focusable(top)) {
            QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
            QString name = accessible ? accessible->text(QAccessible::Name) : QString();
            const QByteArray what
                = control->metaObject()->className() + (' ' + control->objectName().toUtf8());
            QVERIFY2(!name.isEmpty(), what.constData());
            QVERIFY2(!english || !CHINESE.match(name.remove(TYPED_NAME)).hasMatch(), qPrintable(name));
        }
    }

    // From the first row's port, Tab goes through every control of the window and comes back, never
    // going up the window by more than a card's close button above its other buttons.
    const QList<QWidget *> controls = focusable(&window);
    const auto place = [&window](QWidget *widget) {
        const QPoint centre = widget->mapTo(&window, widget->rect().center());
        return std::make_pair(centre.y(), centre.x());
    };
    dialog->hide();
    log->hide();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    (*std::min_element(controls.cbegin(), controls.cend(), [&place](QWidget *a, QWidget *b) {
        return place(a) < place(b);
    }))->setFocus(Qt::TabFocusReason);
    QList<QWidget *> visited;
    for (qsizetype i = 0; i <= controls.size(); ++i) {
        QWidget *focused = owner(QApplication::focusWidget());
        QVERIFY(focused);
        if (!visited.isEmpty()) {
            const int up = place(visited.last()).first - place(focused).first;
            QVERIFY2(visited.size() == controls.size() || up < 40,
                     qPrintable(QStringLiteral("%1 after %2")
                                    .arg(focused->metaObject()->className(),
                                         visited.last()->metaObject()->className())));
        }
        visited << focused;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited.last(), visited.first());
    visited.removeLast();
    QCOMPARE(QSet<QWidget *>(visited.cbegin(), visited.cend()),
             QSet<QWidget *>(controls.cbegin(), controls.cend()));
    QCOMPARE(visited.size(), controls.size());

    // Space on a card's close button asks, in the language chosen, whether to delete that server.
    ModalScript script;
    script.answer(QMessageBox::No);
    for (ServerCardWidget *card : window.findChildren<ServerCardWidget *>()) {
        if (card->accessibleName() == TYPED_NAME)
            QTest::keyClick(card->findChild<QToolButton *>(QStringLiteral("deleteServerButton")),
                            Qt::Key_Space);
    }
    QTRY_VERIFY(script.finished());
    QString box = script.boxes.value(0);
    if (english)
        QVERIFY2(!box.isEmpty() && !CHINESE.match(box.remove(TYPED_NAME)).hasMatch(), qPrintable(box));
    else
        QCOMPARE(box, QStringLiteral("确认删除|确定要删除配置 \"香港节点\" 吗？"));
}

MARROWGATE_TEST_MAIN(TestLanguage)
#include "tst_language.moc"
