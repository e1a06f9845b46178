// SPDX-License-Identifier: GPL-3.0-or-later
// The clock window's wxWidgets side: the main frame with its toolbar, menus and status panes,
// the window that shows the strip chart, the dialogs, and the mapping between the program's
// command numbers and the toolkit's ids (which must lie below 32768).
#pragma once

#include <wx/wx.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "app/varnol_doc.h"
#include "app/wx_help.h"
#include "app/wx_native.h"
#include "display/signal_view.h"
#include "platform/desktop_clock.h"

// What the application gives the window beyond the document: the choice of input and the
// signal report (wx_desktop.cpp).
class WindowServices {
 public:
  virtual ~WindowServices() = default;
  // False when the input is a recording or the simulated receiver (nothing to choose).
  virtual bool CanChooseInput() const = 0;
  virtual std::string InputSetting() const = 0;  // capture/input_devices.h
  // Takes another input (kept with the settings); a running capture starts again on it.
  virtual void ChooseInput(const std::string& setting) = 0;
  // The signal report in words, a line per item: level, tone, signal-to-noise, the last clock
  // step and its age, the lock.
  virtual std::string SignalReport() = 0;
};

// Toolkit id of a command number, and back (0 for a number or id that is not in the table).
int WxIdOf(int command);
int CommandOf(int wx_id);

// Message boxes titled with the program's name.
constexpr const char* ProgramName = "Marvesta";
// The text is wrapped (see WrapText) so that the box never cuts it off.
int ShowMessage(wxWindow* parent, const wxString& text, long style);
// Breaks `text` into lines no wider than `width` as measured by `extent`: at blanks, which stay
// at the end of their line, and inside a word only when the word alone is too wide. Taking the
// inserted line breaks out gives back `text`.
wxString WrapText(const wxString& text, int width, const std::function<int(const wxString&)>& extent);

// The window under the toolbar that shows the strip chart.
class CVarnolViewWindow : public wxWindow {
 public:
  CVarnolViewWindow(wxWindow* parent, CVarnolDoc& doc);
  ~CVarnolViewWindow() override;
  CVarnolView& View() { return view_; }
  const RgbImage& Canvas() const { return canvas_; }

 private:
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);

  CVarnolDoc& doc_;
  CVarnolView view_;
  RgbImage canvas_;           // the client area as last painted
  wxBitmap bitmap_;           // the canvas on its way to the screen
  bool erase_pending_ = true;  // the next paint starts from an erased client area
};

// What a menu item shows as last set (check -1: not set yet).
struct MenuItemShown {
  int check = -1;
  std::string text;
};

class CMainFrame : public wxFrame, public CVarnolDoc::SetupUi {
 public:
  explicit CMainFrame(CVarnolDoc& doc);
  ~CMainFrame() override;
  // False when the toolbar or status bar could not be built (the window is then not shown).
  bool Created() const { return created_; }

  // Recomputes check marks, the auto-set item's text and the four pane texts from the document.
  void RefreshCommandUi();
  // Runs a command by its number, as its menu item or button does.
  void RunCommand(int command);

  CVarnolViewWindow* ViewWindow() { return view_window_; }
  wxStatusBar* StatusBar() { return m_wndStatusBar; }
  wxToolBar* ToolBar() { return m_wndToolBar; }
  // "&Start", "Sto&p" and "&Mixer" sit on the menu bar itself (nullptr for other commands).
  MenuBarCommand* BarCommand(int command);
  // Whether the menu item or menu-bar command of `command` shows a check mark.
  bool MenuChecked(int command);
  HelpBook& Help() { return help_; }

  // Context help: the pointer becomes a question mark; the next click opens the help page of
  // what it clicked, Escape (or a click outside the window) leaves without help.
  void EnterContextHelp();
  void LeaveContextHelp();
  bool InContextHelp() const { return context_help_; }
  // The help page for what is at `screen_point` (the contents when nothing there has a page).
  const char* HelpPageAt(const wxPoint& screen_point);

  // A menu or toolbar prompt is shown across the whole status bar, so that none is cut; the
  // panes come back when it goes.
  void DoGiveHelp(const wxString& text, bool show) override;
  // Makes the client area exactly as tall as the strip chart (at the window's width).
  void FitStripHeight();
  // Ends open dialogs and context help, then closes the window as File > Exit does (once the
  // dialogs' loops have returned).
  void CloseFromOutside();

  // SetupUi
  bool RunClockOffsetDialog(double& offset) override;
  bool RunCalibrationDialog(int& blocks_per_minute, int& adjust_heuristically) override;
  void StartMixer() override;
  void ShowInformation(const char* text) override;

  // Beyond the document's commands (wx_desktop.cpp): the input, the signal report, and what
  // became of a write of the PC clock -- on the message line, and once a run in a message box
  // when the clock could not be set.
  void SetServices(WindowServices* services) { services_ = services; }
  void ChooseInput();
  void ShowSignalReport();
  void ShowClockWrite(const ClockWriteResult& result);
  // The message line's text while no prompt is shown (the idle prompt unless something must
  // be said).
  void SetMessageLine(const wxString& text);
  const wxString& MessageLine() const { return message_line_; }

 private:
  void BuildMenus();
  bool BuildToolBar();
  bool BuildStatusBar();
  void OnMenu(wxCommandEvent& event);
  void OnPaneTimer(wxTimerEvent& event);
  void OnClose(wxCloseEvent& event);
  void ShowAbout();
  void ShowHelpTopics();
  void OnContextHelpClick(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void SetPaneWidths();
  void RefreshReportTip();

  CVarnolDoc& doc_;
  WindowServices* services_ = nullptr;
  wxString message_line_ = cmd::IdlePrompt;
  bool clock_box_shown_ = false;  // the clock-setting failure has been explained once
  bool mixer_started_ = false;  // the last Mixer command started a level control
  wxLongLong tip_due_ = 0;  // ms: when the status bar's tool tip is next brought up to date
  wxStatusBar* m_wndStatusBar = nullptr;
  wxToolBar* m_wndToolBar = nullptr;
  CVarnolViewWindow* view_window_ = nullptr;
  wxTimer pane_timer_;
  bool created_ = true;
  char pane_texts_[4][96] = {};  // what the four custom panes show
  // The items the document updates, found once; room for every station's item and a few more.
  static constexpr int MaxUpdatedMenuItems = 16;
  wxMenuItem* menu_items_[MaxUpdatedMenuItems] = {};
  MenuItemShown menu_shown_[MaxUpdatedMenuItems];
  std::unique_ptr<MenuBarCommand> bar_start_, bar_stop_, bar_mixer_;
  HelpBook help_;
  bool context_help_ = false;
  bool prompt_shown_ = false;  // a prompt fills the status bar
  int pane_widths_[5] = {};
  wxLongLong fit_until_ = 0;  // ms: until then the height follows the bars (FitStripHeight)
  std::unique_ptr<wxTimer> close_retry_;  // CloseFromOutside again, once dialogs have returned
};

// Places a control of a dialog template: position and size in dialog units. `scale` widens
// the template (see TemplateScale).
wxRect DialogRect(wxWindow* dialog, int x, int y, int width, int height, double scale = 1.0);

// A text of a template and the width (dialog units) the template gives it.
struct TemplateText {
  const char* text;
  int width;
  int extra = 0;  // pixels beside the text (a check box's box)
};
// How much wider than its dialog units a template must be laid out for these texts to fit in
// the desktop's font (1.0 when they fit; the desktop's font can be wider than the one the
// templates were drawn for).
double TemplateScale(wxWindow* dialog, std::initializer_list<TemplateText> texts);

// "PC clock offset" (template 135): the offset of the PC clock from UT, -13 to 13 hours.
class CClockOffsetDlg : public wxDialog {
 public:
  static constexpr int IdOffsetEdit = 1044;
  explicit CClockOffsetDlg(wxWindow* parent);
  double Offset = 0.0;  // hours

  bool TransferDataToWindow() override;

 private:
  void OnOk(wxCommandEvent& event);
  wxTextCtrl* edit_ = nullptr;
  double scale_ = 1.0;
};

// "Calibrate soundcard" (template 137): blocks per minute, 3700 to 3800, and the automatic
// adjustment.
class CCalibrationDlg : public wxDialog {
 public:
  static constexpr int IdBlocksEdit = 1049;
  static constexpr int IdDefault = 1050;
  static constexpr int IdAdjust = 1051;
  static constexpr int IdMeasure = 1052;
  explicit CCalibrationDlg(wxWindow* parent);
  int AdjustHeuristically = 0;
  int BlocksPerMinuteValue = 0;
  // The sound card's rate measured against the system clock, in blocks a minute, once the
  // measurement is good; the "Measure" button fills it in (empty: the button stays disabled).
  std::function<std::optional<int>()> Measure;

  bool TransferDataToWindow() override;

 private:
  void OnOk(wxCommandEvent& event);
  void OnDefault(wxCommandEvent& event);
  void OnMeasure(wxCommandEvent& event);
  wxTextCtrl* edit_ = nullptr;
  wxButton* measure_ = nullptr;
  wxCheckBox* adjust_ = nullptr;
  double scale_ = 1.0;
};

// Where the calibration dialog's "Measure" button reads the sound card's measured rate (set by
// the application while it captures from the card; empty otherwise).
void SetCardRateMeasure(std::function<std::optional<int>()> measure);

// The About box (template 100).
class CAboutDlg : public wxDialog {
 public:
  explicit CAboutDlg(wxWindow* parent);
};

// The program's icon: a clock face.
wxIcon ProgramIcon(int size);

// The pane timer's call into the application's idle handler (count 0).
void PaneTimerTick();
