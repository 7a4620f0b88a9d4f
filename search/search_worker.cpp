#include "search/search_worker.h"

#include "device/detector.h"
#include "res/texts.h"
#include "search/line_timed_wait.h"
#include "search/search_messages.h"

std::atomic<int> g_searchActive = 0;
int g_searchPortNumber = 1;
std::array<int, 5> g_searchRateEnabled{};
std::string g_searchError;
int g_searchBaud = 0;
int g_searchAddress = 0;
int g_foundAddress = 0;
std::string g_searchStatus;

namespace {

constexpr int kLastAddress = 255;

enum class Probe { kAnswered, kSilent, kNoPort };

Probe ProbeOnce(const SearchWindow& window, const PortOpener& openPort, int address, int baudRate,
                unsigned waitMs) {
  const CommHandle port = openPort(g_searchPortNumber, baudRate);
  if (!port) return Probe::kNoPort;
  const Written answer = ProbeAddress(port, address, waitMs);
  CloseCommPort(port);
  if (window.probed) window.probed(answer.outcome);
  return answer ? Probe::kAnswered : Probe::kSilent;
}

}  // namespace

PortOpener OpenDeviceOfPort(int portNumber) {
  return OpenResolvedDevice(ResolveCommPort(portNumber));
}

PortOpener OpenResolvedDevice(ResolvedPort port) {
  return [port = std::move(port)](int, int baudRate) { return OpenResolvedPort(port, baudRate); };
}

std::array<int, 5> RatesTheLineRuns(const ResolvedPort& port, const std::array<int, 5>& ticked) {
  if (!port.rateFixed) return ticked;
  std::array<int, 5> rates{};
  const int code = BaudCode(port.gatewayBaud);
  if (code >= 0) rates[static_cast<std::size_t>(code)] = ticked[static_cast<std::size_t>(code)];
  return rates;
}

SearchEnd SearchWorker(const SearchWindow& window, const PortOpener& openPort,
                       const SearchScope& scope) {
  // Stopped before it began: nothing was found.
  if (g_searchActive == 0) return SearchEnd::kStopped;
  for (int address = 0; address <= kLastAddress; ++address) {
    for (std::size_t rate = 0; rate < kBaudRates.size(); ++rate) {
      if (g_searchRateEnabled[rate] != 1) continue;
      if (g_searchActive == 0) return SearchEnd::kStopped;
      g_searchBaud = kBaudRates[rate];
      const unsigned waitMs =
          scope.lineTimedWait ? LineTimedProbeWaitMs(g_searchBaud) : scope.probeWaitMs;
      switch (ProbeOnce(window, openPort, address, g_searchBaud, waitMs)) {
        case Probe::kNoPort:
          window.messageBox(text::kSearchPortTrouble);
          return SearchEnd::kPortTrouble;
        case Probe::kAnswered:
          g_foundAddress = address;
          if (!window.send(WM_SEARCH_FOUND) || !scope.scanOn) return SearchEnd::kFound;
          break;
        case Probe::kSilent:
          g_searchStatus = text::kSearching;
          g_searchAddress = address;
          // A closing window takes no more reports; scanning on would only delay its end.
          if (!window.send(WM_SEARCH_PROGRESS)) return SearchEnd::kStopped;
          break;
      }
    }
  }
  g_searchError = text::kSearchExhausted;
  window.send(WM_SEARCH_PROGRESS);
  return SearchEnd::kExhausted;
}

void SearchThread::Start(SearchWindow window, PortOpener openPort) {
  if (thread_.joinable()) thread_.join();
  running_ = true;
  thread_ = std::thread([this, window = std::move(window), openPort = std::move(openPort)] {
    SearchWorker(window, openPort);
    running_ = false;
  });
}

void SearchThread::Stop() {
  g_searchActive = 0;
  if (thread_.joinable()) thread_.join();
}
