// SPDX-License-Identifier: Apache-2.0
// A reply of the client's status API being read: the port, the status and the error of every proxy
// it names, each alone and all at once. The reply comes from a local port that another program may
// hold: a port taken from it is a number a server can assign (1-65535), or nothing.
#include "core/frpcclienttext.h"
#include "fuzzsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    // Every name the reply lists, and one it does not.
    QStringList names { QStringLiteral("tunnel_0") };
    const QJsonObject types = QJsonDocument::fromJson(body).object();
    for (auto type = types.begin(); type != types.end(); ++type) {
        for (const QJsonValue &proxy : type->toArray())
            names << proxy.toObject().value(QLatin1String("name")).toString();
    }
    // One reading serves every tunnel: it must tell of each proxy what a reading for it alone does.
    const FrpcClientText::AllProxyStatuses all = FrpcClientText::allProxyStatuses(body);
    for (const QString &name : std::as_const(names)) {
        const FrpcClientText::ProxyStatus status = FrpcClientText::proxyStatus(body, name);
        const FrpcClientText::ProxyStatus fromAll = all.byName.value(name);
        FUZZ_CHECK(all.valid == status.valid, "the readings differ on the reply");
        FUZZ_CHECK(fromAll.port == status.port && fromAll.error == status.error,
                   "the readings of all proxies and of one differ for " + name);
        FUZZ_CHECK(status.valid || (status.port.isEmpty() && status.error.isEmpty()),
                   "an unreadable reply told something");
        if (!status.port.isEmpty()) {
            bool number = false;
            const int port = status.port.toInt(&number);
            FUZZ_CHECK(number && port >= 1 && port <= 65535 && status.port == QString::number(port),
                       "remote port " + status.port);
        }
        FUZZ_CHECK(status.error == status.error.trimmed(), "the error is trimmed");
        FUZZ_CHECK(FrpcClientText::remotePortFromStatus(body, name) == status.port,
                   "the two readings differ");
    }
    return 0;
}
