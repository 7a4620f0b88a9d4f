// kl395-cli over network lines on loopback: ser2net in front of the simulated detector in raw
// and RFC 2217 mode, the libmodbus Modbus TCP peer, and a port that refuses.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/cli/cli_process.h"
#include "tests/support/child_process.h"
#include "tests/support/network_peers.h"
#include "tests/support/sim_process.h"

namespace {

using namespace std::chrono_literals;

CommandResult RunCli(const std::string& arguments) {
  return RunProgram(KL395_CLI_PATH, Words(arguments));
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(NetworkCliTest, EachKindOfGatewayReadsTheDetector) {
  SimProcess sim({"--baud", "19200"});
  Ser2net telnet(sim.SlavePath(), Ser2net::Mode::kRfc2217);
  ASSERT_TRUE(telnet.Running());
  CommandResult run = RunCli("--device " + telnet.Url() + " --baud 19200 read-version");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "version: 1.0\n");

  SimProcess rawSim({"--leak", "1", "--alarm", "1"});
  Ser2net raw(rawSim.SlavePath(), Ser2net::Mode::kRaw);
  ASSERT_TRUE(raw.Running());
  run = RunCli("--device " + raw.Url() + " read-status");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "leak: yes\nalarm: 1 (optical)\n");

  ModbusTcpPeer peer;
  ASSERT_TRUE(peer.Running());
  run = RunCli("--device " + peer.Url() + " read-voltage");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "voltage: 12.4 V\n");
}

// The simulator answers only at its own rate, so finding it proves the rate was set.
TEST(NetworkCliTest, ASearchOverRfc2217FindsTheRateAndAddress) {
  SimProcess sim({"--address", "3", "--baud", "19200"});
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRfc2217);
  ASSERT_TRUE(gateway.Running());
  CliProcess search({"--device", gateway.Url(), "--wait", "100", "search", "9600", "19200"});
  EXPECT_EQ(search.Wait(30s), 0) << search.error;
  EXPECT_EQ(search.output, "baud: 19200\naddress: 3\n");
  EXPECT_NE(search.error.find("no reply at 9600 baud from address 3"), std::string::npos);
}

TEST(NetworkCliTest, ASearchOverARawGatewayProbesEachAddressOnceAtItsRate) {
  SimProcess sim({"--address", "2", "--baud", "4800"});
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRaw, 4800);
  ASSERT_TRUE(gateway.Running());
  CliProcess search({"--device", gateway.Url(), "--wait", "100", "search"});
  EXPECT_EQ(search.Wait(30s), 0) << search.error;
  EXPECT_EQ(search.output, "baud: the gateway's rate\naddress: 2\n");
  EXPECT_NE(search.error.find("each address is probed once"), std::string::npos);
  EXPECT_EQ(Count(search.error, "no reply"), 2u) << search.error;
  EXPECT_EQ(Count(search.error, "no reply at the gateway's rate from address"), 2u);
  EXPECT_EQ(search.error.find(" baud from"), std::string::npos) << "no rate it did not use";
}

TEST(NetworkCliTest, SetBaudOverARawGatewaySaysTheGatewayMustBeSetToo) {
  SimProcess sim;
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRaw);
  ASSERT_TRUE(gateway.Running());
  const CommandResult run = RunCli("--device " + gateway.Url("?baud=9600") + " set-baud 19200");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("baud rate set to 19200; this line runs at the gateway's rate: set "
                            "the gateway to 19200 baud too and its URL's ?baud= to 19200"),
            std::string::npos)
      << run.output;
}

TEST(NetworkCliTest, AGatewayOutOfReachIsPortTroubleWithItsCause) {
  RefusingPort refusing;
  const std::string url = "socket://127.0.0.1:" + std::to_string(refusing.port());
  const CommandResult run = RunCli("--device " + url + " read-status");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("network line '" + url + "': 127.0.0.1:" +
                            std::to_string(refusing.port()) + " refused the connection"),
            std::string::npos)
      << run.output;
}

TEST(NetworkCliTest, AWrongUrlIsABadArgument) {
  const CommandResult run = RunCli("--device rfc2217://127.0.0.1 read-status");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("no port"), std::string::npos) << run.output;
}

TEST(NetworkCliTest, ATraceShowsTheModbusTcpFramesAndTheRtuFramesOverTelnet) {
  ModbusTcpPeer peer;
  ASSERT_TRUE(peer.Running());
  CommandResult run = RunCli("--device " + peer.Url() + " --trace read-version");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("TX 00 01 00 00 00 06 01 03 00 03 00 01\n"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("RX 00 01 00 00 00 05 01 03 02 00 0A\n"), std::string::npos)
      << run.output;

  SimProcess sim;
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRfc2217);
  ASSERT_TRUE(gateway.Running());
  run = RunCli("--device " + gateway.Url() + " --trace read-version");
  EXPECT_NE(run.output.find("TX 01 03 00 03 00 01 74 0A\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("RX 01 03 02 00 0A 38 43\n"), std::string::npos) << run.output;
}

// The gateway goes down during a poll and comes back: the line is gone, then back.
TEST(NetworkCliTest, PollGoesOnWhenTheGatewayComesBack) {
  SimProcess sim;
  Ser2net gateway(sim.SlavePath(), Ser2net::Mode::kRaw);
  ASSERT_TRUE(gateway.Running());
  CliProcess poll({"--device", gateway.Url(), "--period", "100", "--count", "30", "poll"});
  ASSERT_TRUE(poll.WaitForOutputLines(2, 10s)) << poll.error;
  gateway.Stop();
  ASSERT_TRUE(poll.WaitForOutput("line gone: '" + gateway.Url() + "' closed", 10s)) << poll.output;
  ASSERT_TRUE(gateway.Start());
  ASSERT_TRUE(poll.WaitForOutput("line back: '" + gateway.Url() + "' open again", 10s))
      << poll.output;
  EXPECT_EQ(poll.Wait(20s), 0) << poll.error;
  EXPECT_NE(poll.error.find("--- poll of address 1 at the gateway's rate on '" + gateway.Url()),
            std::string::npos)
      << poll.error;
  EXPECT_NE(poll.error.find("line gone"), std::string::npos) << poll.error;
}

}  // namespace
