// SPDX-License-Identifier: Apache-2.0
// Starting at login on Windows: the per-user Run key.
#include "core/platform/startatlogin.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

namespace StartAtLogin {

void setEnabled(bool enable)
{
    QSettings runKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                     QSettings::NativeFormat);
    const QString path = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    if (enable)
        runKey.setValue(QStringLiteral("Marrowgate"), QLatin1Char('"') + path + QLatin1Char('"'));
    else
        runKey.remove(QStringLiteral("Marrowgate"));
}

} // namespace StartAtLogin
