// SPDX-License-Identifier: Apache-2.0
// What the parts of the whole-program benchmark share: the demonstration servers, finding things in
// the real window, timing a click until its result is painted, counting timer wake-ups.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>

class QApplication;
class QWidget;

namespace AppBench {

inline const int kColdStartRuns = 15;
inline const int kConnectRounds = 3;
// With the real client, beside the bare client's start.
inline const int kRealClientRounds = 9;
inline const int kPressMs = 100; // how long a person holds a button down when clicking it
inline const int kLogLines = 10000;
inline const int kMemoryRuns = 3;
inline const int kWakeupSeconds = 10;
inline const int kTenTunnelWakeupSeconds = 20;

// Started first thing in main: the phases of a start are measured from it.
extern QElapsedTimer g_mainClock;
extern double g_appReadyMs;

// The demonstration servers every mode puts into the store (addresses from the documentation ranges).
struct DemoServer
{
    const char *name;
    const char *address;
    int port;
};
inline const DemoServer kDemoServers[] = {
    { "香港节点", "203.0.113.10", 7000 },
    { "东京节点", "198.51.100.24", 7000 },
    { "家里的服务器", "frp.example.com", 7100 },
};
inline const int kDemoIndex = 1; // the first demonstration server; index 0 is the built-in entry

void say(const QString &line);
double median(QList<double> values);
QString joined(const QList<double> &values, int precision = 0);
// Resident memory of this process in kB, from /proc; -1 where there is no /proc.
qint64 residentKb();
QString machineDescription();
// Runs the event loop for ms milliseconds.
void spin(int ms, QTimer *timer = nullptr);
// Fills the store with the demonstration servers unless they are there already.
void prepareStore();

QLabel *statusLabel(QWidget *window);
QPushButton *buttonWithText(QWidget *root, const QString &text);
// The button with the given caption on the card of one server.
QPushButton *cardButton(QWidget *window, int index, const QString &caption);

// Clicks a button and returns the milliseconds until the status line shows text and has been painted
// with it; -1 on time-out or when a message box turned up (its text goes to problem).
double clickUntilShown(QPushButton *button, QLabel *status, const QString &text, QString *problem = nullptr,
                       int timeoutMs = 30000);

// Whether the timer counter sees timer events at all: a 100 ms timer over one second must be counted.
bool timerCounterWorks();
// Timer wake-ups per second over the given seconds, by receiver.
QString wakeups(int seconds);

// The parts, each in a file of its own.
void measureColdStart();
int childStart(QApplication &app, const QString &kind);
void measureMemory();
int childMemory(QApplication &app, const QString &kind);

struct ConnectionFigures
{
    QList<double> connectMs;
    QList<double> disconnectMs;
    QString stoppedWakeups;
    QString runningWakeups;
    QString problem;
};
// beforeRound, when given, runs before each round (the bare client's start, timed in turn with the
// window's click so that both see the same machine).
ConnectionFigures connectRounds(int index, const QString &shownAddress, bool countWakeups,
                                int rounds = kConnectRounds, const std::function<void()> &beforeRound = {});
void reportConnection(const QString &client, const ConnectionFigures &figures, const QString &address);
void measureTenTunnelWakeups(int index, const QString &shownAddress);
int childTenTunnels(const QStringList &arguments);
int childConnect(const QStringList &arguments);
enum class RealClientParts { Click, TenTunnels };
void measureRealClient(const QString &frpDir, RealClientParts parts = RealClientParts::Click);

int takeScreenshots(const QString &folder);

} // namespace AppBench
