// SPDX-License-Identifier: GPL-3.0-or-later
// CWaveErrorDlg: the two-line message of a failed start of capture -- the operation on the
// first line, the reason on the second -- with an OK button (template 131). Under them, when
// there is one, a note of which input was tried and what to check; the box is titled with
// the program's name.
#pragma once

#include <wx/wx.h>

#include <functional>
#include <string>

#include "app/varnol_doc.h"

class CWaveErrorDlg : public wxDialog {
 public:
  static constexpr int IdOperation = 1002;
  static constexpr int IdReason = 1003;
  static constexpr int IdDetail = 1004;
  explicit CWaveErrorDlg(wxWindow* parent);

  // Shown in the two statics when the dialog opens; both start empty.
  std::string OperationText;
  std::string ReasonText;
  std::string DetailText;  // "" for none

  bool TransferDataToWindow() override;

 private:
  wxStaticText* operation_ = nullptr;
  wxStaticText* reason_ = nullptr;
  wxStaticText* detail_ = nullptr;
  double scale_ = 1.0;
};

// The document's wave-error message, shown over the program's main window.
class WxWaveErrorDialog : public WaveErrorDialog {
 public:
  void ShowModal(const std::string& operation, const std::string& reason) override;
  // The note under the two lines, asked for each time the message is shown.
  void SetDetail(std::function<std::string()> detail) { detail_ = std::move(detail); }

 private:
  std::function<std::string()> detail_;
};
