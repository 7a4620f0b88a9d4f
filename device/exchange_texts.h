// What people are told about how an exchange ended, from one table: the brief name a tally
// counts it by ("no reply"), a summary with its facts ("no reply within 1000 ms"), what
// usually causes it, for the technician at the line, and the window's cause, in Chinese.
#pragma once

#include <string>
#include <string_view>

#include "serial/rtu.h"

// "no reply", "bad CRC", "line gone"; "good" for a good one.
const char* BriefCause(ExchangeResult result);

// "good, reply after 11 ms", "no reply within 1000 ms", "7 bytes with a bad CRC", "a reply
// from address 119". `echo`: the port expected the request's echo first.
std::string ExchangeSummary(const ExchangeOutcome& outcome, bool echo);

// What usually causes the failure; empty for a good exchange.
std::string_view WhatToCheck(const ExchangeOutcome& outcome, bool echo);

// The cause of a failed exchange in the window's words.
std::string WindowCause(const ExchangeOutcome& outcome);

// "3 stale bytes discarded" when the exchange found bytes left on the line; empty otherwise.
std::string StaleNote(const ExchangeOutcome& outcome);
