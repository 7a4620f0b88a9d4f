// Modbus RTU framing: the 8-byte request, the CRC, the reply test and the exchange.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "serial/comm_port.h"

// The CRC as the two bytes go on the line: high half first, low half second.
std::uint16_t ModbusCrc16(const std::uint8_t* data, std::size_t length);

using RtuRequestHead = std::array<std::uint8_t, 6>;  // address, function, 4 bytes of data
using RtuRequest = std::array<std::uint8_t, 8>;

// The head followed by its CRC.
RtuRequest BuildRtuRequest(const RtuRequestHead& head);

inline constexpr std::size_t kMaxRtuReply = 9;

struct RtuReply {
  std::array<std::uint8_t, kMaxRtuReply> bytes{};
  std::size_t length = 0;

  // The unsigned big-endian value of register `index` (0 for the first) of a read reply.
  std::uint16_t Register(std::size_t index) const {
    return static_cast<std::uint16_t>(bytes[3 + 2 * index] << 8 | bytes[4 + 2 * index]);
  }
};

// The frame test: a reply is well formed only when the queue held exactly the expected
// length, that many bytes were read, and the CRC over all but the last two matches them.
bool IsGoodRtuReply(std::span<const std::uint8_t> read, std::size_t expectedLength,
                    unsigned queuedCount);

// Why an exchange failed, or that it did not.
enum class ExchangeResult {
  kGood,
  kNoReply,            // nothing came
  kShort,              // fewer bytes than the reply's length came in time
  kTooLong,            // more bytes than the reply's length were queued
  kBadCrc,             // the right length, a wrong CRC
  kWrongAddress,       // a well-formed reply from another slave address
  kWrongFunction,      // a well-formed reply with another function code
  kWrongByteCount,     // a read's reply whose byte count is not twice the registers asked
  kWrongConfirmation,  // a write's reply that does not repeat the register and value written
  kException,          // a 5-byte exception reply to the function asked: top bit set, a good CRC
  kEcho,               // what came begins with the request itself: an adapter that echoes
  kWrongEcho,          // with local echo expected, what came first was not the request
  kLineGone,           // the system reported the line gone: a hang-up, an adapter pulled
  kNotOpen,  // the line went, and opening it again was refused (see ExchangeOutcome::refusal)
};

// What one exchange did on the line, and how it ended.
struct ExchangeOutcome {
  ExchangeResult result = ExchangeResult::kNoReply;
  std::optional<RtuReply> reply;    // with kGood
  std::size_t expected = 0;         // the reply's length
  unsigned waitMs = 0;              // the wait for it
  unsigned queued = 0;              // bytes queued when the wait for the reply ended
  std::uint8_t exceptionCode = 0;   // with kException
  std::vector<std::uint8_t> stale;  // left on the line before the request, and discarded
  std::vector<std::uint8_t> sent;
  std::vector<std::uint8_t> received;  // everything read after it, an expected echo included
  // From the end of the write to the arrival of the last byte read; none when nothing came.
  std::optional<std::chrono::milliseconds> replyTime;
  CommError refusal{};  // with kNotOpen: why the line could not be opened again

  bool good() const { return result == ExchangeResult::kGood; }
};

// Judges the bytes read for `request` when the queue held `queuedCount`: kGood exactly when
// IsGoodRtuReply accepts them and they answer the request (its address, its function, a
// read's byte count, a write's register and value); otherwise what is wrong with them.
ExchangeResult ClassifyRtuReply(std::span<const std::uint8_t> request,
                                std::span<const std::uint8_t> read, std::size_t expectedLength,
                                unsigned queuedCount);

// One attempt: discard what is already queued, write the request, wait up to `waitMs` for
// the reply, read exactly `replyLength` bytes, judge them. No retry. On a port in local-echo
// mode (SetCommLocalEcho) the echo of the request is read and compared first, then the
// reply is waited for and judged the same way. On a port set so (SetCommSilenceEndsWait), a
// wait to which nothing came is not followed by the read; on one that reads begun replies
// (SetCommReadsBegunReply), a reply begun by the end of the wait is waited for to its end.
ExchangeOutcome RtuExchange(CommHandle port, const RtuRequestHead& head, std::size_t replyLength,
                            unsigned waitMs);

// Bytes as traces show them: "01 03 00 04 00 01 C5 CB".
std::string HexBytes(std::span<const std::uint8_t> bytes);
