// kl395-rcgen: turns the resource script into C++ data for the front ends that lay their
// dialogs out themselves. Usage: kl395-rcgen <script.rc> <output.cpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "tools/rcgen/resource_script.h"
#include "tools/rcgen/template_writer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: kl395-rcgen <script.rc> <output.cpp>\n";
    return 2;
  }
  const std::filesystem::path input = argv[1];
  std::string error;
  const auto script = ParseResourceScript(input, error);
  if (!script) {
    std::cerr << error << '\n';
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << TemplateSource(*script, input.filename().string());
  out.close();
  if (!out) {
    std::cerr << argv[2] << ": cannot write: " << std::strerror(errno) << '\n';
    std::error_code ignored;
    std::filesystem::remove(argv[2], ignored);  // a torn file would look up to date
    return 1;
  }
  return 0;
}
