// SPDX-License-Identifier: GPL-3.0-or-later
// What the window needs from GTK, GLib and Xlib underneath wxWidgets: plain commands on the menu
// bar, a compact toolbar, termination signals taken into the event loop, and a last save when
// the X display goes away.
#pragma once

#include <wx/wx.h>

#include <functional>
#include <string>

// A command that sits directly on the menu bar (one click runs it; no drop-down). Its check
// mark, where it has one, is drawn as a check item's box in the title.
class MenuBarCommand {
 public:
  // Inserts the command at `position` among the bar's titles. `label` marks its mnemonic with
  // '&' ("Sto&p"). `run` is called on a click or on Alt+mnemonic; `hover` with true while the
  // pointer or the keyboard rests on the title and with false when it leaves.
  static MenuBarCommand* Insert(wxMenuBar* bar, int position, const char* label, bool checkable,
                                std::function<void()> run, std::function<void(bool)> hover);
  ~MenuBarCommand();
  MenuBarCommand(const MenuBarCommand&) = delete;
  MenuBarCommand& operator=(const MenuBarCommand&) = delete;

  void SetCheck(bool checked);
  bool IsChecked() const { return checked_; }
  bool IsCheckable() const { return checkable_; }
  const std::string& Label() const { return label_; }  // without the '&'
  // The title's place on the screen (empty until the bar is shown).
  wxRect ScreenRect() const;
  void Run();

 private:
  MenuBarCommand() = default;
  static void OnActivate(void* widget, void* self);
  static int OnRelease(void* widget, void* event, void* self);
  static void OnSelect(void* widget, void* self);
  static void OnDeselect(void* widget, void* self);

  void* item_ = nullptr;  // the GtkMenuItem
  unsigned long activate_handler_ = 0;
  bool checkable_ = false;
  bool checked_ = false;
  bool running_ = false;
  std::string label_;
  std::function<void()> run_;
  std::function<void(bool)> hover_;
};

// Keeps a toolbar as small as its bitmaps: the theme's button padding would otherwise make a
// toolbar of 16 x 15 images about 40 pixels tall.
void MakeToolBarCompact(wxToolBar* bar);

// Where the toolbar shows its tool at `position` (separators count), on the screen.
wxRect ToolScreenRect(wxToolBar* bar, int position);

// Realizes a top-level window before its first Show (see the .cpp for why).
void RealizeBeforeShowing(wxTopLevelWindow* window);

// Calls `on_escape` when Escape is pressed while `window` is active, before any control of the
// window sees the key; the key goes on to the controls when it returns false.
void OnEscapeKey(wxTopLevelWindow* window, std::function<bool()> on_escape);

// Calls `on_signal` from the event loop, at once, when SIGTERM, SIGINT or SIGHUP arrives (the
// signal handler only wakes the loop; nothing else runs inside it).
void WatchTerminationSignals(std::function<void()> on_signal);

// SIGUSR1 and SIGUSR2 mean nothing to the window (as to the command-line tools); their default
// action would end it at once, settings and snapshot unsaved. Called first thing at start, so
// that a window already on the screen never ends by them.
void IgnoreUserSignals();

// Calls `save` once when the connection to the X display is lost, prints `message` as one line
// on stderr and ends the process with `exit_code` (the toolkit cannot go on without a display).
void OnDisplayLost(std::function<void()> save, std::string message, int exit_code);
