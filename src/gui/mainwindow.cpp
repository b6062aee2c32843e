// The main window: the server cards, the local port, the status line and the copy buttons.
#include "mainwindow.h"

#include "cardlatencies.h"
#include "darkthemehelper.h"
#include "logwindow.h"
#include "plainmessagebox.h"
#include "reachabilitylabel.h"
#include "serverconfig.h"
#include "servereditdialog.h"
#include "serverlisttransfer.h"
#include "startatlogin.h"
#include "themestyles.h"
#include "tunneladdress.h"
#include "tunnelnotifications.h"
#include "tunnelrows.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Said once per run, when closing the window leaves the tunnel running in the tray.
const char STILL_RUNNING_SUMMARY[] = "Marrowgate 仍在运行";
const char STILL_RUNNING_BODY[] = "隧道在托盘中继续运行，右键托盘图标可退出";

const char COPIED_CAPTION[] = "✓ 已复制";
const int COPIED_CAPTION_MS = 1500;

} // namespace

// ---------------------------------------------------------------------------------------------
// MainWindow

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_frpcManager(new FrpcManager(this))
    , m_logWindow(new LogWindow(this))
{
    setupUI();
    loadSettings();
    loadServerCards();
    setupDesktopNotifications();

    connect(m_frpcManager, &FrpcManager::statusChanged, this, &MainWindow::onStatusChanged);
    connect(m_frpcManager, &FrpcManager::remotePortReady, this, &MainWindow::onRemotePortReady);
    connect(m_frpcManager, &FrpcManager::logMessage, this, &MainWindow::onLogMessage);
    connect(m_frpcManager, &FrpcManager::errorOccurred, this, &MainWindow::onError);
    connect(m_frpcManager, &FrpcManager::localServiceHintChanged, this,
            &MainWindow::onLocalServiceHintChanged);
    // The first tunnel's UDP half and the other tunnels' addresses reach the status line and the tray.
    connect(m_frpcManager, &FrpcManager::tunnelsChanged, this, [this] {
        if (m_frpcManager->status() == FrpcManager::Running && !m_remotePort.isEmpty())
            onRemotePortReady(m_remotePort);
    });

    setupTray();
    updateStatusDisplay();
}

MainWindow::~MainWindow()
{
    if (m_connectedServerIndex != -1)
        m_frpcManager->stop();
    saveSettings();

    // The controller is destroyed with the window's children, after this destructor has run; what
    // it reports from then on (its clean-up logs a last line) must not reach the dying window.
    disconnect(m_frpcManager, nullptr, this, nullptr);
}

void MainWindow::setupUI()
{
    setWindowTitle(QStringLiteral("Marrowgate v1.0.0"));
    setWindowIcon(QIcon(QStringLiteral(":/main.png")));
    setMinimumSize(700, 600);
    resize(750, 650);

    auto *central = new QWidget(this);
    setCentralWidget(central);
    auto *mainLayout = new QVBoxLayout(central);
    mainLayout->setContentsMargins(24, 24, 24, 24);
    mainLayout->setSpacing(18);

    auto *topAreaLayout = new QVBoxLayout;
    topAreaLayout->setSpacing(12);

    auto *portLayout = new QHBoxLayout;
    portLayout->setAlignment(Qt::AlignCenter);
    auto *portLabel = new QLabel(QStringLiteral("本地端口"), this);
    portLabel->setStyleSheet(QStringLiteral("font-size: 12pt; font-weight: 600;"));
    m_localPortSpin = new QSpinBox(this);
    m_localPortSpin->setRange(1, 65535);
    m_localPortSpin->setValue(12345);
    m_localPortSpin->setFixedWidth(100);
    m_localPortSpin->setFixedHeight(32);
    m_localPortSpin->setStyleSheet(QStringLiteral("font-size: 11pt;"));
    m_localPortSpin->setAlignment(Qt::AlignCenter);
    m_localPortSpin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    // The item data is the FrpcManager::Protocol the entry stands for.
    m_protocolCombo = new QComboBox(this);
    m_protocolCombo->setObjectName(QStringLiteral("protocolCombo"));
    TunnelRows::addProtocols(m_protocolCombo);
    m_protocolCombo->setFixedWidth(136);
    m_protocolCombo->setFixedHeight(32);
    m_protocolCombo->setStyleSheet(QStringLiteral("font-size: 11pt;"));
    portLayout->addWidget(portLabel, 0, Qt::AlignVCenter);
    portLayout->addWidget(m_localPortSpin, 0, Qt::AlignVCenter);
    portLayout->addWidget(m_protocolCombo, 0, Qt::AlignVCenter);
    m_tunnelRows = new TunnelRows(m_frpcManager, m_localPortSpin, this);
    m_tunnelRows->placeAddButton(portLayout);
    topAreaLayout->addLayout(portLayout);
    topAreaLayout->addWidget(m_tunnelRows);

    auto *statusLayout = new QHBoxLayout;
    statusLayout->setAlignment(Qt::AlignCenter);
    m_statusLabel
        = new QLabel(QStringLiteral("连接状态: <span style='color: #95A5A6;'>● 未连接</span>"), this);
    m_statusLabel->setStyleSheet(QStringLiteral("font-size: 11pt;"));
    m_statusLabel->setAlignment(Qt::AlignVCenter);
    m_statusLabel->setTextFormat(Qt::RichText);

    m_copyIPBtn = new QPushButton(QStringLiteral("复制IP"), this);
    m_copyIPBtn->setFixedWidth(60);
    m_copyIPBtn->setFixedHeight(24);
    m_copyIPBtn->setStyleSheet(QStringLiteral("font-size: 9pt; padding: 2px 6px;"));
    m_copyIPBtn->hide();
    connect(m_copyIPBtn, &QPushButton::clicked, this, &MainWindow::onCopyIP);

    m_copyPortBtn = new QPushButton(QStringLiteral("复制端口"), this);
    m_copyPortBtn->setFixedWidth(70);
    m_copyPortBtn->setFixedHeight(24);
    m_copyPortBtn->setStyleSheet(QStringLiteral("font-size: 9pt; padding: 2px 6px;"));
    m_copyPortBtn->hide();
    connect(m_copyPortBtn, &QPushButton::clicked, this, &MainWindow::onCopyPort);

    statusLayout->addWidget(m_statusLabel);
    statusLayout->addSpacing(10);
    statusLayout->addWidget(m_copyIPBtn, 0, Qt::AlignVCenter);
    statusLayout->addWidget(m_copyPortBtn, 0, Qt::AlignVCenter);
    topAreaLayout->addLayout(statusLayout);

    // A word, never a box: the tunnel works, but its visitors reach nothing yet.
    m_localServiceHint = new QLabel(this);
    m_localServiceHint->setAlignment(Qt::AlignCenter);
    m_localServiceHint->setTextFormat(Qt::PlainText);
    m_localServiceHint->hide();
    topAreaLayout->addWidget(m_localServiceHint);
    m_reachabilityLabel = new ReachabilityLabel(
        m_frpcManager, [this] { return m_connectedAddress; }, this);
    connect(m_reachabilityLabel, &ReachabilityLabel::logMessage, this, &MainWindow::onLogMessage);
    connect(m_tunnelRows->reachability(), &TunnelReachability::logMessage, this, &MainWindow::onLogMessage);
    topAreaLayout->addWidget(m_reachabilityLabel);
    mainLayout->addLayout(topAreaLayout);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(ThemeStyles::separatorSheet());
    line->setFixedHeight(1);
    mainLayout->addWidget(line);

    auto *headerLayout = new QHBoxLayout;
    auto *titleLabel = new QLabel(QStringLiteral("服务器列表"), this);
    titleLabel->setStyleSheet(QStringLiteral("font-size: 14pt; font-weight: bold;"));
    m_addBtn = new QPushButton(QStringLiteral("+ 添加"), this);
    m_addBtn->setFixedWidth(80);
    m_addBtn->setFixedHeight(28);
    m_addBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    headerLayout->addWidget(titleLabel);
    headerLayout->addStretch();
    headerLayout->addWidget(m_addBtn);
    mainLayout->addLayout(headerLayout);

    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setStyleSheet(
        QStringLiteral("QScrollArea { background-color: transparent; border: none; }"));

    m_cardsContainer = new QWidget;
    m_cardsLayout = new QVBoxLayout(m_cardsContainer);
    m_cardsLayout->setSpacing(14);
    m_cardsLayout->setContentsMargins(0, 0, 0, 0);
    m_cardsLayout->setAlignment(Qt::AlignTop);
    m_scrollArea->setWidget(m_cardsContainer);
    m_cardLatencies = new CardLatencies(this, m_cardsLayout, [this] {
        return m_frpcManager->status() == FrpcManager::Starting ? m_connectedServerIndex : -1;
    });
    mainLayout->addWidget(m_scrollArea, 1);

    auto *bottomLayout = new QHBoxLayout;
    m_showLogBtn = new QPushButton(QStringLiteral("查看日志"), this);
    m_showLogBtn->setFixedWidth(90);
    m_showLogBtn->setFixedHeight(28);
    m_showLogBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    m_autoStartCheck = new QCheckBox(QStringLiteral("开机自启动"), this);
    m_themeCombo = new QComboBox(this);
    m_themeCombo->setObjectName(QStringLiteral("themeCombo"));
    m_themeCombo->addItem(QStringLiteral("浅色主题"));
    m_themeCombo->addItem(QStringLiteral("深色主题"));
    m_themeCombo->setMaximumWidth(130);
    bottomLayout->addWidget(m_showLogBtn);
    bottomLayout->addStretch();
    bottomLayout->addWidget(m_autoStartCheck);
    bottomLayout->addSpacing(12);
    bottomLayout->addWidget(m_themeCombo);
    mainLayout->addLayout(bottomLayout);

    connect(m_addBtn, &QPushButton::clicked, this, &MainWindow::onAddServer);
    connect(m_showLogBtn, &QPushButton::clicked, this, &MainWindow::onShowLog);
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
    connect(m_autoStartCheck, &QCheckBox::checkStateChanged, this, &MainWindow::onAutoStartChanged);
#else
    connect(m_autoStartCheck, &QCheckBox::stateChanged, this,
            [this](int state) { onAutoStartChanged(static_cast<Qt::CheckState>(state)); });
#endif
    connect(m_themeCombo, &QComboBox::currentIndexChanged, this, &MainWindow::onThemeChanged);
}

void MainWindow::applyLightTheme()
{
    m_currentTheme = 0;
    setStyleSheet(ThemeStyles::windowSheet(false));
    m_localServiceHint->setStyleSheet(ThemeStyles::warningHintSheet(false));
    m_reachabilityLabel->applyTheme(false);
    m_tunnelRows->setDarkTheme(false);
    DarkThemeHelper::setDarkTitleBar(this, false);
}

void MainWindow::applyDarkTheme()
{
    m_currentTheme = 1;
    setStyleSheet(ThemeStyles::windowSheet(true));
    m_localServiceHint->setStyleSheet(ThemeStyles::warningHintSheet(true));
    m_reachabilityLabel->applyTheme(true);
    m_tunnelRows->setDarkTheme(true);
    DarkThemeHelper::setDarkTitleBar(this, true);
}

void MainWindow::loadSettings()
{
    ServerConfigManager &store = ServerConfigManager::instance();
    m_localPortSpin->setValue(store.getLastLocalPort());
    m_protocolCombo->setCurrentIndex(
        m_protocolCombo->findData(int(FrpcManager::protocolFromName(store.getLastProtocol()))));

    // Checking the box re-writes the start-at-login entry for the executable that runs now.
    m_autoStartCheck->setChecked(store.getAutoStart());

    // A stored value other than 0 and 1 leaves the selector empty; the change still selects dark.
    m_currentTheme = store.getTheme();
    m_themeCombo->setCurrentIndex(m_currentTheme);

    if (m_currentTheme != 0)
        applyDarkTheme();
    else
        applyLightTheme();
}

void MainWindow::saveSettings()
{
    ServerConfigManager &store = ServerConfigManager::instance();
    store.setLastLocalPort(m_localPortSpin->value());
    store.setLastProtocol(
        FrpcManager::protocolName(FrpcManager::Protocol(m_protocolCombo->currentData().toInt())));
    store.setAutoStart(m_autoStartCheck->isChecked());
    store.setTheme(m_currentTheme);
}

void MainWindow::loadServerCards()
{
    while (QLayoutItem *item = m_cardsLayout->takeAt(0)) {
        if (QWidget *widget = item->widget())
            widget->deleteLater();
        delete item;
    }

    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    for (int i = 0; i < configs.size(); ++i) {
        const ServerConfig &config = configs.at(i);
        auto *card = new ServerCardWidget(config.name, config.serverAddr, config.serverPort, config.isBuiltIn,
                                          i, this);
        connect(card, &ServerCardWidget::connectClicked, this, &MainWindow::onConnectServer);
        connect(card, &ServerCardWidget::editClicked, this, &MainWindow::onEditServer);
        connect(card, &ServerCardWidget::deleteClicked, this, &MainWindow::onDeleteServer);
        m_cardsLayout->addWidget(card, 0);
    }
    m_cardsLayout->addStretch(0);

    updateCardStates();
    m_cardLatencies->measureAll();
}

void MainWindow::updateStatusDisplay()
{
    const FrpcManager::Status status = m_frpcManager->status();
    m_statusLabel->setText(ThemeStyles::statusLine(status));
    if (status == FrpcManager::Stopped || status == FrpcManager::Starting) {
        m_copyIPBtn->hide();
        m_copyPortBtn->hide();
    }
    if (status == FrpcManager::Stopped) {
        m_remoteIP.clear();
        m_remotePort.clear();
    }
    updateTray();
}

void MainWindow::updateCardStates()
{
    for (int i = 0; i < m_cardsLayout->count(); ++i) {
        QLayoutItem *item = m_cardsLayout->itemAt(i);
        auto *card = item ? qobject_cast<ServerCardWidget *>(item->widget()) : nullptr;
        if (!card)
            continue;
        const bool isConnected = card->getIndex() == m_connectedServerIndex;
        card->setConnected(isConnected);
        card->setEnabled(m_connectedServerIndex == -1 || isConnected);
    }
    // The protocol belongs to the tunnel that runs: it is chosen again for the next one.
    m_protocolCombo->setEnabled(m_connectedServerIndex == -1);
}

void MainWindow::setupAutoStart(bool enable)
{
    StartAtLogin::setEnabled(enable);
}

void MainWindow::showEditDialog(int index)
{
    auto *dialog = new ServerEditDialog(index, this);
    // The cards are rebuilt once control returns to the event loop.
    connect(dialog, &ServerEditDialog::saved, this,
            [this] { QTimer::singleShot(0, this, [this] { loadServerCards(); }); });

    dialog->setStyleSheet(styleSheet());
    DarkThemeHelper::setDarkTitleBar(dialog, m_currentTheme == 1);

    dialog->exec();
}

// With a tray, closing the window while a tunnel runs only hides it: the tunnel goes on, and the tray
// brings the window back or ends the program. Without one, closing ends the program.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_connectedServerIndex != -1) {
        // At login the tray may have appeared after the program.
        setupTray();
        if (m_tray) {
            event->ignore();
            hide();
            if (!m_toldAboutTray) {
                m_toldAboutTray = true;
                m_notifications->notifyAlways(QString::fromUtf8(STILL_RUNNING_SUMMARY),
                                              QString::fromUtf8(STILL_RUNNING_BODY));
            }
            return;
        }
    }
    if (!confirmEndingTunnel()) {
        event->ignore();
        return;
    }
    saveSettings();
    event->accept();
}

bool MainWindow::confirmEndingTunnel()
{
    if (m_connectedServerIndex == -1)
        return true;
    const auto answer = QMessageBox::question(this, QStringLiteral("确认退出"),
                                              QStringLiteral("隧道正在运行中，确定要退出吗？"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    m_frpcManager->stop();
    return true;
}

void MainWindow::onConnectServer(int index)
{
    // The connected card's button reads "断开": the same button ends the tunnel.
    if (index == m_connectedServerIndex) {
        m_frpcManager->stop();
        return;
    }

    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    if (index < 0 || index >= configs.size())
        return;

    const ServerConfig config = configs.at(index);
    if (!config.isValid()) {
        QMessageBox::warning(this, QStringLiteral("配置错误"), QStringLiteral("服务器配置无效"));
        return;
    }

    const int localPort = m_localPortSpin->value();
    const auto protocol = FrpcManager::Protocol(m_protocolCombo->currentData().toInt());
    ServerConfigManager::instance().setLastLocalPort(localPort);
    ServerConfigManager::instance().setLastProtocol(FrpcManager::protocolName(protocol));

    // Mark the card before the controller reports anything, so no other card can be pressed. The
    // address shown for the tunnel is the one it was started with, whatever edits follow.
    m_connectedServerIndex = index;
    m_connectedAddress = config.serverAddr;
    m_connectedLocalPort = localPort;
    updateCardStates();

    m_tunnelRows->setHost(config.serverAddr);
    m_frpcManager->start(config, QList<FrpcManager::Tunnel> { { localPort, protocol } } + m_tunnelRows->tunnels());
}

void MainWindow::onEditServer(int index)
{
    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    if (index >= 0 && index < configs.size() && configs.at(index).isBuiltIn) {
        QMessageBox::warning(this, QStringLiteral("无法编辑"), QStringLiteral("内置配置不可编辑"));
        return;
    }
    showEditDialog(index);
}

void MainWindow::onDeleteServer(int index)
{
    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    if (index < 0 || index >= configs.size())
        return;
    if (configs.at(index).isBuiltIn) {
        QMessageBox::warning(this, QStringLiteral("无法删除"), QStringLiteral("内置配置不可删除"));
        return;
    }

    // The name is shown exactly as typed, never read as markup.
    QMessageBox question(QMessageBox::Question, QStringLiteral("确认删除"),
                         QStringLiteral("确定要删除配置 \"%1\" 吗？").arg(configs.at(index).name),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setTextFormat(Qt::PlainText);
    if (question.exec() != QMessageBox::Yes)
        return;

    if (index == m_connectedServerIndex) {
        m_frpcManager->stop();
        m_connectedServerIndex = -1;
    }
    ServerConfigManager::instance().removeConfig(index);

    // Rebuild once the card that asked for the deletion has finished handling its mouse press.
    QTimer::singleShot(0, this, [this] { loadServerCards(); });
}

void MainWindow::onAddServer()
{
    showEditDialog(-1);
}

void MainWindow::onStatusChanged(FrpcManager::Status status)
{
    updateStatusDisplay();
    updateCardStates();

    if (status == FrpcManager::Stopped || status == FrpcManager::Error) {
        m_connectedServerIndex = -1;
        updateCardStates();
    }
}

void MainWindow::onRemotePortReady(const QString &port)
{
    if (m_connectedServerIndex == -1)
        return;

    // An IPv6 literal is copied bare, and shown in brackets so that its port can be told apart.
    m_remoteIP = TunnelAddress::bareHost(m_connectedAddress);
    m_remotePort = port;
    FrpcManager::TunnelState first = m_frpcManager->tunnelStates().value(0);
    first.port = port;
    const QString remoteInfo = TunnelRows::addressText(m_connectedAddress, first);
    // The status line is rich text; the address and the port are shown exactly as they are.
    m_statusLabel->setText(ThemeStyles::statusLineRunningAt().arg(remoteInfo.toHtmlEscaped()));

    m_copyIPBtn->show();
    m_copyPortBtn->show();
    updateTray();
}

void MainWindow::onLocalServiceHintChanged(bool nobodyListens)
{
    m_localServiceHint->setText(QStringLiteral("本地端口 %1 上没有程序在监听").arg(m_connectedLocalPort));
    m_localServiceHint->setVisible(nobodyListens);
}

void MainWindow::onLogMessage(const QString &msg)
{
    m_logWindow->appendLog(msg);
}

void MainWindow::onError(const QString &error)
{
    QMessageBox::critical(this, QStringLiteral("错误"), error);
}

void MainWindow::onShowLog()
{
    m_logWindow->applyTheme(m_currentTheme == 1);
    m_logWindow->show();
    m_logWindow->raise();
    m_logWindow->activateWindow();
}

void MainWindow::onAutoStartChanged(Qt::CheckState state)
{
    setupAutoStart(state == Qt::Checked);
}

void MainWindow::onThemeChanged(int index)
{
    if (index != 0)
        applyDarkTheme();
    else
        applyLightTheme();

    for (int i = 0; i < m_cardsLayout->count(); ++i) {
        QLayoutItem *item = m_cardsLayout->itemAt(i);
        if (auto *card = item ? qobject_cast<ServerCardWidget *>(item->widget()) : nullptr)
            card->updateCardTheme();
    }

    m_logWindow->applyTheme(m_currentTheme == 1);

    ServerConfigManager::instance().setTheme(m_currentTheme);
}

void MainWindow::onCopyIP()
{
    if (m_remoteIP.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(m_remoteIP, QClipboard::Clipboard);
    m_copyIPBtn->setText(QString::fromUtf8(COPIED_CAPTION));
    QTimer::singleShot(COPIED_CAPTION_MS, this, [this] { m_copyIPBtn->setText(QStringLiteral("复制IP")); });
}

void MainWindow::onCopyPort()
{
    if (m_remotePort.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(m_remotePort, QClipboard::Clipboard);
    m_copyPortBtn->setText(QString::fromUtf8(COPIED_CAPTION));
    QTimer::singleShot(COPIED_CAPTION_MS, this,
                       [this] { m_copyPortBtn->setText(QStringLiteral("复制端口")); });
}

// ---------------------------------------------------------------------------------------------
// Export and import of the server list, from the list's context menu

bool MainWindow::isInServerListArea(const QPoint &globalPos) const
{
    if (m_scrollArea->rect().contains(m_scrollArea->mapFromGlobal(globalPos)))
        return true;
    // The header row is the layout that holds the add button, with the title and the space between.
    const QLayout *mainLayout = centralWidget()->layout();
    for (int i = 0; i < mainLayout->count(); ++i) {
        const QLayout *row = mainLayout->itemAt(i)->layout();
        if (row && row->indexOf(m_addBtn) >= 0)
            return row->geometry().contains(centralWidget()->mapFromGlobal(globalPos));
    }
    return false;
}

void MainWindow::contextMenuEvent(QContextMenuEvent *event)
{
    if (!isInServerListArea(event->globalPos())) {
        QMainWindow::contextMenuEvent(event);
        return;
    }
    // The chosen action runs once the menu has closed, so its dialogs do not open from inside it.
    switch (ServerListTransfer::chooseFromMenu(this, event->globalPos(), isDarkTheme())) {
    case ServerListTransfer::Action::Export:
        onExportServers();
        break;
    case ServerListTransfer::Action::Import:
        onImportServers();
        break;
    case ServerListTransfer::Action::None:
        break;
    }
}

void MainWindow::onExportServers()
{
    ServerListTransfer::exportServers(this);
}

void MainWindow::onImportServers()
{
    ServerListTransfer::importServers(this, m_connectedServerIndex != -1, [this] { loadServerCards(); });
}

// ---------------------------------------------------------------------------------------------
// Connecting from the command line

bool MainWindow::connectServerByName(const QString &name, int localPort,
                                     std::optional<FrpcManager::Protocol> protocol)
{
    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    QList<int> matches;
    for (int i = 0; i < configs.size(); ++i) {
        if (configs.at(i).name == name)
            matches << i;
    }
    if (matches.size() != 1) {
        const QString reason = matches.isEmpty()
            ? QStringLiteral("没有名为“%1”的服务器。").arg(name)
            : QStringLiteral("有 %1 个服务器都名为“%2”，无法确定要连接哪一个。")
                  .arg(QString::number(matches.size()), name);
        showPlainMessage(this, QMessageBox::Warning, QStringLiteral("无法连接"), reason);
        return false;
    }
    const int index = matches.first();
    if (m_connectedServerIndex != -1)
        return m_connectedServerIndex == index;

    if (localPort > 0)
        m_localPortSpin->setValue(localPort);
    if (protocol)
        m_protocolCombo->setCurrentIndex(m_protocolCombo->findData(int(*protocol)));
    onConnectServer(index);
    return m_connectedServerIndex == index;
}
