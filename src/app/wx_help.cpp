// SPDX-License-Identifier: GPL-3.0-or-later
// The help book: found in the source tree while developing, in the data folder once installed,
// and shown in wxWidgets' HTML help window (contents, index and search beside the page).
#include "app/wx_help.h"

#include <sys/stat.h>
#include <wx/filename.h>
#include <wx/html/helpctrl.h>
#include <wx/html/helpfrm.h>
#include <wx/html/htmlwin.h>
#include <wx/stdpaths.h>

#include <cstdlib>

#include "app/wx_native.h"
#include "app/wx_varnol.h"

#ifndef VARNOL_HELP_SOURCE_DIR
#define VARNOL_HELP_SOURCE_DIR ""
#endif
#ifndef VARNOL_HELP_INSTALL_DIR
#define VARNOL_HELP_INSTALL_DIR "/usr/share/varnol/help"
#endif

namespace {

// The help window realized before it is first shown, like the main window (see
// RealizeBeforeShowing).
class HelpController : public wxHtmlHelpController {
 public:
  using wxHtmlHelpController::wxHtmlHelpController;

 protected:
  wxHtmlHelpFrame* CreateHelpFrame(wxHtmlHelpData* data) override {
    wxHtmlHelpFrame* frame = wxHtmlHelpController::CreateHelpFrame(data);
    if (frame != nullptr) RealizeBeforeShowing(frame);
    return frame;
  }
};

constexpr const char* BookFile = "varnol.hhp";

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::string> HelpFolders() {
  std::vector<std::string> folders;
  if (const char* env = std::getenv("VARNOL_HELP_DIR"); env != nullptr && *env != 0)
    folders.emplace_back(env);
  if (*VARNOL_HELP_SOURCE_DIR != 0) folders.emplace_back(VARNOL_HELP_SOURCE_DIR);
  // PREFIX/bin/varnol finds PREFIX/share/varnol/help, wherever the prefix was moved to.
  const wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
  wxFileName prefix_help(exe.GetPath(), "");
  prefix_help.RemoveLastDir();
  prefix_help.AppendDir("share");
  prefix_help.AppendDir("varnol");
  prefix_help.AppendDir("help");
  folders.push_back(prefix_help.GetPath().ToStdString());
  folders.emplace_back(VARNOL_HELP_INSTALL_DIR);
  return folders;
}

std::string FindHelpFolder() {
  for (const std::string& folder : HelpFolders())
    if (IsFile(folder + "/" + BookFile)) return folder;
  return {};
}

HelpBook::HelpBook() = default;

HelpBook::~HelpBook() {
  if (!controller_) return;
  // Help windows still open would call back into the controller when the toolkit closes them
  // after it is gone: they are cut loose from it and destroyed first.
  for (wxWindow* w : wxTopLevelWindows) {
    auto* frame = dynamic_cast<wxHtmlHelpFrame*>(w);
    if (frame == nullptr || frame->GetController() != controller_.get()) continue;
    frame->SetController(nullptr);
    frame->Destroy();
  }
}

bool HelpBook::Load(wxWindow* parent) {
  if (loaded_) return true;
  const std::string folder = FindHelpFolder();
  if (folder.empty()) {
    wxString where;
    for (const std::string& f : HelpFolders()) where += "\n" + f;
    ShowMessage(parent, "The help pages are not installed. They were looked for in:" + where,
                wxOK | wxICON_EXCLAMATION);
    return false;
  }
  controller_ = std::make_unique<HelpController>(wxHF_DEFAULT_STYLE | wxHF_FRAME, parent);
  controller_->SetTitleFormat(wxString(ProgramName) + " Help: %s");
  if (!controller_->AddBook(wxFileName(folder, BookFile))) {
    controller_.reset();
    ShowMessage(parent, "The help book " + folder + "/" + BookFile + " cannot be read.",
                wxOK | wxICON_EXCLAMATION);
    return false;
  }
  loaded_ = true;
  return true;
}

bool HelpBook::Show(wxWindow* parent, const char* page) {
  if (!Load(parent)) return false;
  // A page of the book by its file name (and anchor); the contents if it has none such.
  if (!controller_->Display(page)) controller_->DisplayContents();
  if (wxFrame* frame = Frame(); frame != nullptr) frame->Raise();
  return true;
}

void HelpBook::Close() {
  if (controller_ && controller_->GetFrame() != nullptr) controller_->Quit();
}

wxFrame* HelpBook::Frame() const {
  return controller_ ? controller_->GetFrame() : nullptr;
}

std::string HelpBook::OpenedPage() const {
  if (!controller_ || controller_->GetFrame() == nullptr) return {};
  wxHtmlHelpWindow* window = controller_->GetHelpWindow();
  if (window == nullptr || window->GetHtmlWindow() == nullptr) return {};
  // The page's location, anchor included: its last path element.
  const wxString page = window->GetHtmlWindow()->GetOpenedPage();
  return page.AfterLast('/').ToStdString();
}
