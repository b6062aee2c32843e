// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/frpcmanager.h"

#include <QString>

class QPushButton;

// The light and the dark theme: their colours and every style sheet that carries a colour. Both
// themes share every rule and every measure; only the colours differ.
namespace ThemeStyles {

// The whole main window; the edit dialog takes it over from the window.
QString windowSheet(bool dark);
// One server card.
QString cardSheet(bool dark);
// A card's connect button, which turns into the disconnect button while its tunnel runs.
QString connectButtonSheet(bool connected);
// The server list's context menu: a raised panel in the theme's field colours.
QString menuSheet(bool dark);
// The log window.
QString logWindowSheet(bool dark);
// The edit dialog's text fields: the same light style in both themes.
QString lineEditSheet();
// The line between the status area and the server list.
QString separatorSheet();
// A warning under the status line, such as the local port where no program listens: orange, darker
// in the light theme so that it reads on both backgrounds.
QString warningHintSheet(bool dark);
// Good news under the status line, such as a public address that can be reached: the status line's
// green.
QString successHintSheet();
// A server card's round trip: the card's text, or the warning colour when the server cannot be reached.
QString latencySheet(bool unreachable, bool dark);
// The status line's rich text for a state of the tunnel, the state in its colour.
QString statusLine(FrpcManager::Status status);
// The status line of a connection that waits for the network or its server: the text in the theme's
// muted colour.
QString statusLineWaiting(const QString &text, bool dark);
// The status line of a running tunnel with its address, given as rich text ("%1" stands for it).
QString statusLineRunningAt();
// Gives a button of fixed width `minimum`, the width its Chinese caption was laid out for, or in another
// language the width its caption needs in the sheets' bold 9 pt if that is more.
void fitCaption(QPushButton *button, int minimum);

} // namespace ThemeStyles
