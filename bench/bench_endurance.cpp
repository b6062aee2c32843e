// SPDX-License-Identifier: Apache-2.0
// A month of a tunnel's life in minutes: the tunnel controller with the stand-in client through 1,000
// drops and returns of the server, 200 crashes of the client (each followed by a new start, as after
// the error), 200 unexpected ends of the client (restarted by the controller itself) and 10,000 status
// queries, with the controller's pauses shortened. Resident memory, open descriptors and child
// processes are taken after a warm-up round of each and again at the end; the last line gives them,
// and the exit code is 1 when the end exceeds the start by more than 1 MB, any descriptor or any
// process.
//
// Needs the fake client "frpc" beside this program. Like every start of a tunnel, it ends all frpc
// processes of the user that run the client beside it.
//     bench_endurance [--drops N] [--crashes N] [--queries N]

#include "core/frpcmanager.h"
#include "core/platform/frpcprocesses.h"
#include "endurance.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const int WAIT_PER_CYCLE_MS = 15000;

class Run
{
public:
    Run()
    {
        Endurance::shortenPauses(&m_manager);
        m_config.name = QStringLiteral("endurance");
        m_config.serverAddr = QStringLiteral("127.0.0.1");
        m_config.token = QStringLiteral("endurance-token");
        m_config.webServerPort = Endurance::freePort();
        QObject::connect(&m_manager, &FrpcManager::tunnelEvent, &m_manager,
                         [this](FrpcManager::TunnelEvent event) {
                             if (event == FrpcManager::TunnelRestored)
                                 ++m_restored;
                         });
        QObject::connect(&m_manager, &FrpcManager::errorOccurred, &m_manager, [this] { ++m_errors; });
        QObject::connect(&m_manager, &FrpcManager::logMessage, &m_manager, [this](const QString &line) {
            m_lastLines.append(line);
            if (m_lastLines.size() > 20)
                m_lastLines.removeFirst();
            if (line.contains(QLatin1String("http request [/api/status]")))
                ++m_queries;
        });
    }

    // The server drops and returns count times under one running tunnel.
    bool drops(int count)
    {
        Endurance::fakeClient({ { "FAKEFRPC_DROP_AFTER_MS", "15" },
                                { "FAKEFRPC_BACK_AFTER_MS", "15" },
                                { "FAKEFRPC_DROP_REPEAT", "1" } });
        m_restored = 0;
        m_manager.start(m_config, 8080);
        const bool done = Endurance::waitForCount(m_restored, count, WAIT_PER_CYCLE_MS);
        return stop() && done;
    }

    // Each client crashes 10 ms after its port was reported, which ends the tunnel with an error; it is
    // started again after each, as the user would.
    bool crashes(int count)
    {
        Endurance::fakeClient({ { "FAKEFRPC_EXIT_AFTER_REPORT", "10" }, { "FAKEFRPC_CRASH", "segv" } });
        for (int i = 0; i < count; ++i) {
            m_errors = 0;
            m_manager.start(m_config, 8080);
            // The crash is reported as an error, and the tunnel ends.
            if (!Endurance::waitFor(
                    [&] { return m_errors > 0 && m_manager.status() == FrpcManager::Stopped; },
                    WAIT_PER_CYCLE_MS))
                return false;
        }
        return stop();
    }

    // Each client ends with an error 10 ms after its port was reported; the controller restarts it.
    bool unexpectedEnds(int count)
    {
        Endurance::fakeClient({ { "FAKEFRPC_EXIT_AFTER_REPORT", "10" }, { "FAKEFRPC_EXIT_CODE", "1" } });
        m_restored = 0;
        m_manager.start(m_config, 8080);
        const bool done = Endurance::waitForCount(m_restored, count, WAIT_PER_CYCLE_MS);
        return stop() && done;
    }

    // The client never names a port: the controller keeps asking.
    bool queries(int count)
    {
        Endurance::fakeClient({ { "FAKEFRPC_NO_PORT", "1" } });
        m_queries = 0;
        m_manager.start(m_config, 8080);
        const bool done = Endurance::waitForCount(m_queries, count, WAIT_PER_CYCLE_MS);
        return stop() && done;
    }

    int queriesSeen() const { return m_queries; }
    // The controller's last log lines, for when a round fails.
    QString lastLines() const { return m_lastLines.join(QLatin1Char('\n')); }

private:
    bool stop()
    {
        m_manager.stop();
        return Endurance::waitFor([&] { return m_manager.status() == FrpcManager::Stopped; },
                                  WAIT_PER_CYCLE_MS);
    }

    ServerConfig m_config;
    int m_restored = 0;
    int m_queries = 0;
    int m_errors = 0;
    QStringList m_lastLines;
    // Last, so that it goes first: its end still reports to the counters above.
    FrpcManager m_manager;
};

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    if (!Endurance::isolateUserFiles(home))
        return 1;
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption dropsOption(QStringLiteral("drops"), QStringLiteral("drops and returns"),
                                         QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption crashesOption(QStringLiteral("crashes"),
                                           QStringLiteral("crashes, and as many ends"), QStringLiteral("n"),
                                           QStringLiteral("200"));
    const QCommandLineOption queriesOption(QStringLiteral("queries"), QStringLiteral("status queries"),
                                           QStringLiteral("n"), QStringLiteral("10000"));
    parser.addOptions({ dropsOption, crashesOption, queriesOption });
    parser.process(app);
    const int drops = parser.value(dropsOption).toInt();
    const int crashes = parser.value(crashesOption).toInt();
    const int queries = parser.value(queriesOption).toInt();

    if (!QFileInfo(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                   + FrpcProcesses::programFileName())
             .isExecutable()) {
        std::fprintf(stderr,
                     "The fake client frpc must lie beside this program (build the target fakefrpc).\n");
        return 1;
    }

    Run run;
    const auto round = [&run](int d, int c, int q) {
        const auto fail = [&run](const char *what) {
            std::fprintf(stderr, "%s; the controller's last lines:\n%s\n", what, qPrintable(run.lastLines()));
            return false;
        };
        QElapsedTimer clock;
        clock.start();
        if (!run.drops(d))
            return fail("the drops did not all come back");
        std::printf("  %d drops and returns: %.1f s\n", d, clock.restart() / 1000.0);
        std::fflush(stdout);
        if (!run.crashes(c))
            return fail("a client did not crash, or the tunnel did not end after it");
        if (!run.unexpectedEnds(c))
            return fail("an ended client was not followed by a new one");
        std::printf("  %d crashes and %d unexpected ends, each followed by a new client: %.1f s\n", c, c,
                    clock.restart() / 1000.0);
        if (!run.queries(q))
            return fail("the status queries stopped");
        std::printf("  %d status queries: %.1f s\n", run.queriesSeen(), clock.restart() / 1000.0);
        std::fflush(stdout);
        return true;
    };

    // The first round warms up what is made once (the network stack, caches, the log's patterns).
    std::printf("Warm-up\n");
    if (!round(10, 5, 200))
        return 1;
    const Endurance::Sample start = Endurance::sample();
    std::printf("Endurance\n");
    if (!round(drops, crashes, queries))
        return 1;
    const Endurance::Sample end = Endurance::sample();
    return Endurance::verdict(start, end, drops + 2 * crashes);
}
