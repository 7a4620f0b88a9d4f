// The comN link that lets the tools open the simulator's terminal as COM n.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

class ComLink {
 public:
  // Makes `dir`/comN point at `target`, creating the folder if needed. Refuses to replace
  // anything but a dangling link left behind by an earlier run.
  static std::unique_ptr<ComLink> Make(const std::filesystem::path& dir, int number,
                                       const std::string& target, std::string& error);
  // Removes the link, unless someone has pointed it elsewhere meanwhile.
  ~ComLink();
  ComLink(const ComLink&) = delete;
  ComLink& operator=(const ComLink&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  ComLink(std::filesystem::path path, std::string target)
      : path_(std::move(path)), target_(std::move(target)) {}

  std::filesystem::path path_;
  std::string target_;
};

