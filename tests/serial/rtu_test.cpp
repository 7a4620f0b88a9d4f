// Framing and reply judging, without a port.
#include "serial/rtu.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The CRC computed bit by bit, independently of the tables, packed as ModbusCrc16 packs it.
std::uint16_t BitwiseCrc(const Bytes& data) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return static_cast<std::uint16_t>((crc & 0xFF) << 8 | crc >> 8);
}

Bytes WithCrc(Bytes frame) {
  const std::uint16_t crc = ModbusCrc16(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

TEST(ModbusCrc16Test, KnownRequestsGiveTheirLineBytes) {
  const Bytes readVoltage = {0x01, 0x03, 0x00, 0x04, 0x00, 0x01};
  const Bytes readEight = {0x01, 0x03, 0x00, 0x12, 0x00, 0x08};
  const Bytes writeOne = {0x01, 0x06, 0x00, 0x12, 0x00, 0x01};
  EXPECT_EQ(ModbusCrc16(readVoltage.data(), readVoltage.size()), 0xC5CB);
  EXPECT_EQ(ModbusCrc16(readEight.data(), readEight.size()), 0xE409);
  EXPECT_EQ(ModbusCrc16(writeOne.data(), writeOne.size()), 0xE80F);
  EXPECT_EQ(ModbusCrc16(nullptr, 0), 0xFFFF);
}

// A single byte after the initial 0xFF reaches every index of both tables.
TEST(ModbusCrc16Test, EveryTableEntryAgreesWithTheBitwiseCrc) {
  for (int value = 0; value < 256; ++value) {
    const Bytes one = {static_cast<std::uint8_t>(value)};
    const Bytes two = {0x5A, static_cast<std::uint8_t>(value)};
    ASSERT_EQ(ModbusCrc16(one.data(), 1), BitwiseCrc(one)) << "byte " << value;
    ASSERT_EQ(ModbusCrc16(two.data(), 2), BitwiseCrc(two)) << "byte " << value;
  }
}

TEST(BuildRtuRequestTest, HeadThenCrcLowOrderByteFirst) {
  const RtuRequest request = BuildRtuRequest({0x01, 0x03, 0x00, 0x04, 0x00, 0x01});
  EXPECT_EQ(request, (RtuRequest{0x01, 0x03, 0x00, 0x04, 0x00, 0x01, 0xC5, 0xCB}));
}

TEST(IsGoodRtuReplyTest, JudgesLengthQueueAndCrc) {
  const Bytes good = WithCrc({0x01, 0x03, 0x02, 0x00, 0x0A});
  EXPECT_TRUE(IsGoodRtuReply(good, 7, 7));
  EXPECT_TRUE(IsGoodRtuReply(WithCrc({0x2C, 0x03, 0x02, 0xFF, 0xFF}), 7, 7))
      << "the frame test alone: ClassifyRtuReply compares it with the request";

  EXPECT_FALSE(IsGoodRtuReply(std::span(good).first(5), 7, 5)) << "short";
  EXPECT_FALSE(IsGoodRtuReply(good, 7, 8)) << "a stray eighth byte was queued";
  Bytes badCrc = good;
  badCrc[3] ^= 0x01;
  EXPECT_FALSE(IsGoodRtuReply(badCrc, 7, 7)) << "bad CRC";
  const Bytes exception = WithCrc({0x01, 0x83, 0x02});
  EXPECT_FALSE(IsGoodRtuReply(exception, 7, 5)) << "exception reply";
  EXPECT_FALSE(IsGoodRtuReply({}, 0, 0));
}

// Each failure named from the bytes alone; the verdict stays IsGoodRtuReply's.
TEST(ClassifyRtuReplyTest, NamesEachFailure) {
  const Bytes readOne = WithCrc({0x01, 0x03, 0x00, 0x03, 0x00, 0x01});
  const Bytes reply = WithCrc({0x01, 0x03, 0x02, 0x00, 0x0A});
  const auto classify = [&](const Bytes& read, unsigned queued, const Bytes& request = {}) {
    return ClassifyRtuReply(request.empty() ? readOne : request, read, 7, queued);
  };
  EXPECT_EQ(classify(reply, 7), ExchangeResult::kGood);
  EXPECT_EQ(classify({}, 0), ExchangeResult::kNoReply);
  EXPECT_EQ(classify(Bytes(reply.begin(), reply.begin() + 4), 4), ExchangeResult::kShort);
  EXPECT_EQ(classify(reply, 5), ExchangeResult::kShort) << "two bytes came after the wait";
  EXPECT_EQ(classify(reply, 8), ExchangeResult::kTooLong);
  Bytes badCrc = reply;
  badCrc[4] ^= 0x01;
  EXPECT_EQ(classify(badCrc, 7), ExchangeResult::kBadCrc);
  EXPECT_EQ(classify(WithCrc({0x01, 0x83, 0x02}), 5), ExchangeResult::kException);
  EXPECT_EQ(classify(Bytes{0x01, 0x83, 0x02, 0x00, 0x00}, 5), ExchangeResult::kShort)
      << "an exception frame needs its CRC";
  EXPECT_EQ(classify(Bytes(readOne.begin(), readOne.begin() + 7), 15), ExchangeResult::kEcho)
      << "the echo of the request, then the reply";
  EXPECT_EQ(classify(Bytes(readOne.begin(), readOne.begin() + 7), 8), ExchangeResult::kEcho)
      << "the echo alone: nobody answered";
}

TEST(ClassifyRtuReplyTest, AWritesReplyIsAnEchoOnlyWhenTheRequestCameTwice) {
  const Bytes write = WithCrc({0x01, 0x06, 0x00, 0x02, 0x00, 0x01});
  EXPECT_EQ(ClassifyRtuReply(write, write, 8, 8), ExchangeResult::kGood);
  EXPECT_EQ(ClassifyRtuReply(write, write, 8, 9), ExchangeResult::kTooLong) << "a stray byte";
  EXPECT_EQ(ClassifyRtuReply(write, write, 8, 16), ExchangeResult::kEcho);
}

// A well-formed frame that does not answer the request is its own failure, however right its
// length and CRC.
TEST(ClassifyRtuReplyTest, AReplyMustAnswerTheRequest) {
  const Bytes readTwo = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
  const auto classifyRead = [&](const Bytes& read) {
    return ClassifyRtuReply(readTwo, read, 9, static_cast<unsigned>(read.size()));
  };
  EXPECT_EQ(classifyRead(WithCrc({0x01, 0x03, 0x04, 0x00, 0x01, 0x00, 0x02})),
            ExchangeResult::kGood);
  EXPECT_EQ(classifyRead(WithCrc({0x77, 0x03, 0x04, 0x00, 0x01, 0x00, 0x02})),
            ExchangeResult::kWrongAddress);
  EXPECT_EQ(classifyRead(WithCrc({0x01, 0x04, 0x04, 0x00, 0x01, 0x00, 0x02})),
            ExchangeResult::kWrongFunction);
  EXPECT_EQ(classifyRead(WithCrc({0x01, 0x03, 0x10, 0x00, 0x01, 0x00, 0x02})),
            ExchangeResult::kWrongByteCount)
      << "16 for 2 registers";
  EXPECT_EQ(classifyRead(WithCrc({0x01, 0x83, 0x02})), ExchangeResult::kException);
  EXPECT_EQ(classifyRead(WithCrc({0x05, 0x83, 0x02})), ExchangeResult::kWrongAddress)
      << "another slave's exception";
  EXPECT_EQ(classifyRead(WithCrc({0x01, 0x86, 0x02})), ExchangeResult::kWrongFunction)
      << "the exception of another function";

  const Bytes writeTwo = WithCrc({0x01, 0x06, 0x00, 0x02, 0x00, 0x02});
  const auto classifyWrite = [&](const Bytes& read) {
    return ClassifyRtuReply(writeTwo, read, 8, static_cast<unsigned>(read.size()));
  };
  EXPECT_EQ(classifyWrite(writeTwo), ExchangeResult::kGood);
  EXPECT_EQ(classifyWrite(WithCrc({0x01, 0x06, 0x00, 0x02, 0x00, 0x03})),
            ExchangeResult::kWrongConfirmation)
      << "another value";
  EXPECT_EQ(classifyWrite(WithCrc({0x01, 0x06, 0x00, 0x03, 0x00, 0x02})),
            ExchangeResult::kWrongConfirmation)
      << "another register";
  EXPECT_EQ(classifyWrite(WithCrc({0x02, 0x06, 0x00, 0x02, 0x00, 0x02})),
            ExchangeResult::kWrongAddress);
}

// The length and CRC tests stand as they were: what they refuse stays refused, and what they
// accept is good exactly when it answers the request.
TEST(ClassifyRtuReplyTest, TheVerdictKeepsTheReplyTestsForEveryCaseItCovers) {
  const Bytes request = WithCrc({0x01, 0x03, 0x00, 0x04, 0x00, 0x01});
  const Bytes good = WithCrc({0x01, 0x03, 0x02, 0x00, 0x0A});
  Bytes badCrc = good;
  badCrc[3] ^= 0x01;
  const Bytes exception = WithCrc({0x01, 0x83, 0x02});
  const Bytes other = WithCrc({0x2C, 0x03, 0x02, 0xFF, 0xFF});
  for (const Bytes& read :
       {good, badCrc, exception, other, Bytes{}, Bytes(good.begin(), good.end() - 1)}) {
    for (unsigned queued = 0; queued <= 16; ++queued) {
      EXPECT_EQ(ClassifyRtuReply(request, read, 7, queued) == ExchangeResult::kGood,
                IsGoodRtuReply(read, 7, queued) && read != other)
          << read.size() << " bytes read, " << queued << " queued";
    }
  }
}

TEST(RtuReplyTest, RegisterValuesAreUnsignedBigEndian) {
  RtuReply reply;
  reply.bytes = {0x01, 0x03, 0x04, 0xFF, 0xFF, 0x12, 0x34};
  EXPECT_EQ(reply.Register(0), 65535);
  EXPECT_EQ(reply.Register(1), 0x1234);
}

}  // namespace
