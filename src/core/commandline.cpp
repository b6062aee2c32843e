// SPDX-License-Identifier: Apache-2.0
// The command line: the options the program understands, read before the application object exists.
#include "core/commandline.h"
#include "core/platform/console.h"
#include "core/sharecode.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace {

const char *const VERSION_TEXT = "Marrowgate 1.0.0\n";
const int EXIT_USAGE_ERROR = 2;
const int MAX_TUNNELS = 10;

bool isProtocol(const QString &text)
{
    return text == QLatin1String("tcp") || text == QLatin1String("udp") || text == QLatin1String("tcp+udp");
}

// Options that the toolkit's application object reads from the command line itself.
const char *const TOOLKIT_OPTIONS_WITH_VALUE[] = { "platform",        "platformpluginpath",
                                                   "platformtheme",   "plugin",
                                                   "qwindowgeometry", "qwindowicon",
                                                   "qwindowtitle",    "session",
                                                   "style",           "stylesheet",
                                                   "display",         "name",
                                                   "title",           "visual",
                                                   "qmljsdebugger" };
const char *const TOOLKIT_SWITCHES[] = { "reverse", "widgetcount", "nograb", "dograb", "sync" };

CommandLineRequest failure(const QString &reason)
{
    CommandLineRequest request;
    request.action = CommandLineRequest::Fail;
    request.text = reason;
    return request;
}

} // namespace

CommandLineRequest parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "Marrowgate：通过反向隧道把本机的一个 TCP 或 UDP 端口发布到互联网。"));
    const QCommandLineOption helpOption({ QStringLiteral("h"), QStringLiteral("help") },
                                        QCoreApplication::translate("CommandLine", "显示此帮助并退出。"));
    const QCommandLineOption versionOption({ QStringLiteral("v"), QStringLiteral("version") },
                                           QCoreApplication::translate("CommandLine", "显示版本号并退出。"));
    const QCommandLineOption connectOption(
        QStringLiteral("connect"),
        QCoreApplication::translate("CommandLine", "启动后连接名称恰好为 <name> 的服务器。"),
        QStringLiteral("name"));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QCoreApplication::translate(
            "CommandLine",
            "与 --connect 一起使用：要发布的本地端口（1-65535），默认为上次使用的端口。"
            "可多次给出（最多 10 个），每个端口可带 /tcp、/udp 或 /tcp+udp 指定协议。"),
        QStringLiteral("port"));
    const QCommandLineOption protocolOption(
        QStringLiteral("protocol"),
        QCoreApplication::translate("CommandLine",
                                    "与 --connect 一起使用：不带协议的端口所用的协议，tcp、udp 或 tcp+udp，"
                                    "默认为上次使用的协议。"),
        QStringLiteral("tcp|udp|tcp+udp"));
    const QCommandLineOption languageOption(
        QStringLiteral("lang"),
        QCoreApplication::translate(
            "CommandLine", "本次运行使用的界面语言：zh（中文）或 en（英文），默认为窗口中选择的语言。"),
        QStringLiteral("zh|en"));
    const QCommandLineOption joinOption(
        QStringLiteral("join"),
        QCoreApplication::translate("CommandLine", "启动后用分享码 <code> 加入好友的隧道。"),
        QStringLiteral("code"));
    parser.addOptions(
        { helpOption, versionOption, connectOption, portOption, protocolOption, languageOption, joinOption });
    // The toolkit's own options (such as -platform or -style) are read by the application object later;
    // here they are let through, unlisted. They take one dash or two, like the toolkit accepts.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char *name : TOOLKIT_OPTIONS_WITH_VALUE) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : TOOLKIT_SWITCHES) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    if (!parser.parse(arguments))
        return failure(parser.errorText());

    CommandLineRequest request;
    if (parser.isSet(helpOption)) {
        request.action = CommandLineRequest::ShowHelp;
        // The parser's own first line names the running executable only when an application
        // object exists; the usage line is written here the same way in both cases.
        const QString program
            = arguments.isEmpty() ? QStringLiteral("Marrowgate") : QFileInfo(arguments.first()).fileName();
        const QString help = parser.helpText();
        request.text = QCoreApplication::translate("CommandLine", "用法: %1 [选项]").arg(program)
            + help.mid(help.indexOf(u'\n'));
        return request;
    }
    if (parser.isSet(versionOption)) {
        request.action = CommandLineRequest::ShowVersion;
        request.text = QString::fromUtf8(VERSION_TEXT);
        return request;
    }
    // A link the desktop hands over ("marrowgate://join/..."): the join dialog shows it, and says
    // what is wrong with it if anything is.
    const QStringList positional = parser.positionalArguments();
    if (positional.size() == 1 && ShareCode::hasScheme(positional.first()))
        request.link = positional.first().left(4 * ShareCode::MAX_TEXT_LENGTH);
    else if (!positional.isEmpty())
        return failure(
            QCoreApplication::translate("CommandLine", "多余的参数：%1").arg(positional.join(u' ')));
    if (parser.isSet(joinOption)) {
        QString reason;
        if (!ShareCode::fromText(parser.value(joinOption), &reason))
            return failure(QCoreApplication::translate("CommandLine", "分享码无效：%1").arg(reason));
        request.joinCode = parser.value(joinOption).trimmed();
    }

    if (parser.isSet(languageOption)) {
        request.language = parser.value(languageOption);
        if (request.language != QLatin1String("zh") && request.language != QLatin1String("en"))
            return failure(QCoreApplication::translate("CommandLine", "无效的语言“%1”：应为 zh 或 en")
                               .arg(request.language));
    }
    if (parser.isSet(connectOption)) {
        request.connectName = parser.value(connectOption);
        if (request.connectName.isEmpty())
            return failure(QCoreApplication::translate("CommandLine", "--connect 需要一个服务器名称"));
    }
    if (parser.isSet(portOption)) {
        if (!parser.isSet(connectOption))
            return failure(QCoreApplication::translate("CommandLine", "--port 只能与 --connect 一起使用"));
        const QStringList values = parser.values(portOption);
        if (values.size() > MAX_TUNNELS)
            return failure(
                QCoreApplication::translate("CommandLine", "端口太多：最多 %1 个").arg(MAX_TUNNELS));
        for (const QString &value : values) {
            const QString suffix = value.contains(u'/') ? value.section(u'/', 1) : QString();
            if (value.contains(u'/') && !isProtocol(suffix))
                return failure(
                    QCoreApplication::translate("CommandLine", "无效的端口“%1”：协议应为 tcp、udp 或 tcp+udp")
                        .arg(value));
            bool ok = false;
            const int port = value.section(u'/', 0, 0).toInt(&ok);
            if (!ok || port < 1 || port > 65535)
                return failure(
                    QCoreApplication::translate("CommandLine", "无效的端口“%1”：应为 1 到 65535 之间的整数")
                        .arg(value));
            request.tunnels.append({ port, suffix });
        }
        request.localPort = request.tunnels.first().port;
    }
    if (parser.isSet(protocolOption)) {
        if (!parser.isSet(connectOption))
            return failure(
                QCoreApplication::translate("CommandLine", "--protocol 只能与 --connect 一起使用"));
        const QString protocol = parser.value(protocolOption);
        if (!isProtocol(protocol))
            return failure(
                QCoreApplication::translate("CommandLine", "无效的协议“%1”：应为 tcp、udp 或 tcp+udp")
                    .arg(protocol));
        request.protocol = protocol;
        for (CommandLineRequest::Tunnel &tunnel : request.tunnels) {
            if (tunnel.protocol.isEmpty())
                tunnel.protocol = protocol;
        }
    }
    return request;
}

QString languageArgument(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        for (const QLatin1String name : { QLatin1String("--lang"), QLatin1String("-lang") }) {
            if (arguments.at(i) == name)
                return arguments.value(i + 1);
            if (arguments.at(i).startsWith(name + u'='))
                return arguments.at(i).mid(name.size() + 1);
        }
    }
    return {};
}

int answerCommandLine(const CommandLineRequest &request)
{
    switch (request.action) {
    case CommandLineRequest::ShowHelp:
    case CommandLineRequest::ShowVersion:
        writeToConsole(request.text, false);
        return 0;
    case CommandLineRequest::Fail:
        writeToConsole(
            QCoreApplication::translate("CommandLine", "Marrowgate: %1\n使用 --help 查看可用的选项。\n")
                .arg(request.text),
            true);
        return EXIT_USAGE_ERROR;
    case CommandLineRequest::Run:
        break;
    }
    return 0;
}

QList<::Tunnel> CommandLineRequest::tunnelsFor(const QList<::Tunnel> &shown) const
{
    ::Tunnel first = shown.value(0);
    if (!protocol.isEmpty())
        first.protocol = ::Tunnel::protocolFromName(protocol);
    if (tunnels.isEmpty())
        return QList<::Tunnel> { first } + shown.mid(1);
    if (!tunnels.first().protocol.isEmpty())
        first.protocol = ::Tunnel::protocolFromName(tunnels.first().protocol);
    first.localPort = tunnels.first().port;
    QList<::Tunnel> list { first };
    for (const Tunnel &tunnel : tunnels.mid(1))
        list.append({ tunnel.port, ::Tunnel::protocolFromName(tunnel.protocol) });
    return list;
}
