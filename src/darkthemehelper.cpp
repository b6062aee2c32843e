#include "darkthemehelper.h"

#include <QtGlobal>

void DarkThemeHelper::setDarkTitleBar(QWidget *window, bool dark)
{
    Q_UNUSED(window);
    Q_UNUSED(dark);
}
