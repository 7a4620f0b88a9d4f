// Our own explanations in the window's tooltips, UTF-8. They explain what the window's fixed
// texts cannot say; printf formats where they hold values.
#pragma once

#include <string_view>

namespace tip {

// The port list.
inline constexpr std::string_view kNoPorts = "本机没有串口设备";
inline constexpr std::string_view kFromDeviceList = "（无链接，取自设备列表）";
inline constexpr std::string_view kPortMissing = "设备不存在";
inline constexpr std::string_view kPortForbidden = "无权打开";
inline constexpr const char* kPortForbiddenFormat = "无权打开（请将用户加入 %s 组，然后重新登录）";
inline constexpr std::string_view kPortBusy = "已被其他程序占用";
inline constexpr const char* kPortBusyFormat = "已被 %s（进程 %d）占用";
// A network line (a link to rfc2217://, socket:// or tcp://): how its last connection went,
// since looking would take the gateway's only client; and the rate of a gateway that sets its
// own, which the search probes alone.
inline constexpr std::string_view kLastConnectionRefused = "上次连接被拒绝";
inline constexpr std::string_view kLastConnectionTimedOut = "上次连接超时";
inline constexpr std::string_view kLastHostNotFound = "上次连接找不到主机";
inline constexpr std::string_view kLastNetworkUnreachable = "上次连接网络不可达";
inline constexpr std::string_view kLastSettingsRefused = "上次连接时网关拒绝了串口设置";
inline constexpr const char* kGatewayRateFormat = "（网关速率固定为 %d，搜索只试此速率）";
inline constexpr std::string_view kGatewayRateUnnamed =
    "（网关速率固定，搜索前请在链接末尾写明速率，如 ?baud=9600）";

// Why a poll failed.
inline constexpr std::string_view kNoReply = "无应答";
inline constexpr std::string_view kShortReply = "应答不完整";
inline constexpr std::string_view kLongReply = "应答过长";
inline constexpr std::string_view kBadCrc = "CRC 校验错误";
inline constexpr const char* kExceptionFormat = "检测器拒绝了请求（异常码 %d）";
inline constexpr const char* kGatewayExceptionFormat = "网关未能从检测器得到应答（异常码 %d）";
inline constexpr std::string_view kEcho = "收到的是请求本身的回显（适配器回显发送的数据）";
inline constexpr std::string_view kWrongEcho = "回显与请求不符";
inline constexpr const char* kWrongAddressFormat = "应答来自其他地址（%d）";
inline constexpr std::string_view kWrongFunction = "应答的功能码与请求不符";
inline constexpr std::string_view kWrongByteCount = "应答的字节数与请求不符";
inline constexpr std::string_view kWrongConfirmation = "检测器确认的寄存器或数值与写入的不同";
inline constexpr std::string_view kLineGone = "串口已断开（适配器被拔出？），每次轮询时重新打开";
inline constexpr std::string_view kReopenBusy = "串口断开后重新打开时已被其他程序占用";
inline constexpr std::string_view kReopenForbidden = "串口断开后重新打开时无权打开";
inline constexpr std::string_view kReopenReplaced = "设备名已被另一个适配器占用，不是原来的串口";
inline constexpr std::string_view kReopenFailed = "串口断开后无法重新打开";

// The failure counter.
inline constexpr const char* kFailedPollsFormat = "开始采集以来轮询失败 %s 次：";
inline constexpr const char* kCauseCountFormat = "%s：%s 次";
inline constexpr const char* kLastFailureFormat = "最近一次失败（%s）：%s";
inline constexpr std::string_view kSent = "发送：";
inline constexpr std::string_view kReceived = "接收：";
inline constexpr std::string_view kNothing = "无";

// The lamps and the leak text.
inline constexpr const char* kReadingTakenFormat = "读数时间：%s";
inline constexpr const char* kFailedSinceFormat =
    "此后连续 %s 次轮询失败，已 %s 秒没有新读数；显示的仍是上面那次读数";

// The search's status line while a search runs: how far it has come, how long the rest takes.
inline constexpr const char* kSearchProbesFormat = "已探测 %d 次，共 %d 次";
inline constexpr const char* kSearchTimeLeftFormat = "预计还需 %s";
inline constexpr const char* kHoursMinutesFormat = "%d 小时 %d 分";
inline constexpr const char* kMinutesSecondsFormat = "%d 分 %d 秒";
inline constexpr const char* kSecondsFormat = "%d 秒";

}  // namespace tip
