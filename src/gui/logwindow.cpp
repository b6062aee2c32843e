// SPDX-License-Identifier: Apache-2.0
// The log window: redacted, bounded, appended in bursts.
#include "gui/logwindow.h"

#include "core/redaction.h"
#include "gui/darkthemehelper.h"
#include "gui/themestyles.h"

#include <QDateTime>
#include <QEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The log keeps the latest lines only, so that a client that writes without end (every visit to a
// tunnel whose local service is down makes a line) cannot use up the memory.
const int MAX_LOG_LINES = 10000;

// The size of a block of kept text: room for a few hundred lines.
const int KEPT_BLOCK_BYTES = 64 * 1024;

} // namespace

LogWindow::LogWindow(QWidget *parent)
    : QDialog(parent)
{
    // The view and the buttons are built when the window is first shown: a program that starts at
    // login and rests in the tray need not build, style and lay them out for its first paint.
    retranslateUi();
    resize(700, 500);
    applyTheme(true);
}

LogWindow::~LogWindow() = default;

void LogWindow::appendLog(const QString &msg)
{
    const QString timestamp = currentTimestamp();
    const QString filteredMsg = filterSensitiveInfo(msg);
    // Both arguments are substituted in one pass, so a "%1" inside the message stays as it is.
    const QString logLine = QStringLiteral("[%1] %2").arg(timestamp, filteredMsg);
    if (!m_inView) {
        keepLine(logLine);
        return;
    }

    // The text is in the document at once; laying it out and scrolling waits until the burst ends.
    openBurst();
    m_appendCursor.movePosition(QTextCursor::End);
    if (!m_viewEmpty)
        m_appendCursor.insertBlock();
    m_viewEmpty = false;
    // Plain text: output of the client is shown as it is, never interpreted as markup.
    m_appendCursor.insertText(logLine);
}

void LogWindow::clearLog()
{
    m_kept.clear();
    m_keptLines = 0;
    if (!m_inView)
        return;
    closeBurst();
    m_logText->clear();
    m_viewEmpty = true;
}

void LogWindow::applyTheme(bool isDark)
{
    m_isDarkTheme = isDark;
    const QString sheet = ThemeStyles::logWindowSheet(isDark);
    // The title bar needs the native window, which a window never shown need not have yet.
    if (m_logText)
        DarkThemeHelper::setDarkTitleBar(this, isDark);
    // Setting a sheet restyles every child, which lays out the whole log again; the window applies
    // the theme each time it shows the log, so an unchanged sheet is left alone.
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
}

QStringList LogWindow::lines() const
{
    QStringList result;
    if (m_inView) {
        if (!m_viewEmpty) {
            for (QTextBlock block = m_logText->document()->begin(); block.isValid(); block = block.next())
                result.append(block.text());
        }
        return result;
    }
    result.reserve(m_keptLines);
    forEachLine([&result](QByteArrayView line) { result.append(QString::fromUtf8(line)); });
    return result;
}

template<typename F> void LogWindow::forEachLine(F f) const
{
    for (const KeptBlock &block : m_kept) {
        for (int i = block.firstLine; i < block.lineEnds.size(); ++i) {
            const int start = i > 0 ? block.lineEnds.at(i - 1) : 0;
            f(QByteArrayView(block.text).sliced(start, block.lineEnds.at(i) - start));
        }
    }
}

void LogWindow::setVisible(bool visible)
{
    if (visible && !m_logText) {
        setupUI();
        DarkThemeHelper::setDarkTitleBar(this, m_isDarkTheme);
    }
    const bool wasVisible = isVisible();
    QDialog::setVisible(visible);
    if (visible && !wasVisible && !m_inView) {
        // Shown with its final size, so the lines are laid out once, for the width they are seen at.
        fillView();
    } else if (!visible && wasVisible && m_inView) {
        emptyView();
    }
}

QString LogWindow::filterSensitiveInfo(const QString &msg)
{
    return Redaction::filterSensitiveInfo(msg);
}

void LogWindow::setupUI()
{
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

    m_clearBtn = new QPushButton(this);
    m_clearBtn->setFixedSize(90, 28);
    m_clearBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    buttonLayout->addWidget(m_clearBtn);

    m_closeBtn = new QPushButton(this);
    m_closeBtn->setFixedSize(70, 28);
    m_closeBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    buttonLayout->addWidget(m_closeBtn);

    mainLayout->addLayout(buttonLayout, 0);

    connect(m_clearBtn, &QPushButton::clicked, this, &LogWindow::clearLog);
    connect(m_closeBtn, &QPushButton::clicked, this, &LogWindow::close);
    retranslateUi();
}

void LogWindow::retranslateUi()
{
    setWindowTitle(tr("连接日志"));
    if (!m_logText)
        return;
    m_logText->setAccessibleName(tr("连接日志"));
    m_clearBtn->setText(tr("清空日志"));
    m_closeBtn->setText(tr("关闭"));
}

void LogWindow::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
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

void LogWindow::keepLine(const QString &line)
{
    // The view makes a paragraph of each piece between line breaks ("\r\n" counting as one); so does
    // the list, which keeps as many as the view would.
    qsizetype from = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i < line.size()) {
            const QChar ch = line.at(i);
            // U+FDD0 and U+FDD1 are the document's own marks for the start and the end of a frame.
            if (ch != QLatin1Char('\n') && ch != QLatin1Char('\r') && ch != QChar::ParagraphSeparator
                && ch != QChar(0xFDD0) && ch != QChar(0xFDD1))
                continue;
        }
        keepParagraph(QStringView(line).mid(from, i - from));
        if (i + 1 < line.size() && line.at(i) == QLatin1Char('\r') && line.at(i + 1) == QLatin1Char('\n'))
            ++i;
        from = i + 1;
    }
}

void LogWindow::keepParagraph(QStringView paragraph)
{
    const QByteArray utf8 = paragraph.toUtf8();
    if (m_kept.empty() || m_kept.back().text.size() + utf8.size() > m_kept.back().text.capacity()) {
        m_kept.emplace_back();
        m_kept.back().text.reserve(qMax(KEPT_BLOCK_BYTES, int(utf8.size())));
    }
    KeptBlock &last = m_kept.back();
    last.text.append(utf8);
    last.lineEnds.append(int(last.text.size()));
    ++m_keptLines;

    if (m_keptLines > MAX_LOG_LINES) {
        KeptBlock &oldest = m_kept.front();
        if (++oldest.firstLine == oldest.lineEnds.size())
            m_kept.pop_front();
        --m_keptLines;
    }
}

void LogWindow::fillView()
{
    m_inView = true;
    m_viewEmpty = m_keptLines == 0;
    if (m_viewEmpty)
        return;
    qsizetype length = m_keptLines;
    for (const KeptBlock &block : m_kept)
        length += block.text.size();
    QString text;
    text.reserve(length);
    forEachLine([&text](QByteArrayView line) {
        text.append(QString::fromUtf8(line));
        text.append(QLatin1Char('\n'));
    });
    text.chop(1);
    // The lines move into the document; the list is filled again when the window is hidden.
    m_kept.clear();
    m_keptLines = 0;
    openBurst();
    m_appendCursor.movePosition(QTextCursor::End);
    m_appendCursor.insertText(text);
    finishBurst();
}

void LogWindow::emptyView()
{
    // The document drops its oldest paragraphs when the burst ends.
    closeBurst();
    m_inView = false;
    if (!m_viewEmpty) {
        for (QTextBlock block = m_logText->document()->begin(); block.isValid(); block = block.next())
            keepParagraph(block.text());
    }
    m_logText->clear();
    m_viewEmpty = true;
#ifdef __GLIBC__
    // The laid-out lines took much more room than the list: hand it back.
    malloc_trim(0);
#endif
}

void LogWindow::openBurst()
{
    if (m_burstOpen)
        return;
    m_burstOpen = true;
    // A view that shows the end of the log keeps showing it as lines arrive.
    const QScrollBar *vScrollBar = m_logText->verticalScrollBar();
    m_followEnd = vScrollBar->value() >= vScrollBar->maximum();
    m_appendCursor.beginEditBlock();
    QTimer::singleShot(0, this, &LogWindow::finishBurst);
}

void LogWindow::closeBurst()
{
    if (!m_burstOpen)
        return;
    m_burstOpen = false;
    m_appendCursor.endEditBlock();
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
