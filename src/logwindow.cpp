#include "logwindow.h"

#include <QPushButton>
#include <QTextEdit>

LogWindow::LogWindow(QWidget *parent)
    : QDialog(parent)
{
    setupUI();
    applyTheme(true);
}

LogWindow::~LogWindow() = default;

void LogWindow::appendLog(const QString &msg)
{
    Q_UNUSED(msg);
}

void LogWindow::clearLog() { }

void LogWindow::applyTheme(bool isDark)
{
    m_isDarkTheme = isDark;
}

void LogWindow::setupUI() { }

QString LogWindow::filterSensitiveInfo(const QString &msg) const
{
    return msg;
}
