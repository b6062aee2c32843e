// SPDX-License-Identifier: Apache-2.0
// The round trip to each card's server, measured while the window can be seen.
#include "gui/cardlatencies.h"

#include "core/tcpprobe.h"
#include "gui/servercardwidget.h"

#include <QEvent>
#include <QLayout>
#include <QWidget>

#include <optional>
#include <utility>

CardLatencies::CardLatencies(QWidget *window, QLayout *cards, std::function<int()> startingIndex)
    : QObject(window)
    , m_window(window)
    , m_cards(cards)
    , m_startingIndex(std::move(startingIndex))
{
    m_interval.setInterval(INTERVAL_MS);
    connect(&m_interval, &QTimer::timeout, this, &CardLatencies::measureAll);
    window->installEventFilter(this);
}

void CardLatencies::measureAll()
{
    if (!windowSeen())
        return;
    const int starting = m_startingIndex();
    for (int i = 0; i < m_cards->count(); ++i) {
        auto *card = qobject_cast<ServerCardWidget *>(m_cards->itemAt(i)->widget());
        if (!card || card->getIndex() == starting || card->findChild<TcpProbe *>())
            continue;
        // The probe belongs to the card: a card rebuilt away takes its measurement along.
        auto *probe = new TcpProbe(card->address(), card->port(), card);
        connect(probe, &TcpProbe::finished, card, [card, probe](bool accepted, int roundTripMs) {
            probe->deleteLater();
            probe->setParent(nullptr);
            card->setLatency(accepted ? std::optional<int>(roundTripMs) : std::nullopt);
        });
    }
}

bool CardLatencies::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::WindowStateChange:
            followWindow();
            break;
        case QEvent::Paint:
            // After the paint has reached the screen: opening connections and looking up names is no
            // part of showing the window.
            if (m_measureAfterPaint) {
                m_measureAfterPaint = false;
                QTimer::singleShot(0, this, &CardLatencies::measureAll);
            }
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool CardLatencies::windowSeen() const
{
    return m_window->isVisible() && !m_window->isMinimized();
}

// Measures once the window comes into view and has been painted, and every minute while it stays there.
void CardLatencies::followWindow()
{
    if (!windowSeen()) {
        m_interval.stop();
        m_measureAfterPaint = false;
        return;
    }
    if (m_interval.isActive())
        return;
    m_interval.start();
    m_measureAfterPaint = true;
    m_window->update();
}
