#pragma once

#include "frpcmanager.h"

#include <QFrame>
#include <QMainWindow>

class LogWindow;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QVBoxLayout;

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
};

// The program's window: local port, connection status, server cards and preferences.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    bool isDarkTheme() const { return m_currentTheme == 1; }
    // Connects the stored server named exactly `name`, as a click on its card would, publishing
    // `localPort` (0: the port in the window). A name that matches no server or several is refused
    // with a message box naming it. Returns whether a tunnel was started.
    bool connectServerByName(const QString &name, int localPort = 0);

protected:
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private slots:
    void onConnectServer(int index);
    void onEditServer(int index);
    void onDeleteServer(int index);
    void onAddServer();
    void onStatusChanged(FrpcManager::Status status);
    void onRemotePortReady(const QString &port);
    void onLogMessage(const QString &msg);
    void onError(const QString &error);
    void onShowLog();
    void onAutoStartChanged(Qt::CheckState state);
    void onThemeChanged(int index);
    void onCopyIP();
    void onCopyPort();
    void onExportServers();
    void onImportServers();

private:
    void setupUI();
    void applyLightTheme();
    void applyDarkTheme();
    void loadSettings();
    void saveSettings();
    void loadServerCards();
    void updateStatusDisplay();
    void updateCardStates();
    void setupAutoStart(bool enable);
    void showEditDialog(int index);
    bool isInServerListArea(const QPoint &globalPos) const;
    void setupDesktopNotifications();

    QSpinBox *m_localPortSpin = nullptr;
    QLabel *m_statusLabel = nullptr;
    QScrollArea *m_scrollArea = nullptr;
    QWidget *m_cardsContainer = nullptr;
    QVBoxLayout *m_cardsLayout = nullptr;
    QPushButton *m_addBtn = nullptr;
    QPushButton *m_showLogBtn = nullptr;
    QCheckBox *m_autoStartCheck = nullptr;
    QComboBox *m_themeCombo = nullptr;
    QPushButton *m_copyIPBtn = nullptr;
    QPushButton *m_copyPortBtn = nullptr;
    FrpcManager *m_frpcManager = nullptr;
    LogWindow *m_logWindow = nullptr;
    int m_connectedServerIndex = -1;
    QString m_connectedAddress;
    int m_currentTheme = 0;
    QString m_remoteIP;
    QString m_remotePort;
};
