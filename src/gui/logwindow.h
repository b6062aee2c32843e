#pragma once

#include <QDialog>
#include <QTextCursor>

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

    // Replaces file paths, tokens, passwords and API keys in one message by placeholders.
    static QString filterSensitiveInfo(const QString &msg);

private:
    void setupUI();
    QString currentTimestamp();
    void finishBurst();

    QTextEdit *m_logText = nullptr;
    QPushButton *m_clearBtn = nullptr;
    QPushButton *m_closeBtn = nullptr;
    bool m_isDarkTheme = true;

    // Lines of one burst (all appendLog calls before control returns to the event loop) go into the
    // document inside one edit block, so the view lays them out and scrolls once per burst.
    QTextCursor m_appendCursor;
    bool m_burstOpen = false;
    bool m_followEnd = true;

    // The timestamp text changes once a second; it is formatted only then.
    qint64 m_stampSecs = -1;
    QString m_stampText;
};
