// An open terminal read and written as the Windows driver does with the time-outs
// OpenCommPort gives it. POSIX only, inside serial/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "serial/comm_port.h"

class PosixLine final : public CommPort {
 public:
  // Owns `fd` from now on; a signal handler can release it from the start.
  explicit PosixLine(int fd);
  // Takes back the exclusive flag if this line set it, then closes.
  ~PosixLine() override;
  PosixLine(const PosixLine&) = delete;
  PosixLine& operator=(const PosixLine&) = delete;

  // Sets the terminal's exclusive flag (TIOCEXCL), which only this line will take back:
  // another program's flag is never cleared.
  void MakeExclusive();

  // Gives up after 100 ms + 50 ms per byte.
  std::size_t Write(std::span<const std::uint8_t> bytes) override;
  // Ends after 5 ms + 5 ms per byte asked for in all, or 100 ms between two bytes.
  std::size_t Read(std::span<std::uint8_t> bytes) override;
  // A hung-up terminal refuses the query with EIO: the line is gone.
  unsigned QueuedInput() override;
  bool LineGone() const override { return gone_; }

 private:
  bool Await(short events, std::chrono::steady_clock::time_point deadline);
  void NoteFailure(long count);

  int fd_;
  bool exclusive_ = false;
  bool gone_ = false;
};
