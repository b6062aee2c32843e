<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>ClientOutput</name>
    <message>
        <source>连接被拒绝</source>
        <translation>connection refused</translation>
    </message>
    <message>
        <source>没有应答</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>连接被重置</source>
        <translation>connection reset</translation>
    </message>
    <message>
        <source>网络不可达</source>
        <translation>network unreachable</translation>
    </message>
    <message>
        <source>没有到服务器的路由</source>
        <translation>no route to the server</translation>
    </message>
    <message>
        <source>域名无法解析</source>
        <translation>the host name could not be resolved</translation>
    </message>
    <message>
        <source>[错误] %1</source>
        <translation>[error] %1</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Marrowgate：通过反向隧道把本机的一个 TCP 或 UDP 端口发布到互联网。</source>
        <translation>Marrowgate: publishes a TCP or UDP port of this computer to the internet through a reverse tunnel.</translation>
    </message>
    <message>
        <source>显示此帮助并退出。</source>
        <translation>Show this help and exit.</translation>
    </message>
    <message>
        <source>显示版本号并退出。</source>
        <translation>Show the version and exit.</translation>
    </message>
    <message>
        <source>启动后连接名称恰好为 &lt;name&gt; 的服务器。</source>
        <translation>Once started, connect to the server named exactly &lt;name&gt;.</translation>
    </message>
    <message>
        <source>与 --connect 一起使用：要发布的本地端口（1-65535），默认为上次使用的端口。可多次给出（最多 10 个），每个端口可带 /tcp、/udp 或 /tcp+udp 指定协议。</source>
        <translation>With --connect: the local port to publish (1-65535); by default the port used last time. May be given several times (up to 10); each port may end in /tcp, /udp or /tcp+udp to choose its protocol.</translation>
    </message>
    <message>
        <source>与 --connect 一起使用：不带协议的端口所用的协议，tcp、udp 或 tcp+udp，默认为上次使用的协议。</source>
        <translation>With --connect: the protocol for ports given without one, tcp, udp or tcp+udp; by default the protocol used last time.</translation>
    </message>
    <message>
        <source>本次运行使用的界面语言：zh（中文）或 en（英文），默认为窗口中选择的语言。</source>
        <translation>The language of the interface for this run: zh (Chinese) or en (English); by default the language chosen in the window.</translation>
    </message>
    <message>
        <source>用法: %1 [选项]</source>
        <translation>Usage: %1 [options]</translation>
    </message>
    <message>
        <source>多余的参数：%1</source>
        <translation>Unexpected arguments: %1</translation>
    </message>
    <message>
        <source>无效的语言“%1”：应为 zh 或 en</source>
        <translation>Invalid language &quot;%1&quot;: use zh or en</translation>
    </message>
    <message>
        <source>--connect 需要一个服务器名称</source>
        <translation>--connect needs a server name</translation>
    </message>
    <message>
        <source>--port 只能与 --connect 一起使用</source>
        <translation>--port can only be used with --connect</translation>
    </message>
    <message>
        <source>端口太多：最多 %1 个</source>
        <translation>Too many ports: at most %1</translation>
    </message>
    <message>
        <source>无效的端口“%1”：协议应为 tcp、udp 或 tcp+udp</source>
        <translation>Invalid port &quot;%1&quot;: the protocol must be tcp, udp or tcp+udp</translation>
    </message>
    <message>
        <source>无效的端口“%1”：应为 1 到 65535 之间的整数</source>
        <translation>Invalid port &quot;%1&quot;: it must be a whole number from 1 to 65535</translation>
    </message>
    <message>
        <source>--protocol 只能与 --connect 一起使用</source>
        <translation>--protocol can only be used with --connect</translation>
    </message>
    <message>
        <source>无效的协议“%1”：应为 tcp、udp 或 tcp+udp</source>
        <translation>Invalid protocol &quot;%1&quot;: use tcp, udp or tcp+udp</translation>
    </message>
    <message>
        <source>Marrowgate: %1
使用 --help 查看可用的选项。
</source>
        <translation>Marrowgate: %1
Run with --help to see the available options.
</translation>
    </message>
</context>
<context>
    <name>DesktopNotifier</name>
    <message>
        <source>桌面通知不可用: %1</source>
        <translation>Desktop notifications are unavailable: %1</translation>
    </message>
    <message>
        <source>没有会话总线</source>
        <translation>no session bus</translation>
    </message>
</context>
<context>
    <name>FrpcManager</name>
    <message>
        <source>正在停止隧道...</source>
        <translation>Stopping the tunnel...</translation>
    </message>
    <message>
        <source>进程未响应，强制停止...</source>
        <translation>The process is not responding; forcing it to stop...</translation>
    </message>
    <message>
        <source>隧道已停止</source>
        <translation>Tunnel stopped</translation>
    </message>
    <message>
        <source>服务器 %1 仍无法连接（%2），请检查地址和端口，或等待服务器启动</source>
        <translation>Still cannot reach the server %1 (%2). Check the address and port, or wait for the server to start.</translation>
    </message>
    <message>
        <source>正在启动隧道: %1</source>
        <translation>Starting the tunnel: %1</translation>
    </message>
    <message>
        <source>服务器: %1:%2</source>
        <translation>Server: %1:%2</translation>
    </message>
    <message>
        <source>本地端口: %1 (UDP)</source>
        <translation>Local port: %1 (UDP)</translation>
    </message>
    <message>
        <source>本地端口: %1 (TCP+UDP)</source>
        <translation>Local port: %1 (TCP+UDP)</translation>
    </message>
    <message>
        <source>本地端口: %1</source>
        <translation>Local port: %1</translation>
    </message>
    <message>
        <source>无法创建配置文件</source>
        <translation>Could not create the configuration file</translation>
    </message>
    <message>
        <source>frpc 进程已启动</source>
        <translation>frpc process started</translation>
    </message>
    <message>
        <source>frpc 进程已退出 (代码: %1)</source>
        <translation>frpc process exited (code: %1)</translation>
    </message>
    <message>
        <source>网络不可用</source>
        <translation>the network is unavailable</translation>
    </message>
    <message>
        <source>检测到连接断开，准备重连...</source>
        <translation>The connection dropped; reconnecting...</translation>
    </message>
    <message>
        <source>重连失败次数过多，已停止</source>
        <translation>Too many failed reconnection attempts; stopped</translation>
    </message>
    <message>
        <source>重连失败</source>
        <translation>Reconnection failed</translation>
    </message>
    <message>
        <source>尝试重连... (%1/%2)</source>
        <translation>Trying to reconnect... (%1/%2)</translation>
    </message>
    <message>
        <source>已连接到服务器，结束等待</source>
        <translation>Reached the server; no longer waiting</translation>
    </message>
    <message>
        <source>已停止等待</source>
        <translation>Stopped waiting</translation>
    </message>
    <message>
        <source>配置文件已生成</source>
        <translation>Configuration file written</translation>
    </message>
    <message>
        <source>配置文件已删除</source>
        <translation>Configuration file deleted</translation>
    </message>
    <message>
        <source>无法连接服务器 %1（%2），等待网络，将自动重试</source>
        <translation>Cannot reach the server %1 (%2). Waiting for the network; will retry automatically.</translation>
    </message>
    <message>
        <source>无法连接服务器 %1（%2），等待服务器，将自动重试</source>
        <translation>Cannot reach the server %1 (%2). Waiting for the server; will retry automatically.</translation>
    </message>
    <message>
        <source>连接失败: %1</source>
        <translation>Connection failed: %1</translation>
    </message>
    <message>
        <source>frpc 启动失败，请检查 frpc.exe 是否存在</source>
        <translation>frpc failed to start; check that frpc.exe is present</translation>
    </message>
    <message>
        <source>frpc 进程崩溃</source>
        <translation>The frpc process crashed</translation>
    </message>
    <message>
        <source>frpc 进程错误: %1</source>
        <translation>frpc process error: %1</translation>
    </message>
    <message>
        <source>访问者无法连接：本地端口 %1 上没有程序在监听</source>
        <translation>Visitors cannot connect: no program is listening on local port %1</translation>
    </message>
    <message>
        <source>服务器仍保留着上一次连接的隧道名称 %1，改用新名称连接（远程端口将会改变）</source>
        <translation>The server still holds the tunnel name %1 from the last connection; connecting under a new name (the remote port will change)</translation>
    </message>
    <message>
        <source>隧道已断开，等待 frpc 重新连接...</source>
        <translation>The tunnel dropped; waiting for frpc to reconnect...</translation>
    </message>
    <message>
        <source>远程端口已变更: %1</source>
        <translation>Remote port changed: %1</translation>
    </message>
    <message>
        <source>隧道已建立！远程端口: %1</source>
        <translation>Tunnel established! Remote port: %1</translation>
    </message>
    <message>
        <source>服务器拒绝了其中一个隧道: %1</source>
        <translation>The server refused one of the tunnels: %1</translation>
    </message>
    <message>
        <source>服务器拒绝了隧道: %1</source>
        <translation>The server refused the tunnel: %1</translation>
    </message>
    <message>
        <source>无法更新配置文件，隧道的更改未生效</source>
        <translation>Could not update the configuration file; the tunnel changes did not take effect</translation>
    </message>
    <message>
        <source>frpc 不支持重新加载配置（/api/reload 返回 404），正在重启 frpc 以应用隧道的更改</source>
        <translation>frpc cannot reload its configuration (/api/reload returned 404); restarting frpc to apply the tunnel changes</translation>
    </message>
    <message>
        <source>frpc 重新加载配置失败: %1</source>
        <translation>frpc failed to reload its configuration: %1</translation>
    </message>
    <message>
        <source>frpc 已重新加载配置</source>
        <translation>frpc reloaded its configuration</translation>
    </message>
    <message>
        <source>服务器无法为 UDP 提供与 TCP 相同的端口 %1（%2），改用任意空闲端口</source>
        <translation>The server cannot give UDP the same port %1 as TCP (%2); using any free port instead</translation>
    </message>
</context>
<context>
    <name>LogWindow</name>
    <message>
        <source>连接日志</source>
        <translation>Connection Log</translation>
    </message>
    <message>
        <source>清空日志</source>
        <translation>Clear Log</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Marrowgate 仍在运行</source>
        <translation>Marrowgate is still running</translation>
    </message>
    <message>
        <source>隧道在托盘中继续运行，右键托盘图标可退出</source>
        <translation>The tunnel keeps running in the tray. Right-click the tray icon to quit.</translation>
    </message>
    <message>
        <source>✓ 已复制</source>
        <translation>✓ Copied</translation>
    </message>
    <message>
        <source>复制IP</source>
        <translation>Copy IP</translation>
    </message>
    <message>
        <source>复制公网地址的 IP</source>
        <translation>Copy the IP of the public address</translation>
    </message>
    <message>
        <source>复制端口</source>
        <translation>Copy Port</translation>
    </message>
    <message>
        <source>复制公网端口</source>
        <translation>Copy the public port</translation>
    </message>
    <message>
        <source>服务器列表</source>
        <translation>Servers</translation>
    </message>
    <message>
        <source>+ 添加</source>
        <translation>+ Add</translation>
    </message>
    <message>
        <source>添加服务器</source>
        <translation>Add a server</translation>
    </message>
    <message>
        <source>查看日志</source>
        <translation>Show Log</translation>
    </message>
    <message>
        <source>查看连接日志</source>
        <translation>Show the connection log</translation>
    </message>
    <message>
        <source>开机自启动</source>
        <translation>Start at login</translation>
    </message>
    <message>
        <source>启动后自动连接</source>
        <translation>Connect on startup</translation>
    </message>
    <message>
        <source>浅色主题</source>
        <translation>Light</translation>
    </message>
    <message>
        <source>深色主题</source>
        <translation>Dark</translation>
    </message>
    <message>
        <source>主题</source>
        <translation>Theme</translation>
    </message>
    <message>
        <source>界面语言</source>
        <translation>Interface language</translation>
    </message>
    <message>
        <source>外部可访问</source>
        <translation>Reachable from outside</translation>
    </message>
    <message>
        <source>等待网络...</source>
        <translation>Waiting for the network...</translation>
    </message>
    <message>
        <source>等待服务器...</source>
        <translation>Waiting for the server...</translation>
    </message>
    <message>
        <source>确认退出</source>
        <translation>Quit Marrowgate?</translation>
    </message>
    <message>
        <source>隧道正在运行中，确定要退出吗？</source>
        <translation>The tunnel is running. Do you really want to quit?</translation>
    </message>
    <message>
        <source>配置错误</source>
        <translation>Invalid Server</translation>
    </message>
    <message>
        <source>服务器配置无效</source>
        <translation>The server settings are invalid.</translation>
    </message>
    <message>
        <source>无法编辑</source>
        <translation>Cannot Edit</translation>
    </message>
    <message>
        <source>内置配置不可编辑</source>
        <translation>The built-in server cannot be edited.</translation>
    </message>
    <message>
        <source>无法删除</source>
        <translation>Cannot Delete</translation>
    </message>
    <message>
        <source>内置配置不可删除</source>
        <translation>The built-in server cannot be deleted.</translation>
    </message>
    <message>
        <source>确认删除</source>
        <translation>Delete Server?</translation>
    </message>
    <message>
        <source>确定要删除配置 &quot;%1&quot; 吗？</source>
        <translation>Do you really want to delete the server &quot;%1&quot;?</translation>
    </message>
    <message>
        <source>本地端口 %1 上没有程序在监听</source>
        <translation>No program is listening on local port %1</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>没有名为“%1”的服务器。</source>
        <translation>There is no server named &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>有 %1 个服务器都名为“%2”，无法确定要连接哪一个。</source>
        <translation>%1 servers are named &quot;%2&quot;, so it is not clear which one to connect to.</translation>
    </message>
    <message>
        <source>无法连接</source>
        <translation>Cannot Connect</translation>
    </message>
    <message>
        <source>启动后自动连接: %1</source>
        <translation>Connecting on startup: %1</translation>
    </message>
    <message>
        <source>启动后自动连接: 服务器“%1”已不存在，未连接</source>
        <translation>Connecting on startup: the server &quot;%1&quot; no longer exists, so nothing was connected</translation>
    </message>
</context>
<context>
    <name>Redaction</name>
    <message>
        <source>[路径已隐藏]</source>
        <translation>[path hidden]</translation>
    </message>
    <message>
        <source>token: [已隐藏]</source>
        <translation>token: [hidden]</translation>
    </message>
    <message>
        <source>\1: [已隐藏]</source>
        <translation>\1: [hidden]</translation>
    </message>
    <message>
        <source>[已隐藏]</source>
        <translation>[hidden]</translation>
    </message>
</context>
<context>
    <name>ServerCardWidget</name>
    <message>
        <source>无法连接</source>
        <translation>Unreachable</translation>
    </message>
    <message>
        <source> [内置]</source>
        <translation> [built-in]</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>编辑服务器 %1</source>
        <translation>Edit server %1</translation>
    </message>
    <message>
        <source>删除服务器 %1</source>
        <translation>Delete server %1</translation>
    </message>
    <message>
        <source>内置服务器</source>
        <translation>built-in server</translation>
    </message>
    <message>
        <source>尚未测量</source>
        <translation>not measured yet</translation>
    </message>
    <message>
        <source>%1 毫秒</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <source>地址 %1，往返时间 %2，隧道正在运行</source>
        <translation>address %1, round trip %2, tunnel running</translation>
    </message>
    <message>
        <source>地址 %1，往返时间 %2，隧道未运行</source>
        <translation>address %1, round trip %2, no tunnel running</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>断开与 %1 的连接</source>
        <translation>Disconnect from %1</translation>
    </message>
    <message>
        <source>连接到 %1</source>
        <translation>Connect to %1</translation>
    </message>
</context>
<context>
    <name>ServerConfigManager</name>
    <message>
        <source>HalvornMarrowgate服务器</source>
        <translation>Halvorn Marrowgate Server</translation>
    </message>
    <message>
        <source>文件大于 1 MiB</source>
        <translation>the file is larger than 1 MiB</translation>
    </message>
    <message>
        <source>不是有效的 JSON：%1</source>
        <translation>not valid JSON: %1</translation>
    </message>
    <message>
        <source>文件内容不是 JSON 数组</source>
        <translation>the file does not hold a JSON array</translation>
    </message>
    <message>
        <source>文件中没有服务器</source>
        <translation>the file holds no servers</translation>
    </message>
    <message>
        <source>导入后服务器将超过 %1 个</source>
        <translation>the import would make more than %1 servers</translation>
    </message>
</context>
<context>
    <name>ServerEditDialog</name>
    <message>
        <source>添加服务器</source>
        <translation>Add Server</translation>
    </message>
    <message>
        <source>编辑服务器</source>
        <translation>Edit Server</translation>
    </message>
    <message>
        <source>例如: 主服务器</source>
        <translation>e.g. Main server</translation>
    </message>
    <message>
        <source>例如: 127.0.0.1</source>
        <translation>e.g. 127.0.0.1</translation>
    </message>
    <message>
        <source>认证令牌</source>
        <translation>Authentication token</translation>
    </message>
    <message>
        <source>配置名称:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>服务器地址:</source>
        <translation>Server address:</translation>
    </message>
    <message>
        <source>服务器端口:</source>
        <translation>Server port:</translation>
    </message>
    <message>
        <source>Token:</source>
        <translation>Token:</translation>
    </message>
    <message>
        <source>Web API 端口:</source>
        <translation>Web API port:</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>配置名称不能为空</source>
        <translation>The name cannot be empty.</translation>
    </message>
    <message>
        <source>服务器地址不能为空</source>
        <translation>The server address cannot be empty.</translation>
    </message>
    <message>
        <source>Token 不能为空</source>
        <translation>The token cannot be empty.</translation>
    </message>
    <message>
        <source>验证失败</source>
        <translation>Cannot Save</translation>
    </message>
</context>
<context>
    <name>ServerListTransfer</name>
    <message>
        <source>导出服务器列表...</source>
        <translation>Export Server List...</translation>
    </message>
    <message>
        <source>导入服务器列表...</source>
        <translation>Import Server List...</translation>
    </message>
    <message>
        <source>导出服务器列表</source>
        <translation>Export Server List</translation>
    </message>
    <message>
        <source>JSON 文件 (*.json);;所有文件 (*)</source>
        <translation>JSON files (*.json);;All files (*)</translation>
    </message>
    <message>
        <source>导出失败</source>
        <translation>Export Failed</translation>
    </message>
    <message>
        <source>无法写入 %1

%2</source>
        <translation>Could not write %1

%2</translation>
    </message>
    <message>
        <source>导出完成</source>
        <translation>Export Complete</translation>
    </message>
    <message>
        <source>已将 %1 个服务器导出到 %2

文件中含有令牌，请妥善保管。</source>
        <translation>Exported %1 servers to %2

The file contains tokens; keep it safe.</translation>
    </message>
    <message>
        <source>导入服务器列表</source>
        <translation>Import Server List</translation>
    </message>
    <message>
        <source>将 %1 中的服务器追加到列表末尾，还是替换现有的服务器？</source>
        <translation>Add the servers in %1 to the end of the list, or replace the current servers?</translation>
    </message>
    <message>
        <source>追加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>替换</source>
        <translation>Replace</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>无法替换</source>
        <translation>Cannot Replace</translation>
    </message>
    <message>
        <source>隧道正在运行中，请先断开连接再替换服务器列表。</source>
        <translation>A tunnel is running. Disconnect before replacing the server list.</translation>
    </message>
    <message>
        <source>导入失败</source>
        <translation>Import Failed</translation>
    </message>
    <message>
        <source>无法导入 %1

%2</source>
        <translation>Could not import %1

%2</translation>
    </message>
    <message>
        <source>导入完成</source>
        <translation>Import Complete</translation>
    </message>
    <message>
        <source>已添加 %1 个服务器，跳过 %2 个无效条目。</source>
        <translation>Added %1 servers; skipped %2 invalid entries.</translation>
    </message>
</context>
<context>
    <name>TcpProbe</name>
    <message>
        <source>连接被拒绝</source>
        <translation>connection refused</translation>
    </message>
    <message>
        <source>连接被重置</source>
        <translation>connection reset</translation>
    </message>
    <message>
        <source>无法解析地址</source>
        <translation>the address could not be resolved</translation>
    </message>
    <message>
        <source>网络不可达</source>
        <translation>network unreachable</translation>
    </message>
    <message>
        <source>%1 秒内无应答</source>
        <translation>no answer within %1 seconds</translation>
    </message>
</context>
<context>
    <name>ThemeStyles</name>
    <message>
        <source>连接状态: %1</source>
        <translation>Status: %1</translation>
    </message>
    <message>
        <source>未连接</source>
        <translation>Not connected</translation>
    </message>
    <message>
        <source>正在连接...</source>
        <translation>Connecting...</translation>
    </message>
    <message>
        <source>已连接</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>正在断开...</source>
        <translation>Disconnecting...</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
</context>
<context>
    <name>TunnelNotifications</name>
    <message>
        <source>隧道出错</source>
        <translation>Tunnel error</translation>
    </message>
    <message>
        <source>隧道已断开，正在重新连接</source>
        <translation>The tunnel dropped; reconnecting</translation>
    </message>
    <message>
        <source>隧道已恢复</source>
        <translation>Tunnel restored</translation>
    </message>
    <message>
        <source>隧道的远程端口已变化</source>
        <translation>The tunnel&apos;s remote port changed</translation>
    </message>
    <message>
        <source>隧道已建立</source>
        <translation>Tunnel established</translation>
    </message>
</context>
<context>
    <name>TunnelReachability</name>
    <message>
        <source>服务器端口 %1 无法从外部访问，请检查服务器的防火墙或安全组</source>
        <translation>Server port %1 cannot be reached from outside. Check the server&apos;s firewall or security group.</translation>
    </message>
    <message>
        <source>外部访问检查: %1 可以从外部访问</source>
        <translation>Reachability check: %1 can be reached from outside</translation>
    </message>
    <message>
        <source>外部访问检查: %1 无法从外部访问 (%2)</source>
        <translation>Reachability check: %1 cannot be reached from outside (%2)</translation>
    </message>
</context>
<context>
    <name>TunnelRow</name>
    <message>
        <source>✓ 已复制</source>
        <translation>✓ Copied</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>本地端口</source>
        <translation>Local port</translation>
    </message>
    <message>
        <source>端口 %1 的协议</source>
        <translation>Protocol of port %1</translation>
    </message>
    <message>
        <source>删除端口</source>
        <translation>Remove port</translation>
    </message>
    <message>
        <source>删除端口 %1</source>
        <translation>Remove port %1</translation>
    </message>
    <message>
        <source>复制端口 %1 的地址</source>
        <translation>Copy the address of port %1</translation>
    </message>
</context>
<context>
    <name>TunnelRows</name>
    <message>
        <source>添加端口</source>
        <translation>Add a port</translation>
    </message>
    <message>
        <source>服务器拒绝了此端口: %1</source>
        <translation>The server refused this port: %1</translation>
    </message>
    <message>
        <source>本地端口 %1 上没有程序在监听</source>
        <translation>No program is listening on local port %1</translation>
    </message>
</context>
<context>
    <name>TunnelTrayIcon</name>
    <message>
        <source>显示窗口</source>
        <translation>Show Window</translation>
    </message>
    <message>
        <source>复制地址</source>
        <translation>Copy Address</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>提示</source>
        <translation>Marrowgate</translation>
    </message>
    <message>
        <source>程序已经在运行中！

如果看不到窗口，请检查任务栏或系统托盘。</source>
        <translation>Marrowgate is already running.

If you cannot see its window, look in the taskbar or the system tray.</translation>
    </message>
</context>
</TS>
