// Entering and leaving factory mode, on the fake toolkit.
#include "res/texts.h"
#include "tests/window/main_window_fixture.h"

namespace {

class FactoryModeTest : public MainWindowTest {
 protected:
  // Presses the factory button; a password dialog, if one comes, gets `typed` and OK.
  void Press(const std::string& typed) {
    Window().onModal = [typed](ui::FakeWindow& password) {
      EXPECT_EQ(password.Text(IDC_PASSWORD_EDIT), "");
      password.Type(IDC_PASSWORD_EDIT, typed);
      password.Click(ui::kIdOk);
      return ui::kIdCancel;  // not reached: the OK button has ended it
    };
    Window().Click(IDC_FACTORY_BUTTON);
  }
  bool VoltageShown() {
    return Window().IsVisible(IDC_VOLTAGE_LABEL) && Window().IsVisible(IDC_VOLTAGE_VALUE);
  }
};

TEST_F(FactoryModeTest, OnlyTheExactCodeOpensIt) {
  Start();
  for (const char* wrong : {"502713 ", "", "50271", " 502713", "502714"}) {
    Press(wrong);
    EXPECT_EQ(Boxes().back(), text::kWrongPassword) << '"' << wrong << '"';
    EXPECT_EQ(g_factoryMode, 0);
    EXPECT_EQ(Window().Text(IDC_FACTORY_BUTTON), text::kEnterFactoryMode);
    EXPECT_FALSE(VoltageShown());
  }
  Press("502713");
  EXPECT_EQ(g_factoryMode, 1);
  EXPECT_EQ(Window().Text(IDC_FACTORY_BUTTON), text::kLeaveFactoryMode);
  EXPECT_TRUE(VoltageShown());
  EXPECT_EQ(Boxes().size(), 5u);
}

TEST_F(FactoryModeTest, ClosingTheDialogOtherwiseChangesNothing) {
  Start();
  Window().onModal = [](ui::FakeWindow& password) {
    password.Type(IDC_PASSWORD_EDIT, std::string(text::kAccessCode));
    return ui::kIdCancel;
  };
  Window().Click(IDC_FACTORY_BUTTON);
  EXPECT_EQ(g_factoryMode, 0);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Window().ModalDialogsRun(), std::vector<int>{IDD_PASSWORD});
}

TEST_F(FactoryModeTest, LeavingAsksNothingAndTheFieldsKeepTheirText) {
  Start();
  Press("502713");
  Window().SetText(IDC_VOLTAGE_VALUE, "：12.0V");
  Window().onModal = nullptr;
  Window().Click(IDC_FACTORY_BUTTON);
  EXPECT_EQ(g_factoryMode, 0);
  EXPECT_EQ(Window().Text(IDC_FACTORY_BUTTON), text::kEnterFactoryMode);
  EXPECT_FALSE(VoltageShown());
  EXPECT_EQ(Window().ModalDialogsRun().size(), 1u) << "no password asked to leave";
  EXPECT_EQ(Window().Text(IDC_VOLTAGE_VALUE), "：12.0V");
  Press("502713");
  EXPECT_EQ(Window().Text(IDC_VOLTAGE_VALUE), "：12.0V");
}

}  // namespace
