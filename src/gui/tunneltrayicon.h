// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QMenu;
class QWidget;

// The program's place in the desktop's tray: its icon with a mark for the tunnel's state, a tooltip
// with the status, and a menu that reaches the window and the tunnel. It knows neither; it only asks
// through its signals.
class TunnelTrayIcon : public QObject
{
    Q_OBJECT

public:
    enum Look { Idle, Connecting, Connected };

    // A tray icon shown beside window (the icon is the window's child), or nullptr while the desktop
    // offers no tray. Asking again later is fine: a tray may appear after the program, at login (the
    // toolkit's own answer for a tray over D-Bus is fixed at its first question, in Qt 6.4 at least).
    static TunnelTrayIcon *createIfAvailable(QWidget *window);

    explicit TunnelTrayIcon(QWidget *window);
    ~TunnelTrayIcon() override;

    // Shows the tunnel's state: the mark, the tooltip (status in plain text, with address while
    // connected) and which menu entries apply.
    void setState(Look look, const QString &statusText, const QString &address);
    // Names the menu's entries in the current language (the tooltip comes with the next state).
    void retranslateUi();

    Look look() const { return m_look; }
    QSystemTrayIcon *systemTrayIcon() const { return m_icon; }
    QMenu *menu() const { return m_menu.get(); }

    // The program's icon with the mark of look painted over its lower right corner.
    static QIcon iconFor(Look look);

signals:
    void showWindowRequested();
    void toggleWindowRequested();
    void copyAddressRequested();
    void disconnectRequested();
    void quitRequested();

protected:
    // Renames the menu's entries when the language changes (the window passes the event on).
    bool event(QEvent *event) override;

private:
    void createMenu();

    QPointer<QSystemTrayIcon> m_icon;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_showAction = nullptr;
    QAction *m_copyAction = nullptr;
    QAction *m_disconnectAction = nullptr;
    QAction *m_quitAction = nullptr;
    Look m_look = Idle;
};
