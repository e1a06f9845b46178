// SPDX-License-Identifier: GPL-3.0-or-later
// The commands of the window's input settings in the Setup menu: the automatic level
// (a check item), where the station's tone is (automatic, left at 1000 Hz, or moved from a
// frequency the user gives) and the tuning aid (a check item while its window is open).
#include <wx/valtext.h>

#include <cstdio>
#include <string>

#include "app/wx_varnol.h"
#include "display/wx_tuning_aid.h"

namespace {

// "Tone": the frequency the receiver puts the station's tone at, 100 to 190000 Hz.
class CToneDlg : public wxDialog {
 public:
  static constexpr int IdHzEdit = 1301;
  CToneDlg(wxWindow* parent, double hz) : wxDialog(parent, wxID_ANY, "Tone") {
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(new wxStaticText(this, wxID_ANY,
                                 "Frequency of the station's tone in the receiver's audio (Hz),\n"
                                 "or of the carrier itself in a recording sampled at 96 to 384 kHz:"),
                0, wxALL, 10);
    char text[32] = "";
    if (hz > 0) std::snprintf(text, sizeof text, "%.10g", hz);
    edit_ = new wxTextCtrl(this, IdHzEdit, text);
    column->Add(edit_, 0, wxLEFT | wxRIGHT | wxEXPAND, 10);
    if (wxSizer* buttons = CreateSeparatedButtonSizer(wxOK | wxCANCEL))
      column->Add(buttons, 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(column);
    CentreOnParent();
    Bind(wxEVT_BUTTON, &CToneDlg::OnOk, this, wxID_OK);
    edit_->SetFocus();
    edit_->SelectAll();
  }
  double Hz = 0.0;

 private:
  void OnOk(wxCommandEvent&) {
    const auto setting = ParseToneSetting(edit_->GetValue().ToStdString());
    if (!setting || setting->mode != ToneSetting::Mode::Fixed) {
      ShowMessage(this, "Enter a frequency between 100 and 190000 Hz.", wxOK | wxICON_EXCLAMATION);
      edit_->SetFocus();
      edit_->SelectAll();
      return;  // the dialog stays open
    }
    Hz = setting->hz;
    EndModal(wxID_OK);
  }
  wxTextCtrl* edit_ = nullptr;
};

}  // namespace

void CMainFrame::RefreshInputItems() {
  wxMenuBar* bar = GetMenuBar();
  if (bar == nullptr || input_ == nullptr) return;
  const ToneSetting tone = input_->ToneChoice();
  // Nothing to do while nothing has changed (this runs at every refresh of the panes).
  const int state =
      (input_->AutoLevel() ? 1 : 0) | static_cast<int>(tone.mode) << 1 | (tuning_aid_ != nullptr) << 3;
  if (state == input_shown_ && tone.hz == input_shown_hz_) return;
  input_shown_ = state;
  input_shown_hz_ = tone.hz;
  auto set = [bar](int command, bool check) {
    wxMenuItem* item = bar->FindItem(WxIdOf(command));
    if (item != nullptr && item->IsChecked() != check) item->Check(check);
  };
  set(cmd::ID_AUTO_LEVEL, input_->AutoLevel());
  set(cmd::ID_TONE_AUTO, tone.mode == ToneSetting::Mode::Auto);
  set(cmd::ID_TONE_OFF, tone.mode == ToneSetting::Mode::Off);
  set(cmd::ID_TONE_FIXED, tone.mode == ToneSetting::Mode::Fixed);
  if (wxMenuItem* fixed = bar->FindItem(WxIdOf(cmd::ID_TONE_FIXED)); fixed != nullptr) {
    // The frequency in force is shown in the item.
    wxString label = "Tone: &from a frequency...";
    if (tone.mode == ToneSetting::Mode::Fixed) label = wxString::Format("Tone: &from %.10g Hz...", tone.hz);
    if (fixed->GetItemLabel() != label) fixed->SetItemLabel(label);
  }
  set(cmd::ID_TUNING_AID, tuning_aid_ != nullptr);
}

bool CMainFrame::RunInputCommand(int command) {
  switch (command) {
    case cmd::ID_AUTO_LEVEL:
      if (input_ != nullptr) input_->SetAutoLevel(!input_->AutoLevel());
      break;
    case cmd::ID_TONE_AUTO:
    case cmd::ID_TONE_OFF:
      if (input_ != nullptr) {
        const std::string note = input_->SetToneChoice(ToneSetting{
            command == cmd::ID_TONE_AUTO ? ToneSetting::Mode::Auto : ToneSetting::Mode::Off, 0.0});
        if (!note.empty()) ShowMessage(this, note, wxOK | wxICON_INFORMATION);
      }
      break;
    case cmd::ID_TONE_FIXED: ChooseFixedTone(); break;
    case cmd::ID_TUNING_AID:
      if (tuning_aid_ != nullptr)
        tuning_aid_->Close();
      else
        OpenTuningAid();
      break;
    default: return false;
  }
  input_shown_ = -1;  // a click has toggled the item by itself: shown again as things are
  RefreshInputItems();
  return true;
}

void CMainFrame::ChooseFixedTone() {
  if (input_ == nullptr) return;
  const ToneSetting now = input_->ToneChoice();
  CToneDlg dialog(this, now.mode == ToneSetting::Mode::Fixed ? now.hz : 0.0);
  if (dialog.ShowModal() != wxID_OK) return;
  const std::string note = input_->SetToneChoice(ToneSetting{ToneSetting::Mode::Fixed, dialog.Hz});
  if (!note.empty()) ShowMessage(this, note, wxOK | wxICON_INFORMATION);
}

void CMainFrame::OpenTuningAid() {
  if (input_ == nullptr || input_->Stages() == nullptr) return;
  auto* aid = new CTuningAidFrame(this, *input_->Stages());
  aid->OnGone([this] {
    tuning_aid_ = nullptr;
    input_shown_ = -1;
    RefreshInputItems();
  });
  tuning_aid_ = aid;
  aid->Show();
}
