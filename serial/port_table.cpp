#include "serial/port_table.h"

CommHandle PortTable::Add(std::unique_ptr<CommPort> port, int baudRate) {
  std::lock_guard lock(mutex_);
  if (++lastId_ == 0) ++lastId_;  // never hand out the null handle, even after wrapping
  ports_.emplace(lastId_, Entry{std::move(port), baudRate, LineHabits{}});
  return CommHandle(lastId_);
}

std::shared_ptr<CommPort> PortTable::Find(CommHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = ports_.find(handle.id());
  return it == ports_.end() ? nullptr : it->second.port;
}

void PortTable::Remove(CommHandle handle) {
  std::shared_ptr<CommPort> closing;  // destroyed outside the lock
  std::lock_guard lock(mutex_);
  if (auto it = ports_.find(handle.id()); it != ports_.end()) {
    closing = std::move(it->second.port);
    ports_.erase(it);
  }
}

LineHabits PortTable::Habits(CommHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = ports_.find(handle.id());
  return it == ports_.end() ? LineHabits{} : it->second.habits;
}

int PortTable::BaudRate(CommHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = ports_.find(handle.id());
  return it == ports_.end() ? 0 : it->second.baudRate;
}

PortTable& Ports() {
  static PortTable table;
  return table;
}
