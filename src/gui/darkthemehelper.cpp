// SPDX-License-Identifier: Apache-2.0
// The theme: the light and dark palettes and the dark native title bar on Windows.
#include "gui/darkthemehelper.h"

#include <QWidget>

#ifdef Q_OS_WIN
#include <windows.h>

#include <dwmapi.h>

namespace DwmAttribute {
// Dark title bar attribute of the desktop window manager, under its current number and under the
// number Windows 10 used before release 20H1. Older SDKs declare neither.
constexpr DWORD DWMWA_USE_IMMERSIVE_DARK_MODE = 20;
constexpr DWORD DWMWA_USE_IMMERSIVE_DARK_MODE_BEFORE_20H1 = 19;
} // namespace DwmAttribute
#endif

void DarkThemeHelper::setDarkTitleBar(QWidget *window, bool dark)
{
    if (!window)
        return;

#ifdef Q_OS_WIN
    // winId() creates the native window when needed, so this works before the window is shown.
    const auto hwnd = reinterpret_cast<HWND>(window->winId());
    const BOOL value = dark ? TRUE : FALSE;
    const HRESULT hr = DwmSetWindowAttribute(hwnd, DwmAttribute::DWMWA_USE_IMMERSIVE_DARK_MODE, &value,
                                             static_cast<DWORD>(sizeof(value)));
    if (FAILED(hr)) {
        DwmSetWindowAttribute(hwnd, DwmAttribute::DWMWA_USE_IMMERSIVE_DARK_MODE_BEFORE_20H1, &value,
                              static_cast<DWORD>(sizeof(value)));
    }
#else
    // Other systems draw the title bar themselves; nothing to switch here.
    Q_UNUSED(dark);
#endif
}
