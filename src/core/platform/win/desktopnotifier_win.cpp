// SPDX-License-Identifier: Apache-2.0
// Desktop notifications on Windows: none are sent.
#include "core/platform/desktopnotifier.h"

// Windows has no freedesktop notification service; the program sends nothing there.
void DesktopNotifier::notify(const QString &, const QString &) { }
