#include "tools/sim/com_link.h"

#include <system_error>

namespace fs = std::filesystem;

std::unique_ptr<ComLink> ComLink::Make(const fs::path& dir, int number, const std::string& target,
                                       std::string& error) {
  const fs::path link = dir / ("com" + std::to_string(number));
  std::error_code failure;
  fs::create_directories(dir, failure);
  if (failure) {
    error = "cannot create " + dir.string() + ": " + failure.message();
    return nullptr;
  }
  const auto existing = fs::symlink_status(link, failure);
  if (fs::exists(existing)) {
    const bool dangling = fs::is_symlink(existing) && !fs::exists(fs::status(link, failure));
    if (!dangling) {
      error = link.string() + " already exists; remove it or choose another COM number";
      return nullptr;
    }
    fs::remove(link, failure);
  }
  fs::create_symlink(target, link, failure);
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
