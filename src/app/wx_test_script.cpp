// SPDX-License-Identifier: GPL-3.0-or-later
// The window tests' build of the clock window (varnol-test): the program as shipped, plus a
// driver that, when VARNOL_TEST_SCRIPT names a file, works the window as a user would (menu and
// button events, text typed into dialogs, real pointer and key events) and records what it
// shows. Only the tests link this file; the installed varnol has no such hook.
//
// The script has one command a line, run in order:
//
//   wait MS                     let the program run for MS milliseconds
//   command N                   the menu or toolbar command numbered N, posted as a click posts it
//   wait-pane I TEXT... SECS    wait until status pane I (0..4) contains TEXT (at most SECS)
//   dump LABEL                  record the window: title, place and size, panes, check marks,
//                               toolbar states, the strip chart's drawing position, the
//                               toolkit's grab (an open menu holds it)
//   dialog-set ID TEXT...       type TEXT into control ID of the open dialog
//   dialog-check ID 0|1         set check box ID of the open dialog
//   dialog-button ID            press button ID of the open dialog (1 OK, 2 Cancel)
//   dialog-select ID TEXT...    select the first entry of list ID that contains TEXT
//   dialog-dump LABEL           record the open dialog's title and control texts
//                               (the dialog commands wait up to 5 s for a dialog to open)
//   shot FILE                   screenshot of the whole screen (ImageMagick import)
//   close                       close the window as its close box does
//   pointer WHAT                move the pointer (real X events) onto: view, tool-N (toolbar
//                               position N), pane-N (status pane N), bar-LABEL (a command on
//                               the menu bar, "Start", "Stop" or "Mixer"), outside
//   click                       press and release the left button where the pointer is
//   key KEY                     press a key: escape, f1, shift-f1, alt-s, alt-p, alt-m, f10,
//                               left, right, down, alt-t, alt-u, alt-f, return
//   wiggle MS                   move the pointer to and fro over the view for MS milliseconds
//   cpu-begin / cpu-end LABEL   record the CPU time the process used in between, as a
//                               percentage of one core
//   prompt N / prompt-end       show command N's prompt as pointing at it does, then none
//   help-dump LABEL             record the page the help window shows and the context-help state
//
// What is recorded goes to $VARNOL_TEST_OUTPUT (default: the script's name + ".out"), one line
// each; a wait that times out records "TIMEOUT" and the script goes on.
#include <gtk/gtk.h>
#include <sys/resource.h>
#include <wx/checkbox.h>
#include <wx/display.h>
#include <wx/listbox.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/wx_app.h"
#include "app/wx_varnol.h"

namespace {

class TestScript : public wxEvtHandler {
 public:
  TestScript(std::vector<std::string> lines, std::string output, CMainFrame* frame, CVarnolDoc* doc)
      : lines_(std::move(lines)), out_(output, std::ios::app), frame_(frame), doc_(doc) {
    timer_.SetOwner(this);
    Bind(wxEVT_TIMER, &TestScript::OnTimer, this);
    wiggle_timer_.SetOwner(this, WiggleTimerId);
    Bind(wxEVT_TIMER, &TestScript::OnWiggle, this, WiggleTimerId);
    timer_.StartOnce(50);
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr int WiggleTimerId = 2;

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
    for (int command : {cmd::ID_START_MENU, cmd::ID_STOP_MENU})
      if (frame_->MenuChecked(command)) s << command << ',';
    for (int command : cmd::StationCommands)
      if (frame_->MenuChecked(command)) s << command << ',';
    if (frame_->MenuChecked(cmd::ID_AUTO_SET_CLOCK)) s << cmd::ID_AUTO_SET_CLOCK << ',';
    if (wxMenuItem* item = menus->FindItem(WxIdOf(cmd::ID_AUTO_SET_CLOCK)); item != nullptr)
      s << " autoset=[" << item->GetItemLabelText() << ']';
    s << " tools=" << frame_->ToolBar()->GetToolState(WxIdOf(cmd::ID_START_TOOL))
      << frame_->ToolBar()->GetToolState(WxIdOf(cmd::ID_STOP_TOOL));
    CVarnolView& view = frame_->ViewWindow()->View();
    s << " view_column=" << view.ViewColumn << " strip_x=" << view.StripX
      << " blocks=" << doc_->BlocksProcessed << " stopped=" << doc_->Stopped;
    const RgbImage& canvas = frame_->ViewWindow()->Canvas();
    s << " canvas=" << canvas.Width() << 'x' << canvas.Height();
    const wxSize view_size = frame_->ViewWindow()->GetSize();
    s << " view=" << view_size.x << 'x' << view_size.y << " strip_rows=" << view.StripHeight;
    s << " context_help=" << frame_->InContextHelp();
    s << " min=" << frame_->GetMinSize().x << 'x' << frame_->GetMinSize().y;
    // Panes whose text is wider than the pane (each pane keeps a few pixels of margin).
    s << " cut=[";
    for (int i = 0; i < bar->GetFieldsCount(); ++i) {
      wxRect field;
      wxString text = bar->GetStatusText(i);
      text.Trim(true);
      if (bar->GetFieldRect(i, field) && bar->GetTextExtent(text).x > field.width - 2) s << i << ',';
    }
    s << ']';
    // The widget that holds the toolkit's grab: a GtkMenu while a menu is open.
    GtkWidget* grab = gtk_grab_get_current();
    s << " grab=" << (grab != nullptr ? G_OBJECT_TYPE_NAME(grab) : "none");
    Record(s.str());
  }

  // Whether every text of the dialog is shown whole: each label at least as large as its text
  // needs, inside the dialog, and the dialog inside the screen.
  static bool Whole(wxDialog* d) {
    const wxRect screen = wxDisplay(d).GetGeometry();
    if (!screen.Contains(d->GetScreenRect())) return false;
    const wxRect client(wxPoint(0, 0), d->GetClientSize());
    for (wxWindow* child : d->GetChildren()) {
      auto* t = dynamic_cast<wxStaticText*>(child);
      if (t == nullptr) continue;
      const wxSize need = t->GetBestSize();
      const wxRect r = t->GetRect();
      if (r.width < need.x || r.height < need.y || !client.Contains(r)) return false;
    }
    return true;
  }

  wxPoint PointerTarget(const std::string& what) const {
    if (what == "view") return frame_->ViewWindow()->GetScreenRect().GetPosition() + wxPoint(300, 40);
    if (what == "outside") return frame_->GetScreenRect().GetBottomRight() + wxPoint(100, 100);
    if (what.rfind("tool-", 0) == 0) {
      const wxRect r = ToolScreenRect(frame_->ToolBar(), std::atoi(what.c_str() + 5));
      return r.IsEmpty() ? wxPoint() : r.GetPosition() + wxPoint(r.width / 2, r.height / 2);
    }
    if (what.rfind("pane-", 0) == 0) {
      wxRect r;
      if (!frame_->StatusBar()->GetFieldRect(std::atoi(what.c_str() + 5), r)) return {};
      return frame_->StatusBar()->ClientToScreen(r.GetPosition() + wxPoint(r.width / 2, r.height / 2));
    }
    if (what.rfind("bar-", 0) == 0) {
      for (int command : {cmd::ID_START_MENU, cmd::ID_STOP_MENU, cmd::ID_MIXER}) {
        MenuBarCommand* c = frame_->BarCommand(command);
        if (c != nullptr && c->Label() == what.substr(4)) {
          const wxRect r = c->ScreenRect();
          return r.GetPosition() + wxPoint(r.width / 2, r.height / 2);
        }
      }
    }
    return {};
  }

  static double CpuSeconds() {
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
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
      if (auto* t = dynamic_cast<wxStaticText*>(child)) {
        // A wrapped text is recorded with its line breaks taken out.
        wxString text = t->GetLabelText();
        text.Replace("\n", "");
        s << " static" << child->GetId() << "=[" << text << ']';
      }
      else if (auto* e = dynamic_cast<wxTextCtrl*>(child)) {
        long from = 0;
        long to = 0;
        e->GetSelection(&from, &to);
        s << " edit" << child->GetId() << "=[" << e->GetValue() << "] selected=" << from << '-' << to;
      }
      else if (auto* c = dynamic_cast<wxCheckBox*>(child))
        s << " check" << child->GetId() << "=" << c->GetValue();
      else if (auto* l = dynamic_cast<wxListBox*>(child)) {
        s << " list" << child->GetId() << "=[";
        for (unsigned i = 0; i < l->GetCount(); ++i) s << (i ? "|" : "") << l->GetString(i);
        s << "] selected=" << l->GetSelection();
      }
    }
    s << " whole=" << Whole(d);
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
        verb == "dialog-button" || verb == "dialog-select") {
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
      } else if (auto* list = dynamic_cast<wxListBox*>(d->FindWindow(id)); list != nullptr && verb == "dialog-select") {
        int found = -1;
        for (unsigned i = 0; i < list->GetCount() && found < 0; ++i)
          if (list->GetString(i).Contains(wxString::FromUTF8(value))) found = static_cast<int>(i);
        if (found < 0) Record("NO-ENTRY " + line);
        else list->SetSelection(found);
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
    if (verb == "pointer") {
      const wxPoint p = PointerTarget(rest);
      if (p == wxPoint()) {
        Record("NO-TARGET " + line);
        return true;
      }
      wxUIActionSimulator().MouseMove(p);
      return true;
    }
    if (verb == "click") {
      wxUIActionSimulator().MouseClick();
      return true;
    }
    if (verb == "key") {
      static const struct {
        const char* name;
        int key;
        int modifiers;
      } keys[] = {{"escape", WXK_ESCAPE, wxMOD_NONE}, {"f1", WXK_F1, wxMOD_NONE},
                  {"shift-f1", WXK_F1, wxMOD_SHIFT}, {"alt-s", 's', wxMOD_ALT},
                  {"alt-p", 'p', wxMOD_ALT},         {"alt-m", 'm', wxMOD_ALT},
                  {"f10", WXK_F10, wxMOD_NONE},      {"left", WXK_LEFT, wxMOD_NONE},
                  {"right", WXK_RIGHT, wxMOD_NONE},  {"down", WXK_DOWN, wxMOD_NONE},
                  {"alt-t", 't', wxMOD_ALT},         {"alt-u", 'u', wxMOD_ALT},
                  {"alt-f", 'f', wxMOD_ALT},         {"return", WXK_RETURN, wxMOD_NONE}};
      for (const auto& k : keys)
        if (rest == k.name) {
          wxUIActionSimulator().Char(k.key, k.modifiers);
          return true;
        }
      Record("NO-KEY " + line);
      return true;
    }
    if (verb == "wiggle") {
      wiggle_until_ = Clock::now() + std::chrono::milliseconds(std::atol(rest.c_str()));
      wiggle_timer_.Start(100);
      until_ = wiggle_until_;
      return false;
    }
    if (verb == "cpu-begin") {
      cpu_begin_ = CpuSeconds();
      wall_begin_ = Clock::now();
      return true;
    }
    if (verb == "cpu-end") {
      const double cpu = CpuSeconds() - cpu_begin_;
      const double wall = std::chrono::duration<double>(Clock::now() - wall_begin_).count();
      std::ostringstream s;
      s.setf(std::ios::fixed);
      s.precision(2);
      s << rest << " cpu_percent=" << 100.0 * cpu / wall << " over_s=" << wall;
      Record(s.str());
      return true;
    }
    if (verb == "prompt") {
      const cmd::CommandText* t = cmd::FindCommandText(std::atoi(rest.c_str()));
      frame_->DoGiveHelp(t != nullptr ? t->prompt : "", true);
      return true;
    }
    if (verb == "prompt-end") {
      frame_->DoGiveHelp("", false);
      return true;
    }
    if (verb == "help-dump") {
      wxFrame* help = frame_->Help().Frame();
      Record(rest + " help=[" + frame_->Help().OpenedPage() + "] help_shown=" +
             std::to_string(help != nullptr && help->IsShown()) +
             " context_help=" + std::to_string(frame_->InContextHelp()));
      return true;
    }
    Record("UNKNOWN " + line);
    return true;
  }

  void OnWiggle(wxTimerEvent&) {
    if (Clock::now() >= wiggle_until_) {
      wiggle_timer_.Stop();
      return;
    }
    const wxRect r = frame_->ViewWindow()->GetScreenRect();
    wiggle_step_ = (wiggle_step_ + 1) % 20;
    wxUIActionSimulator().MouseMove(r.x + 100 + 20 * wiggle_step_, r.y + 20 + wiggle_step_);
  }

  void OnTimer(wxTimerEvent& event) {
    if (event.GetId() != timer_.GetId()) {
      event.Skip();
      return;
    }
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
  wxTimer wiggle_timer_;
  Clock::time_point wiggle_until_;
  int wiggle_step_ = 0;
  double cpu_begin_ = 0.0;
  Clock::time_point wall_begin_;

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

// Reads the script and starts it; false when it cannot be read.
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

// The program with the driver started once the window is shown; without VARNOL_TEST_SCRIPT it
// is the window as shipped.
class CVarnolTestApp : public CVarnolApp {
 public:
  // With a script and VARNOL_TEST_CLOCK_SERVICE, the simulated receiver's clock steps go to the
  // time service on the test's bus, so that the tests reach that path without the machine's
  // clock.
  bool SandboxWritesToTimeService() const override {
    const char* script = std::getenv("VARNOL_TEST_SCRIPT");
    const char* service = std::getenv("VARNOL_TEST_CLOCK_SERVICE");
    return script != nullptr && *script != 0 && service != nullptr && *service != 0;
  }

  bool OnInit() override {
    if (!CVarnolApp::OnInit()) return false;
    const char* script = std::getenv("VARNOL_TEST_SCRIPT");
    if (script == nullptr || *script == 0) return true;
    if (!StartTestScript(script, Frame(), Doc())) {
      std::fprintf(stderr, "varnol: cannot read the test script %s\n", script);
      return false;
    }
    return true;
  }
};

}  // namespace

wxIMPLEMENT_APP(CVarnolTestApp);
