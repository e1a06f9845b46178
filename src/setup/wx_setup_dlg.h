// SPDX-License-Identifier: GPL-3.0-or-later
// The installer's one dialog: program and version, the proposed destination folder, the four
// step labels, the progress bar and the "Install Now" and "Exit" buttons. Laid out in dialog
// units, so it keeps its proportions whatever the font's size.
#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <map>
#include <memory>

#include "platform/host_files.h"
#include "platform/registry.h"
#include "platform/shell_link.h"
#include "setup/setup_installer.h"
#include "setup/wx_message_box.h"

// Control ids of the dialog.
enum SetupControlId {
  IDC_PROGRESS = 1000,
  IDC_INSTALL_NOW = 1001,
  IDC_STEP_CONFIG = 1003,
  IDC_INTRO1 = 1006,
  IDC_INTRO2 = 1007,
  IDC_INTRO3 = 1008,
  IDC_STEP_DISK = 1009,
  IDC_STEP_COPY = 1010,
  IDC_STEP_REGISTRY = 1011,
  IDC_DESTINATION = 1012,
  IDM_ABOUTBOX = 16,
};

// A smooth, bordered progress bar, 0 to 100.
class CProgressBar : public wxWindow {
 public:
  CProgressBar(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
  void SetValue(int position);
  int GetValue() const { return position_; }

 private:
  void OnPaint(wxPaintEvent& event);
  int position_ = 0;
};

class CSetupDlg : public wxDialog, public SetupControls {
 public:
  // Reads the script; ScriptRead() tells whether there is anything to install.
  CSetupDlg(HostFiles& files, Registry& registry, ShellLinkFactory& links);
  bool ScriptRead() const { return script_read_; }

  // SetupControls
  void ControlsToMembers(SetupDialogMembers& members) override;
  void MembersToControls(const SetupDialogMembers& members) override;
  void Pause(int milliseconds) override;

 private:
  void CreateControls();
  void FitLabel(wxStaticText* control);
  void OnInstallNow(wxCommandEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);
  void OnSysCommand(int id);

  SetupDialogMembers members_;
  WxMessageSink messages_;
  SetupInstaller installer_;
  bool script_read_ = false;

  CProgressBar* ProgressBar = nullptr;
  wxStaticText* intro1_ = nullptr;
  wxStaticText* intro2_ = nullptr;
  wxStaticText* intro3_ = nullptr;
  wxStaticText* step_config_ = nullptr;
  wxStaticText* step_copy_ = nullptr;
  wxStaticText* step_registry_ = nullptr;
  wxStaticText* step_disk_ = nullptr;
  wxTextCtrl* destination_ = nullptr;
  std::map<wxStaticText*, wxRect> boxes_;  // each label's place in the layout
};

// The dialog's picture (138 x 140 pixels) and the program icon (32 x 32 and 16 x 16).
wxBitmap SetupPicture();
wxIconBundle SetupIcons();
