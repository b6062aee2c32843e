// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

class QWidget;

// Which of the two themes the window shows. The window owns one; the widgets inside it (and the
// dialogs it opens) ask it when they style themselves and listen to it for a change.
class Theme : public QObject
{
    Q_OBJECT

public:
    enum Mode { Light, Dark };
    Q_ENUM(Mode)

    explicit Theme(QObject *parent)
        : QObject(parent)
    { }

    // The theme of the window that widget stands in (or of a window above it); null outside one.
    static Theme *of(const QWidget *widget);
    // Whether widget is shown in the dark theme; light outside a window that has a theme.
    static bool isDark(const QWidget *widget);

    Mode mode() const { return m_mode; }
    bool isDark() const { return m_mode == Dark; }
    // Announces a change only.
    void setMode(Mode mode);

signals:
    void changed(Theme::Mode mode);

private:
    Mode m_mode = Light;
};
