// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QStringList>
#include <QTextCursor>

#include <deque>

class QPushButton;
class QTextEdit;

// The connection log: every message gets a timestamp, and paths and secrets are hidden.
//
// The window spends most of its life hidden while lines keep arriving, so the kept lines live in a
// compact list of their own. The text view is built the first time the window is shown; while the
// window is open the lines live in the view's document, laid out, and go back to the list when it is
// hidden.
class LogWindow : public QDialog
{
    Q_OBJECT

public:
    explicit LogWindow(QWidget *parent = nullptr);
    ~LogWindow() override;

    void appendLog(const QString &msg);
    void clearLog();
    void applyTheme(bool isDark);
    // The kept lines, oldest first: what the view shows, one paragraph each, while the window is open.
    QStringList lines() const;

    void setVisible(bool visible) override;

    // Replaces file paths, tokens, passwords and API keys in one message by placeholders.
    static QString filterSensitiveInfo(const QString &msg);

protected:
    void changeEvent(QEvent *event) override;

private:
    void setupUI();
    // The title and, once built, the buttons and the view's name in the current language.
    void retranslateUi();
    QString currentTimestamp();
    void keepLine(const QString &line);
    void keepParagraph(QStringView paragraph);
    // Calls f with each kept line, oldest first.
    template<typename F> void forEachLine(F f) const;
    // Moves the kept lines into the empty document of the view, as one burst, and back.
    void fillView();
    void emptyView();
    void openBurst();
    void finishBurst();
    void closeBurst();

    QTextEdit *m_logText = nullptr;
    QPushButton *m_clearBtn = nullptr;
    QPushButton *m_closeBtn = nullptr;
    bool m_isDarkTheme = true;

    // The latest lines, oldest first, in UTF-8: a client's output is mostly ASCII, which takes half the
    // room of the view's UTF-16 and none of its layout. A message with line breaks is kept as one line
    // per paragraph, as the view splits it. The lines lie one after another in blocks of text, so that
    // a line costs its bytes and the four of its end, and the oldest go a whole block at a time.
    struct KeptBlock
    {
        QByteArray text;
        QList<int> lineEnds;
        int firstLine = 0; // the lines before it were dropped
    };
    std::deque<KeptBlock> m_kept;
    int m_keptLines = 0;
    // While the window is open the lines live in the view's document instead, each in one place only.
    bool m_inView = false;
    bool m_viewEmpty = true;

    // Lines of one burst (all appendLog calls before control returns to the event loop) go into the
    // document inside one edit block, so the view lays them out and scrolls once per burst.
    QTextCursor m_appendCursor;
    bool m_burstOpen = false;
    bool m_followEnd = true;

    // The timestamp text changes once a second; it is formatted only then.
    qint64 m_stampSecs = -1;
    QString m_stampText;
};
