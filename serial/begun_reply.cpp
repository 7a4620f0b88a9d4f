#include "serial/begun_reply.h"

#include "serial/line_time.h"

InputWait AwaitRestOfReply(CommHandle port, std::size_t replyLength, const InputWait& wait) {
  if (wait.queued == 0 || wait.queued >= replyLength) return wait;
  const unsigned restMs =
      LineTimeMs(replyLength - wait.queued, CommBaudRate(port)) + kReadIntervalMs;
  return WaitForInputUntilTimeOut(port, static_cast<std::uint16_t>(replyLength), restMs, wait);
}
