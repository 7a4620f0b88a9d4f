// The dialog templates and string table of res/kl395.rc as plain data, for the front ends and
// the fake that lay their windows out themselves. kl395-rcgen generates the data from the
// resource script at build time (library kl395templates). Positions and sizes are in dialog
// units; texts are UTF-8.
#pragma once

#include <span>
#include <string_view>

// The id of a control nothing refers to (IDC_STATIC in the resource script).
inline constexpr int kNoControlId = -1;

enum class ControlKind {
  kText,
  kCentredText,
  kEdit,          // with a border, scrolls horizontally
  kPasswordEdit,  // an edit that masks what is typed
  kDropDownList,  // a list without an edit part, with a vertical scroll bar
  kPushButton,
  kDefaultPushButton,
  kAutoCheckBox,
  kGroupBox,
  kIcon,
};

struct DialogRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct ControlTemplate {
  int id = kNoControlId;
  ControlKind kind = ControlKind::kText;
  // For a drop-down list the height is that of the opened list; the closed field's height is
  // the toolkit's.
  DialogRect rect{};
  std::string_view text{};  // empty for edits, lists and icons
  int iconId = 0;           // icon controls: the icon shown from the start
  bool visible = true;
  bool noPrefix = false;  // '&' is shown as it stands instead of marking a mnemonic
  bool tabStop = false;
  std::span<const std::string_view> listEntries{};  // drop-down lists, in list order

  int ListHeight() const { return kind == ControlKind::kDropDownList ? rect.height : 0; }
};

struct DialogTemplate {
  int id = 0;
  std::string_view caption{};
  int width = 0;  // the dialog opens centred: the template gives no position
  int height = 0;
  int fontPoints = 0;
  std::string_view fontFace{};
  bool hasCaption = false;
  bool hasSystemMenu = false;
  bool modalFrame = false;
  bool appWindow = false;                       // has a task-bar button of its own
  std::span<const ControlTemplate> controls{};  // in template order, which is the tab order

  // The control with `controlId`, or null; kNoControlId finds nothing.
  const ControlTemplate* FindControl(int controlId) const;
};

struct StringResource {
  int id = 0;
  std::string_view text{};
};

// Defined by the generated data.
std::span<const DialogTemplate> DialogTemplates();
std::span<const StringResource> StringTable();

// The template of `dialogId`, or null.
const DialogTemplate* FindDialogTemplate(int dialogId);
// The string `id` of the string table; empty when there is none, as with a failed load.
std::string_view LoadTemplateString(int id);
