// Telnet as RFC 2217 lines use it, as pure functions of bytes: data escaping, the reader that
// splits what a server sends into data and commands, the option negotiation, and the
// COM-port option's commands.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPortOption = 44;

// The data as it goes to the server: every 0xFF doubled.
std::vector<std::uint8_t> EscapeData(std::span<const std::uint8_t> data);

// A command from the server: a negotiation (WILL, WONT, DO or DONT an option), or a
// subnegotiation with its payload unescaped.
struct Command {
  std::uint8_t verb = 0;  // kWill, kWont, kDo, kDont or kSb
  std::uint8_t option = 0;
  std::vector<std::uint8_t> payload{};  // kSb only
};

// Splits what the server sends into data and commands; a command or doubled 0xFF may be cut
// between two reads. Other two-byte commands (NOP, GA and the rest) are dropped.
class Reader {
 public:
  void Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
            std::vector<Command>& commands);

 private:
  enum class State { kData, kIac, kVerb, kSbOption, kSbPayload, kSbIac };
  void AfterIac(std::uint8_t byte, std::vector<std::uint8_t>& data);

  State state_ = State::kData;
  Command pending_;
};

// Both sides of every option: ours (we WILL it) and theirs (they WILL it, we DO). Answers
// each negotiation of the server's, agreeing only to what we can do, and never answers a
// reply to a request of ours, so that two ends cannot keep answering each other.
class Options {
 public:
  enum class State { kOff, kAsked, kOn, kRefused };

  // Our opening requests: WILL BINARY, DO BINARY, WILL COM-PORT-OPTION.
  std::vector<std::uint8_t> Request();
  // Takes the server's negotiation; appends our answer, if one is due, to `answer`.
  void Receive(const Command& command, std::vector<std::uint8_t>& answer);

  // Whether every request has been answered, and whether all were agreed to.
  bool Settled() const;
  bool Agreed() const;
  State Ours(std::uint8_t option) const { return ours_[option]; }
  State Theirs(std::uint8_t option) const { return theirs_[option]; }

 private:
  std::array<State, 256> ours_{};
  std::array<State, 256> theirs_{};
};

// The COM-port option's commands (client to server; the server answers with 100 added).
namespace cpo {
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kOneStopBit = 1;
inline constexpr std::uint8_t kNoFlowControl = 1;
inline constexpr std::uint8_t kDtrOff = 9;
inline constexpr std::uint8_t kPurgeBoth = 3;
}  // namespace cpo

// IAC SB COM-PORT-OPTION command value IAC SE, with the value escaped.
std::vector<std::uint8_t> ComPortCommand(std::uint8_t command, std::span<const std::uint8_t> value);

// One setting of the line and the server's confirmation of it.
struct ComPortSetting {
  std::uint8_t command;
  std::vector<std::uint8_t> value;
  bool needed;  // the line is of no use without it; otherwise we live without a confirmation
};
// The detector's line: the rate, 8 data bits, no parity, one stop bit, no flow control, DTR
// off, as a local port opens it.
std::vector<ComPortSetting> DetectorLineSettings(std::uint32_t baudRate);

// The value with which the server confirms `setting`, if that is what `command` is.
std::optional<std::span<const std::uint8_t>> ConfirmationOf(const Command& command,
                                                            std::uint8_t setting);

// A value of four bytes, most significant first, as the rate goes.
std::uint32_t BigEndianValue(std::span<const std::uint8_t> value);

}  // namespace telnet
