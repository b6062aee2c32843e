// SPDX-License-Identifier: Apache-2.0
// One tunnel's row of the window: its controls, its address and its hints.
#include "gui/tunnelrow.h"

#include "core/sharecode.h"

#include "gui/theme.h"
#include "gui/themestyles.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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
    m_private = new QCheckBox(this);
    m_private->setObjectName(QStringLiteral("privateTunnelCheck"));
    setTunnel(tunnel);
    connect(m_port, &QSpinBox::editingFinished, this, &TunnelRow::edited);
    // The names of the controls say which port they act on.
    connect(m_port, &QSpinBox::valueChanged, this, &TunnelRow::retranslateUi);
    connect(m_protocol, &QComboBox::activated, this, &TunnelRow::edited);
    connect(m_private, &QCheckBox::clicked, this, &TunnelRow::edited);
    makeSharePanel(rowLayout);
    applyTheme();
    if (Theme *theme = Theme::of(this))
        connect(theme, &Theme::changed, this, &TunnelRow::applyTheme);

    if (kind == First) {
        m_protocol->setObjectName(QStringLiteral("protocolCombo"));
        m_label = new QLabel(this);
        m_label->setStyleSheet(QStringLiteral("font-size: 12pt; font-weight: 600;"));
        m_label->setBuddy(m_port);
        retranslateUi();
        m_line->addWidget(m_label, 0, Qt::AlignVCenter);
        m_line->addWidget(m_port, 0, Qt::AlignVCenter);
        m_line->addWidget(m_protocol, 0, Qt::AlignVCenter);
        m_line->addWidget(m_private, 0, Qt::AlignVCenter);
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
    m_line->addWidget(m_port);
    m_line->addWidget(m_protocol);
    m_line->addWidget(m_private);
    m_line->addWidget(remove);
    m_line->addSpacing(8);
    m_line->addWidget(m_address);
    m_line->addWidget(m_copy);
    rowLayout->addWidget(m_hint);
}

Tunnel TunnelRow::tunnel() const
{
    return { m_port->value(), Tunnel::Protocol(m_protocol->currentData().toInt()), m_private->isChecked() };
}

void TunnelRow::setTunnel(const Tunnel &tunnel)
{
    m_port->setValue(tunnel.localPort);
    m_protocol->setCurrentIndex(m_protocol->findData(int(tunnel.protocol)));
    m_private->setChecked(tunnel.isPrivate);
}

void TunnelRow::makeSharePanel(QVBoxLayout *rowLayout)
{
    m_sharePanel = new QWidget(this);
    m_sharePanel->setObjectName(QStringLiteral("shareCodePanel"));
    auto *panel = new QVBoxLayout(m_sharePanel);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->setSpacing(2);
    auto *line = new QHBoxLayout;
    panel->addLayout(line);
    m_shareReady = new QLabel(m_sharePanel);
    m_shareReady->setObjectName(QStringLiteral("shareCodeReadyLabel"));
    m_copyShareCode = new QPushButton(m_sharePanel);
    m_copyShareCode->setObjectName(QStringLiteral("copyShareCodeButton"));
    // Small, as the status line's copy buttons.
    const auto small = [](QPushButton *button) {
        button->setFixedSize(90, 24);
        button->setStyleSheet(QStringLiteral("font-size: 9pt; padding: 2px 6px;"));
    };
    small(m_copyShareCode);
    connect(m_copyShareCode, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_shareCode, QClipboard::Clipboard);
        m_copyShareCode->setText(tr("✓ 已复制"));
        QTimer::singleShot(COPIED_CAPTION_MS, m_copyShareCode,
                           [this] { m_copyShareCode->setText(tr("复制分享码")); });
    });
    m_renewShareCode = new QPushButton(m_sharePanel);
    m_renewShareCode->setObjectName(QStringLiteral("renewShareCodeButton"));
    small(m_renewShareCode);
    connect(m_renewShareCode, &QPushButton::clicked, this, &TunnelRow::renewShareCodeRequested);
    m_shareLabel = new QLineEdit(m_sharePanel);
    m_shareLabel->setObjectName(QStringLiteral("shareLabelEdit"));
    m_shareLabel->setMaxLength(ShareCode::MAX_LABEL_LENGTH);
    m_shareLabel->setFixedSize(120, 24);
    connect(m_shareLabel, &QLineEdit::editingFinished, this,
            [this] { emit shareLabelEdited(m_shareLabel->text()); });
    line->addStretch();
    line->addWidget(m_shareReady);
    line->addWidget(m_shareLabel);
    line->addWidget(m_copyShareCode);
    line->addWidget(m_renewShareCode);
    line->addStretch();
    m_shareWarning = new QLabel(m_sharePanel);
    m_shareWarning->setObjectName(QStringLiteral("shareCodeWarningLabel"));
    m_shareWarning->setAlignment(Qt::AlignCenter);
    m_shareWarning->setWordWrap(true);
    panel->addWidget(m_shareWarning);
    m_sharePanel->hide();
    rowLayout->addWidget(m_sharePanel);
}

void TunnelRow::showShareCode(bool shown, const QString &code, const QString &label)
{
    m_shareCode = code;
    if (!m_shareLabel->hasFocus())
        m_shareLabel->setText(label);
    showShareReadiness();
    m_copyShareCode->setEnabled(!code.isEmpty());
    m_sharePanel->setVisible(shown);
}

QWidget *TunnelRow::privateCheck() const
{
    return m_private;
}

int TunnelRow::port() const
{
    return m_port->value();
}

void TunnelRow::setProtocolLocked(bool locked)
{
    m_protocol->setEnabled(!locked);
    m_private->setEnabled(!locked);
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

void TunnelRow::showShareReadiness()
{
    // A code can carry a server address and token of limited length only.
    m_shareReady->setText(m_shareCode.isEmpty() ? tr("无法生成分享码：服务器地址或令牌太长")
                                                : tr("分享码已就绪"));
}

void TunnelRow::retranslateUi()
{
    const int port = m_port->value();
    m_private->setText(tr("仅好友"));
    m_private->setToolTip(tr("不在服务器上开放公网端口：只有持有分享码的好友才能连接"));
    m_private->setAccessibleName(tr("端口 %1 仅好友可用").arg(port));
    m_copyShareCode->setText(tr("复制分享码"));
    m_copyShareCode->setAccessibleName(tr("复制端口 %1 的分享码").arg(port));
    m_renewShareCode->setText(tr("新的分享码"));
    m_renewShareCode->setToolTip(tr("换一个密钥：已发出的分享码立即失效"));
    m_renewShareCode->setAccessibleName(tr("为端口 %1 换一个新的分享码").arg(port));
    m_shareLabel->setPlaceholderText(tr("名称（可选）"));
    m_shareLabel->setAccessibleName(tr("端口 %1 的分享名称").arg(port));
    m_shareWarning->setText(tr("分享码让持有者可以使用此服务器的令牌并连接到此端口：只发给你信任的人"));
    showShareReadiness();
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
    QList<QWidget *> order { m_port, m_protocol, m_private };
    if (m_remove)
        order << m_remove << m_copy;
    order << m_shareLabel << m_copyShareCode << m_renewShareCode;
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
    m_shareWarning->setStyleSheet(ThemeStyles::warningHintSheet(Theme::isDark(this)));
    if (m_hint)
        m_hint->setStyleSheet(ThemeStyles::warningHintSheet(Theme::isDark(this)));
}
