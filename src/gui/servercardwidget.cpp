// SPDX-License-Identifier: Apache-2.0
// One server card in the list: its name, address and buttons.
#include "gui/servercardwidget.h"

#include "gui/theme.h"
#include "gui/themestyles.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
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

void ServerCardWidget::setLatency(std::optional<int> roundTripMs)
{
    m_unreachable = !roundTripMs;
    m_latencyLabel->setText(roundTripMs ? QStringLiteral("%1 ms").arg(*roundTripMs)
                                        : QStringLiteral("无法连接"));
    m_latencyLabel->setStyleSheet(ThemeStyles::latencySheet(m_unreachable, Theme::isDark(this)));
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

    // Empty until the window has measured the round trip to the server.
    m_latencyLabel = new QLabel(this);
    m_latencyLabel->setObjectName(QStringLiteral("latencyLabel"));
    m_latencyLabel->setTextFormat(Qt::PlainText);
    m_latencyLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_latencyLabel->setMinimumWidth(56);
    m_latencyLabel->setStyleSheet(ThemeStyles::latencySheet(false, Theme::isDark(this)));
    btnLayout->addWidget(m_latencyLabel);

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
    m_connectBtn->setText(m_isConnected ? QStringLiteral("断开") : QStringLiteral("连接"));
    m_connectBtn->setStyleSheet(ThemeStyles::connectButtonSheet(m_isConnected));
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
