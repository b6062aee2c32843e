#include "mainwindow.h"

#include "darkthemehelper.h"
#include "logwindow.h"
#include "serverconfig.h"
#include "startatlogin.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

// ---------------------------------------------------------------------------------------------
// ServerCardWidget

ServerCardWidget::ServerCardWidget(const QString &name, const QString &address, int port, bool isBuiltIn,
                                   int index, QWidget *parent)
    : QFrame(parent)
    , m_name(name)
    , m_address(address)
    , m_port(port)
    , m_isBuiltIn(isBuiltIn)
    , m_index(index)
{
    setupUI();
    setMouseTracking(true);
}

void ServerCardWidget::setConnected(bool connected)
{
    m_isConnected = connected;
    updateConnectButton();
}

void ServerCardWidget::setEnabled(bool enabled)
{
    QFrame::setEnabled(enabled);
}

void ServerCardWidget::updateCardTheme() { }

void ServerCardWidget::mousePressEvent(QMouseEvent *event)
{
    QFrame::mousePressEvent(event);
}

void ServerCardWidget::mouseMoveEvent(QMouseEvent *event)
{
    QFrame::mouseMoveEvent(event);
}

void ServerCardWidget::leaveEvent(QEvent *event)
{
    QFrame::leaveEvent(event);
}

void ServerCardWidget::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
}

void ServerCardWidget::setupUI() { }

void ServerCardWidget::updateConnectButton() { }

QRect ServerCardWidget::getCloseButtonRect() const
{
    return {};
}

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

    connect(m_frpcManager, &FrpcManager::statusChanged, this, &MainWindow::onStatusChanged);
    connect(m_frpcManager, &FrpcManager::remotePortReady, this, &MainWindow::onRemotePortReady);
    connect(m_frpcManager, &FrpcManager::logMessage, this, &MainWindow::onLogMessage);
    connect(m_frpcManager, &FrpcManager::errorOccurred, this, &MainWindow::onError);

    updateStatusDisplay();
}

MainWindow::~MainWindow()
{
    if (m_connectedServerIndex != -1)
        m_frpcManager->stop();
    saveSettings();
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
    portLayout->addWidget(portLabel, 0, Qt::AlignVCenter);
    portLayout->addWidget(m_localPortSpin, 0, Qt::AlignVCenter);
    topAreaLayout->addLayout(portLayout);

    auto *statusLayout = new QHBoxLayout;
    statusLayout->setAlignment(Qt::AlignCenter);
    m_statusLabel = new QLabel(QStringLiteral("连接状态: <span style='color: #95A5A6;'>● 未连接</span>"), this);
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
    mainLayout->addLayout(topAreaLayout);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("background-color: #DFE6E9;"));
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
    m_scrollArea->setStyleSheet(QStringLiteral("QScrollArea { background-color: transparent; border: none; }"));

    m_cardsContainer = new QWidget;
    m_cardsLayout = new QVBoxLayout(m_cardsContainer);
    m_cardsLayout->setSpacing(14);
    m_cardsLayout->setContentsMargins(0, 0, 0, 0);
    m_cardsLayout->setAlignment(Qt::AlignTop);
    m_scrollArea->setWidget(m_cardsContainer);
    mainLayout->addWidget(m_scrollArea, 1);

    auto *bottomLayout = new QHBoxLayout;
    m_showLogBtn = new QPushButton(QStringLiteral("查看日志"), this);
    m_showLogBtn->setFixedWidth(90);
    m_showLogBtn->setFixedHeight(28);
    m_showLogBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    m_autoStartCheck = new QCheckBox(QStringLiteral("开机自启动"), this);
    m_themeCombo = new QComboBox(this);
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

void MainWindow::applyLightTheme() { }

void MainWindow::applyDarkTheme() { }

void MainWindow::loadSettings()
{
    m_localPortSpin->setValue(ServerConfigManager::instance().getLastLocalPort());
}

void MainWindow::saveSettings() { }

void MainWindow::loadServerCards() { }

void MainWindow::updateStatusDisplay() { }

void MainWindow::updateCardStates() { }

void MainWindow::setupAutoStart(bool enable)
{
    StartAtLogin::setEnabled(enable);
}

void MainWindow::showEditDialog(int index)
{
    Q_UNUSED(index);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
}

void MainWindow::onConnectServer(int index)
{
    Q_UNUSED(index);
}

void MainWindow::onEditServer(int index)
{
    Q_UNUSED(index);
}

void MainWindow::onDeleteServer(int index)
{
    Q_UNUSED(index);
}

void MainWindow::onAddServer() { }

void MainWindow::onStatusChanged(FrpcManager::Status status)
{
    Q_UNUSED(status);
}

void MainWindow::onRemotePortReady(const QString &port)
{
    Q_UNUSED(port);
}

void MainWindow::onLogMessage(const QString &msg)
{
    Q_UNUSED(msg);
}

void MainWindow::onError(const QString &error)
{
    Q_UNUSED(error);
}

void MainWindow::onShowLog() { }

void MainWindow::onAutoStartChanged(Qt::CheckState state)
{
    setupAutoStart(state == Qt::Checked);
}

void MainWindow::onThemeChanged(int index)
{
    Q_UNUSED(index);
}

void MainWindow::onCopyIP() { }

void MainWindow::onCopyPort() { }
