#include "tools/sim/detector_bus.h"

#include <gtest/gtest.h>

#include <utility>

#include "device/detector.h"
#include "tests/sim/request_frames.h"

namespace {

using std::chrono::milliseconds;
using Heard = std::vector<std::pair<std::size_t, std::uint8_t>>;  // start bit, value

Heard Hear(const std::vector<Transmission>& sent) {
  Heard heard;
  for (const HeardByte& byte : HearOnLine(sent)) heard.emplace_back(byte.startBit, byte.value);
  return heard;
}

DetectorModel At(std::uint16_t address, std::uint16_t version = 10) {
  return DetectorModel({.address = address, .version = version});
}

void ApplyAll(DetectorBus& bus, const LineResponse& response) {
  for (const LinePart& part : response.parts) {
    for (const DetectorWrite& write : part.writes) bus.Apply(write);
  }
}

TEST(HearOnLine, TheLowLevelWinsAndTheReceiverFramesWhatItHears) {
  struct Case {
    const char* what;
    std::vector<Transmission> sent;
    Heard heard;
  };
  const Case cases[] = {
      {"nothing sent", {}, {}},
      {"one sender",
       {{0, {0x01, 0x03, 0xFF, 0x00}}},
       {{0, 0x01}, {10, 0x03}, {20, 0xFF}, {30, 0x00}}},
      {"two in step: the bitwise AND", {{0, {0xF0}}, {0, {0x3C}}}, {{0, 0x30}}},
      // The second start bit lands on data bit 2 of the first byte.
      {"3 bits apart", {{0, {0xFF}}, {3, {0xFF}}}, {{0, 0xFB}}},
      // The second byte's last data bits outlast the first's frame and make one more byte.
      {"3 bits apart, one byte more", {{0, {0xFF}}, {3, {0x00}}}, {{0, 0x03}, {10, 0xFE}}},
      {"apart in time", {{0, {0x55}}, {25, {0xAA}}}, {{0, 0x55}, {25, 0xAA}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hear(c.sent), c.heard) << c.what;
  }
}

TEST(DetectorBus, OneDetectorOnTheLineAnswersAsItsModelShapesIt) {
  const Bytes requests[] = {Read(1, reg::kVoltage), Write(1, reg::kSensitivity, 3)};
  for (const Fault fault :
       {Fault::kNone, Fault::kSilent, Fault::kLate, Fault::kBadCrc, Fault::kStray,
        Fault::kStrayLate, Fault::kException, Fault::kBytewise, Fault::kWrongAddress,
        Fault::kWrongValue, Fault::kWrongCount, Fault::kAnswerAll}) {
    SCOPED_TRACE(FaultName(fault));
    DetectorModel detector(DetectorStart{});
    detector.SetFault(fault);
    DetectorBus bus(detector);
    for (const Bytes& request : requests) {
      const Response alone = detector.Respond(request, 9600);
      const LineResponse line = bus.Respond(request, 9600);
      EXPECT_EQ(line.note, alone.note);
      ASSERT_EQ(line.parts.size(), alone.parts.size());
      for (std::size_t i = 0; i < line.parts.size(); ++i) {
        EXPECT_EQ(line.parts[i].delay, alone.parts[i].delay);
        EXPECT_EQ(line.parts[i].bytes, alone.parts[i].bytes);
        // The write waits for the last part, as it always has.
        const bool writes = alone.write && i + 1 == line.parts.size();
        EXPECT_EQ(line.parts[i].writes.size(), writes ? 1u : 0u);
      }
    }
  }
}

TEST(DetectorBus, EchoFaultSendsEveryFrameBackOnceBeforeAnyReply) {
  DetectorModel first = At(1);
  const DetectorModel other = At(2, 21);
  const Bytes read = Read(1, reg::kVoltage);
  const Bytes write = Write(1, reg::kSensitivity, 3);
  const Bytes otherRead = Read(2, reg::kVersion);
  Bytes garbage = read;
  garbage[7] ^= 0x01;
  struct Case {
    const char* what;
    Bytes frame;
    int baud;
    Bytes answer;  // after the echo
  };
  const Case cases[] = {
      {"the first one's read", read, 9600, Joined(first.Respond(read, 9600))},
      {"the first one's write", write, 9600, write},
      {"the other one's read", otherRead, 9600, Joined(other.Respond(otherRead, 9600))},
      {"nobody's address", Read(3, reg::kVoltage), 9600, {}},
      {"another rate", read, 4800, {}},
      {"not a frame", garbage, 9600, {}},
  };
  first.SetFault(Fault::kEcho);
  DetectorBus bus(first, {other});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LineResponse response = bus.Respond(c.frame, c.baud);
    ASSERT_FALSE(response.parts.empty());
    EXPECT_EQ(response.parts.front().delay, milliseconds(0));
    EXPECT_EQ(response.parts.front().bytes, c.frame);
    EXPECT_TRUE(response.parts.front().writes.empty());
    response.parts.erase(response.parts.begin());
    EXPECT_EQ(Joined(response), c.answer);
  }
  EXPECT_EQ(ParseFault("echo"), Fault::kEcho);
}

TEST(DetectorBus, EachDetectorAnswersItsOwnAddress) {
  DetectorBus bus(At(1, 10), {At(2, 21), At(3, 32)});
  const std::pair<std::uint8_t, std::uint16_t> versions[] = {{1, 10}, {2, 21}, {3, 32}};
  for (const auto& [address, version] : versions) {
    const Bytes reply = Joined(bus.Respond(Read(address, reg::kVersion), 9600));
    ASSERT_EQ(reply.size(), 7u) << int(address);
    EXPECT_TRUE(IsGood(reply)) << int(address);
    EXPECT_EQ(reply[0], address);
    EXPECT_EQ(reply[3] << 8 | reply[4], version);
  }
  EXPECT_TRUE(bus.Respond(Read(4, reg::kVersion), 9600).parts.empty());
}

TEST(DetectorBus, RepliesToOneAddressCollideIntoAGarbledFrame) {
  const Bytes request = Read(1, reg::kVersion);
  // 01 03 02 00 0A 38 43 and 01 03 02 00 0B F9 83, the second 3 bits late, as a receiver
  // hears them (worked out by a separate 16-times oversampling receiver).
  DetectorBus differing(At(1, 10), {At(2, 21), At(1, 11)});
  const LineResponse collided = differing.Respond(request, 9600);
  EXPECT_EQ(Joined(collided), (Bytes{0x01, 0x02, 0x02, 0x00, 0x0A, 0x08, 0x03, 0xFF}));
  EXPECT_NE(collided.note.find("collide"), std::string::npos) << collided.note;

  // Alike detectors never send in step, so even their replies garble.
  DetectorBus alike(At(1), {At(1)});
  const Bytes garbled = Joined(alike.Respond(request, 9600));
  ASSERT_GE(garbled.size(), 7u);
  EXPECT_FALSE(IsGood(Bytes(garbled.begin(), garbled.begin() + 7)));
}

TEST(DetectorBus, RepliesApartInTimeStayWhole) {
  DetectorModel late = At(1);
  late.SetFault(Fault::kLate);
  DetectorBus bus(late, {At(1)});
  const Bytes request = Write(1, reg::kSensitivity, 3);
  const LineResponse response = bus.Respond(request, 9600);
  ASSERT_EQ(response.parts.size(), 2u);
  EXPECT_LE(response.parts[0].delay, milliseconds(1));
  EXPECT_EQ(response.parts[0].bytes, request);
  EXPECT_EQ(response.parts[1].delay, kLateDelay);
  EXPECT_EQ(response.parts[1].bytes, request);
  // Each write waits for its own detector's reply only.
  ASSERT_EQ(response.parts[0].writes.size(), 1u);
  EXPECT_EQ(response.parts[0].writes[0].detector, 1u);
  ASSERT_EQ(response.parts[1].writes.size(), 1u);
  EXPECT_EQ(response.parts[1].writes[0].detector, 0u);
}

TEST(DetectorBus, BurstFollowsTheNextReplyOnce) {
  DetectorModel first = At(1);
  first.SetFault(Fault::kEcho);
  DetectorBus bus(first, {At(2)});
  bus.QueueBurst(5, 0xFF);
  // Neither an echo alone nor a frame nobody answers is a reply.
  const Bytes nobodys = Read(3, reg::kVoltage);
  EXPECT_EQ(Joined(bus.Respond(nobodys, 9600)), nobodys);

  const Bytes write = Write(2, reg::kSensitivity, 3);
  const LineResponse response = bus.Respond(write, 9600);
  ASSERT_EQ(response.parts.size(), 3u);  // the echo, the reply, the burst
  EXPECT_EQ(response.parts[1].bytes, write);
  EXPECT_EQ(response.parts[1].writes.size(), 1u) << "the write goes with the reply";
  EXPECT_EQ(response.parts[2].delay, response.parts[1].delay);
  EXPECT_EQ(response.parts[2].bytes, Bytes(5, 0xFF));
  EXPECT_TRUE(response.parts[2].writes.empty());

  EXPECT_EQ(bus.Respond(write, 9600).parts.size(), 2u) << "once only";
}

TEST(DetectorBus, BurstFollowsALateReplyAndACollision) {
  DetectorModel late = At(1);
  late.SetFault(Fault::kLate);
  DetectorBus alone(late);
  alone.QueueBurst(2, 0x00);
  const LineResponse lateReply = alone.Respond(Read(1, reg::kVoltage), 9600);
  ASSERT_EQ(lateReply.parts.size(), 2u);
  EXPECT_EQ(lateReply.parts[1].delay, kLateDelay);
  EXPECT_EQ(lateReply.parts[1].bytes, Bytes(2, 0x00));

  DetectorBus alike(At(1), {At(1)});
  const Bytes garbled = Joined(alike.Respond(Read(1, reg::kVoltage), 9600));
  alike.QueueBurst(4, 0x55);
  Bytes followed = Joined(alike.Respond(Read(1, reg::kVoltage), 9600));
  ASSERT_EQ(followed.size(), garbled.size() + 4);
  EXPECT_EQ(Bytes(followed.end() - 4, followed.end()), Bytes(4, 0x55));
  followed.resize(garbled.size());
  EXPECT_EQ(followed, garbled);
}

TEST(DetectorBus, WritesChangeEachDetectorThatAcceptedThem) {
  DetectorBus bus(At(1), {At(1), At(2)});
  ApplyAll(bus, bus.Respond(Write(1, reg::kSlaveAddress, 7), 9600));
  EXPECT_EQ(bus.Detector(0).Address(), 7);
  EXPECT_EQ(bus.Detector(1).Address(), 7);
  EXPECT_EQ(bus.Detector(2).Address(), 2);

  // Refused by the first, carried out by the second, whose reply collides with the refusal.
  bus.First().SetFault(Fault::kException);
  const LineResponse response = bus.Respond(Write(7, reg::kBaudCode, 4), 9600);
  EXPECT_FALSE(IsGood(Joined(response)));
  ApplyAll(bus, response);
  EXPECT_EQ(bus.Detector(0).BaudRate(), 9600);
  EXPECT_EQ(bus.Detector(1).BaudRate(), 19200);
  EXPECT_EQ(bus.Detector(2).BaudRate(), 9600);
}

}  // namespace
