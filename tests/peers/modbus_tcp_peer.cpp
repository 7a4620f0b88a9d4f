// kl395-modbus-tcp-peer: a Modbus TCP server made with libmodbus, holding the detector's
// registers, for the tests of tcp:// lines (and the Windows build's under Wine). It answers
// unit 1 (or --unit N) as a protocol-converting gateway with that detector behind it would,
// and any other unit with exception 0B, the gateway's "target did not respond".
//
//   kl395-modbus-tcp-peer [--port N] [--unit N]
//
// It listens on 127.0.0.1 (port 0: one the system picks), prints "127.0.0.1:PORT" once it
// does, and serves one client at a time until it is ended.
#include <modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/detector.h"

namespace {

struct PeerOptions {
  int port = 0;
  int unit = 1;
};

PeerOptions ParseOptions(int argc, char** argv) {
  PeerOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const int value = std::atoi(argv[i + 1]);
    if (option == "--port") options.port = value;
    if (option == "--unit") options.unit = value;
  }
  return options;
}

int ListeningPort(int listener) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// The detector at the start of every test: version 1.0, sensitivity 2, 12.4 V, no leak.
void SetUpRegisters(modbus_mapping_t* mapping, int unit) {
  std::uint16_t* registers = mapping->tab_registers;
  registers[reg::kVersion] = 10;
  registers[reg::kSensitivity] = 2;
  registers[reg::kVoltage] = 124;
  registers[reg::kSlaveAddress] = static_cast<std::uint16_t>(unit);
  registers[reg::kBaudCode] = 3;
}

void Serve(modbus_t* context, modbus_mapping_t* mapping, int unit) {
  std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  for (;;) {
    const int length = modbus_receive(context, query);
    if (length < 0) return;  // the client has gone
    if (length == 0) continue;
    const int header = modbus_get_header_length(context);
    if (query[header - 1] == unit) {
      modbus_reply(context, query, length, mapping);
    } else {
      modbus_reply_exception(context, query, MODBUS_EXCEPTION_GATEWAY_TARGET);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const PeerOptions options = ParseOptions(argc, argv);
  modbus_t* context = modbus_new_tcp("127.0.0.1", options.port);
  modbus_mapping_t* mapping = modbus_mapping_new(0, 0, 10, 0);
  if (!context || !mapping) return 1;
  SetUpRegisters(mapping, options.unit);
  int listener = modbus_tcp_listen(context, 1);
  if (listener < 0) {
    std::fprintf(stderr, "kl395-modbus-tcp-peer: %s\n", modbus_strerror(errno));
    return 1;
  }
  std::printf("127.0.0.1:%d\n", ListeningPort(listener));
  std::fflush(stdout);
  for (;;) {
    if (modbus_tcp_accept(context, &listener) < 0) break;
    Serve(context, mapping, options.unit);
    modbus_close(context);
  }
  modbus_mapping_free(mapping);
  modbus_free(context);
  return 0;
}
