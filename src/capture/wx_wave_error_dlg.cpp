#include "capture/wx_wave_error_dlg.h"

#include "app/wx_varnol.h"

CWaveErrorDlg::CWaveErrorDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, "Dialog") {
  SetClientSize(ConvertDialogToPixels(wxSize(175, 68)));
  wxRect r = DialogRect(this, 11, 11, 154, 8);
  operation_ = new wxStaticText(this, IdOperation, "", r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
  r = DialogRect(this, 11, 25, 154, 8);
  reason_ = new wxStaticText(this, IdReason, "", r.GetPosition(), r.GetSize(), wxST_NO_AUTORESIZE);
  r = DialogRect(this, 118, 47, 50, 14);
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
