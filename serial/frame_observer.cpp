#include "serial/frame_observer.h"

#include <atomic>
#include <mutex>

namespace {

// The flag keeps the unobserved path to one atomic load.
class FrameTrace {
 public:
  void Set(FrameObserver observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
    observing_ = static_cast<bool>(observer_);
  }
  void Tell(const FrameEvent& event) {
    if (!observing_.load(std::memory_order_relaxed)) return;
    std::lock_guard lock(mutex_);
    if (observer_) observer_(event);
  }

 private:
  std::atomic<bool> observing_ = false;
  std::mutex mutex_;
  FrameObserver observer_;
};

FrameTrace& Trace() {
  static FrameTrace trace;
  return trace;
}

}  // namespace

void SetFrameObserver(FrameObserver observer) {
  Trace().Set(std::move(observer));
}

void TellFrameObserver(CommHandle port, FrameDirection direction,
                       std::span<const std::uint8_t> bytes,
                       std::chrono::steady_clock::time_point at) {
  Trace().Tell(FrameEvent{port, direction, bytes, at});
}
