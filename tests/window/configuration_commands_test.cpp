// The five configuration commands against the simulated detector, on the fake toolkit.
#include <chrono>

#include "res/texts.h"
#include "tests/support/pty_pair.h"
#include "tests/window/main_window_fixture.h"

namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

class CommandsTest : public MainWindowTest {
 protected:
  // Clicks `button` and notes, while each message box is up, whether the port was free.
  void Press(int button) {
    Window().onMessageBox = [this](std::string_view) { freeDuringBox_.push_back(PortIsFree()); };
    Window().Click(button);
  }
  std::vector<bool> freeDuringBox_;
};

TEST_F(CommandsTest, ReadVersionShowsItAndReportsOnlyFailure) {
  detector.insert(detector.end(), {"--version", "10"});
  Start();
  Press(IDC_READ_VERSION);
  EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), "Ver1.0");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(PortIsFree());

  Console("set 3 65535");
  Press(IDC_READ_VERSION);
  EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), "Ver6553.5");

  Console("fault bad-crc");
  Press(IDC_READ_VERSION);
  EXPECT_EQ(Boxes(), Strings{std::string(text::kReadFailed)});
  EXPECT_EQ(freeDuringBox_, std::vector<bool>{false}) << "the port stays open under the box";
  EXPECT_TRUE(PortIsFree()) << "and is closed once it is dismissed";
  EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), "Ver6553.5");
}

TEST_F(CommandsTest, MissingOrBusyPortIsReportedBeforeAnythingElse) {
  Start();
  Window().Select(IDC_PORT_COMBO, 1);  // COM2 leads nowhere
  Window().Type(IDC_NEW_ADDRESS_EDIT, "300");
  Press(IDC_SET_ADDRESS);
  EXPECT_EQ(Boxes(), Strings{std::string(text::kCommandPortTrouble)});

  Window().Select(IDC_PORT_COMBO, 0);
  const CommHandle holder = OpenCommPort(1, 9600);  // another user of COM1
  ASSERT_TRUE(holder);
  Press(IDC_READ_VERSION);
  CloseCommPort(holder);
  EXPECT_EQ(Boxes().back(), text::kCommandPortTrouble);
  EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), "Ver");
}

TEST_F(CommandsTest, ReadSensitivitySelectsTheLevelOrNothing) {
  Start();
  Console("set 2 3");
  Press(IDC_READ_SENSITIVITY);
  EXPECT_EQ(Window().Text(IDC_SENSITIVITY_COMBO), "低");
  Console("set 2 7");
  Press(IDC_READ_SENSITIVITY);
  EXPECT_EQ(Window().Selection(IDC_SENSITIVITY_COMBO), -1);
  EXPECT_TRUE(Boxes().empty());
}

// With nothing chosen there is nothing to set: sensitivity 0 is no level, and baud code 0xFF
// would leave the detector on a rate no scan can find. The line shows whether a request went
// out; the detector's refusal would look the same in the window.
TEST_F(CommandsTest, SetWithNothingChosenSendsNothing) {
  PtyPair line;
  ports_.Link(3, line.PortPath());
  Start();
  Window().Select(IDC_PORT_COMBO, 2);
  for (int button : {IDC_SET_SENSITIVITY, IDC_SET_BAUD}) {
    SCOPED_TRACE(button);
    Press(button);
    EXPECT_EQ(Boxes().back(), text::kSetFailed);
    EXPECT_TRUE(line.Receive(1, 300ms).empty()) << "nothing reached the line";
  }
  Window().Select(IDC_NEW_BAUD_COMBO, 1);  // the line is watched: a choice does go out
  Press(IDC_SET_BAUD);
  EXPECT_EQ(line.Receive(8),
            (std::vector<std::uint8_t>{0x01, 0x06, 0x00, 0x09, 0x00, 0x01, 0x98, 0x08}));
}

TEST_F(CommandsTest, SetSensitivityWritesTheChosenLevel) {
  detector.insert(detector.end(), {"--sensitivity", "2"});
  Start();
  Window().Select(IDC_SENSITIVITY_COMBO, 0);
  Press(IDC_SET_SENSITIVITY);
  EXPECT_EQ(Boxes().back(), text::kSetDone);
  Window().Select(IDC_SENSITIVITY_COMBO, -1);
  Press(IDC_READ_SENSITIVITY);
  EXPECT_EQ(Window().Text(IDC_SENSITIVITY_COMBO), "高");
}

TEST_F(CommandsTest, SetAddressChecksTheRangeThenMovesTheAddressField) {
  Start();
  for (const char* bad : {"256", "-1", "99999999999"}) {
    Window().Type(IDC_NEW_ADDRESS_EDIT, bad);
    Press(IDC_SET_ADDRESS);
    EXPECT_EQ(Boxes().back(), text::kBadNewAddress) << bad;
  }
  Window().Type(IDC_ADDRESS_EDIT, "");
  Window().Type(IDC_NEW_ADDRESS_EDIT, "7");
  Press(IDC_SET_ADDRESS);
  EXPECT_EQ(Boxes().back(), text::kBadNewAddress) << "an empty address field";
  EXPECT_TRUE(PortIsFree());

  Window().Type(IDC_ADDRESS_EDIT, "1");
  Window().Type(IDC_NEW_ADDRESS_EDIT, "12ab");  // reads as 12
  Press(IDC_SET_ADDRESS);
  EXPECT_EQ(Boxes().back(), text::kAddressSet);
  EXPECT_EQ(Window().Text(IDC_ADDRESS_EDIT), "12");

  Window().Type(IDC_NEW_ADDRESS_EDIT, "");  // reads as 0, which is in range
  Press(IDC_SET_ADDRESS);
  EXPECT_EQ(Boxes().back(), text::kAddressSet);
  EXPECT_EQ(Window().Text(IDC_ADDRESS_EDIT), "0");
  Press(IDC_READ_VERSION);
  EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), "Ver1.0") << "the next command talks to 0";

  Window().Type(IDC_ADDRESS_EDIT, "5");  // nobody there
  Window().Type(IDC_NEW_ADDRESS_EDIT, "9");
  Press(IDC_SET_ADDRESS);
  EXPECT_EQ(Boxes().back(), text::kSetFailed);
  EXPECT_EQ(Window().Text(IDC_ADDRESS_EDIT), "5");
}

TEST_F(CommandsTest, SetBaudMovesTheBaudList) {
  Start();
  Window().Select(IDC_NEW_BAUD_COMBO, 4);
  Press(IDC_SET_BAUD);
  EXPECT_EQ(Boxes().back(), text::kSetDone);
  EXPECT_EQ(Window().Text(IDC_BAUD_COMBO), "19200");
  Console("set 3 11");
  Press(IDC_READ_VERSION);
  EXPECT_EQ(Window().Text(IDC_VERSION_TEXT), "Ver1.1") << "the next command opens at 19200";
}

}  // namespace
