// SPDX-License-Identifier: GPL-3.0-or-later
// Plays a user at the X display for the window tests: moves the pointer, clicks, presses keys
// and types, through the X test extension, so the program under test receives real input.
//
//   setup_gui_driver move:X,Y click key:TAB key:ctrl+a key:shift+F10 text:D:\\Apps sleep:500 ...
#include <wx/app.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int KeyCode(const std::string& name) {
  if (name == "TAB") return WXK_TAB;
  if (name == "SPACE") return WXK_SPACE;
  if (name == "RETURN") return WXK_RETURN;
  if (name == "ESCAPE") return WXK_ESCAPE;
  if (name == "END") return WXK_END;
  if (name == "HOME") return WXK_HOME;
  if (name == "BACK") return WXK_BACK;
  if (name == "DOWN") return WXK_DOWN;
  if (name == "F10") return WXK_F10;
  if (name.size() == 1) return static_cast<unsigned char>(name[0]);
  return 0;
}

bool Run(wxUIActionSimulator& sim, const std::string& command) {
  const size_t colon = command.find(':');
  const std::string verb = command.substr(0, colon);
  const std::string arg = colon == std::string::npos ? "" : command.substr(colon + 1);
  if (verb == "move") {
    long x = 0, y = 0;
    if (std::sscanf(arg.c_str(), "%ld,%ld", &x, &y) != 2) return false;
    return sim.MouseMove(x, y);
  }
  if (verb == "click") return sim.MouseClick();
  if (verb == "rclick") return sim.MouseClick(wxMOUSE_BTN_RIGHT);
  if (verb == "sleep") {
    wxMilliSleep(static_cast<unsigned long>(std::atol(arg.c_str())));
    return true;
  }
  if (verb == "text") return sim.Text(arg.c_str());
  if (verb == "key") {
    int modifiers = wxMOD_NONE;
    std::string key = arg;
    if (key.rfind("ctrl+", 0) == 0) {
      modifiers = wxMOD_CONTROL;
      key = key.substr(5);
    } else if (key.rfind("shift+", 0) == 0) {
      modifiers = wxMOD_SHIFT;
      key = key.substr(6);
    }
    const int code = KeyCode(key);
    return code != 0 && sim.Char(code, modifiers);
  }
  return false;
}

}  // namespace

class DriverApp : public wxApp {
 public:
  bool OnInit() override { return true; }
  int OnRun() override {
    wxUIActionSimulator sim;
    for (int i = 1; i < argc; ++i) {
      const std::string command = argv[i].ToStdString();
      if (!Run(sim, command)) {
        std::fprintf(stderr, "setup_gui_driver: cannot do \"%s\"\n", command.c_str());
        return 2;
      }
      wxMilliSleep(50);
    }
    return 0;
  }
};

wxIMPLEMENT_APP(DriverApp);
