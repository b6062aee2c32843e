// SPDX-License-Identifier: Apache-2.0
// The settings file being read at start: the stored server list, the current entry and the last local
// port. Never more entries than the bound, the built-in entry first, and what was read is written
// back and read again unchanged.
#include "core/serverconfig.h"
#include "fuzzsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

bool sameEntries(const QList<ServerConfig> &a, const QList<ServerConfig> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).toVariantMap() != b.at(i).toVariantMap() || a.at(i).isBuiltIn != b.at(i).isBuiltIn)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // "@Variant(...)" values are the toolkit's own binary serialisation, decoded by QSettings before
    // the program sees a value: a forged element count there makes the toolkit allocate gigabytes.
    // That decoder is the toolkit's to fuzz; this target looks at what the program does with values.
    if (QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)).contains("@Variant("))
        return 0;
    FuzzSupport::isolateUserFiles();
    static const QString path = QSettings().fileName();
    QDir().mkpath(QFileInfo(path).path());
    FuzzSupport::writeFile(path, QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));

    ServerConfigManager &store = ServerConfigManager::instance();
    store.loadConfigs();
    const QList<ServerConfig> loaded = store.getConfigs();
    FUZZ_CHECK(!loaded.isEmpty() && loaded.first().isBuiltIn, "the built-in entry comes first");
    FUZZ_CHECK(loaded.size() <= 1 + ServerConfigManager::MAX_STORED_SERVERS, "more entries than the bound");
    for (qsizetype i = 1; i < loaded.size(); ++i)
        FUZZ_CHECK(!loaded.at(i).isBuiltIn, "a stored entry taken for the built-in one");
    // The current entry is read from any index the file holds, without harm.
    store.getCurrentConfig();

    // Written back and read again, the list is the same (checked on short lists: a long one takes long).
    if (loaded.size() > 100)
        return 0;
    store.saveConfigs();
    store.loadConfigs();
    FUZZ_CHECK(sameEntries(store.getConfigs(), loaded), "the list changed on its way through the store");
    return 0;
}
