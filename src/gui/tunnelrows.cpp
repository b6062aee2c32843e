// The rows of the tunnels after the first: editing them, showing each tunnel's address and keeping
// them in the settings.
#include "tunnelrows.h"

#include "serverconfig.h"
#include "themestyles.h"
#include "tunneladdress.h"

#include <QAbstractSpinBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const int COPIED_CAPTION_MS = 1500;

QString storedText(const FrpcManager::Tunnel &tunnel)
{
    return QString::number(tunnel.localPort) + u'/' + FrpcManager::protocolName(tunnel.protocol);
}

} // namespace

TunnelRows::TunnelRows(FrpcManager *controller, QSpinBox *firstPort, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_firstPort(firstPort)
    , m_addButton(new QPushButton(QStringLiteral("+"), parent))
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(6);
    m_addButton->setObjectName(QStringLiteral("addTunnelButton"));
    m_addButton->setToolTip(QStringLiteral("添加端口"));
    m_addButton->setFixedSize(32, 32);
    connect(m_addButton, &QPushButton::clicked, this, [this] {
        addRow({ nextFreePort(), FrpcManager::Tcp }, true);
    });
    connect(m_controller, &FrpcManager::tunnelsChanged, this, &TunnelRows::showStates);
    m_reachability = new TunnelReachability(m_controller, this);
    connect(m_reachability, &TunnelReachability::changed, this, &TunnelRows::showStates);

    for (const QString &text : ServerConfigManager::instance().getMoreTunnels()) {
        bool ok = false;
        const int port = text.section(u'/', 0, 0).toInt(&ok);
        const QString protocol = text.section(u'/', 1);
        if (ok && port >= 1 && port <= 65535 && FrpcManager::isProtocolName(protocol)
            && m_rows.size() + 1 < FrpcManager::MAX_TUNNELS)
            addRow({ port, FrpcManager::protocolFromName(protocol) }, false);
    }
    setVisible(!m_rows.isEmpty());
}

QList<FrpcManager::Tunnel> TunnelRows::tunnels() const
{
    QList<FrpcManager::Tunnel> list;
    for (const Row &row : m_rows)
        list.append(tunnelOf(row));
    return list;
}

void TunnelRows::replaceRows(const QList<FrpcManager::Tunnel> &tunnels)
{
    while (!m_rows.isEmpty())
        removeRow(m_rows.last().widget);
    for (const FrpcManager::Tunnel &tunnel : tunnels)
        addRow(tunnel, true);
    save();
}

void TunnelRows::placeAddButton(QHBoxLayout *firstRow)
{
    auto *balance = new QWidget(parentWidget());
    balance->setFixedSize(m_addButton->size());
    firstRow->insertWidget(0, balance);
    firstRow->addWidget(m_addButton, 0, Qt::AlignVCenter);
}

void TunnelRows::setDarkTheme(bool dark)
{
    m_dark = dark;
    for (const Row &row : std::as_const(m_rows))
        row.hint->setStyleSheet(ThemeStyles::warningHintSheet(dark));
}

void TunnelRows::addProtocols(QComboBox *combo)
{
    combo->addItem(QStringLiteral("TCP"), int(FrpcManager::Tcp));
    combo->addItem(QStringLiteral("UDP"), int(FrpcManager::Udp));
    combo->addItem(QStringLiteral("TCP+UDP"), int(FrpcManager::TcpUdp));
}

QString TunnelRows::addressText(const QString &host, const FrpcManager::TunnelState &state)
{
    if (state.port.isEmpty())
        return {};
    switch (state.tunnel.protocol) {
    case FrpcManager::Tcp:
        return TunnelAddress::tunnelText(host, state.port, false);
    case FrpcManager::Udp:
        return TunnelAddress::tunnelText(host, state.port, true);
    case FrpcManager::TcpUdp:
        break;
    }
    const QString tcp = TunnelAddress::formatHostPort(host, state.port);
    if (state.udpPort.isEmpty() || state.udpPort == state.port)
        return QStringLiteral("TCP+UDP ") + tcp;
    return QStringLiteral("TCP ") + tcp + QStringLiteral(" / UDP ")
        + TunnelAddress::formatHostPort(host, state.udpPort);
}

QStringList TunnelRows::addressLines(const QString &host, const QList<FrpcManager::TunnelState> &states)
{
    QStringList lines;
    for (const FrpcManager::TunnelState &state : states) {
        const QString text = addressText(host, state);
        if (!text.isEmpty())
            lines << text;
    }
    return lines;
}

void TunnelRows::addRow(const FrpcManager::Tunnel &tunnel, bool apply)
{
    if (m_rows.size() + 1 >= FrpcManager::MAX_TUNNELS)
        return;
    Row row;
    row.widget = new QWidget(this);
    row.widget->setObjectName(QStringLiteral("tunnelRow"));
    // The controls on one line of fixed width, so that the rows stand aligned; the hint under them.
    auto *rowLayout = new QVBoxLayout(row.widget);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(2);
    auto *line = new QHBoxLayout;
    line->setAlignment(Qt::AlignCenter);
    rowLayout->addLayout(line);
    row.port = new QSpinBox(row.widget);
    row.port->setRange(1, 65535);
    row.port->setValue(tunnel.localPort);
    row.port->setFixedSize(100, 32);
    row.port->setStyleSheet(QStringLiteral("font-size: 11pt;"));
    row.port->setAlignment(Qt::AlignCenter);
    row.port->setButtonSymbols(QAbstractSpinBox::NoButtons);
    row.protocol = new QComboBox(row.widget);
    addProtocols(row.protocol);
    row.protocol->setCurrentIndex(row.protocol->findData(int(tunnel.protocol)));
    row.protocol->setFixedSize(136, 32);
    row.protocol->setStyleSheet(QStringLiteral("font-size: 11pt;"));
    auto *remove = new QPushButton(QStringLiteral("−"), row.widget);
    remove->setObjectName(QStringLiteral("removeTunnelButton"));
    remove->setToolTip(QStringLiteral("删除端口"));
    remove->setFixedSize(32, 32);
    row.address = new QLabel(row.widget);
    row.address->setObjectName(QStringLiteral("tunnelAddressLabel"));
    row.address->setTextFormat(Qt::PlainText);
    row.address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row.address->setFixedWidth(300);
    row.address->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    row.copy = new QPushButton(QStringLiteral("复制"), row.widget);
    row.copy->setFixedSize(60, 24);
    // Keeps its place while hidden, so that the row keeps its width.
    QSizePolicy keepPlace = row.copy->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    row.copy->setSizePolicy(keepPlace);
    row.copy->hide();
    row.hint = new QLabel(row.widget);
    row.hint->setAlignment(Qt::AlignCenter);
    row.hint->setTextFormat(Qt::PlainText);
    row.hint->setStyleSheet(ThemeStyles::warningHintSheet(m_dark));
    row.hint->hide();
    line->addWidget(row.port);
    line->addWidget(row.protocol);
    line->addWidget(remove);
    line->addSpacing(8);
    line->addWidget(row.address);
    line->addWidget(row.copy);
    rowLayout->addWidget(row.hint);
    row.applied = tunnel;
    m_rows.append(row);
    m_layout->addWidget(row.widget);
    row.widget->show();
    setVisible(true);

    QWidget *widget = row.widget;
    connect(row.port, &QSpinBox::editingFinished, this, [this, widget] { rowEdited(widget); });
    connect(row.protocol, &QComboBox::activated, this, [this, widget] { rowEdited(widget); });
    connect(remove, &QPushButton::clicked, this, [this, widget] { removeRow(widget); });
    connect(row.copy, &QPushButton::clicked, this, [this, widget] {
        for (int i = 0; i < m_rows.size(); ++i) {
            const Row &row = m_rows.at(i);
            if (row.widget != widget)
                continue;
            // What a friend types: the address and its port, without the protocol; both addresses when
            // TCP and UDP got different ports.
            const FrpcManager::TunnelState state = m_controller->tunnelStates().value(i + 1);
            const bool twoPorts = !state.udpPort.isEmpty() && state.udpPort != state.port;
            const QString text = twoPorts || state.port.isEmpty()
                ? row.address->text()
                : TunnelAddress::formatHostPort(m_host, state.port);
            QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
            row.copy->setText(QStringLiteral("✓ 已复制"));
            QPushButton *copy = row.copy;
            QTimer::singleShot(COPIED_CAPTION_MS, copy, [copy] { copy->setText(QStringLiteral("复制")); });
        }
    });

    m_addButton->setEnabled(m_rows.size() + 1 < FrpcManager::MAX_TUNNELS);
    if (apply) {
        if (live())
            m_controller->addTunnel(tunnel);
        save();
    }
    showStates();
}

void TunnelRows::removeRow(QWidget *widget)
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).widget != widget)
            continue;
        m_rows.removeAt(i);
        widget->hide();
        widget->deleteLater();
        if (live())
            m_controller->removeTunnel(i + 1);
        break;
    }
    m_addButton->setEnabled(m_rows.size() + 1 < FrpcManager::MAX_TUNNELS);
    setVisible(!m_rows.isEmpty());
    save();
}

void TunnelRows::rowEdited(QWidget *widget)
{
    for (int i = 0; i < m_rows.size(); ++i) {
        Row &row = m_rows[i];
        if (row.widget != widget || tunnelOf(row) == row.applied)
            continue;
        row.applied = tunnelOf(row);
        if (live())
            m_controller->changeTunnel(i + 1, row.applied);
        save();
        showStates();
    }
}

void TunnelRows::showStates()
{
    const QList<FrpcManager::TunnelState> states = m_controller->tunnelStates();
    const bool running = m_controller->status() == FrpcManager::Running;
    for (int i = 0; i < m_rows.size(); ++i) {
        const Row &row = m_rows.at(i);
        // A row whose tunnel the controller does not carry (yet) shows nothing.
        FrpcManager::TunnelState state = states.value(i + 1);
        if (!live() || state.tunnel != row.applied)
            state = FrpcManager::TunnelState();
        const QString address = running ? addressText(m_host, state) : QString();
        row.address->setText(address);
        row.copy->setVisible(!address.isEmpty());
        QStringList hints;
        if (!state.error.isEmpty())
            hints << QStringLiteral("服务器拒绝了此端口: ") + state.error;
        else if (state.nobodyListens)
            hints << QStringLiteral("本地端口 %1 上没有程序在监听").arg(row.applied.localPort);
        // Both may be at fault at once: no program here, and the server's firewall.
        const QString blocked = m_reachability->warning(i + 1);
        if (running && !state.port.isEmpty() && !blocked.isEmpty())
            hints << blocked;
        const QString hint = hints.join(u'\n');
        row.hint->setText(hint);
        row.hint->setVisible(!hint.isEmpty());
    }
}

void TunnelRows::save() const
{
    QStringList stored;
    for (const Row &row : m_rows)
        stored << storedText(row.applied);
    ServerConfigManager::instance().setMoreTunnels(stored);
}

int TunnelRows::nextFreePort() const
{
    QList<int> used { m_firstPort->value() };
    for (const Row &row : m_rows)
        used << row.port->value();
    int port = m_firstPort->value();
    do
        port = port % 65535 + 1;
    while (used.contains(port));
    return port;
}

bool TunnelRows::live() const
{
    const FrpcManager::Status status = m_controller->status();
    return status == FrpcManager::Starting || status == FrpcManager::Running;
}

FrpcManager::Tunnel TunnelRows::tunnelOf(const Row &row) const
{
    return { row.port->value(), FrpcManager::Protocol(row.protocol->currentData().toInt()) };
}
