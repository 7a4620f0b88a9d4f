// --on-change against two simulated detectors on one terminal: a hook that records what each
// run got (its environment, its descriptors, its signals) and when it ran, so that the facts,
// the order, the one-at-a-time queue of each detector, a failing hook and one that hangs are
// checked as a site's script would meet them.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/cli/cli_process.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_ports_dir.h"
#include "tests/support/text_lines.h"
#include "tests/watch/scoped_variable.h"

namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// One run of the hook: its KL395_ variables, its descriptors' targets, its signal masks,
// and when it began and ended.
struct HookRun {
  std::map<std::string, std::string> facts;
  std::map<int, std::string> descriptors;
  long long startNs = 0;
  long long endNs = 0;

  const std::string& operator[](const std::string& name) const { return facts.at(name); }
};

// A hook script in a folder of its own; each run leaves a file there once it has ended.
// HOOK_SLEEP in the tool's environment makes each run last that long; a run whose event is
// named by HOOK_HANG writes its pid and hangs.
class RecordingHook {
 public:
  RecordingHook() {
    static int made = 0;
    folder_ = fs::temp_directory_path() /
              ("kl395-hook-" + std::to_string(::getpid()) + "-" + std::to_string(++made));
    fs::create_directories(folder_);
    std::ofstream script(folder_ / "hook.sh");
    script << "out=" << (folder_ / "run").string() << ".$$\n"
           << "hung=" << (folder_ / "hung").string() << "\n"
           << R"sh(echo "start=$(date +%s%N)" > "$out.part"
env | grep '^KL395_' >> "$out.part"
grep -E '^Sig(Blk|Ign):' /proc/$$/status | tr -d '\t' | sed 's/:/=/' >> "$out.part"
ls -l /proc/$$/fd | sed -n 's/.* \([0-9]*\) -> \(.*\)/fd\1=\2/p' >> "$out.part"
echo "hook output for $KL395_EVENT"
if [ "$KL395_EVENT $KL395_ADDRESS" = "$HOOK_HANG" ]; then
  echo $$ > "$hung"
  exec sleep 600
fi
sleep "${HOOK_SLEEP:-0}"
echo "end=$(date +%s%N)" >> "$out.part"
mv "$out.part" "$out"
[ "$KL395_EVENT" != not-answering ] || exit 3
)sh";
  }
  ~RecordingHook() {
    if (const auto pid = HungPid()) ::kill(*pid, SIGKILL);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::string Command() const { return "sh " + (folder_ / "hook.sh").string(); }

  // The runs that have ended, in the order they began.
  std::vector<HookRun> Runs() const {
    std::vector<HookRun> runs;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      const std::string name = entry.path().filename().string();
      if (!name.starts_with("run.") || name.ends_with(".part")) continue;
      runs.push_back(Read(entry.path()));
    }
    std::sort(runs.begin(), runs.end(),
              [](const HookRun& a, const HookRun& b) { return a.startNs < b.startNs; });
    return runs;
  }

  // The runs of one detector's queue, in order.
  std::vector<HookRun> RunsFor(const std::string& address) const {
    std::vector<HookRun> runs = Runs();
    std::erase_if(runs, [&](const HookRun& run) { return run["KL395_ADDRESS"] != address; });
    return runs;
  }

  bool WaitForRuns(std::size_t count, milliseconds timeout) const {
    const auto deadline = steady_clock::now() + timeout;
    while (Runs().size() < count) {
      if (steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }

  std::optional<pid_t> HungPid() const {
    std::ifstream file(folder_ / "hung");
    pid_t pid = 0;
    if (file >> pid) return pid;
    return std::nullopt;
  }

 private:
  static HookRun Read(const fs::path& path) {
    HookRun run;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
      const std::size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      const std::string name = line.substr(0, equals);
      const std::string value = line.substr(equals + 1);
      if (name == "start") {
        run.startNs = std::stoll(value);
      } else if (name == "end") {
        run.endNs = std::stoll(value);
      } else if (name.starts_with("fd")) {
        run.descriptors[std::stoi(name.substr(2))] = value;
      } else {
        run.facts[name] = value;
      }
    }
    return run;
  }

  fs::path folder_;
};

std::vector<std::string> Events(const std::vector<HookRun>& runs) {
  std::vector<std::string> events;
  for (const HookRun& run : runs) events.push_back(run["KL395_EVENT"]);
  return events;
}

// The longest time between two lines of a text log, from their time stamps' time of day.
milliseconds LongestGap(const std::string& log) {
  milliseconds longest{0};
  std::optional<milliseconds> previous;
  for (const std::string& line : Lines(log)) {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int millis = 0;
    if (std::sscanf(line.c_str(), "%*d-%*d-%*dT%d:%d:%d.%d", &hours, &minutes, &seconds, &millis) !=
        4) {
      continue;
    }
    const milliseconds at =
        duration_cast<milliseconds>(hours * 1h + minutes * 1min + seconds * 1s) +
        milliseconds(millis);
    if (previous) longest = std::max(longest, (at - *previous + 24h) % 24h);
    previous = at;
  }
  return longest;
}

class ChangeHookTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(sim_.SlavePath().empty()); }
  std::vector<std::string> Poll(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"--device", sim_.SlavePath(), "--address", "3,7",
                                         "--period", "100", "--on-change", hook_.Command()});
    arguments.push_back("poll");
    return arguments;
  }
  // Sends a console line and lets the tool poll it at least twice.
  void Change(const std::string& line) {
    ASSERT_EQ(sim_.Command(line), "ok " + line);
    std::this_thread::sleep_for(400ms);
  }

  SimProcess sim_{{"--address", "3", "--also", "7"}};
  RecordingHook hook_;
};

// Each run lasts half a second, longer than the changes take to come: the runs of one
// detector queue up and run one after the other in the order of the events, each with the
// facts of its own event, while the polls go on at their period.
TEST_F(ChangeHookTest, RunsEachEventInOrderOneAtATimeForEachDetector) {
  ScopedVariable sleep("HOOK_SLEEP", "0.5");
  CliProcess cli(Poll({}));
  ASSERT_TRUE(cli.WaitForOutputLines(2, 20s)) << cli.error;
  Change("at 7 leak 1");
  Change("at 7 alarm 2");
  Change("at 7 leak 0");
  Change("at 3 alarm 1");
  ASSERT_TRUE(hook_.WaitForRuns(6, 30s)) << cli.error;
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(20s), 0) << cli.error;

  const std::vector<HookRun> seventh = hook_.RunsFor("7");
  ASSERT_EQ(Events(seventh),
            (std::vector<std::string>{"answering", "leak-started", "alarm-changed", "leak-ended"}));
  for (std::size_t i = 1; i < seventh.size(); ++i) {
    EXPECT_GE(seventh[i].startNs, seventh[i - 1].endNs)
        << "run " << i << " began before the last ended";
  }
  EXPECT_EQ(seventh[1]["KL395_LEAK"], "yes");
  EXPECT_EQ(seventh[1]["KL395_PREVIOUS_LEAK"], "no");
  EXPECT_EQ(seventh[1]["KL395_CHANGED"], "leak");
  EXPECT_EQ(seventh[2]["KL395_ALARM"], "2");
  EXPECT_EQ(seventh[2]["KL395_ALARM_NAME"], "probe");
  EXPECT_EQ(seventh[2]["KL395_PREVIOUS_ALARM"], "0");
  EXPECT_EQ(seventh[3]["KL395_LEAK"], "no");
  EXPECT_EQ(seventh[3]["KL395_PREVIOUS_LEAK"], "yes");
  for (const HookRun& run : seventh) {
    EXPECT_EQ(run["KL395_PORT"], sim_.SlavePath());
    EXPECT_EQ(run["KL395_CAUSE"], "");
  }
  const std::vector<HookRun> third = hook_.RunsFor("3");
  ASSERT_EQ(Events(third), (std::vector<std::string>{"answering", "alarm-changed"}));
  EXPECT_EQ(third[1]["KL395_ALARM_NAME"], "optical");
  // The two detectors' queues do not wait for each other.
  EXPECT_LT(third[0].startNs, seventh[0].endNs);

  // A round of polls a period, hooks running or not: a poll that waited for a run would
  // leave a gap of its half second.
  EXPECT_LT(LongestGap(cli.output), 400ms) << cli.output;
  EXPECT_EQ(cli.output.find("hook output"), std::string::npos) << "the log holds polls alone";
  EXPECT_NE(cli.error.find("hook output for leak-started"), std::string::npos) << cli.error;
}

// The signals the tool ignores or catches, as /proc/PID/status shows them: bit n-1 for
// signal n.
constexpr unsigned long long kOurSignals = (1ull << (SIGHUP - 1)) | (1ull << (SIGINT - 1)) |
                                           (1ull << (SIGPIPE - 1)) | (1ull << (SIGTERM - 1));

// A hook that fails is told on standard error, and the polls go on. The hook gets nothing of
// ours but the standard streams, and none of our signal settings: the port's terminal stays
// out of its reach, and a pipeline in it is not left without SIGPIPE.
TEST_F(ChangeHookTest, AFailingRunIsToldAndRunsGetOnlyTheirStreams) {
  CliProcess cli(Poll({}));
  ASSERT_TRUE(hook_.WaitForRuns(2, 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("at 3 fault silent"), "ok at 3 fault silent");
  ASSERT_TRUE(
      cli.WaitForError("kl395-cli: change hook for not-answering (address 3) exited with "
                       "status 3\n",
                       20s))
      << cli.error;
  ASSERT_EQ(sim_.Command("at 3 fault none"), "ok at 3 fault none");
  ASSERT_TRUE(hook_.WaitForRuns(4, 20s)) << cli.error;
  cli.Signal(SIGTERM);
  ASSERT_EQ(cli.Wait(20s), 0) << cli.error;

  const std::vector<HookRun> third = hook_.RunsFor("3");
  ASSERT_EQ(Events(third), (std::vector<std::string>{"answering", "not-answering", "answering"}));
  EXPECT_EQ(third[1]["KL395_CAUSE"], "no reply within 1000 ms");
  EXPECT_EQ(third[1]["KL395_LEAK"], "no") << "the state as last read";
  for (const HookRun& run : hook_.Runs()) {
    EXPECT_EQ(std::stoull(run["SigBlk"], nullptr, 16) & kOurSignals, 0u) << run["SigBlk"];
    EXPECT_EQ(std::stoull(run["SigIgn"], nullptr, 16) & kOurSignals, 0u) << run["SigIgn"];
    ASSERT_TRUE(run.descriptors.contains(0));
    EXPECT_EQ(run.descriptors.at(0), "/dev/null");
    for (const auto& [fd, target] : run.descriptors) {
      EXPECT_NE(target, sim_.SlavePath()) << "fd " << fd;
      EXPECT_FALSE(target.starts_with("socket:")) << "fd " << fd;
    }
  }
}

// A run that hangs holds up its own detector's queue and nothing else; after a minute it is
// told, and at the end it is left running and what waited behind it is named.
TEST_F(ChangeHookTest, ARunThatHangsIsToldAndHoldsUpOnlyItsDetector) {
  ScopedVariable hang("HOOK_HANG", "leak-started 7");
  CliProcess cli(Poll({}));
  ASSERT_TRUE(hook_.WaitForRuns(2, 20s)) << cli.error;
  Change("at 7 leak 1");
  Change("at 7 leak 0");
  Change("at 3 leak 1");
  ASSERT_TRUE(hook_.WaitForRuns(3, 20s)) << cli.error;
  EXPECT_EQ(Events(hook_.RunsFor("3")), (std::vector<std::string>{"answering", "leak-started"}));
  ASSERT_TRUE(hook_.HungPid());
  const std::string told =
      "kl395-cli: change hook for leak-started (address 7) still runs after a minute (pid ";
  ASSERT_TRUE(cli.WaitForError(told, 75s)) << cli.error;
  const std::size_t polled = Lines(cli.output).size();
  EXPECT_GE(polled, 400u) << "polls went on meanwhile";
  cli.Signal(SIGINT);
  ASSERT_TRUE(cli.WaitForError(
      "kl395-cli: change hook for leak-ended (address 7) was not run: the watch ended\n", 30s))
      << cli.error;
  // The hook holds our standard error, which the tool's end does not close.
  EXPECT_EQ(::kill(*hook_.HungPid(), 0), 0) << "left running";
  ::kill(*hook_.HungPid(), SIGKILL);
  EXPECT_EQ(cli.Wait(20s), 0) << cli.error;
  EXPECT_NE(cli.error.find("kl395-cli: waiting up to 10 s for the change hook to end"),
            std::string::npos)
      << cli.error;
  EXPECT_NE(cli.error.find("kl395-cli: change hook for leak-started (address 7) still runs at "
                           "the end"),
            std::string::npos)
      << cli.error;
}

// The line's events go to a queue of their own, naming every detector on the line.
TEST(ChangeHookOfALine, IsToldWhenTheLineGoesAndComesBack) {
  TempPortsDir ports;
  auto pulled = std::make_unique<SimProcess>(std::vector<std::string>{"--address", "3"});
  SimProcess plugged({"--address", "3"});
  ASSERT_FALSE(pulled->SlavePath().empty() || plugged.SlavePath().empty());
  ports.Link(4, pulled->SlavePath());
  RecordingHook hook;
  CliProcess cli({"--port", "4", "--address", "3,9", "--period", "100", "--on-change",
                  hook.Command(), "poll"});
  ASSERT_TRUE(hook.WaitForRuns(1, 20s)) << cli.error;
  fs::remove(ports.Folder() / "com4");
  pulled->Stop(SIGTERM);
  ASSERT_TRUE(cli.WaitForOutput("line gone: COM4", 20s)) << cli.output;
  ports.Link(4, plugged.SlavePath());
  ASSERT_TRUE(cli.WaitForOutput("line back: COM4", 20s)) << cli.output;
  ASSERT_TRUE(cli.WaitForOutputLines(Lines(cli.output).size() + 4, 20s));
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(30s), 0) << cli.error;

  const std::vector<HookRun> line = hook.RunsFor("3 9");
  ASSERT_EQ(Events(line), (std::vector<std::string>{"line-gone", "line-back"}));
  EXPECT_EQ(line[0]["KL395_PORT"], "COM4");
  EXPECT_EQ(line[0]["KL395_LEAK"], "");
  const std::vector<std::string> third = Events(hook.RunsFor("3"));
  ASSERT_GE(third.size(), 1u);
  EXPECT_EQ(third.front(), "answering");
}

}  // namespace
