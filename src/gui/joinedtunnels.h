// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/serverconfig.h"
#include "core/sharecode.h"
#include "core/visitorclient.h"

#include <QDialog>
#include <QList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

// Asks for a friend's share code: says why a code cannot be used, or which server a good one
// connects to, before the friend confirms.
class JoinDialog : public QDialog
{
    Q_OBJECT

public:
    explicit JoinDialog(const QString &text, QWidget *parent = nullptr);

    // The code as typed; it reads whenever the dialog was accepted.
    QString codeText() const;

private:
    void check();

    QLineEdit *m_edit = nullptr;
    QLabel *m_verdict = nullptr;
    QPushButton *m_join = nullptr;
};

// One friend's tunnel: where to point the program that uses it, what carries it, and its controls.
class JoinedTunnelRow : public QWidget
{
    Q_OBJECT

public:
    JoinedTunnelRow(const ShareCode &code, const QString &codeText, int localPort, QWidget *parent);

    VisitorClient *client() const { return m_client; }
    const QString &codeText() const { return m_codeText; }
    int localPort() const { return m_localPort; }
    void setCode(const ShareCode &code, const QString &codeText);
    // Starts the visitors, on another free port when another program took this one meanwhile.
    void join();
    void leave();
    // Its controls in reading order.
    QList<QWidget *> focusOrder() const;

signals:
    void removeRequested();
    void portChanged();
    void logMessage(const QString &text);

protected:
    void changeEvent(QEvent *event) override;

private:
    // Sets every text from the state, in the current language.
    void update();
    void applyTheme();

    ShareCode m_code;
    QString m_codeText;
    int m_localPort = 0;
    VisitorClient *m_client = nullptr;
    QLabel *m_address = nullptr;
    QLabel *m_about = nullptr;
    QLabel *m_state = nullptr;
    QPushButton *m_copy = nullptr;
    QPushButton *m_toggle = nullptr;
    QPushButton *m_remove = nullptr;
};

// The section "好友的隧道": the join button and a row per joined code, kept in the settings.
class JoinedTunnels : public QWidget
{
    Q_OBJECT

public:
    explicit JoinedTunnels(QWidget *parent = nullptr);

    // Opens the join dialog with text filled in and joins the code confirmed.
    void openJoinDialog(const QString &text = QString());
    // Joins the code text holds: a row for it (the existing one of a code of the same tunnel, which
    // keeps its port) starts its visitors. False, with the reason, for a code that does not read.
    bool join(const QString &text, QString *error = nullptr);
    QList<JoinedTunnelRow *> rows() const { return m_rows; }
    // The join button and the rows' controls, in reading order.
    QList<QWidget *> focusOrder() const;

signals:
    void logMessage(const QString &text);
    // A row was added or removed.
    void rowsChanged();

protected:
    void changeEvent(QEvent *event) override;

private:
    void retranslateUi();
    JoinedTunnelRow *addRow(const ShareCode &code, const QString &text, int localPort);
    void save();

    QVBoxLayout *m_rowsLayout = nullptr;
    QLabel *m_heading = nullptr;
    QPushButton *m_joinButton = nullptr;
    QList<JoinedTunnelRow *> m_rows;
};
