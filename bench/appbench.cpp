// SPDX-License-Identifier: Apache-2.0
// The shared parts of the whole-program benchmark (see appbench.h).
#include "appbench.h"

#include "core/serverconfig.h"
#include "gui/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace AppBench {

QElapsedTimer g_mainClock;
double g_appReadyMs = 0;

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = int(values.size());
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

QString joined(const QList<double> &values, int precision)
{
    QStringList parts;
    for (double v : values)
        parts << QString::number(v, 'f', precision);
    return parts.join(QStringLiteral(" / "));
}

// Resident memory of this process in kB, from /proc; -1 where there is no /proc.
qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    // Files under /proc report a size of 0, so the text is read whole rather than line by line to end.
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QString machineDescription()
{
    QString cpu;
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!info.atEnd()) {
            const QString line = QString::fromUtf8(info.readLine());
            if (line.startsWith(QLatin1String("model name"))) {
                cpu = line.section(QLatin1Char(':'), 1).simplified();
                break;
            }
        }
    }
    return QStringLiteral("%1, %2 logical cores, %3, kernel %4, Qt %5, platform %6")
        .arg(cpu.isEmpty() ? QSysInfo::currentCpuArchitecture() : cpu)
        .arg(QThread::idealThreadCount())
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelVersion(), QString::fromLatin1(qVersion()),
             QGuiApplication::platformName());
}

// Runs the event loop for ms milliseconds.
void spin(int ms, QTimer *timer)
{
    QTimer local;
    QTimer *t = timer ? timer : &local;
    QEventLoop loop;
    t->setSingleShot(true);
    QObject::connect(t, &QTimer::timeout, &loop, &QEventLoop::quit);
    t->start(ms);
    loop.exec();
    QObject::disconnect(t, nullptr, &loop, nullptr);
}

// Fills the store with the demonstration servers unless they are there already.
void prepareStore()
{
    ServerConfigManager &store = ServerConfigManager::instance();
    if (store.getConfigs().size() > 1)
        return;
    for (const DemoServer &demo : kDemoServers) {
        ServerConfig config;
        config.name = QString::fromUtf8(demo.name);
        config.serverAddr = QString::fromLatin1(demo.address);
        config.serverPort = demo.port;
        config.token = QStringLiteral("demo-token");
        store.addConfig(config);
    }
}

// --- Finding things in the real window ------------------------------------------------------------

QLabel *statusLabel(QWidget *window)
{
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (label->text().startsWith(QStringLiteral("连接状态")))
            return label;
    }
    return nullptr;
}

QPushButton *buttonWithText(QWidget *root, const QString &text)
{
    for (QPushButton *button : root->findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// The button with the given caption on the card of one server.
QPushButton *cardButton(QWidget *window, int index, const QString &caption)
{
    for (ServerCardWidget *card : window->findChildren<ServerCardWidget *>()) {
        if (card->getIndex() == index && card->isVisible()) {
            if (QPushButton *button = buttonWithText(card, caption))
                return button;
        }
    }
    return nullptr;
}

namespace {

// Notes when a label is first painted showing a text, so that "shown" means painted, not merely set.
class PaintWatch : public QObject
{
public:
    PaintWatch(QLabel *label, const QString &text)
        : m_label(label)
        , m_text(text)
    {
        label->installEventFilter(this);
        m_clock.start();
    }
    qint64 shownNs() const { return m_shownNs; }
    qint64 nowNs() const { return m_clock.nsecsElapsed(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (m_shownNs < 0 && watched == m_label && event->type() == QEvent::Paint
            && m_label->text().contains(m_text))
            m_shownNs = m_clock.nsecsElapsed();
        return false;
    }

private:
    QLabel *m_label;
    QString m_text;
    QElapsedTimer m_clock;
    qint64 m_shownNs = -1;
};

// Closes any message box that turns up (it would block the measurement in its own event loop) and
// keeps its text.
class BoxWatchdog : public QObject
{
public:
    BoxWatchdog()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                m_text = box->windowTitle() + QStringLiteral(": ") + box->text();
                box->close();
            }
        });
        m_timer.start(200);
    }
    QString text() const { return m_text; }

private:
    QTimer m_timer;
    QString m_text;
};

} // namespace

// Clicks a button as a person does, pressing it for a moment, and returns the milliseconds from the
// release, which makes the click, until the status line shows text and has been painted with it; -1
// on time-out or when a message box turned up (its text goes to problem).
double clickUntilShown(QPushButton *button, QLabel *status, const QString &text, QString *problem,
                       int timeoutMs)
{
    BoxWatchdog watchdog;
    QTest::mousePress(button, Qt::LeftButton);
    spin(kPressMs);
    PaintWatch watch(status, text);
    const qint64 start = watch.nowNs();
    QTest::mouseRelease(button, Qt::LeftButton);
    while ((watch.nowNs() - start) / 1000000 < timeoutMs && watchdog.text().isEmpty()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (watch.shownNs() >= 0)
            return (watch.shownNs() - start) / 1e6;
        QThread::usleep(200);
    }
    if (problem)
        *problem = watchdog.text().isEmpty()
            ? QStringLiteral("\"%1\" was never shown (status line: %2)").arg(text, status->text())
            : QStringLiteral("a message box turned up: ") + watchdog.text();
    return -1;
}

namespace {

// Counts timer events delivered anywhere in the application, by receiver.
class TimerCounter : public QObject
{
public:
    explicit TimerCounter(QObject *ignored)
        : m_ignored(ignored)
    {
        qApp->installEventFilter(this);
    }
    ~TimerCounter() override { qApp->removeEventFilter(this); }

    int total() const
    {
        int sum = 0;
        for (int n : m_byReceiver)
            sum += n;
        return sum;
    }
    QString breakdown(double seconds) const
    {
        QStringList parts;
        for (auto it = m_byReceiver.cbegin(); it != m_byReceiver.cend(); ++it)
            parts << QStringLiteral("%1 %2/s").arg(it.key()).arg(it.value() / seconds, 0, 'f', 2);
        return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::Timer || event->type() == QEvent::ZeroTimerEvent)
            && watched != m_ignored) {
            QString name = QString::fromLatin1(watched->metaObject()->className());
            if (QObject *parent = watched->parent())
                name += QStringLiteral(" in ") + QString::fromLatin1(parent->metaObject()->className());
            ++m_byReceiver[name];
        }
        return false;
    }

private:
    QObject *m_ignored;
    QMap<QString, int> m_byReceiver;
};

} // namespace

// Whether the counter sees timer events at all: a 100 ms timer over one second must be counted.
bool timerCounterWorks()
{
    QTimer measuring;
    TimerCounter counter(&measuring);
    QTimer ticking;
    ticking.start(100);
    spin(1050, &measuring);
    return counter.total() >= 9;
}

QString wakeups(int seconds)
{
    QTimer measuring;
    TimerCounter counter(&measuring);
    spin(seconds * 1000, &measuring);
    return QStringLiteral("%1/s (%2)")
        .arg(counter.total() / double(seconds), 0, 'f', 2)
        .arg(counter.breakdown(seconds));
}

} // namespace AppBench
