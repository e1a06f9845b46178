// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/wx_message_box.h"

#include <wx/app.h>
// clang-format off
#include <wx/msgdlg.h>  // before the generic dialog, which builds on it
#include <wx/generic/msgdlgg.h>
// clang-format on

MessageAnswer WxMessageSink::Show(const std::string& text, MessageIcon icon, MessageButtons buttons) {
  long style = buttons == MessageButtons::kYesNo ? wxYES_NO : wxOK;
  switch (icon) {
    case MessageIcon::kExclamation: style |= wxICON_EXCLAMATION; break;
    case MessageIcon::kInformation: style |= wxICON_INFORMATION; break;
    case MessageIcon::kNone: style |= wxICON_NONE; break;
  }
  const wxString title = wxTheApp != nullptr ? wxTheApp->GetAppName() : wxString("setup");
  // The generic dialog shows the icon; GTK's own message dialog leaves it out, and the icon is
  // what tells a problem from a result.
  wxGenericMessageDialog dialog(parent_, wxString::FromUTF8(text), title, style);
  switch (dialog.ShowModal()) {
    case wxID_YES: return MessageAnswer::kYes;
    case wxID_NO: return MessageAnswer::kNo;
    default: return buttons == MessageButtons::kYesNo ? MessageAnswer::kNo : MessageAnswer::kOk;
  }
}
