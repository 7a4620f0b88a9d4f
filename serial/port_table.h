// The open ports by handle, with the habits of each line. Inside serial/ only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "serial/comm_port.h"

// How the exchanges on a port treat its line; see SetCommLocalEcho, SetCommSilenceEndsWait
// and SetCommReadsBegunReply.
struct LineHabits {
  bool echoes = false;
  bool silenceEndsWait = false;
  bool readsBegunReply = false;
};

// Lookups hand out shared ownership, so a close on one thread never frees a line another
// thread is still inside.
class PortTable {
 public:
  CommHandle Add(std::unique_ptr<CommPort> port, int baudRate);
  std::shared_ptr<CommPort> Find(CommHandle handle);
  void Remove(CommHandle handle);
  LineHabits Habits(CommHandle handle);
  int BaudRate(CommHandle handle);  // the rate it was opened at; 0 when not known
  template <typename Change>
  void ChangeHabits(CommHandle handle, Change change) {
    std::lock_guard lock(mutex_);
    if (auto it = ports_.find(handle.id()); it != ports_.end()) change(it->second.habits);
  }

 private:
  struct Entry {
    std::shared_ptr<CommPort> port;
    int baudRate = 0;
    LineHabits habits;
  };
  std::mutex mutex_;
  std::uint32_t lastId_ = 0;
  std::map<std::uint32_t, Entry> ports_;
};

// The process's one table.
PortTable& Ports();
