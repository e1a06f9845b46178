// SPDX-License-Identifier: GPL-3.0-or-later
// The installer's work, apart from its window: reading the script into the dialog's members,
// and the installation that "Install Now" runs -- destination folder, log and uninstall record,
// file checks, program and system files (with replacement at the next start for a system file
// in use), registry entries, shortcuts and the closing report.
//
// The window is reached only through SetupControls (copying between controls and members, and
// the pause after each progress point), messages only through MessageSink, so the whole run can
// be driven and checked without a display.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/host_files.h"
#include "platform/message_sink.h"
#include "platform/registry.h"
#include "platform/shell_link.h"
#include "setup/setup_script.h"

// The data members of the installer dialog, named as the dialog's controls and script lines.
struct SetupDialogMembers {
  std::string IntroLine1;
  std::string IntroLine3;
  std::string IntroLine2;
  std::string StepConfigLabel;
  std::string StepCopyLabel;
  std::string StepRegistryLabel;
  std::string StepDiskLabel;
  std::string DestinationDir;
  int ProgressPos = 0;  // 0..100
  std::vector<std::string> ProgramFileList;
  std::vector<std::string> SystemFileList;
  std::string ProgramName;
  std::string VersionText;
  int ProgramFileCount = 0;
  int SystemFileCount = 0;
};

class SetupControls {
 public:
  virtual ~SetupControls() = default;
  // Takes what the user may have changed (the destination) from the controls.
  virtual void ControlsToMembers(SetupDialogMembers& members) = 0;
  // Shows the members, the progress bar at ProgressPos included, and repaints at once.
  virtual void MembersToControls(const SetupDialogMembers& members) = 0;
  virtual void Pause(int milliseconds) = 0;
};

enum class InstallOutcome {
  kDestinationNotCreated,  // nothing done; the dialog stays open for another folder
  kNotStarted,             // the log or the record could not be created; nothing installed
  kStaysOpen,              // errors with a restart pending: the dialog stays open
  kEndProgram,             // finished; the program ends
  kRestarted,              // finished with the restart carried out; the program ends
};

class SetupInstaller {
 public:
  SetupInstaller(SetupDialogMembers& members, HostFiles& files, Registry& registry, ShellLinkFactory& links,
                 MessageSink& messages);

  // Reads the script into the members. False (after telling the user why) when the script is
  // missing or incomplete: the program then ends without installing anything.
  bool ReadScript();
  // Fills the members from a script that has been read.
  void ApplyScript(const SetupScript& script);

  InstallOutcome OnInstallNow(SetupControls& controls);

  // Progress in steps of the installation: shows `position` and the members, then waits.
  void AdvanceProgress(int position);
  void WriteRegistryEntries();
  void CreateShortcuts();
  HRESULT CreateShortcut(const std::string& target, const std::string& link, const std::string& description,
                         const std::string& directory);

  static constexpr int kPauseMs = 500;

 private:
  // A text file written in text mode (each "\n" stored as CR LF). The log grows by appending
  // and reaches the disk at the end of each step; the uninstall record is replaced whole at the
  // end of each step, so it is always a complete record of a finished step, never a part line.
  class TextFile {
   public:
    enum class Kind { kAppended, kWholeOrNothing };
    TextFile(HostFiles& files, std::string path, Kind kind)
        : files_(files), path_(std::move(path)), kind_(kind) {}
    bool Create(const std::string& text);
    bool Write(const std::string& text);
    // Puts what was written since the last call safely on disk.
    bool Flush();
    const std::string& path() const { return path_; }

   private:
    HostFiles& files_;
    std::string path_;
    Kind kind_;
    std::string content_;  // the whole record (kWholeOrNothing only)
    bool dirty_ = false;
  };

  // Failures of one kind found file by file (a script may list thousands of files): each is
  // logged and sets the error flag as it is found, and the user is shown one box for them all --
  // the failure's own text when there is one, else `heading` and a bounded list of the names.
  class ProblemList {
   public:
    explicit ProblemList(std::string heading) : heading_(std::move(heading)) {}
    void Add(SetupInstaller& installer, const std::string& text, const std::string& name);
    void Show(SetupInstaller& installer) const;

   private:
    std::string heading_;
    std::vector<std::string> names_;
    std::string last_text_;
  };

  void Show(const std::string& text, MessageIcon icon);
  // A failed step: message box with the exclamation icon, log line, error flag.
  void Problem(const std::string& text);
  void Log(const std::string& line);  // `line` without its "\n"
  void Record(const std::string& line);
  // The end of a step: log and record on disk; a failure is reported as Log and Record do.
  void EndOfStep();
  void CopyProgramFiles();
  void CopySystemFiles();
  // Adds TARGET=TEMP and NUL=TEMP to WININIT.INI; false (after reporting) when it cannot.
  bool ScheduleReplacement(const std::string& target, const std::string& temp);
  bool CreateLogAndRecord(const std::string& destination);
  void Report(InstallOutcome* outcome);

  SetupDialogMembers& m_;
  HostFiles& files_;
  Registry& registry_;
  ShellLinkFactory& links_;
  MessageSink& messages_;
  SetupControls* controls_ = nullptr;

  // State of one run.
  bool ErrorsDetected = false;
  bool RebootNeeded = false;
  TextFile* log_ = nullptr;
  TextFile* record_ = nullptr;
  bool log_failure_reported_ = false;
  bool record_failure_reported_ = false;
};

// The installer's start: the Linux folder it starts in is its installation medium (the script
// and the files it lists are read from there), and the root is prepared for a first use only
// when that folder holds a script, so a run that can install nothing leaves nothing behind.
void StartInstallerHost(HostFiles& files, Registry& registry, const std::string& start_folder);

// Whether a script file name stays inside the folder it is copied into: not absolute, no drive,
// and no ".." that climbs above that folder.
bool NameStaysInside(const std::string& name);
