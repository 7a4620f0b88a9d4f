#include "tools/sim/detector_model.h"

#include <gtest/gtest.h>

#include "device/detector.h"
#include "tests/sim/request_frames.h"
#include "tools/sim/frame_splitter.h"

namespace {

using std::chrono::milliseconds;

TEST(DetectorModel, AnswersOnlyItsOwnAddressAtItsOwnBaud) {
  const DetectorModel detector({.address = 1, .baudCode = 3});
  // A voltage read of slave 1; the default is 12.0 V.
  EXPECT_EQ(Joined(detector.Respond(Read(1, reg::kVoltage), 9600)),
            (Bytes{0x01, 0x03, 0x02, 0x00, 0x78, 0xB8, 0x66}));
  EXPECT_TRUE(detector.Respond(Read(2, reg::kVoltage), 9600).parts.empty());
  EXPECT_TRUE(detector.Respond(Read(1, reg::kVoltage), 4800).parts.empty());
  EXPECT_TRUE(detector.Respond(Read(1, reg::kVoltage), 0).parts.empty());

  const DetectorModel atZero({.address = 0, .baudCode = 0});
  EXPECT_TRUE(IsGood(Joined(atZero.Respond(Read(0, reg::kVoltage), 1200))));
}

TEST(DetectorModel, ReadsConsecutiveRegistersAsUnsignedWords) {
  const DetectorModel detector({.version = 65535, .leak = 0x0101, .alarm = 3});
  const Bytes status = Joined(detector.Respond(Read(1, reg::kLeakState, 2), 9600));
  ASSERT_EQ(status.size(), 9u);
  EXPECT_TRUE(IsGood(status));
  EXPECT_EQ(status[2], 4);
  EXPECT_EQ((Bytes(status.begin() + 3, status.begin() + 7)), (Bytes{0x01, 0x01, 0x00, 0x03}));

  const Bytes version = Joined(detector.Respond(Read(1, reg::kVersion), 9600));
  ASSERT_EQ(version.size(), 7u);
  EXPECT_EQ(version[3], 0xFF);
  EXPECT_EQ(version[4], 0xFF);
}

TEST(DetectorModel, AddressWriteTakesEffectOnlyAfterTheReply) {
  DetectorModel detector({.address = 1});
  const Bytes request = Write(1, reg::kSlaveAddress, 7);
  const Response response = detector.Respond(request, 9600);
  EXPECT_EQ(Joined(response), request);  // the echo, from the old address
  ASSERT_TRUE(response.write);
  EXPECT_EQ(detector.Address(), 1);

  detector.Apply(*response.write);
  EXPECT_TRUE(detector.Respond(Read(1, reg::kVoltage), 9600).parts.empty());
  EXPECT_FALSE(detector.Respond(Read(7, reg::kVoltage), 9600).parts.empty());
}

TEST(DetectorModel, BaudWriteTakesEffectOnlyAfterTheReply) {
  DetectorModel detector({.baudCode = 3});
  const Response response = detector.Respond(Write(1, reg::kBaudCode, 4), 9600);
  ASSERT_TRUE(response.write);
  EXPECT_EQ(detector.BaudRate(), 9600);

  detector.Apply(*response.write);
  EXPECT_EQ(detector.BaudRate(), 19200);
  EXPECT_TRUE(detector.Respond(Read(1, reg::kVoltage), 9600).parts.empty());
  EXPECT_FALSE(detector.Respond(Read(1, reg::kVoltage), 19200).parts.empty());
}

TEST(DetectorModel, RefusesWhatARealSlaveWouldWithAnExceptionAndNoWrite) {
  struct Case {
    Bytes request;
    std::uint8_t function;
    std::uint8_t code;
  };
  const Case cases[] = {
      {Read(1, 5), 0x83, kIllegalAddress},                    // a hole in the map
      {Read(1, reg::kVersion, 3), 0x83, kIllegalAddress},     // 3 to 5 runs into it
      {Read(1, reg::kVoltage, 0), 0x83, kIllegalValue},       // nothing asked for
      {Write(1, reg::kVersion, 12), 0x86, kIllegalAddress},   // read-only
      {Write(1, reg::kSensitivity, 0), 0x86, kIllegalValue},  // no selection in the window
      {Write(1, reg::kBaudCode, 0xFF), 0x86, kIllegalValue},  // would make it unreachable
      {Write(1, reg::kSlaveAddress, 300), 0x86, kIllegalValue},
      {Request(1, 0x10, 0, 1), 0x90, kIllegalFunction},
  };
  const DetectorModel detector(DetectorStart{});
  for (const auto& c : cases) {
    const Response response = detector.Respond(c.request, 9600);
    const Bytes reply = Joined(response);
    ASSERT_EQ(reply.size(), 5u) << response.note;
    EXPECT_TRUE(IsGood(reply));
    EXPECT_EQ(reply[1], c.function) << response.note;
    EXPECT_EQ(reply[2], c.code) << response.note;
    EXPECT_FALSE(response.write) << response.note;
  }
}

TEST(DetectorModel, IgnoresWhatIsNotARequest) {
  const DetectorModel detector(DetectorStart{});
  Bytes corrupted = Read(1, reg::kVoltage);
  corrupted[7] ^= 0x01;
  Bytes trailing = Read(1, reg::kVoltage);
  trailing.push_back(0x00);
  const Bytes frames[] = {{}, {0x01}, {0x01, 0x03, 0x00}, corrupted, trailing, Bytes(300, 0xFF)};
  for (const auto& frame : frames) {
    EXPECT_TRUE(detector.Respond(frame, 9600).parts.empty()) << frame.size() << " bytes";
  }
}

TEST(DetectorModel, EachFaultShapesTheReply) {
  DetectorModel detector(DetectorStart{});
  const Bytes request = Read(1, reg::kVoltage);
  const Bytes good = Joined(detector.Respond(request, 9600));
  ASSERT_TRUE(IsGood(good));

  detector.SetFault(Fault::kSilent);
  EXPECT_TRUE(detector.Respond(request, 9600).parts.empty());

  detector.SetFault(Fault::kLate);
  Response late = detector.Respond(request, 9600);
  ASSERT_EQ(late.parts.size(), 1u);
  EXPECT_GT(late.parts[0].delay, milliseconds(1000));
  EXPECT_EQ(late.parts[0].bytes, good);

  detector.SetFault(Fault::kBadCrc);
  const Bytes badCrc = Joined(detector.Respond(request, 9600));
  ASSERT_EQ(badCrc.size(), good.size());
  EXPECT_FALSE(IsGood(badCrc));
  EXPECT_TRUE(std::equal(good.begin(), good.end() - 2, badCrc.begin()));

  detector.SetFault(Fault::kStray);
  Bytes stray = Joined(detector.Respond(request, 9600));
  ASSERT_EQ(stray.size(), good.size() + 1);
  stray.pop_back();
  EXPECT_EQ(stray, good);

  detector.SetFault(Fault::kStrayLate);
  const Response strayLate = detector.Respond(request, 9600);
  ASSERT_EQ(strayLate.parts.size(), 2u);
  EXPECT_EQ(strayLate.parts[0].bytes, good);
  EXPECT_EQ(strayLate.parts[0].delay, milliseconds(0));
  EXPECT_EQ(strayLate.parts[1].bytes.size(), 1u);
  EXPECT_GT(strayLate.parts[1].delay, milliseconds(0));

  detector.SetFault(Fault::kException);
  const Bytes exception = Joined(detector.Respond(request, 9600));
  EXPECT_EQ(exception.size(), 5u);
  EXPECT_TRUE(IsGood(exception));
  EXPECT_EQ(exception[1], 0x83);

  detector.SetFault(Fault::kBytewise);
  const Response bytewise = detector.Respond(request, 9600);
  ASSERT_EQ(bytewise.parts.size(), good.size());
  EXPECT_EQ(Joined(bytewise), good);
  for (std::size_t i = 1; i < bytewise.parts.size(); ++i) {
    const auto gap = bytewise.parts[i].delay - bytewise.parts[i - 1].delay;
    EXPECT_GT(gap, milliseconds(0));
    EXPECT_LT(gap, milliseconds(100));  // within the reader's gap between two bytes
  }
}

TEST(DetectorModel, SpoiledRepliesStillCarryOutTheWriteButRefusalsDoNot) {
  DetectorModel detector(DetectorStart{});
  const Bytes request = Write(1, reg::kSensitivity, 3);
  for (const Fault fault : {Fault::kLate, Fault::kBadCrc, Fault::kStray, Fault::kBytewise,
                            Fault::kWrongAddress, Fault::kWrongCount, Fault::kAnswerAll}) {
    detector.SetFault(fault);
    EXPECT_TRUE(detector.Respond(request, 9600).write) << FaultName(fault);
  }
  for (const Fault fault : {Fault::kSilent, Fault::kException, Fault::kWrongValue}) {
    detector.SetFault(fault);
    EXPECT_FALSE(detector.Respond(request, 9600).write) << FaultName(fault);
  }
}

// The lying faults: well-formed frames with good CRCs whose content does not fit the request.
TEST(DetectorModel, WrongAddressRepliesFromAnotherAddressToItsOwnRequestsOnly) {
  DetectorModel detector(DetectorStart{});
  detector.SetFault(Fault::kWrongAddress);
  const Bytes read = Joined(detector.Respond(Read(1, reg::kVoltage), 9600));
  EXPECT_EQ(read, (Bytes{0x77, 0x03, 0x02, 0x00, 0x78, 0x71, 0xAD}));  // the voltage, 12.0 V
  EXPECT_TRUE(IsGood(read));
  EXPECT_TRUE(detector.Respond(Read(0x77, reg::kVoltage), 9600).parts.empty());

  const Response write = detector.Respond(Write(1, reg::kSensitivity, 3), 9600);
  EXPECT_EQ(Joined(write), Write(0x77, reg::kSensitivity, 3));
  const Bytes refusal = Joined(detector.Respond(Read(1, 5), 9600));
  ASSERT_EQ(refusal.size(), 5u);
  EXPECT_TRUE(IsGood(refusal));
  EXPECT_EQ(refusal[0], 0x77);
  EXPECT_EQ(refusal[1], 0x83);

  DetectorModel atTheOther({.address = 0x77});
  atTheOther.SetFault(Fault::kWrongAddress);
  const Bytes fromElsewhere = Joined(atTheOther.Respond(Read(0x77, reg::kVoltage), 9600));
  ASSERT_EQ(fromElsewhere.size(), 7u);
  EXPECT_TRUE(IsGood(fromElsewhere));
  EXPECT_EQ(fromElsewhere[0], 0x76);
}

TEST(DetectorModel, WrongValueConfirmsAWriteOfVWithVPlusOneAndKeepsTheOldValue) {
  DetectorModel detector(DetectorStart{});
  detector.SetFault(Fault::kWrongValue);
  const Response response = detector.Respond(Write(1, reg::kSensitivity, 3), 9600);
  EXPECT_EQ(Joined(response), Write(1, reg::kSensitivity, 4));  // 06 00 02 00 04, a good CRC
  EXPECT_FALSE(response.write);
  EXPECT_EQ(detector.Register(reg::kSensitivity), 2);
  EXPECT_EQ(Joined(detector.Respond(Write(1, reg::kSlaveAddress, 9), 9600)),
            Write(1, reg::kSlaveAddress, 10));

  // Reads and refusals are as under none.
  const DetectorModel plain(DetectorStart{});
  for (const Bytes& request : {Read(1, reg::kLeakState, 2), Write(1, reg::kSensitivity, 0)}) {
    EXPECT_EQ(Joined(detector.Respond(request, 9600)), Joined(plain.Respond(request, 9600)));
  }
}

TEST(DetectorModel, WrongCountGivesFourTimesTheByteCountOverTheRightData) {
  DetectorModel detector({.leak = 1, .alarm = 2});
  const DetectorModel plain = detector;
  detector.SetFault(Fault::kWrongCount);
  for (const std::uint16_t count : {1, 2}) {
    SCOPED_TRACE(count);
    const Bytes good = Joined(plain.Respond(Read(1, reg::kLeakState, count), 9600));
    const Bytes wrong = Joined(detector.Respond(Read(1, reg::kLeakState, count), 9600));
    ASSERT_EQ(wrong.size(), good.size());
    EXPECT_TRUE(IsGood(wrong));
    EXPECT_EQ(wrong[2], 8 * count);
    EXPECT_TRUE(std::equal(good.begin() + 3, good.end() - 2, wrong.begin() + 3));
  }
  const Bytes write = Write(1, reg::kSensitivity, 3);
  EXPECT_EQ(Joined(detector.Respond(write, 9600)), write);
}

TEST(DetectorModel, AnswerAllAnswersEveryAddressAtEveryRateFromItsOwn) {
  DetectorModel detector({.address = 1, .baudCode = 3});
  detector.SetFault(Fault::kAnswerAll);
  const DetectorModel plain(DetectorStart{});
  const Bytes own = Joined(plain.Respond(Read(1, reg::kVoltage), 9600));
  for (const int baud : {9600, 1200, 19200, 0}) {
    for (const std::uint8_t address : {1, 0, 2, 0x77, 255}) {
      EXPECT_EQ(Joined(detector.Respond(Read(address, reg::kVoltage), baud)), own)
          << "address " << int(address) << " at " << baud;
    }
  }
  const Response write = detector.Respond(Write(9, reg::kSensitivity, 3), 4800);
  EXPECT_EQ(Joined(write), Write(1, reg::kSensitivity, 3));
  ASSERT_TRUE(write.write);
  Bytes corrupted = Read(2, reg::kVoltage);
  corrupted.back() ^= 0x01;
  EXPECT_TRUE(detector.Respond(corrupted, 9600).parts.empty());
}

TEST(FrameSplitter, AFrameEndsOnlyAtASilence) {
  using Clock = FrameSplitter::Clock;
  const Clock::time_point t0{};
  const milliseconds silence(5);
  FrameSplitter splitter;
  EXPECT_FALSE(splitter.Deadline());
  EXPECT_EQ(splitter.FramesHeard(), 0u);

  // Garbage, a pause, then a request: the garbage is a frame of its own, counted from its
  // first byte.
  splitter.Add(Bytes{0xAA, 0xBB}, t0, silence);
  EXPECT_EQ(splitter.FramesHeard(), 1u);
  EXPECT_FALSE(splitter.Take(t0 + milliseconds(4)));
  EXPECT_EQ(splitter.Take(t0 + silence), (Bytes{0xAA, 0xBB}));

  // A request in two pieces inside the silence is one frame.
  const Bytes request = Read(1, reg::kVoltage);
  splitter.Add(std::span(request).first(3), t0 + milliseconds(10), silence);
  splitter.Add(std::span(request).subspan(3), t0 + milliseconds(13), silence);
  EXPECT_EQ(splitter.Deadline(), t0 + milliseconds(18));
  EXPECT_FALSE(splitter.Take(t0 + milliseconds(16)));
  EXPECT_EQ(splitter.Take(t0 + milliseconds(18)), request);
  EXPECT_FALSE(splitter.Deadline());
  EXPECT_EQ(splitter.FramesHeard(), 2u);
}

TEST(FrameSplitter, EndlessGarbageIsCappedAndSilenceScalesWithBaud) {
  FrameSplitter splitter;
  const FrameSplitter::Clock::time_point t0{};
  for (int i = 0; i < 10; ++i) splitter.Add(Bytes(100, 0x55), t0, milliseconds(5));
  EXPECT_EQ(splitter.Take(t0 + milliseconds(5))->size(), 256u);
  EXPECT_EQ(splitter.FramesHeard(), 1u);

  EXPECT_GE(FrameSilence(1200), milliseconds(30));  // 3.5 characters at 1200 baud: 32 ms
  EXPECT_LT(FrameSilence(1200), milliseconds(35));
  EXPECT_EQ(FrameSilence(19200), milliseconds(5));
  EXPECT_EQ(FrameSilence(0), milliseconds(5));
}

}  // namespace
