// SPDX-License-Identifier: Apache-2.0
// The client file being written for an arbitrary server entry and local port. It must parse as TOML
// and carry exactly the entry's address, port and token as values: no input may add a key, a table
// or a proxy.
#include "core/frpcclienttext.h"
#include "core/proxyname.h"
#include "core/tunneladdress.h"
#include "fuzzsupport.h"

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <set>
#include <string>

namespace {

std::set<std::string> keysOf(const toml::table &table)
{
    std::set<std::string> keys;
    for (const auto &[key, value] : table)
        keys.insert(std::string(key.str()));
    return keys;
}

std::string utf8(const QString &text)
{
    return text.toUtf8().toStdString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::Reader input(data, size);
    ServerConfig config;
    config.name = input.text();
    config.serverAddr = input.text();
    config.token = input.text();
    config.serverPort = input.number16() - 1000;
    config.webServerPort = input.number16();
    const int localPort = input.number16();
    const QString protocol = (input.byte() & 1) ? QStringLiteral("udp") : QStringLiteral("tcp");
    const QString proxyName
        = ProxyName::stableName(0x5eed, config.serverAddr, config.serverPort, localPort, protocol);
    const FrpcClientText::WebCredentials credentials { QString::fromLatin1(input.piece(16).toHex()),
                                                       QString::fromLatin1(input.piece(16).toHex()) };

    const std::string text
        = utf8(FrpcClientText::configFile(config, localPort, proxyName, credentials, protocol));
    toml::parse_result parsed = toml::parse(text);
    FUZZ_CHECK(parsed.succeeded(),
               QString::fromUtf8(text.c_str()) + QStringLiteral("\n")
                   + QString::fromUtf8(std::string(parsed.error().description()).c_str()));
    const toml::table &file = parsed.table();

    FUZZ_CHECK((keysOf(file)
                == std::set<std::string> { "serverAddr", "serverPort", "transport", "auth", "webServer",
                                           "proxies" }),
               "top-level keys");
    // The address as the client must get it: blanks around it and the brackets of an IPv6 literal
    // left out (the client adds its own), nothing else changed.
    FUZZ_CHECK(file["serverAddr"].value<std::string>() == utf8(TunnelAddress::bareHost(config.serverAddr)),
               "serverAddr");
    FUZZ_CHECK(file["serverPort"].value<int64_t>() == config.serverPort, "serverPort");
    const toml::table *auth = file["auth"].as_table();
    FUZZ_CHECK(auth && (keysOf(*auth) == std::set<std::string> { "method", "token" }), "auth keys");
    FUZZ_CHECK((*auth)["token"].value<std::string>() == utf8(config.token), "token");
    const toml::table *transport = file["transport"].as_table();
    FUZZ_CHECK(
        transport
            && (keysOf(*transport) == std::set<std::string> { "heartbeatInterval", "heartbeatTimeout" }),
        "transport keys");
    const toml::table *web = file["webServer"].as_table();
    FUZZ_CHECK(web && (keysOf(*web) == std::set<std::string> { "addr", "port", "user", "password" }),
               "webServer keys");
    FUZZ_CHECK((*web)["port"].value<int64_t>() == config.webServerPort, "webServer.port");
    FUZZ_CHECK((*web)["password"].value<std::string>() == utf8(credentials.password), "webServer.password");
    const toml::array *proxies = file["proxies"].as_array();
    FUZZ_CHECK(proxies && proxies->size() == 1 && proxies->front().is_table(), "one proxy");
    const toml::table &proxy = *proxies->front().as_table();
    FUZZ_CHECK(
        (keysOf(proxy) == std::set<std::string> { "name", "type", "localIP", "localPort", "remotePort" }),
        "proxy keys");
    FUZZ_CHECK(proxy["name"].value<std::string>() == utf8(proxyName), "proxy name");
    FUZZ_CHECK(proxy["type"].value<std::string>() == utf8(protocol), "proxy type");
    FUZZ_CHECK(proxy["localPort"].value<int64_t>() == localPort, "localPort");
    return 0;
}
