// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/tunnel.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpinBox;

// One tunnel of the window: its local port and protocol, and for a row after the first its remove
// button, its public address with a copy button and its hints under them. The first row shows its
// address and hints under the status line instead, and is labelled "本地端口".
class TunnelRow : public QWidget
{
    Q_OBJECT

public:
    enum Kind { First, Added };

    TunnelRow(Kind kind, const Tunnel &tunnel, QWidget *parent);

    // The tunnel the controls show.
    Tunnel tunnel() const;
    void setTunnel(const Tunnel &tunnel);
    // What the controller was last given for this row.
    Tunnel applied() const { return m_applied; }
    void setApplied(const Tunnel &tunnel) { m_applied = tunnel; }
    int port() const;
    // The line of controls, where the window puts the button that adds a row (first row).
    QHBoxLayout *line() const { return m_line; }
    // The protocol belongs to the tunnel that runs (first row): it is chosen again for the next one.
    void setProtocolLocked(bool locked);
    // The public address shown and the text its copy button copies; empty while none is known.
    void showAddress(const QString &address, const QString &copyText);
    // The hints under the row, one a line; none hides them.
    void showHints(const QStringList &hints);

    // Fills a protocol selector with "TCP", "UDP" and "TCP+UDP", each with its Tunnel::Protocol.
    static void addProtocols(QComboBox *combo);
    // The row's controls in reading order.
    QList<QWidget *> focusOrder() const;

signals:
    // The port's editing finished or another protocol was chosen.
    void edited();
    void removeRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyTheme();
    // Sets the texts and the accessible names (which name the row's port) in the current language.
    void retranslateUi();

    Tunnel m_applied;
    QHBoxLayout *m_line = nullptr;
    QLabel *m_label = nullptr;
    QPushButton *m_remove = nullptr;
    QSpinBox *m_port = nullptr;
    QComboBox *m_protocol = nullptr;
    QLabel *m_address = nullptr;
    QLabel *m_hint = nullptr;
    QPushButton *m_copy = nullptr;
    QString m_copyText;
};
