// The descriptors of the open ports, where a signal handler can find them
// (ReleaseCommPortsFromSignal). POSIX only, inside serial/.
#pragma once

// Known before the port is made exclusive, forgotten after that has been taken back.
void RememberPortDescriptor(int fd);
void ForgetPortDescriptor(int fd);
