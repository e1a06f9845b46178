// SPDX-License-Identifier: GPL-3.0-or-later
// CMainFrame: the clock's one window -- menus, toolbar, the strip chart and the status bar with
// its four panes, refreshed eight times a second by the pane timer.
#include <wx/artprov.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/settings.h>
#include <wx/utils.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>

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
    cmd::ID_INPUT_DEVICE,   cmd::ID_SIGNAL_REPORT,
    cmd::ID_AUTO_LEVEL,     cmd::ID_TONE_AUTO,     cmd::ID_TONE_OFF,         cmd::ID_TONE_FIXED,
    cmd::ID_TUNING_AID,     cmd::ID_STATION_JJY,  cmd::ID_STATION_CHU,
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
    cmd::ID_STATION_WWV, cmd::ID_STATION_JJY, cmd::ID_STATION_CHU, cmd::ID_AUTO_SET_CLOCK};
constexpr int UpdatedTools[] = {cmd::ID_START_TOOL, cmd::ID_STOP_TOOL};
static_assert(std::size(UpdatedMenuItems) == CMainFrame::UpdatedMenuItemCount, "one found item per updated command");

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

namespace {
constexpr int FrameWidth = 600;  // pixels
}  // namespace

CMainFrame::CMainFrame(CVarnolDoc& doc)
    : wxFrame(nullptr, wxID_ANY, ProgramName, wxPoint(0, 0), wxSize(FrameWidth, 172)), doc_(doc) {
  // A 600-pixel wide window at the screen's top-left corner; its height is made to fit the
  // strip chart once the menu bar, toolbar and status bar are in (FitStripHeight).
  SetSize(0, 0, FrameWidth, 172);
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
  // Escape leaves context help wherever the keyboard focus is in the window (the toolkit's key
  // events reach only the focused control, and in context help that may be none).
  OnEscapeKey(this, [this] {
    if (!context_help_) return false;
    LeaveContextHelp();
    return true;
  });
  // The toolkit learns the heights of the bars and the window manager's frame only after the
  // window is shown: until the window has settled, every new size is fitted to the strip again.
  fit_until_ = wxGetLocalTimeMillis() + 3000;
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    if (wxGetLocalTimeMillis() < fit_until_) CallAfter([this] { FitStripHeight(); });
  });
  // While context help holds the pointer, every click comes here.
  Bind(wxEVT_LEFT_DOWN, &CMainFrame::OnContextHelpClick, this);
  Bind(wxEVT_RIGHT_DOWN, &CMainFrame::OnContextHelpClick, this);
  Bind(wxEVT_MIDDLE_DOWN, &CMainFrame::OnContextHelpClick, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CMainFrame::OnCaptureLost, this);
  pane_timer_.SetOwner(this);
  Bind(wxEVT_TIMER, &CMainFrame::OnPaneTimer, this);
  pane_timer_.Start(125);  // never stopped; it ends with the window
}

CMainFrame::~CMainFrame() {
  pane_timer_.Stop();
  if (close_retry_) close_retry_->Stop();
  help_.Close();
}

void CMainFrame::BuildMenus() {
  auto* bar = new wxMenuBar;
  auto item = [](wxMenu* menu, int command, const char* text, wxItemKind kind = wxITEM_NORMAL) {
    menu->Append(WxIdOf(command), text, Prompt(command), kind);
  };

  auto* file = new wxMenu;
  item(file, cmd::ID_APP_EXIT, "E&xit");
  bar->Append(file, "&File");


  // Every menu and item has its Alt key (the underlined letter); the texts read as before.
  auto* transmitter = new wxMenu;
  item(transmitter, cmd::ID_STATION_MSF, "60kHz &MSF Rugby GB", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_HBG, "75kHz &HBG Prangins, CH", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_DCF77, "77.5kHz &DCF77 Mainflingen D", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_WWVB, "60kHz WWV&B Boulder Colorado", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_VNG, "HF &VNG Llandilo Australia", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_RWM, "HF &RWM Moscow Russia", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_WWV, "HF &WWV/H Colorado/Hawaii", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_JJY, "40/60kHz &JJY Fukushima/Saga Japan", wxITEM_CHECK);
  item(transmitter, cmd::ID_STATION_CHU, "HF &CHU Ottawa Canada", wxITEM_CHECK);
  bar->Append(transmitter, "&Transmitter");

  auto* setup = new wxMenu;
  item(setup, cmd::ID_CLOCK_OFFSET, "PC clock &offset");
  item(setup, cmd::ID_CALIBRATION, "Soundcard &calibration");
  setup->AppendSeparator();
  item(setup, cmd::ID_INPUT_DEVICE, "Sound &input...");
  item(setup, cmd::ID_SIGNAL_REPORT, "Signal &report...");
  // The input settings, kept with the others (wx_input_menu.cpp).
  setup->AppendSeparator();
  item(setup, cmd::ID_AUTO_LEVEL, "Automatic &level", wxITEM_CHECK);
  item(setup, cmd::ID_TONE_AUTO, "Tone: find &automatically", wxITEM_RADIO);
  item(setup, cmd::ID_TONE_OFF, "Tone: at 1000 Hz, &not moved", wxITEM_RADIO);
  item(setup, cmd::ID_TONE_FIXED, "Tone: &from a frequency...", wxITEM_RADIO);
  item(setup, cmd::ID_TUNING_AID, "&Tuning aid", wxITEM_CHECK);
  bar->Append(setup, "Set&up");

  auto* auto_set = new wxMenu;
  item(auto_set, cmd::ID_AUTO_SET_CLOCK, "Enabled", wxITEM_CHECK);
  bar->Append(auto_set, "&Auto set PC clock");


  auto* help = new wxMenu;
  item(help, cmd::ID_HELP_FINDER, "&Help Topics");
  help->AppendSeparator();
  item(help, cmd::ID_APP_ABOUT, "&About Marvesta");
  bar->Append(help, "&Help");

  SetMenuBar(bar);

  // "&Start", "Sto&p" and "&Mixer" are commands on the bar itself: one click (or Alt and the
  // underlined letter) runs them. Start and Stop show their check mark as a check box in the
  // title; the toolbar's pressed button shows the same state.
  auto command = [this](int id) { return [this, id] { CallAfter([this, id] { RunCommand(id); }); }; };
  auto prompt = [this](int id) {
    return [this, id](bool show) { DoGiveHelp(show ? Prompt(id) : "", show); };
  };
  bar_start_.reset(MenuBarCommand::Insert(bar, 1, "&Start", true, command(cmd::ID_START_MENU),
                                          prompt(cmd::ID_START_MENU)));
  bar_stop_.reset(MenuBarCommand::Insert(bar, 2, "Sto&p", true, command(cmd::ID_STOP_MENU),
                                         prompt(cmd::ID_STOP_MENU)));
  bar_mixer_.reset(MenuBarCommand::Insert(bar, 6, "&Mixer", false, command(cmd::ID_MIXER),
                                          prompt(cmd::ID_MIXER)));
}

MenuBarCommand* CMainFrame::BarCommand(int command) {
  switch (command) {
    case cmd::ID_START_MENU: return bar_start_.get();
    case cmd::ID_STOP_MENU: return bar_stop_.get();
    case cmd::ID_MIXER: return bar_mixer_.get();
    default: return nullptr;
  }
}

bool CMainFrame::MenuChecked(int command) {
  if (MenuBarCommand* c = BarCommand(command)) return c->IsChecked();
  wxMenuItem* item = GetMenuBar() != nullptr ? GetMenuBar()->FindItem(WxIdOf(command)) : nullptr;
  return item != nullptr && item->IsChecked();
}

bool CMainFrame::BuildToolBar() {
  m_wndToolBar = CreateToolBar(wxTB_FLAT | wxTB_HORIZONTAL, WxIdOf(cmd::ID_TOOLBAR));
  if (m_wndToolBar == nullptr) return false;
  m_wndToolBar->SetToolBitmapSize(wxSize(16, 15));
  MakeToolBarCompact(m_wndToolBar);
  auto tool = [&](int command, ToolImage image, wxItemKind kind) {
    m_wndToolBar->AddTool(WxIdOf(command), Tip(command), MakeToolImage(image), wxNullBitmap, kind,
                          Tip(command), Prompt(command));
  };
  tool(cmd::ID_START_TOOL, ToolImage::Start, wxITEM_CHECK);
  tool(cmd::ID_STOP_TOOL, ToolImage::Stop, wxITEM_CHECK);
  m_wndToolBar->AddSeparator();
  tool(cmd::ID_APP_ABOUT, ToolImage::About, wxITEM_NORMAL);
  tool(cmd::ID_CONTEXT_HELP, ToolImage::ContextHelp, wxITEM_NORMAL);
  if (!m_wndToolBar->Realize()) return false;
  // Its full size from the start: GTK complains when it is laid out in less room than its
  // tools need (before the frame's first layout it would have a size of a pixel or two).
  m_wndToolBar->SetSize(wxSize(FrameWidth, m_wndToolBar->GetBestSize().y));
  return true;
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
  // Each pane as wide as the longest text it shows: the station names, the capture and decoder
  // texts, and the time panes with the offset label in its longest form (after the offset
  // dialog: one blank, "[UT-05.5]", two blanks).
  const std::initializer_list<const char*> texts[4] = {
      {cmd::StationPaneSample, "MSF", "HBG", "WWVB", "VNG", "RWM", "WWV"},
      {cmd::ResetPaneSample, "ready to start", "decoding... ", "mark -8888", "Reset 22:22 UT+0"},
      {cmd::SynPaneSample, "Syn 22:22:22 [UT-05.5]  ", "Syn 22:22:22 [UT+13.0]  "},
      {cmd::PcPaneSample, "PC 22:22:22 [UT-05.5]  ", "PC 22:22:22 [UT+13.0]  "}};
  // The bar's font is made smaller, a point at a time and only as far as needed, until every
  // pane and the message line's idle prompt fit the window's width side by side.
  wxFont font = m_wndStatusBar->GetFont();
  const int budget = FrameWidth - 8 - 2 * m_wndStatusBar->GetTextExtent("Mg").y;  // borders, size grip
  for (;;) {
    m_wndStatusBar->SetFont(font);
    pane_widths_[0] = -1;
    int total = m_wndStatusBar->GetTextExtent(cmd::IdlePrompt).x + 12;
    for (int i = 0; i < 4; ++i) {
      int widest = 0;
      for (const char* t : texts[i]) {
        // Trailing blanks show nothing: they need no room.
        wxString shown(t);
        shown.Trim(true);
        widest = std::max(widest, m_wndStatusBar->GetTextExtent(shown).x);
      }
      pane_widths_[i + 1] = widest + 12;  // the pane's margins
      total += pane_widths_[i + 1];
    }
    if (total <= budget || font.GetPointSize() <= 7) break;
    font.SetPointSize(font.GetPointSize() - 1);
  }
  SetPaneWidths();
  SetStatusBar(m_wndStatusBar);
  SetStatusBarPane(0);  // menu and toolbar prompts go to the message line
  m_wndStatusBar->SetStatusText(message_line_, 0);
  for (int i = 0; i < 4; ++i) {
    m_wndStatusBar->SetStatusText(samples[i], i + 1);
    std::snprintf(pane_texts_[i], sizeof pane_texts_[i], "%s", samples[i]);
  }
  return true;
}

void CMainFrame::SetPaneWidths() {
  int styles[5] = {wxSB_FLAT, wxSB_NORMAL, wxSB_NORMAL, wxSB_NORMAL, wxSB_NORMAL};
  m_wndStatusBar->SetFieldsCount(5, pane_widths_);
  m_wndStatusBar->SetStatusStyles(5, styles);
}

void CMainFrame::DoGiveHelp(const wxString& text, bool show) {
  if (m_wndStatusBar == nullptr) return;
  if (show && !text.empty()) {
    if (!prompt_shown_) {
      prompt_shown_ = true;
      int style = wxSB_FLAT;
      m_wndStatusBar->SetFieldsCount(1);
      m_wndStatusBar->SetStatusStyles(1, &style);
    }
    m_wndStatusBar->SetStatusText(text, 0);
    return;
  }
  if (!prompt_shown_) return;
  prompt_shown_ = false;
  m_wndStatusBar->Freeze();
  SetPaneWidths();
  m_wndStatusBar->SetStatusText(message_line_, 0);
  for (int i = 0; i < 4; ++i) m_wndStatusBar->SetStatusText(wxString::FromUTF8(pane_texts_[i]), i + 1);
  m_wndStatusBar->Thaw();
}

void CMainFrame::FitStripHeight() {
  if (view_window_ == nullptr) return;
  // The view fills what the menu bar, the toolbar and the status bar leave.
  Layout();
  const int short_by = view_window_->View().StripHeight - view_window_->GetSize().y;
  if (short_by != 0) {
    SetSize(wxSize(GetSize().x, GetSize().y + short_by));
    Layout();
  }
  // Never smaller than this: a narrower window would cut the menu bar's titles and the panes,
  // a lower one the strip.
  int width = FrameWidth;
  if (wxMenuBar* bar = GetMenuBar(); bar != nullptr) width = std::max(width, bar->GetBestSize().x);
  SetMinSize(wxSize(width, GetSize().y + std::max(0, view_window_->View().StripHeight - view_window_->GetSize().y)));
}

void CMainFrame::RefreshCommandUi() {
  RefreshReportTip();
  RefreshInputItems();
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
  for (int command : {cmd::ID_START_MENU, cmd::ID_STOP_MENU}) {
    class BarCommandUi : public CVarnolDoc::CCmdUI {
     public:
      explicit BarCommandUi(MenuBarCommand* c) : c_(c) {}
      void SetCheck(int check) override { c_->SetCheck(check != 0); }
      void SetText(const char*) override {}

     private:
      MenuBarCommand* c_;
    };
    if (MenuBarCommand* c = BarCommand(command)) {
      BarCommandUi ui(c);
      doc_.OnUpdateCmdUI(command, ui);
    }
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
  if (prompt_shown_) {
    // The panes are hidden behind a prompt: they get their texts when it goes.
    for (int i = 0; i < 4; ++i) std::snprintf(pane_texts_[i], sizeof pane_texts_[i], "%s", panes[i].Text());
    return;
  }
  // Only changed panes are set, and the bar is redrawn once for all of them.
  m_wndStatusBar->Freeze();
  for (int i = 0; i < 4; ++i) {
    if (std::strcmp(panes[i].Text(), pane_texts_[i]) == 0) continue;
    std::snprintf(pane_texts_[i], sizeof pane_texts_[i], "%s", panes[i].Text());
    m_wndStatusBar->SetStatusText(wxString::FromUTF8(pane_texts_[i]), i + 1);
  }
  m_wndStatusBar->Thaw();
}

void CMainFrame::OnPaneTimer(wxTimerEvent&) {
  if (fit_until_ != 0) {
    if (wxGetLocalTimeMillis() < fit_until_) FitStripHeight();
    else fit_until_ = 0;
  }
  PaneTimerTick();
}

void CMainFrame::RunCommand(int command) {
  switch (command) {
    case cmd::ID_APP_EXIT: Close(); return;
    case cmd::ID_APP_ABOUT: ShowAbout(); return;
    case cmd::ID_HELP_FINDER:
    case cmd::ID_DEFAULT_HELP: ShowHelpTopics(); return;
    case cmd::ID_HELP:
      // F1: the page of what the pointer is on, the contents otherwise.
      help_.Show(this, HelpPageAt(wxGetMousePosition()));
      return;
    case cmd::ID_CONTEXT_HELP: EnterContextHelp(); return;
    case cmd::ID_FILE_NEW: return;  // the one document stays as it is
    case cmd::ID_INPUT_DEVICE: ChooseInput(); return;
    case cmd::ID_SIGNAL_REPORT: ShowSignalReport(); return;
    default: break;
  }
  if (RunInputCommand(command)) return;
  // A click toggles a check item by itself: what the items show is no longer known.
  for (MenuItemShown& shown : menu_shown_) shown.check = -1;
  const int station = doc_.StationMode;
  doc_.OnCmdMsg(command, this);
  if (doc_.StationMode != station && input_ != nullptr) input_->StationChanged();
  RefreshCommandUi();
}

void CMainFrame::OnMenu(wxCommandEvent& event) { RunCommand(CommandOf(event.GetId())); }

void CMainFrame::OnClose(wxCloseEvent&) {
  pane_timer_.Stop();
  if (wxFrame* aid = tuning_aid_; aid != nullptr) aid->Close(true);
  LeaveContextHelp();
  help_.Close();  // the program ends with its last window
  Destroy();
}

namespace {

// Calls back on the timer's tick, without an event that other timers' handlers could take.
class CallbackTimer : public wxTimer {
 public:
  explicit CallbackTimer(std::function<void()> tick) : tick_(std::move(tick)) {}
  void Notify() override { tick_(); }

 private:
  std::function<void()> tick_;
};

}  // namespace

void CMainFrame::CloseFromOutside() {
  LeaveContextHelp();
  // A dialog or message box runs its own event loop inside the command that opened it, and is
  // a child of this window on that command's stack: the window may go only once every such loop
  // has returned. The innermost dialog (the one opened last) ends as if cancelled, and the close
  // is tried again shortly, until none is left; the command may open another box on its way out,
  // a refusal say, which then ends the same way. (Ending an outer dialog's loop while an inner
  // one runs would leave the outer loop running for good: the toolkit quits the innermost.)
  if (wxEventLoopBase::GetActive() != wxTheApp->GetMainLoop()) {
    wxDialog* innermost = nullptr;
    for (wxWindow* w : wxTopLevelWindows)
      if (auto* d = dynamic_cast<wxDialog*>(w); d != nullptr && d->IsModal()) innermost = d;
    if (innermost != nullptr) innermost->EndModal(wxID_CANCEL);
    if (!close_retry_) close_retry_ = std::make_unique<CallbackTimer>([this] { CloseFromOutside(); });
    close_retry_->StartOnce(20);
    return;
  }
  Close(true);
  // The window is deleted at the next idle time, and the program ends with it. The toolkit
  // plans idle time only after an event of its own (input, a paint, a finished buffer's wake-up)
  // and a signal is none: idle and with nothing on the screen changing, the close would wait for
  // the pointer to move over the window.
  wxWakeUpIdle();
}

void CMainFrame::ShowHelpTopics() { help_.Show(this, help_page::Contents); }

// --- Context help ------------------------------------------------------------------------------------

void CMainFrame::EnterContextHelp() {
  if (context_help_) return;
  context_help_ = true;
  // The mode waits in the ordinary event loop: nothing runs until the next click or key.
  SetCursor(wxCursor(wxCURSOR_QUESTION_ARROW));
  CaptureMouse();
  // Keys go to this window (not to the help window, say), so that Escape reaches OnCharHook.
  Raise();
  if (view_window_ != nullptr) view_window_->SetFocus();
}

void CMainFrame::LeaveContextHelp() {
  if (!context_help_) return;
  context_help_ = false;
  if (HasCapture()) ReleaseMouse();
  SetCursor(wxNullCursor);
}

void CMainFrame::OnCaptureLost(wxMouseCaptureLostEvent&) {
  context_help_ = false;
  SetCursor(wxNullCursor);
}

void CMainFrame::OnContextHelpClick(wxMouseEvent& event) {
  if (!context_help_) {
    event.Skip();
    return;
  }
  const wxPoint at = ClientToScreen(event.GetPosition());
  LeaveContextHelp();
  // A click outside the window only leaves the mode.
  if (!GetScreenRect().Contains(at)) return;
  help_.Show(this, HelpPageAt(at));
}

const char* CMainFrame::HelpPageAt(const wxPoint& p) {
  for (MenuBarCommand* c : {bar_start_.get(), bar_stop_.get(), bar_mixer_.get()})
    if (c != nullptr && c->ScreenRect().Contains(p)) return help_page::Menus;
  if (view_window_ != nullptr && view_window_->GetScreenRect().Contains(p)) return help_page::Strip;
  if (m_wndToolBar != nullptr && m_wndToolBar->GetScreenRect().Contains(p)) return help_page::Toolbar;
  if (m_wndStatusBar != nullptr && m_wndStatusBar->GetScreenRect().Contains(p)) {
    const wxPoint q = m_wndStatusBar->ScreenToClient(p);
    for (int i = 1; i < m_wndStatusBar->GetFieldsCount(); ++i) {
      wxRect r;
      if (!m_wndStatusBar->GetFieldRect(i, r) || !r.Contains(q)) continue;
      return i == 1 ? help_page::StationPane : i == 2 ? help_page::StatusPane : help_page::TimePanes;
    }
    return help_page::Panes;
  }
  // Above the toolbar lies the menu bar.
  if (GetScreenRect().Contains(p) && m_wndToolBar != nullptr && p.y < m_wndToolBar->GetScreenRect().y)
    return help_page::Menus;
  return help_page::Contents;
}

// --- Setup commands' dialogs and mixer ---------------------------------------------------------

void CMainFrame::StartMixer() {
  // The desktops' own recording-level controls, in order: the first that starts is the one.
  const char* path = std::getenv("PATH");
  mixer_started_ = false;
  for (const MixerCommand& m : FindMixerCommands(path != nullptr ? path : "")) {
    wxString command = wxString::Format("\"%s\"", m.program);
    for (const char* a : m.arguments) command += wxString::Format(" \"%s\"", a);
    if (wxExecute(command, wxEXEC_ASYNC | wxEXEC_HIDE_CONSOLE) != 0) {
      mixer_started_ = true;
      return;
    }
  }
}

void CMainFrame::ShowInformation(const char* text) {
  // The mixer's advice speaks of the Windows recording control: when no level control of
  // this desktop could be started, say instead what was tried and how to set the level here.
  if (text == CVarnolDoc::MixerAdvice && !mixer_started_) {
    ShowMessage(this, NoMixerAdvice(), wxOK | wxICON_INFORMATION);
    return;
  }
  ShowMessage(this, text, wxOK | wxICON_INFORMATION);
}
