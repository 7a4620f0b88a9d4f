// rfc2217://: telnet with the COM-port option, to a gateway whose line we set up ourselves,
// as a local port is opened: binary both ways, the rate and 8N1, no flow control, DTR off,
// both buffers purged. Data goes with every 0xFF doubled; what comes has its telnet
// commands taken out, and the server's negotiations are answered as they come.
#include "serial/comm_port_backend.h"
#include "serial/network_line.h"
#include "serial/telnet.h"

namespace {

using Clock = NetSocket::Clock;

// How long the server may take to answer the negotiation, and then to confirm the settings.
constexpr std::chrono::milliseconds kAnswerTimeout{2000};

const char* SettingName(std::uint8_t command) {
  switch (command) {
    case telnet::cpo::kSetBaudRate:
      return "rate";
    case telnet::cpo::kSetDataSize:
      return "data size";
    case telnet::cpo::kSetParity:
      return "parity";
    default:
      return "stop size";
  }
}

// The setting's value as words: "9600 baud", "data size 7".
std::string ValueText(std::uint8_t command, std::span<const std::uint8_t> value) {
  const std::uint32_t number = telnet::BigEndianValue(value);
  if (command == telnet::cpo::kSetBaudRate) return std::to_string(number) + " baud";
  return std::string(SettingName(command)) + " " + std::to_string(number);
}

class Rfc2217Line final : public NetworkLine {
 public:
  explicit Rfc2217Line(std::unique_ptr<NetSocket> socket) : NetworkLine(std::move(socket)) {}

  // Agrees the options, sets the line up and purges it. False, with LastCommError set,
  // when the server does not take part or refuses a setting.
  bool SetUp(int baudRate) {
    if (!Negotiate()) return false;
    const auto settings = telnet::DetectorLineSettings(static_cast<std::uint32_t>(baudRate));
    // All in one go, the purge last, so that it follows the settings.
    std::vector<std::uint8_t> commands;
    for (const auto& setting : settings) {
      const auto command = telnet::ComPortCommand(setting.command, setting.value);
      commands.insert(commands.end(), command.begin(), command.end());
    }
    const std::uint8_t purge[] = {telnet::cpo::kPurgeBoth};
    const auto purgeCommand = telnet::ComPortCommand(telnet::cpo::kPurgeData, purge);
    commands.insert(commands.end(), purgeCommand.begin(), purgeCommand.end());
    SendWire(commands, 0);
    const bool confirmed =
        PumpUntil([&] { return AllNeededConfirmed(settings); }, Clock::now() + kAnswerTimeout);
    if (!confirmed && LineGone()) return Closed();
    if (const std::string refusal = Refusal(settings); !refusal.empty()) {
      return Fail(CommErrorKind::kConfiguration, refusal);
    }
    settingUp_ = false;
    subnegotiations_.clear();
    // Whatever came before the purge is from before our time on the line.
    DropInput();
    return true;
  }

 protected:
  std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> data) override {
    return telnet::EscapeData(data);
  }

  void Decode(std::span<const std::uint8_t> wire, std::vector<std::uint8_t>& data,
              std::vector<std::uint8_t>& answer) override {
    std::vector<telnet::Command> commands;
    reader_.Feed(wire, data, commands);
    for (auto& command : commands) {
      if (command.verb != telnet::kSb) {
        options_.Receive(command, answer);
      } else if (settingUp_) {
        subnegotiations_.push_back(std::move(command));
      }
      // Later subnegotiations (line and modem state, late confirmations) change nothing.
    }
  }

 private:
  bool Negotiate() {
    SendWire(options_.Request(), 0);
    if (!PumpUntil([this] { return options_.Settled(); }, Clock::now() + kAnswerTimeout)) {
      if (LineGone()) return Closed();
      return Fail(CommErrorKind::kConfiguration, "no telnet answer within " +
                                                     std::to_string(kAnswerTimeout.count()) +
                                                     " ms: is it a telnet port with RFC 2217?");
    }
    if (!options_.Agreed()) {
      return Fail(CommErrorKind::kConfiguration,
                  "the server refused binary mode or the COM-port option: is RFC 2217 on?");
    }
    return true;
  }

  std::optional<std::span<const std::uint8_t>> Confirmation(std::uint8_t command) const {
    for (const auto& received : subnegotiations_) {
      if (auto value = telnet::ConfirmationOf(received, command)) return value;
    }
    return std::nullopt;
  }

  bool AllNeededConfirmed(const std::vector<telnet::ComPortSetting>& settings) const {
    for (const auto& setting : settings) {
      if (setting.needed && !Confirmation(setting.command)) return false;
    }
    return true;
  }

  // Why the line cannot be used as the server set it up: a needed setting it did not
  // confirm in time, or confirmed with another value; empty when none.
  std::string Refusal(const std::vector<telnet::ComPortSetting>& settings) const {
    for (const auto& setting : settings) {
      if (!setting.needed) continue;
      const auto value = Confirmation(setting.command);
      if (!value) {
        return std::string("the server did not confirm the ") + SettingName(setting.command) +
               " within " + std::to_string(kAnswerTimeout.count()) + " ms";
      }
      if (telnet::BigEndianValue(*value) != telnet::BigEndianValue(setting.value)) {
        return "the server refused " + ValueText(setting.command, setting.value) + " (it has " +
               ValueText(setting.command, *value) + ")";
      }
    }
    return {};
  }

  // A gateway that takes no more clients often accepts and closes at once.
  bool Closed() {
    return Fail(CommErrorKind::kBusy,
                "the gateway closed the connection (another client may have it)");
  }

  static bool Fail(CommErrorKind kind, std::string message) {
    SetLastCommError(kind, std::move(message));
    return false;
  }

  telnet::Reader reader_;
  telnet::Options options_;
  bool settingUp_ = true;
  std::vector<telnet::Command> subnegotiations_;
};

}  // namespace

std::unique_ptr<CommPort> OpenRfc2217Line(std::unique_ptr<NetSocket> socket, int baudRate) {
  auto line = std::make_unique<Rfc2217Line>(std::move(socket));
  if (!line->SetUp(baudRate)) return nullptr;
  return line;
}
