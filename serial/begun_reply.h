// The rest of a reply that had begun by the end of an exchange's wait, on a port that reads
// begun replies (SetCommReadsBegunReply). Inside serial/ only.
#pragma once

#include <cstddef>

#include "serial/comm_port_backend.h"

// Carries on from `wait` until `replyLength` bytes are queued or the line's own time for the
// missing ones has passed: ten bit times each at the port's rate, and the gap between two
// bytes that a read allows. Returns `wait` itself when nothing or everything had come.
InputWait AwaitRestOfReply(CommHandle port, std::size_t replyLength, const InputWait& wait);
