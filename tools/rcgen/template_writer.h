// Writes a parsed resource script as C++ that defines DialogTemplates() and StringTable().
#pragma once

#include <string>
#include <string_view>

#include "tools/rcgen/resource_script.h"

// `scriptName` is only named in the heading comment.
std::string TemplateSource(const ResourceScript& script, std::string_view scriptName);
