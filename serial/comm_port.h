// Serial port access: open a numbered COM port with the detector's line settings, read and
// write it with the Windows time-out semantics, and wait for input by polling the queue.
// One header for every platform; comm_port_posix.cpp and comm_port_win32.cpp implement it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

enum class FrameDirection;

// An open serial line. The platform backends derive from it, and so can test lines (an
// in-memory line with a virtual clock), which is why the clock is part of the line.
class CommPort {
 public:
  virtual ~CommPort() = default;

  // Writes the bytes; gives up after the write time-out (100 ms + 50 ms per byte).
  // Returns the count written.
  virtual std::size_t Write(std::span<const std::uint8_t> bytes) = 0;
  // Reads up to bytes.size() bytes; ends when all have come, after 5 ms + 5 ms per byte
  // asked for in all, or after 100 ms between two bytes. Returns the count read.
  virtual std::size_t Read(std::span<std::uint8_t> bytes) = 0;
  // The number of bytes waiting in the driver's input queue; 0 when the line cannot be
  // queried any more (device removed).
  virtual unsigned QueuedInput() = 0;
  // Whether the system has reported the line gone (a hang-up, an adapter pulled), as opposed
  // to a mere time-out. Once gone, the port stays unusable: close it and open it anew.
  virtual bool LineGone() const { return false; }
  // For a line whose protocol wraps the data (Modbus TCP): what the last Write sent, or what
  // came over the connection up to the last Read, as it went; what frame traces show. Null
  // for a line that carries the data as it is.
  virtual const std::vector<std::uint8_t>* WireBytes(FrameDirection) const { return nullptr; }

  // Millisecond tick count and pause, as GetTickCount and Sleep.
  virtual std::uint32_t TickCount();
  virtual void Sleep(unsigned milliseconds);
};

// An opaque handle to an open port, like a Windows HANDLE. A stale handle (one already
// closed) is harmless: every operation on it fails as on a closed line.
class CommHandle {
 public:
  constexpr CommHandle() = default;
  constexpr explicit CommHandle(std::uint32_t id) : id_(id) {}
  constexpr explicit operator bool() const { return id_ != 0; }
  constexpr std::uint32_t id() const { return id_; }
  friend constexpr bool operator==(CommHandle, CommHandle) = default;

 private:
  std::uint32_t id_ = 0;
};

// The port the window's commands and acquisition use. Not cleared by closing.
extern CommHandle g_commHandle;

// Why the calling thread's last open failed.
enum class CommErrorKind {
  kNone,
  kNotFound,
  kBusy,
  kPermission,
  kConfiguration,
  kNotSerial,  // the path names something else than a terminal
  kReplaced,   // the name now belongs to another device than the one chosen
  // A network line's connection, which did not come about:
  kConnectionRefused,   // nothing listens at the gateway's port, or it takes no more clients
  kConnectionTimedOut,  // no answer within the connect time
  kHostNotFound,        // the name does not resolve
  kNetworkUnreachable,  // no route to the gateway's network or host
};
// Whether the kind tells of a network line's connection that did not come about.
bool IsConnectionFailure(CommErrorKind kind);
struct CommError {
  CommErrorKind kind = CommErrorKind::kNone;
  std::string message;   // the operating system's own words, for logs and the command line
  std::string device{};  // the device that was tried, when there was one
  std::string group{};   // kPermission: the group that owns the device, whose members may open it
  int holderPid = 0;     // kBusy: another process that has the device open, when it can be seen
  std::string holderCommand{};  // and its command name
};
const CommError& LastCommError();

// What stands in the way of opening COM n, found without opening it (which could disturb a
// device another program uses): kNone when nothing is seen. On Windows only a missing
// device name is seen; whether a port is free shows when it is opened.
CommError InspectCommPort(int portNumber);

// Opens COM n at the baud rate, 8N1, DTR off, no sharing, and purges both queues.
// Returns a null handle when the port cannot be opened or configured.
CommHandle OpenCommPort(int portNumber, int baudRate);
// The same for a device named by its path (the command-line tool's --device), or for a
// network line named by its URL (rfc2217://, socket://, tcp://; see serial/line_url.h).
CommHandle OpenCommDevice(const std::string& path, int baudRate);
// A port as the user chose it, resolved once, so that every later open of it reaches the
// same device or none: the device it opens, whether a link of the user's named it, and the
// device's identity where the system knows one.
struct ResolvedPort {
  std::string device;          // empty when COM n has none
  int portNumber = 0;          // COM n; 0 for a device named by its path
  bool linked = false;         // a link comN of the user's named the device
  std::string linkIdentity{};  // that link's, to tell it from one made anew
  std::string identity{};      // the device's; empty when the system tells none
  // A network line whose rate is the gateway's (socket://, tcp://): opens ignore the rate
  // asked for. gatewayBaud is the rate its URL names (?baud=N), 0 when none does.
  bool rateFixed = false;
  int gatewayBaud = 0;
};
ResolvedPort ResolveCommPort(int portNumber);
ResolvedPort ResolveCommDevice(const std::string& path);
// Opens the resolved device, refused (kReplaced) when another device has taken its name.
CommHandle OpenResolvedPort(const ResolvedPort& port, int baudRate);
// Opens it again after its line went. A linked COM number follows its link: missing while
// the link is, the device it names once pointed elsewhere; otherwise, and for anything else,
// it is the same device or none.
CommHandle ReopenResolvedPort(ResolvedPort& port, int baudRate);

// The device COM n opens on this machine, for display; empty when there is none.
std::string CommPortDevice(int portNumber);
// Whether a link of the user's names COM n, rather than the list of the devices present
// (always false on Windows, where COM n is the system's own name).
bool CommPortLinked(int portNumber);

// Gives an already open line a handle; used by the backends and by test lines. The rate is
// the one the line runs at, which times the rest of a begun reply (SetCommReadsBegunReply);
// 0 when it is not known.
CommHandle AdoptCommPort(std::unique_ptr<CommPort> port, int baudRate = 0);
// Closes the port behind the handle; a null or stale handle is ignored.
void CloseCommPort(CommHandle handle);
// For a program about to end at once from a signal handler (POSIX only; Windows frees the
// ports with the process): takes back the exclusive hold of every open port and closes it,
// with plain system calls only. While the other end stays open, a port left exclusive would
// refuse everyone else's opens as busy. Nothing may use the ports afterwards.
void ReleaseCommPortsFromSignal();

// Whether the port's line has gone (CommPort::LineGone); false for a null or stale handle.
bool CommLineGone(CommHandle handle);

// WriteFile and ReadFile: the counts written and read, 0 on a null or stale handle.
std::size_t WriteComm(CommHandle handle, std::span<const std::uint8_t> bytes);
std::size_t ReadComm(CommHandle handle, std::span<std::uint8_t> bytes);

// Reads and drops what is already waiting in the input queue (at most a few hundred bytes):
// bytes that came before a request was sent cannot be its reply. Returns them.
std::vector<std::uint8_t> DiscardQueuedInput(CommHandle handle);

// Polls the input queue every 2 ms until it holds at least `count` bytes or `timeoutMs`
// has passed (at least one pass always runs). Returns the queue count of the last pass,
// which may be below or above `count`.
unsigned WaitForInput(CommHandle handle, std::uint16_t count, unsigned timeoutMs);

// Local echo: a two-wire RS-485 adapter without echo suppression returns every byte it
// sends. On a port marked so, each exchange reads and checks the echo of its request before
// the reply. Off when a port opens.
void SetCommLocalEcho(CommHandle handle, bool echoes);
bool CommLocalEcho(CommHandle handle);

// When nothing at all has come by the end of an exchange's wait, the exchange ends there,
// without the read whose time-outs would take in a reply that starts late. For a scan that
// probes hundreds of silent addresses and can spare that diagnosis. The wait then ends at its
// time-out exactly, with a last look at the queue there, so that a byte that came within it
// is never taken for silence. Off when a port opens.
void SetCommSilenceEndsWait(CommHandle handle, bool ends);
bool CommSilenceEndsWait(CommHandle handle);

// A reply that has begun by the end of an exchange's wait is given the line's own time to
// come whole: ten bit times for each byte still missing at the port's rate, and the gap
// between two bytes that the read time-outs allow. A short wait then finds a slow rate's
// reply instead of cutting it short. Off when a port opens.
void SetCommReadsBegunReply(CommHandle handle, bool reads);
bool CommReadsBegunReply(CommHandle handle);

// Every write and every read of every port, for a frame trace.
enum class FrameDirection { kSent, kReceived };
struct FrameEvent {
  CommHandle port;
  FrameDirection direction;
  std::span<const std::uint8_t> bytes;       // what was written, or read (maybe nothing)
  std::chrono::steady_clock::time_point at;  // when the write or read returned
};
using FrameObserver = std::function<void(const FrameEvent&)>;
// Sets the one observer, or none with an empty function. It runs on the thread of the write
// or read, calls from different threads one at a time; with none set the cost is one atomic
// load per write or read.
void SetFrameObserver(FrameObserver observer);
