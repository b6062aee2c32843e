// SPDX-License-Identifier: Apache-2.0
// The window's tunnel rows: editing them, showing each tunnel's address and keeping them in the
// settings.
#include "gui/tunnelrows.h"

#include "core/serverconfig.h"
#include "core/tunneladdress.h"
#include "core/tunnelreachability.h"
#include "gui/tunnelrow.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TunnelRows::TunnelRows(FrpcManager *controller, TunnelReachability *reachability, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_reachability(reachability)
    , m_addButton(new QPushButton(QStringLiteral("+"), parent))
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(6);
    m_addButton->setObjectName(QStringLiteral("addTunnelButton"));
    m_addButton->setToolTip(tr("添加端口"));
    m_addButton->setAccessibleName(tr("添加端口"));
    m_addButton->setFixedSize(32, 32);
    connect(m_addButton, &QPushButton::clicked, this, [this] {
        addRow({ nextFreePort(), Tunnel::Tcp }, true);
    });
    connect(m_controller, &FrpcManager::tunnelsChanged, this, &TunnelRows::showStates);
    connect(m_reachability, &TunnelReachability::changed, this, &TunnelRows::showStates);

    const ServerConfigManager &store = ServerConfigManager::instance();
    auto *first = new TunnelRow(
        TunnelRow::First, { store.getLastLocalPort(), Tunnel::protocolFromName(store.getLastProtocol()) },
        parent);
    m_rows.append(first);
    for (const Tunnel &tunnel : store.getMoreTunnels())
        addRow(tunnel, false);
    setVisible(m_rows.size() > 1);
}

QList<Tunnel> TunnelRows::tunnels() const
{
    QList<Tunnel> list;
    for (const TunnelRow *row : m_rows)
        list.append(row->tunnel());
    return list;
}

void TunnelRows::setTunnels(const QList<Tunnel> &tunnels)
{
    if (!tunnels.isEmpty())
        firstRow()->setTunnel(tunnels.first());
    while (m_rows.size() > 1)
        removeRow(m_rows.last());
    for (const Tunnel &tunnel : tunnels.mid(1))
        addRow(tunnel, true);
    save();
}

void TunnelRows::placeAddButton()
{
    QHBoxLayout *line = firstRow()->line();
    auto *balance = new QWidget(firstRow());
    balance->setFixedSize(m_addButton->size());
    line->insertWidget(0, balance);
    line->addWidget(m_addButton, 0, Qt::AlignVCenter);
}

void TunnelRows::addRow(const Tunnel &tunnel, bool apply)
{
    if (m_rows.size() >= Tunnel::MAX_TUNNELS)
        return;
    auto *row = new TunnelRow(TunnelRow::Added, tunnel, this);
    m_rows.append(row);
    m_layout->addWidget(row);
    row->show();
    setVisible(true);
    connect(row, &TunnelRow::edited, this, [this, row] { rowEdited(row); });
    connect(row, &TunnelRow::removeRequested, this, [this, row] { removeRow(row); });

    m_addButton->setEnabled(m_rows.size() < Tunnel::MAX_TUNNELS);
    emit rowsChanged();
    if (apply) {
        if (live())
            m_controller->addTunnel(tunnel);
        save();
    }
    showStates();
}

void TunnelRows::removeRow(TunnelRow *row)
{
    const int index = int(m_rows.indexOf(row));
    if (index <= 0)
        return;
    m_rows.removeAt(index);
    row->hide();
    row->deleteLater();
    if (live())
        m_controller->removeTunnel(index);
    m_addButton->setEnabled(m_rows.size() < Tunnel::MAX_TUNNELS);
    setVisible(m_rows.size() > 1);
    emit rowsChanged();
    save();
}

void TunnelRows::rowEdited(TunnelRow *row)
{
    const int index = int(m_rows.indexOf(row));
    if (index <= 0 || row->tunnel() == row->applied())
        return;
    row->setApplied(row->tunnel());
    if (live())
        m_controller->changeTunnel(index, row->applied());
    save();
    showStates();
}

void TunnelRows::showStates()
{
    const QList<TunnelState> states = m_controller->tunnelStates();
    const bool running = m_controller->status() == FrpcManager::Running;
    for (int i = 1; i < m_rows.size(); ++i) {
        TunnelRow *row = m_rows.at(i);
        // A row whose tunnel the controller does not carry (yet) shows nothing.
        TunnelState state = states.value(i);
        if (!live() || state.tunnel != row->applied())
            state = TunnelState();
        const QString address = running ? TunnelAddress::stateText(m_host, state) : QString();
        row->showAddress(address, TunnelAddress::copyText(m_host, state));
        QStringList hints;
        if (!state.error.isEmpty())
            hints << tr("服务器拒绝了此端口: %1").arg(state.error);
        else if (state.nobodyListens)
            hints << tr("本地端口 %1 上没有程序在监听").arg(row->applied().localPort);
        // Both may be at fault at once: no program here, and the server's firewall.
        const QString blocked = m_reachability->warning(i);
        if (running && !state.port.isEmpty() && !blocked.isEmpty())
            hints << blocked;
        row->showHints(hints);
    }
}

QList<QWidget *> TunnelRows::focusOrder() const
{
    QList<QWidget *> order = firstRow()->focusOrder();
    order << m_addButton;
    for (const TunnelRow *row : m_rows.mid(1))
        order << row->focusOrder();
    return order;
}

void TunnelRows::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::LanguageChange)
        return;
    m_addButton->setToolTip(tr("添加端口"));
    m_addButton->setAccessibleName(tr("添加端口"));
    showStates();
}

void TunnelRows::save() const
{
    QList<Tunnel> stored;
    for (const TunnelRow *row : m_rows.mid(1))
        stored.append(row->applied());
    ServerConfigManager::instance().setMoreTunnels(stored);
}

int TunnelRows::nextFreePort() const
{
    QList<int> used;
    for (const TunnelRow *row : m_rows)
        used << row->port();
    int port = firstRow()->port();
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
