// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/wx_setup_dlg.h"

#include <wx/dcclient.h>
#include <wx/evtloop.h>
#include <wx/iconbndl.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stopwatch.h>
#include <wx/utils.h>

#include <algorithm>

#include "setup/setup_texts.h"

namespace T = setup_text;

namespace {

wxString Wx(const std::string& text) {
  return wxString::FromUTF8(text.c_str());
}

class CAboutDlg : public wxDialog {
 public:
  explicit CAboutDlg(wxWindow* parent)
      : wxDialog(parent, wxID_ANY, T::kAboutTitle, wxDefaultPosition, wxDefaultSize,
                 wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetFont(parent->GetFont());
    SetClientSize(ConvertDialogToPixels(wxSize(235, 55)));
    wxIcon icon = SetupIcons().GetIcon(32);
    new wxStaticBitmap(this, wxID_ANY, icon, ConvertDialogToPixels(wxPoint(11, 17)));
    new wxStaticText(this, wxID_ANY, T::kAboutLine, ConvertDialogToPixels(wxPoint(40, 10)),
                     ConvertDialogToPixels(wxSize(119, 8)), wxST_NO_AUTORESIZE);
    auto* ok = new wxButton(this, wxID_OK, "OK", ConvertDialogToPixels(wxPoint(178, 7)),
                            ConvertDialogToPixels(wxSize(50, 14)));
    ok->SetDefault();
    Centre();
  }
};

}  // namespace

// GTK's own progress bar only moves its fill when the window is laid out again, which a run
// that blocks the window does not do; this one paints its fill at once.
CProgressBar::CProgressBar(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxWindow(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CProgressBar::OnPaint, this);
}

void CProgressBar::SetValue(int position) {
  position = std::clamp(position, 0, 100);
  if (position == position_) return;
  position_ = position;
  Refresh();
  Update();
}

void CProgressBar::OnPaint(wxPaintEvent& /*event*/) {
  wxPaintDC dc(this);
  const wxSize size = GetClientSize();
  dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW)));
  dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
  dc.DrawRectangle(0, 0, size.x, size.y);
  const int inner = size.x - 4;
  const int filled = inner * position_ / 100;
  if (filled > 0) {
    const wxColour fill = wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
    dc.SetPen(wxPen(fill));
    dc.SetBrush(wxBrush(fill));
    dc.DrawRectangle(2, 2, filled, size.y - 4);
  }
}

CSetupDlg::CSetupDlg(HostFiles& files, Registry& registry, ShellLinkFactory& links)
    : wxDialog(nullptr, wxID_ANY, T::kDialogTitle, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      messages_(nullptr),
      installer_(members_, files, registry, links, messages_) {
  // The layout is in dialog units of this font, the font the dialog was designed with; where
  // it is not installed, its nearest sans-serif stands in.
  SetFont(wxFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS).FaceName("MS Sans Serif")));
  SetIcons(SetupIcons());
  script_read_ = installer_.ReadScript();
  CreateControls();
  messages_.SetParent(this);
  MembersToControls(members_);
  SetEscapeId(wxID_OK);
  Centre();
  Bind(wxEVT_BUTTON, &CSetupDlg::OnInstallNow, this, IDC_INSTALL_NOW);
  Bind(wxEVT_CONTEXT_MENU, &CSetupDlg::OnContextMenu, this);
  // The same menu from the keyboard: Shift+F10 or the menu key, as for any context menu.
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    if ((key == WXK_F10 && event.GetModifiers() == wxMOD_SHIFT) || key == WXK_MENU ||
        key == WXK_WINDOWS_MENU) {
      wxContextMenuEvent menu(wxEVT_CONTEXT_MENU, GetId(), ClientToScreen(wxPoint(8, 8)));
      OnContextMenu(menu);
      return;
    }
    event.Skip();
  });
  destination_->SetFocus();
}

void CSetupDlg::CreateControls() {
  SetClientSize(ConvertDialogToPixels(wxSize(320, 200)));
  auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
  auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
  auto label = [&](int id, const char* text, int x, int y, int w, long style) {
    auto* control = new wxStaticText(this, id, text, at(x, y), size(w, 8),
                                     style | wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    boxes_[control] = wxRect(at(x, y), size(w, 8));
    FitLabel(control);
    return control;
  };
  auto* picture = new wxStaticBitmap(this, wxID_ANY, SetupPicture(), at(8, 8), wxSize(138, 140));
  // The title bar's menu belongs to the window manager here: the picture tells where About is.
  picture->SetToolTip("Right-click the dialog or press Shift+F10 for About setup");
  intro1_ = label(IDC_INTRO1, "Message here", 136, 23, 170, wxALIGN_CENTRE_HORIZONTAL);
  intro2_ = label(IDC_INTRO2, "and here", 136, 37, 170, wxALIGN_CENTRE_HORIZONTAL);
  intro3_ = label(IDC_INTRO3, "and here", 136, 51, 170, wxALIGN_CENTRE_HORIZONTAL);
  label(wxID_ANY, T::kNoOtherPrograms, 157, 65, 137, wxALIGN_CENTRE_HORIZONTAL);
  label(wxID_ANY, T::kWillInstallIn, 174, 79, 104, wxALIGN_CENTRE_HORIZONTAL);
  destination_ = new wxTextCtrl(this, IDC_DESTINATION, "", at(153, 93), size(141, 14));
  step_config_ = label(IDC_STEP_CONFIG, "Checking configuration", 29, 97, 122, wxALIGN_LEFT);
  step_disk_ = label(IDC_STEP_DISK, "Checking disk space", 29, 110, 228, wxALIGN_LEFT);
  step_copy_ = label(IDC_STEP_COPY, "Copying files", 29, 123, 131, wxALIGN_LEFT);
  step_registry_ = label(IDC_STEP_REGISTRY, "Updating Registry", 29, 136, 149, wxALIGN_LEFT);
  // The disk label is wider than the space left of the button; raise the button above it.
  auto* install = new wxButton(this, IDC_INSTALL_NOW, T::kInstallNow, at(189, 121), size(106, 14));
  ProgressBar = new CProgressBar(this, IDC_PROGRESS, at(25, 153), size(270, 14));
  auto* exit = new wxButton(this, wxID_OK, T::kExit, at(190, 177), size(105, 14));
  exit->SetDefault();
  install->Raise();
  for (const auto& [control, unused] : boxes_) FitLabel(control);
  // Tab order as designed: destination, Install Now, Exit.
  install->MoveAfterInTabOrder(destination_);
  exit->MoveAfterInTabOrder(install);
}

// A text wider than its place in the layout (the stand-in font may be wider than the one the
// layout was made for, and names can be long) gets the room it needs, as far as there is room:
// a centred label grows on both sides, a left-aligned one to the right, never over another
// control in its row nor past the dialog's edge. What still does not fit ends in "...".
void CSetupDlg::FitLabel(wxStaticText* control) {
  auto it = boxes_.find(control);
  if (it == boxes_.end()) return;
  wxRect box = it->second;
  const int needed = control->GetTextExtent(control->GetLabelText()).x + 4;
  if (needed > box.width) {
    const int gap = ConvertDialogToPixels(wxSize(4, 0)).x;
    int left = gap, right = GetClientSize().x - gap;
    for (wxWindow* other : GetChildren()) {
      if (other == control || !other->IsShown()) continue;
      auto known = boxes_.find(static_cast<wxStaticText*>(other));
      const wxRect r = known != boxes_.end() ? known->second : other->GetRect();
      if (r.GetBottom() < box.GetTop() || r.GetTop() > box.GetBottom()) continue;
      if (r.GetLeft() > box.GetRight()) right = std::min(right, r.GetLeft() - gap);
      if (r.GetRight() < box.GetLeft()) left = std::max(left, r.GetRight() + gap);
    }
    if (control->HasFlag(wxALIGN_CENTRE_HORIZONTAL)) {
      box.width = std::max(box.width, std::min(needed, right - left));
      box.x = std::clamp(it->second.x - (box.width - it->second.width) / 2, left,
                         std::max(left, right - box.width));
    } else {
      box.width = std::max(box.width, std::min(needed, right - box.x));
    }
  }
  if (control->GetRect() != box) control->SetSize(box);
}

void CSetupDlg::ControlsToMembers(SetupDialogMembers& members) {
  members.DestinationDir = destination_->GetValue().utf8_string();
}

void CSetupDlg::MembersToControls(const SetupDialogMembers& members) {
  ProgressBar->SetValue(members.ProgressPos);
  // Texts are shown as they are: "&" in a program name is not a mnemonic.
  const std::pair<wxStaticText*, const std::string*> labels[] = {
      {intro1_, &members.IntroLine1},       {intro3_, &members.IntroLine3},
      {intro2_, &members.IntroLine2},       {step_config_, &members.StepConfigLabel},
      {step_copy_, &members.StepCopyLabel}, {step_registry_, &members.StepRegistryLabel},
      {step_disk_, &members.StepDiskLabel}};
  for (const auto& [control, text] : labels) {
    control->SetLabelText(Wx(*text));
    FitLabel(control);
  }
  if (destination_->GetValue() != Wx(members.DestinationDir)) {
    destination_->ChangeValue(Wx(members.DestinationDir));
  }
  Refresh();
  Update();
}

void CSetupDlg::Pause(int milliseconds) {
  // The window is redrawn while it waits but takes no input: clicks and keys wait until the
  // installation is over, as they would for a busy program.
  wxStopWatch watch;
  do {
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_UI);
    long left = milliseconds - watch.Time();
    if (left > 0) wxMilliSleep(static_cast<unsigned long>(std::min(left, 20L)));
  } while (watch.Time() < milliseconds);
}

void CSetupDlg::OnInstallNow(wxCommandEvent& /*event*/) {
  switch (installer_.OnInstallNow(*this)) {
    case InstallOutcome::kEndProgram:
    case InstallOutcome::kRestarted: EndModal(wxID_OK); break;
    case InstallOutcome::kDestinationNotCreated:
    case InstallOutcome::kNotStarted:
    case InstallOutcome::kStaysOpen: break;
  }
}

// The window manager owns the title bar's menu here, so the About entry lives in the dialog's
// context menu instead.
void CSetupDlg::OnContextMenu(wxContextMenuEvent& /*event*/) {
  wxMenu menu;
  if (*T::kAboutMenuEntry != '\0') menu.Append(IDM_ABOUTBOX, T::kAboutMenuEntry);
  const int id = GetPopupMenuSelectionFromUser(menu);
  if (id != wxID_NONE) OnSysCommand(id);
}

void CSetupDlg::OnSysCommand(int id) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about(this);
    about.ShowModal();
  }
}
