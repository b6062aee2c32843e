// SPDX-License-Identifier: Apache-2.0
// One server card in the list: its name, address and buttons.
#include "gui/servercardwidget.h"

#include "gui/theme.h"
#include "gui/themestyles.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

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
    if (Theme *theme = Theme::of(this))
        connect(theme, &Theme::changed, this, &ServerCardWidget::updateCardTheme);
}

void ServerCardWidget::setConnected(bool connected)
{
    // Asked of every card at each change of the tunnel: a card that keeps its state is not restyled.
    if (m_connectedShown && connected == m_isConnected)
        return;
    m_connectedShown = true;
    m_isConnected = connected;
    updateConnectButton();
    updateDescription();
}

void ServerCardWidget::setEnabled(bool enabled)
{
    QFrame::setEnabled(enabled);
    if (m_editBtn)
        m_editBtn->setEnabled(enabled);
    m_connectBtn->setEnabled(enabled);
}

void ServerCardWidget::setLatency(std::optional<int> roundTripMs)
{
    m_unreachable = !roundTripMs;
    m_roundTripMs = roundTripMs;
    m_latencyLabel->setText(roundTripMs ? QStringLiteral("%1 ms").arg(*roundTripMs) : tr("无法连接"));
    m_latencyLabel->setStyleSheet(ThemeStyles::latencySheet(m_unreachable, Theme::isDark(this)));
    updateDescription();
}

QList<QWidget *> ServerCardWidget::focusOrder() const
{
    // The close button sits in the top corner, above the others.
    QList<QWidget *> order;
    if (m_deleteBtn)
        order << m_deleteBtn;
    if (m_editBtn)
        order << m_editBtn;
    order << m_connectBtn;
    return order;
}

QString ServerCardWidget::shownName() const
{
    const QByteArray name = m_name.toUtf8();
    return m_isBuiltIn ? QCoreApplication::translate("ServerConfigManager", name.constData()) : m_name;
}

void ServerCardWidget::retranslateUi()
{
    const QString icon = m_isBuiltIn ? QStringLiteral("🔒 ") : QStringLiteral("⚙️ ");
    const QString suffix = m_isBuiltIn ? tr(" [内置]") : QString();
    m_nameLabel->setText(icon + shownName() + suffix);
    if (m_editBtn) {
        m_editBtn->setText(tr("编辑"));
        m_editBtn->setAccessibleName(tr("编辑服务器 %1").arg(shownName()));
    }
    if (m_deleteBtn) {
        m_deleteBtn->setAccessibleName(tr("删除服务器 %1").arg(shownName()));
        m_deleteBtn->setToolTip(m_deleteBtn->accessibleName());
    }
    if (m_unreachable)
        m_latencyLabel->setText(tr("无法连接"));
    updateConnectText();
    updateDescription();
}

void ServerCardWidget::updateDescription()
{
    const QString address = m_isBuiltIn ? tr("内置服务器") : m_addressLabel->text();
    const QString roundTrip = !m_roundTripMs ? (m_unreachable ? tr("无法连接") : tr("尚未测量"))
                                             : tr("%1 毫秒").arg(*m_roundTripMs);
    setAccessibleName(shownName());
    setAccessibleDescription(
        (m_isConnected ? tr("地址 %1，往返时间 %2，隧道正在运行") : tr("地址 %1，往返时间 %2，隧道未运行"))
            .arg(address, roundTrip));
}

void ServerCardWidget::changeEvent(QEvent *event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
}

void ServerCardWidget::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (m_deleteBtn)
        m_deleteBtn->setGeometry(getCloseButtonRect());
}

void ServerCardWidget::updateCardTheme()
{
    setStyleSheet(ThemeStyles::cardSheet(Theme::isDark(this)));
    if (m_latencyLabel)
        m_latencyLabel->setStyleSheet(ThemeStyles::latencySheet(m_unreachable, Theme::isDark(this)));

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
    const bool isDark = Theme::isDark(this);

    // The keyboard's focus shows as the mouse over it does.
    const bool highlighted = m_closeButtonHovered || (m_deleteBtn && m_deleteBtn->hasFocus());
    if (highlighted) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(231, 76, 60, 200));
        painter.drawEllipse(closeRect);
    }

    QColor crossColor;
    if (highlighted)
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

    m_nameLabel = new QLabel(this);
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

    // Empty until the window has measured the round trip to the server.
    m_latencyLabel = new QLabel(this);
    m_latencyLabel->setObjectName(QStringLiteral("latencyLabel"));
    m_latencyLabel->setTextFormat(Qt::PlainText);
    m_latencyLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_latencyLabel->setMinimumWidth(56);
    m_latencyLabel->setStyleSheet(ThemeStyles::latencySheet(false, Theme::isDark(this)));
    btnLayout->addWidget(m_latencyLabel);

    if (!m_isBuiltIn) {
        m_editBtn = new QPushButton(this);
        m_editBtn->setFixedSize(60, 28);
        m_editBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
        connect(m_editBtn, &QPushButton::clicked, this, [this] { emit editClicked(m_index); });
        btnLayout->addWidget(m_editBtn);
    }

    m_connectBtn = new QPushButton(this);
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

    if (!m_isBuiltIn) {
        m_deleteBtn = new QToolButton(this);
        m_deleteBtn->setObjectName(QStringLiteral("deleteServerButton"));
        m_deleteBtn->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_deleteBtn->setFocusPolicy(Qt::TabFocus);
        m_deleteBtn->setStyleSheet(QStringLiteral("QToolButton { background: transparent; border: none; }"));
        m_deleteBtn->setGeometry(getCloseButtonRect());
        m_deleteBtn->installEventFilter(this);
        connect(m_deleteBtn, &QToolButton::clicked, this, [this] { emit deleteClicked(m_index); });
    }
    retranslateUi();
}

void ServerCardWidget::updateConnectButton()
{
    updateConnectText();
    m_connectBtn->setStyleSheet(ThemeStyles::connectButtonSheet(m_isConnected));
}

void ServerCardWidget::updateConnectText()
{
    m_connectBtn->setText(m_isConnected ? tr("断开") : tr("连接"));
    ThemeStyles::fitCaption(m_connectBtn, 70);
    m_connectBtn->setAccessibleName(m_isConnected ? tr("断开与 %1 的连接").arg(shownName())
                                                  : tr("连接到 %1").arg(shownName()));
}

bool ServerCardWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_deleteBtn && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        update();
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
