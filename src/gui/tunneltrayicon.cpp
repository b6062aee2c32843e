// SPDX-License-Identifier: Apache-2.0
// The tray icon: its picture, tooltip and menu.
#include "gui/tunneltrayicon.h"

#include <QAction>
#include <QColor>
#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace {

const int ICON_SIZES[] = { 16, 22, 24, 32, 48, 64 };

QColor markColour(TunnelTrayIcon::Look look)
{
    switch (look) {
    case TunnelTrayIcon::Connecting:
        return QColor(0xF3, 0x9C, 0x12);
    case TunnelTrayIcon::Connected:
        return QColor(0x27, 0xAE, 0x60);
    case TunnelTrayIcon::Idle:
        break;
    }
    return QColor(0x95, 0xA5, 0xA6);
}

} // namespace

TunnelTrayIcon *TunnelTrayIcon::createIfAvailable(QWidget *window)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return nullptr;
    return new TunnelTrayIcon(window);
}

TunnelTrayIcon::TunnelTrayIcon(QWidget *window)
    : QObject(window)
    , m_icon(new QSystemTrayIcon(window))
{
    createMenu();
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            emit toggleWindowRequested();
    });
    setState(Idle, QString(), QString());
    m_icon->show();
}

TunnelTrayIcon::~TunnelTrayIcon()
{
    // The icon belongs to the window, which may outlive this object; it goes with it.
    delete m_icon.data();
}

void TunnelTrayIcon::createMenu()
{
    m_menu = std::make_unique<QMenu>();
    m_showAction = m_menu->addAction(QString());
    m_copyAction = m_menu->addAction(QString());
    m_disconnectAction = m_menu->addAction(QString());
    m_menu->addSeparator();
    m_quitAction = m_menu->addAction(QString());
    retranslateUi();
    connect(m_showAction, &QAction::triggered, this, &TunnelTrayIcon::showWindowRequested);
    connect(m_copyAction, &QAction::triggered, this, &TunnelTrayIcon::copyAddressRequested);
    connect(m_disconnectAction, &QAction::triggered, this, &TunnelTrayIcon::disconnectRequested);
    connect(m_quitAction, &QAction::triggered, this, &TunnelTrayIcon::quitRequested);
}

void TunnelTrayIcon::retranslateUi()
{
    m_showAction->setText(tr("显示窗口"));
    m_copyAction->setText(tr("复制地址"));
    m_disconnectAction->setText(tr("断开"));
    m_quitAction->setText(tr("退出"));
}

bool TunnelTrayIcon::event(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
    return QObject::event(event);
}

void TunnelTrayIcon::setState(Look look, const QString &statusText, const QString &address)
{
    if (look != m_look || m_icon->icon().isNull())
        m_icon->setIcon(iconFor(look));
    m_look = look;

    QString tip = QStringLiteral("Marrowgate");
    if (!statusText.isEmpty())
        tip += u'\n' + statusText;
    if (look == Connected && !address.isEmpty() && !statusText.contains(address))
        tip += u'\n' + address;
    m_icon->setToolTip(tip);

    const bool connected = look == Connected;
    const bool running = look != Idle;
    m_copyAction->setVisible(connected);
    m_copyAction->setEnabled(connected);
    m_disconnectAction->setVisible(running);
    m_disconnectAction->setEnabled(running);
}

QIcon TunnelTrayIcon::iconFor(Look look)
{
    const QIcon base(QStringLiteral(":/main.png"));
    QIcon icon;
    for (const int size : ICON_SIZES) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        base.paint(&painter, pixmap.rect());
        // A dot of 45% of the side in the lower right corner, ringed in white to stand out on any panel.
        const qreal diameter = size * 0.45;
        const QRectF dot(size - diameter, size - diameter, diameter, diameter);
        painter.setPen(QPen(Qt::white, qMax(1.0, size / 16.0)));
        painter.setBrush(markColour(look));
        painter.drawEllipse(dot.adjusted(0.5, 0.5, -0.5, -0.5));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
