// The window's test hook (VARNOL_TEST_SCRIPT). One command a line, run in order:
//
//   wait MS                     let the program run for MS milliseconds
//   command N                   the menu or toolbar command numbered N, posted as a click posts it
//   wait-pane I TEXT... SECS    wait until status pane I (0..4) contains TEXT (at most SECS)
//   dump LABEL                  record the window: title, place and size, panes, check marks,
//                               toolbar states, the strip chart's drawing position
//   dialog-set ID TEXT...       type TEXT into control ID of the open dialog
//   dialog-check ID 0|1         set check box ID of the open dialog
//   dialog-button ID            press button ID of the open dialog (1 OK, 2 Cancel)
//   dialog-dump LABEL           record the open dialog's title and control texts
//                               (the dialog commands wait up to 5 s for a dialog to open)
//   shot FILE                   screenshot of the whole screen (ImageMagick import)
//   close                       close the window as its close box does
//
// What is recorded goes to $VARNOL_TEST_OUTPUT (default: the script's name + ".out"), one line
// each; a wait that times out records "TIMEOUT" and the script goes on.
#include <wx/checkbox.h>
#include <wx/utils.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/wx_varnol.h"

namespace {

class TestScript : public wxEvtHandler {
 public:
  TestScript(std::vector<std::string> lines, std::string output, CMainFrame* frame, CVarnolDoc* doc)
      : lines_(std::move(lines)), out_(output, std::ios::app), frame_(frame), doc_(doc) {
    timer_.SetOwner(this);
    Bind(wxEVT_TIMER, &TestScript::OnTimer, this);
    timer_.StartOnce(50);
  }

 private:
  using Clock = std::chrono::steady_clock;

  void Record(const std::string& line) {
    out_ << line << '\n';
    out_.flush();
  }

  wxDialog* OpenDialog() const {
    wxDialog* found = nullptr;
    for (wxWindow* w : wxTopLevelWindows) {
      auto* d = dynamic_cast<wxDialog*>(w);
      if (d != nullptr && d->IsModal()) found = d;  // the most recent one
    }
    return found;
  }

  static int ButtonId(int id) { return id == 1 ? wxID_OK : id == 2 ? wxID_CANCEL : id; }

  void Dump(const std::string& label) {
    std::ostringstream s;
    const wxRect r = frame_->GetRect();
    s << label << " title=" << frame_->GetTitle() << " rect=" << r.x << ',' << r.y << ','
      << r.width << 'x' << r.height;
    wxStatusBar* bar = frame_->StatusBar();
    for (int i = 0; i < bar->GetFieldsCount(); ++i) s << " pane" << i << "=[" << bar->GetStatusText(i) << ']';
    wxMenuBar* menus = frame_->GetMenuBar();
    s << " checked=";
    for (int command : {cmd::ID_START_MENU, cmd::ID_STOP_MENU, cmd::ID_STATION_MSF, cmd::ID_STATION_HBG,
                        cmd::ID_STATION_DCF77, cmd::ID_STATION_WWVB, cmd::ID_STATION_VNG,
                        cmd::ID_STATION_RWM, cmd::ID_STATION_WWV, cmd::ID_AUTO_SET_CLOCK}) {
      wxMenuItem* item = menus->FindItem(WxIdOf(command));
      if (item != nullptr && item->IsChecked()) s << command << ',';
    }
    if (wxMenuItem* item = menus->FindItem(WxIdOf(cmd::ID_AUTO_SET_CLOCK)); item != nullptr)
      s << " autoset=[" << item->GetItemLabelText() << ']';
    s << " tools=" << frame_->ToolBar()->GetToolState(WxIdOf(cmd::ID_START_TOOL))
      << frame_->ToolBar()->GetToolState(WxIdOf(cmd::ID_STOP_TOOL));
    CVarnolView& view = frame_->ViewWindow()->View();
    s << " view_column=" << view.ViewColumn << " strip_x=" << view.StripX
      << " blocks=" << doc_->BlocksProcessed << " stopped=" << doc_->Stopped;
    const RgbImage& canvas = frame_->ViewWindow()->Canvas();
    s << " canvas=" << canvas.Width() << 'x' << canvas.Height();
    Record(s.str());
  }

  void DumpDialog(const std::string& label) {
    wxDialog* d = OpenDialog();
    if (d == nullptr) {
      Record(label + " no-dialog");
      return;
    }
    std::ostringstream s;
    s << label << " dialog=[" << d->GetTitle() << ']';
    for (wxWindow* child : d->GetChildren()) {
      if (auto* t = dynamic_cast<wxStaticText*>(child))
        s << " static" << child->GetId() << "=[" << t->GetLabel() << ']';
      else if (auto* e = dynamic_cast<wxTextCtrl*>(child))
        s << " edit" << child->GetId() << "=[" << e->GetValue() << ']';
      else if (auto* c = dynamic_cast<wxCheckBox*>(child))
        s << " check" << child->GetId() << "=" << c->GetValue();
    }
    Record(s.str());
  }

  // Runs one line; false when the script must wait before the next one.
  bool Step(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    if (verb.empty() || verb[0] == '#') return true;
    if (verb == "wait") {
      until_ = Clock::now() + std::chrono::milliseconds(std::atol(rest.c_str()));
      return false;
    }
    if (verb == "command") {
      auto* e = new wxCommandEvent(wxEVT_MENU, WxIdOf(std::atoi(rest.c_str())));
      e->SetEventObject(frame_);
      wxQueueEvent(frame_, e);
      return true;
    }
    if (verb == "wait-pane") {
      // wait-pane I TEXT... SECS
      const size_t first = rest.find(' ');
      const size_t last = rest.rfind(' ');
      const int pane = std::atoi(rest.substr(0, first).c_str());
      const std::string text = rest.substr(first + 1, last - first - 1);
      const double seconds = std::atof(rest.substr(last + 1).c_str());
      if (!waiting_) {
        waiting_ = true;
        deadline_ = Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
      }
      if (frame_->StatusBar()->GetStatusText(pane).Contains(text)) {
        waiting_ = false;
        return true;
      }
      if (Clock::now() > deadline_) {
        waiting_ = false;
        Record("TIMEOUT " + line);
        return true;
      }
      stay_ = true;
      return false;
    }
    if (verb == "dump") {
      Dump(rest);
      return true;
    }
    if (verb == "dialog-dump" || verb == "dialog-set" || verb == "dialog-check" ||
        verb == "dialog-button") {
      wxDialog* d = OpenDialog();
      if (d == nullptr) {
        // The dialog may not be open yet: try again on the next tick, for a while.
        if (++dialog_tries_ < 100) {
          stay_ = true;
          return false;
        }
        dialog_tries_ = 0;
        Record("NO-DIALOG " + line);
        return true;
      }
      dialog_tries_ = 0;
      if (verb == "dialog-dump") {
        DumpDialog(rest);
        return true;
      }
      const size_t space = rest.find(' ');
      const int id = std::atoi(rest.substr(0, space).c_str());
      const std::string value = space == std::string::npos ? "" : rest.substr(space + 1);
      if (verb == "dialog-button") {
        wxWindow* button = d->FindWindow(ButtonId(id));
        wxCommandEvent e(wxEVT_BUTTON, ButtonId(id));
        e.SetEventObject(button != nullptr ? button : d);
        // Queued, so that a dialog the button opens runs its own modal loop outside this tick.
        wxQueueEvent(button != nullptr ? static_cast<wxEvtHandler*>(button) : d, e.Clone());
      } else if (auto* edit = dynamic_cast<wxTextCtrl*>(d->FindWindow(id)); edit != nullptr && verb == "dialog-set") {
        edit->SetValue(value);
      } else if (auto* box = dynamic_cast<wxCheckBox*>(d->FindWindow(id)); box != nullptr) {
        box->SetValue(value == "1");
      } else {
        Record("NO-CONTROL " + line);
      }
      return true;
    }
    if (verb == "shot") {
      wxExecute("import -window root " + rest, wxEXEC_SYNC | wxEXEC_NOEVENTS);
      return true;
    }
    if (verb == "close") {
      frame_->Close();
      return true;
    }
    Record("UNKNOWN " + line);
    return true;
  }

  void OnTimer(wxTimerEvent&) {
    if (running_) return;
    running_ = true;
    while (next_ < lines_.size() && Clock::now() >= until_) {
      stay_ = false;
      const bool go_on = Step(lines_[next_]);
      if (!stay_) ++next_;
      if (!go_on) break;
    }
    running_ = false;
    if (next_ >= lines_.size()) return;
    // Sleep through a wait; poll every 50 ms while waiting for a pane text or a dialog.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until_ - Clock::now()).count();
    timer_.StartOnce(left > 50 ? static_cast<int>(left) : 50);
  }

  std::vector<std::string> lines_;
  std::ofstream out_;
  CMainFrame* frame_;
  CVarnolDoc* doc_;
  wxTimer timer_;
  size_t next_ = 0;
  Clock::time_point until_ = Clock::now();
  Clock::time_point deadline_;
  bool waiting_ = false;
  bool stay_ = false;
  bool running_ = false;
  int dialog_tries_ = 0;

 public:
  // Runs the lines that need no waiting at once (before the first pane refresh).
  void RunLeadingLines() {
    while (next_ < lines_.size()) {
      const std::string& line = lines_[next_];
      if (line.rfind("dump", 0) != 0 && line.rfind("dialog-dump", 0) != 0 && !line.empty() && line[0] != '#')
        break;
      Step(line);
      ++next_;
    }
  }
};

}  // namespace

bool StartTestScript(const std::string& path, CMainFrame* frame, CVarnolDoc* doc) {
  std::ifstream in(path);
  if (!in) return false;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const char* out = std::getenv("VARNOL_TEST_OUTPUT");
  auto* script = new TestScript(std::move(lines), out != nullptr && *out != 0 ? out : path + ".out",
                                frame, doc);
  script->RunLeadingLines();
  // Lives as long as the program (it may still be needed while the window closes).
  return true;
}
