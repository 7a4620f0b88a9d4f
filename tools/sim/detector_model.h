// The simulated detector: its registers, how it answers one request frame, and the faults it
// can be told to show. Pure: no clock and no line; the caller sends the reply parts after
// their delays and applies a write once the last part is out.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class Fault {
  kNone,
  kSilent,
  kLate,
  kBadCrc,
  kStray,
  kStrayLate,
  kException,
  kBytewise,
  kWrongAddress,  // replies from another address
  kWrongValue,    // confirms a write with another value and does not carry it out
  kWrongCount,    // a read reply's byte count is not that of its data
  kAnswerAll,     // answers every request, whatever its address and the line's rate
  kEcho,          // the adapter's, not the detector's: it returns every frame it sends
};

std::optional<Fault> ParseFault(std::string_view name);
std::string_view FaultName(Fault fault);
// Every fault name, for help and error texts.
std::string FaultNames();

// How the faults shape a reply in time.
inline constexpr std::chrono::milliseconds kLateDelay{1200};     // beyond a 1 s wait
inline constexpr std::chrono::milliseconds kStrayLateDelay{50};  // after the reply's end
inline constexpr std::chrono::milliseconds kBytewiseGap{20};     // under the 100 ms byte gap
inline constexpr std::uint8_t kStrayByte = 0x00;
inline constexpr std::uint8_t kDeviceFailure = 0x04;  // the exception code of the fault
// Where wrong-address replies come from; a detector at that address itself replies from
// OtherAddress's other choice.
inline constexpr std::uint8_t kOtherAddress = 0x77;
// Wrong-count's byte count is this many times the data's: 8 for one register, 16 for two.
inline constexpr unsigned kWrongCountFactor = 4;

// Modbus exception codes a slave answers with when it refuses a request.
inline constexpr std::uint8_t kIllegalFunction = 0x01;
inline constexpr std::uint8_t kIllegalAddress = 0x02;
inline constexpr std::uint8_t kIllegalValue = 0x03;

struct DetectorStart {
  std::uint16_t address = 1;
  std::uint16_t baudCode = 3;  // 9600
  std::uint16_t version = 10;  // tenths
  std::uint16_t sensitivity = 2;
  std::uint16_t voltage = 120;  // tenths of a volt
  std::uint16_t leak = 0;
  std::uint16_t alarm = 0;
};

struct RegisterWrite {
  std::uint8_t number = 0;
  std::uint16_t value = 0;
};

struct ReplyPart {
  std::chrono::milliseconds delay{0};  // after the end of the request
  std::vector<std::uint8_t> bytes;
};

struct Response {
  std::vector<ReplyPart> parts;        // in order of delay; none when the detector stays silent
  std::optional<RegisterWrite> write;  // takes effect once the last part has been sent
  std::string note;                    // what happened, for the log
};

class DetectorModel {
 public:
  explicit DetectorModel(const DetectorStart& start);

  // The answer to one frame (the bytes between two silences) heard while the line runs at
  // `lineBaud` (0 for a speed the detector does not know). The echo fault is the line's, not
  // the detector's (DetectorBus sends the echo); the detector answers under it as under none.
  Response Respond(std::span<const std::uint8_t> frame, int lineBaud) const;

  void Apply(const RegisterWrite& write) { registers_[write.number] = write.value; }
  std::uint16_t Register(std::uint8_t number) const { return registers_[number]; }
  void SetFault(Fault fault) { fault_ = fault; }
  Fault fault() const { return fault_; }

  std::uint8_t Address() const;
  int BaudRate() const;  // 0 while the baud code names no rate

 private:
  std::uint8_t ReplyAddress() const;
  Response Read(std::uint8_t address, std::uint16_t first, std::uint16_t count, int lineBaud) const;
  Response Write(std::uint8_t address, std::uint16_t number, std::uint16_t value,
                 int lineBaud) const;
  Response Refuse(std::uint8_t address, std::uint8_t function, std::uint8_t code,
                  const std::string& what, int lineBaud) const;
  // The reply as the fault sends it, on a line at `lineBaud`.
  Response Shape(std::vector<std::uint8_t> reply, int lineBaud) const;

  std::array<std::uint16_t, 10> registers_{};
  Fault fault_ = Fault::kNone;
};

// The address a wrong-address reply claims to come from: kOtherAddress, or kOtherAddress
// with its lowest bit flipped for a detector at kOtherAddress.
std::uint8_t OtherAddress(std::uint8_t own);

// Registers 0 to 4, 8 and 9 exist; 5 to 7 do not.
bool IsMappedRegister(unsigned number);
// The largest value a mapped register may hold at all: the address and the baud code decide
// how the detector talks, so they stay in range whoever sets them.
unsigned MaxStorableValue(unsigned number);
