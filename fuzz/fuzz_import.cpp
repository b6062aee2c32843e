// SPDX-License-Identifier: Apache-2.0
// A server list file being imported: the whole path of "导入服务器列表..." up to what is stored, the
// reload after it included. Never more entries stored than loading would read, and every stored
// entry passes the check a server must pass before it is connected.
#include "core/serverconfig.h"
#include "fuzzsupport.h"

#include <QFile>
#include <QSettings>

namespace {

// The store holding `count` valid servers, as the settings file the program writes.
QByteArray storeWith(int count)
{
    QByteArray text = "[servers]\n";
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i) + '\\';
        text += n + "name=S" + QByteArray::number(i) + '\n' + n + "serverAddr=203.0.113.1\n" + n
            + "serverPort=7000\n" + n + "token=t\n" + n + "webServerPort=7400\n";
    }
    return text + "size=" + QByteArray::number(count) + '\n';
}

int userEntries(const QList<ServerConfig> &configs)
{
    return int(std::count_if(configs.cbegin(), configs.cend(),
                             [](const ServerConfig &config) { return !config.isBuiltIn; }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString root = FuzzSupport::isolateUserFiles();
    static const QString settingsPath = QSettings().fileName();
    static const QString importPath = root + QStringLiteral("/tmp/import.json");
    // Two servers stored, or so many that the bound is near: the first byte chooses, and whether the
    // file's servers are appended or replace the list.
    static const QByteArray fewStored = storeWith(2);
    static const QByteArray nearlyFull = storeWith(ServerConfigManager::MAX_STORED_SERVERS - 2);

    FuzzSupport::Reader input(data, size);
    const uint8_t mode = input.byte();
    const bool append = mode & 1;
    const QByteArray &before = (mode >> 1) == 0x7f ? nearlyFull : fewStored;
    FuzzSupport::writeFile(importPath, input.rest());

    // The store is written and read again only when it does not hold the wanted list already: a
    // refused import leaves both as they were, and the nearly full store takes long to read.
    static const QByteArray *held = nullptr;
    ServerConfigManager &store = ServerConfigManager::instance();
    if (held != &before) {
        QDir().mkpath(QFileInfo(settingsPath).path());
        FuzzSupport::writeFile(settingsPath, before);
        store.loadConfigs();
        held = &before;
    }
    const int storedBefore = userEntries(store.getConfigs());
    int added = -1;
    int skipped = -1;
    QString reason;
    const bool imported = store.importFromFile(importPath, append, &reason, &added, &skipped);
    // The window reloads the store after an import.
    if (imported) {
        store.loadConfigs();
        held = nullptr;
    }
    const QList<ServerConfig> after = store.getConfigs();

    FUZZ_CHECK(!after.isEmpty() && after.first().isBuiltIn, "the built-in entry comes first");
    FUZZ_CHECK(userEntries(after) <= ServerConfigManager::MAX_STORED_SERVERS, "more entries than the bound");
    if (!imported) {
        FUZZ_CHECK(!reason.isEmpty(), "a refused import says why");
        FUZZ_CHECK(userEntries(after) == storedBefore, "a refused import changed the list");
        return 0;
    }
    FUZZ_CHECK(added >= 0 && skipped >= 0, "counts reported");
    FUZZ_CHECK(userEntries(after) == (append ? storedBefore : 0) + added, "stored what was reported");
    for (const ServerConfig &config : after)
        FUZZ_CHECK(config.isValid(), "an invalid entry was stored: " + config.name);
    return 0;
}
