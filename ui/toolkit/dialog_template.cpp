#include "ui/toolkit/dialog_template.h"

#include <algorithm>

const ControlTemplate* DialogTemplate::FindControl(int controlId) const {
  if (controlId == kNoControlId) return nullptr;
  auto found = std::ranges::find(controls, controlId, &ControlTemplate::id);
  return found == controls.end() ? nullptr : &*found;
}

const DialogTemplate* FindDialogTemplate(int dialogId) {
  auto dialogs = DialogTemplates();
  auto found = std::ranges::find(dialogs, dialogId, &DialogTemplate::id);
  return found == dialogs.end() ? nullptr : &*found;
}

std::string_view LoadTemplateString(int id) {
  auto strings = StringTable();
  auto found = std::ranges::find(strings, id, &StringResource::id);
  return found == strings.end() ? std::string_view{} : found->text;
}
