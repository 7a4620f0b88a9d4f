// The main window's start, its About box and its busy group, on the fake toolkit.
#include "tests/window/main_window_fixture.h"

namespace {

constexpr int kScClose = 0xF060;

TEST_F(MainWindowTest, StartsWithTheDefaultsAndEverythingIdle) {
  Start();
  ui::FakeWindow& w = Window();
  EXPECT_EQ(w.Text(IDC_PORT_COMBO), "Com1");
  EXPECT_EQ(w.Text(IDC_BAUD_COMBO), "9600");
  EXPECT_EQ(w.Text(IDC_ADDRESS_EDIT), "1");
  EXPECT_EQ(w.Text(IDC_PERIOD_EDIT), "500");
  for (int box : kSearchRateBoxes) EXPECT_EQ(w.CheckState(box), 1) << box;
  for (int lamp : {IDC_LEAK_LAMP, IDC_OPTICAL_LAMP, IDC_PROBE_LAMP}) {
    EXPECT_EQ(w.Icon(lamp), IDI_LAMP_OFF) << lamp;
  }
  EXPECT_EQ(w.Text(IDC_VERSION_TEXT), "Ver");
  EXPECT_EQ(w.Text(IDC_SUCCESS_COUNT), "0");
  EXPECT_EQ(w.Text(IDC_FAILURE_COUNT), "0");
  EXPECT_EQ(w.Selection(IDC_NEW_BAUD_COMBO), -1);
  EXPECT_EQ(w.Selection(IDC_SENSITIVITY_COMBO), -1);
  EXPECT_EQ(w.Text(IDC_NEW_ADDRESS_EDIT), "");
  for (int hidden :
       {IDC_VOLTAGE_LABEL, IDC_VOLTAGE_VALUE, IDC_SENSITIVITY_NOTE, IDC_HIDDEN_DEFAULT}) {
    EXPECT_FALSE(w.IsVisible(hidden)) << hidden;
  }
  EXPECT_EQ(g_factoryMode, 0);
  EXPECT_EQ(w.WindowIcon(), IDR_MAINFRAME);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(MainWindowTest, AboutBoxComesFromTheSystemMenuItem) {
  Start();
  ui::FakeWindow& w = Window();
  ASSERT_EQ(w.SystemMenuItems().size(), 1u);
  EXPECT_EQ(w.SystemMenuItems()[0].first, IDM_ABOUTBOX);
  EXPECT_EQ(w.SystemMenuItems()[0].second, "关于 KL395(&A)...");

  w.ChooseSystemMenuItem(IDM_ABOUTBOX);
  w.ChooseSystemMenuItem(IDM_ABOUTBOX | 0x000F);  // the low four bits are the system's
  w.ChooseSystemMenuItem(kScClose);
  EXPECT_EQ(w.ModalDialogsRun(), (std::vector<int>{IDD_ABOUTBOX, IDD_ABOUTBOX}));
  EXPECT_EQ(w.Text(IDC_ADDRESS_EDIT), "1") << "the main window keeps its state";
  EXPECT_FALSE(dialog_.OnSysCommand(w, kScClose)) << "left to the toolkit";
}

TEST_F(MainWindowTest, AcquisitionDisablesItsBusyGroupOnly) {
  Start();
  ui::FakeWindow& w = Window();
  w.Click(IDC_ACQUIRE_BUTTON);
  for (int id : {IDC_READ_SENSITIVITY, IDC_READ_VERSION, IDC_SET_ADDRESS, IDC_SET_BAUD,
                 IDC_SET_SENSITIVITY, IDC_FACTORY_BUTTON, IDC_SEARCH_BUTTON}) {
    EXPECT_FALSE(w.IsEnabled(id)) << id;
  }
  for (int id : {IDC_ACQUIRE_BUTTON, IDC_PORT_COMBO, IDC_BAUD_COMBO, IDC_ADDRESS_EDIT,
                 IDC_PERIOD_EDIT, IDC_SEARCH_1200}) {
    EXPECT_TRUE(w.IsEnabled(id)) << id;
  }
  // Disabled, it runs nothing: had it run, it would have met the port acquisition holds and
  // said so, leaving the version as it is either way.
  w.Click(IDC_READ_VERSION);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(w.Text(IDC_VERSION_TEXT), "Ver");
  w.Click(IDC_ACQUIRE_BUTTON);
  EXPECT_TRUE(w.IsEnabled(IDC_READ_VERSION));
  EXPECT_TRUE(w.IsEnabled(IDC_SEARCH_BUTTON));
}

}  // namespace
