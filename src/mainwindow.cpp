#include "mainwindow.h"

#include "darkthemehelper.h"
#include "logwindow.h"
#include "serverconfig.h"
#include "startatlogin.h"
#include "tunnelnotifications.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace {

// True when the main window above `widget` shows the dark theme; light for anything else.
bool isDarkThemeAround(const QWidget *widget)
{
    const auto *mainWindow = qobject_cast<const MainWindow *>(widget->window());
    return mainWindow && mainWindow->isDarkTheme();
}

// The colours that tell the light and the dark window sheet apart.
struct ThemeColors
{
    const char *window;
    const char *text;
    const char *field;
    const char *fieldBorder;
    const char *accent;
    const char *spinButton;
    const char *spinButtonHover;
    const char *buttonHover;
    const char *buttonPressed;
    const char *disabledBackground;
    const char *disabledText;
    const char *disabledBorder;
    const char *checkBorder;
    const char *comboHover;
    const char *itemHover;
    const char *scrollTrack;
    const char *scrollHandle;
    const char *scrollHandleHover;
};

constexpr ThemeColors LIGHT_COLORS
    = { "#F5F6FA", "#2C3E50", "#FFFFFF", "#DFE6E9", "#3498DB", "#ECF0F1", "#BDC3C7", "#2E86DE", "#2574C7",
        "#E8EBF0", "#B0B7C3", "#D5D9E0", "#BDC3C7", "#F8F9FA", "#EBF5FB", "#ECF0F1", "#BDC3C7", "#95A5A6" };

constexpr ThemeColors DARK_COLORS
    = { "#1E2636", "#E8EAF0", "#2C3546", "#3D4759", "#5B8DEE", "#3D4759", "#4E5D73", "#7DA3F3", "#4A7BDB",
        "#2C3546", "#6B7280", "#3D4759", "#3D4759", "#343E52", "#3D4759", "#2C3546", "#3D4759", "#4E5D73" };

// The whole-window sheet of one theme. Both themes share every rule and every measure; only the
// colours differ.
QString windowStyleSheet(const ThemeColors &c)
{
    QString sheet = QStringLiteral(
        "QMainWindow { background-color: @window; }\n"
        "QWidget { background-color: @window; color: @text; "
        "font-family: \"Microsoft YaHei UI\", \"微软雅黑\"; font-size: 10pt; }\n"
        "QLabel { background: transparent; border: none; }\n"
        "QSpinBox { background-color: @field; border: 1px solid @fieldBorder; border-radius: 6px; "
        "padding: 6px 12px; min-height: 28px; color: @text; }\n"
        "QSpinBox:hover { border-color: @accent; }\n"
        "QSpinBox::up-button, QSpinBox::down-button { background-color: @spinButton; border: none; "
        "width: 18px; }\n"
        "QSpinBox::up-button:hover, QSpinBox::down-button:hover { background-color: @spinButtonHover; }\n"
        "QPushButton { background-color: @accent; color: white; border: none; border-radius: 6px; "
        "padding: 4px 12px; font-weight: bold; min-height: 24px; font-size: 9pt; }\n"
        "QPushButton:hover { background-color: @buttonHover; }\n"
        "QPushButton:pressed { background-color: @buttonPressed; }\n"
        "QPushButton:disabled { background-color: @disabledBackground; color: @disabledText; "
        "border: 1px solid @disabledBorder; }\n"
        "QCheckBox { spacing: 8px; color: @text; }\n"
        "QCheckBox::indicator { width: 18px; height: 18px; border: 2px solid @checkBorder; "
        "border-radius: 4px; background-color: @field; }\n"
        "QCheckBox::indicator:hover { border-color: @accent; }\n"
        "QCheckBox::indicator:checked { background-color: @accent; border-color: @accent; "
        "image: url(:/resources/check.png); }\n"
        "QComboBox { background-color: @field; border: 1px solid @fieldBorder; border-radius: 6px; "
        "padding: 6px 12px; min-height: 28px; color: @text; }\n"
        "QComboBox:hover { border-color: @accent; background-color: @comboHover; }\n"
        "QComboBox:focus { border-color: @accent; outline: none; }\n"
        "QComboBox::drop-down { border: none; width: 24px; padding-right: 4px; }\n"
        "QComboBox::down-arrow { image: url(:/arrows/down-@textHex.png); width: 10px; height: 6px; "
        "margin-right: 6px; }\n"
        "QComboBox::down-arrow:hover { image: url(:/arrows/down-@accentHex.png); }\n"
        "QComboBox QAbstractItemView { background-color: @field; border: 1px solid @fieldBorder; "
        "border-radius: 6px; selection-background-color: @accent; selection-color: white; color: @text; "
        "padding: 4px; outline: none; }\n"
        "QComboBox QAbstractItemView::item { height: 32px; padding-left: 12px; border-radius: 4px; "
        "color: @text; }\n"
        "QComboBox QAbstractItemView::item:hover { background-color: @itemHover; color: @text; }\n"
        "QComboBox QAbstractItemView::item:selected { background-color: @accent; color: white; }\n"
        "QScrollBar:vertical { background-color: @scrollTrack; width: 12px; border-radius: 6px; }\n"
        "QScrollBar::handle:vertical { background-color: @scrollHandle; border-radius: 6px; "
        "min-height: 30px; }\n"
        "QScrollBar::handle:vertical:hover { background-color: @scrollHandleHover; }\n"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0px; }\n");

    // Longer names first, so that "@field" does not eat the start of "@fieldBorder". The arrow
    // pictures are named after their colour, without the "#".
    const std::pair<const char *, const char *> colors[] = {
        { "@accentHex", c.accent + 1 },
        { "@textHex", c.text + 1 },
        { "@disabledBackground", c.disabledBackground },
        { "@scrollHandleHover", c.scrollHandleHover },
        { "@spinButtonHover", c.spinButtonHover },
        { "@disabledBorder", c.disabledBorder },
        { "@buttonPressed", c.buttonPressed },
        { "@scrollHandle", c.scrollHandle },
        { "@disabledText", c.disabledText },
        { "@buttonHover", c.buttonHover },
        { "@fieldBorder", c.fieldBorder },
        { "@checkBorder", c.checkBorder },
        { "@scrollTrack", c.scrollTrack },
        { "@spinButton", c.spinButton },
        { "@comboHover", c.comboHover },
        { "@itemHover", c.itemHover },
        { "@window", c.window },
        { "@accent", c.accent },
        { "@field", c.field },
        { "@text", c.text },
    };
    for (const auto &[name, value] : colors)
        sheet.replace(QLatin1String(name), QLatin1String(value));
    return sheet;
}

// The server list's context menu: a raised panel in the theme's field colours.
QString menuStyleSheet(const ThemeColors &c)
{
    return QStringLiteral("QMenu { background-color: %1; color: %2; border: 1px solid %3; padding: 4px; }\n"
                          "QMenu::item { background-color: transparent; padding: 6px 24px 6px 16px; }\n"
                          "QMenu::item:selected { background-color: %4; }")
        .arg(QLatin1String(c.field), QLatin1String(c.text), QLatin1String(c.fieldBorder),
             QLatin1String(c.itemHover));
}

const char CARD_SHEET_DARK[]
    = "ServerCardWidget {    background-color: #2C3546;    border: 1px solid #3D4759;    "
      "border-radius: 12px;}ServerCardWidget:hover {    border-color: #5B8DEE;}";
const char CARD_SHEET_LIGHT[]
    = "ServerCardWidget {    background-color: #FFFFFF;    border: 1px solid #DFE6E9;    "
      "border-radius: 12px;}ServerCardWidget:hover {    border-color: #3498DB;}";

const char STATUS_STOPPED[] = "连接状态: <span style='color: #95A5A6;'>● 未连接</span>";
const char STATUS_STARTING[] = "连接状态: <span style='color: #F39C12;'>● 正在连接...</span>";
const char STATUS_RUNNING[] = "连接状态: <span style='color: #27AE60; font-weight: bold;'>● 已连接</span>";
const char STATUS_STOPPING[] = "连接状态: <span style='color: #F39C12;'>● 正在断开...</span>";
const char STATUS_ERROR[] = "连接状态: <span style='color: #E74C3C;'>● 错误</span>";
const char STATUS_RUNNING_AT[]
    = "连接状态: <span style='color: #27AE60; font-weight: bold;'>● 已连接</span> | "
      "<span style='color: #2E86DE; font-size: 12pt; font-weight: bold;'>%1</span>";

const char COPIED_CAPTION[] = "✓ 已复制";
const int COPIED_CAPTION_MS = 1500;

const char LINE_EDIT_SHEET[] = "QLineEdit { background-color: #FFFFFF; border: 1px solid #DFE6E9; "
                               "border-radius: 6px; padding: 8px 12px; color: #2C3E50; }";

// A message box whose text is shown as typed: names and paths may hold markup characters.
void showPlainMessage(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

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
    if (m_editBtn)
        m_editBtn->setEnabled(enabled);
    m_connectBtn->setEnabled(enabled);
}

void ServerCardWidget::updateCardTheme()
{
    setStyleSheet(QString::fromUtf8(isDarkThemeAround(this) ? CARD_SHEET_DARK : CARD_SHEET_LIGHT));

    update();
    for (QObject *child : children()) {
        if (auto *widget = qobject_cast<QWidget *>(child))
            widget->update();
    }
}

void ServerCardWidget::mousePressEvent(QMouseEvent *event)
{
    if (!m_isBuiltIn && event->button() == Qt::LeftButton
        && getCloseButtonRect().contains(event->position().toPoint())) {
        emit deleteClicked(m_index);
        return;
    }
    QFrame::mousePressEvent(event);
}

void ServerCardWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_isBuiltIn) {
        const bool wasHovered = m_closeButtonHovered;
        m_closeButtonHovered = getCloseButtonRect().contains(event->position().toPoint());
        if (m_closeButtonHovered != wasHovered) {
            update();
            setCursor(m_closeButtonHovered ? Qt::PointingHandCursor : Qt::ArrowCursor);
        }
    }
    QFrame::mouseMoveEvent(event);
}

void ServerCardWidget::leaveEvent(QEvent *event)
{
    if (m_closeButtonHovered) {
        m_closeButtonHovered = false;
        setCursor(Qt::ArrowCursor);
        update();
    }
    QFrame::leaveEvent(event);
}

void ServerCardWidget::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (m_isBuiltIn)
        return;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect closeRect = getCloseButtonRect();
    const bool isDark = isDarkThemeAround(this);

    if (m_closeButtonHovered) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(231, 76, 60, 200));
        painter.drawEllipse(closeRect);
    }

    QColor crossColor;
    if (m_closeButtonHovered)
        crossColor = Qt::white;
    else
        crossColor = isDark ? QColor(180, 180, 180) : QColor(150, 150, 150);
    painter.setPen(QPen(QBrush(crossColor), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));

    const int offset = 4;
    painter.drawLine(QPoint(closeRect.left() + offset, closeRect.top() + offset),
                     QPoint(closeRect.right() - offset, closeRect.bottom() - offset));
    painter.drawLine(QPoint(closeRect.right() - offset, closeRect.top() + offset),
                     QPoint(closeRect.left() + offset, closeRect.bottom() - offset));
}

void ServerCardWidget::setupUI()
{
    setFrameShape(QFrame::StyledPanel);
    updateCardTheme();
    setMaximumHeight(90);

    auto *mainLayout = new QHBoxLayout(this);
    mainLayout->setContentsMargins(18, 14, 18, 14);
    mainLayout->setSpacing(12);

    auto *infoLayout = new QVBoxLayout;
    infoLayout->setSpacing(6);

    const QString icon = m_isBuiltIn ? QStringLiteral("🔒 ") : QStringLiteral("⚙️ ");
    const QString suffix = m_isBuiltIn ? QStringLiteral(" [内置]") : QString();
    m_nameLabel = new QLabel(icon + m_name + suffix, this);
    m_nameLabel->setTextFormat(Qt::PlainText);
    m_nameLabel->setStyleSheet(QStringLiteral("font-size: 13pt; font-weight: bold;"));

    // The built-in server's address is never shown: its label stays empty and outside the layout.
    m_addressLabel = new QLabel(this);
    m_addressLabel->setTextFormat(Qt::PlainText);
    if (!m_isBuiltIn)
        m_addressLabel->setText(QStringLiteral("%1:%2").arg(m_address, QString::number(m_port)));
    m_addressLabel->setStyleSheet(QStringLiteral("font-size: 10pt;"));

    infoLayout->addWidget(m_nameLabel);
    if (!m_isBuiltIn)
        infoLayout->addWidget(m_addressLabel);
    mainLayout->addLayout(infoLayout, 1);

    auto *btnLayout = new QHBoxLayout;
    btnLayout->setSpacing(8);
    btnLayout->setAlignment(Qt::AlignVCenter);

    if (!m_isBuiltIn) {
        m_editBtn = new QPushButton(QStringLiteral("编辑"), this);
        m_editBtn->setFixedSize(60, 28);
        m_editBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
        connect(m_editBtn, &QPushButton::clicked, this, [this] { emit editClicked(m_index); });
        btnLayout->addWidget(m_editBtn);
    }

    m_connectBtn = new QPushButton(QStringLiteral("连接"), this);
    m_connectBtn->setFixedSize(70, 28);
    m_connectBtn->setStyleSheet(QStringLiteral("font-size: 9pt; font-weight: bold;"));
    connect(m_connectBtn, &QPushButton::clicked, this, [this] {
        // The second click of a double click would undo the first: connect and at once disconnect,
        // or end the tunnel and start a new one on another public port.
        if (std::exchange(m_swallowClick, false))
            return;
        emit connectClicked(m_index);
    });
    m_connectBtn->installEventFilter(this);
    btnLayout->addWidget(m_connectBtn);

    mainLayout->addLayout(btnLayout, 0);
}

void ServerCardWidget::updateConnectButton()
{
    if (m_isConnected) {
        m_connectBtn->setText(QStringLiteral("断开"));
        m_connectBtn->setStyleSheet(
            QStringLiteral("QPushButton { background-color: #E9A568; font-weight: bold; }"
                           "QPushButton:hover { background-color: #F0B878; }"));
    } else {
        m_connectBtn->setText(QStringLiteral("连接"));
        m_connectBtn->setStyleSheet(QStringLiteral("QPushButton { font-weight: bold; }"));
    }
}

bool ServerCardWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_connectBtn) {
        // The system reports the second press of a double click once more as a double click; the
        // click that this press completes is not a new action.
        if (event->type() == QEvent::MouseButtonPress)
            m_swallowClick = false;
        else if (event->type() == QEvent::MouseButtonDblClick)
            m_swallowClick = true;
    }
    return QFrame::eventFilter(watched, event);
}

QRect ServerCardWidget::getCloseButtonRect() const
{
    const int size = 16;
    const int margin = 8;
    return QRect(width() - size - margin, margin, size, size);
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
    setupDesktopNotifications();

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
    portLayout->addWidget(portLabel, 0, Qt::AlignVCenter);
    portLayout->addWidget(m_localPortSpin, 0, Qt::AlignVCenter);
    topAreaLayout->addLayout(portLayout);

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
    m_scrollArea->setStyleSheet(
        QStringLiteral("QScrollArea { background-color: transparent; border: none; }"));

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

void MainWindow::applyLightTheme()
{
    m_currentTheme = 0;
    setStyleSheet(windowStyleSheet(LIGHT_COLORS));
    DarkThemeHelper::setDarkTitleBar(this, false);
}

void MainWindow::applyDarkTheme()
{
    m_currentTheme = 1;
    setStyleSheet(windowStyleSheet(DARK_COLORS));
    DarkThemeHelper::setDarkTitleBar(this, true);
}

void MainWindow::loadSettings()
{
    m_localPortSpin->setValue(ServerConfigManager::instance().getLastLocalPort());

    QSettings settings;
    // Checking the box re-writes the start-at-login entry for the executable that runs now.
    m_autoStartCheck->setChecked(settings.value(QStringLiteral("autoStart"), false).toBool());

    // A stored value other than 0 and 1 leaves the selector empty; the change still selects dark.
    m_currentTheme = settings.value(QStringLiteral("theme"), 0).toInt();
    m_themeCombo->setCurrentIndex(m_currentTheme);

    if (m_currentTheme != 0)
        applyDarkTheme();
    else
        applyLightTheme();
}

void MainWindow::saveSettings()
{
    ServerConfigManager::instance().setLastLocalPort(m_localPortSpin->value());

    QSettings settings;
    settings.setValue(QStringLiteral("autoStart"), m_autoStartCheck->isChecked());
    settings.setValue(QStringLiteral("theme"), m_currentTheme);
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
}

void MainWindow::updateStatusDisplay()
{
    switch (m_frpcManager->status()) {
    case FrpcManager::Stopped:
        m_statusLabel->setText(QString::fromUtf8(STATUS_STOPPED));
        m_copyIPBtn->hide();
        m_copyPortBtn->hide();
        m_remoteIP.clear();
        m_remotePort.clear();
        break;
    case FrpcManager::Starting:
        m_statusLabel->setText(QString::fromUtf8(STATUS_STARTING));
        m_copyIPBtn->hide();
        m_copyPortBtn->hide();
        break;
    case FrpcManager::Running:
        m_statusLabel->setText(QString::fromUtf8(STATUS_RUNNING));
        break;
    case FrpcManager::Stopping:
        m_statusLabel->setText(QString::fromUtf8(STATUS_STOPPING));
        break;
    case FrpcManager::Error:
        m_statusLabel->setText(QString::fromUtf8(STATUS_ERROR));
        break;
    }
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
}

void MainWindow::setupAutoStart(bool enable)
{
    StartAtLogin::setEnabled(enable);
}

void MainWindow::showEditDialog(int index)
{
    auto *dialog = new QDialog(this);
    dialog->setWindowTitle(index == -1 ? QStringLiteral("添加服务器") : QStringLiteral("编辑服务器"));
    dialog->resize(400, 350);
    dialog->setAttribute(Qt::WA_DeleteOnClose);

    auto *mainLayout = new QVBoxLayout(dialog);
    mainLayout->setContentsMargins(20, 20, 20, 20);
    mainLayout->setSpacing(15);
    auto *formLayout = new QFormLayout;
    formLayout->setSpacing(12);

    const QString lineEditSheet = QString::fromUtf8(LINE_EDIT_SHEET);

    auto *nameEdit = new QLineEdit(dialog);
    nameEdit->setPlaceholderText(QStringLiteral("例如: 主服务器"));
    nameEdit->setStyleSheet(lineEditSheet);
    formLayout->addRow(QStringLiteral("配置名称:"), nameEdit);

    auto *addrEdit = new QLineEdit(dialog);
    addrEdit->setPlaceholderText(QStringLiteral("例如: 127.0.0.1"));
    addrEdit->setStyleSheet(lineEditSheet);
    formLayout->addRow(QStringLiteral("服务器地址:"), addrEdit);

    auto *portSpin = new QSpinBox(dialog);
    portSpin->setRange(1, 65535);
    portSpin->setValue(7000);
    portSpin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    formLayout->addRow(QStringLiteral("服务器端口:"), portSpin);

    auto *tokenEdit = new QLineEdit(dialog);
    tokenEdit->setPlaceholderText(QStringLiteral("认证令牌"));
    tokenEdit->setStyleSheet(lineEditSheet);
    formLayout->addRow(QStringLiteral("Token:"), tokenEdit);

    auto *webPortSpin = new QSpinBox(dialog);
    webPortSpin->setRange(1, 65535);
    webPortSpin->setValue(7400);
    webPortSpin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    formLayout->addRow(QStringLiteral("Web API 端口:"), webPortSpin);

    mainLayout->addLayout(formLayout);

    if (index != -1) {
        const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
        if (index >= 0 && index < configs.size()) {
            const ServerConfig &config = configs.at(index);
            nameEdit->setText(config.name);
            addrEdit->setText(config.serverAddr);
            portSpin->setValue(config.serverPort);
            tokenEdit->setText(config.token);
            webPortSpin->setValue(config.webServerPort);
        }
    }

    auto *btnLayout = new QHBoxLayout;
    btnLayout->addStretch();
    auto *saveBtn = new QPushButton(QStringLiteral("保存"), dialog);
    saveBtn->setFixedSize(70, 28);
    saveBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    auto *cancelBtn = new QPushButton(QStringLiteral("取消"), dialog);
    cancelBtn->setFixedSize(70, 28);
    cancelBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    btnLayout->addWidget(saveBtn);
    btnLayout->addWidget(cancelBtn);
    mainLayout->addLayout(btnLayout);

    connect(saveBtn, &QPushButton::clicked, dialog,
            [this, dialog, nameEdit, addrEdit, portSpin, tokenEdit, webPortSpin, index] {
                ServerConfig config;
                config.name = nameEdit->text().trimmed();
                config.serverAddr = addrEdit->text().trimmed();
                config.serverPort = portSpin->value();
                config.token = tokenEdit->text().trimmed();
                config.webServerPort = webPortSpin->value();
                config.isBuiltIn = false;

                QString problem;
                if (config.name.isEmpty())
                    problem = QStringLiteral("配置名称不能为空");
                else if (config.serverAddr.isEmpty())
                    problem = QStringLiteral("服务器地址不能为空");
                else if (config.token.isEmpty())
                    problem = QStringLiteral("Token 不能为空");
                if (!problem.isEmpty()) {
                    QMessageBox::warning(dialog, QStringLiteral("验证失败"), problem);
                    return;
                }

                if (index == -1)
                    ServerConfigManager::instance().addConfig(config);
                else
                    ServerConfigManager::instance().updateConfig(index, config);
                dialog->accept();
                QTimer::singleShot(0, this, [this] { loadServerCards(); });
            });
    connect(cancelBtn, &QPushButton::clicked, dialog, &QDialog::reject);

    dialog->setStyleSheet(styleSheet());
    DarkThemeHelper::setDarkTitleBar(dialog, m_currentTheme == 1);

    dialog->exec();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_connectedServerIndex != -1) {
        const auto answer = QMessageBox::question(this, QStringLiteral("确认退出"),
                                                  QStringLiteral("隧道正在运行中，确定要退出吗？"),
                                                  QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
        m_frpcManager->stop();
    }
    saveSettings();
    event->accept();
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
    ServerConfigManager::instance().setLastLocalPort(localPort);

    // Mark the card before the controller reports anything, so no other card can be pressed. The
    // address shown for the tunnel is the one it was started with, whatever edits follow.
    m_connectedServerIndex = index;
    m_connectedAddress = config.serverAddr;
    updateCardStates();

    m_frpcManager->start(config, localPort);
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

    m_remoteIP = m_connectedAddress;
    m_remotePort = port;
    const QString remoteInfo = QStringLiteral("%1:%2").arg(m_remoteIP, m_remotePort);
    // The status line is rich text; the address and the port are shown exactly as they are.
    m_statusLabel->setText(QString::fromUtf8(STATUS_RUNNING_AT).arg(remoteInfo.toHtmlEscaped()));

    m_copyIPBtn->show();
    m_copyPortBtn->show();
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

    QSettings settings;
    settings.setValue(QStringLiteral("theme"), m_currentTheme);
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
    QMenu menu(this);
    menu.setStyleSheet(menuStyleSheet(isDarkTheme() ? DARK_COLORS : LIGHT_COLORS));
    QAction *exportAction = menu.addAction(QStringLiteral("导出服务器列表..."));
    QAction *importAction = menu.addAction(QStringLiteral("导入服务器列表..."));
    // The chosen action runs once the menu has closed, so its dialogs do not open from inside it.
    QAction *chosen = menu.exec(event->globalPos());
    if (chosen == exportAction)
        onExportServers();
    else if (chosen == importAction)
        onImportServers();
}

void MainWindow::onExportServers()
{
    const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                  .filePath(QStringLiteral("servers.json"));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出服务器列表"), suggested,
                                                      QStringLiteral("JSON 文件 (*.json);;所有文件 (*)"));
    if (path.isEmpty())
        return;

    QString reason;
    if (!ServerConfigManager::instance().exportToFile(path, &reason)) {
        showPlainMessage(this, QMessageBox::Warning, QStringLiteral("导出失败"),
                         QStringLiteral("无法写入 %1\n\n%2").arg(QDir::toNativeSeparators(path), reason));
        return;
    }
    showPlainMessage(this, QMessageBox::Information, QStringLiteral("导出完成"),
                     QStringLiteral("已将 %1 个服务器导出到 %2\n\n文件中含有令牌，请妥善保管。")
                         .arg(QString::number(ServerConfigManager::instance().getConfigs().size()),
                              QDir::toNativeSeparators(path)));
}

void MainWindow::onImportServers()
{
    const QString path
        = QFileDialog::getOpenFileName(this, QStringLiteral("导入服务器列表"),
                                       QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                       QStringLiteral("JSON 文件 (*.json);;所有文件 (*)"));
    if (path.isEmpty())
        return;

    QMessageBox question(QMessageBox::Question, QStringLiteral("导入服务器列表"),
                         QStringLiteral("将 %1 中的服务器追加到列表末尾，还是替换现有的服务器？")
                             .arg(QDir::toNativeSeparators(path)),
                         QMessageBox::NoButton, this);
    question.setTextFormat(Qt::PlainText);
    QPushButton *appendBtn = question.addButton(QStringLiteral("追加"), QMessageBox::AcceptRole);
    QPushButton *replaceBtn = question.addButton(QStringLiteral("替换"), QMessageBox::DestructiveRole);
    question.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    question.setDefaultButton(appendBtn);
    question.exec();
    const bool append = question.clickedButton() == appendBtn;
    if (!append && question.clickedButton() != replaceBtn)
        return;

    // Replacing would take away the entry the running tunnel was started from.
    if (!append && m_connectedServerIndex != -1) {
        QMessageBox::warning(this, QStringLiteral("无法替换"),
                             QStringLiteral("隧道正在运行中，请先断开连接再替换服务器列表。"));
        return;
    }

    QString reason;
    int added = 0;
    int skipped = 0;
    ServerConfigManager &store = ServerConfigManager::instance();
    if (!store.importFromFile(path, append, &reason, &added, &skipped)) {
        showPlainMessage(this, QMessageBox::Warning, QStringLiteral("导入失败"),
                         QStringLiteral("无法导入 %1\n\n%2").arg(QDir::toNativeSeparators(path), reason));
        return;
    }
    // Reloading puts the built-in entry back in front after a replacing import, as the next start would.
    store.loadConfigs();
    loadServerCards();
    QMessageBox::information(
        this, QStringLiteral("导入完成"),
        QStringLiteral("已添加 %1 个服务器，跳过 %2 个无效条目。").arg(added).arg(skipped));
}

// ---------------------------------------------------------------------------------------------
// Connecting from the command line

bool MainWindow::connectServerByName(const QString &name, int localPort)
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
    onConnectServer(index);
    return m_connectedServerIndex == index;
}

// ---------------------------------------------------------------------------------------------
// Desktop notifications while the window is not in front

// Made ahead of the window's own handlers: a failure is announced before its error box opens, and the
// window's connection state is still that of the report.
void MainWindow::setupDesktopNotifications()
{
    const TunnelNotifications::StatusTexts texts { QString::fromUtf8(STATUS_STARTING),
                                                   QString::fromUtf8(STATUS_RUNNING_AT) };
    auto *notifications
        = new TunnelNotifications(m_frpcManager, this, texts, [this]() -> std::optional<QString> {
              if (m_connectedServerIndex == -1)
                  return std::nullopt;
              return m_connectedAddress;
          });
    connect(notifications, &TunnelNotifications::logMessage, this, &MainWindow::onLogMessage);
}
