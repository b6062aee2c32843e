// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QFrame>

#include <optional>

class QLabel;
class QPushButton;
class QToolButton;

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
    // The card's controls in reading order, top to bottom.
    QList<QWidget *> focusOrder() const;

signals:
    void connectClicked(int index);
    void editClicked(int index);
    void deleteClicked(int index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupUI();
    void updateConnectButton();
    // The connect button's caption and name, without its style.
    void updateConnectText();
    // Sets the texts and the accessible names in the current language.
    void retranslateUi();
    // The card as a screen reader reads it: the name, then the address, round trip and tunnel.
    void updateDescription();
    // The name as shown: the built-in server's in the current language.
    QString shownName() const;
    QRect getCloseButtonRect() const;

    QString m_name;
    QString m_address;
    int m_port;
    bool m_isBuiltIn;
    int m_index;
    bool m_isConnected = false;
    bool m_connectedShown = false;
    bool m_closeButtonHovered = false;
    bool m_swallowClick = false;
    QLabel *m_nameLabel = nullptr;
    QLabel *m_addressLabel = nullptr;
    QPushButton *m_connectBtn = nullptr;
    QPushButton *m_editBtn = nullptr;
    QLabel *m_latencyLabel = nullptr;
    // Over the painted close button, for the keyboard and screen readers: the mouse goes to the card.
    QToolButton *m_deleteBtn = nullptr;
    bool m_unreachable = false;
    // The round trip shown: none before it is measured.
    std::optional<int> m_roundTripMs;
};
