// --mqtt against a real broker: mosquitto started by the test on loopback, with mosquitto_sub
// as the independent reader, and two simulated detectors on one terminal. The retained
// discovery configs, ON and OFF as a leak starts and ends, the watch's availability after a
// clean end and after SIGKILL (the last will), the broker going away and coming back during a
// poll, Home Assistant's birth message, a password from the environment and a TLS broker.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/cli/cli_process.h"
#include "tests/support/child_process.h"
#include "tests/support/sim_process.h"
#include "tests/watch/mqtt_peers.h"
#include "tests/watch/scoped_variable.h"
#include "tools/cli/ha_discovery.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

std::string MachineName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

std::size_t LineCount(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The retained messages a subscriber gets now, by topic.
std::map<std::string, std::string> Retained(const Broker& broker, const std::string& filter,
                                            const std::vector<std::string>& options = {}) {
  std::map<std::string, std::string> retained;
  for (const MqttReceived& message : RetainedNow(broker, filter, options)) {
    EXPECT_TRUE(message.retained) << message.topic;
    retained[message.topic] = message.payload;
  }
  return retained;
}

class MqttTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(sim_.SlavePath().empty());
    naming_ = MakeMqttNaming(MachineName(), sim_.SlavePath(), "homeassistant");
  }

  std::vector<std::string> Poll(const Broker& broker, std::vector<std::string> more = {},
                                const std::string& scheme = "mqtt") const {
    std::vector<std::string> arguments = {"--device", sim_.SlavePath(),  "--address",
                                          "3,7",      "--period",        "100",
                                          "--mqtt",   broker.Url(scheme)};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.push_back("poll");
    return arguments;
  }

  std::string Status() const { return StatusTopic(naming_); }
  std::string Leak(int address) const { return DetectorTopic(naming_, address, "leak"); }

  SimProcess sim_{{"--address", "3", "--also", "7:23"}};
  MqttNaming naming_;
};

// Three retained configs a detector, as Home Assistant's discovery reads them, each naming
// the detector's firmware once it has been read; the same ids after a restart.
TEST_F(MqttTest, DiscoveryConfigsAreRetainedForEachDetectorAndStable) {
  Broker broker;
  ASSERT_TRUE(broker.Start()) << broker.Log();
  std::set<std::string> firstIds;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    Subscriber configs(broker, "homeassistant/#");
    CliProcess cli(Poll(broker));
    // Each config goes out again once its detector's version has been read.
    std::set<std::string> versioned;
    ASSERT_TRUE(configs.WaitFor(
        [&](const MqttReceived& m) {
          if (m.payload.find(R"("sw_version")") != std::string::npos) versioned.insert(m.topic);
          return versioned.size() == 6;
        },
        20s))
        << cli.error;
    const auto retained = Retained(broker, "homeassistant/+/" + naming_.node + "/+/config");
    ASSERT_EQ(retained.size(), 6u) << cli.error;
    std::set<std::string> ids;
    for (const auto& [topic, payload] : retained) {
      const json config = json::parse(payload);
      ids.insert(config.at("unique_id"));
      const std::string address = topic.find("address3_") != std::string::npos ? "3" : "7";
      EXPECT_EQ(config.at("device").at("sw_version"), address == "3" ? "1.0" : "2.3") << topic;
      EXPECT_EQ(config.at("availability").at(0).at("topic"), Status());
      if (topic.ends_with("_leak/config")) {
        EXPECT_EQ(config.at("device_class"), "moisture");
        EXPECT_EQ(config.at("state_topic"), Leak(std::stoi(address)));
      }
    }
    EXPECT_EQ(ids.size(), 6u);
    if (run == 0) firstIds = ids;
    EXPECT_EQ(ids, firstIds) << "the same ids after a restart";
    cli.Signal(SIGTERM);
    EXPECT_EQ(cli.Wait(20s), 0) << cli.error;
  }
}

// A leak starts and ends on the second detector of the line: its state topic says ON, then
// OFF, retained, while the first stays OFF; the reading goes out as JSON too. A hook run
// beside the broker's connection gets no copy of its socket, which would keep the
// connection, and the will, from ending with us.
TEST_F(MqttTest, ALeakOnOneOfTwoDetectorsIsOnThenOff) {
  Broker broker;
  ASSERT_TRUE(broker.Start()) << broker.Log();
  const fs::path descriptors = broker.Folder() / "hook-descriptors";
  Subscriber states(broker, "kl395/" + naming_.node + "/#");
  CliProcess cli(Poll(broker, {"--on-change", "ls -l /proc/self/fd/ >> " + descriptors.string()}));
  ASSERT_TRUE(states.WaitFor(Leak(7), "OFF", 20s)) << cli.error;
  ASSERT_TRUE(states.WaitFor(Leak(3), "OFF", 20s)) << cli.error;
  ASSERT_EQ(sim_.Command("at 7 leak 1"), "ok at 7 leak 1");
  ASSERT_TRUE(states.WaitFor(Leak(7), "ON", 20s)) << cli.error;
  const std::size_t started = states.received.size();
  ASSERT_TRUE(states.WaitFor(
      [&](const MqttReceived& m) {
        if (m.topic != DetectorTopic(naming_, 7, "reading")) return false;
        const json reading = json::parse(m.payload);
        return reading.at("address") == 7 && reading.at("leak") == true;
      },
      20s));
  EXPECT_EQ(Retained(broker, Leak(7)).at(Leak(7)), "ON");
  ASSERT_EQ(sim_.Command("at 7 leak 0"), "ok at 7 leak 0");
  ASSERT_TRUE(states.WaitFor(Leak(7), "OFF", 20s, started)) << cli.error;
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(20s), 0) << cli.error;

  for (const MqttReceived& message : states.received) {
    if (message.topic == Leak(3)) {
      EXPECT_EQ(message.payload, "OFF");
    }
  }
  EXPECT_EQ(Retained(broker, Leak(7)).at(Leak(7)), "OFF");
  std::ifstream listed(descriptors);
  std::stringstream text;
  text << listed.rdbuf();
  EXPECT_NE(text.str().find("/proc/"), std::string::npos) << "the hook ran";
  EXPECT_EQ(text.str().find("socket:"), std::string::npos) << text.str();
}

// A detector that never answers is described all the same, without a version, and shows
// as not answering, so that Home Assistant has it unavailable rather than dry.
TEST_F(MqttTest, ADetectorThatNeverAnswersIsDescribedAsNotAnswering) {
  Broker broker;
  ASSERT_TRUE(broker.Start()) << broker.Log();
  const std::string answering = DetectorTopic(naming_, 9, "answering");
  Subscriber states(broker, "kl395/" + naming_.node + "/#");
  CliProcess cli({"--device", sim_.SlavePath(), "--address", "3,9", "--period", "100", "--mqtt",
                  broker.Url(), "poll"});
  ASSERT_TRUE(states.WaitFor(answering, "OFF", 20s)) << cli.error;
  const std::string config =
      "homeassistant/binary_sensor/" + naming_.node + "/address9_leak/config";
  const auto retained = Retained(broker, config);
  ASSERT_EQ(retained.count(config), 1u);
  EXPECT_FALSE(json::parse(retained.at(config)).at("device").contains("sw_version"));
  EXPECT_EQ(Retained(broker, Leak(9)).count(Leak(9)), 0u) << "never read: no state";
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(20s), 0) << cli.error;
}

// Offline, retained: published on a clean end (SIGTERM), and by the broker as the
// connection's last will when the tool is killed.
TEST_F(MqttTest, TheWatchIsOfflineAfterSigtermAndAfterSigkill) {
  Broker broker;
  ASSERT_TRUE(broker.Start()) << broker.Log();
  for (const int signal : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(strsignal(signal));
    Subscriber status(broker, Status());
    CliProcess cli(Poll(broker));
    ASSERT_TRUE(status.WaitFor(Status(), "online", 20s)) << cli.error;
    ASSERT_TRUE(cli.WaitForOutputLines(4, 20s));
    cli.Signal(signal);
    ASSERT_TRUE(status.WaitFor(Status(), "offline", 20s)) << cli.error << broker.Log();
    EXPECT_EQ(cli.Wait(20s), signal == SIGTERM ? 0 : -1) << cli.error;
    EXPECT_EQ(Retained(broker, Status()).at(Status()), "offline");
  }
}

// The broker is not there when the poll starts, comes, goes away and comes back empty (it
// keeps nothing): the polls and the log never stop, the connection is made when it can be,
// and what changed while it was away is published as the current state.
TEST_F(MqttTest, TheBrokerGoingAndComingBackNeverStopsThePolls) {
  Broker broker;
  CliProcess cli(Poll(broker));
  ASSERT_TRUE(
      cli.WaitForError("kl395-cli: MQTT: cannot reach " + broker.Url().substr(7) + " yet", 20s))
      << cli.error;
  ASSERT_TRUE(cli.WaitForOutputLines(6, 20s)) << "polls without a broker";
  ASSERT_TRUE(broker.Start()) << broker.Log();
  {
    Subscriber status(broker, Status());
    ASSERT_TRUE(status.WaitFor(Status(), "online", 60s)) << cli.error;
  }
  ASSERT_TRUE(cli.WaitForError("kl395-cli: MQTT: connected to", 20s)) << cli.error;
  broker.Stop();
  ASSERT_TRUE(cli.WaitForError(
      "kl395-cli: MQTT: connection to " + broker.Url().substr(7) + " lost; trying again", 20s))
      << cli.error;
  const std::size_t before = LineCount(cli.output);
  ASSERT_EQ(sim_.Command("at 3 leak 1"), "ok at 3 leak 1");
  ASSERT_TRUE(cli.WaitForOutputLines(before + 10, 20s)) << "polls without a broker";
  ASSERT_TRUE(broker.Start()) << broker.Log();
  Subscriber states(broker, "kl395/" + naming_.node + "/#");
  ASSERT_TRUE(states.WaitFor(Leak(3), "ON", 90s)) << cli.error;
  ASSERT_TRUE(cli.WaitForError("kl395-cli: MQTT: connected again to", 20s)) << cli.error;
  EXPECT_EQ(Retained(broker, "homeassistant/+/" + naming_.node + "/+/config").size(), 6u);
  EXPECT_EQ(Retained(broker, Status()).at(Status()), "online");
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(20s), 0) << cli.error;
}

// Home Assistant says online when it starts, perhaps after its broker lost the configs.
TEST_F(MqttTest, HomeAssistantsBirthBringsTheConfigsAgain) {
  Broker broker;
  ASSERT_TRUE(broker.Start()) << broker.Log();
  const std::string leakConfig =
      "homeassistant/binary_sensor/" + naming_.node + "/address7_leak/config";
  Subscriber configs(broker, "homeassistant/+/" + naming_.node + "/#");
  CliProcess cli(Poll(broker));
  // Once the detector's version is in, its configs go out again only when asked for.
  ASSERT_TRUE(configs.WaitFor(
      [&](const MqttReceived& m) {
        return m.topic == leakConfig &&
               m.payload.find(R"("sw_version":"2.3")") != std::string::npos;
      },
      20s))
      << cli.error;
  const std::string port = std::to_string(broker.port());
  ASSERT_EQ(
      RunProgram("mosquitto_pub", {"-h", "127.0.0.1", "-p", port, "-t", leakConfig, "-r", "-n"})
          .status,
      0);
  ASSERT_EQ(Retained(broker, leakConfig).count(leakConfig), 0u);
  const std::size_t cleared = configs.received.size();
  ASSERT_EQ(RunProgram("mosquitto_pub", {"-h", "127.0.0.1", "-p", port, "-t",
                                         "homeassistant/status", "-m", "online"})
                .status,
            0);
  ASSERT_TRUE(configs.WaitFor(
      [&](const MqttReceived& m) { return m.topic == leakConfig && !m.payload.empty(); }, 20s,
      cleared));
  EXPECT_EQ(Retained(broker, leakConfig).count(leakConfig), 1u);
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(20s), 0) << cli.error;
}

// The password comes from KL395_MQTT_PASSWORD alone; without it the broker refuses us, which
// is said, and the polls go on.
TEST_F(MqttTest, APasswordComesFromTheEnvironment) {
  Broker broker("allow_anonymous false\npassword_file PASSWORDS\n");
  const fs::path passwords = broker.Folder() / "passwords";
  ASSERT_EQ(
      RunProgram("mosquitto_passwd", {"-b", "-c", passwords.string(), "watch", "s3cret"}).status,
      0);
  {
    // The configuration names the file, which only now exists.
    std::ifstream in(broker.Folder() / "mosquitto.conf");
    std::stringstream text;
    text << in.rdbuf();
    std::string config = text.str();
    config.replace(config.find("PASSWORDS"), 9, passwords.string());
    std::ofstream(broker.Folder() / "mosquitto.conf") << config;
  }
  ASSERT_TRUE(broker.Start()) << broker.Log();
  const std::vector<std::string> login = {"-u", "watch", "-P", "s3cret"};
  const std::string url = "mqtt://watch@127.0.0.1:" + std::to_string(broker.port());
  {
    CliProcess refused(
        {"--device", sim_.SlavePath(), "--address", "3", "--period", "100", "--mqtt", url, "poll"});
    ASSERT_TRUE(refused.WaitForError("refused the connection", 20s)) << refused.error;
    ASSERT_TRUE(refused.WaitForOutputLines(5, 20s)) << "polls go on";
    refused.Signal(SIGINT);
    EXPECT_EQ(refused.Wait(20s), 0) << refused.error;
  }
  {
    ScopedVariable password("KL395_MQTT_PASSWORD", "s3cret");
    Subscriber status(broker, Status(), login);
    CliProcess cli(
        {"--device", sim_.SlavePath(), "--address", "3", "--period", "100", "--mqtt", url, "poll"});
    ASSERT_TRUE(status.WaitFor(Status(), "online", 20s)) << cli.error << broker.Log();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(20s), 0) << cli.error;
    EXPECT_EQ(cli.error.find("s3cret"), std::string::npos);

    CliProcess userless({"--device", sim_.SlavePath(), "--mqtt", broker.Url(), "poll"});
    EXPECT_EQ(userless.Wait(20s), 2);
    EXPECT_NE(userless.error.find("KL395_MQTT_PASSWORD is set, but --mqtt names no user"),
              std::string::npos)
        << userless.error;
  }
}

// mqtts:// against a broker whose certificate the test made: trusted through --mqtt-cafile,
// and not through the system's certificates, which know nothing of the test's CA.
TEST_F(MqttTest, TlsChecksTheBrokersCertificate) {
  Broker broker;
  ASSERT_TRUE(MakeTestCertificates(broker.Folder()));
  const auto file = [&](const char* name) { return (broker.Folder() / name).string(); };
  std::ofstream(broker.Folder() / "mosquitto.conf", std::ios::app)
      << "cafile " << file("ca.pem") << "\ncertfile " << file("server.pem") << "\nkeyfile "
      << file("server.key") << "\n";
  ASSERT_TRUE(broker.Start()) << broker.Log();
  {
    Subscriber status(broker, Status(), {"--cafile", file("ca.pem")});
    CliProcess cli(Poll(broker, {"--mqtt-cafile", file("ca.pem")}, "mqtts"));
    ASSERT_TRUE(status.WaitFor(Status(), "online", 20s)) << cli.error << broker.Log();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(20s), 0) << cli.error;
  }
  {
    Subscriber status(broker, Status(), {"--cafile", file("ca.pem")});
    CliProcess cli(Poll(broker, {}, "mqtts"));
    ASSERT_TRUE(cli.WaitForError("certificate verify failed", 20s)) << cli.error;
    ASSERT_TRUE(cli.WaitForOutputLines(10, 20s)) << "polls go on";
    EXPECT_FALSE(status.WaitFor(Status(), "online", 2s));
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(20s), 0) << cli.error;
  }
  CliProcess unreadable(Poll(broker, {"--mqtt-cafile", file("no-such-ca.pem")}, "mqtts"));
  EXPECT_EQ(unreadable.Wait(20s), 2);
  EXPECT_NE(unreadable.error.find("no-such-ca.pem cannot be read"), std::string::npos)
      << unreadable.error;
}

}  // namespace
