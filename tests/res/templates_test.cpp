// The generated template data: what the Qt front end and the fake lay their windows out from.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "res/resource.h"
#include "ui/toolkit/dialog_template.h"
#include "ui/toolkit/window.h"

namespace {

const DialogTemplate& Dialog(int id) {
  const DialogTemplate* dialog = FindDialogTemplate(id);
  if (dialog == nullptr) throw std::runtime_error("no template " + std::to_string(id));
  return *dialog;
}

const ControlTemplate& Control(const DialogTemplate& dialog, int id) {
  const ControlTemplate* control = dialog.FindControl(id);
  if (control == nullptr) throw std::runtime_error("no control " + std::to_string(id));
  return *control;
}

std::vector<std::string_view> Entries(int controlId) {
  const auto& entries = Control(Dialog(IDD_MAIN), controlId).listEntries;
  return {entries.begin(), entries.end()};
}

TEST(MainTemplate, WindowAndControlsInTabOrder) {
  const DialogTemplate& main = Dialog(IDD_MAIN);
  EXPECT_EQ(main.caption, "KL-395");
  EXPECT_EQ(main.width, 271);
  EXPECT_EQ(main.height, 307);
  EXPECT_EQ(main.fontPoints, 9);
  EXPECT_EQ(main.fontFace, "宋体");
  EXPECT_TRUE(main.hasCaption && main.hasSystemMenu && main.modalFrame && main.appWindow);

  std::vector<int> ids;
  for (const ControlTemplate& control : main.controls) {
    if (control.id != kNoControlId) ids.push_back(control.id);
  }
  const std::vector<int> expected = {
      IDC_PORT_COMBO,       IDC_BAUD_COMBO,      IDC_ADDRESS_EDIT,     IDC_SEARCH_1200,
      IDC_SEARCH_2400,      IDC_SEARCH_4800,     IDC_SEARCH_9600,      IDC_SEARCH_19200,
      IDC_SEARCH_RESULT,    IDC_SEARCH_BUTTON,   IDC_NEW_ADDRESS_EDIT, IDC_SET_ADDRESS,
      IDC_SET_BAUD,         IDC_NEW_BAUD_COMBO,  IDC_PERIOD_EDIT,      IDC_ACQUIRE_BUTTON,
      IDC_VOLTAGE_VALUE,    IDC_VOLTAGE_LABEL,   IDC_SUCCESS_COUNT,    IDC_FAILURE_COUNT,
      IDC_LEAK_LAMP,        IDC_LEAK_TEXT,       IDC_SENSITIVITY_NOTE, IDC_SENSITIVITY_COMBO,
      IDC_READ_SENSITIVITY, IDC_SET_SENSITIVITY, IDC_READ_VERSION,     IDC_VERSION_TEXT,
      IDC_FACTORY_BUTTON,   IDC_HIDDEN_DEFAULT,  IDC_OPTICAL_LAMP,     IDC_PROBE_LAMP,
      IDC_OPTICAL_TEXT,     IDC_PROBE_TEXT};
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(main.controls.size(), 49u);  // with the 15 texts and group boxes nobody refers to
  EXPECT_EQ(main.controls.front().text, "串口号：");
  EXPECT_EQ(main.controls.back().text, "报警类型");
}

TEST(MainTemplate, SpotChecks) {
  const DialogTemplate& main = Dialog(IDD_MAIN);
  const auto& port = Control(main, IDC_PORT_COMBO);
  EXPECT_EQ(port.kind, ControlKind::kDropDownList);
  EXPECT_EQ(port.rect.x, 58);
  EXPECT_EQ(port.rect.y, 14);
  EXPECT_EQ(port.rect.width, 37);
  EXPECT_EQ(port.ListHeight(), 101);

  const auto& result = Control(main, IDC_SEARCH_RESULT);
  EXPECT_EQ(result.kind, ControlKind::kCentredText);
  EXPECT_EQ(result.text, "搜索结果");
  EXPECT_EQ(Control(main, IDC_ACQUIRE_BUTTON).rect.height, 17);
  EXPECT_EQ(Control(main, IDC_VOLTAGE_VALUE).text, "：          ");
  EXPECT_EQ(Control(main, IDC_VERSION_TEXT).text, "Ver");
  EXPECT_EQ(Control(main, IDC_SEARCH_19200).rect.width, 36);
  EXPECT_EQ(Control(main, IDC_ADDRESS_EDIT).kind, ControlKind::kEdit);
  EXPECT_EQ(Control(main, IDC_ADDRESS_EDIT).ListHeight(), 0);

  for (int lamp : {IDC_LEAK_LAMP, IDC_OPTICAL_LAMP, IDC_PROBE_LAMP}) {
    EXPECT_EQ(Control(main, lamp).kind, ControlKind::kIcon);
    EXPECT_EQ(Control(main, lamp).iconId, IDI_LAMP_OFF);
  }
  const auto& hidden = Control(main, IDC_HIDDEN_DEFAULT);
  EXPECT_EQ(hidden.kind, ControlKind::kDefaultPushButton);
  EXPECT_EQ(hidden.text, "Button5");
}

TEST(MainTemplate, OnlyTheFourHiddenControlsStartHidden) {
  std::set<int> hidden;
  for (const ControlTemplate& control : Dialog(IDD_MAIN).controls) {
    if (!control.visible) hidden.insert(control.id);
  }
  EXPECT_EQ(hidden, (std::set<int>{IDC_VOLTAGE_VALUE, IDC_VOLTAGE_LABEL, IDC_SENSITIVITY_NOTE,
                                   IDC_HIDDEN_DEFAULT}));
}

// As a dialog editor gives them: everything the user works takes the focus, nothing else.
TEST(MainTemplate, TabStopsAndDefaultButton) {
  int defaults = 0;
  for (const ControlTemplate& control : Dialog(IDD_MAIN).controls) {
    const bool operable =
        control.kind != ControlKind::kText && control.kind != ControlKind::kCentredText &&
        control.kind != ControlKind::kGroupBox && control.kind != ControlKind::kIcon;
    EXPECT_EQ(control.tabStop, operable) << "control " << control.id;
    EXPECT_FALSE(control.noPrefix) << "control " << control.id;
    defaults += control.kind == ControlKind::kDefaultPushButton;
  }
  EXPECT_EQ(defaults, 1);
}

TEST(MainTemplate, ListContentsInOrder) {
  using Strings = std::vector<std::string_view>;
  EXPECT_EQ(Entries(IDC_PORT_COMBO), (Strings{"Com1", "Com2", "Com3", "Com4", "Com5", "Com6",
                                              "Com7", "Com8", "Com9", "Com10", "Com11", "Com12"}));
  const Strings rates = {"1200", "2400", "4800", "9600", "19200"};
  EXPECT_EQ(Entries(IDC_BAUD_COMBO), rates);
  EXPECT_EQ(Entries(IDC_NEW_BAUD_COMBO), rates);
  EXPECT_EQ(Entries(IDC_SENSITIVITY_COMBO), (Strings{"高", "中", "低"}));

  int lists = 0;
  for (const ControlTemplate& control : Dialog(IDD_MAIN).controls) {
    lists += !control.listEntries.empty();
  }
  EXPECT_EQ(lists, 4);
}

TEST(OtherTemplates, AboutBox) {
  const DialogTemplate& about = Dialog(IDD_ABOUTBOX);
  EXPECT_EQ(about.caption, "关于 KL395");
  EXPECT_EQ(about.width, 235);
  EXPECT_EQ(about.height, 55);
  EXPECT_EQ(about.fontFace, "宋体");
  EXPECT_FALSE(about.appWindow);
  ASSERT_EQ(about.controls.size(), 4u);
  EXPECT_EQ(about.controls[0].kind, ControlKind::kIcon);
  EXPECT_EQ(about.controls[0].iconId, IDR_MAINFRAME);
  EXPECT_EQ(about.controls[1].text, "KL395 1.0 版");
  EXPECT_TRUE(about.controls[1].noPrefix);
  EXPECT_EQ(about.controls[2].rect.y, 25);
  EXPECT_FALSE(about.controls[2].text.empty());
  const auto& ok = Control(about, ui::kIdOk);
  EXPECT_EQ(ok.kind, ControlKind::kDefaultPushButton);
  EXPECT_EQ(ok.text, "确定");
  EXPECT_EQ(ok.rect.x, 178);
}

// The OK button comes first, so the focus starts on it.
TEST(OtherTemplates, PasswordDialog) {
  const DialogTemplate& password = Dialog(IDD_PASSWORD);
  EXPECT_EQ(password.caption, "");
  EXPECT_EQ(password.width, 149);
  EXPECT_EQ(password.height, 97);
  EXPECT_TRUE(password.hasCaption && password.hasSystemMenu && password.modalFrame);
  ASSERT_EQ(password.controls.size(), 3u);
  EXPECT_EQ(password.controls[0].id, ui::kIdOk);
  EXPECT_EQ(password.controls[0].kind, ControlKind::kDefaultPushButton);
  EXPECT_EQ(password.controls[1].id, IDC_PASSWORD_EDIT);
  EXPECT_EQ(password.controls[1].kind, ControlKind::kPasswordEdit);
  EXPECT_EQ(password.controls[1].rect.x, 61);
  EXPECT_EQ(password.controls[2].text, "密码：");
}

TEST(OtherTemplates, StringTableAndLookups) {
  EXPECT_EQ(LoadTemplateString(IDS_ABOUTBOX), "关于 KL395(&A)...");
  EXPECT_EQ(LoadTemplateString(IDS_ABOUTBOX + 1), "");
  EXPECT_EQ(FindDialogTemplate(IDS_ABOUTBOX), nullptr);
  EXPECT_EQ(DialogTemplates().size(), 3u);
  EXPECT_EQ(Dialog(IDD_MAIN).FindControl(kNoControlId), nullptr);
  EXPECT_EQ(Dialog(IDD_MAIN).FindControl(IDC_PASSWORD_EDIT), nullptr);
}

}  // namespace
