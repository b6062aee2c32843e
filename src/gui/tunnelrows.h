// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frpcmanager.h"

#include <QList>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QPushButton;
class QVBoxLayout;
class TunnelReachability;
class TunnelRow;

// The window's tunnels, one row each: the first row (which the window places beside its label) and
// the rows after it, which this widget holds, with the button that adds a row. Row i shows tunnel i of
// the controller. While the connection runs, a row added, removed or changed (when its editing
// finishes) is handed to the controller at once; the rows after the first are kept in the settings.
class TunnelRows : public QWidget
{
    Q_OBJECT

public:
    TunnelRows(FrpcManager *controller, TunnelReachability *reachability, QWidget *parent = nullptr);

    // The first row, for the window to place; its address is shown under the status line.
    TunnelRow *firstRow() const { return m_rows.first(); }
    // Puts the add button at the end of the first row, balanced by a blank as wide at its start so
    // that the row stays centred.
    void placeAddButton();
    // The tunnels of the rows, in order, the first row's first.
    QList<Tunnel> tunnels() const;
    // Shows these tunnels: the first in the first row, the others in place of the rows after it (up to
    // Tunnel::MAX_TUNNELS in all), which are kept.
    void setTunnels(const QList<Tunnel> &tunnels);
    // The server address the rows' public addresses are shown with.
    void setHost(const QString &host) { m_host = host; }
    // The controls of every row and the add button, in reading order.
    QList<QWidget *> focusOrder() const;

signals:
    // A row was added or removed.
    void rowsChanged();

protected:
    void changeEvent(QEvent *event) override;

private:
    void addRow(const Tunnel &tunnel, bool apply);
    void removeRow(TunnelRow *row);
    void rowEdited(TunnelRow *row);
    void showStates();
    void save() const;
    int nextFreePort() const;
    bool live() const;

    FrpcManager *m_controller = nullptr;
    TunnelReachability *m_reachability = nullptr;
    QPushButton *m_addButton = nullptr;
    QVBoxLayout *m_layout = nullptr;
    // Row i shows tunnel i; the first is never removed.
    QList<TunnelRow *> m_rows;
    QString m_host;
};
