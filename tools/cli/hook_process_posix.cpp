#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "tools/cli/hook_process.h"

extern char** environ;

namespace {

// Ours with the hook's variables in place of any of the same name.
std::vector<std::string> Environment(const HookVariables& variables) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::size_t equals = text.find('=');
    if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : variables) merged[name] = value;
  std::vector<std::string> environment;
  for (const auto& [name, value] : merged) environment.push_back(name + "=" + value);
  return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// The child's signals: none blocked, and the default action for those we ignore (SIGPIPE,
// which a pipeline in the hook relies on) or catch.
void SetSignals(posix_spawnattr_t& attributes) {
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  // A process group of its own: the Ctrl-C meant for us does not cut a mail half sent.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
}

// Standard input from /dev/null, standard output onto our standard error, and nothing else:
// the port is opened close-on-exec, but a broker's socket or any other descriptor must not
// outlive us in a hook that runs on.
void SetStreams(posix_spawn_file_actions_t& actions) {
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
}

}  // namespace

std::optional<HookProcess> StartHookProcess(const std::string& command,
                                            const HookVariables& variables, std::string* why) {
  std::vector<std::string> arguments = {"/bin/sh", "-c", command};
  std::vector<std::string> environment = Environment(variables);
  std::vector<char*> argv = Pointers(arguments);
  std::vector<char*> envp = Pointers(environment);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  SetSignals(attributes);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  SetStreams(actions);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    *why = std::strerror(error);
    return std::nullopt;
  }
  return HookProcess{pid, 0};
}

std::optional<HookEnd> HookProcessEnded(HookProcess& process) {
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(static_cast<pid_t>(process.pid), &status, WNOHANG)) < 0 &&
         errno == EINTR) {
  }
  if (ended == 0) return std::nullopt;
  if (ended < 0) return HookEnd{};  // not ours to wait for any more: nothing to tell
  if (WIFSIGNALED(status)) return HookEnd{true, WTERMSIG(status)};
  return HookEnd{false, WEXITSTATUS(status)};
}
