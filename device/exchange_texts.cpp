#include "device/exchange_texts.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include "res/tip_texts.h"
#include "ui/number_text.h"

namespace {

using Outcome = ExchangeOutcome;

const char* ExceptionName(std::uint8_t code) {
  switch (code) {
    case 1:
      return "illegal function";
    case 2:
      return "illegal data address";
    case 3:
      return "illegal data value";
    case 4:
      return "slave device failure";
    case 5:
      return "acknowledge";
    case 6:
      return "slave device busy";
    case 8:
      return "memory parity error";
    case 10:
      return "gateway path unavailable";
    case 11:
      return "gateway target device failed to respond";
    default:
      return nullptr;
  }
}

// What came after the request's echo, when the port expected one and it came.
std::span<const std::uint8_t> ReplyBytes(const Outcome& outcome, bool echo) {
  const std::span<const std::uint8_t> received = outcome.received;
  const bool echoTaken = echo && outcome.result != ExchangeResult::kWrongEcho &&
                         received.size() >= outcome.sent.size();
  return echoTaken ? received.subspan(outcome.sent.size()) : received;
}

// The reply's byte `index`, or 0 when it did not come; the judge has seen it when it asks.
unsigned ReplyByte(const Outcome& outcome, bool echo, std::size_t index) {
  const auto reply = ReplyBytes(outcome, echo);
  return index < reply.size() ? reply[index] : 0;
}

unsigned SentByte(const Outcome& outcome, std::size_t index) {
  return index < outcome.sent.size() ? outcome.sent[index] : 0;
}

unsigned SentWord(const Outcome& outcome, std::size_t index) {
  return SentByte(outcome, index) << 8 | SentByte(outcome, index + 1);
}

unsigned ReplyWord(const Outcome& outcome, bool echo, std::size_t index) {
  return ReplyByte(outcome, echo, index) << 8 | ReplyByte(outcome, echo, index + 1);
}

// Whether fewer bytes came than the reply has, rather than all of them but late.
bool CutShort(const Outcome& outcome, bool echo) {
  return ReplyBytes(outcome, echo).size() < outcome.expected;
}

// With --echo, not even the request came back.
bool NothingEchoed(const Outcome& outcome, bool echo) {
  return echo && outcome.result == ExchangeResult::kNoReply && outcome.received.empty();
}

// "a 7-byte reply", "an 8-byte reply": the replies are 5 to 9 bytes long.
std::string SizedReply(std::size_t length) {
  return (length == 8 ? "an " : "a ") + std::to_string(length) + "-byte reply";
}

std::string Number(unsigned value) {
  return std::to_string(value);
}

std::string Milliseconds(const std::optional<std::chrono::milliseconds>& time) {
  return std::to_string(time.value_or(std::chrono::milliseconds(0)).count()) + " ms";
}

std::string GoodSummary(const Outcome& outcome, bool) {
  return "good, reply after " + Milliseconds(outcome.replyTime);
}

std::string NoReplySummary(const Outcome& outcome, bool echo) {
  return (NothingEchoed(outcome, echo) ? "no echo and no reply within " : "no reply within ") +
         Number(outcome.waitMs) + " ms";
}

std::string ShortSummary(const Outcome& outcome, bool echo) {
  const std::string expected = Number(static_cast<unsigned>(outcome.expected));
  if (CutShort(outcome, echo)) {
    return "only " + Number(static_cast<unsigned>(ReplyBytes(outcome, echo).size())) + " of " +
           expected + " bytes came";
  }
  return "only " + Number(outcome.queued) + " of " + expected + " bytes came within " +
         Number(outcome.waitMs) + " ms";
}

std::string TooLongSummary(const Outcome& outcome, bool) {
  return Number(outcome.queued) + " bytes queued for " + SizedReply(outcome.expected);
}

std::string BadCrcSummary(const Outcome& outcome, bool) {
  return Number(static_cast<unsigned>(outcome.expected)) + " bytes with a bad CRC";
}

std::string WrongAddressSummary(const Outcome& outcome, bool echo) {
  return "a reply from address " + Number(ReplyByte(outcome, echo, 0)) + ", not " +
         Number(SentByte(outcome, 0));
}

std::string WrongFunctionSummary(const Outcome& outcome, bool echo) {
  return "a reply for function " + Number(ReplyByte(outcome, echo, 1)) + " to function " +
         Number(SentByte(outcome, 1));
}

std::string WrongByteCountSummary(const Outcome& outcome, bool echo) {
  const unsigned registers = SentWord(outcome, 4);
  return "byte count " + Number(ReplyByte(outcome, echo, 2)) + " for " + Number(registers) +
         (registers == 1 ? " register" : " registers");
}

std::string WrongConfirmationSummary(const Outcome& outcome, bool echo) {
  const unsigned reg = ReplyWord(outcome, echo, 2);
  if (reg != SentWord(outcome, 2)) {
    return "the detector confirmed register " + Number(reg) + ", not " +
           Number(SentWord(outcome, 2));
  }
  return "the detector confirmed value " + Number(ReplyWord(outcome, echo, 4)) + ", not " +
         Number(SentWord(outcome, 4));
}

std::string ExceptionSummary(const Outcome& outcome, bool echo) {
  const char* name = ExceptionName(outcome.exceptionCode);
  std::string text = "exception " + Number(outcome.exceptionCode);
  if (name) text += std::string(", ") + name;
  const auto reply = ReplyBytes(outcome, echo);
  if (!reply.empty()) text += ", from slave " + Number(reply[0]);
  return text;
}

std::string EchoSummary(const Outcome&, bool) {
  return "the adapter echoed the request";
}

std::string WrongEchoSummary(const Outcome&, bool) {
  return "the echo did not match the request";
}

std::string LineGoneSummary(const Outcome&, bool) {
  return "the line is gone";
}

std::string NotOpenSummary(const Outcome& outcome, bool) {
  return "the port did not open again: " + outcome.refusal.message;
}

std::string_view NoReplyCheck(const Outcome& outcome, bool echo) {
  return NothingEchoed(outcome, echo)
             ? "not even the request's echo came back: if the adapter does not echo, try "
               "without --echo"
             : "check the wiring (A and B swapped?), the baud rate and the address";
}

std::string_view ShortCheck(const Outcome& outcome, bool echo) {
  return CutShort(outcome, echo)
             ? "a reply cut short: noise, a loose contact, or another baud rate"
             : "the rest came late: a slow detector, or an adapter that holds bytes back";
}

std::string_view NotOpenCheck(const Outcome& outcome, bool) {
  switch (outcome.refusal.kind) {
    case CommErrorKind::kBusy:
      return "another program took the port while the line was gone";
    case CommErrorKind::kPermission:
      return "the device came back with permissions that keep us out";
    case CommErrorKind::kReplaced:
      return "plug the detector's own adapter back in";
    default:
      return "the port came back in a state that cannot be used";
  }
}

// Exceptions 10 and 11 come from a Modbus gateway that could not reach the detector, not
// from the detector.
bool FromGateway(const Outcome& outcome) {
  return outcome.exceptionCode == 10 || outcome.exceptionCode == 11;
}

std::string_view ExceptionCheck(const Outcome& outcome, bool) {
  return FromGateway(outcome)
             ? "the gateway got no answer on its serial side: check its rate, the wiring "
               "behind it and the address"
             : "a device is there but refuses the request";
}

std::string ExceptionWindowCause(const Outcome& outcome) {
  return FormatText(FromGateway(outcome) ? tip::kGatewayExceptionFormat : tip::kExceptionFormat,
                    int{outcome.exceptionCode});
}

std::string WrongAddressWindowCause(const Outcome& outcome) {
  return FormatText(tip::kWrongAddressFormat, static_cast<int>(ReplyByte(outcome, false, 0)));
}

std::string NotOpenWindowCause(const Outcome& outcome) {
  switch (outcome.refusal.kind) {
    case CommErrorKind::kBusy:
      return std::string(tip::kReopenBusy);
    case CommErrorKind::kPermission:
      return std::string(tip::kReopenForbidden);
    case CommErrorKind::kReplaced:
      return std::string(tip::kReopenReplaced);
    default:
      return std::string(tip::kReopenFailed);
  }
}

// One row a result. A text that does not depend on the outcome is given as such; one that
// does, as a function of it.
struct Row {
  ExchangeResult result;
  const char* brief;
  std::string (*summary)(const Outcome&, bool echo);
  std::string_view check;
  std::string_view (*checkOf)(const Outcome&, bool echo);
  std::string_view windowCause;
  std::string (*windowCauseOf)(const Outcome&);
};

using R = ExchangeResult;
constexpr Row kRows[] = {
    {R::kGood, "good", GoodSummary, "", nullptr, "", nullptr},
    {R::kNoReply, "no reply", NoReplySummary, "", NoReplyCheck, tip::kNoReply, nullptr},
    {R::kShort, "cut short", ShortSummary, "", ShortCheck, tip::kShortReply, nullptr},
    {R::kTooLong, "too long", TooLongSummary, "noise, or two devices answering", nullptr,
     tip::kLongReply, nullptr},
    {R::kBadCrc, "bad CRC", BadCrcSummary, "usually a baud-rate mismatch or noise", nullptr,
     tip::kBadCrc, nullptr},
    {R::kWrongAddress, "wrong address", WrongAddressSummary,
     "another device answered: a late reply to another master, or a device that answers for "
     "others",
     nullptr, "", WrongAddressWindowCause},
    {R::kWrongFunction, "wrong function", WrongFunctionSummary,
     "the reply answers another request: another master on the bus, or not a detector", nullptr,
     tip::kWrongFunction, nullptr},
    {R::kWrongByteCount, "wrong byte count", WrongByteCountSummary,
     "a malformed reply: not a detector of this kind, or faulty firmware", nullptr,
     tip::kWrongByteCount, nullptr},
    {R::kWrongConfirmation, "wrong confirmation", WrongConfirmationSummary,
     "the detector did not take the value as written", nullptr, tip::kWrongConfirmation, nullptr},
    {R::kException, "exception", ExceptionSummary, "", ExceptionCheck, "", ExceptionWindowCause},
    {R::kEcho, "echoed", EchoSummary,
     "a two-wire RS-485 adapter without echo suppression: use --echo", nullptr, tip::kEcho,
     nullptr},
    {R::kWrongEcho, "wrong echo", WrongEchoSummary,
     "the adapter may not echo (try without --echo), or another device talks on the line", nullptr,
     tip::kWrongEcho, nullptr},
    {R::kLineGone, "line gone", LineGoneSummary, "the adapter was pulled or the line hung up",
     nullptr, tip::kLineGone, nullptr},
    {R::kNotOpen, "not open", NotOpenSummary, "", NotOpenCheck, "", NotOpenWindowCause},
};

const Row& RowOf(ExchangeResult result) {
  const auto row = std::ranges::find(kRows, result, &Row::result);
  return row == std::end(kRows) ? kRows[0] : *row;
}

}  // namespace

const char* BriefCause(ExchangeResult result) {
  return RowOf(result).brief;
}

std::string ExchangeSummary(const ExchangeOutcome& outcome, bool echo) {
  return RowOf(outcome.result).summary(outcome, echo);
}

std::string_view WhatToCheck(const ExchangeOutcome& outcome, bool echo) {
  const Row& row = RowOf(outcome.result);
  return row.checkOf ? row.checkOf(outcome, echo) : row.check;
}

std::string WindowCause(const ExchangeOutcome& outcome) {
  const Row& row = RowOf(outcome.result);
  return row.windowCauseOf ? row.windowCauseOf(outcome) : std::string(row.windowCause);
}

std::string StaleNote(const ExchangeOutcome& outcome) {
  const std::size_t count = outcome.stale.size();
  if (count == 0) return {};
  return std::to_string(count) + (count == 1 ? " stale byte" : " stale bytes") + " discarded";
}
