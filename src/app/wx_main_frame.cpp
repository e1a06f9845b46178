// CMainFrame: the clock's one window -- menus, toolbar, the strip chart and the status bar with
// its four panes, refreshed eight times a second by the pane timer.
#include <wx/artprov.h>
#include <wx/cshelp.h>
#include <wx/dcmemory.h>
#include <wx/settings.h>
#include <wx/utils.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "app/setup_dialogs.h"
#include "app/wx_varnol.h"

namespace {

// Every command number the window knows; its toolkit id is its place in this list.
constexpr int KnownCommands[] = {
    cmd::ID_FILE_NEW,       cmd::ID_APP_ABOUT,     cmd::ID_APP_EXIT,         cmd::ID_HELP_FINDER,
    cmd::ID_CONTEXT_HELP,   cmd::ID_HELP,          cmd::ID_DEFAULT_HELP,     cmd::ID_START_MENU,
    cmd::ID_STOP_MENU,      cmd::ID_START_TOOL,    cmd::ID_STOP_TOOL,        cmd::ID_STATION_MSF,
    cmd::ID_STATION_HBG,    cmd::ID_STATION_DCF77, cmd::ID_STATION_WWVB,     cmd::ID_STATION_VNG,
    cmd::ID_STATION_RWM,    cmd::ID_STATION_WWV,   cmd::ID_CLOCK_OFFSET,     cmd::ID_CALIBRATION,
    cmd::ID_AUTO_SET_CLOCK, cmd::ID_MIXER,         cmd::ID_INDICATOR_STATION, cmd::ID_INDICATOR_PC,
    cmd::ID_INDICATOR_SYN,  cmd::ID_INDICATOR_RESET, cmd::ID_TOOLBAR,        cmd::ID_STATUS_BAR,
};
constexpr int KnownCount = static_cast<int>(sizeof KnownCommands / sizeof KnownCommands[0]);
constexpr int FirstWxId = wxID_HIGHEST + 1;
static_assert(FirstWxId + KnownCount < 32768);

// Status panes, left to right after the message line.
constexpr int PaneCommands[4] = {cmd::ID_INDICATOR_STATION, cmd::ID_INDICATOR_RESET,
                                 cmd::ID_INDICATOR_SYN, cmd::ID_INDICATOR_PC};

// Menu items whose check marks or texts the document keeps current.
constexpr int UpdatedMenuItems[] = {
    cmd::ID_START_MENU,  cmd::ID_STOP_MENU,    cmd::ID_STATION_MSF, cmd::ID_STATION_HBG,
    cmd::ID_STATION_DCF77, cmd::ID_STATION_WWVB, cmd::ID_STATION_VNG, cmd::ID_STATION_RWM,
    cmd::ID_STATION_WWV, cmd::ID_AUTO_SET_CLOCK};
constexpr int UpdatedTools[] = {cmd::ID_START_TOOL, cmd::ID_STOP_TOOL};

const char* Prompt(int command) {
  const cmd::CommandText* t = cmd::FindCommandText(command);
  return t != nullptr ? t->prompt : "";
}

const char* Tip(int command) {
  const cmd::CommandText* t = cmd::FindCommandText(command);
  return t != nullptr ? t->tip : "";
}

// Changes a menu item only where the document's state differs from what the item shows
// (`shown` remembers that, so that an unchanged item costs nothing).
class MenuItemUi : public CVarnolDoc::CCmdUI {
 public:
  MenuItemUi(wxMenuItem* item, MenuItemShown& shown) : item_(item), shown_(shown) {}
  void SetCheck(int check) override {
    if (!item_->IsCheckable() || shown_.check == check) return;
    item_->Check(check != 0);
    shown_.check = check;
  }
  void SetText(const char* text) override {
    if (shown_.text == text) return;
    item_->SetItemLabel(text);
    shown_.text = text;
  }

 private:
  wxMenuItem* item_;
  MenuItemShown& shown_;
};

class ToolUi : public CVarnolDoc::CCmdUI {
 public:
  ToolUi(wxToolBar* bar, int wx_id) : bar_(bar), id_(wx_id) {}
  void SetCheck(int check) override {
    if (bar_->GetToolState(id_) != (check != 0)) bar_->ToggleTool(id_, check != 0);
  }
  void SetText(const char*) override {}

 private:
  wxToolBar* bar_;
  int id_;
};

// Collects a pane's text; the bar is changed afterwards, all panes at once.
class PaneUi : public CVarnolDoc::CCmdUI {
 public:
  void SetCheck(int) override {}
  void SetText(const char* text) override { std::snprintf(text_, sizeof text_, "%s", text); }
  const char* Text() const { return text_; }

 private:
  char text_[96] = {};
};

// The four 16 x 15 toolbar images on a grey ground.
enum class ToolImage { Start, Stop, About, ContextHelp };

wxBitmap MakeToolImage(ToolImage which) {
  wxBitmap bitmap(16, 15, 24);
  wxMemoryDC dc(bitmap);
  dc.SetBackground(wxBrush(wxColour(192, 192, 192)));
  dc.Clear();
  wxFont font(wxFontInfo(9).Family(wxFONTFAMILY_SWISS).Bold());
  dc.SetFont(font);
  switch (which) {
    case ToolImage::Start:
      dc.SetPen(wxPen(wxColour(128, 0, 0)));
      dc.SetBrush(wxBrush(wxColour(255, 0, 0)));
      dc.DrawEllipse(2, 1, 12, 12);
      break;
    case ToolImage::Stop:
      dc.SetPen(wxPen(wxColour(0, 0, 128)));
      dc.SetBrush(wxBrush(wxColour(0, 0, 255)));
      dc.DrawRectangle(3, 2, 10, 10);
      break;
    case ToolImage::About: {
      const wxSize q = dc.GetTextExtent("?");
      const int x = (16 - q.x) / 2;
      const int y = (15 - q.y) / 2;
      dc.SetTextForeground(wxColour(64, 64, 0));
      dc.DrawText("?", x + 1, y + 1);
      dc.SetTextForeground(wxColour(255, 255, 0));
      dc.DrawText("?", x, y);
      break;
    }
    case ToolImage::ContextHelp: {
      const wxPoint arrow[] = {{1, 1}, {1, 11}, {4, 8}, {6, 12}, {8, 11}, {6, 7}, {9, 7}};
      dc.SetPen(wxPen(wxColour(0, 0, 0)));
      dc.SetBrush(wxBrush(wxColour(0, 0, 0)));
      dc.DrawPolygon(7, arrow);
      dc.SetTextForeground(wxColour(0, 0, 255));
      const wxSize q = dc.GetTextExtent("?");
      dc.DrawText("?", 15 - q.x, (15 - q.y) / 2);
      break;
    }
  }
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

}  // namespace

int WxIdOf(int command) {
  for (int i = 0; i < KnownCount; ++i)
    if (KnownCommands[i] == command) return FirstWxId + i;
  return 0;
}

int CommandOf(int wx_id) {
  const int i = wx_id - FirstWxId;
  return i >= 0 && i < KnownCount ? KnownCommands[i] : 0;
}

CMainFrame::CMainFrame(CVarnolDoc& doc)
    : wxFrame(nullptr, wxID_ANY, ProgramName, wxPoint(0, 0), wxSize(600, 172)), doc_(doc) {
  // A 600 x 172 window at the screen's top-left corner.
  SetSize(0, 0, 600, 172);
  // The font and colours fixed once (the theme's own): a paint would otherwise ask the desktop
  // theme for them every time.
  SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  SetOwnForegroundColour(GetForegroundColour());
  SetOwnBackgroundColour(GetBackgroundColour());
  BuildMenus();
  if (!BuildToolBar() || !BuildStatusBar()) {
    created_ = false;
    return;
  }
  view_window_ = new CVarnolViewWindow(this, doc_);

  wxAcceleratorEntry keys[] = {
      {wxACCEL_NORMAL, WXK_F1, WxIdOf(cmd::ID_HELP)},
      {wxACCEL_SHIFT, WXK_F1, WxIdOf(cmd::ID_CONTEXT_HELP)},
      {wxACCEL_CTRL, 'N', WxIdOf(cmd::ID_FILE_NEW)},
  };
  SetAcceleratorTable(wxAcceleratorTable(3, keys));

  Bind(wxEVT_MENU, &CMainFrame::OnMenu, this, FirstWxId, FirstWxId + KnownCount - 1);
  Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
  pane_timer_.SetOwner(this);
  Bind(wxEVT_TIMER, &CMainFrame::OnPaneTimer, this);
  pane_timer_.Start(125);  // never stopped; it ends with the window
}

CMainFrame::~CMainFrame() { pane_timer_.Stop(); }

void CMainFrame::BuildMenus() {
  auto* bar = new wxMenuBar;
  auto item = [](wxMenu* menu, int command, const char* text, wxItemKind kind = wxITEM_NORMAL) {
    menu->Append(WxIdOf(command), text, Prompt(command), kind);
  };

  auto* file = new wxMenu;
  item(file, cmd::ID_APP_EXIT, "E&xit");
  bar->Append(file, "&File");

  // A menu bar cannot carry a plain command here: "&Start", "Sto&p" and "&Mixer" each open a
  // menu of one item that carries the command (and its check mark).
  auto* start = new wxMenu;
  item(start, cmd::ID_START_MENU, "&Start", wxITEM_CHECK);
  bar->Append(start, "&Start");
  auto* stop = new wxMenu;
  item(stop, cmd::ID_STOP_MENU, "Sto&p", wxITEM_CHECK);
  bar->Append(stop, "Sto&p");

  auto* transmitter = new wxMenu;
  item(transmitter, cmd::ID_STATION_MSF, "60kHz MSF Rugby GB", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_HBG, "75kHz HBG Prangins, CH", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_DCF77, "77.5kHz DCF77 Mainflingen D", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_WWVB, "60kHz WWVB Boulder Colorado", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_VNG, "HF VNG Llandilo Australia", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_RWM, "HF RWM Moscow Russia", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_WWV, "HF WWV/H Colorado/Hawaii", wxITEM_CHECK);
  bar->Append(transmitter, "Transmitter");

  auto* setup = new wxMenu;
  item(setup, cmd::ID_CLOCK_OFFSET, "PC clock offset");
  item(setup, cmd::ID_CALIBRATION, "Soundcard calibration");
  bar->Append(setup, "Setup");

  auto* auto_set = new wxMenu;
  item(auto_set, cmd::ID_AUTO_SET_CLOCK, "Enabled", wxITEM_CHECK);
  bar->Append(auto_set, "Auto set PC clock");

  auto* mixer = new wxMenu;
  item(mixer, cmd::ID_MIXER, "&Mixer");
  bar->Append(mixer, "&Mixer");

  auto* help = new wxMenu;
  item(help, cmd::ID_HELP_FINDER, "&Help Topics");
  help->AppendSeparator();
  item(help, cmd::ID_APP_ABOUT, "&About Marvesta");
  bar->Append(help, "&Help");

  SetMenuBar(bar);
}

bool CMainFrame::BuildToolBar() {
  m_wndToolBar = CreateToolBar(wxTB_FLAT | wxTB_HORIZONTAL, WxIdOf(cmd::ID_TOOLBAR));
  if (m_wndToolBar == nullptr) return false;
  m_wndToolBar->SetToolBitmapSize(wxSize(16, 15));
  auto tool = [&](int command, ToolImage image, wxItemKind kind) {
    m_wndToolBar->AddTool(WxIdOf(command), Tip(command), MakeToolImage(image), wxNullBitmap, kind,
                          Tip(command), Prompt(command));
  };
  tool(cmd::ID_START_TOOL, ToolImage::Start, wxITEM_CHECK);
  tool(cmd::ID_STOP_TOOL, ToolImage::Stop, wxITEM_CHECK);
  m_wndToolBar->AddSeparator();
  tool(cmd::ID_APP_ABOUT, ToolImage::About, wxITEM_NORMAL);
  tool(cmd::ID_CONTEXT_HELP, ToolImage::ContextHelp, wxITEM_NORMAL);
  return m_wndToolBar->Realize();
}

bool CMainFrame::BuildStatusBar() {
  // Texts too long for a pane are cut off at its edge, never ellipsised or widened.
  m_wndStatusBar = new wxStatusBar(this, WxIdOf(cmd::ID_STATUS_BAR), wxSTB_SIZEGRIP | wxFULL_REPAINT_ON_RESIZE);
  // Its own font and colours (the theme's), so that a repaint does not ask the theme again.
  m_wndStatusBar->SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
  m_wndStatusBar->SetForegroundColour(m_wndStatusBar->GetForegroundColour());
  m_wndStatusBar->SetBackgroundColour(m_wndStatusBar->GetBackgroundColour());
  const char* samples[4] = {cmd::StationPaneSample, cmd::ResetPaneSample, cmd::SynPaneSample,
                            cmd::PcPaneSample};
  int widths[5] = {-1, 0, 0, 0, 0};
  int styles[5] = {wxSB_FLAT, wxSB_NORMAL, wxSB_NORMAL, wxSB_NORMAL, wxSB_NORMAL};
  for (int i = 0; i < 4; ++i) {
    // The sample's width in the bar's font, plus the pane's margins.
    widths[i + 1] = m_wndStatusBar->GetTextExtent(samples[i]).x + 12;
  }
  m_wndStatusBar->SetFieldsCount(5, widths);
  m_wndStatusBar->SetStatusStyles(5, styles);
  SetStatusBar(m_wndStatusBar);
  SetStatusBarPane(0);  // menu and toolbar prompts go to the message line
  m_wndStatusBar->SetStatusText(cmd::IdlePrompt, 0);
  for (int i = 0; i < 4; ++i) {
    m_wndStatusBar->SetStatusText(samples[i], i + 1);
    std::snprintf(pane_texts_[i], sizeof pane_texts_[i], "%s", samples[i]);
  }
  return true;
}

void CMainFrame::RefreshCommandUi() {
  if (menu_items_[0] == nullptr) {
    wxMenuBar* bar = GetMenuBar();
    for (size_t i = 0; i < std::size(UpdatedMenuItems); ++i)
      menu_items_[i] = bar != nullptr ? bar->FindItem(WxIdOf(UpdatedMenuItems[i])) : nullptr;
  }
  for (size_t i = 0; i < std::size(UpdatedMenuItems); ++i) {
    if (menu_items_[i] == nullptr) continue;
    MenuItemUi ui(menu_items_[i], menu_shown_[i]);
    doc_.OnUpdateCmdUI(UpdatedMenuItems[i], ui);
  }
  for (int command : UpdatedTools) {
    ToolUi ui(m_wndToolBar, WxIdOf(command));
    doc_.OnUpdateCmdUI(command, ui);
  }
  PaneUi panes[4];
  bool changed = false;
  for (int i = 0; i < 4; ++i) {
    doc_.OnUpdateCmdUI(PaneCommands[i], panes[i]);
    if (std::strcmp(panes[i].Text(), pane_texts_[i]) != 0) changed = true;
  }
  if (!changed) return;
  // Only changed panes are set, and the bar is redrawn once for all of them.
  m_wndStatusBar->Freeze();
  for (int i = 0; i < 4; ++i) {
    if (std::strcmp(panes[i].Text(), pane_texts_[i]) == 0) continue;
    std::snprintf(pane_texts_[i], sizeof pane_texts_[i], "%s", panes[i].Text());
    m_wndStatusBar->SetStatusText(wxString::FromUTF8(pane_texts_[i]), i + 1);
  }
  m_wndStatusBar->Thaw();
}

void CMainFrame::OnPaneTimer(wxTimerEvent&) { PaneTimerTick(); }

void CMainFrame::RunCommand(int command) {
  switch (command) {
    case cmd::ID_APP_EXIT: Close(); return;
    case cmd::ID_APP_ABOUT: ShowAbout(); return;
    case cmd::ID_HELP_FINDER:
    case cmd::ID_HELP:
    case cmd::ID_DEFAULT_HELP: ShowHelpTopics(); return;
    case cmd::ID_CONTEXT_HELP: {
      wxContextHelp help(this);
      return;
    }
    case cmd::ID_FILE_NEW: return;  // the one document stays as it is
    default: break;
  }
  // A click toggles a check item by itself: what the items show is no longer known.
  for (MenuItemShown& shown : menu_shown_) shown.check = -1;
  doc_.OnCmdMsg(command, this);
  RefreshCommandUi();
}

void CMainFrame::OnMenu(wxCommandEvent& event) { RunCommand(CommandOf(event.GetId())); }

void CMainFrame::OnClose(wxCloseEvent&) {
  pane_timer_.Stop();
  Destroy();
}

void CMainFrame::ShowHelpTopics() {
  ShowMessage(this,
              "Connect the receiver's audio output to the sound card's recording input, choose "
              "the station from the Transmitter menu and choose Start. The strip chart shows the "
              "tone's spectrum, its level with the threshold (red), the blocks below the "
              "threshold and the minute markers. After two consecutive minutes are decoded the "
              "reset time appears in the status bar; with Auto set PC clock enabled the PC clock "
              "is set (hour, minute, second 1) plus the offset chosen under Setup.",
              wxOK | wxICON_INFORMATION);
}

// --- Setup commands' dialogs and mixer ---------------------------------------------------------

void CMainFrame::StartMixer() {
  const char* path = std::getenv("PATH");
  const std::string program = FindMixerProgram(path != nullptr ? path : "");
  if (program.empty()) return;  // no recording-level control installed: the advice still helps
  const wxString command = wxString::Format("\"%s\" %s", program, MixerArguments);
  wxExecute(command, wxEXEC_ASYNC | wxEXEC_HIDE_CONSOLE);
}

void CMainFrame::ShowInformation(const char* text) {
  ShowMessage(this, text, wxOK | wxICON_INFORMATION);
}
