// SPDX-License-Identifier: Apache-2.0
// The theme colours and every coloured style sheet.
#include "gui/themestyles.h"

#include "gui/language.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPushButton>

#include <utility>

namespace {

// The colours that tell the light and the dark theme apart.
struct ThemeColors
{
    const char *window;
    const char *text;
    const char *field;
    const char *fieldBorder;
    const char *accent;
    const char *spinButton;
    const char *spinButtonHover;
    const char *buttonHover;
    const char *buttonPressed;
    const char *disabledBackground;
    const char *disabledText;
    const char *disabledBorder;
    const char *checkBorder;
    const char *comboHover;
    const char *itemHover;
    const char *scrollTrack;
    const char *scrollHandle;
    const char *scrollHandleHover;
};

constexpr ThemeColors LIGHT_COLORS
    = { "#F5F6FA", "#2C3E50", "#FFFFFF", "#DFE6E9", "#3498DB", "#ECF0F1", "#BDC3C7", "#2E86DE", "#2574C7",
        "#E8EBF0", "#B0B7C3", "#D5D9E0", "#BDC3C7", "#F8F9FA", "#EBF5FB", "#ECF0F1", "#BDC3C7", "#95A5A6" };

constexpr ThemeColors DARK_COLORS
    = { "#1E2636", "#E8EAF0", "#2C3546", "#3D4759", "#5B8DEE", "#3D4759", "#4E5D73", "#7DA3F3", "#4A7BDB",
        "#2C3546", "#6B7280", "#3D4759", "#3D4759", "#343E52", "#3D4759", "#2C3546", "#3D4759", "#4E5D73" };

const char WINDOW_SHEET[]
    = "QMainWindow { background-color: @window; }\n"
      "QWidget { background-color: @window; color: @text; "
      "font-family: \"Microsoft YaHei UI\", \"微软雅黑\"; font-size: 10pt; }\n"
      "QLabel { background: transparent; border: none; }\n"
      "QSpinBox { background-color: @field; border: 1px solid @fieldBorder; border-radius: 6px; "
      "padding: 6px 12px; min-height: 28px; color: @text; }\n"
      "QSpinBox:hover { border-color: @accent; }\n"
      "QSpinBox::up-button, QSpinBox::down-button { background-color: @spinButton; border: none; "
      "width: 18px; }\n"
      "QSpinBox::up-button:hover, QSpinBox::down-button:hover { background-color: @spinButtonHover; }\n"
      "QPushButton { background-color: @accent; color: white; border: none; border-radius: 6px; "
      "padding: 4px 12px; font-weight: bold; min-height: 24px; font-size: 9pt; }\n"
      "QPushButton:hover { background-color: @buttonHover; }\n"
      "QPushButton:pressed { background-color: @buttonPressed; }\n"
      "QPushButton:disabled { background-color: @disabledBackground; color: @disabledText; "
      "border: 1px solid @disabledBorder; }\n"
      "QCheckBox { spacing: 8px; color: @text; }\n"
      "QCheckBox::indicator { width: 18px; height: 18px; border: 2px solid @checkBorder; "
      "border-radius: 4px; background-color: @field; }\n"
      "QCheckBox::indicator:hover { border-color: @accent; }\n"
      "QCheckBox::indicator:checked { background-color: @accent; border-color: @accent; "
      "image: url(:/resources/check.png); }\n"
      "QComboBox { background-color: @field; border: 1px solid @fieldBorder; border-radius: 6px; "
      "padding: 6px 12px; min-height: 28px; color: @text; }\n"
      "QComboBox:hover { border-color: @accent; background-color: @comboHover; }\n"
      "QComboBox:focus { border-color: @accent; outline: none; }\n"
      "QComboBox::drop-down { border: none; width: 24px; padding-right: 4px; }\n"
      "QComboBox::down-arrow { image: url(:/arrows/down-@textHex.png); width: 10px; height: 6px; "
      "margin-right: 6px; }\n"
      "QComboBox::down-arrow:hover { image: url(:/arrows/down-@accentHex.png); }\n"
      "QComboBox QAbstractItemView { background-color: @field; border: 1px solid @fieldBorder; "
      "border-radius: 6px; selection-background-color: @accent; selection-color: white; color: @text; "
      "padding: 4px; outline: none; }\n"
      "QComboBox QAbstractItemView::item { height: 32px; padding-left: 12px; border-radius: 4px; "
      "color: @text; }\n"
      "QComboBox QAbstractItemView::item:hover { background-color: @itemHover; color: @text; }\n"
      "QComboBox QAbstractItemView::item:selected { background-color: @accent; color: white; }\n"
      "QScrollBar:vertical { background-color: @scrollTrack; width: 12px; border-radius: 6px; }\n"
      "QScrollBar::handle:vertical { background-color: @scrollHandle; border-radius: 6px; "
      "min-height: 30px; }\n"
      "QScrollBar::handle:vertical:hover { background-color: @scrollHandleHover; }\n"
      "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0px; }\n";

const char CARD_SHEET[]
    = "ServerCardWidget {    background-color: @field;    border: 1px solid @fieldBorder;    "
      "border-radius: 12px;}ServerCardWidget:hover {    border-color: @accent;}";

const char MENU_SHEET[] = "QMenu { background-color: @field; color: @text; border: 1px solid @fieldBorder; "
                          "padding: 4px; }\n"
                          "QMenu::item { background-color: transparent; padding: 6px 24px 6px 16px; }\n"
                          "QMenu::item:selected { background-color: @itemHover; }";

const char LOG_WINDOW_SHEET[] = R"(
QDialog {
    background-color: @window;
}
QTextEdit {
    background-color: @field;
    color: @text;
    border: 1px solid @fieldBorder;
    border-radius: 6px;
    padding: 8px;
    font-family: Consolas, "Courier New", monospace;
}
QPushButton {
    background-color: @accent;
    color: white;
    border: none;
    border-radius: 6px;
    padding: 4px 12px;
    font-weight: bold;
    min-height: 24px;
    font-size: 9pt;
}
QPushButton:hover {
    background-color: @buttonHover;
}
QPushButton:pressed {
    background-color: @buttonPressed;
}
)";

// `sheet` with every colour name replaced by the theme's value.
QString withColors(const char *sheet, const ThemeColors &c)
{
    QString result = QString::fromUtf8(sheet);
    // Longer names first, so that "@field" does not eat the start of "@fieldBorder". The arrow
    // pictures are named after their colour, without the "#".
    const std::pair<const char *, const char *> colors[] = {
        { "@accentHex", c.accent + 1 },
        { "@textHex", c.text + 1 },
        { "@disabledBackground", c.disabledBackground },
        { "@scrollHandleHover", c.scrollHandleHover },
        { "@spinButtonHover", c.spinButtonHover },
        { "@disabledBorder", c.disabledBorder },
        { "@buttonPressed", c.buttonPressed },
        { "@scrollHandle", c.scrollHandle },
        { "@disabledText", c.disabledText },
        { "@buttonHover", c.buttonHover },
        { "@fieldBorder", c.fieldBorder },
        { "@checkBorder", c.checkBorder },
        { "@scrollTrack", c.scrollTrack },
        { "@spinButton", c.spinButton },
        { "@comboHover", c.comboHover },
        { "@itemHover", c.itemHover },
        { "@window", c.window },
        { "@accent", c.accent },
        { "@field", c.field },
        { "@text", c.text },
    };
    for (const auto &[name, value] : colors)
        result.replace(QLatin1String(name), QLatin1String(value));
    return result;
}

// The sheet for each theme, filled in once: the log window compares its sheet each time it is shown.
struct ThemedSheet
{
    explicit ThemedSheet(const char *sheet)
        : light(withColors(sheet, LIGHT_COLORS))
        , dark(withColors(sheet, DARK_COLORS))
    { }
    const QString &operator()(bool isDark) const { return isDark ? dark : light; }

    const QString light;
    const QString dark;
};

} // namespace

namespace ThemeStyles {

QString windowSheet(bool dark)
{
    static const ThemedSheet sheet(WINDOW_SHEET);
    return sheet(dark);
}

QString cardSheet(bool dark)
{
    static const ThemedSheet sheet(CARD_SHEET);
    return sheet(dark);
}

QString connectButtonSheet(bool connected)
{
    if (connected) {
        return QStringLiteral("QPushButton { background-color: #E9A568; font-weight: bold; }"
                              "QPushButton:hover { background-color: #F0B878; }");
    }
    return QStringLiteral("QPushButton { font-weight: bold; }");
}

QString menuSheet(bool dark)
{
    static const ThemedSheet sheet(MENU_SHEET);
    return sheet(dark);
}

QString logWindowSheet(bool dark)
{
    static const ThemedSheet sheet(LOG_WINDOW_SHEET);
    return sheet(dark);
}

QString lineEditSheet()
{
    return QStringLiteral("QLineEdit { background-color: #FFFFFF; border: 1px solid #DFE6E9; "
                          "border-radius: 6px; padding: 8px 12px; color: #2C3E50; }");
}

QString separatorSheet()
{
    return QStringLiteral("background-color: #DFE6E9;");
}

QString warningHintSheet(bool dark)
{
    return dark ? QStringLiteral("QLabel { color: #F39C12; font-size: 10pt; }")
                : QStringLiteral("QLabel { color: #D35400; font-size: 10pt; }");
}

QString successHintSheet()
{
    return QStringLiteral("QLabel { color: #27AE60; font-size: 10pt; }");
}

QString latencySheet(bool unreachable, bool dark)
{
    if (!unreachable)
        return QStringLiteral("QLabel { font-size: 9pt; }");
    return dark ? QStringLiteral("QLabel { color: #F39C12; font-size: 9pt; }")
                : QStringLiteral("QLabel { color: #D35400; font-size: 9pt; }");
}

namespace {

// The status line: its caption and the state in the state's colour (markup), kept out of the texts to
// translate.
QString statusLineWith(const char *style, const QString &state)
{
    return QCoreApplication::translate("ThemeStyles", "连接状态: %1")
        .arg(QStringLiteral("<span style='%1'>● %2</span>").arg(QLatin1String(style), state));
}

} // namespace

QString statusLine(FrpcManager::Status status)
{
    switch (status) {
    case FrpcManager::Stopped:
        return statusLineWith("color: #95A5A6;", QCoreApplication::translate("ThemeStyles", "未连接"));
    case FrpcManager::Starting:
        return statusLineWith("color: #F39C12;", QCoreApplication::translate("ThemeStyles", "正在连接..."));
    case FrpcManager::Running:
        return statusLineWith("color: #27AE60; font-weight: bold;",
                              QCoreApplication::translate("ThemeStyles", "已连接"));
    case FrpcManager::Stopping:
        return statusLineWith("color: #F39C12;", QCoreApplication::translate("ThemeStyles", "正在断开..."));
    case FrpcManager::Error:
        return statusLineWith("color: #E74C3C;", QCoreApplication::translate("ThemeStyles", "错误"));
    }
    return {};
}

QString statusLineWaiting(const QString &text, bool dark)
{
    return statusLineWith(dark ? "color: #8C96A8;" : "color: #95A5A6;", text.toHtmlEscaped());
}

void fitCaption(QPushButton *button, int minimum)
{
    if (Language::current() == Language::codes().first()) {
        button->setFixedWidth(minimum);
        return;
    }
    QFont font = button->font();
    font.setPointSize(9);
    font.setBold(true);
    // The sheets' padding of 12 pixels on each side, and a little room.
    const int needed = QFontMetrics(font).horizontalAdvance(button->text()) + 2 * 12 + 4;
    button->setFixedWidth(qMax(minimum, needed));
}

QString statusLineRunningAt()
{
    return statusLine(FrpcManager::Running)
        + QStringLiteral(" | <span style='color: #2E86DE; font-size: 12pt; font-weight: bold;'>%1</span>");
}

} // namespace ThemeStyles
