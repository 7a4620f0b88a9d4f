// The small dialog that asks for the factory-mode access code.
#pragma once

#include <string>

#include "ui/toolkit/window.h"

class PasswordDialog : public ui::DialogHandler {
 public:
  void OnInitDialog(ui::Window&) override {}
  void OnCommand(ui::Window&, int) override {}
  // Copies the field into `password` as the dialog ends with OK.
  void OnOk(ui::Window& window) override;

  std::string password;
};
