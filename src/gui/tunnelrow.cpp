// SPDX-License-Identifier: Apache-2.0
// One tunnel's row of the window: its controls, its address and its hints.
#include "gui/tunnelrow.h"

#include "gui/theme.h"
#include "gui/themestyles.h"

#include <QAbstractSpinBox>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const int COPIED_CAPTION_MS = 1500;

} // namespace

TunnelRow::TunnelRow(Kind kind, const Tunnel &tunnel, QWidget *parent)
    : QWidget(parent)
    , m_applied(tunnel)
{
    // The controls on one line of fixed width, so that the rows stand aligned; the hint under them.
    auto *rowLayout = new QVBoxLayout(this);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(2);
    m_line = new QHBoxLayout;
    m_line->setAlignment(Qt::AlignCenter);
    rowLayout->addLayout(m_line);

    m_port = new QSpinBox(this);
    m_port->setRange(1, 65535);
    m_port->setFixedSize(100, 32);
    m_port->setStyleSheet(QStringLiteral("font-size: 11pt;"));
    m_port->setAlignment(Qt::AlignCenter);
    m_port->setButtonSymbols(QAbstractSpinBox::NoButtons);
    // The item data is the Tunnel::Protocol the entry stands for.
    m_protocol = new QComboBox(this);
    addProtocols(m_protocol);
    m_protocol->setFixedSize(136, 32);
    m_protocol->setStyleSheet(QStringLiteral("font-size: 11pt;"));
    setTunnel(tunnel);
    connect(m_port, &QSpinBox::editingFinished, this, &TunnelRow::edited);
    // The names of the controls say which port they act on.
    connect(m_port, &QSpinBox::valueChanged, this, &TunnelRow::retranslateUi);
    connect(m_protocol, &QComboBox::activated, this, &TunnelRow::edited);

    if (kind == First) {
        m_protocol->setObjectName(QStringLiteral("protocolCombo"));
        m_label = new QLabel(this);
        m_label->setStyleSheet(QStringLiteral("font-size: 12pt; font-weight: 600;"));
        m_label->setBuddy(m_port);
        retranslateUi();
        m_line->addWidget(m_label, 0, Qt::AlignVCenter);
        m_line->addWidget(m_port, 0, Qt::AlignVCenter);
        m_line->addWidget(m_protocol, 0, Qt::AlignVCenter);
        return;
    }

    setObjectName(QStringLiteral("tunnelRow"));
    auto *remove = new QPushButton(QStringLiteral("−"), this);
    m_remove = remove;
    remove->setObjectName(QStringLiteral("removeTunnelButton"));
    remove->setFixedSize(32, 32);
    connect(remove, &QPushButton::clicked, this, &TunnelRow::removeRequested);
    m_address = new QLabel(this);
    m_address->setObjectName(QStringLiteral("tunnelAddressLabel"));
    m_address->setTextFormat(Qt::PlainText);
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_address->setFixedWidth(300);
    m_address->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_copy = new QPushButton(this);
    m_copy->setFixedSize(60, 24);
    // Keeps its place while hidden, so that the row keeps its width.
    QSizePolicy keepPlace = m_copy->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_copy->setSizePolicy(keepPlace);
    m_copy->hide();
    connect(m_copy, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_copyText, QClipboard::Clipboard);
        m_copy->setText(tr("✓ 已复制"));
        QTimer::singleShot(COPIED_CAPTION_MS, m_copy, [this] { m_copy->setText(tr("复制")); });
    });
    m_hint = new QLabel(this);
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setTextFormat(Qt::PlainText);
    m_hint->hide();
    retranslateUi();
    applyTheme();
    if (Theme *theme = Theme::of(this))
        connect(theme, &Theme::changed, this, &TunnelRow::applyTheme);
    m_line->addWidget(m_port);
    m_line->addWidget(m_protocol);
    m_line->addWidget(remove);
    m_line->addSpacing(8);
    m_line->addWidget(m_address);
    m_line->addWidget(m_copy);
    rowLayout->addWidget(m_hint);
}

Tunnel TunnelRow::tunnel() const
{
    return { m_port->value(), Tunnel::Protocol(m_protocol->currentData().toInt()) };
}

void TunnelRow::setTunnel(const Tunnel &tunnel)
{
    m_port->setValue(tunnel.localPort);
    m_protocol->setCurrentIndex(m_protocol->findData(int(tunnel.protocol)));
}

int TunnelRow::port() const
{
    return m_port->value();
}

void TunnelRow::setProtocolLocked(bool locked)
{
    m_protocol->setEnabled(!locked);
}

void TunnelRow::showAddress(const QString &address, const QString &copyText)
{
    if (!m_address)
        return;
    m_address->setText(address);
    m_copyText = copyText;
    m_copy->setVisible(!address.isEmpty());
}

void TunnelRow::showHints(const QStringList &hints)
{
    if (!m_hint)
        return;
    const QString hint = hints.join(u'\n');
    m_hint->setText(hint);
    m_hint->setVisible(!hint.isEmpty());
}

void TunnelRow::addProtocols(QComboBox *combo)
{
    combo->addItem(QStringLiteral("TCP"), int(Tunnel::Tcp));
    combo->addItem(QStringLiteral("UDP"), int(Tunnel::Udp));
    combo->addItem(QStringLiteral("TCP+UDP"), int(Tunnel::TcpUdp));
}

void TunnelRow::retranslateUi()
{
    const int port = m_port->value();
    m_port->setAccessibleName(tr("本地端口"));
    m_protocol->setAccessibleName(tr("端口 %1 的协议").arg(port));
    if (m_label)
        m_label->setText(tr("本地端口"));
    if (m_remove) {
        m_remove->setToolTip(tr("删除端口"));
        m_remove->setAccessibleName(tr("删除端口 %1").arg(port));
    }
    if (m_copy) {
        m_copy->setText(tr("复制"));
        m_copy->setAccessibleName(tr("复制端口 %1 的地址").arg(port));
    }
}

QList<QWidget *> TunnelRow::focusOrder() const
{
    QList<QWidget *> order { m_port, m_protocol };
    if (m_remove)
        order << m_remove << m_copy;
    return order;
}

void TunnelRow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
}

void TunnelRow::applyTheme()
{
    if (m_hint)
        m_hint->setStyleSheet(ThemeStyles::warningHintSheet(Theme::isDark(this)));
}
