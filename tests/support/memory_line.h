// An in-memory detector line on a virtual clock, in the manner of a loop:// port. Each open
// gives a fresh port on the line (so, as after a purge, nothing is queued); a request written
// to it is answered at once by the line's responder, and waits and read time-outs pass on
// the line's clock instead of in real time, so a scan of 1280 unanswered probes runs in
// milliseconds. Use it from one thread at a time, and read it once the scan has ended.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "serial/comm_port.h"

// The frame followed by its Modbus CRC.
std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> frame);

struct MemoryRequest {
  int baudRate = 0;  // the rate the port was opened at
  std::vector<std::uint8_t> bytes;
  std::uint32_t atMs = 0;  // on the line's clock
};

struct MemoryLineState;

class MemoryLine {
 public:
  // The bytes a request heard at a rate brings into the queue; none for silence.
  using Responder =
      std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t> request, int baudRate)>;

  // A detector that answers every well-formed read addressed to `address` at `baudRate`
  // with the register value 120, and ignores everything else.
  MemoryLine(int address, int baudRate);
  explicit MemoryLine(Responder responder);

  // Opens the line at a rate, as OpenCommPort opens a port.
  CommHandle Open(int baudRate);

  const std::vector<MemoryRequest>& Requests() const;
  std::uint32_t NowMs() const;
  int OpenPorts() const;  // opened and not yet closed
  // Runs as each request is written, before it is answered.
  void OnRequest(std::function<void(const MemoryRequest&)> hook);

 private:
  std::shared_ptr<MemoryLineState>
      state_;  // shared with the open ports, which may outlive the line
};
