// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frpcmanager.h"
#include "gui/servercardwidget.h"
#include "gui/theme.h"

#include <QMainWindow>

#include <optional>

class CardLatencies;
class JoinedTunnels;
class LogWindow;
class TunnelNotifications;
class TunnelReachability;
class TunnelRows;
class TunnelTrayIcon;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;

// The program's window: local port, connection status, server cards and preferences.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    bool isDarkTheme() const;
    // The tunnels the rows show, the first row's first.
    QList<Tunnel> tunnels() const;
    // Shows these tunnels in the rows: the first in the first row, the others in place of the rows
    // after it (which are kept in the settings).
    void setTunnels(const QList<Tunnel> &tunnels);
    // Connects the stored server named exactly `name`, as a click on its card would, publishing
    // `localPort` (0: the port in the window) over `protocol` (none: the one chosen in the window). A
    // name that matches no server or several is refused with a message box naming it. Returns whether
    // a tunnel was started.
    bool connectServerByName(const QString &name, int localPort = 0,
                             std::optional<Tunnel::Protocol> protocol = std::nullopt);
    // With "启动后自动连接" on, connects the server whose tunnel was up when the program last ended;
    // a server that no longer exists is named in the log only. Returns whether a tunnel was started.
    bool connectAtStart();
    // Opens the dialog that joins a friend's tunnel, with text (a link handed over) filled in.
    void openJoinDialog(const QString &text);
    // Joins the friend's tunnel of a share code, as the join dialog does once confirmed.
    bool joinTunnel(const QString &code);

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private slots:
    void onConnectServer(int index);
    void onEditServer(int index);
    void onDeleteServer(int index);
    void onAddServer();
    void onStatusChanged(FrpcManager::Status status);
    void onRemotePortReady(const QString &port);
    void showReachability();
    void onLocalServiceHintChanged(bool nobodyListens);
    void onWaitingChanged();
    void onLogMessage(const QString &msg);
    void onError(const QString &error);
    void onShowLog();
    void onAutoStartChanged(Qt::CheckState state);
    void onThemeChanged(int index);
    void onCopyIP();
    void onCopyPort();
    void onExportServers();
    void onImportServers();
    void onShowFromTray();
    void onToggleFromTray();
    void onCopyAddressFromTray();
    void onQuitFromTray();

private:
    void setupUI();
    // Sets every fixed text and accessible name in the current language.
    void retranslateUi();
    void updateTabOrder();
    // Shows the chosen language at once and keeps it for the next start.
    void onLanguageChosen(int index);
    void applyTheme(Theme::Mode mode);
    void loadSettings();
    void saveSettings();
    void loadServerCards();
    void updateStatusDisplay();
    void updateCardStates();
    void setupAutoStart(bool enable);
    void showEditDialog(int index);
    bool isInServerListArea(const QPoint &globalPos) const;
    void setupDesktopNotifications();
    // Makes the tray icon where the desktop offers a tray; does nothing while one exists.
    void setupTray();
    void updateTray();
    // "address:port" of the tunnel while its port is known, else empty.
    QString tunnelAddress() const;
    // Asks whether to end the running tunnel and ends it if so; true when nothing runs or it ends.
    bool confirmEndingTunnel();

    // Made first: the widgets made after it style themselves by it.
    Theme *m_theme = nullptr;
    QLabel *m_statusLabel = nullptr;
    // Under the status line: no program listens on the tunnel's local port.
    QLabel *m_localServiceHint = nullptr;
    // Under it: whether the first tunnel's public address can be reached.
    QLabel *m_reachabilityLabel = nullptr;
    // Checks every tunnel's public address; the first tunnel's result shows under the status line, the
    // others on their rows.
    TunnelReachability *m_reachability = nullptr;
    CardLatencies *m_cardLatencies = nullptr;
    QScrollArea *m_scrollArea = nullptr;
    QWidget *m_cardsContainer = nullptr;
    QVBoxLayout *m_cardsLayout = nullptr;
    QPushButton *m_addBtn = nullptr;
    QPushButton *m_showLogBtn = nullptr;
    QCheckBox *m_autoStartCheck = nullptr;
    QCheckBox *m_autoConnectCheck = nullptr;
    // Why the connection still waits, after a while: the server's address and the reason.
    QLabel *m_waitHint = nullptr;
    QComboBox *m_themeCombo = nullptr;
    QComboBox *m_languageCombo = nullptr;
    QLabel *m_titleLabel = nullptr;
    QPushButton *m_copyIPBtn = nullptr;
    QPushButton *m_copyPortBtn = nullptr;
    FrpcManager *m_frpcManager = nullptr;
    LogWindow *m_logWindow = nullptr;
    // Writes what a click on "连接" keeps, once the address is shown.
    QTimer *m_deferredWrite = nullptr;
    TunnelNotifications *m_notifications = nullptr;
    TunnelTrayIcon *m_tray = nullptr;
    TunnelRows *m_tunnelRows = nullptr;
    // The friends' tunnels joined, under the server list.
    JoinedTunnels *m_joinedTunnels = nullptr;
    // Whether the user has been told, in this run, that closing the window leaves the tunnel in the tray.
    bool m_toldAboutTray = false;
    // The program is ending: the tunnel's end is not the user's, and its server is kept for the next
    // start.
    bool m_ending = false;
    int m_connectedServerIndex = -1;
    // The address of the server connected, as it was when the connection started.
    QString m_connectedAddress;
    // The first tunnel's port as the status line shows it, for its copy button and the tray.
    QString m_remotePort;
};
