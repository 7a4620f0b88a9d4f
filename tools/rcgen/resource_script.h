// Reads the part of the resource-script language that res/kl395.rc uses: #define and
// #include of the resource header, #pragma code_page(65001), LANGUAGE, DIALOGEX templates
// with the standard control statements, the DLGINIT list data, STRINGTABLE, and ICON and
// VERSIONINFO, which it skips. Styles are worked out the way windres compiles them, so the
// data describes the same windows the Win32 build creates.
#pragma once

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ui/toolkit/dialog_template.h"

// The templates refer into the storage below, so a script stays where it was made.
struct ResourceScript {
  std::vector<DialogTemplate> dialogs;  // in script order
  std::vector<StringResource> strings;

  std::deque<std::string> texts;
  std::deque<std::vector<std::string_view>> lists;
  std::deque<std::vector<ControlTemplate>> controlLists;
};

// Null, with `error` set to "file:line: what is wrong", at the first thing it cannot read.
std::unique_ptr<ResourceScript> ParseResourceScript(const std::filesystem::path& path,
                                                    std::string& error);
