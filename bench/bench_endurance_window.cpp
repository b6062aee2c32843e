// SPDX-License-Identifier: Apache-2.0
// The whole window with the stand-in client through 200 drops and returns of the server (the
// controller's pauses shortened). Resident memory, open descriptors and child processes are taken
// after a warm-up of drops that fills the log to its bound (10,000 lines), so that what the log keeps
// is counted at both ends, and again at the end, each time with the tunnel stopped through the card's
// button; the last line gives them, and the exit code is 1 when the end exceeds the start by more than
// 1 MB, any descriptor or any process.
//     bench_endurance_window [--drops N]      (offscreen unless a display is given)

#include "core/frpcmanager.h"
#include "core/serverconfig.h"
#include "endurance.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "gui/servercardwidget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPushButton>

namespace {

const int LOG_BOUND = 10000;

QPushButton *cardButton(QWidget *window, int index)
{
    for (ServerCardWidget *card : window->findChildren<ServerCardWidget *>()) {
        if (card->getIndex() != index)
            continue;
        for (QPushButton *button : card->findChildren<QPushButton *>()) {
            if (button->text() == QStringLiteral("连接") || button->text() == QStringLiteral("断开"))
                return button;
        }
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    if (!Endurance::isolateUserFiles(home))
        return 1;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption dropsOption(QStringLiteral("drops"), QStringLiteral("drops and returns"),
                                         QStringLiteral("n"), QStringLiteral("200"));
    parser.addOption(dropsOption);
    parser.process(app);
    const int drops = parser.value(dropsOption).toInt();

    // A server of its own, its web API on a free port.
    ServerConfig server;
    server.name = QStringLiteral("endurance");
    server.serverAddr = QStringLiteral("127.0.0.1");
    server.token = QStringLiteral("endurance-token");
    server.webServerPort = Endurance::freePort();
    ServerConfigManager::instance().addConfig(server);
    const int index = int(ServerConfigManager::instance().getConfigs().size()) - 1;

    MainWindow window;
    window.show();
    auto *manager = window.findChild<FrpcManager *>();
    auto *log = window.findChild<LogWindow *>();
    if (!manager || !log || !cardButton(&window, index)) {
        std::fprintf(stderr, "the window's controller, log or card was not found\n");
        return 1;
    }
    Endurance::shortenPauses(manager);
    int restored = 0;
    QObject::connect(manager, &FrpcManager::tunnelEvent, &window,
                     [&restored](FrpcManager::TunnelEvent event) {
                         if (event == FrpcManager::TunnelRestored)
                             ++restored;
                     });
    Endurance::fakeClient({ { "FAKEFRPC_DROP_AFTER_MS", "15" },
                            { "FAKEFRPC_BACK_AFTER_MS", "15" },
                            { "FAKEFRPC_DROP_REPEAT", "1" } });
    // Connects through the card, waits for count drops and returns, disconnects through the card.
    const auto cycle = [&](int count) {
        restored = 0;
        cardButton(&window, index)->click();
        const bool done = Endurance::waitForCount(restored, count, 5000);
        cardButton(&window, index)->click();
        return Endurance::waitFor([&] { return manager->status() == FrpcManager::Stopped; }, 5000) && done;
    };

    // The warm-up fills the log with what the drops write until it holds as many lines as it keeps:
    // a line kept for the log takes the same memory at the start and at the end.
    QElapsedTimer clock;
    clock.start();
    int warmUp = 0;
    while (log->lines().size() < LOG_BOUND) {
        if (!cycle(50)) {
            std::fprintf(stderr, "warm-up: the drops did not all come back\n");
            return 1;
        }
        warmUp += 50;
    }
    std::printf("window: warm-up of %d drops and returns, %d log lines: %.1f s\n", warmUp,
                int(log->lines().size()), clock.elapsed() / 1000.0);
    const Endurance::Sample start = Endurance::sample();
    clock.restart();
    if (!cycle(drops)) {
        std::fprintf(stderr, "the drops did not all come back\n");
        return 1;
    }
    std::printf("window: %d drops and returns: %.1f s\n", drops, clock.elapsed() / 1000.0);
    const Endurance::Sample end = Endurance::sample();
    return Endurance::verdict(start, end, drops);
}
