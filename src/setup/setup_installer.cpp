// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/setup_installer.h"

#include "setup/setup_texts.h"

namespace T = setup_text;

namespace {

std::string CrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// A name as a message shows it: a script line may be any length, a message box may not.
std::string Shortened(const std::string& text) {
  constexpr size_t kLongest = 100;
  return text.size() <= kLongest ? text : text.substr(0, kLongest) + "...";
}

std::string OnlyOutOf(int done, int listed, const char* kind) {
  return "Only " + std::to_string(done) + " out of " + std::to_string(listed) + " " + kind +
         " files were copiable.";
}

}  // namespace

void StartInstallerHost(HostFiles& files, Registry& registry, const std::string& start_folder) {
  files.UseInstallationMedium(start_folder);
  FileStatus script;
  if (files.GetFileStatus(T::kScriptName, &script) == ERROR_SUCCESS) files.SeedFirstUse(registry);
}

bool NameStaysInside(const std::string& name) {
  if (name.find(':') != std::string::npos) return false;  // a drive, or no valid name at all
  if (!name.empty() && (name[0] == '\\' || name[0] == '/')) return false;
  int depth = 0;
  size_t pos = 0;
  while (pos <= name.size()) {
    size_t end = name.find_first_of("\\/", pos);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(pos, end - pos);
    if (part == "..") {
      if (--depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    pos = end + 1;
  }
  return true;
}

bool SetupInstaller::TextFile::Create(const std::string& text) {
  content_ = CrLf(text);
  dirty_ = false;
  bool ok = files_.WriteFile(path_, content_) == ERROR_SUCCESS;
  if (kind_ == Kind::kAppended) content_.clear();
  return ok;
}

bool SetupInstaller::TextFile::Write(const std::string& text) {
  dirty_ = true;
  if (kind_ == Kind::kWholeOrNothing) {
    content_ += CrLf(text);
    return true;
  }
  return files_.AppendFile(path_, CrLf(text), false) == ERROR_SUCCESS;
}

bool SetupInstaller::TextFile::Flush() {
  if (!dirty_) return true;
  dirty_ = false;
  if (kind_ == Kind::kWholeOrNothing) return files_.WriteFile(path_, content_) == ERROR_SUCCESS;
  return files_.AppendFile(path_, "", true) == ERROR_SUCCESS;
}

SetupInstaller::SetupInstaller(SetupDialogMembers& members, HostFiles& files, Registry& registry,
                               ShellLinkFactory& links, MessageSink& messages)
    : m_(members), files_(files), registry_(registry), links_(links), messages_(messages) {}

void SetupInstaller::ApplyScript(const SetupScript& script) {
  m_.ProgramName = script.ProgramName;
  m_.VersionText = script.VersionText;
  m_.IntroLine1 = T::kIntroLine1;
  m_.IntroLine2 = m_.ProgramName + T::kVersionJoin + m_.VersionText;
  m_.IntroLine3 = T::kIntroLine3;
  m_.DestinationDir = ProgramFilesFolder(registry_) + script.DestinationName;
  m_.ProgramFileList = script.ProgramFiles;
  m_.SystemFileList = script.SystemFiles;
  m_.ProgramFileCount = static_cast<int>(m_.ProgramFileList.size());
  m_.SystemFileCount = static_cast<int>(m_.SystemFileList.size());
  m_.ProgressPos = 0;
}

bool SetupInstaller::ReadScript() {
  ScriptResult result = ReadSetupScript(files_);
  if (result.outcome != ScriptOutcome::kRead) {
    Show(result.message, MessageIcon::kExclamation);
    return false;
  }
  ApplyScript(result.script);
  return true;
}

void SetupInstaller::Show(const std::string& text, MessageIcon icon) {
  messages_.Show(text, icon, MessageButtons::kOk);
}

void SetupInstaller::Log(const std::string& line) {
  if (log_ == nullptr || log_->Write(line + "\n") || log_failure_reported_) return;
  // Without its log the installation would be reported as complete while its story is lost.
  log_failure_reported_ = true;
  ErrorsDetected = true;
  Show("The installation log " + log_->path() + " could not be written.", MessageIcon::kExclamation);
}

void SetupInstaller::Record(const std::string& line) {
  if (record_ != nullptr) record_->Write(line + "\n");  // reaches the disk at the end of the step
}

void SetupInstaller::EndOfStep() {
  if (log_ != nullptr && !log_->Flush() && !log_failure_reported_) {
    log_failure_reported_ = true;
    ErrorsDetected = true;
    Show("The installation log " + log_->path() + " could not be written.", MessageIcon::kExclamation);
  }
  if (record_ == nullptr || record_->Flush() || record_failure_reported_) return;
  // An uninstall record that misses a file leaves that file behind for good.
  record_failure_reported_ = true;
  ErrorsDetected = true;
  Show("The uninstall record " + record_->path() + " could not be written.", MessageIcon::kExclamation);
}

void SetupInstaller::Problem(const std::string& text) {
  Show(text, MessageIcon::kExclamation);
  Log(text);
  ErrorsDetected = true;
}

void SetupInstaller::ProblemList::Add(SetupInstaller& installer, const std::string& text,
                                      const std::string& name) {
  installer.Log(text);
  installer.ErrorsDetected = true;
  names_.push_back(name);
  last_text_ = text;
}

void SetupInstaller::ProblemList::Show(SetupInstaller& installer) const {
  if (names_.empty()) return;
  if (names_.size() == 1) {
    installer.Show(last_text_, MessageIcon::kExclamation);
    return;
  }
  // One box, whatever the number of files: at most kListed names, each of a bounded length.
  constexpr size_t kListed = 10;
  std::string text = heading_;
  for (size_t i = 0; i < names_.size() && i < kListed; ++i) {
    text += '\n';
    text += Shortened(names_[i]);
  }
  if (names_.size() > kListed) {
    text += "\n... and ";
    text += std::to_string(names_.size() - kListed);
    text += " more.";
  }
  installer.Show(text, MessageIcon::kExclamation);
}

void SetupInstaller::AdvanceProgress(int position) {
  EndOfStep();
  m_.ProgressPos = position;
  if (controls_ != nullptr) {
    controls_->MembersToControls(m_);
    controls_->Pause(kPauseMs);
  }
}

InstallOutcome SetupInstaller::OnInstallNow(SetupControls& controls) {
  controls_ = &controls;
  controls.ControlsToMembers(m_);
  ErrorsDetected = false;
  RebootNeeded = false;
  log_failure_reported_ = false;
  record_failure_reported_ = false;

  // 1. The destination folder must be new: an existing one may hold an earlier installation.
  if (files_.CreateDirectoryA(m_.DestinationDir) != ERROR_SUCCESS) {
    Show(T::kDestinationNotCreated, MessageIcon::kExclamation);
    return InstallOutcome::kDestinationNotCreated;
  }

  // 2. Log and uninstall record.
  const std::string destination = m_.DestinationDir;
  TextFile log(files_, destination + T::kLogFile, TextFile::Kind::kAppended);
  TextFile record(files_, destination + T::kRecordFile, TextFile::Kind::kWholeOrNothing);
  if (!log.Create(T::kLogHeader + m_.ProgramName + "\n")) {
    Show("The installation log " + log.path() + " could not be created.\nNothing has been installed.",
         MessageIcon::kExclamation);
    files_.RemoveDirectoryA(destination);  // ours and empty: the user can simply try again
    return InstallOutcome::kNotStarted;
  }
  if (!record.Create(m_.ProgramName + "\n" + m_.VersionText + "\n" + destination + "\n" + log.path() + "\n" +
                     record.path() + "\n")) {
    Show("The uninstall record " + record.path() + " could not be created.\nNothing has been installed.",
         MessageIcon::kExclamation);
    files_.DeleteFileA(log.path());
    files_.RemoveDirectoryA(destination);
    return InstallOutcome::kNotStarted;
  }
  log_ = &log;
  record_ = &record;

  // 3. Configuration.
  m_.StepConfigLabel = T::kStepConfig;
  AdvanceProgress(5);
  m_.StepConfigLabel += T::kStepDone;
  AdvanceProgress(10);

  // 4. Every scripted file must be there (the free space is not examined).
  m_.StepDiskLabel = T::kStepDisk;
  AdvanceProgress(15);
  FileStatus status;
  ProblemList missing_programs("These program files could not be found:");
  for (const std::string& name : m_.ProgramFileList) {
    if (files_.GetFileStatus(name, &status) != ERROR_SUCCESS) {
      missing_programs.Add(*this, T::kProgramFileMissing, name);
    }
  }
  missing_programs.Show(*this);
  ProblemList missing_systems("These system files could not be found:");
  for (const std::string& name : m_.SystemFileList) {
    if (files_.GetFileStatus(name, &status) != ERROR_SUCCESS) {
      missing_systems.Add(*this, "System file " + name + " could not be found", name);
    }
  }
  missing_systems.Show(*this);
  m_.StepDiskLabel += T::kStepDone;
  AdvanceProgress(20);

  // 5.-8. Copying.
  m_.StepCopyLabel = T::kStepCopy;
  AdvanceProgress(25);
  m_.DestinationDir += "\\";
  CopyProgramFiles();
  if (m_.SystemFileCount > 0) CopySystemFiles();
  m_.StepCopyLabel += T::kStepDone;
  AdvanceProgress(90);

  // 9. Registry.
  m_.StepRegistryLabel = T::kStepRegistry;
  AdvanceProgress(95);
  WriteRegistryEntries();
  m_.StepRegistryLabel += T::kStepDone;
  AdvanceProgress(100);

  // 10. Shortcuts.
  CreateShortcuts();
  EndOfStep();

  // 11. Report.
  InstallOutcome outcome = InstallOutcome::kEndProgram;
  Report(&outcome);
  EndOfStep();
  log_ = nullptr;
  record_ = nullptr;
  controls_ = nullptr;
  return outcome;
}

void SetupInstaller::CopyProgramFiles() {
  int copied = 0;
  ProblemList refused(
      "These program file names are not allowed: each must name a file inside the "
      "destination folder.");
  for (const std::string& name : m_.ProgramFileList) {
    if (!NameStaysInside(name)) {
      refused.Add(*this,
                  "The program file name " + name +
                      " is not allowed: it must name a file inside the destination folder.",
                  name);
      continue;
    }
    const std::string target = m_.DestinationDir + name;
    if (files_.CopyFileA(name, target, true) == ERROR_SUCCESS) {
      Log("Copied " + name + " to " + target);
      Record(target);
      ++copied;
    }
  }
  refused.Show(*this);
  if (copied != m_.ProgramFileCount) Problem(OnlyOutOf(copied, m_.ProgramFileCount, "program"));
}

void SetupInstaller::CopySystemFiles() {
  const std::string sys = files_.GetSystemDirectory() + "\\";
  int handled = 0;
  ProblemList refused(
      "These system file names are not allowed: each must name a file inside the system "
      "folder.");
  for (const std::string& name : m_.SystemFileList) {
    if (!NameStaysInside(name)) {
      refused.Add(
          *this,
          "The system file name " + name + " is not allowed: it must name a file inside the system folder.",
          name);
      continue;
    }
    const std::string target = sys + name;
    if (files_.CopyFileA(name, target, true) == ERROR_SUCCESS) {
      Log("System file " + name + " copied straight to " + target);
      ++handled;
      continue;
    }
    FileStatus installed, offered;
    if (files_.GetFileStatus(target, &installed) != ERROR_SUCCESS) continue;
    if (files_.GetFileStatus(name, &offered) != ERROR_SUCCESS ||
        files_.GetFileStatus(target, &installed) != ERROR_SUCCESS) {
      Log(T::kCannotEstablishStatus);
      ErrorsDetected = true;
      continue;
    }
    if (!(installed.modified < offered.modified)) {
      Log("No need to copy system file " + name);
      ++handled;
      continue;
    }
    LONG rc = files_.CopyFileA(name, target, false);
    if (rc == ERROR_SUCCESS) {
      Log("System files " + name + " overwritten to " + target);
      ++handled;
      continue;
    }
    if (rc != ERROR_SHARING_VIOLATION && rc != ERROR_ACCESS_DENIED) {
      Problem("System copy still failed (" + std::to_string(rc) + ").");
      continue;
    }
    // In use: the new file waits beside the program until the next start replaces the old one.
    const std::string temp = m_.DestinationDir + name;
    rc = files_.CopyFileA(name, temp, false);
    if (rc != ERROR_SUCCESS) {
      // Scheduling a replacement by a copy that is not there would report success and
      // install nothing.
      Problem("System copy still failed (" + std::to_string(rc) + ").");
      continue;
    }
    Log("System file " + name + " copied to " + temp);
    Record(temp);
    if (ScheduleReplacement(target, temp)) ++handled;
  }
  refused.Show(*this);
  if (handled != m_.SystemFileCount) Problem(OnlyOutOf(handled, m_.SystemFileCount, "system"));
}

bool SetupInstaller::ScheduleReplacement(const std::string& target, const std::string& temp) {
  const std::string ini = files_.GetWindowsDirectory() + T::kWininit;
  FileStatus status;
  if (files_.GetFileStatus(ini, &status) != ERROR_SUCCESS) {
    if (files_.WriteFile(ini, "[rename]\r\n") == ERROR_SUCCESS) Log(T::kWininitCreated);
  }
  const std::string move_line = target + "=" + temp;
  const std::string delete_line = "NUL=" + temp;
  std::string text;
  LONG rc = files_.ReadFile(ini, &text);
  if (rc == ERROR_SUCCESS) {
    // A last line without its break would otherwise run into ours and both would be lost.
    if (!text.empty() && text.back() != '\n') text += "\r\n";
    text += CrLf(move_line + "\n" + delete_line + "\n");
    rc = files_.WriteFile(ini, text);
  }
  if (rc != ERROR_SUCCESS) {
    Problem(T::kUnableToCreateWininit);
    return false;
  }
  Log(T::kLinesAdded);
  Log(move_line);
  Log(delete_line);
  RebootNeeded = true;
  return true;
}

void SetupInstaller::Report(InstallOutcome* outcome) {
  if (!ErrorsDetected && !RebootNeeded) {
    Show(T::kCanRunNow, MessageIcon::kInformation);
    Log(T::kCompletedOk);
  }
  if (ErrorsDetected) {
    Show(T::kErrorsDetected, MessageIcon::kExclamation);
    Log(T::kErrorsDetected);
  }
  if (!RebootNeeded) {
    *outcome = InstallOutcome::kEndProgram;
    return;
  }
  if (ErrorsDetected) {
    // The user should look at the errors first; a restart would hide them.
    *outcome = InstallOutcome::kStaysOpen;
    return;
  }
  if (messages_.Show(T::kRebootQuestion, MessageIcon::kInformation, MessageButtons::kYesNo) ==
      MessageAnswer::kYes) {
    Show(T::kWhenRestarted, MessageIcon::kInformation);
    Log(T::kRebootAutomatically);
    EndOfStep();  // log and record are closed before Windows restarts
    RestartReport restart = files_.ExitWindowsEx();
    if (!restart.failures.empty()) {
      std::string text = "These replacements could not be made at the restart:";
      for (const std::string& line : restart.failures) text += "\n" + line;
      Show(text, MessageIcon::kExclamation);
    }
    *outcome = InstallOutcome::kRestarted;
    return;
  }
  Show(T::kRememberReboot, MessageIcon::kExclamation);
  Log(T::kRebootManually);
  *outcome = InstallOutcome::kEndProgram;
}

namespace {

LONG SetString(Registry& registry, HKEY key, const std::string& name, const std::string& value) {
  // The stored size counts the terminating zero.
  return registry.RegSetValueExA(key, name, REG_SZ, reinterpret_cast<const uint8_t*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1));
}

}  // namespace

void SetupInstaller::WriteRegistryEntries() {
  // Without its keys the program is unknown to Windows and to its uninstaller: a key that
  // cannot be written (the values reach the hive when the key is closed) is an installation
  // error like a file that cannot be copied.
  auto check = [this](const std::string& key_name, LONG rc) {
    if (rc == ERROR_SUCCESS) return;
    Problem("The registry key HKEY_LOCAL_MACHINE\\" + Shortened(key_name) + " could not be written (error " +
            std::to_string(rc) + ").");
  };
  HKEY key = 0;
  DWORD disposition = 0;
  const std::string program_key = T::kProgramKeyPrefix + m_.ProgramName + "\\" + m_.VersionText;
  LONG rc = registry_.RegCreateKeyExA(HKEY_LOCAL_MACHINE, program_key, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, &key, &disposition);
  if (rc == ERROR_SUCCESS) rc = registry_.RegCloseKey(key);
  check(program_key, rc);

  const std::string uninstall_key = T::kUninstallKeyPrefix + m_.ProgramName;
  rc = registry_.RegCreateKeyExA(HKEY_LOCAL_MACHINE, uninstall_key, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 &key, &disposition);
  if (rc == ERROR_SUCCESS) {
    rc = SetString(registry_, key, "DisplayName", m_.ProgramName);
    if (rc == ERROR_SUCCESS)
      rc = SetString(registry_, key, "UninstallString", m_.DestinationDir + T::kUninstaller);
    LONG closed = registry_.RegCloseKey(key);
    if (rc == ERROR_SUCCESS) rc = closed;
  }
  check(uninstall_key, rc);
}

void SetupInstaller::CreateShortcuts() {
  // The shortcut's file is named after the program; a folder or drive in the name would put
  // it somewhere else than its folder.
  if (m_.ProgramName.find_first_of("\\/:") != std::string::npos) {
    Problem("The program name " + m_.ProgramName +
            " cannot name a shortcut file: it must not hold \\, / or :. No shortcut was made.");
    return;
  }
  if (!m_.ProgramFileList.empty() && !NameStaysInside(m_.ProgramFileList[0])) {
    // The main program was refused and not installed: a shortcut would start whatever its name
    // leads to outside the destination folder.
    Log("No shortcut was made: the main program file name " + m_.ProgramFileList[0] + " is not allowed.");
    ErrorsDetected = true;
    return;
  }
  const std::string target =
      m_.DestinationDir + (m_.ProgramFileList.empty() ? std::string() : m_.ProgramFileList[0]);
  const std::string& description = m_.ProgramName;
  const std::string directory = m_.DestinationDir.substr(0, m_.DestinationDir.size() - 1);
  const std::string link_name = "\\" + m_.ProgramName + T::kLinkExtension;

  const std::string start_menu = files_.GetWindowsDirectory() + T::kStartMenuFolder;
  Log(files_.CreateDirectoryA(start_menu) == ERROR_SUCCESS ? T::kStartMenuCreated : T::kStartMenuExisted);
  auto make = [&](const std::string& link) {
    Log("Shortcut " + link + " to " + target + " called " + description + " with directory " + directory);
    Record(link);
    CreateShortcut(target, link, description, directory);
  };
  make(start_menu + link_name);

  // Without a desktop entry in the user's shell folders, Windows' own default is used.
  std::string desktop = files_.GetWindowsDirectory() + "\\Desktop";
  HKEY key = 0;
  if (registry_.RegOpenKeyExA(HKEY_CURRENT_USER, T::kShellFoldersKey, KEY_READ, &key) == ERROR_SUCCESS) {
    std::string value;
    if (QueryString(registry_, key, T::kDesktopValue, &value)) desktop = value;
    registry_.RegCloseKey(key);
  }
  make(desktop + link_name);
}

HRESULT SetupInstaller::CreateShortcut(const std::string& target, const std::string& link,
                                       const std::string& description, const std::string& directory) {
  std::unique_ptr<ShellLink> shell_link;
  HRESULT hr = links_.CreateShellLink(&shell_link);
  if (FAILED(hr) || shell_link == nullptr) return FAILED(hr) ? hr : E_FAIL;
  if (FAILED(shell_link->SetPath(target))) {
    messages_.Show(T::kSetPathFailed, MessageIcon::kNone, MessageButtons::kOk);
  }
  if (FAILED(shell_link->SetDescription(description))) {
    messages_.Show(T::kSetDescriptionFailed, MessageIcon::kNone, MessageButtons::kOk);
  }
  if (FAILED(shell_link->SetWorkingDirectory(directory))) {
    messages_.Show(T::kSetWorkingDirectoryFailed, MessageIcon::kNone, MessageButtons::kOk);
  }
  return shell_link->Save(MultiByteToWideChar(link), true);
}
