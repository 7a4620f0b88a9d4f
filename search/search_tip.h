// The tooltip of the search's status line while a search runs: the probes made of all, and
// the time the rest will take. The status line itself keeps the window's fixed texts.
#pragma once

#include <string>

#include "search/search_pace.h"

std::string SearchPaceTip(const SearchPace& pace);
