// The texts the handlers show or compare, UTF-8. The templates' own texts are in kl395.rc.
#pragma once

#include <string_view>

namespace text {

// The search button's captions and the search's status line.
inline constexpr std::string_view kStartSearch = "搜索参数";
inline constexpr std::string_view kStopSearch = "停止搜索";
inline constexpr std::string_view kSearching = "参数正在查找中......";
inline constexpr const char* kSearchProgressFormat = "正在搜索波特率%d地址%d";
inline constexpr std::string_view kSearchStopped = "已经停止搜索参数";
inline constexpr std::string_view kSearchExhausted = "未搜索到参数,请检查接线!!!";
inline constexpr std::string_view kNoParametersFound = "未搜索到通讯参数";
inline constexpr const char* kFoundStatusFormat = "搜索到的参数为:波特率%d地址%d";
inline constexpr const char* kFoundMessageFormat = "产品参数为：波特率%d地址%d";

// "This serial port was not found or is in use", as the search, the commands and
// acquisition each word it.
inline constexpr std::string_view kSearchPortTrouble = "没有发现此串口或此串口被占用";
inline constexpr std::string_view kCommandPortTrouble = "没有发现此串口或次串口被占用!";
inline constexpr std::string_view kAcquisitionPortTrouble = "没有发现此串口或此串口被占用!!!";

// Configuration commands.
inline constexpr std::string_view kBadNewAddress = "请输入0~255之内的有效整数!";
inline constexpr std::string_view kSetDone = "设置成功!";
inline constexpr std::string_view kSetFailed = "设置失败!";
inline constexpr std::string_view kAddressSet = "设置地址成功!";
inline constexpr std::string_view kReadFailed = "读取失败!";
inline constexpr std::string_view kVersionFormat = "Ver%.1f";

// Acquisition.
inline constexpr std::string_view kStartAcquisition = "开始采集";
inline constexpr std::string_view kStopAcquisition = "停止采集";
inline constexpr std::string_view kLeak = "漏水";
inline constexpr std::string_view kNormal = "正常";
inline constexpr std::string_view kNoAlarm = "无报警";
inline constexpr std::string_view kNoData = "无数据";
inline constexpr std::string_view kVoltageReadError = "读取出错";
inline constexpr std::string_view kVoltageFormat = "：%.1fV";

// Factory mode.
inline constexpr std::string_view kEnterFactoryMode = "工厂模式";
inline constexpr std::string_view kLeaveFactoryMode = "用户模式";
inline constexpr std::string_view kWrongPassword = "密码错误!";
inline constexpr std::string_view kAccessCode = "502713";

}  // namespace text
