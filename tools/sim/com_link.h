// The comN link that lets the tools open the simulator's terminal as COM n.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

class ComLink {
 public:
  // Makes `dir`/comN point at `target`, creating the folder if needed. Refuses when comN is
  // already there in any form: even a link to an adapter that is unplugged now is the user's
  // mapping of that COM number.
  static std::unique_ptr<ComLink> Make(const std::filesystem::path& dir, int number,
                                       const std::string& target, std::string& error);
  // Removes the link, unless someone has pointed it elsewhere meanwhile. Destroy it while the
  // terminal is still open, so that no other program can have been given the same path.
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
