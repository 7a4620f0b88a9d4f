// A probe's wait taken from the line itself, for a scan that is quick at every rate and still
// finds a detector that takes its time to answer.
#pragma once

// A line-timed wait finds a detector that starts its reply within this after the request.
inline constexpr unsigned kTurnaroundAllowanceMs = 50;

// At `baudRate`: the request's line time, the first byte of the reply and the allowance for
// the turnaround; a reply begun by then is read to its end (SetCommReadsBegunReply). 125 ms
// at 1200 baud, 55 ms at 19200.
unsigned LineTimedProbeWaitMs(int baudRate);
