// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/wx_wave_error_dlg.h"

#include <algorithm>

#include "app/wx_varnol.h"

CWaveErrorDlg::CWaveErrorDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, ProgramName) {
  // Wide enough for the longest reason in the desktop's font.
  const double scale = TemplateScale(this, {{"Your sound card does not support the audio format", 154},
                                            {"On opening the wave device..", 154}});
  SetClientSize(DialogRect(this, 0, 0, 175, 68, scale).GetSize());
  wxRect r = DialogRect(this, 11, 11, 154, 8, scale);
  operation_ = new wxStaticText(this, IdOperation, "", r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
  r = DialogRect(this, 11, 25, 154, 8, scale);
  reason_ = new wxStaticText(this, IdReason, "", r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
  r = DialogRect(this, 11, 39, 154, 8, scale);
  detail_ = new wxStaticText(this, IdDetail, "", r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
  detail_->Hide();
  r = DialogRect(this, 118, 47, 50, 14, scale);
  (new wxButton(this, wxID_OK, "OK", r.GetPosition(), r.GetSize()))->SetDefault();
  scale_ = scale;
}

bool CWaveErrorDlg::TransferDataToWindow() {
  operation_->SetLabel(wxString::FromUTF8(OperationText));
  reason_->SetLabel(wxString::FromUTF8(ReasonText));
  if (!DetailText.empty() && !detail_->IsShown()) {
    // The note, wrapped to the template's width, between the reason and the button: the box
    // grows by the note's height.
    const wxRect area = DialogRect(this, 11, 39, 154, 8, scale_);
    // (A little narrower than the area: the toolkit's label wraps again where a line comes out
    // wider than it measured.)
    const wxString text = WrapText(wxString::FromUTF8(DetailText), area.width * 9 / 10,
                                   [this](const wxString& s) { return detail_->GetTextExtent(s).x; });
    detail_->SetLabel(text);
    // As tall as its lines in the font the wrapping measured them with.
    const int lines = static_cast<int>(text.Freq('\n')) + 1;
    const int tall = std::max(lines * detail_->GetTextExtent("Mg").y, detail_->GetBestSize().y);
    detail_->SetSize(area.x, area.y, area.width, tall);
    detail_->Show();
    const int grow = tall + DialogRect(this, 0, 0, 0, 6, scale_).height;
    if (wxWindow* ok = FindWindow(wxID_OK)) ok->Move(ok->GetPosition().x, ok->GetPosition().y + grow);
    SetClientSize(GetClientSize().x, GetClientSize().y + grow);
  }
  return true;
}

void WxWaveErrorDialog::ShowModal(const std::string& operation, const std::string& reason) {
  CWaveErrorDlg dlg(wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr);
  dlg.OperationText = operation;
  dlg.ReasonText = reason;
  if (detail_) dlg.DetailText = detail_();
  dlg.ShowModal();
}
