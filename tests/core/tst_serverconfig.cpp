// SPDX-License-Identifier: Apache-2.0
#include "core/serverconfig.h"
#include "coretestsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

// The store is a process-wide singleton that loads once, so every scenario that reads or changes it
// runs in a child copy of this executable (a fresh process is a restart of the program). The child
// receives a list of operations as JSON, applies them in order and prints one result per operation.

namespace {

const char SCENARIO_ARGUMENT[] = "--store-scenario";
const QString BUILT_IN_NAME = QStringLiteral("HalvornMarrowgate服务器");
const QString MARKER = QStringLiteral("; untouched since seeding");

QJsonObject toJson(const ServerConfig &config)
{
    return QJsonObject { { QStringLiteral("name"), config.name },
                         { QStringLiteral("serverAddr"), config.serverAddr },
                         { QStringLiteral("serverPort"), config.serverPort },
                         { QStringLiteral("token"), config.token },
                         { QStringLiteral("webServerPort"), config.webServerPort },
                         { QStringLiteral("isBuiltIn"), config.isBuiltIn } };
}

ServerConfig fromJson(const QJsonObject &object)
{
    ServerConfig config;
    config.name = object.value(QStringLiteral("name")).toString();
    config.serverAddr = object.value(QStringLiteral("serverAddr")).toString();
    config.serverPort = object.value(QStringLiteral("serverPort")).toInt(7000);
    config.token = object.value(QStringLiteral("token")).toString();
    config.webServerPort = object.value(QStringLiteral("webServerPort")).toInt(7400);
    config.isBuiltIn = object.value(QStringLiteral("isBuiltIn")).toBool();
    return config;
}

QString settingsFilePath()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Halvorn/Quorvane.conf");
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the child reports for a "snapshot": the list in memory and the settings file as stored.
QJsonObject snapshot(const ServerConfigManager &store)
{
    QJsonArray configs;
    for (const ServerConfig &config : store.getConfigs())
        configs.append(toJson(config));
    QJsonObject stored;
    QSettings settings;
    for (const QString &key : settings.allKeys())
        stored.insert(key, settings.value(key).toString());
    return QJsonObject { { QStringLiteral("configs"), configs },
                         { QStringLiteral("currentIndex"), store.getCurrentIndex() },
                         { QStringLiteral("currentConfig"), toJson(store.getCurrentConfig()) },
                         { QStringLiteral("lastLocalPort"), store.getLastLocalPort() },
                         { QStringLiteral("lastServer"), store.getLastServer() },
                         { QStringLiteral("lastProtocol"), store.getLastProtocol() },
                         { QStringLiteral("lastPrivate"), store.getLastPrivate() },
                         { QStringLiteral("fileExists"), QFile::exists(settingsFilePath()) },
                         { QStringLiteral("file"), QString::fromUtf8(readFile(settingsFilePath())) },
                         { QStringLiteral("settings"), stored } };
}

int runStoreScenario(const QByteArray &opsText)
{
    ServerConfigManager &store = ServerConfigManager::instance();
    QJsonArray results;
    for (const QJsonValue &value : QJsonDocument::fromJson(opsText).array()) {
        const QJsonObject op = value.toObject();
        const QString name = op.value(QStringLiteral("op")).toString();
        const int index = op.value(QStringLiteral("index")).toInt();
        const ServerConfig config = fromJson(op.value(QStringLiteral("config")).toObject());
        const QString path = op.value(QStringLiteral("path")).toString();
        QJsonValue result;
        if (name == QLatin1String("snapshot"))
            result = snapshot(store);
        else if (name == QLatin1String("add"))
            store.addConfig(config);
        else if (name == QLatin1String("update"))
            store.updateConfig(index, config);
        else if (name == QLatin1String("remove"))
            store.removeConfig(index);
        else if (name == QLatin1String("setCurrent"))
            store.setCurrentIndex(index);
        else if (name == QLatin1String("setLastLocalPort"))
            store.setLastLocalPort(op.value(QStringLiteral("port")).toInt());
        else if (name == QLatin1String("remember"))
            store.rememberConnection(
                op.value(QStringLiteral("name")).toString(),
                { op.value(QStringLiteral("port")).toInt(),
                  Tunnel::protocolFromName(op.value(QStringLiteral("protocol")).toString()),
                  op.value(QStringLiteral("private")).toBool() });
        else if (name == QLatin1String("writeDeferred"))
            store.writeDeferred();
        else if (name == QLatin1String("setLastServer"))
            store.setLastServer(op.value(QStringLiteral("name")).toString());
        else if (name == QLatin1String("load"))
            store.loadConfigs();
        else if (name == QLatin1String("save"))
            store.saveConfigs();
        else if (name == QLatin1String("export"))
            result = store.exportToFile(path);
        else if (name == QLatin1String("import"))
            result = store.importFromFile(path, op.value(QStringLiteral("append")).toBool());
        else
            return 2;
        results.append(result);
    }
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return 3;
    out.write(QJsonDocument(results).toJson(QJsonDocument::Compact));
    return 0;
}

QJsonObject op(const QString &name, const QJsonObject &arguments = {})
{
    QJsonObject object = arguments;
    object.insert(QStringLiteral("op"), name);
    return object;
}

QJsonObject userConfig(const QString &name, int port = 7001)
{
    return QJsonObject { { QStringLiteral("name"), name },
                         { QStringLiteral("serverAddr"), name.toLower() + QStringLiteral(".example.org") },
                         { QStringLiteral("serverPort"), port },
                         { QStringLiteral("token"), QStringLiteral("token-") + name },
                         { QStringLiteral("webServerPort"), port + 400 },
                         { QStringLiteral("isBuiltIn"), false } };
}

// Settings text with the given user entries, as a previous run would have stored them, plus a
// comment line that any rewrite of the file drops.
QByteArray seedText(const QStringList &names, int currentIndex = 0, const QByteArray &extra = {})
{
    QByteArray text = "[General]\ncurrentIndex=" + QByteArray::number(currentIndex)
        + "\nlastLocalPort=12345\n" + MARKER.toUtf8() + "\n\n[servers]\n";
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray n = QByteArray::number(i + 1) + '\\';
        const QByteArray name = names.at(i).toUtf8();
        text += n + "name=" + name + '\n' + n + "serverAddr=" + name.toLower() + ".example.org\n" + n
            + "serverPort=7001\n" + n + "token=token-" + name + '\n' + n + "webServerPort=7401\n";
    }
    return text + extra + "size=" + QByteArray::number(names.size()) + '\n';
}

QStringList names(const QJsonObject &snapshot)
{
    QStringList result;
    for (const QJsonValue &config : snapshot.value(QStringLiteral("configs")).toArray())
        result.append(config.toObject().value(QStringLiteral("name")).toString());
    return result;
}

QJsonObject configAt(const QJsonObject &snapshot, int index)
{
    return snapshot.value(QStringLiteral("configs")).toArray().at(index).toObject();
}

QJsonObject storedKeys(const QJsonObject &snapshot)
{
    return snapshot.value(QStringLiteral("settings")).toObject();
}

} // namespace

class TestServerConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void recordValidity_data();
    void recordValidity();

    void firstStartHoldsOnlyTheBuiltInEntry();
    void entriesSurviveRestartInOrder();
    void removalLeavesNoStaleElements();
    void storedValuesAreReadAsTheyAre();
    void currentIndexAfterRemoval_data();
    void currentIndexAfterRemoval();
    void currentIndexAndCurrentConfig();
    void outOfRangeCallsDoNotWrite_data();
    void outOfRangeCallsDoNotWrite();
    void connectionKeptBeforeWritten_data();
    void connectionKeptBeforeWritten();
    void secondLoadDoesNotDuplicate();
    void forgedSizeIsBounded();

    void exportWritesTheWholeList();
    void exportToAnUnwritablePathFails_data();
    void exportToAnUnwritablePathFails();
    void importedExportBecomesUserEntries();
    void rejectedImportChangesNothing_data();
    void rejectedImportChangesNothing();
    void importReadsMembers_data();
    void importReadsMembers();
    void replacingImportDropsBuiltInUntilRestart();
    void privateSharesKeptOwnerOnly();

private:
    QJsonArray run(const QJsonArray &ops);
    QJsonObject runSnapshot(QJsonArray ops = {});
    void seed(const QByteArray &text);
    QString writeSandboxFile(const QString &name, const QByteArray &text);
};

QJsonArray TestServerConfig::run(const QJsonArray &ops)
{
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({ QString::fromLatin1(SCENARIO_ARGUMENT),
                         QString::fromUtf8(QJsonDocument(ops).toJson(QJsonDocument::Compact)) });
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start();
    if (!child.waitForFinished(30000) || child.exitStatus() != QProcess::NormalExit
        || child.exitCode() != 0) {
        qWarning("store scenario failed (exit code %d)", child.exitCode());
        return {};
    }
    return QJsonDocument::fromJson(child.readAllStandardOutput()).array();
}

// Runs the operations in a fresh process and returns the state after them.
QJsonObject TestServerConfig::runSnapshot(QJsonArray ops)
{
    ops.append(op(QStringLiteral("snapshot")));
    const QJsonArray results = run(ops);
    return results.isEmpty() ? QJsonObject() : results.last().toObject();
}

void TestServerConfig::seed(const QByteArray &text)
{
    QDir().mkpath(QFileInfo(settingsFilePath()).path());
    QFile file(settingsFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QString TestServerConfig::writeSandboxFile(const QString &name, const QByteArray &text)
{
    const QString path = TestSupport::sandboxPath() + QLatin1Char('/') + name;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text);
    return path;
}

void TestServerConfig::init()
{
    QFile::remove(settingsFilePath());
}

void TestServerConfig::recordValidity_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("serverAddr");
    QTest::addColumn<QString>("token");
    QTest::addColumn<int>("serverPort");
    QTest::addColumn<int>("webServerPort");
    QTest::addColumn<bool>("valid");

    const QString n = QStringLiteral("n"), a = QStringLiteral("a"), t = QStringLiteral("t");
    QTest::newRow("complete") << n << a << t << 7000 << 7400 << true;
    QTest::newRow("single blanks count as text") << " "
                                                 << " "
                                                 << " " << 7000 << 7400 << true;
    QTest::newRow("lowest ports") << n << a << t << 1 << 1 << true;
    QTest::newRow("highest ports") << n << a << t << 65535 << 65535 << true;
    QTest::newRow("no name") << QString() << a << t << 7000 << 7400 << false;
    QTest::newRow("no address") << n << QString() << t << 7000 << 7400 << false;
    QTest::newRow("no token") << n << a << QString() << 7000 << 7400 << false;
    QTest::newRow("server port 0") << n << a << t << 0 << 7400 << false;
    QTest::newRow("server port negative") << n << a << t << -1 << 7400 << false;
    QTest::newRow("server port 65536") << n << a << t << 65536 << 7400 << false;
    QTest::newRow("web port 0") << n << a << t << 7000 << 0 << false;
    QTest::newRow("web port negative") << n << a << t << 7000 << -7400 << false;
    QTest::newRow("web port 65536") << n << a << t << 7000 << 65536 << false;
}

void TestServerConfig::recordValidity()
{
    QFETCH(QString, name);
    QFETCH(QString, serverAddr);
    QFETCH(QString, token);
    QFETCH(int, serverPort);
    QFETCH(int, webServerPort);
    QFETCH(bool, valid);

    ServerConfig config;
    QVERIFY(!config.isValid());
    QCOMPARE(config.serverPort, 7000);
    QCOMPARE(config.webServerPort, 7400);
    QCOMPARE(config.isBuiltIn, false);

    config.name = name;
    config.serverAddr = serverAddr;
    config.token = token;
    config.serverPort = serverPort;
    config.webServerPort = webServerPort;
    QCOMPARE(config.isValid(), valid);

    // Storing and exporting go through the key/value form, which leaves out only the built-in mark.
    config.isBuiltIn = true;
    QJsonObject expected = toJson(config);
    expected.insert(QStringLiteral("isBuiltIn"), false);
    QCOMPARE(toJson(ServerConfig::fromVariantMap(config.toVariantMap())), expected);
}

void TestServerConfig::firstStartHoldsOnlyTheBuiltInEntry()
{
    const QJsonArray results
        = run({ op(QStringLiteral("snapshot")), op(QStringLiteral("save")), op(QStringLiteral("snapshot")) });
    QCOMPARE(results.size(), 3);
    const QJsonObject loaded = results.at(0).toObject();
    QVERIFY2(!loaded.value(QStringLiteral("fileExists")).toBool(), "loading must not write the store");
    QCOMPARE(names(loaded), QStringList { BUILT_IN_NAME });
    const ServerConfig builtIn = fromJson(configAt(loaded, 0));
    QVERIFY(builtIn.isBuiltIn);
    QVERIFY(builtIn.isValid());
    QCOMPARE(QHostAddress(builtIn.serverAddr).protocol(), QAbstractSocket::IPv4Protocol);
    QCOMPARE(builtIn.serverPort, 7000);
    QCOMPARE(builtIn.token, QStringLiteral("tQenvobRxaL"));
    QCOMPARE(builtIn.webServerPort, 7500);
    QCOMPARE(loaded.value(QStringLiteral("currentIndex")).toInt(), 0);
    QCOMPARE(loaded.value(QStringLiteral("lastLocalPort")).toInt(), 12345);

    const QJsonObject expected { { QStringLiteral("currentIndex"), QStringLiteral("0") },
                                 { QStringLiteral("lastLocalPort"), QStringLiteral("12345") },
                                 { QStringLiteral("servers/size"), QStringLiteral("0") } };
    QCOMPARE(storedKeys(results.at(2).toObject()), expected);

    // The built-in entry is rebuilt at every start and never stored.
    const QJsonObject restarted = runSnapshot();
    QCOMPARE(names(restarted), QStringList { BUILT_IN_NAME });
    QCOMPARE(storedKeys(restarted), expected);
}

void TestServerConfig::entriesSurviveRestartInOrder()
{
    QJsonObject first = userConfig(QStringLiteral("东京节点"), 7100);
    first.insert(QStringLiteral("token"), QStringLiteral("p@ss=word;#\\ \"quoted\""));
    const QJsonObject second = userConfig(BUILT_IN_NAME, 7200);
    run({ op(QStringLiteral("add"), { { QStringLiteral("config"), first } }),
          op(QStringLiteral("add"), { { QStringLiteral("config"), second } }),
          op(QStringLiteral("setLastLocalPort"), { { QStringLiteral("port"), 23456 } }) });
    QVERIFY(QFile::exists(settingsFilePath()));

    const QJsonObject restarted = runSnapshot();
    QCOMPARE(names(restarted),
             (QStringList { BUILT_IN_NAME, first.value(QStringLiteral("name")).toString(), BUILT_IN_NAME }));
    QVERIFY(configAt(restarted, 0).value(QStringLiteral("isBuiltIn")).toBool());
    // A stored entry named like the built-in one is an ordinary user entry.
    QCOMPARE(configAt(restarted, 1), first);
    QCOMPARE(configAt(restarted, 2), second);
    QCOMPARE(restarted.value(QStringLiteral("lastLocalPort")).toInt(), 23456);

    QJsonObject expected { { QStringLiteral("currentIndex"), QStringLiteral("0") },
                           { QStringLiteral("lastLocalPort"), QStringLiteral("23456") },
                           { QStringLiteral("servers/size"), QStringLiteral("2") } };
    const QJsonObject entries[] = { first, second };
    for (int n = 1; n <= 2; ++n) {
        const QJsonObject &entry = entries[n - 1];
        const QString prefix = QStringLiteral("servers/%1/").arg(n);
        for (const char *key : { "name", "serverAddr", "token" })
            expected.insert(prefix + QLatin1String(key), entry.value(QLatin1String(key)));
        for (const char *key : { "serverPort", "webServerPort" })
            expected.insert(prefix + QLatin1String(key),
                            QString::number(entry.value(QLatin1String(key)).toInt()));
    }
    QCOMPARE(storedKeys(restarted), expected);
}

void TestServerConfig::removalLeavesNoStaleElements()
{
    seed(seedText({ QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma") }));
    const QJsonObject removed
        = runSnapshot({ op(QStringLiteral("remove"), { { QStringLiteral("index"), 1 } }) });
    QCOMPARE(names(removed),
             (QStringList { BUILT_IN_NAME, QStringLiteral("Beta"), QStringLiteral("Gamma") }));

    const QJsonObject stored = storedKeys(removed);
    QCOMPARE(stored.value(QStringLiteral("servers/size")).toString(), QStringLiteral("2"));
    QCOMPARE(stored.value(QStringLiteral("servers/1/name")).toString(), QStringLiteral("Beta"));
    QCOMPARE(stored.value(QStringLiteral("servers/2/name")).toString(), QStringLiteral("Gamma"));
    // The removed entry's token must not stay behind in the file.
    for (const QString &key : stored.keys())
        QVERIFY2(!key.startsWith(QLatin1String("servers/3/")), qPrintable(key));
    QVERIFY(!removed.value(QStringLiteral("file")).toString().contains(QLatin1String("token-Alpha")));

    QCOMPARE(names(runSnapshot()), names(removed));
}

void TestServerConfig::storedValuesAreReadAsTheyAre()
{
    seed("[General]\ncurrentIndex=9\nlastLocalPort=70000\n\n[servers]\n"
         "1\\name=NoPorts\n1\\serverAddr=a.example.org\n1\\token=t\n"
         "2\\name=\n2\\serverPort=abc\n2\\webServerPort=7401\n"
         "3\\name=NotLoaded\nsize=2\n");
    const QJsonObject loaded = runSnapshot();
    QCOMPARE(names(loaded), (QStringList { BUILT_IN_NAME, QStringLiteral("NoPorts"), QString() }));
    QCOMPARE(configAt(loaded, 1).value(QStringLiteral("serverPort")).toInt(), 7000);
    QCOMPARE(configAt(loaded, 1).value(QStringLiteral("webServerPort")).toInt(), 7400);
    QCOMPARE(configAt(loaded, 1).value(QStringLiteral("isBuiltIn")).toBool(), false);
    // Not a number: read as 0, kept as it is; the entry is refused only when connecting.
    QCOMPARE(configAt(loaded, 2).value(QStringLiteral("serverPort")).toInt(), 0);
    QCOMPARE(configAt(loaded, 2).value(QStringLiteral("webServerPort")).toInt(), 7401);
    QCOMPARE(loaded.value(QStringLiteral("currentIndex")).toInt(), 9);
    QCOMPARE(loaded.value(QStringLiteral("lastLocalPort")).toInt(), 70000);
    QCOMPARE(fromJson(loaded.value(QStringLiteral("currentConfig")).toObject()).name, QString());
}

void TestServerConfig::currentIndexAfterRemoval_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("expected");

    QTest::newRow("last of five current, first removed") << 5 << 4 << 0 << 3;
    QTest::newRow("last of five current, middle removed") << 5 << 4 << 2 << 3;
    QTest::newRow("last of five current and removed") << 5 << 4 << 4 << 3;
    QTest::newRow("earlier removal does not shift") << 5 << 2 << 0 << 2;
    QTest::newRow("only entry removed") << 1 << 0 << 0 << 0;
}

void TestServerConfig::currentIndexAfterRemoval()
{
    QFETCH(int, entries);
    QFETCH(int, current);
    QFETCH(int, removed);
    QFETCH(int, expected);

    QStringList users;
    for (int i = 1; i < entries; ++i)
        users.append(QStringLiteral("User%1").arg(i));
    seed(seedText(users, current));

    const QJsonObject after
        = runSnapshot({ op(QStringLiteral("remove"), { { QStringLiteral("index"), removed } }) });
    QCOMPARE(names(after).size(), entries - 1);
    QCOMPARE(after.value(QStringLiteral("currentIndex")).toInt(), expected);
    QCOMPARE(storedKeys(after).value(QStringLiteral("currentIndex")).toString(), QString::number(expected));
}

void TestServerConfig::currentIndexAndCurrentConfig()
{
    seed(seedText({ QStringLiteral("Alpha"), QStringLiteral("Beta") }));
    const QJsonObject chosen
        = runSnapshot({ op(QStringLiteral("setCurrent"), { { QStringLiteral("index"), 2 } }) });
    QCOMPARE(chosen.value(QStringLiteral("currentIndex")).toInt(), 2);
    QCOMPARE(fromJson(chosen.value(QStringLiteral("currentConfig")).toObject()).name, QStringLiteral("Beta"));

    const QJsonObject restarted = runSnapshot();
    QCOMPARE(restarted.value(QStringLiteral("currentIndex")).toInt(), 2);
    QCOMPARE(fromJson(restarted.value(QStringLiteral("currentConfig")).toObject()).token,
             QStringLiteral("token-Beta"));
}

void TestServerConfig::outOfRangeCallsDoNotWrite_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("writes");

    // The seeded list holds the built-in entry and one user entry: size 2.
    QTest::newRow("update -1") << "update" << -1 << false;
    QTest::newRow("update at size") << "update" << 2 << false;
    QTest::newRow("remove -1") << "remove" << -1 << false;
    QTest::newRow("remove at size") << "remove" << 2 << false;
    QTest::newRow("set current -1") << "setCurrent" << -1 << false;
    QTest::newRow("set current at size") << "setCurrent" << 2 << false;
    QTest::newRow("update in range") << "update" << 1 << true;
    QTest::newRow("set current in range") << "setCurrent" << 1 << true;
}

void TestServerConfig::outOfRangeCallsDoNotWrite()
{
    QFETCH(QString, operation);
    QFETCH(int, index);
    QFETCH(bool, writes);

    seed(seedText({ QStringLiteral("Alpha") }));
    const QJsonObject after
        = runSnapshot({ op(operation,
                           { { QStringLiteral("index"), index },
                             { QStringLiteral("config"), userConfig(QStringLiteral("Other")) } }) });
    QCOMPARE(after.value(QStringLiteral("file")).toString().contains(MARKER), !writes);
    if (!writes) {
        QCOMPARE(names(after), (QStringList { BUILT_IN_NAME, QStringLiteral("Alpha") }));
        QCOMPARE(after.value(QStringLiteral("currentIndex")).toInt(), 0);
    }
}

void TestServerConfig::connectionKeptBeforeWritten_data()
{
    QTest::addColumn<QStringList>("then");
    // What the getters return afterwards, and what the file holds ("" when it was not rewritten).
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("stored");

    QTest::newRow("not written yet") << QStringList() << "Alpha" << 23456 << "";
    QTest::newRow("written on request") << QStringList { "writeDeferred" } << "Alpha" << 23456 << "Alpha";
    QTest::newRow("written with the list") << QStringList { "save" } << "Alpha" << 23456 << "Alpha";
    // The tunnel ended before the write: the name cleared at once stays cleared.
    QTest::newRow("cleared before the write")
        << QStringList { "setLastServer", "writeDeferred" } << "" << 23456 << "-";
    QTest::newRow("loading takes the file as it is")
        << QStringList { "load", "writeDeferred" } << "" << 12345 << "";
}

// A click on "连接" keeps the server, port, protocol and private mark at once and writes them later; a later change
// is never undone by that write.
void TestServerConfig::connectionKeptBeforeWritten()
{
    QFETCH(QStringList, then);
    QFETCH(QString, server);
    QFETCH(int, port);
    QFETCH(QString, stored);

    seed(seedText({ QStringLiteral("Alpha") }));
    QJsonArray ops { op(QStringLiteral("remember"),
                        { { QStringLiteral("name"), QStringLiteral("Alpha") },
                          { QStringLiteral("port"), 23456 },
                          { QStringLiteral("protocol"), QStringLiteral("udp") },
                          { QStringLiteral("private"), true } }) };
    for (const QString &name : then)
        ops.append(op(name));
    const QJsonObject after = runSnapshot(ops);
    QCOMPARE(after.value(QStringLiteral("lastServer")).toString(), server);
    QCOMPARE(after.value(QStringLiteral("lastLocalPort")).toInt(), port);
    QCOMPARE(after.value(QStringLiteral("lastProtocol")).toString(),
             server.isEmpty() && port == 12345 ? QStringLiteral("tcp") : QStringLiteral("udp"));
    QCOMPARE(after.value(QStringLiteral("lastPrivate")).toBool(), !server.isEmpty() || port != 12345);
    const QJsonObject settings = after.value(QStringLiteral("settings")).toObject();
    if (stored.isEmpty()) {
        QVERIFY(after.value(QStringLiteral("file")).toString().contains(MARKER));
    } else {
        QCOMPARE(settings.value(QStringLiteral("lastServer")).toString(), stored == "-" ? QString() : stored);
        QCOMPARE(settings.value(QStringLiteral("lastLocalPort")).toString().toInt(), port);
    }
}

void TestServerConfig::secondLoadDoesNotDuplicate()
{
    seed(seedText({ QStringLiteral("Alpha") }));
    const QJsonObject reloaded = runSnapshot({ op(QStringLiteral("load")) });
    QCOMPARE(names(reloaded), (QStringList { BUILT_IN_NAME, QStringLiteral("Alpha") }));
}

void TestServerConfig::forgedSizeIsBounded()
{
    // A forged size must neither hang the start nor lose the entries really stored.
    seed("[servers]\n1\\name=Alpha\nsize=2147483647\n");
    const QStringList loaded = names(runSnapshot());
    QCOMPARE(loaded.size(), 1 + ServerConfigManager::MAX_STORED_SERVERS);
    QCOMPARE(loaded.at(1), QStringLiteral("Alpha"));
}

void TestServerConfig::exportWritesTheWholeList()
{
    const QString path = TestSupport::sandboxPath() + QStringLiteral("/export.json");
    writeSandboxFile(QStringLiteral("export.json"), "old content that is much longer than nothing");
    const QJsonArray results = run({ op(QStringLiteral("export"), { { QStringLiteral("path"), path } }) });
    QCOMPARE(results, QJsonArray { true });

    const QByteArray text = readFile(path);
    const QJsonArray exported = QJsonDocument::fromJson(text).array();
    QCOMPARE(exported.size(), 1);
    const QJsonObject builtIn = exported.at(0).toObject();
    QCOMPARE(
        builtIn.keys(),
        (QStringList { QStringLiteral("name"), QStringLiteral("serverAddr"), QStringLiteral("serverPort"),
                       QStringLiteral("token"), QStringLiteral("webServerPort") }));
    QCOMPARE(builtIn.value(QStringLiteral("name")).toString(), BUILT_IN_NAME);
    QCOMPARE(builtIn.value(QStringLiteral("token")).toString(), QStringLiteral("tQenvobRxaL"));
    QVERIFY(builtIn.value(QStringLiteral("serverPort")).isDouble());
    QCOMPARE(builtIn.value(QStringLiteral("webServerPort")).toInt(), 7500);
    // Indented form: one member per line, four spaces per level, members in key order.
    QVERIFY2(text.contains("[\n    {\n        \"name\": "), text.constData());
    QVERIFY(text.indexOf("\"serverPort\"") < text.indexOf("\"webServerPort\""));
}

void TestServerConfig::exportToAnUnwritablePathFails_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("missing folder") << "no such folder/export.json";
    QTest::newRow("path is a folder") << "config";
}

void TestServerConfig::exportToAnUnwritablePathFails()
{
    QFETCH(QString, relativePath);
    const QString path = TestSupport::sandboxPath() + QLatin1Char('/') + relativePath;
    QCOMPARE(run({ op(QStringLiteral("export"), { { QStringLiteral("path"), path } }) }),
             QJsonArray { false });
    QVERIFY(!QFileInfo(path).isFile());
}

void TestServerConfig::importedExportBecomesUserEntries()
{
    const QString path = TestSupport::sandboxPath() + QStringLiteral("/roundtrip.json");
    const QJsonObject exporting { { QStringLiteral("path"), path } };
    const QJsonObject appending { { QStringLiteral("path"), path }, { QStringLiteral("append"), true } };
    const QJsonArray results
        = run({ op(QStringLiteral("export"), exporting), op(QStringLiteral("import"), appending),
                op(QStringLiteral("snapshot")), op(QStringLiteral("import"), appending),
                op(QStringLiteral("snapshot")) });
    QCOMPARE(results.size(), 5);
    QCOMPARE(results.at(1).toBool(), true);
    const QJsonObject once = results.at(2).toObject();
    QCOMPARE(names(once), (QStringList { BUILT_IN_NAME, BUILT_IN_NAME }));
    QJsonObject copy = configAt(once, 0);
    copy.insert(QStringLiteral("isBuiltIn"), false);
    QCOMPARE(configAt(once, 1), copy);
    QCOMPARE(storedKeys(once).value(QStringLiteral("servers/1/webServerPort")).toString(),
             QStringLiteral("7500"));

    // The same file again doubles its entries; no duplicate check.
    QCOMPARE(results.at(3).toBool(), true);
    QCOMPARE(names(results.at(4).toObject()).size(), 3);

    const QJsonObject restarted = runSnapshot();
    QCOMPARE(names(restarted).size(), 3);
    QCOMPARE(configAt(restarted, 1), copy);
    QCOMPARE(configAt(restarted, 2), copy);
}

void TestServerConfig::rejectedImportChangesNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");

    QTest::newRow("empty array") << QByteArray("[]") << true;
    QTest::newRow("object") << QByteArray("{}") << true;
    QTest::newRow("not JSON") << QByteArray("name=Alpha") << true;
    QTest::newRow("empty file") << QByteArray() << true;
    QTest::newRow("null") << QByteArray("null") << true;
    QTest::newRow("string") << QByteArray("\"[]\"") << true;
    QTest::newRow("cut off array") << QByteArray("[{\"name\": \"x\", \"serverAddr\": \"a\"") << true;
    QTest::newRow("array followed by text") << QByteArray("[{\"name\": \"x\"}] trailing") << true;
    QTest::newRow("missing file") << QByteArray() << false;
    QByteArray large
        = "[" + QByteArray(1024 * 1024, ' ') + R"({"name": "x", "serverAddr": "a", "token": "t"}])";
    QTest::newRow("over 1 MiB") << large << true;
    QByteArray many = "[";
    for (int i = 0; i <= ServerConfigManager::MAX_STORED_SERVERS; ++i)
        many += R"({"name": "x", "serverAddr": "a", "token": "t"},)";
    many.back() = ']';
    QTest::newRow("more servers than the store keeps") << many << true;
}

void TestServerConfig::rejectedImportChangesNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);

    QString path = TestSupport::sandboxPath() + QStringLiteral("/missing.json");
    if (exists)
        path = writeSandboxFile(QStringLiteral("import.json"), content);

    for (const bool append : { false, true }) {
        // Seeded again each time: the store saves itself when the child process exits.
        seed(seedText({ QStringLiteral("Alpha") }, 1));
        const QJsonArray results
            = run({ op(QStringLiteral("import"),
                       { { QStringLiteral("path"), path }, { QStringLiteral("append"), append } }),
                    op(QStringLiteral("snapshot")) });
        QCOMPARE(results.size(), 2);
        QCOMPARE(results.at(0).toBool(), false);
        const QJsonObject after = results.at(1).toObject();
        QCOMPARE(names(after), (QStringList { BUILT_IN_NAME, QStringLiteral("Alpha") }));
        QCOMPARE(after.value(QStringLiteral("currentIndex")).toInt(), 1);
        QVERIFY2(after.value(QStringLiteral("file")).toString().contains(MARKER), "the store was rewritten");
    }
}

void TestServerConfig::importReadsMembers_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("serverPort");
    QTest::addColumn<int>("webServerPort");

    // Each element is completed with name, address and token unless it names them itself.
    QTest::newRow("whole numbers") << QByteArray("\"serverPort\": 8000, \"webServerPort\": 8400") << true
                                   << 8000 << 8400;
    QTest::newRow("missing ports") << QByteArray() << true << 7000 << 7400;
    QTest::newRow("port as string") << QByteArray("\"serverPort\": \"8000\", \"webServerPort\": \"8400\"")
                                    << true << 7000 << 7400;
    QTest::newRow("fraction") << QByteArray("\"serverPort\": 7000.5, \"webServerPort\": 8400.25") << true
                              << 7000 << 7400;
    QTest::newRow("whole number with exponent")
        << QByteArray("\"serverPort\": 8e3, \"webServerPort\": 8400.0") << true << 8000 << 8400;
    QTest::newRow("beyond 32 bits") << QByteArray(
        "\"serverPort\": 4294975296, \"webServerPort\": -4294959296")
                                    << true << 7000 << 7400;
    QTest::newRow("boolean and null")
        << QByteArray("\"serverPort\": true, \"webServerPort\": null") << true << 7000 << 7400;
    QTest::newRow("port above 65535") << QByteArray("\"serverPort\": 70000") << false << 0 << 0;
    QTest::newRow("port 0") << QByteArray("\"webServerPort\": 0") << false << 0 << 0;
    QTest::newRow("negative port") << QByteArray("\"serverPort\": -1") << false << 0 << 0;
    QTest::newRow("no token") << QByteArray("\"token\": \"\"") << false << 0 << 0;
    QTest::newRow("token not a string") << QByteArray("\"token\": 12345") << false << 0 << 0;
    QTest::newRow("name not a string") << QByteArray("\"name\": [\"x\"]") << false << 0 << 0;
    QTest::newRow("blank texts") << QByteArray("\"name\": \" \", \"serverAddr\": \" \", \"token\": \" \"")
                                 << true << 7000 << 7400;
    QTest::newRow("other members ignored")
        << QByteArray("\"isBuiltIn\": true, \"remark\": 1") << true << 7000 << 7400;
    QTest::newRow("not an object") << QByteArray("!42") << false << 0 << 0;
}

void TestServerConfig::importReadsMembers()
{
    QFETCH(QByteArray, element);
    QFETCH(bool, accepted);
    QFETCH(int, serverPort);
    QFETCH(int, webServerPort);

    QJsonObject object { { QStringLiteral("name"), QStringLiteral("Imported") },
                         { QStringLiteral("serverAddr"), QStringLiteral("203.0.113.7") },
                         { QStringLiteral("token"), QStringLiteral("secret") } };
    QByteArray text = "[42]";
    if (!element.startsWith('!')) {
        const QJsonObject own = QJsonDocument::fromJson("{" + element + "}").object();
        QVERIFY2(element.isEmpty() || !own.isEmpty(), element.constData());
        for (auto it = own.begin(); it != own.end(); ++it)
            object.insert(it.key(), it.value());
        // Spliced as text so that numbers keep the form written in the row.
        text = QJsonDocument(QJsonArray { object }).toJson(QJsonDocument::Compact);
        if (!element.isEmpty())
            text.replace(text.size() - 2, 1, ", " + element + "}");
    }
    const QString path = writeSandboxFile(QStringLiteral("members.json"), text);

    const QJsonArray results
        = run({ op(QStringLiteral("import"),
                   { { QStringLiteral("path"), path }, { QStringLiteral("append"), true } }),
                op(QStringLiteral("snapshot")) });
    QCOMPARE(results.size(), 2);
    QCOMPARE(results.at(0).toBool(), true);
    const QJsonObject after = results.at(1).toObject();
    QCOMPARE(names(after).size(), accepted ? 2 : 1);
    QCOMPARE(storedKeys(after).value(QStringLiteral("servers/size")).toString(),
             QString::number(accepted ? 1 : 0));
    if (accepted) {
        const ServerConfig imported = fromJson(configAt(after, 1));
        QCOMPARE(imported.isBuiltIn, false);
        QCOMPARE(imported.serverPort, serverPort);
        QCOMPARE(imported.webServerPort, webServerPort);
    }
}

void TestServerConfig::replacingImportDropsBuiltInUntilRestart()
{
    seed(seedText({ QStringLiteral("Alpha") }, 1));
    const QString invalidOnly
        = writeSandboxFile(QStringLiteral("invalid.json"), R"([{"name": "x", "serverAddr": "a"}])");
    const QJsonObject emptied = runSnapshot(
        { op(QStringLiteral("import"),
             { { QStringLiteral("path"), invalidOnly }, { QStringLiteral("append"), false } }) });
    QCOMPARE(names(emptied), QStringList());
    QCOMPARE(emptied.value(QStringLiteral("currentIndex")).toInt(), 1);
    QCOMPARE(storedKeys(emptied).value(QStringLiteral("servers/size")).toString(), QStringLiteral("0"));
    QVERIFY(!emptied.value(QStringLiteral("file")).toString().contains(QLatin1String("Alpha")));
    QCOMPARE(names(runSnapshot()), QStringList { BUILT_IN_NAME });

    const QString twoServers
        = writeSandboxFile(QStringLiteral("two.json"),
                           R"([{"name": "East", "serverAddr": "e.example.org", "token": "e"},
            {"name": "West", "serverAddr": "w.example.org", "token": "w", "serverPort": 7100}])");
    const QJsonObject replaced = runSnapshot(
        { op(QStringLiteral("import"),
             { { QStringLiteral("path"), twoServers }, { QStringLiteral("append"), false } }) });
    QCOMPARE(names(replaced), (QStringList { QStringLiteral("East"), QStringLiteral("West") }));
    QCOMPARE(names(runSnapshot()),
             (QStringList { BUILT_IN_NAME, QStringLiteral("East"), QStringLiteral("West") }));
}

// A private tunnel's code stays valid until it is renewed; the file holding its secret is its owner's only.
void TestServerConfig::privateSharesKeptOwnerOnly()
{
    seed("[General]\nlastLocalPort=1\n\n[privateShares]\ndamaged=bad name!, short, \n");
    QFile::setPermissions(settingsFilePath(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                              | QFileDevice::ReadOther);
    ServerConfigManager &store = ServerConfigManager::instance();
    const ServerConfigManager::PrivateShare first = store.privateShare(QStringLiteral("k"));
    QCOMPARE(store.privateShare(QStringLiteral("k")).secretKey, first.secretKey);
    QCOMPARE(QFile::permissions(settingsFilePath()),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                 | QFileDevice::WriteUser);
    const ServerConfigManager::PrivateShare renewed = store.privateShare(QStringLiteral("k"), true);
    QVERIFY(renewed.secretKey != first.secretKey);
    QCOMPARE(renewed.name, first.name);
    // A name no code can carry leaves the code as it was.
    store.setPrivateShareLabel(QStringLiteral("k"), QStringLiteral("a\nb"));
    store.setPrivateShareLabel(QStringLiteral("k"), QStringLiteral("Minecraft"));
    const ServerConfigManager::PrivateShare labelled = store.privateShare(QStringLiteral("k"));
    QCOMPARE(labelled.label, QStringLiteral("Minecraft"));
    QCOMPARE(labelled.secretKey, renewed.secretKey);
    QVERIFY(store.privateShare(QStringLiteral("damaged")).name.startsWith(QLatin1String("share_")));
}

// Like MARROWGATE_TEST_MAIN, with one addition: the scenario mode used by the restarts above. A child
// inherits the parent's sandbox and refuses to run without one, so it never sees real settings.
int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], SCENARIO_ARGUMENT) == 0) {
        if (TestSupport::sandboxPath().isEmpty())
            return 4;
        QCoreApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Halvorn"));
        QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));
        return runStoreScenario(QCoreApplication::arguments().at(2).toUtf8());
    }

    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return 1;
    TestSupport::isolateUserFiles(sandbox.path());
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));
    TestServerConfig tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_serverconfig.moc"
