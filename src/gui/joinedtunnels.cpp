// SPDX-License-Identifier: Apache-2.0
// The friend's side of private tunnels in the window: the join dialog, the joined tunnels' rows and
// their settings.
#include "gui/joinedtunnels.h"

#include "core/tunneladdress.h"
#include "gui/theme.h"
#include "gui/themestyles.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const int COPIED_CAPTION_MS = 1500;

QString serverText(const ShareCode &code)
{
    const ServerConfig server = VisitorClient::serverFor(code);
    const QString address = TunnelAddress::formatHostPort(server.serverAddr, server.serverPort);
    return code.builtInServer ? QCoreApplication::translate("JoinedTunnels", "%1（内置服务器）").arg(address)
                              : address;
}

// What the host shares: its port and protocol, and the name it gave.
QString aboutText(const ShareCode &code)
{
    QString text = QCoreApplication::translate("JoinedTunnels", "好友的端口 %1 (%2)")
                       .arg(code.hostPort)
                       .arg(Tunnel::protocolName(code.protocol).toUpper());
    if (!code.label.isEmpty())
        text = code.label + QStringLiteral(" · ") + text;
    return text;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// JoinDialog

JoinDialog::JoinDialog(const QString &text, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("加入好友的隧道"));
    resize(520, 220);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    auto *prompt = new QLabel(tr("粘贴好友发来的分享码："), this);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("shareCodeEdit"));
    m_edit->setPlaceholderText(QStringLiteral("marrowgate://join/…"));
    m_edit->setStyleSheet(ThemeStyles::lineEditSheet());
    m_edit->setMaxLength(4 * ShareCode::MAX_TEXT_LENGTH);
    m_verdict = new QLabel(this);
    m_verdict->setObjectName(QStringLiteral("joinVerdictLabel"));
    m_verdict->setTextFormat(Qt::PlainText);
    m_verdict->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(this);
    m_join = buttons->addButton(tr("加入"), QDialogButtonBox::AcceptRole);
    m_join->setObjectName(QStringLiteral("confirmJoinButton"));
    buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_edit, &QLineEdit::textChanged, this, &JoinDialog::check);
    layout->addWidget(prompt);
    layout->addWidget(m_edit);
    layout->addWidget(m_verdict);
    layout->addStretch();
    layout->addWidget(buttons);
    m_edit->setText(text);
    check();
}

QString JoinDialog::codeText() const
{
    return m_edit->text().trimmed();
}

void JoinDialog::check()
{
    const bool dark = Theme::isDark(this);
    QString reason;
    const std::optional<ShareCode> code = ShareCode::fromText(m_edit->text(), &reason);
    m_join->setEnabled(code.has_value());
    if (m_edit->text().trimmed().isEmpty()) {
        m_verdict->clear();
    } else if (!code) {
        m_verdict->setText(tr("分享码无效：%1").arg(reason));
        m_verdict->setStyleSheet(ThemeStyles::warningHintSheet(dark));
    } else {
        m_verdict->setText(tr("连接服务器 %1\n%2").arg(serverText(*code), aboutText(*code)));
        m_verdict->setStyleSheet(QString());
    }
}

// ---------------------------------------------------------------------------------------------
// JoinedTunnelRow

JoinedTunnelRow::JoinedTunnelRow(const ShareCode &code, const QString &codeText, int localPort,
                                 QWidget *parent)
    : QWidget(parent)
    , m_code(code)
    , m_codeText(codeText)
    , m_localPort(localPort)
    , m_client(new VisitorClient(this))
{
    setObjectName(QStringLiteral("joinedTunnelRow"));
    // The address to point a program at, its controls and state on the first line; what the friend
    // shares under it.
    auto *rowLayout = new QVBoxLayout(this);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(2);
    auto *line = new QHBoxLayout;
    line->setSpacing(8);
    rowLayout->addLayout(line);
    m_address = new QLabel(this);
    m_address->setObjectName(QStringLiteral("joinedAddressLabel"));
    m_address->setTextFormat(Qt::PlainText);
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_address->setStyleSheet(QStringLiteral("font-size: 11pt; font-weight: 600;"));
    m_copy = new QPushButton(this);
    m_copy->setFixedSize(60, 28);
    connect(m_copy, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_address->text(), QClipboard::Clipboard);
        m_copy->setText(tr("✓ 已复制"));
        QTimer::singleShot(COPIED_CAPTION_MS, m_copy, [this] { m_copy->setText(tr("复制")); });
    });
    m_about = new QLabel(this);
    m_about->setTextFormat(Qt::PlainText);
    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("joinedStateLabel"));
    m_state->setTextFormat(Qt::PlainText);
    m_toggle = new QPushButton(this);
    m_toggle->setObjectName(QStringLiteral("joinedToggleButton"));
    m_toggle->setFixedSize(64, 28);
    connect(m_toggle, &QPushButton::clicked, this, [this] {
        if (m_client->state() == VisitorClient::Stopped)
            join();
        else
            leave();
    });
    m_remove = new QPushButton(QStringLiteral("−"), this);
    m_remove->setObjectName(QStringLiteral("removeJoinedButton"));
    m_remove->setFixedSize(32, 28);
    connect(m_remove, &QPushButton::clicked, this, &JoinedTunnelRow::removeRequested);
    line->addWidget(m_address, 0, Qt::AlignVCenter);
    line->addWidget(m_copy, 0, Qt::AlignVCenter);
    line->addStretch(1);
    line->addWidget(m_state, 0, Qt::AlignVCenter);
    line->addSpacing(4);
    line->addWidget(m_toggle, 0, Qt::AlignVCenter);
    line->addWidget(m_remove, 0, Qt::AlignVCenter);
    rowLayout->addWidget(m_about);

    connect(m_client, &VisitorClient::stateChanged, this, &JoinedTunnelRow::update);
    connect(m_client, &VisitorClient::pathChanged, this, &JoinedTunnelRow::update);
    connect(m_client, &VisitorClient::failureChanged, this, &JoinedTunnelRow::update);
    connect(m_client, &VisitorClient::logMessage, this, &JoinedTunnelRow::logMessage);
    if (Theme *theme = Theme::of(parent))
        connect(theme, &Theme::changed, this, &JoinedTunnelRow::applyTheme);
    applyTheme();
    update();
}

void JoinedTunnelRow::setCode(const ShareCode &code, const QString &codeText)
{
    m_code = code;
    m_codeText = codeText;
    update();
}

void JoinedTunnelRow::join()
{
    // The visitors need their port free; a program that took it since is left alone.
    if (m_client->state() == VisitorClient::Stopped && VisitorClient::portsInUse().contains(m_localPort)) {
        const int port = VisitorClient::choosePort(m_code, VisitorClient::portsInUse() << m_localPort);
        if (port != 0) {
            emit logMessage(tr("本地端口 %1 已被占用，好友的隧道改用 %2").arg(m_localPort).arg(port));
            m_localPort = port;
            emit portChanged();
        }
    }
    m_client->start(m_code, VisitorClient::serverFor(m_code), m_localPort);
    update();
}

void JoinedTunnelRow::leave()
{
    m_client->stop();
    emit logMessage(tr("已断开好友的隧道 127.0.0.1:%1").arg(m_localPort));
}

QList<QWidget *> JoinedTunnelRow::focusOrder() const
{
    return { m_copy, m_toggle, m_remove };
}

void JoinedTunnelRow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        update();
}

void JoinedTunnelRow::update()
{
    const QString address = QStringLiteral("127.0.0.1:%1").arg(m_localPort);
    m_address->setText(address);
    m_copy->setText(tr("复制"));
    m_copy->setAccessibleName(tr("复制好友的隧道的本地地址 %1").arg(address));
    m_remove->setToolTip(tr("删除好友的隧道"));
    m_remove->setAccessibleName(tr("删除好友的隧道 %1").arg(address));
    m_about->setText(tr("%1 · 服务器 %2").arg(aboutText(m_code), serverText(m_code)));
    const VisitorClient::State state = m_client->state();
    m_toggle->setText(state == VisitorClient::Stopped ? tr("加入") : tr("断开"));
    m_copy->setEnabled(state == VisitorClient::Ready);
    QString text;
    if (state == VisitorClient::Stopped)
        text = tr("未连接");
    else if (state == VisitorClient::Starting && !m_client->failure().isEmpty())
        text = tr("连接失败，正在重试");
    else if (state == VisitorClient::Starting)
        text = tr("连接中…");
    else if (m_client->path() == VisitorClient::Direct)
        text = tr("已连接 · 直连");
    else if (m_client->path() == VisitorClient::Relay || m_code.protocol == Tunnel::Udp)
        text = tr("已连接 · 经服务器中转");
    else
        text = tr("已连接");
    m_state->setText(text);
    m_toggle->setAccessibleName(m_toggle->text() + u' ' + address);
    m_state->setToolTip(m_client->failure());
}

void JoinedTunnelRow::applyTheme()
{
    m_about->setStyleSheet(Theme::isDark(this) ? QStringLiteral("color: #9AA5B8; font-size: 9pt;")
                                               : QStringLiteral("color: #7F8C8D; font-size: 9pt;"));
}

// ---------------------------------------------------------------------------------------------
// JoinedTunnels

JoinedTunnels::JoinedTunnels(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto *header = new QHBoxLayout;
    m_heading = new QLabel(this);
    m_heading->setStyleSheet(QStringLiteral("font-size: 14pt; font-weight: bold;"));
    m_joinButton = new QPushButton(this);
    m_joinButton->setObjectName(QStringLiteral("joinButton"));
    m_joinButton->setFixedHeight(28);
    connect(m_joinButton, &QPushButton::clicked, this, [this] { openJoinDialog(); });
    retranslateUi();
    header->addWidget(m_heading);
    header->addStretch();
    header->addWidget(m_joinButton);
    layout->addLayout(header);
    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setSpacing(6);
    layout->addLayout(m_rowsLayout);

    // The kept codes come back as rows that are not joined: one click joins again.
    for (const JoinedTunnel &kept : ServerConfigManager::instance().getJoinedTunnels()) {
        if (const std::optional<ShareCode> code = ShareCode::fromText(kept.code))
            addRow(*code, kept.code, kept.localPort);
    }
}

void JoinedTunnels::retranslateUi()
{
    m_heading->setText(tr("好友的隧道"));
    m_joinButton->setText(tr("加入好友的隧道"));
    m_joinButton->setToolTip(tr("用好友发来的分享码，把好友的私密隧道接到本机的一个端口"));
}

void JoinedTunnels::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
}

QList<QWidget *> JoinedTunnels::focusOrder() const
{
    QList<QWidget *> order { m_joinButton };
    for (const JoinedTunnelRow *row : m_rows)
        order << row->focusOrder();
    return order;
}

void JoinedTunnels::openJoinDialog(const QString &text)
{
    // A link that comes while a dialog is open fills that one.
    if (auto *open = findChild<JoinDialog *>()) {
        open->findChild<QLineEdit *>()->setText(text);
        open->raise();
        open->activateWindow();
        return;
    }
    JoinDialog dialog(text, this);
    if (dialog.exec() == QDialog::Accepted)
        join(dialog.codeText());
}

bool JoinedTunnels::join(const QString &text, QString *error)
{
    const std::optional<ShareCode> code = ShareCode::fromText(text, error);
    if (!code)
        return false;
    // A new code of a tunnel already joined (its host drew a new key) replaces the old one.
    JoinedTunnelRow *row = nullptr;
    for (JoinedTunnelRow *candidate : std::as_const(m_rows)) {
        const std::optional<ShareCode> old = ShareCode::fromText(candidate->codeText());
        if (old && old->name == code->name && old->builtInServer == code->builtInServer
            && old->serverAddr == code->serverAddr && old->serverPort == code->serverPort) {
            row = candidate;
            break;
        }
    }
    if (row) {
        row->setCode(*code, text.trimmed());
    } else {
        if (m_rows.size() >= ServerConfigManager::MAX_JOINED_TUNNELS) {
            if (error)
                *error = tr("好友的隧道已达上限（%1 个）").arg(ServerConfigManager::MAX_JOINED_TUNNELS);
            return false;
        }
        QSet<int> taken = VisitorClient::portsInUse();
        for (const JoinedTunnelRow *other : std::as_const(m_rows))
            taken.insert(other->localPort());
        row = addRow(*code, text.trimmed(), VisitorClient::choosePort(*code, taken));
    }
    save();
    row->join();
    return true;
}

JoinedTunnelRow *JoinedTunnels::addRow(const ShareCode &code, const QString &text, int localPort)
{
    auto *row = new JoinedTunnelRow(code, text, localPort, this);
    m_rows.append(row);
    m_rowsLayout->addWidget(row);
    connect(row, &JoinedTunnelRow::logMessage, this, &JoinedTunnels::logMessage);
    connect(row, &JoinedTunnelRow::portChanged, this, &JoinedTunnels::save);
    connect(row, &JoinedTunnelRow::removeRequested, this, [this, row] {
        m_rows.removeOne(row);
        row->client()->stop();
        row->hide();
        row->deleteLater();
        save();
        emit rowsChanged();
    });
    emit rowsChanged();
    return row;
}

void JoinedTunnels::save()
{
    QList<JoinedTunnel> kept;
    for (const JoinedTunnelRow *row : std::as_const(m_rows))
        kept.append({ row->codeText(), row->localPort() });
    ServerConfigManager::instance().setJoinedTunnels(kept);
}
