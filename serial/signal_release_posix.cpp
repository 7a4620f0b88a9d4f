#include "serial/signal_release_posix.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <atomic>

#include "serial/comm_port.h"

namespace {

// Lock-free atomics are all the shared state a signal handler may touch. A port beyond the
// slots is only not released early.
class OpenDescriptors {
 public:
  OpenDescriptors() {
    for (auto& slot : slots_) slot = kFree;
  }
  void Add(int fd) {
    for (auto& slot : slots_) {
      if (int free = kFree; slot.compare_exchange_strong(free, fd)) return;
    }
  }
  void Remove(int fd) {
    for (auto& slot : slots_) {
      if (int held = fd; slot.compare_exchange_strong(held, kFree)) return;
    }
  }
  void ReleaseAll() {
    for (auto& slot : slots_) {
      if (const int fd = slot.exchange(kFree); fd != kFree) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
      }
    }
  }

 private:
  static constexpr int kFree = -1;
  static_assert(std::atomic<int>::is_always_lock_free);
  std::array<std::atomic<int>, 16> slots_;
};

OpenDescriptors g_openDescriptors;

}  // namespace

void RememberPortDescriptor(int fd) {
  g_openDescriptors.Add(fd);
}

void ForgetPortDescriptor(int fd) {
  g_openDescriptors.Remove(fd);
}

void ReleaseCommPortsFromSignal() {
  g_openDescriptors.ReleaseAll();
}
