// SPDX-License-Identifier: GPL-3.0-or-later
// The program's help book (HTML pages under docs/help/, installed under share/varnol/help/).
#pragma once

#include <wx/wx.h>

#include <memory>
#include <string>
#include <vector>

class wxHtmlHelpController;

// Folders where the help book may be, in the order they are tried: $VARNOL_HELP_DIR when set,
// the source tree the program was built from, share/varnol/help beside the program's prefix,
// and the installation's data folder.
std::vector<std::string> HelpFolders();

// The folder of the first of HelpFolders() that holds the book ("" when none does).
std::string FindHelpFolder();

// Pages of the book, by what they explain.
namespace help_page {
constexpr const char* Contents = "index.html";
constexpr const char* Strip = "window.html#strip";
constexpr const char* Toolbar = "window.html#toolbar";
constexpr const char* Menus = "window.html#menus";
constexpr const char* Panes = "window.html#panes";
constexpr const char* StationPane = "window.html#station-pane";
constexpr const char* StatusPane = "window.html#status-pane";
constexpr const char* TimePanes = "window.html#time-panes";
constexpr const char* OffsetDialog = "dialogs.html#offset";
constexpr const char* CalibrationDialog = "dialogs.html#calibration";
constexpr const char* NothingDecodes = "trouble.html";
}  // namespace help_page

// The help window: opened on a page, kept for the next request, closed with the program.
class HelpBook {
 public:
  HelpBook();
  ~HelpBook();
  // Shows `page` (one of help_page); false, after a message to the user, when the book is
  // not installed.
  bool Show(wxWindow* parent, const char* page);
  // Closes the help window if it is open.
  void Close();
  // The page the help window shows ("" when it is not open).
  std::string OpenedPage() const;
  wxFrame* Frame() const;

 private:
  bool Load(wxWindow* parent);
  std::unique_ptr<wxHtmlHelpController> controller_;
  bool loaded_ = false;
};
