// SPDX-License-Identifier: Apache-2.0
#include "modalscript.h"
#include "testsupport.h"

#include "core/frpcmanager.h"
#include "core/serverconfig.h"
#include "gui/mainwindow.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>

#include <functional>

using TestSupport::buttonWithText;

namespace {

struct DialogFields
{
    QLineEdit *name = nullptr;
    QLineEdit *addr = nullptr;
    QSpinBox *port = nullptr;
    QLineEdit *token = nullptr;
    QSpinBox *webPort = nullptr;
    QPushButton *save = nullptr;
    QPushButton *cancel = nullptr;
};

DialogFields fieldsOf(QDialog *dialog)
{
    DialogFields fields;
    const auto edits = dialog->findChildren<QLineEdit *>(Qt::FindDirectChildrenOnly);
    const auto spins = dialog->findChildren<QSpinBox *>(Qt::FindDirectChildrenOnly);
    if (edits.size() == 3 && spins.size() == 2) {
        fields.name = edits.at(0);
        fields.addr = edits.at(1);
        fields.token = edits.at(2);
        fields.port = spins.at(0);
        fields.webPort = spins.at(1);
    }
    for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
        if (button->text() == QStringLiteral("保存"))
            fields.save = button;
        else if (button->text() == QStringLiteral("取消"))
            fields.cancel = button;
    }
    return fields;
}

void fill(const DialogFields &fields, const QString &name, const QString &addr, int port,
          const QString &token, int webPort)
{
    fields.name->setText(name);
    fields.addr->setText(addr);
    fields.port->setValue(port);
    fields.token->setText(token);
    fields.webPort->setValue(webPort);
}

ServerConfig userConfig(const QString &name, int port = 7000, int webPort = 7400)
{
    ServerConfig config;
    config.name = name;
    config.serverAddr = QStringLiteral("10.1.1.") + QString::number(name.size());
    config.serverPort = port;
    config.token = QStringLiteral("token-") + name;
    config.webServerPort = webPort;
    return config;
}

QStringList storedNames()
{
    QStringList names;
    for (const ServerConfig &config : ServerConfigManager::instance().getConfigs())
        names << config.name;
    return names;
}

// The cards in the list, in layout order, after the old ones of a rebuild are gone.
QList<ServerCardWidget *> listedCards(MainWindow &window)
{
    QList<ServerCardWidget *> cards;
    QLayout *layout = window.findChild<QScrollArea *>()->widget()->layout();
    for (int i = 0; i < layout->count(); ++i) {
        if (auto *card = qobject_cast<ServerCardWidget *>(layout->itemAt(i)->widget()))
            cards << card;
    }
    return cards;
}

// The list shows one card per stored entry, in store order, then exactly one stretch, and no
// card of an earlier build survives.
void verifyCardsMatchStore(MainWindow &window)
{
    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    QLayout *layout = window.findChild<QScrollArea *>()->widget()->layout();
    QTRY_COMPARE(window.findChildren<ServerCardWidget *>().size(), int(configs.size()));
    QCOMPARE(layout->count(), int(configs.size()) + 1);
    QVERIFY(layout->itemAt(layout->count() - 1)->spacerItem());
    const QList<ServerCardWidget *> cards = listedCards(window);
    QCOMPARE(cards.size(), int(configs.size()));
    for (int i = 0; i < cards.size(); ++i) {
        QCOMPARE(cards.at(i)->getIndex(), i);
        const auto labels = cards.at(i)->findChildren<QLabel *>();
        QVERIFY2(labels.first()->text().contains(configs.at(i).name), qPrintable(labels.first()->text()));
    }
}

void pressCloseButton(ServerCardWidget *card)
{
    QTest::mousePress(card, Qt::LeftButton, Qt::NoModifier, QPoint(card->width() - 17, 15));
}

// Right-clicks `target` and picks the menu entry that reads `text`, as a person would; the entry's
// dialogs are left to the modal script.
void chooseFromContextMenu(QWidget *target, const QString &text)
{
    QTimer picker;
    QObject::connect(&picker, &QTimer::timeout, &picker, [&picker, text] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        picker.stop();
        for (QAction *action : menu->actions()) {
            if (action->text() == text) {
                menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
                return;
            }
        }
        menu->close();
    });
    picker.start(10);
    const QPoint pos(target->width() / 2, target->height() / 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
    QApplication::sendEvent(target, &event);
    QVERIFY2(!picker.isActive(), "no context menu appeared");
}

// Puts `path` into the file dialog's name field and presses its accept button.
void answerFileDialog(ModalScript *script, const QString &path)
{
    script->onDialog([path](QDialog *dialog) {
        auto *fileDialog = qobject_cast<QFileDialog *>(dialog);
        QVERIFY(fileDialog);
        auto *nameEdit = fileDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(nameEdit);
        // Pasted rather than typed key by key, so no completion list opens over the field.
        nameEdit->setText(path);
        QTest::keyClick(nameEdit, Qt::Key_Return);
    });
}

void answerImportQuestion(ModalScript *script, const QString &choice)
{
    script->onMessageBox([script, choice](QMessageBox *box) {
        script->boxes << box->windowTitle();
        ModalScript::press(buttonWithText(box, choice));
    });
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestEditServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void builtInEntryIsRefused_data();
    void builtInEntryIsRefused();
    void deleteOutsideTheListDoesNothing_data();
    void deleteOutsideTheListDoesNothing();
    void addDialogLooksAsItShould_data();
    void addDialogLooksAsItShould();
    void addingStoresTrimmedValues();
    void validationKeepsTheDialogOpen_data();
    void validationKeepsTheDialogOpen();
    void cancellingChangesNothing_data();
    void cancellingChangesNothing();
    void editingKeepsThePosition();
    void outOfRangePortsAreClamped();
    void deleteQuestion_data();
    void deleteQuestion();
    void deletingTheLastUserEntryLeavesTheBuiltInCard();
    void deletingTheConnectedEntryStopsTheTunnel();
    void exportAndImportThroughTheMenu();
    void rejectedImportChangesNothing_data();
    void rejectedImportChangesNothing();

private:
    ModalScript *m_script = nullptr;
};

void TestEditServer::init()
{
    auto &store = ServerConfigManager::instance();
    while (store.getConfigs().size() > 1)
        store.removeConfig(store.getConfigs().size() - 1);
    store.addConfig(userConfig(QStringLiteral("alpha")));
    store.addConfig(userConfig(QStringLiteral("beta")));
    store.addConfig(userConfig(QStringLiteral("gamma")));
    m_script = new ModalScript;
    // File dialogs the test can type into, whatever the desktop offers.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TestEditServer::cleanup()
{
    finishModalScript(m_script);
}

void TestEditServer::builtInEntryIsRefused_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("box");
    QTest::newRow("edit") << QByteArray("onEditServer") << QStringLiteral("无法编辑|内置配置不可编辑");
    QTest::newRow("delete") << QByteArray("onDeleteServer") << QStringLiteral("无法删除|内置配置不可删除");
}

void TestEditServer::builtInEntryIsRefused()
{
    QFETCH(QByteArray, slot);
    QFETCH(QString, box);
    MainWindow window;
    const QStringList before = storedNames();

    m_script->answer(QMessageBox::Ok);
    QVERIFY(QMetaObject::invokeMethod(&window, slot.constData(), Q_ARG(int, 0)));

    QCOMPARE(m_script->boxes, QStringList { box });
    QCOMPARE(storedNames(), before);
    QCoreApplication::processEvents();
    verifyCardsMatchStore(window);
}

void TestEditServer::deleteOutsideTheListDoesNothing_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("-1") << -1;
    QTest::newRow("list size") << 4;
    QTest::newRow("far beyond") << 1000;
}

void TestEditServer::deleteOutsideTheListDoesNothing()
{
    QFETCH(int, index);
    MainWindow window;
    const QStringList before = storedNames();

    QVERIFY(QMetaObject::invokeMethod(&window, "onDeleteServer", Q_ARG(int, index)));

    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(storedNames(), before);
}

void TestEditServer::addDialogLooksAsItShould_data()
{
    QTest::addColumn<int>("theme");
    QTest::newRow("light window") << 0;
    QTest::newRow("dark window") << 1;
}

void TestEditServer::addDialogLooksAsItShould()
{
    QFETCH(int, theme);
    MainWindow window;
    window.findChild<QComboBox *>(QStringLiteral("themeCombo"))->setCurrentIndex(theme);
    window.show();

    const QString lineEditSheet = QStringLiteral("QLineEdit { background-color: #FFFFFF; border: 1px solid "
                                                 "#DFE6E9; border-radius: 6px; padding: 8px 12px; "
                                                 "color: #2C3E50; }");
    QStringList seen;
    QPointer<QDialog> opened;
    m_script->onDialog([&](QDialog *dialog) {
        seen << dialog->windowTitle();
        opened = dialog;
        QCOMPARE(dialog->size(), QSize(400, 350));
        QCOMPARE(dialog->styleSheet(), window.styleSheet());

        const DialogFields fields = fieldsOf(dialog);
        QVERIFY(fields.name && fields.save && fields.cancel);
        auto *form = dialog->findChild<QFormLayout *>();
        const auto labelOf = [form](QWidget *field) {
            return qobject_cast<QLabel *>(form->labelForField(field))->text();
        };
        QCOMPARE(labelOf(fields.name), QStringLiteral("配置名称:"));
        QCOMPARE(labelOf(fields.addr), QStringLiteral("服务器地址:"));
        QCOMPARE(labelOf(fields.port), QStringLiteral("服务器端口:"));
        QCOMPARE(labelOf(fields.token), QStringLiteral("Token:"));
        QCOMPARE(labelOf(fields.webPort), QStringLiteral("Web API 端口:"));
        QCOMPARE(fields.name->placeholderText(), QStringLiteral("例如: 主服务器"));
        QCOMPARE(fields.addr->placeholderText(), QStringLiteral("例如: 127.0.0.1"));
        QCOMPARE(fields.token->placeholderText(), QStringLiteral("认证令牌"));
        QCOMPARE(fields.token->echoMode(), QLineEdit::Normal);
        for (QLineEdit *edit : { fields.name, fields.addr, fields.token }) {
            QVERIFY(edit->text().isEmpty());
            QCOMPARE(edit->styleSheet(), lineEditSheet);
        }
        QCOMPARE(fields.port->value(), 7000);
        QCOMPARE(fields.webPort->value(), 7400);
        for (QSpinBox *spin : { fields.port, fields.webPort }) {
            QCOMPARE(spin->minimum(), 1);
            QCOMPARE(spin->maximum(), 65535);
            QCOMPARE(spin->buttonSymbols(), QAbstractSpinBox::NoButtons);
        }
        // The window sheet's button padding and minimum height win over the fixed height.
        QCOMPARE(fields.save->width(), 70);
        QCOMPARE(fields.cancel->width(), 70);
        ModalScript::press(fields.cancel);
    });
    QTest::mouseClick(buttonWithText(&window, QStringLiteral("+ 添加")), Qt::LeftButton);

    QCOMPARE(seen, QStringList { QStringLiteral("添加服务器") });
    // The dialog deletes itself once closed.
    QTRY_VERIFY(opened.isNull());
}

void TestEditServer::addingStoresTrimmedValues()
{
    MainWindow window;
    window.show();
    const int before = ServerConfigManager::instance().getConfigs().size();

    m_script->onDialog([](QDialog *dialog) {
        const DialogFields fields = fieldsOf(dialog);
        fill(fields, QStringLiteral("  delta \t"), QStringLiteral(" 192.0.2.9 "), 7001,
             QStringLiteral(" secret "), 7401);
        ModalScript::press(fields.save);
    });
    QTest::mouseClick(buttonWithText(&window, QStringLiteral("+ 添加")), Qt::LeftButton);

    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    QCOMPARE(configs.size(), before + 1);
    const ServerConfig &added = configs.last();
    QCOMPARE(added.name, QStringLiteral("delta"));
    QCOMPARE(added.serverAddr, QStringLiteral("192.0.2.9"));
    QCOMPARE(added.serverPort, 7001);
    QCOMPARE(added.token, QStringLiteral("secret"));
    QCOMPARE(added.webServerPort, 7401);
    QVERIFY(!added.isBuiltIn);

    // The cards are rebuilt once control is back in the event loop.
    QCOMPARE(listedCards(window).size(), before);
    QTRY_COMPARE(listedCards(window).size(), before + 1);
    verifyCardsMatchStore(window);
    QCOMPARE(listedCards(window).last()->findChildren<QLabel *>().at(1)->text(),
             QStringLiteral("192.0.2.9:7001"));
}

void TestEditServer::validationKeepsTheDialogOpen_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("addr");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty name") << QString() << QStringLiteral("h") << QStringLiteral("t")
                                << QStringLiteral("配置名称不能为空");
    QTest::newRow("name of blanks") << QStringLiteral("   ") << QStringLiteral("h") << QStringLiteral("t")
                                    << QStringLiteral("配置名称不能为空");
    QTest::newRow("address of blanks") << QStringLiteral("n") << QStringLiteral(" \t ") << QStringLiteral("t")
                                       << QStringLiteral("服务器地址不能为空");
    QTest::newRow("token of blanks") << QStringLiteral("n") << QStringLiteral("h") << QStringLiteral("  ")
                                     << QStringLiteral("Token 不能为空");
    QTest::newRow("everything empty: the name comes first")
        << QString() << QString() << QString() << QStringLiteral("配置名称不能为空");
    QTest::newRow("address and token empty: the address comes first")
        << QStringLiteral("n") << QString() << QString() << QStringLiteral("服务器地址不能为空");
}

void TestEditServer::validationKeepsTheDialogOpen()
{
    QFETCH(QString, name);
    QFETCH(QString, addr);
    QFETCH(QString, token);
    QFETCH(QString, message);

    MainWindow window;
    window.show();
    const QStringList before = storedNames();

    QPointer<QDialog> opened;
    m_script->onDialog([&](QDialog *dialog) {
        opened = dialog;
        fill(fieldsOf(dialog), name, addr, 7000, token, 7400);
        ModalScript::press(fieldsOf(dialog).save);
    });
    m_script->onMessageBox([&](QMessageBox *box) {
        QCOMPARE(box->parentWidget(), opened.data());
        m_script->boxes << box->windowTitle() + QLatin1Char('|') + box->text();
        QCOMPARE(box->standardButtons(), QMessageBox::Ok);
        ModalScript::press(box->button(QMessageBox::Ok));
    });
    m_script->onDialog([&](QDialog *dialog) {
        QCOMPARE(dialog, opened.data());
        const DialogFields fields = fieldsOf(dialog);
        QCOMPARE(fields.name->text(), name);
        QCOMPARE(fields.addr->text(), addr);
        QCOMPARE(fields.token->text(), token);
        ModalScript::press(fields.cancel);
    });
    QTest::mouseClick(buttonWithText(&window, QStringLiteral("+ 添加")), Qt::LeftButton);

    QCOMPARE(m_script->boxes, QStringList { QStringLiteral("验证失败|") + message });
    QCOMPARE(storedNames(), before);
}

void TestEditServer::cancellingChangesNothing_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("cancel button") << false;
    QTest::newRow("Escape key") << true;
}

void TestEditServer::cancellingChangesNothing()
{
    QFETCH(bool, escape);
    MainWindow window;
    window.show();
    const QList<ServerCardWidget *> cards = listedCards(window);
    const QStringList before = storedNames();

    m_script->onDialog([&](QDialog *dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("编辑服务器"));
        const DialogFields fields = fieldsOf(dialog);
        fill(fields, QStringLiteral("changed"), QStringLiteral("changed"), 1, QStringLiteral("changed"), 1);
        if (escape)
            QTimer::singleShot(0, dialog, [dialog] { QTest::keyClick(dialog, Qt::Key_Escape); });
        else
            ModalScript::press(fields.cancel);
    });
    QTest::mouseClick(buttonWithText(cards.at(2), QStringLiteral("编辑")), Qt::LeftButton);

    QCOMPARE(storedNames(), before);
    QCOMPARE(ServerConfigManager::instance().getConfigs().at(2).serverPort, 7000);
    QCoreApplication::processEvents();
    QCOMPARE(listedCards(window), cards);
}

void TestEditServer::editingKeepsThePosition()
{
    MainWindow window;
    window.show();
    const ServerConfig original = ServerConfigManager::instance().getConfigs().at(2);

    m_script->onDialog([&](QDialog *dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("编辑服务器"));
        const DialogFields fields = fieldsOf(dialog);
        QCOMPARE(fields.name->text(), original.name);
        QCOMPARE(fields.addr->text(), original.serverAddr);
        QCOMPARE(fields.port->value(), original.serverPort);
        QCOMPARE(fields.token->text(), original.token);
        QCOMPARE(fields.webPort->value(), original.webServerPort);
        fields.name->setText(QStringLiteral(" beta two "));
        fields.port->setValue(7100);
        ModalScript::press(fields.save);
    });
    QTest::mouseClick(buttonWithText(listedCards(window).at(2), QStringLiteral("编辑")), Qt::LeftButton);

    QCOMPARE(storedNames(),
             (QStringList { ServerConfigManager::instance().getConfigs().at(0).name, QStringLiteral("alpha"),
                            QStringLiteral("beta two"), QStringLiteral("gamma") }));
    const ServerConfig edited = ServerConfigManager::instance().getConfigs().at(2);
    QCOMPARE(edited.serverPort, 7100);
    QCOMPARE(edited.token, original.token);
    QVERIFY(!edited.isBuiltIn);
    QTRY_VERIFY(listedCards(window).at(2)->findChildren<QLabel *>().at(0)->text().endsWith(
        QLatin1String("beta two")));
    verifyCardsMatchStore(window);
}

void TestEditServer::outOfRangePortsAreClamped()
{
    ServerConfigManager::instance().addConfig(userConfig(QStringLiteral("zero"), 0, 70000));
    MainWindow window;
    window.show();
    const int index = ServerConfigManager::instance().getConfigs().size() - 1;

    m_script->onDialog([&](QDialog *dialog) {
        const DialogFields fields = fieldsOf(dialog);
        QCOMPARE(fields.port->value(), 1);
        QCOMPARE(fields.webPort->value(), 65535);
        ModalScript::press(fields.save);
    });
    QTest::mouseClick(buttonWithText(listedCards(window).at(index), QStringLiteral("编辑")), Qt::LeftButton);

    const ServerConfig saved = ServerConfigManager::instance().getConfigs().at(index);
    QCOMPARE(saved.name, QStringLiteral("zero"));
    QCOMPARE(saved.serverPort, 1);
    QCOMPARE(saved.webServerPort, 65535);
}

void TestEditServer::deleteQuestion_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QStringList>("namesAfter");
    QTest::newRow("No keeps everything")
        << QMessageBox::No
        << QStringList { QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("gamma") };
    QTest::newRow("Yes removes the entry")
        << QMessageBox::Yes << QStringList { QStringLiteral("alpha"), QStringLiteral("gamma") };
}

void TestEditServer::deleteQuestion()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QStringList, namesAfter);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QList<ServerCardWidget *> cards = listedCards(window);

    m_script->onMessageBox([&](QMessageBox *box) {
        m_script->boxes << box->windowTitle() + QLatin1Char('|') + box->text();
        QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        ModalScript::press(box->button(answer));
    });
    pressCloseButton(cards.at(2));

    QCOMPARE(m_script->boxes, QStringList { QStringLiteral("确认删除|确定要删除配置 \"beta\" 吗？") });
    QCOMPARE(storedNames().mid(1), namesAfter);
    if (answer == QMessageBox::No) {
        QCoreApplication::processEvents();
        QCOMPARE(listedCards(window), cards);
    } else {
        QTRY_COMPARE(listedCards(window).size(), 3);
    }
    verifyCardsMatchStore(window);
}

void TestEditServer::deletingTheLastUserEntryLeavesTheBuiltInCard()
{
    auto &store = ServerConfigManager::instance();
    store.removeConfig(3);
    store.removeConfig(2);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    m_script->answer(QMessageBox::Yes);
    pressCloseButton(listedCards(window).at(1));

    QTRY_COMPARE(listedCards(window).size(), 1);
    verifyCardsMatchStore(window);
    QCOMPARE(listedCards(window).first()->getIndex(), 0);
    QVERIFY(store.getConfigs().first().isBuiltIn);
}

void TestEditServer::deletingTheConnectedEntryStopsTheTunnel()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *controller = window.findChild<FrpcManager *>();

    QTest::mouseClick(buttonWithText(listedCards(window).at(2), QStringLiteral("连接")), Qt::LeftButton);
    QCOMPARE(buttonWithText(listedCards(window).at(2), QStringLiteral("断开")) != nullptr, true);
    QVERIFY(controller->status() == FrpcManager::Starting || controller->status() == FrpcManager::Running);
    for (int i : { 0, 1, 3 })
        QVERIFY(!listedCards(window).at(i)->isEnabled());

    // Saving the connected entry rebuilds the list; the new cards show the same connection.
    const QList<ServerCardWidget *> oldCards = listedCards(window);
    m_script->onDialog([](QDialog *dialog) { ModalScript::press(fieldsOf(dialog).save); });
    QTest::mouseClick(buttonWithText(oldCards.at(2), QStringLiteral("编辑")), Qt::LeftButton);
    QTRY_VERIFY(listedCards(window).at(2) != oldCards.at(2));
    verifyCardsMatchStore(window);
    QVERIFY(buttonWithText(listedCards(window).at(2), QStringLiteral("断开")));
    QVERIFY(listedCards(window).at(2)->isEnabled());
    for (int i : { 0, 1, 3 })
        QVERIFY(!listedCards(window).at(i)->isEnabled());

    m_script->answer(QMessageBox::Yes);
    pressCloseButton(listedCards(window).at(2));

    QCOMPARE(storedNames().mid(1), (QStringList { QStringLiteral("alpha"), QStringLiteral("gamma") }));
    QVERIFY(controller->status() == FrpcManager::Stopping || controller->status() == FrpcManager::Stopped);
    QTRY_COMPARE(controller->status(), FrpcManager::Stopped);
    QTRY_COMPARE(listedCards(window).size(), 3);
    verifyCardsMatchStore(window);
    for (ServerCardWidget *card : listedCards(window)) {
        QVERIFY(card->isEnabled());
        QVERIFY(buttonWithText(card, QStringLiteral("连接")));
    }

    // Nothing is connected any more: closing asks no question.
    QVERIFY(window.close());
}

void TestEditServer::exportAndImportThroughTheMenu()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *cardArea = window.findChild<QScrollArea *>()->widget();
    const QString folder = TestSupport::sandboxPath() + QStringLiteral("/export");
    QVERIFY(QDir().mkpath(folder));
    const QString exported = folder + QStringLiteral("/servers.json");
    const QStringList before = storedNames();

    // Export from a card: the whole list, the built-in entry included, owner-only.
    answerFileDialog(m_script, exported);
    m_script->answer(QMessageBox::Ok);
    chooseFromContextMenu(listedCards(window).at(1), QStringLiteral("导出服务器列表..."));
    QTRY_VERIFY(m_script->finished());
    QCOMPARE(m_script->boxes.size(), 1);
    QVERIFY(m_script->boxes.first().startsWith(QStringLiteral("导出完成|")));
    const QByteArray text = readFile(exported);
    QCOMPARE(QJsonDocument::fromJson(text).array().size(), before.size());
    const QFile::Permissions permissions = QFile::permissions(exported);
    QVERIFY(permissions.testFlags(QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(int(permissions & 0x0077), 0); // nothing for the group or others

    // An export that cannot be written says where and why, and leaves nothing behind.
    const QString missing = folder + QStringLiteral("/missing/servers.json");
    answerFileDialog(m_script, missing);
    m_script->answer(QMessageBox::Ok);
    chooseFromContextMenu(cardArea, QStringLiteral("导出服务器列表..."));
    QTRY_VERIFY(m_script->finished());
    QVERIFY(m_script->boxes.last().startsWith(QStringLiteral("导出失败|")));
    QVERIFY(m_script->boxes.last().contains(QDir::toNativeSeparators(missing)));
    QVERIFY(!QFile::exists(missing));

    // Appending the export adds its four entries as user entries after the current ones.
    m_script->boxes.clear();
    answerFileDialog(m_script, exported);
    answerImportQuestion(m_script, QStringLiteral("追加"));
    m_script->answer(QMessageBox::Ok);
    chooseFromContextMenu(cardArea, QStringLiteral("导入服务器列表..."));
    QTRY_VERIFY(m_script->finished());
    QCOMPARE(m_script->boxes.last(), QStringLiteral("导入完成|已添加 4 个服务器，跳过 0 个无效条目。"));
    QCOMPARE(storedNames(), before + before);
    QVERIFY(!ServerConfigManager::instance().getConfigs().at(4).isBuiltIn);
    verifyCardsMatchStore(window);

    // Replacing, from the header row, with a file holding one valid and two invalid elements: the
    // built-in entry comes back in front at once.
    const QString replacement = folder + QStringLiteral("/replacement.json");
    QFile file(replacement);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"([{"name":"delta","serverAddr":"10.0.0.4","serverPort":7001,"token":"t"},
                  {"name":"no token","serverAddr":"10.0.0.5"}, 17])");
    file.close();
    answerFileDialog(m_script, replacement);
    answerImportQuestion(m_script, QStringLiteral("替换"));
    m_script->answer(QMessageBox::Ok);
    chooseFromContextMenu(buttonWithText(&window, QStringLiteral("+ 添加")),
                          QStringLiteral("导入服务器列表..."));
    QTRY_VERIFY(m_script->finished());
    QCOMPARE(m_script->boxes.last(), QStringLiteral("导入完成|已添加 1 个服务器，跳过 2 个无效条目。"));
    QCOMPARE(storedNames(), (QStringList { before.first(), QStringLiteral("delta") }));
    QVERIFY(ServerConfigManager::instance().getConfigs().first().isBuiltIn);
    verifyCardsMatchStore(window);
}

void TestEditServer::rejectedImportChangesNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("box");

    const QByteArray valid = R"([{"name":"delta","serverAddr":"10.0.0.4","token":"t"}])";
    QByteArray large = valid;
    large.insert(1, QByteArray(1024 * 1024, ' '));
    QTest::newRow("not JSON") << QByteArray("[{\"name\"") << QStringLiteral("追加") << false
                              << QStringLiteral("导入失败");
    QTest::newRow("object") << QByteArray("{}") << QStringLiteral("追加") << false
                            << QStringLiteral("导入失败");
    QTest::newRow("empty array") << QByteArray("[]") << QStringLiteral("替换") << false
                                 << QStringLiteral("导入失败");
    QTest::newRow("over 1 MiB") << large << QStringLiteral("替换") << false << QStringLiteral("导入失败");
    QTest::newRow("cancelled") << valid << QStringLiteral("取消") << false << QString();
    QTest::newRow("replace while connected")
        << valid << QStringLiteral("替换") << true << QStringLiteral("无法替换");
}

void TestEditServer::rejectedImportChangesNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, choice);
    QFETCH(bool, connected);
    QFETCH(QString, box);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *controller = window.findChild<FrpcManager *>();
    if (connected)
        QTest::mouseClick(buttonWithText(listedCards(window).at(1), QStringLiteral("连接")), Qt::LeftButton);
    const QString path = TestSupport::sandboxPath() + QStringLiteral("/import.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.close();
    const QStringList before = storedNames();
    const QByteArray settingsBefore = readFile(QSettings().fileName());

    answerFileDialog(m_script, path);
    answerImportQuestion(m_script, choice);
    if (!box.isEmpty())
        m_script->answer(QMessageBox::Ok);
    chooseFromContextMenu(window.findChild<QScrollArea *>()->widget(), QStringLiteral("导入服务器列表..."));
    QTRY_VERIFY(m_script->finished());

    if (!box.isEmpty()) {
        QCOMPARE(m_script->boxes.size(), 2);
        QVERIFY2(m_script->boxes.last().startsWith(box + QLatin1Char('|')),
                 qPrintable(m_script->boxes.last()));
    }
    QCOMPARE(storedNames(), before);
    QCOMPARE(readFile(QSettings().fileName()), settingsBefore);
    if (connected) {
        QVERIFY(buttonWithText(listedCards(window).at(1), QStringLiteral("断开")));
        controller->stop();
        QTRY_COMPARE(controller->status(), FrpcManager::Stopped);
    }
}

MARROWGATE_TEST_MAIN(TestEditServer)
#include "tst_editserver.moc"
