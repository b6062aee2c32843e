// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class QLayout;
class QWidget;

// Measures the round trip to every server card's server and shows it on the card: when the window is
// shown (restored from the tray or from being minimised too) and painted, when asked after the cards were rebuilt,
// and every minute while the window is visible and not minimised. Never while it is hidden or
// minimised. All cards are measured at once, each by one bare connection; a card whose measurement is
// still on its way is not measured again meanwhile, and neither is the card whose tunnel is starting.
class CardLatencies : public QObject
{
    Q_OBJECT

public:
    static constexpr int INTERVAL_MS = 60000;

    // cards: the layout that holds the window's server cards. startingIndex: the index of the card
    // whose tunnel is starting, or -1.
    CardLatencies(QWidget *window, QLayout *cards, std::function<int()> startingIndex);

    // Measures every card now, if the window can be seen.
    void measureAll();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool windowSeen() const;
    void followWindow();

    QWidget *m_window;
    QLayout *m_cards;
    std::function<int()> m_startingIndex;
    QTimer m_interval;
    // The window came into view: its cards are measured once it has been painted.
    bool m_measureAfterPaint = false;
};
