#include "tools/cli/watch_hook.h"

#include <cstdio>
#include <utility>

#include "tools/cli/cli_messages.h"
#include "tools/cli/local_time.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often a running hook is looked at: its end is told this late at most.
constexpr auto kRunCheck = 50ms;
constexpr int kLineQueue = -1;

std::string Addresses(const std::vector<int>& addresses) {
  std::string text;
  for (const int address : addresses) {
    text.append(text.empty() ? "" : " ").append(std::to_string(address));
  }
  return text;
}

void AddStatus(HookVariables& variables, const std::string& prefix,
               const std::optional<DetectorStatus>& status) {
  variables.emplace_back(prefix + "LEAK", status ? (status->leak ? "yes" : "no") : "");
  variables.emplace_back(prefix + "ALARM", status ? std::to_string(status->alarmType) : "");
  variables.emplace_back(prefix + "ALARM_NAME", status ? AlarmName(status->alarmType) : "");
}

std::string Join(const std::vector<std::string_view>& words) {
  std::string text;
  for (const std::string_view word : words) text.append(text.empty() ? "" : " ").append(word);
  return text;
}

// "leak-started (address 7)", "line-gone (addresses 3 7)".
std::string Named(const WatchEvent& event) {
  return std::string(WatchEventName(event.kind)) +
         (event.addresses.size() == 1 ? " (address " : " (addresses ") +
         Addresses(event.addresses) + ")";
}

void Tell(const std::string& text) {
  std::fprintf(stderr, "kl395-cli: change hook for %s\n", text.c_str());
  std::fflush(stderr);
}

int QueueOf(const WatchEvent& event) {
  return IsLineEvent(event.kind) ? kLineQueue : event.addresses.front();
}

}  // namespace

HookVariables HookEnvironment(const WatchEvent& event, const std::string& port) {
  HookVariables variables = {
      {"KL395_EVENT", std::string(WatchEventName(event.kind))},
      {"KL395_ADDRESS", Addresses(event.addresses)},
      {"KL395_PORT", port},
      {"KL395_TIME", LocalIsoTime(event.at)},
  };
  AddStatus(variables, "KL395_", event.status);
  AddStatus(variables, "KL395_PREVIOUS_", event.previous);
  variables.emplace_back("KL395_CHANGED", Join(event.changed));
  variables.emplace_back("KL395_CAUSE", event.cause);
  return variables;
}

ChangeHook::ChangeHook(std::string command, std::string port)
    : command_(std::move(command)), port_(std::move(port)), worker_([this] { Work(); }) {}

ChangeHook::~ChangeHook() {
  Finish(0ms);
}

void ChangeHook::Event(const WatchEvent& event) {
  Queued queued{Named(event), HookEnvironment(event, port_)};
  {
    std::lock_guard lock(mutex_);
    queued_[QueueOf(event)].push_back(std::move(queued));
  }
  wake_.notify_one();
}

void ChangeHook::Finish(std::chrono::milliseconds grace) {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
    grace_ = grace;
    deadline_ = Clock::now() + grace;
  }
  wake_.notify_one();
  worker_.join();
}

bool ChangeHook::Idle() const {
  if (!running_.empty()) return false;
  for (const auto& [queue, events] : queued_) {
    if (!events.empty()) return false;
  }
  return true;
}

void ChangeHook::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (finishing_ && !toldWaiting_ && grace_ > 0ms && !Idle()) {
      toldWaiting_ = true;
      std::fprintf(stderr,
                   "kl395-cli: waiting up to %lld s for the change hook to end; a second stop "
                   "ends the tool at once\n",
                   static_cast<long long>(std::chrono::ceil<std::chrono::seconds>(grace_).count()));
    }
    std::vector<std::pair<int, Queued>> starting = TakeStartable();
    if (starting.empty()) {
      if (finishing_ && (Idle() || Clock::now() >= deadline_)) break;
      if (running_.empty() && !finishing_) {
        wake_.wait(lock);
      } else {
        wake_.wait_for(lock, kRunCheck);
      }
    }
    lock.unlock();
    for (const auto& [queue, event] : starting) Start(queue, event);
    CheckRuns();
    lock.lock();
  }
  TellLeftOver();
}

std::vector<std::pair<int, ChangeHook::Queued>> ChangeHook::TakeStartable() {
  std::vector<std::pair<int, Queued>> starting;
  if (finishing_ && Clock::now() >= deadline_) return starting;
  for (auto& [queue, events] : queued_) {
    if (events.empty() || running_.contains(queue)) continue;
    starting.emplace_back(queue, std::move(events.front()));
    events.pop_front();
  }
  return starting;
}

void ChangeHook::Start(int queue, const Queued& event) {
  std::string why;
  const auto process = StartHookProcess(command_, event.variables, &why);
  if (!process) {
    Tell(event.named + " could not be started: " + why);
    return;
  }
  running_.emplace(queue, Run{event.named, *process, Clock::now()});
}

void ChangeHook::CheckRuns() {
  for (auto run = running_.begin(); run != running_.end();) {
    Run& hook = run->second;
    const auto end = HookProcessEnded(hook.process);
    if (!end) {
      if (!hook.noted && Clock::now() - hook.started >= kHookRunNoted) {
        hook.noted = true;
        Tell(hook.named + " still runs after a minute (pid " + std::to_string(hook.process.pid) +
             "); the later events of its queue wait for it");
      }
      ++run;
      continue;
    }
    if (end->signalled) {
      Tell(hook.named + " was ended by signal " + std::to_string(end->status));
    } else if (end->status != 0) {
      Tell(hook.named + " exited with status " + std::to_string(end->status));
    }
    run = running_.erase(run);
  }
}

// Under the lock, at the end.
void ChangeHook::TellLeftOver() {
  for (const auto& [queue, run] : running_) {
    Tell(run.named + " still runs at the end (pid " + std::to_string(run.process.pid) +
         "); it is left running");
  }
  for (const auto& [queue, events] : queued_) {
    for (const Queued& event : events) Tell(event.named + " was not run: the watch ended");
  }
}
