// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QFrame>

#include <optional>

class QLabel;
class QPushButton;

// One entry of the server list: name, address, connect and edit buttons and a painted close button.
class ServerCardWidget : public QFrame
{
    Q_OBJECT

public:
    ServerCardWidget(const QString &name, const QString &address, int port, bool isBuiltIn, int index,
                     QWidget *parent = nullptr);

    void setConnected(bool connected);
    void setEnabled(bool enabled);
    void updateCardTheme();
    int getIndex() const { return m_index; }
    QString address() const { return m_address; }
    int port() const { return m_port; }
    // Shows the time a connection to the server took, or that it could not be reached (none).
    void setLatency(std::optional<int> roundTripMs);

signals:
    void connectClicked(int index);
    void editClicked(int index);
    void deleteClicked(int index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupUI();
    void updateConnectButton();
    QRect getCloseButtonRect() const;

    QString m_name;
    QString m_address;
    int m_port;
    bool m_isBuiltIn;
    int m_index;
    bool m_isConnected = false;
    bool m_closeButtonHovered = false;
    bool m_swallowClick = false;
    QLabel *m_nameLabel = nullptr;
    QLabel *m_addressLabel = nullptr;
    QPushButton *m_connectBtn = nullptr;
    QPushButton *m_editBtn = nullptr;
    QLabel *m_latencyLabel = nullptr;
    bool m_unreachable = false;
};
