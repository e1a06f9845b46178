// SPDX-License-Identifier: GPL-3.0-or-later
// The installer program: reads "setup.dat" from the current directory and shows the
// installation dialog; the program ends when the dialog closes.
#include <unistd.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/log.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/hive_registry.h"
#include "platform/host_files.h"
#include "platform/shell_link.h"
#include "setup/setup_installer.h"
#include "setup/wx_setup_dlg.h"

namespace {

const char* const kUsage =
    "Usage: setup\n"
    "Installs a program: reads the installation script setup.dat from the current folder and\n"
    "shows the installation dialog, where the destination folder can be changed before\n"
    "\"Install Now\". Windows folders are mapped onto $QOVEN_ROOT/drive_c/\n"
    "(default ~/.local/share/qoven).\n"
    "\n"
    "  --help    this text\n"
    "  --version the program's version\n"
    "\n"
    "Exit codes: 0 the dialog was closed, 1 setup.dat could not be read or there is no display\n"
    "to show the dialog on, 2 usage error.\n";

}  // namespace

class CSetupApp : public wxApp {
 public:
  bool Initialize(int& argc, wxChar** argv) override;
  bool OnInit() override;
  int OnRun() override;
  int OnExit() override;

 private:
  std::unique_ptr<HostFiles> files_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<HostShellLinkFactory> links_;
};

bool CSetupApp::Initialize(int& count, wxChar** args) {
  // The usage and its mistakes need no display: they are answered before the toolkit starts.
  for (int i = 1; i < count; ++i) {
    const wxString a(args[i]);
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (a == "--version") {
      std::printf("setup %s (the varnol package's installer)\n", VARNOL_VERSION);
      std::exit(0);
    }
    if (a.StartsWith("--display") || a.StartsWith("--g")) continue;  // the toolkit's own options
    std::fprintf(stderr, "setup: unknown option '%s'\n(see setup --help)\n", a.utf8_str().data());
    std::exit(2);
  }
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x11 == nullptr || *x11 == 0) && (wayland == nullptr || *wayland == 0)) {
    std::fputs("setup: the installer needs a display to show its dialog on (DISPLAY is not set)\n", stderr);
    std::exit(1);
  }
  bool started = false;
  {
    wxLogNull quiet;  // the toolkit's own complaint is replaced by the one line below
    started = wxApp::Initialize(count, args);
  }
  if (!started) {
    std::fprintf(stderr, "setup: cannot open the display %s\n", x11 != nullptr && *x11 != 0 ? x11 : wayland);
    std::exit(1);
  }
  return true;
}

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
