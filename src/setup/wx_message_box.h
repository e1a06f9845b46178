// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes of the installer window: wxWidgets' message dialog, titled with the program's
// name ("setup").
#pragma once

#include <wx/window.h>

#include "platform/message_sink.h"

class WxMessageSink : public MessageSink {
 public:
  // `parent` (may be null) is the window the boxes are centred on and modal to.
  explicit WxMessageSink(wxWindow* parent = nullptr) : parent_(parent) {}
  void SetParent(wxWindow* parent) { parent_ = parent; }
  MessageAnswer Show(const std::string& text, MessageIcon icon, MessageButtons buttons) override;

 private:
  wxWindow* parent_;
};
