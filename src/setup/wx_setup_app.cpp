// The installer program: reads "setup.dat" from the current directory and shows the
// installation dialog; the program ends when the dialog closes.
#include <unistd.h>
#include <wx/app.h>
#include <wx/image.h>

#include <cstdlib>
#include <memory>

#include "platform/hive_registry.h"
#include "platform/host_files.h"
#include "platform/shell_link.h"
#include "setup/setup_installer.h"
#include "setup/wx_setup_dlg.h"

class CSetupApp : public wxApp {
 public:
  bool OnInit() override;
  int OnRun() override;
  int OnExit() override;

 private:
  std::unique_ptr<HostFiles> files_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<HostShellLinkFactory> links_;
};

bool CSetupApp::OnInit() {
  SetAppName("setup");
  SetAppDisplayName("setup");
  files_ = std::make_unique<HostFiles>(QovenRoot());
  registry_ = OpenHostRegistry();
  char* here = ::getcwd(nullptr, 0);
  StartInstallerHost(*files_, *registry_, here != nullptr ? here : ".");
  std::free(here);
  links_ = std::make_unique<HostShellLinkFactory>(*files_);
  return true;
}

int CSetupApp::OnRun() {
  CSetupDlg dialog(*files_, *registry_, *links_);
  if (!dialog.ScriptRead()) return 1;  // the user has been told why
  SetTopWindow(&dialog);
  dialog.ShowModal();
  SetTopWindow(nullptr);
  return 0;
}

int CSetupApp::OnExit() {
  registry_.reset();  // writes whatever is still pending
  return 0;
}

wxIMPLEMENT_APP(CSetupApp);
