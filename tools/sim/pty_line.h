// The detector's end of the line: the master side of a pseudo-terminal whose slave side the
// other program opens as its serial port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

class PtyLine {
 public:
  // A new terminal, raw, at the baud rate; null with a reason in `error` when that fails.
  static std::unique_ptr<PtyLine> Open(int baudRate, std::string& error);
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int PollFd() const { return master_; }

  // The baud rate the other side last set on its end; 0 for a rate the detector lacks.
  int LineBaud() const;
  // What has arrived, without waiting; empty when nothing has.
  std::size_t Read(std::span<std::uint8_t> buffer);
  // Sends the bytes; false when the line would not take them all (nobody reads it and its
  // buffer is full), and the rest is dropped as a real line would lose it.
  bool Write(std::span<const std::uint8_t> bytes);

 private:
  PtyLine(int master, int slave, std::string slavePath)
      : master_(master), slave_(slave), slavePath_(std::move(slavePath)) {}

  int master_;
  // Our own hold on the slave side: without it, each time the other side closes the port
  // between probes the master reports a hang-up and reads fail until it reopens.
  int slave_;
  std::string slavePath_;
};
