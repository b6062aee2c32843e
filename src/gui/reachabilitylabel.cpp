// Whether the tunnel's public address can be reached, shown under the status line.
#include "reachabilitylabel.h"

#include "themestyles.h"
#include "tunneladdress.h"

#include <utility>

namespace {

// The window runs one tunnel; with several, each would be checked under its own key.
const int TUNNEL_KEY = 0;

} // namespace

ReachabilityLabel::ReachabilityLabel(FrpcManager *controller, std::function<QString()> shownHost,
                                     QWidget *parent)
    : QLabel(parent)
    , m_controller(controller)
    , m_shownHost(std::move(shownHost))
    , m_check(this)
{
    setObjectName(QStringLiteral("reachabilityLabel"));
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
    hide();
    // The check's connection reaches the local port like a visitor's: the controller must not take a
    // refusal there for one. A check that reached nothing has nothing to be reported for.
    connect(&m_check, &ReachabilityCheck::checkStarted, controller, &FrpcManager::expectOwnVisit);
    connect(&m_check, &ReachabilityCheck::checked, this, &ReachabilityLabel::onChecked);
    connect(controller, &FrpcManager::tunnelEvent, this, &ReachabilityLabel::onTunnelEvent);
    connect(controller, &FrpcManager::statusChanged, this, [this](FrpcManager::Status status) {
        if (status != FrpcManager::Running)
            clear();
    });
}

void ReachabilityLabel::applyTheme(bool dark)
{
    m_dark = dark;
    if (m_lastResult == 0)
        setStyleSheet(ThemeStyles::warningHintSheet(dark));
}

void ReachabilityLabel::onTunnelEvent(FrpcManager::TunnelEvent event, const QString &port)
{
    if (event == FrpcManager::TunnelLost)
        return;
    clear();
    // A datagram proves nothing without an answer: a UDP tunnel is not checked.
    if (m_controller->protocol() != FrpcManager::Tcp)
        return;
    m_host = TunnelAddress::bareHost(m_shownHost());
    m_port = port;
    m_check.check(TUNNEL_KEY, m_host, port.toInt());
}

void ReachabilityLabel::onChecked(int key, bool reachable, const QString &reason)
{
    Q_UNUSED(key);
    if (!reachable)
        m_controller->withdrawOwnVisit();
    const QString address = TunnelAddress::formatHostPort(m_host, m_port);
    if (reachable) {
        setText(QStringLiteral("外部可访问"));
        setStyleSheet(ThemeStyles::successHintSheet());
    } else {
        setText(QStringLiteral("服务器端口 %1 无法从外部访问，请检查服务器的防火墙或安全组").arg(m_port));
        setStyleSheet(ThemeStyles::warningHintSheet(m_dark));
    }
    show();
    if (m_lastResult != int(reachable)) {
        m_lastResult = int(reachable);
        emit logMessage(reachable
                            ? QStringLiteral("外部访问检查: %1 可以从外部访问").arg(address)
                            : QStringLiteral("外部访问检查: %1 无法从外部访问 (%2)").arg(address, reason));
    }
}

void ReachabilityLabel::clear()
{
    m_check.forgetAll();
    m_lastResult = -1;
    m_host.clear();
    m_port.clear();
    hide();
    setText(QString());
}
