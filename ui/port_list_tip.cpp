#include "ui/port_list_tip.h"

#include "res/tip_texts.h"
#include "serial/comm_port.h"
#include "ui/number_text.h"

namespace {

std::string StateText(const CommError& problem) {
  switch (problem.kind) {
    case CommErrorKind::kNone:
    case CommErrorKind::kNotSerial:
    case CommErrorKind::kReplaced:  // only an open tells these
      return {};
    case CommErrorKind::kConfiguration:  // only a network line's last open tells this
      return std::string(tip::kLastSettingsRefused);
    case CommErrorKind::kConnectionRefused:
      return std::string(tip::kLastConnectionRefused);
    case CommErrorKind::kConnectionTimedOut:
      return std::string(tip::kLastConnectionTimedOut);
    case CommErrorKind::kHostNotFound:
      return std::string(tip::kLastHostNotFound);
    case CommErrorKind::kNetworkUnreachable:
      return std::string(tip::kLastNetworkUnreachable);
    case CommErrorKind::kNotFound:
      return std::string(tip::kPortMissing);
    case CommErrorKind::kPermission:
      if (problem.group.empty()) return std::string(tip::kPortForbidden);
      return FormatText(tip::kPortForbiddenFormat, problem.group.c_str());
    case CommErrorKind::kBusy:
      if (problem.holderPid == 0) return std::string(tip::kPortBusy);
      return FormatText(tip::kPortBusyFormat, problem.holderCommand.c_str(), problem.holderPid);
  }
  return {};
}

// A gateway's rate is its own: the one its link names, which the search probes alone, or
// none, and the search has nothing to probe.
std::string GatewayRateText(const std::string& device) {
  const ResolvedPort port = ResolveCommDevice(device);
  if (!port.rateFixed) return {};
  if (port.gatewayBaud == 0) return std::string(tip::kGatewayRateUnnamed);
  return FormatText(tip::kGatewayRateFormat, port.gatewayBaud);
}

bool AnyLinked(int portCount) {
  for (int number = 1; number <= portCount; ++number) {
    if (CommPortLinked(number)) return true;
  }
  return false;
}

}  // namespace

std::string PortListToolTip(int portCount) {
  const bool linksKept = AnyLinked(portCount);
  std::string tip;
  for (int number = 1; number <= portCount; ++number) {
    const std::string device = CommPortDevice(number);
    if (device.empty()) continue;
    std::string line =
        std::string("Com").append(std::to_string(number)).append("：").append(device);
    if (linksKept && !CommPortLinked(number)) line.append(tip::kFromDeviceList);
    line.append(GatewayRateText(device));
    if (const std::string state = StateText(InspectCommPort(number)); !state.empty()) {
      line.append("，").append(state);
    }
    if (!tip.empty()) tip += '\n';
    tip.append(line);
  }
  return tip.empty() ? std::string(tip::kNoPorts) : tip;
}

const std::string& PortListTip::Text(int portCount, Clock::time_point now) {
  if (!madeAt_ || portCount != portCount_ || now - *madeAt_ >= kKeptFor) {
    text_ = PortListToolTip(portCount);
    portCount_ = portCount;
    madeAt_ = now;
  }
  return text_;
}
