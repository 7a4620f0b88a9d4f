// The About box: its template says everything; it only needs to end with its button.
#pragma once

#include "ui/toolkit/window.h"

class AboutDialog : public ui::DialogHandler {
 public:
  void OnInitDialog(ui::Window&) override {}
  void OnCommand(ui::Window&, int) override {}
};
