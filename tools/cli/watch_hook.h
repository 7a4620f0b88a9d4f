// --on-change: a command run through the shell for each event of the watch, with its facts in
// the environment, as a UPS monitor runs its notify command. Polling never waits for it: the
// runs are made on a thread of their own, at most one at a time for each detector (and one
// for the line's events), the later events of that detector queued in order behind it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "tools/cli/hook_process.h"
#include "tools/cli/watch_events.h"

// The event's facts, each KL395_ variable present and empty where it has no value: the
// event's name, the detector's address (for the line's events, every address on it, apart
// by blanks), the port, the poll's local time, the leak state (yes or no), alarm type and its
// name as read now and before, what changed ("leak alarm"), and why it does not answer.
HookVariables HookEnvironment(const WatchEvent& event, const std::string& port);

// How long a run may take before standard error says that it still runs.
inline constexpr std::chrono::minutes kHookRunNoted{1};

class ChangeHook : public Watcher {
 public:
  // `port` names the line in the hook's environment.
  ChangeHook(std::string command, std::string port);
  ~ChangeHook() override;
  ChangeHook(const ChangeHook&) = delete;
  ChangeHook& operator=(const ChangeHook&) = delete;

  void Reading(const PollReading&) override {}
  // Queued behind the runs of the same detector; made on the hook's thread. Its facts are
  // taken here, on the polling thread, where the local time is read.
  void Event(const WatchEvent& event) override;
  // The watch has ended: the runs queued are still made, and waited for up to `grace` in
  // all; what still runs then is left running, and what was not run is told.
  void Finish(std::chrono::milliseconds grace);

 private:
  // An event to run the command for: its name for messages ("leak-started (address 7)") and
  // its facts.
  struct Queued {
    std::string named;
    HookVariables variables;
  };
  struct Run {
    std::string named;
    HookProcess process;
    std::chrono::steady_clock::time_point started;
    bool noted = false;  // told that it still runs
  };

  void Work();
  // The first queued event of each queue whose last run has ended.
  std::vector<std::pair<int, Queued>> TakeStartable();
  void Start(int queue, const Queued& event);
  void CheckRuns();
  void TellLeftOver();
  // Nothing queued and nothing running: under the lock, on the hook thread.
  bool Idle() const;

  const std::string command_;
  const std::string port_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<int, std::deque<Queued>> queued_;  // by address; the line's events at -1
  bool finishing_ = false;
  std::chrono::milliseconds grace_{0};
  std::chrono::steady_clock::time_point deadline_;
  // The hook thread's alone.
  std::map<int, Run> running_;
  bool toldWaiting_ = false;
  std::thread worker_;
};
