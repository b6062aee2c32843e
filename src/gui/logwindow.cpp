// The log window: redacted, bounded, appended in bursts.
#include "gui/logwindow.h"

#include "core/redaction.h"
#include "gui/darkthemehelper.h"
#include "gui/themestyles.h"

#include <QDateTime>
#include <QFont>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The log keeps the latest lines only, so that a client that writes without end (every visit to a
// tunnel whose local service is down makes a line) cannot use up the memory.
const int MAX_LOG_LINES = 10000;

} // namespace

LogWindow::LogWindow(QWidget *parent)
    : QDialog(parent)
{
    m_isDarkTheme = true;
    setupUI();
    applyTheme(true);
}

LogWindow::~LogWindow() = default;

void LogWindow::appendLog(const QString &msg)
{
    const QString timestamp = currentTimestamp();
    const QString filteredMsg = filterSensitiveInfo(msg);
    // Both arguments are substituted in one pass, so a "%1" inside the message stays as it is.
    const QString logLine = QStringLiteral("[%1] %2").arg(timestamp, filteredMsg);

    // The text is in the document at once; laying it out and scrolling waits until the burst ends.
    if (!m_burstOpen) {
        m_burstOpen = true;
        // A view that shows the end of the log keeps showing it as lines arrive.
        const QScrollBar *vScrollBar = m_logText->verticalScrollBar();
        m_followEnd = vScrollBar->value() >= vScrollBar->maximum();
        m_appendCursor.beginEditBlock();
        QTimer::singleShot(0, this, &LogWindow::finishBurst);
    }
    m_appendCursor.movePosition(QTextCursor::End);
    if (!m_logText->document()->isEmpty())
        m_appendCursor.insertBlock();
    // Plain text: output of the client is shown as it is, never interpreted as markup.
    m_appendCursor.insertText(logLine);
}

void LogWindow::clearLog()
{
    if (m_burstOpen) {
        m_burstOpen = false;
        m_appendCursor.endEditBlock();
    }
    m_logText->clear();
}

void LogWindow::applyTheme(bool isDark)
{
    m_isDarkTheme = isDark;
    const QString sheet = ThemeStyles::logWindowSheet(isDark);
    DarkThemeHelper::setDarkTitleBar(this, isDark);
    // Setting a sheet restyles every child, which lays out the whole log again; the window applies
    // the theme each time it shows the log, so an unchanged sheet is left alone.
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
}

QString LogWindow::filterSensitiveInfo(const QString &msg)
{
    return Redaction::filterSensitiveInfo(msg);
}

void LogWindow::setupUI()
{
    setWindowTitle(QStringLiteral("连接日志"));
    resize(700, 500);

    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(15, 15, 15, 15);
    mainLayout->setSpacing(10);

    m_logText = new QTextEdit(this);
    m_logText->setReadOnly(true);
    m_logText->setLineWrapMode(QTextEdit::NoWrap);
    m_logText->setFont(QFont(QStringLiteral("Consolas"), 9));
    // Nothing is ever undone in a read-only log; keeping undo steps would only hold memory.
    m_logText->document()->setUndoRedoEnabled(false);
    m_logText->document()->setMaximumBlockCount(MAX_LOG_LINES);
    m_appendCursor = QTextCursor(m_logText->document());
    mainLayout->addWidget(m_logText, 1);

    auto *buttonLayout = new QHBoxLayout();
    buttonLayout->addStretch();

    m_clearBtn = new QPushButton(QStringLiteral("清空日志"), this);
    m_clearBtn->setFixedSize(90, 28);
    m_clearBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    buttonLayout->addWidget(m_clearBtn);

    m_closeBtn = new QPushButton(QStringLiteral("关闭"), this);
    m_closeBtn->setFixedSize(70, 28);
    m_closeBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    buttonLayout->addWidget(m_closeBtn);

    mainLayout->addLayout(buttonLayout, 0);

    connect(m_clearBtn, &QPushButton::clicked, this, &LogWindow::clearLog);
    connect(m_closeBtn, &QPushButton::clicked, this, &LogWindow::close);
}

QString LogWindow::currentTimestamp()
{
    const qint64 secs = QDateTime::currentSecsSinceEpoch();
    if (secs != m_stampSecs) {
        m_stampSecs = secs;
        m_stampText = QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    return m_stampText;
}

void LogWindow::finishBurst()
{
    if (!m_burstOpen)
        return;
    m_burstOpen = false;

    // When these lines make the vertical scroll bar appear, the view would lay out the whole log a
    // second time for the narrower viewport. Lines do not wrap, so the width does not matter: show
    // the bar before the lines are laid out, and leave the decision to the view again afterwards.
    QScrollBar *vScrollBar = m_logText->verticalScrollBar();
    const bool showBarFirst = !vScrollBar->isVisibleTo(m_logText);
    if (showBarFirst)
        m_logText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_appendCursor.endEditBlock();

    // Scroll to the last line, then back to the start of the lines. The cursor rests at the start of
    // the last line: the view scrolls to it again when it is first shown, and the start of the lines
    // must stay in view then too.
    QTextCursor cursor = m_logText->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock);
    m_logText->setTextCursor(cursor);
    if (m_followEnd)
        vScrollBar->setValue(vScrollBar->maximum());
    if (QScrollBar *hScrollBar = m_logText->horizontalScrollBar())
        hScrollBar->setValue(0);
    if (showBarFirst)
        m_logText->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}
