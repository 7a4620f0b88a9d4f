#include "serial/telnet.h"

namespace telnet {

namespace {

// What we agree to: binary both ways and the COM-port option on our side; on theirs also
// suppressed go-aheads, which change nothing for a full-duplex line. Everything else (their
// echo above all, which would send our requests back to us) is refused.
bool WeMay(std::uint8_t option) {
  return option == kBinary || option == kComPortOption;
}

bool TheyMay(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

void Append(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
  out.push_back(kIac);
  out.push_back(verb);
  out.push_back(option);
}

// A request (DO or WILL) of the server's for a side of an option: agreed to once, answered
// only when it is not the reply to our own request.
void Enable(Options::State& state, bool allowed, std::uint8_t agree, std::uint8_t refuse,
            std::uint8_t option, std::vector<std::uint8_t>& answer) {
  if (!allowed) {
    if (state != Options::State::kRefused) Append(answer, refuse, option);
    state = Options::State::kRefused;
    return;
  }
  if (state != Options::State::kAsked && state != Options::State::kOn) {
    Append(answer, agree, option);
  }
  state = Options::State::kOn;
}

// The server turns a side of an option off (DONT or WONT): a refusal of our request, or an
// option that was on going off, which is confirmed.
void Disable(Options::State& state, std::uint8_t confirm, std::uint8_t option,
             std::vector<std::uint8_t>& answer) {
  if (state == Options::State::kOn) Append(answer, confirm, option);
  if (state == Options::State::kAsked || state == Options::State::kOn) {
    state = Options::State::kRefused;
  }
}

}  // namespace

std::vector<std::uint8_t> EscapeData(std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> escaped;
  escaped.reserve(data.size() + 2);
  for (const std::uint8_t byte : data) {
    escaped.push_back(byte);
    if (byte == kIac) escaped.push_back(kIac);
  }
  return escaped;
}

void Reader::Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
                  std::vector<Command>& commands) {
  for (const std::uint8_t byte : bytes) {
    switch (state_) {
      case State::kData:
        if (byte == kIac) {
          state_ = State::kIac;
        } else {
          data.push_back(byte);
        }
        break;
      case State::kIac:
        AfterIac(byte, data);
        break;
      case State::kVerb:
        pending_.option = byte;
        commands.push_back(pending_);
        state_ = State::kData;
        break;
      case State::kSbOption:
        pending_.option = byte;
        pending_.payload.clear();
        state_ = State::kSbPayload;
        break;
      case State::kSbPayload:
        if (byte == kIac) {
          state_ = State::kSbIac;
        } else {
          pending_.payload.push_back(byte);
        }
        break;
      case State::kSbIac:
        if (byte == kIac) {
          pending_.payload.push_back(byte);
          state_ = State::kSbPayload;
          break;
        }
        // IAC SE ends it; a server that forgot the SE gets its subnegotiation ended here
        // and the byte taken as the command it is.
        commands.push_back(pending_);
        if (byte == kSe) {
          state_ = State::kData;
        } else {
          AfterIac(byte, data);
        }
        break;
    }
  }
}

void Reader::AfterIac(std::uint8_t byte, std::vector<std::uint8_t>& data) {
  switch (byte) {
    case kIac:
      data.push_back(kIac);
      state_ = State::kData;
      break;
    case kWill:
    case kWont:
    case kDo:
    case kDont:
      pending_ = Command{byte};
      state_ = State::kVerb;
      break;
    case kSb:
      pending_ = Command{kSb};
      state_ = State::kSbOption;
      break;
    default:
      state_ = State::kData;
      break;
  }
}

std::vector<std::uint8_t> Options::Request() {
  ours_[kBinary] = ours_[kComPortOption] = theirs_[kBinary] = State::kAsked;
  return {kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPortOption};
}

void Options::Receive(const Command& command, std::vector<std::uint8_t>& answer) {
  const std::uint8_t option = command.option;
  switch (command.verb) {
    case kDo:
      Enable(ours_[option], WeMay(option), kWill, kWont, option, answer);
      break;
    case kWill:
      Enable(theirs_[option], TheyMay(option), kDo, kDont, option, answer);
      break;
    case kDont:
      Disable(ours_[option], kWont, option, answer);
      break;
    case kWont:
      Disable(theirs_[option], kDont, option, answer);
      break;
    default:
      break;
  }
}

bool Options::Settled() const {
  return ours_[kBinary] != State::kAsked && ours_[kComPortOption] != State::kAsked &&
         theirs_[kBinary] != State::kAsked;
}

bool Options::Agreed() const {
  return ours_[kBinary] == State::kOn && ours_[kComPortOption] == State::kOn &&
         theirs_[kBinary] == State::kOn;
}

std::vector<std::uint8_t> ComPortCommand(std::uint8_t command,
                                         std::span<const std::uint8_t> value) {
  std::vector<std::uint8_t> bytes = {kIac, kSb, kComPortOption, command};
  const std::vector<std::uint8_t> escaped = EscapeData(value);
  bytes.insert(bytes.end(), escaped.begin(), escaped.end());
  bytes.insert(bytes.end(), {kIac, kSe});
  return bytes;
}

std::vector<ComPortSetting> DetectorLineSettings(std::uint32_t baudRate) {
  using namespace cpo;
  return {
      {kSetBaudRate,
       {static_cast<std::uint8_t>(baudRate >> 24), static_cast<std::uint8_t>(baudRate >> 16),
        static_cast<std::uint8_t>(baudRate >> 8), static_cast<std::uint8_t>(baudRate)},
       true},
      {kSetDataSize, {8}, true},
      {kSetParity, {kParityNone}, true},
      {kSetStopSize, {kOneStopBit}, true},
      // A server on a terminal without modem lines never confirms these.
      {kSetControl, {kNoFlowControl}, false},
      {kSetControl, {kDtrOff}, false},
  };
}

std::optional<std::span<const std::uint8_t>> ConfirmationOf(const Command& command,
                                                            std::uint8_t setting) {
  const bool confirms = command.verb == kSb && command.option == kComPortOption &&
                        !command.payload.empty() &&
                        command.payload[0] == setting + cpo::kServerOffset;
  if (!confirms) return std::nullopt;
  return std::span<const std::uint8_t>(command.payload).subspan(1);
}

std::uint32_t BigEndianValue(std::span<const std::uint8_t> value) {
  std::uint32_t number = 0;
  for (const std::uint8_t byte : value) number = number << 8 | byte;
  return number;
}

}  // namespace telnet
