// The application object: builds the main window and runs it modally; the process ends
// when the window closes.
#pragma once

class MonitorApp {
 public:
  // Returns false, so that the program ends once the window has closed.
  bool InitInstance();
};
