// SPDX-License-Identifier: GPL-3.0-or-later
// CWaveErrorDlg: the two-line message of a failed start of capture -- the operation on the
// first line, the reason on the second -- with an OK button (template 131).
#pragma once

#include <wx/wx.h>

#include <string>

#include "app/varnol_doc.h"

class CWaveErrorDlg : public wxDialog {
 public:
  static constexpr int IdOperation = 1002;
  static constexpr int IdReason = 1003;
  explicit CWaveErrorDlg(wxWindow* parent);

  // Shown in the two statics when the dialog opens; both start empty.
  std::string OperationText;
  std::string ReasonText;

  bool TransferDataToWindow() override;

 private:
  wxStaticText* operation_ = nullptr;
  wxStaticText* reason_ = nullptr;
};

// The document's wave-error message, shown over the program's main window.
class WxWaveErrorDialog : public WaveErrorDialog {
 public:
  void ShowModal(const std::string& operation, const std::string& reason) override;
};
