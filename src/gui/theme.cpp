// SPDX-License-Identifier: Apache-2.0
// The theme a window shows, for the widgets inside it.
#include "gui/theme.h"

#include <QWidget>

Theme *Theme::of(const QWidget *widget)
{
    for (const QWidget *above = widget; above; above = above->parentWidget()) {
        if (auto *theme = above->findChild<Theme *>(QString(), Qt::FindDirectChildrenOnly))
            return theme;
    }
    return nullptr;
}

bool Theme::isDark(const QWidget *widget)
{
    const Theme *theme = of(widget);
    return theme && theme->isDark();
}

void Theme::setMode(Mode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    emit changed(mode);
}
