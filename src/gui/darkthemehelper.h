// SPDX-License-Identifier: Apache-2.0
#pragma once

class QWidget;

// Switches the native title bar of a top-level window between its dark and light look.
class DarkThemeHelper
{
public:
    static void setDarkTitleBar(QWidget *window, bool dark);
};
