// A program's output taken apart into its lines.
#pragma once

#include <sstream>
#include <string>
#include <vector>

// The lines of `text`, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}
