// Several detectors on one two-wire RS-485 line: every one hears every request and answers
// its own, and replies sent at the same time collide. Pure, like the model: the caller sends
// the parts after their delays and applies each write once its part is out.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "serial/line_time.h"
#include "tools/sim/detector_model.h"

struct DetectorWrite {
  std::size_t detector = 0;  // its place on the bus, 0 for the first
  RegisterWrite write;
};

struct LinePart {
  std::chrono::milliseconds delay{0};  // after the end of the request
  std::vector<std::uint8_t> bytes;
  std::vector<DetectorWrite> writes;  // take effect once these bytes have been sent
  bool echo = false;  // the adapter's echo of the request, on the line while the request was
};

struct LineResponse {
  std::vector<LinePart> parts;  // in order of delay; none when nobody answers
  std::string note;             // what happened, for the log
};

class DetectorBus {
 public:
  // `first` is the one the console drives and whose echo fault the line shows.
  explicit DetectorBus(const DetectorModel& first, const std::vector<DetectorModel>& others = {});

  // What comes back on the line for one frame heard at `lineBaud`: the one reply, the
  // replies colliding when several detectors answer, and first, under the first detector's
  // echo fault, the frame itself; after the reply a burst, if one is queued.
  LineResponse Respond(std::span<const std::uint8_t> frame, int lineBaud);

  // Noise on the line: `count` bytes of `value` right after the next reply, once. Until a
  // reply goes out (not an echo, and not while nobody answers) it waits.
  void QueueBurst(std::size_t count, std::uint8_t value) { burst_.assign(count, value); }

  void Apply(const DetectorWrite& write) { detectors_.at(write.detector).Apply(write.write); }
  DetectorModel& First() { return detectors_.front(); }
  // The first detector whose address is `address`; none when no detector has it.
  DetectorModel* At(unsigned address);
  const DetectorModel& Detector(std::size_t index) const { return detectors_.at(index); }

 private:
  std::vector<DetectorModel> detectors_;
  std::vector<std::uint8_t> burst_;  // empty when none is queued
};

// Colliding replies, bit by bit. Each byte goes out as 8N1: a low start bit, eight data bits
// from the lowest, a high stop bit. The line is low while any transmitter drives it low, the
// dominant level winning. Times count in bit times from the end of the request.
inline constexpr std::size_t kBitsPerByte = kLineBitsPerByte;

// Two detectors never start a reply in step; each later answerer starts this many bit times
// after the one before it, so that even identical replies garble as on a real line.
inline constexpr std::size_t kAnswerSkewBits = 3;

struct Transmission {
  std::size_t startBit = 0;
  std::vector<std::uint8_t> bytes;
};

struct HeardByte {
  std::size_t startBit = 0;
  std::uint8_t value = 0;
};

// What the master's receiver makes of the transmissions sharing the line: it takes a low bit
// as a start bit, samples the eight bits after it, hands the byte over whatever the stop bit
// was (as a UART does with input checking off) and looks for the next start bit after the
// stop bit.
std::vector<HeardByte> HearOnLine(std::span<const Transmission> sent);
