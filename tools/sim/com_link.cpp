#include "tools/sim/com_link.h"

#include <system_error>

namespace fs = std::filesystem;

namespace {

// What is in the way at `entry`, for the message that refuses to replace it.
std::string Describe(const fs::path& entry) {
  std::error_code failure;
  const fs::file_status own = fs::symlink_status(entry, failure);
  if (fs::is_symlink(own)) {
    const std::string target = fs::read_symlink(entry, failure).string();
    const bool present = fs::exists(fs::status(entry, failure));
    return "a link to " + target + (present ? "" : ", which is not there now");
  }
  if (fs::is_directory(own)) return "a folder";
  if (fs::is_regular_file(own)) return "a file";
  return "a special file";
}

}  // namespace

std::unique_ptr<ComLink> ComLink::Make(const fs::path& dir, int number, const std::string& target,
                                       std::string& error) {
  const fs::path link = dir / ("com" + std::to_string(number));
  std::error_code failure;
  fs::create_directories(dir, failure);
  if (failure) {
    error = "cannot create " + dir.string() + ": " + failure.message();
    return nullptr;
  }
  // symlink() never replaces what is there, so looking and making are one step that no other
  // program can come between.
  fs::create_symlink(target, link, failure);
  if (failure == std::errc::file_exists) {
    error = link.string() + " already exists (" + Describe(link) +
            "); remove it or choose another COM number";
    return nullptr;
  }
  if (failure) {
    error = "cannot make " + link.string() + ": " + failure.message();
    return nullptr;
  }
  return std::unique_ptr<ComLink>(new ComLink(link, target));
}

ComLink::~ComLink() {
  std::error_code failure;
  if (fs::read_symlink(path_, failure) == target_) fs::remove(path_, failure);
}
