// SPDX-License-Identifier: Apache-2.0
// The main window: the server cards, the local port, the status line and the copy buttons.
#include "gui/mainwindow.h"

#include "core/platform/startatlogin.h"
#include "core/serverconfig.h"
#include "core/tunneladdress.h"
#include "core/tunnelreachability.h"
#include "gui/cardlatencies.h"
#include "gui/darkthemehelper.h"
#include "gui/joinedtunnels.h"
#include "gui/language.h"
#include "gui/logwindow.h"
#include "gui/plainmessagebox.h"
#include "gui/servereditdialog.h"
#include "gui/serverlisttransfer.h"
#include "gui/themestyles.h"
#include "gui/tunnelnotifications.h"
#include "gui/tunnelrow.h"
#include "gui/tunnelrows.h"

#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Said once per run, when closing the window leaves the tunnel running in the tray.
const char STILL_RUNNING_SUMMARY[] = QT_TRANSLATE_NOOP("MainWindow", "Marrowgate 仍在运行");
const char STILL_RUNNING_BODY[] = QT_TRANSLATE_NOOP("MainWindow", "隧道在托盘中继续运行，右键托盘图标可退出");

const char COPIED_CAPTION[] = QT_TRANSLATE_NOOP("MainWindow", "✓ 已复制");
const int COPIED_CAPTION_MS = 1500;

// When what a click on "连接" keeps is written: soon after the address has been painted, and at the
// latest this long after the click.
const int DEFERRED_WRITE_AFTER_ADDRESS_MS = 200;
const int DEFERRED_WRITE_LATEST_MS = 3000;

} // namespace

// ---------------------------------------------------------------------------------------------
// MainWindow

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_theme(new Theme(this))
    , m_frpcManager(new FrpcManager(this))
    , m_logWindow(new LogWindow(this))
    , m_deferredWrite(new QTimer(this))
{
    m_deferredWrite->setSingleShot(true);
    connect(m_deferredWrite, &QTimer::timeout, this, [] { ServerConfigManager::instance().writeDeferred(); });
    // The theme's sheet first: each widget is then styled once, as it is made, not again when the
    // sheet arrives.
    setStyleSheet(ThemeStyles::windowSheet(ServerConfigManager::instance().getTheme() != 0));
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
    connect(m_frpcManager, &FrpcManager::waitingChanged, this, &MainWindow::onWaitingChanged);
    // The first tunnel's UDP half and the other tunnels' addresses reach the status line and the tray.
    connect(m_frpcManager, &FrpcManager::tunnelsChanged, this, [this] {
        if (m_frpcManager->status() == FrpcManager::Running
            && (!m_remotePort.isEmpty() || m_frpcManager->tunnelStates().value(0).tunnel.isPrivate))
            onRemotePortReady(m_remotePort);
    });

    setupTray();
    updateStatusDisplay();
}

MainWindow::~MainWindow()
{
    m_ending = true;
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

    m_reachability = new TunnelReachability(m_frpcManager, this);
    connect(m_reachability, &TunnelReachability::logMessage, this, &MainWindow::onLogMessage);
    connect(m_reachability, &TunnelReachability::changed, this, &MainWindow::showReachability);
    m_tunnelRows = new TunnelRows(m_frpcManager, m_reachability, this);
    m_tunnelRows->placeAddButton();
    connect(m_tunnelRows, &TunnelRows::rowsChanged, this, &MainWindow::updateTabOrder);
    topAreaLayout->addWidget(m_tunnelRows->firstRow());
    topAreaLayout->addWidget(m_tunnelRows);

    auto *statusLayout = new QHBoxLayout;
    statusLayout->setAlignment(Qt::AlignCenter);
    m_statusLabel = new QLabel(ThemeStyles::statusLine(FrpcManager::Stopped), this);
    m_statusLabel->setStyleSheet(QStringLiteral("font-size: 11pt;"));
    m_statusLabel->setAlignment(Qt::AlignVCenter);
    m_statusLabel->setTextFormat(Qt::RichText);

    m_copyIPBtn = new QPushButton(this);
    m_copyIPBtn->setFixedWidth(60);
    m_copyIPBtn->setFixedHeight(24);
    m_copyIPBtn->setStyleSheet(QStringLiteral("font-size: 9pt; padding: 2px 6px;"));
    m_copyIPBtn->hide();
    connect(m_copyIPBtn, &QPushButton::clicked, this, &MainWindow::onCopyIP);

    m_copyPortBtn = new QPushButton(this);
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
    m_waitHint = new QLabel(this);
    m_waitHint->setObjectName(QStringLiteral("waitHintLabel"));
    m_waitHint->setAlignment(Qt::AlignCenter);
    m_waitHint->setTextFormat(Qt::PlainText);
    m_waitHint->setWordWrap(true);
    m_waitHint->hide();
    topAreaLayout->addWidget(m_waitHint);
    m_reachabilityLabel = new QLabel(this);
    m_reachabilityLabel->setObjectName(QStringLiteral("reachabilityLabel"));
    m_reachabilityLabel->setAlignment(Qt::AlignCenter);
    m_reachabilityLabel->setTextFormat(Qt::PlainText);
    m_reachabilityLabel->hide();
    topAreaLayout->addWidget(m_reachabilityLabel);
    mainLayout->addLayout(topAreaLayout);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(ThemeStyles::separatorSheet());
    line->setFixedHeight(1);
    mainLayout->addWidget(line);

    auto *headerLayout = new QHBoxLayout;
    m_titleLabel = new QLabel(this);
    m_titleLabel->setStyleSheet(QStringLiteral("font-size: 14pt; font-weight: bold;"));
    m_addBtn = new QPushButton(this);
    m_addBtn->setFixedWidth(80);
    m_addBtn->setFixedHeight(28);
    m_addBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    headerLayout->addWidget(m_titleLabel);
    headerLayout->addStretch();
    headerLayout->addWidget(m_addBtn);
    mainLayout->addLayout(headerLayout);

    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    // Tab goes to the cards' buttons, which the list scrolls into view.
    m_scrollArea->setFocusPolicy(Qt::NoFocus);
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

    m_joinedTunnels = new JoinedTunnels(this);
    connect(m_joinedTunnels, &JoinedTunnels::logMessage, this, &MainWindow::onLogMessage);
    connect(m_joinedTunnels, &JoinedTunnels::rowsChanged, this, &MainWindow::updateTabOrder);
    mainLayout->addWidget(m_joinedTunnels);

    auto *bottomLayout = new QHBoxLayout;
    m_showLogBtn = new QPushButton(this);
    m_showLogBtn->setFixedWidth(90);
    m_showLogBtn->setFixedHeight(28);
    m_showLogBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    m_autoStartCheck = new QCheckBox(this);
    m_autoConnectCheck = new QCheckBox(this);
    m_autoConnectCheck->setObjectName(QStringLiteral("autoConnectCheck"));
    m_themeCombo = new QComboBox(this);
    m_themeCombo->setObjectName(QStringLiteral("themeCombo"));
    m_themeCombo->addItem(QString());
    m_themeCombo->addItem(QString());
    // Sized again when the language changes its entries.
    m_themeCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_themeCombo->setMaximumWidth(130);
    // Each language by its own name, whatever the language shown.
    m_languageCombo = new QComboBox(this);
    m_languageCombo->setObjectName(QStringLiteral("languageCombo"));
    for (const QString &code : Language::codes())
        m_languageCombo->addItem(Language::nativeName(code), code);
    m_languageCombo->setCurrentIndex(m_languageCombo->findData(Language::current()));
    m_languageCombo->setMaximumWidth(130);
    bottomLayout->addWidget(m_showLogBtn);
    bottomLayout->addStretch();
    bottomLayout->addWidget(m_autoStartCheck);
    bottomLayout->addSpacing(12);
    bottomLayout->addWidget(m_autoConnectCheck);
    bottomLayout->addSpacing(12);
    bottomLayout->addWidget(m_languageCombo);
    bottomLayout->addSpacing(12);
    bottomLayout->addWidget(m_themeCombo);
    mainLayout->addLayout(bottomLayout);
    retranslateUi();

    connect(m_addBtn, &QPushButton::clicked, this, &MainWindow::onAddServer);
    connect(m_showLogBtn, &QPushButton::clicked, this, &MainWindow::onShowLog);
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
    connect(m_autoStartCheck, &QCheckBox::checkStateChanged, this, &MainWindow::onAutoStartChanged);
#else
    connect(m_autoStartCheck, &QCheckBox::stateChanged, this,
            [this](int state) { onAutoStartChanged(static_cast<Qt::CheckState>(state)); });
#endif
    connect(m_autoConnectCheck, &QCheckBox::toggled, this,
            [](bool checked) { ServerConfigManager::instance().setAutoConnect(checked); });
    connect(m_themeCombo, &QComboBox::currentIndexChanged, this, &MainWindow::onThemeChanged);
    connect(m_languageCombo, &QComboBox::currentIndexChanged, this, &MainWindow::onLanguageChosen);
}

void MainWindow::retranslateUi()
{
    m_copyIPBtn->setText(tr("复制IP"));
    ThemeStyles::fitCaption(m_copyIPBtn, 60);
    m_copyIPBtn->setAccessibleName(tr("复制公网地址的 IP"));
    m_copyPortBtn->setText(tr("复制端口"));
    ThemeStyles::fitCaption(m_copyPortBtn, 70);
    m_copyPortBtn->setAccessibleName(tr("复制公网端口"));
    m_titleLabel->setText(tr("服务器列表"));
    m_scrollArea->setAccessibleName(tr("服务器列表"));
    m_addBtn->setText(tr("+ 添加"));
    m_addBtn->setAccessibleName(tr("添加服务器"));
    m_showLogBtn->setText(tr("查看日志"));
    m_showLogBtn->setAccessibleName(tr("查看连接日志"));
    m_autoStartCheck->setText(tr("开机自启动"));
    m_autoConnectCheck->setText(tr("启动后自动连接"));
    m_themeCombo->setItemText(0, tr("浅色主题"));
    m_themeCombo->setItemText(1, tr("深色主题"));
    m_themeCombo->setAccessibleName(tr("主题"));
    m_languageCombo->setAccessibleName(tr("界面语言"));
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::LanguageChange)
        return;
    retranslateUi();
    {
        const QSignalBlocker blocker(m_languageCombo);
        m_languageCombo->setCurrentIndex(m_languageCombo->findData(Language::current()));
    }
    // The texts that follow the tunnel's state are made again from it.
    updateStatusDisplay();
    if (m_frpcManager->status() == FrpcManager::Running && !m_remotePort.isEmpty())
        onRemotePortReady(m_remotePort);
    showReachability();
    if (!m_localServiceHint->isHidden())
        onLocalServiceHintChanged(true);
}

// Tab goes through the controls in reading order: the rows, the status line's buttons, the list and its
// cards, then the bottom row. Rows and cards made later would otherwise come last.
void MainWindow::updateTabOrder()
{
    QList<QWidget *> order = m_tunnelRows->focusOrder();
    order << m_copyIPBtn << m_copyPortBtn << m_addBtn;
    for (int i = 0; i < m_cardsLayout->count(); ++i) {
        if (auto *card = qobject_cast<ServerCardWidget *>(m_cardsLayout->itemAt(i)->widget()))
            order << card->focusOrder();
    }
    order << m_joinedTunnels->focusOrder();
    order << m_showLogBtn << m_autoStartCheck << m_autoConnectCheck << m_languageCombo << m_themeCombo;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void MainWindow::onLanguageChosen(int index)
{
    const QString code = m_languageCombo->itemData(index).toString();
    ServerConfigManager::instance().setLanguage(code);
    Language::apply(code);
}

void MainWindow::openJoinDialog(const QString &text)
{
    onShowFromTray();
    m_joinedTunnels->openJoinDialog(text);
}

bool MainWindow::joinTunnel(const QString &code)
{
    return m_joinedTunnels->join(code);
}

void MainWindow::applyTheme(Theme::Mode mode)
{
    const bool dark = mode == Theme::Dark;
    const QString sheet = ThemeStyles::windowSheet(dark);
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
    m_localServiceHint->setStyleSheet(ThemeStyles::warningHintSheet(dark));
    m_waitHint->setStyleSheet(ThemeStyles::warningHintSheet(dark));
    DarkThemeHelper::setDarkTitleBar(this, dark);
    // The cards and the rows follow the theme object.
    m_theme->setMode(mode);
    showReachability();
    if (m_frpcManager->waitReason() != FrpcManager::NotWaiting)
        updateStatusDisplay();
}

bool MainWindow::isDarkTheme() const
{
    return m_theme->isDark();
}

QList<Tunnel> MainWindow::tunnels() const
{
    return m_tunnelRows->tunnels();
}

void MainWindow::setTunnels(const QList<Tunnel> &tunnels)
{
    m_tunnelRows->setTunnels(tunnels);
}

void MainWindow::showReachability()
{
    switch (m_reachability->result(0)) {
    case TunnelReachability::Unknown:
        m_reachabilityLabel->hide();
        m_reachabilityLabel->clear();
        return;
    case TunnelReachability::Reachable:
        m_reachabilityLabel->setText(tr("外部可访问"));
        m_reachabilityLabel->setStyleSheet(ThemeStyles::successHintSheet());
        break;
    case TunnelReachability::Blocked:
        m_reachabilityLabel->setText(m_reachability->warning(0));
        m_reachabilityLabel->setStyleSheet(ThemeStyles::warningHintSheet(m_theme->isDark()));
        break;
    }
    m_reachabilityLabel->show();
}

void MainWindow::loadSettings()
{
    ServerConfigManager &store = ServerConfigManager::instance();

    // Checking the box re-writes the start-at-login entry for the executable that runs now.
    m_autoStartCheck->setChecked(store.getAutoStart());
    m_autoConnectCheck->setChecked(store.getAutoConnect());

    // A stored value other than 0 and 1 leaves the selector empty; the change still selects dark.
    const int theme = store.getTheme();
    m_themeCombo->setCurrentIndex(theme);
    applyTheme(theme != 0 ? Theme::Dark : Theme::Light);
}

void MainWindow::saveSettings()
{
    ServerConfigManager &store = ServerConfigManager::instance();
    const Tunnel first = m_tunnelRows->firstRow()->tunnel();
    store.setLastLocalPort(first.localPort);
    store.setLastProtocol(Tunnel::protocolName(first.protocol));
    store.setLastPrivate(first.isPrivate);
    store.setAutoStart(m_autoStartCheck->isChecked());
    store.setAutoConnect(m_autoConnectCheck->isChecked());
    store.setTheme(int(m_theme->mode()));
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
        // Made inside the list: a card moved there later would be styled a second time.
        auto *card = new ServerCardWidget(config.name, config.serverAddr, config.serverPort, config.isBuiltIn,
                                          i, m_cardsContainer);
        connect(card, &ServerCardWidget::connectClicked, this, &MainWindow::onConnectServer);
        connect(card, &ServerCardWidget::editClicked, this, &MainWindow::onEditServer);
        connect(card, &ServerCardWidget::deleteClicked, this, &MainWindow::onDeleteServer);
        m_cardsLayout->addWidget(card, 0);
    }
    m_cardsLayout->addStretch(0);

    updateCardStates();
    m_cardLatencies->measureAll();
    updateTabOrder();
}

void MainWindow::updateStatusDisplay()
{
    const FrpcManager::Status status = m_frpcManager->status();
    switch (m_frpcManager->waitReason()) {
    case FrpcManager::WaitingForNetwork:
        m_statusLabel->setText(ThemeStyles::statusLineWaiting(tr("等待网络..."), m_theme->isDark()));
        break;
    case FrpcManager::WaitingForServer:
        m_statusLabel->setText(ThemeStyles::statusLineWaiting(tr("等待服务器..."), m_theme->isDark()));
        break;
    case FrpcManager::NotWaiting:
        m_statusLabel->setText(ThemeStyles::statusLine(status));
        break;
    }
    const QString waitHint = m_frpcManager->waitHint();
    m_waitHint->setText(waitHint);
    m_waitHint->setVisible(!waitHint.isEmpty());
    if (status == FrpcManager::Stopped || status == FrpcManager::Starting) {
        m_copyIPBtn->hide();
        m_copyPortBtn->hide();
    }
    if (status == FrpcManager::Stopped)
        m_remotePort.clear();
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
    m_tunnelRows->firstRow()->setProtocolLocked(m_connectedServerIndex != -1);
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
    DarkThemeHelper::setDarkTitleBar(dialog, m_theme->isDark());

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
                m_notifications->notifyAlways(tr(STILL_RUNNING_SUMMARY), tr(STILL_RUNNING_BODY));
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
    const auto answer = QMessageBox::question(this, tr("确认退出"), tr("隧道正在运行中，确定要退出吗？"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    m_ending = true;
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
        QMessageBox::warning(this, tr("配置错误"), tr("服务器配置无效"));
        return;
    }

    // Kept at once, written once the address is shown (the disk takes longer than the client's start).
    const QList<Tunnel> tunnels = m_tunnelRows->tunnels();
    ServerConfigManager::instance().rememberConnection(config.name, tunnels.first());
    m_deferredWrite->start(DEFERRED_WRITE_LATEST_MS);

    // Mark the card before the controller reports anything, so no other card can be pressed. The
    // address shown for the tunnel is the one it was started with, whatever edits follow.
    m_connectedServerIndex = index;
    m_connectedAddress = config.serverAddr;
    updateCardStates();

    m_tunnelRows->setHost(config.serverAddr);
    m_reachability->setHost(config.serverAddr);
    m_frpcManager->start(config, tunnels);
}

void MainWindow::onEditServer(int index)
{
    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    if (index >= 0 && index < configs.size() && configs.at(index).isBuiltIn) {
        QMessageBox::warning(this, tr("无法编辑"), tr("内置配置不可编辑"));
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
        QMessageBox::warning(this, tr("无法删除"), tr("内置配置不可删除"));
        return;
    }

    // The name is shown exactly as typed, never read as markup.
    QMessageBox question(QMessageBox::Question, tr("确认删除"),
                         tr("确定要删除配置 \"%1\" 吗？").arg(configs.at(index).name),
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
        // A tunnel that ended while the program goes on is not brought back at the next start.
        if (!m_ending)
            ServerConfigManager::instance().setLastServer(QString());
        m_connectedServerIndex = -1;
        updateCardStates();
    }
}

void MainWindow::onRemotePortReady(const QString &port)
{
    if (m_connectedServerIndex == -1)
        return;

    m_remotePort = port;
    TunnelState first = m_frpcManager->tunnelStates().value(0);
    first.port = port;
    const QString remoteInfo = TunnelAddress::stateText(m_connectedAddress, first);
    // The status line is rich text; the address and the port are shown exactly as they are.
    m_statusLabel->setText(ThemeStyles::statusLineRunningAt().arg(remoteInfo.toHtmlEscaped()));

    // A private first tunnel has no address to copy: its row copies its share code.
    m_copyIPBtn->setVisible(!first.tunnel.isPrivate);
    m_copyPortBtn->setVisible(!first.tunnel.isPrivate);
    updateTray();
    if (m_deferredWrite->isActive())
        m_deferredWrite->start(DEFERRED_WRITE_AFTER_ADDRESS_MS);
}

void MainWindow::onLocalServiceHintChanged(bool nobodyListens)
{
    const int localPort = m_frpcManager->tunnelStates().value(0).tunnel.localPort;
    m_localServiceHint->setText(tr("本地端口 %1 上没有程序在监听").arg(localPort));
    m_localServiceHint->setVisible(nobodyListens);
}

void MainWindow::onWaitingChanged()
{
    // The address of a tunnel that is up stays: only a connection on its way up shows why it waits.
    if (m_frpcManager->status() == FrpcManager::Starting)
        updateStatusDisplay();
}

void MainWindow::onLogMessage(const QString &msg)
{
    m_logWindow->appendLog(msg);
}

void MainWindow::onError(const QString &error)
{
    QMessageBox::critical(this, tr("错误"), error);
}

void MainWindow::onShowLog()
{
    m_logWindow->applyTheme(m_theme->isDark());
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
    applyTheme(index != 0 ? Theme::Dark : Theme::Light);
    m_logWindow->applyTheme(m_theme->isDark());
    ServerConfigManager::instance().setTheme(int(m_theme->mode()));
}

void MainWindow::onCopyIP()
{
    // An IPv6 literal is copied bare; the status line shows it in brackets so that its port can be
    // told apart.
    const QString host = TunnelAddress::bareHost(m_connectedAddress);
    if (m_remotePort.isEmpty() || host.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(host, QClipboard::Clipboard);
    m_copyIPBtn->setText(tr(COPIED_CAPTION));
    QTimer::singleShot(COPIED_CAPTION_MS, this, [this] { m_copyIPBtn->setText(tr("复制IP")); });
}

void MainWindow::onCopyPort()
{
    if (m_remotePort.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(m_remotePort, QClipboard::Clipboard);
    m_copyPortBtn->setText(tr(COPIED_CAPTION));
    QTimer::singleShot(COPIED_CAPTION_MS, this, [this] { m_copyPortBtn->setText(tr("复制端口")); });
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
                                     std::optional<Tunnel::Protocol> protocol)
{
    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    QList<int> matches;
    for (int i = 0; i < configs.size(); ++i) {
        if (configs.at(i).name == name)
            matches << i;
    }
    if (matches.size() != 1) {
        const QString reason = matches.isEmpty() ? tr("没有名为“%1”的服务器。").arg(name)
                                                 : tr("有 %1 个服务器都名为“%2”，无法确定要连接哪一个。")
                                                       .arg(QString::number(matches.size()), name);
        showPlainMessage(this, QMessageBox::Warning, tr("无法连接"), reason);
        return false;
    }
    const int index = matches.first();
    if (m_connectedServerIndex != -1)
        return m_connectedServerIndex == index;

    TunnelRow *first = m_tunnelRows->firstRow();
    Tunnel tunnel = first->tunnel();
    if (localPort > 0)
        tunnel.localPort = localPort;
    if (protocol)
        tunnel.protocol = *protocol;
    first->setTunnel(tunnel);
    onConnectServer(index);
    return m_connectedServerIndex == index;
}

bool MainWindow::connectAtStart()
{
    ServerConfigManager &store = ServerConfigManager::instance();
    const QString name = store.getLastServer();
    if (!m_autoConnectCheck->isChecked() || name.isEmpty() || m_connectedServerIndex != -1)
        return false;
    // At login nobody may be there to read a box: a server that is gone is only named in the log.
    const QList<ServerConfig> configs = store.getConfigs();
    for (int i = 0; i < configs.size(); ++i) {
        if (configs.at(i).name == name) {
            m_logWindow->appendLog(tr("启动后自动连接: %1").arg(name));
            onConnectServer(i);
            return m_connectedServerIndex == i;
        }
    }
    m_logWindow->appendLog(tr("启动后自动连接: 服务器“%1”已不存在，未连接").arg(name));
    return false;
}
