// The change hook's process on Windows: cmd.exe runs the command with the event's variables,
// which take the place of ours of the same name, whatever their case.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "tools/cli/hook_process.h"

namespace {

using namespace std::chrono_literals;

std::optional<HookEnd> WaitForEnd(HookProcess& process) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto end = HookProcessEnded(process)) return end;
    std::this_thread::sleep_for(20ms);
  }
  return std::nullopt;
}

TEST(HookProcessOnWindows, RunsTheCommandWithTheEventsVariables) {
  SetEnvironmentVariableW(L"kl395_event", L"ours");
  std::string why;
  auto process =
      StartHookProcess("if \"%KL395_EVENT%\"==\"leak-started\" (exit %KL395_ADDRESS%) else exit 1",
                       {{"KL395_EVENT", "leak-started"}, {"KL395_ADDRESS", "7"}}, &why);
  ASSERT_TRUE(process) << why;
  EXPECT_GT(process->pid, 0);
  const auto end = WaitForEnd(*process);
  ASSERT_TRUE(end) << "still running after 30 s";
  EXPECT_FALSE(end->signalled);
  EXPECT_EQ(end->status, 7);
}

TEST(HookProcessOnWindows, TellsOfARunningHookWithoutWaiting) {
  std::string why;
  auto process = StartHookProcess("ping -n 3 127.0.0.1 >NUL", {}, &why);
  ASSERT_TRUE(process) << why;
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_FALSE(HookProcessEnded(*process));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
  const auto end = WaitForEnd(*process);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->status, 0);
}

}  // namespace
