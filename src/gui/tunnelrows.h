#pragma once

#include "frpcmanager.h"
#include "tunnelreachability.h"

#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

// The window's tunnels after the first: one row each (local port, protocol, remove button, public
// address, copy button), the button that adds a row, and what each row's tunnel does. While the
// connection runs, a row added, removed or changed (when its editing finishes) is handed to the
// controller at once; the rows are kept in the settings.
class TunnelRows : public QWidget
{
    Q_OBJECT

public:
    // firstPort is the window's own port field: a new row proposes a port that neither it nor a row
    // uses.
    TunnelRows(FrpcManager *controller, QSpinBox *firstPort, QWidget *parent = nullptr);

    // The button that adds a row.
    QPushButton *addButton() const { return m_addButton; }
    // Puts the add button at the end of the window's first row, balanced by a blank as wide at its
    // start so that the row stays centred.
    void placeAddButton(QHBoxLayout *firstRow);
    // The tunnels of the rows, in order.
    QList<FrpcManager::Tunnel> tunnels() const;
    // Puts these rows in place of the ones there (up to MAX_TUNNELS - 1), and keeps them.
    void replaceRows(const QList<FrpcManager::Tunnel> &tunnels);
    // The server address the rows' public addresses are shown with.
    void setHost(const QString &host)
    {
        m_host = host;
        m_reachability->setHost(host);
    }
    // Checks whether the rows' TCP ports can be reached from outside; a blocked one is named on its row.
    TunnelReachability *reachability() const { return m_reachability; }
    void setDarkTheme(bool dark);

    // Fills a protocol selector with "TCP", "UDP" and "TCP+UDP", each with its FrpcManager::Protocol.
    static void addProtocols(QComboBox *combo);
    // How a tunnel's public end is shown: "host:port", "UDP host:port", "TCP+UDP host:port", or both
    // addresses when the UDP half got another port. Empty while no port is known.
    static QString addressText(const QString &host, const FrpcManager::TunnelState &state);
    // One line per tunnel whose port is known.
    static QStringList addressLines(const QString &host, const QList<FrpcManager::TunnelState> &states);

private:
    struct Row
    {
        QWidget *widget = nullptr;
        QSpinBox *port = nullptr;
        QComboBox *protocol = nullptr;
        QLabel *address = nullptr;
        QLabel *hint = nullptr;
        QPushButton *copy = nullptr;
        // What the controller was last given for this row.
        FrpcManager::Tunnel applied;
    };

    void addRow(const FrpcManager::Tunnel &tunnel, bool apply);
    void removeRow(QWidget *widget);
    void rowEdited(QWidget *widget);
    void showStates();
    void save() const;
    int nextFreePort() const;
    bool live() const;
    FrpcManager::Tunnel tunnelOf(const Row &row) const;

    FrpcManager *m_controller = nullptr;
    QSpinBox *m_firstPort = nullptr;
    QPushButton *m_addButton = nullptr;
    TunnelReachability *m_reachability = nullptr;
    QVBoxLayout *m_layout = nullptr;
    QList<Row> m_rows;
    QString m_host;
    bool m_dark = false;
};
