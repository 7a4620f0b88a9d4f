// Small helpers of the resource tests: a scratch folder, whole-file reads and writes, and
// running a tool.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its contents.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

struct CommandResult {
  int status = -1;     // the exit code, or -1 when the command did not exit normally
  std::string output;  // standard output and standard error together
};

// Runs the program with the arguments, none of which may hold a single quote.
CommandResult RunProgram(const std::string& program, const std::vector<std::string>& args);
