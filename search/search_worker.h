// The parameter search: for a detector whose baud rate and address are unknown, probe every
// address from 0 to 255 at each ticked rate until one answers. The scan takes minutes, so it
// runs on a thread of its own and reports each probe to the main window through a
// synchronous message and the globals below.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "device/detector.h"
#include "serial/comm_port.h"

// Written by the window before it starts a worker. While one runs, the window only clears
// g_searchActive, which the worker reads before every probe.
extern std::atomic<int> g_searchActive;         // 1 while the search may go on
extern int g_searchPortNumber;                  // the COM number every probe opens
extern std::array<int, 5> g_searchRateEnabled;  // 1200 first; a rate takes part only at 1
extern std::string g_searchError;               // emptied at start, set once all were tried

// Written by the worker before each report; the window's handler reads them while the
// worker waits for it to return.
extern int g_searchBaud;            // the rate of the probe under way, or the one that answered
extern int g_searchAddress;         // the address of the probe that just failed
extern int g_foundAddress;          // the address that answered
extern std::string g_searchStatus;  // the searching marker, from the first failed probe on

// How a worker ended; the values are its thread exit codes.
enum class SearchEnd { kStopped = 0, kFound = 1, kExhausted = 2, kPortTrouble = 3 };

// Where a worker reports: the main window, or whatever stands in for it.
struct SearchWindow {
  // Runs the handler of WM_SEARCH_PROGRESS or WM_SEARCH_FOUND and returns once it has;
  // false when nothing takes reports any more (the window is closing).
  std::function<bool(int message)> send;
  // A modal box; returns when dismissed.
  std::function<void(std::string_view text)> messageBox;
  // How each probe went, told before its report; may be empty.
  std::function<void(const ExchangeOutcome& outcome)> probed = {};
};

// Opens the port for one probe: OpenCommPort, or an in-memory line in tests.
using PortOpener = std::function<CommHandle(int portNumber, int baudRate)>;

// Opens, for every probe, the device that COM n named when the search started, so that a
// link that goes away mid-scan makes a port failure instead of COM n falling through to
// another device of the machine, and another device that takes the name is refused.
PortOpener OpenDeviceOfPort(int portNumber);
// The same for a port resolved already.
PortOpener OpenResolvedDevice(ResolvedPort port);

// Which of the ticked rates (1200 first, 1 for ticked) a search of the port probes: all of
// them, but on a line whose rate is the gateway's (socket://, tcp://) only the one its URL
// names with ?baud=, and none when it names none, so that a find never reports a rate the
// line did not run at.
std::array<int, 5> RatesTheLineRuns(const ResolvedPort& port, const std::array<int, 5>& ticked);

// How far a scan goes. The window's search stops at the first find and waits 500 ms a probe;
// the command line may scan on and list every responder, or wait less for a quick detector.
struct SearchScope {
  bool scanOn = false;  // after a find, go on to the end and report every find
  unsigned probeWaitMs = kProbeWaitMs;
  bool lineTimedWait = false;  // each rate's wait from its line time, not probeWaitMs
};

// The scan. Every probe opens a port of its own and closes it before reporting, so it starts
// with purged queues; g_commHandle stays the window's. Scanning on, each find is reported
// with WM_SEARCH_FOUND and the scan ends as exhausted, or stopped.
SearchEnd SearchWorker(const SearchWindow& window, const PortOpener& openPort = OpenCommPort,
                       const SearchScope& scope = {});

// A worker on a thread of its own, as the window holds it.
class SearchThread {
 public:
  SearchThread() = default;
  SearchThread(const SearchThread&) = delete;
  SearchThread& operator=(const SearchThread&) = delete;
  ~SearchThread() { Stop(); }

  // Starts a worker; the previous one must have returned (see Running).
  void Start(SearchWindow window, PortOpener openPort);
  // From Start until the worker has returned. One that has returned waits on nothing, so
  // joining it cannot block; one still running may be waiting for the window's thread.
  bool Running() const { return running_; }
  // Asks the worker to stop and waits for its end. The window must no longer serve the
  // worker's reports by then (Send returns false), or this could wait on itself.
  void Stop();

 private:
  std::thread thread_;
  std::atomic<bool> running_ = false;
};
