// A search's progress on a terminal: one line of standard error, brought up to date after each
// probe, with the probe just made, how many of all, the detectors found so far and the time
// the rest will take. Off (standard error no terminal, or a trace writing there) it shows
// nothing, and every probe has a line of its own, as in a log.
#pragma once

#include <array>
#include <string>

#include "search/search_pace.h"
#include "tools/cli/status_line.h"

class SearchProgressLine {
 public:
  // A scan of the rates ticked (1200 first; 1 takes part), beginning now.
  SearchProgressLine(bool on, const std::array<int, 5>& rateEnabled);

  bool on() const { return on_; }
  // Before a line of its own goes to the terminal, or the search's end: the line makes way.
  void MakeWay();
  // After each probe; the rate as the line names it ("4800 baud", "the gateway's rate").
  void Probed(int baudRate, const std::string& rateText, int address, int found);

 private:
  bool on_;
  SearchPace pace_;
  StatusLine line_;
};

// "probe 37 of 1280 (4800 baud, address 7), 1 found, 2 min 5 s left".
std::string ProgressLineText(const SearchPace& pace, const std::string& rateText, int address,
                             int found);
