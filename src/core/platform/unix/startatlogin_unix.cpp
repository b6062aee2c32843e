// SPDX-License-Identifier: Apache-2.0
// Starting at login on Linux: an autostart desktop entry.
#include "core/platform/startatlogin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace StartAtLogin {

namespace {

// One argument of an Exec line, in double quotes. Inside quotes a backslash, double quote,
// backtick and dollar sign need a backslash; a literal percent sign is doubled so that it is not
// taken for a field code.
QString quotedExecArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

// The escaping every string value of a desktop entry gets; readers undo it before they look at
// the quoting of an Exec line, so it is applied last.
QString escapedValue(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            escaped += QLatin1String("\\r");
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

QString entryPath()
{
    // ConfigLocation is $XDG_CONFIG_HOME, or ~/.config when the variable is not set.
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)
        + QStringLiteral("/autostart/Marrowgate.desktop");
}

QString desktopEntry(const QString &executablePath)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Marrowgate\n"
                          "Exec=%1\n"
                          "Icon=marrowgate\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(escapedValue(quotedExecArgument(executablePath)));
}

void setEnabled(bool enable)
{
    const QString path = entryPath();
    if (!enable) {
        if (QFile::exists(path) && !QFile::remove(path))
            qWarning("Could not remove the login entry %s", qPrintable(path));
        return;
    }

    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder)) {
        qWarning("Could not create the folder %s", qPrintable(folder));
        return;
    }
    // Written through a temporary file, so a session that starts meanwhile never reads half an entry.
    QSaveFile file(path);
    const QByteArray text = desktopEntry(QCoreApplication::applicationFilePath()).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        qWarning("Could not write the login entry %s", qPrintable(path));
}

} // namespace StartAtLogin
