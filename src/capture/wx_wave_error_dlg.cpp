// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/wx_wave_error_dlg.h"

#include "app/wx_varnol.h"

CWaveErrorDlg::CWaveErrorDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, "Dialog") {
  // Wide enough for the longest reason in the desktop's font.
  const double scale = TemplateScale(this, {{"Your sound card does not support the audio format", 154},
                                            {"On opening the wave device..", 154}});
  SetClientSize(DialogRect(this, 0, 0, 175, 68, scale).GetSize());
  wxRect r = DialogRect(this, 11, 11, 154, 8, scale);
  operation_ = new wxStaticText(this, IdOperation, "", r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
  r = DialogRect(this, 11, 25, 154, 8, scale);
  reason_ = new wxStaticText(this, IdReason, "", r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
  r = DialogRect(this, 118, 47, 50, 14, scale);
  (new wxButton(this, wxID_OK, "OK", r.GetPosition(), r.GetSize()))->SetDefault();
}

bool CWaveErrorDlg::TransferDataToWindow() {
  operation_->SetLabel(wxString::FromUTF8(OperationText));
  reason_->SetLabel(wxString::FromUTF8(ReasonText));
  return true;
}

void WxWaveErrorDialog::ShowModal(const std::string& operation, const std::string& reason) {
  CWaveErrorDlg dlg(wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr);
  dlg.OperationText = operation;
  dlg.ReasonText = reason;
  dlg.ShowModal();
}
