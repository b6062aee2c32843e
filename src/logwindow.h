#pragma once

#include <QDialog>

class QPushButton;
class QTextEdit;

// The connection log: every message gets a timestamp, and paths and secrets are hidden.
class LogWindow : public QDialog
{
    Q_OBJECT

public:
    explicit LogWindow(QWidget *parent = nullptr);
    ~LogWindow() override;

    void appendLog(const QString &msg);
    void clearLog();
    void applyTheme(bool isDark);

private:
    void setupUI();
    QString filterSensitiveInfo(const QString &msg) const;

    QTextEdit *m_logText = nullptr;
    QPushButton *m_clearBtn = nullptr;
    QPushButton *m_closeBtn = nullptr;
    bool m_isDarkTheme = true;
};
