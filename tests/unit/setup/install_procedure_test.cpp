// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/hive_registry.h"
#include "setup/setup_installer.h"
#include "unit/platform/temp_root.h"

namespace {

using Lines = std::vector<std::string>;

// The dialog as the installation sees it: what it showed at each progress point, and the
// pauses it was asked for.
class FakeControls : public SetupControls {
 public:
  struct Snapshot {
    int position;
    std::string config, disk, copy, registry, destination;
  };
  void ControlsToMembers(SetupDialogMembers& m) override {
    if (!typed.empty()) m.DestinationDir = typed;
  }
  void MembersToControls(const SetupDialogMembers& m) override {
    shown.push_back({m.ProgressPos, m.StepConfigLabel, m.StepDiskLabel, m.StepCopyLabel, m.StepRegistryLabel,
                     m.DestinationDir});
  }
  void Pause(int milliseconds) override { pauses.push_back(milliseconds); }

  std::string typed;
  std::vector<Snapshot> shown;
  std::vector<int> pauses;
};

// Host files whose writes of one file name fail, after `allowed` successful writes of it.
class FailingFiles : public HostFiles {
 public:
  FailingFiles(const std::string& root, std::string name, int allowed)
      : HostFiles(root), name_(std::move(name)), allowed_(allowed) {}
  LONG WriteFile(const std::string& path, std::string_view bytes) override {
    if (Matches(path) && allowed_-- <= 0) return ERROR_DISK_FULL;
    return HostFiles::WriteFile(path, bytes);
  }
  LONG AppendFile(const std::string& path, std::string_view bytes, bool sync) override {
    if (Matches(path) && allowed_-- <= 0) return ERROR_DISK_FULL;
    return HostFiles::AppendFile(path, bytes, sync);
  }

 private:
  bool Matches(const std::string& path) const {
    return path.size() >= name_.size() && path.compare(path.size() - name_.size(), name_.size(), name_) == 0;
  }
  std::string name_;
  int allowed_;
};

Lines SplitCrLf(const std::string& text) {
  Lines out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      out.push_back(text.substr(pos) + "<no line end>");
      break;
    }
    out.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return out;
}

std::string LnkField(const std::string& output, const std::string& field) {
  size_t at = output.find("\t" + field);
  if (at == std::string::npos) return "";
  size_t colon = output.find(": ", at);
  return output.substr(colon + 2, output.find('\n', colon) - colon - 2);
}

const char kDest[] = "C:\\Program Files\\Clock";
const char kShortcutLine[] =
    " to C:\\Program Files\\Clock\\Clock.exe called Clock with directory C:\\Program Files\\Clock";

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_dir_ = std::filesystem::current_path();
    std::filesystem::create_directories(work_ / "cwd");
    std::filesystem::current_path(work_ / "cwd");
    files_->SeedFirstUse(registry_);
  }
  void TearDown() override { std::filesystem::current_path(old_dir_); }

  // Writes the script and its source files ("name=content" is not needed: content is the name).
  void Script(const std::string& body, const Lines& present) {
    WriteText(work_ / "cwd/setup.dat", "Clock\r\n1.0\r\nClock\r\n" + body);
    files_->UseInstallationMedium(work_ / "cwd");
    for (const std::string& name : present) WriteText(work_ / ("cwd/" + name), "new " + name);
    installer_ = std::make_unique<SetupInstaller>(members_, *files_, registry_, *links_, sink_);
    ASSERT_TRUE(installer_->ReadScript());
  }
  InstallOutcome Install() { return installer_->OnInstallNow(controls_); }

  std::string C(const std::string& rest) const { return root_ / ("drive_c/" + rest); }
  Lines Log() const { return SplitCrLf(ReadText(C("Program Files/Clock/setuplog.txt"))); }
  Lines Record() const { return SplitCrLf(ReadText(C("Program Files/Clock/uninstal.dat"))); }
  std::string Hklm() const { return ReadText(root_ / "registry/HKEY_LOCAL_MACHINE.reg"); }
  void SetMtime(const std::string& path, time_t seconds) {
    struct timespec t[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
  }
  // An installed system file older than the offered one.
  void OlderInstalled(const std::string& name) {
    WriteText(C("WINDOWS/SYSTEM/" + name), "old " + name);
    SetMtime(C("WINDOWS/SYSTEM/" + name), 1000000000);
  }
  int HoldLock(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_SH), 0);
    locks_.push_back(fd);
    return fd;
  }

  std::filesystem::path old_dir_;
  TempRoot root_, work_;
  HiveRegistry registry_{root_ / "registry"};
  std::unique_ptr<HostFiles> files_ = std::make_unique<HostFiles>(root_.path());
  std::unique_ptr<ShellLinkFactory> links_ = std::make_unique<HostShellLinkFactory>(*files_);
  RecordingMessageSink sink_;
  FakeControls controls_;
  SetupDialogMembers members_;
  std::unique_ptr<SetupInstaller> installer_;
  std::vector<int> locks_;

 public:
  ~InstallTest() override {
    for (int fd : locks_) ::close(fd);
  }
};

TEST_F(InstallTest, ACleanInstallWritesLogRecordAndReportsSuccess) {
  Script("+Clock.exe\r\n+Uninstal.exe\r\n*QVN.DLL\r\n", {"Clock.exe", "Uninstal.exe", "QVN.DLL"});
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  EXPECT_EQ(Log(), (Lines{"Setup log for: Clock", "Copied Clock.exe to C:\\Program Files\\Clock\\Clock.exe",
                          "Copied Uninstal.exe to C:\\Program Files\\Clock\\Uninstal.exe",
                          "System file QVN.DLL copied straight to C:\\WINDOWS\\SYSTEM\\QVN.DLL",
                          "New QOVEN program files directory created",
                          std::string("Shortcut C:\\WINDOWS\\Start Menu\\Programs\\QOVEN\\Clock.LNK") +
                              kShortcutLine,
                          std::string("Shortcut C:\\WINDOWS\\Desktop\\Clock.LNK") + kShortcutLine,
                          "Installation completed OK"}));
  EXPECT_EQ(Record(), (Lines{"Clock", "1.0", kDest, "C:\\Program Files\\Clock\\setuplog.txt",
                             "C:\\Program Files\\Clock\\uninstal.dat", "C:\\Program Files\\Clock\\Clock.exe",
                             "C:\\Program Files\\Clock\\Uninstal.exe",
                             "C:\\WINDOWS\\Start Menu\\Programs\\QOVEN\\Clock.LNK",
                             "C:\\WINDOWS\\Desktop\\Clock.LNK"}));
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_EQ(sink_.messages[0].text, "You can now run the new application.");
  EXPECT_EQ(sink_.messages[0].icon, MessageIcon::kInformation);
  EXPECT_EQ(ReadText(C("Program Files/Clock/Clock.exe")), "new Clock.exe");
  EXPECT_EQ(ReadText(C("WINDOWS/SYSTEM/QVN.DLL")), "new QVN.DLL");
}

TEST_F(InstallTest, ProgressShowsEightPointsWithTheirLabelsAndPauses) {
  Script("+Clock.exe\r\n", {"Clock.exe"});
  Install();
  EXPECT_EQ(controls_.pauses, std::vector<int>(8, 500));
  ASSERT_EQ(controls_.shown.size(), 8u);
  const std::string done = " .....Done";
  const FakeControls::Snapshot expected[] = {
      {5, "Checking configuration", "", "", "", kDest},
      {10, "Checking configuration" + done, "", "", "", kDest},
      {15, "Checking configuration" + done, "Checking disk space", "", "", kDest},
      {20, "Checking configuration" + done, "Checking disk space" + done, "", "", kDest},
      {25, "Checking configuration" + done, "Checking disk space" + done, "Copying Files", "", kDest},
      {90, "Checking configuration" + done, "Checking disk space" + done, "Copying Files" + done, "",
       std::string(kDest) + "\\"},
      {95, "Checking configuration" + done, "Checking disk space" + done, "Copying Files" + done,
       "Updating Registry", std::string(kDest) + "\\"},
      {100, "Checking configuration" + done, "Checking disk space" + done, "Copying Files" + done,
       "Updating Registry" + done, std::string(kDest) + "\\"}};
  for (size_t i = 0; i < 8; ++i) {
    const auto& s = controls_.shown[i];
    EXPECT_EQ(s.position, expected[i].position);
    EXPECT_EQ(s.config, expected[i].config) << s.position;
    EXPECT_EQ(s.disk, expected[i].disk) << s.position;
    EXPECT_EQ(s.copy, expected[i].copy) << s.position;
    EXPECT_EQ(s.registry, expected[i].registry) << s.position;
    EXPECT_EQ(s.destination, expected[i].destination) << s.position;
  }
}

TEST_F(InstallTest, RegistryEntriesReachTheHiveFile) {
  Script("+Clock.exe\r\n+Uninstal.exe\r\n", {"Clock.exe", "Uninstal.exe"});
  Install();
  const std::string hive = Hklm();
  EXPECT_NE(hive.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\QOVEN\\Clock\\1.0]\r\n"), std::string::npos) << hive;
  EXPECT_NE(
      hive.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Clock]\r\n"
                "\"DisplayName\"=\"Clock\"\r\n"
                "\"UninstallString\"=\"C:\\\\Program Files\\\\Clock\\\\Uninstal.exe\"\r\n"),
      std::string::npos)
      << hive;
  // The installer's writes keep what was there before.
  EXPECT_NE(hive.find("\"ProgramFilesDir\"=\"C:\\\\Program Files\""), std::string::npos);
}

TEST_F(InstallTest, BothShortcutsStartTheMainProgram) {
  Script("+Clock.exe\r\n+Uninstal.exe\r\n", {"Clock.exe", "Uninstal.exe"});
  Install();
  for (const char* link : {"WINDOWS/Start Menu/Programs/QOVEN/Clock.LNK", "WINDOWS/Desktop/Clock.LNK"}) {
    const std::string out = CommandOutput("lnkinfo " + ShellQuote(C(link)) + " 2>&1");
    EXPECT_EQ(LnkField(out, "Local path"), "C:\\Program Files\\Clock\\Clock.exe") << link << out;
    EXPECT_EQ(LnkField(out, "Description"), "Clock") << link;
    EXPECT_EQ(LnkField(out, "Working directory"), kDest) << link;
  }
}

TEST_F(InstallTest, AnExistingDestinationStopsAtOnceWithNothingWritten) {
  Script("+Clock.exe\r\n", {"Clock.exe"});
  std::filesystem::create_directories(C("Program Files/Clock"));
  EXPECT_EQ(Install(), InstallOutcome::kDestinationNotCreated);
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_EQ(sink_.messages[0].text,
            "The destination directory could not be created.\nIf it already exists, delete it or "
            "run\nUninstall before re-installing.");
  EXPECT_EQ(sink_.messages[0].icon, MessageIcon::kExclamation);
  EXPECT_TRUE(std::filesystem::is_empty(C("Program Files/Clock")));
  EXPECT_TRUE(controls_.shown.empty());
  EXPECT_EQ(Hklm().find("QOVEN\\Clock"), std::string::npos);
}

TEST_F(InstallTest, TheEditedDestinationIsUsedAndRecordedAsTyped) {
  Script("+Clock.exe\r\n", {"Clock.exe"});
  std::filesystem::create_directories(root_ / "drive_d/Apps");
  controls_.typed = "D:\\Apps\\My Clock";
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  const Lines record = SplitCrLf(ReadText(root_ / "drive_d/Apps/My Clock/uninstal.dat"));
  ASSERT_GE(record.size(), 6u);
  EXPECT_EQ(record[2], "D:\\Apps\\My Clock");
  EXPECT_EQ(record[5], "D:\\Apps\\My Clock\\Clock.exe");
  EXPECT_NE(Hklm().find("\"UninstallString\"=\"D:\\\\Apps\\\\My Clock\\\\Uninstal.exe\""), std::string::npos);
}

TEST_F(InstallTest, MissingFilesAreReportedAndTheRestIsInstalled) {
  Script("+Clock.exe\r\n+Missing.exe\r\n*GONE.DLL\r\n", {"Clock.exe"});
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  EXPECT_EQ(sink_.Texts(),
            (Lines{"One of the program files could not be found", "System file GONE.DLL could not be found",
                   "Only 1 out of 2 program files were copiable.",
                   "Only 0 out of 1 system files were copiable.", "Installation errors were detected."}));
  for (const auto& m : sink_.messages) EXPECT_EQ(m.icon, MessageIcon::kExclamation) << m.text;
  const Lines log = Log();
  EXPECT_EQ(
      Lines(log.begin(), log.begin() + 6),
      (Lines{"Setup log for: Clock", "One of the program files could not be found",
             "System file GONE.DLL could not be found",
             "Copied Clock.exe to C:\\Program Files\\Clock\\Clock.exe",
             "Only 1 out of 2 program files were copiable.", "Only 0 out of 1 system files were copiable."}));
  EXPECT_EQ(log.back(), "Installation errors were detected.");
}

struct AgeCase {
  const char* label;
  int installed_minus_offered;  // seconds
  const char* log_line;
};

class SystemFileAgeTest : public InstallTest, public ::testing::WithParamInterface<AgeCase> {};

TEST_P(SystemFileAgeTest, OnlyAnOlderInstalledFileIsReplaced) {
  Script("+Clock.exe\r\n*QVN.DLL\r\n", {"Clock.exe", "QVN.DLL"});
  SetMtime(work_ / "cwd/QVN.DLL", 1500000000);
  WriteText(C("WINDOWS/SYSTEM/QVN.DLL"), "installed");
  SetMtime(C("WINDOWS/SYSTEM/QVN.DLL"), 1500000000 + GetParam().installed_minus_offered);
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  const Lines log = Log();
  EXPECT_EQ(log[2], GetParam().log_line);
  EXPECT_EQ(log.back(), "Installation completed OK");
  const bool replaced = GetParam().installed_minus_offered < 0;
  EXPECT_EQ(ReadText(C("WINDOWS/SYSTEM/QVN.DLL")), replaced ? "new QVN.DLL" : "installed");
}

INSTANTIATE_TEST_SUITE_P(
    Ages, SystemFileAgeTest,
    ::testing::Values(AgeCase{"same_age", 0, "No need to copy system file QVN.DLL"},
                      AgeCase{"newer", 60, "No need to copy system file QVN.DLL"},
                      AgeCase{"older", -60,
                              "System files QVN.DLL overwritten to C:\\WINDOWS\\SYSTEM\\QVN.DLL"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(InstallTest, SystemFilesInUseAreReplacedAtTheRestart) {
  Script("+Clock.exe\r\n*A.DLL\r\n*B.DLL\r\n", {"Clock.exe", "A.DLL", "B.DLL"});
  OlderInstalled("A.DLL");
  OlderInstalled("B.DLL");
  HoldLock(C("WINDOWS/SYSTEM/A.DLL"));
  HoldLock(C("WINDOWS/SYSTEM/B.DLL"));
  sink_.answers = {MessageAnswer::kYes};
  EXPECT_EQ(Install(), InstallOutcome::kRestarted);

  const std::string a_temp = "C:\\Program Files\\Clock\\A.DLL", b_temp = "C:\\Program Files\\Clock\\B.DLL";
  EXPECT_EQ(
      Log(),
      (Lines{"Setup log for: Clock", "Copied Clock.exe to C:\\Program Files\\Clock\\Clock.exe",
             "System file A.DLL copied to " + a_temp, "WININIT.INI created", "Lines added to WININIT.INI:",
             "C:\\WINDOWS\\SYSTEM\\A.DLL=" + a_temp, "NUL=" + a_temp, "System file B.DLL copied to " + b_temp,
             "Lines added to WININIT.INI:", "C:\\WINDOWS\\SYSTEM\\B.DLL=" + b_temp, "NUL=" + b_temp,
             "New QOVEN program files directory created",
             std::string("Shortcut C:\\WINDOWS\\Start Menu\\Programs\\QOVEN\\Clock.LNK") + kShortcutLine,
             std::string("Shortcut C:\\WINDOWS\\Desktop\\Clock.LNK") + kShortcutLine,
             "Elected to reboot automatically"}));
  const Lines record = Record();
  EXPECT_EQ(Lines(record.begin() + 5, record.begin() + 8),
            (Lines{"C:\\Program Files\\Clock\\Clock.exe", a_temp, b_temp}));
  ASSERT_EQ(sink_.messages.size(), 2u);
  EXPECT_EQ(sink_.messages[0].text,
            "You need to reboot your computer now to complete the installation.\nClick Yes to "
            "re-boot now.\nClick No if you wish to re-boot manually later.");
  EXPECT_EQ(sink_.messages[0].buttons, MessageButtons::kYesNo);
  EXPECT_EQ(sink_.messages[0].icon, MessageIcon::kInformation);
  EXPECT_EQ(sink_.messages[1].text, "When the computer restarts you can run the new application.");
  // The restart has done what Windows does at its start.
  EXPECT_EQ(ReadText(C("WINDOWS/SYSTEM/A.DLL")), "new A.DLL");
  EXPECT_EQ(ReadText(C("WINDOWS/SYSTEM/B.DLL")), "new B.DLL");
  EXPECT_FALSE(Exists(C("Program Files/Clock/A.DLL")));
  EXPECT_FALSE(Exists(C("WINDOWS/wininit.ini")));
  EXPECT_EQ(ReadText(C("WINDOWS/WININIT.BAK")),
            "[rename]\r\nC:\\WINDOWS\\SYSTEM\\A.DLL=" + a_temp + "\r\nNUL=" + a_temp +
                "\r\nC:\\WINDOWS\\SYSTEM\\B.DLL=" + b_temp + "\r\nNUL=" + b_temp + "\r\n");
}

TEST_F(InstallTest, ARestartLeftToTheUserKeepsTheScheduledReplacement) {
  Script("+Clock.exe\r\n*A.DLL\r\n", {"Clock.exe", "A.DLL"});
  OlderInstalled("A.DLL");
  HoldLock(C("WINDOWS/SYSTEM/A.DLL"));
  // An earlier program's list whose last line has no line end.
  WriteText(C("WINDOWS/WININIT.INI"), "[rename]\r\nC:\\x.dll=C:\\y.dll");
  sink_.answers = {MessageAnswer::kNo};
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  EXPECT_EQ(sink_.messages.back().text, "Remember to reboot your computer manually.");
  EXPECT_EQ(sink_.messages.back().icon, MessageIcon::kExclamation);
  const Lines log = Log();
  EXPECT_EQ(log.back(), "Elected to reboot manually");
  EXPECT_EQ(std::count(log.begin(), log.end(), "WININIT.INI created"), 0);
  EXPECT_EQ(ReadText(C("WINDOWS/WININIT.INI")),
            "[rename]\r\nC:\\x.dll=C:\\y.dll\r\nC:\\WINDOWS\\SYSTEM\\A.DLL=C:\\Program "
            "Files\\Clock\\A.DLL\r\nNUL=C:\\Program Files\\Clock\\A.DLL\r\n");
  EXPECT_EQ(ReadText(C("WINDOWS/SYSTEM/A.DLL")), "old A.DLL");
}

TEST_F(InstallTest, ErrorsWithAPendingRestartKeepTheDialogOpenWithoutAsking) {
  Script("+Clock.exe\r\n+Missing.exe\r\n*A.DLL\r\n", {"Clock.exe", "A.DLL"});
  OlderInstalled("A.DLL");
  HoldLock(C("WINDOWS/SYSTEM/A.DLL"));
  sink_.answers = {MessageAnswer::kYes};
  EXPECT_EQ(Install(), InstallOutcome::kStaysOpen);
  EXPECT_EQ(sink_.messages.back().text, "Installation errors were detected.");
  for (const auto& m : sink_.messages) EXPECT_EQ(m.buttons, MessageButtons::kOk) << m.text;
  EXPECT_TRUE(Exists(C("WINDOWS/wininit.ini")));
}

TEST_F(InstallTest, AFileNamedTwiceCountsOnce) {
  Script("+Clock.exe\r\n+Uninstal.exe\r\n+Clock.exe\r\n", {"Clock.exe", "Uninstal.exe"});
  Install();
  EXPECT_EQ(sink_.Texts(),
            (Lines{"Only 2 out of 3 program files were copiable.", "Installation errors were detected."}));
  const Lines log = Log();
  EXPECT_EQ(Lines(log.begin(), log.begin() + 4),
            (Lines{"Setup log for: Clock", "Copied Clock.exe to C:\\Program Files\\Clock\\Clock.exe",
                   "Copied Uninstal.exe to C:\\Program Files\\Clock\\Uninstal.exe",
                   "Only 2 out of 3 program files were copiable."}));
}

struct UnsafeCase {
  const char* label;
  const char* line;
  const char* message;
};

class UnsafeNameTest : public InstallTest, public ::testing::WithParamInterface<UnsafeCase> {};

TEST_P(UnsafeNameTest, IsAFailedFileAndWritesNothingOutside) {
  WriteText(work_ / "outside.txt", "escaped");
  Script(std::string("+Clock.exe\r\n") + GetParam().line + "\r\n", {"Clock.exe"});
  Install();
  const Lines texts = sink_.Texts(), log = Log();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), GetParam().message), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), GetParam().message), 1);
  EXPECT_EQ(sink_.Texts().back(), "Installation errors were detected.");
  EXPECT_FALSE(Exists(C("Program Files/outside.txt")));
  EXPECT_FALSE(Exists(C("WINDOWS/outside.txt")));
  EXPECT_FALSE(Exists(C("outside.txt")));
}

INSTANTIATE_TEST_SUITE_P(Names, UnsafeNameTest,
                         ::testing::Values(UnsafeCase{"parent", "+..\\outside.txt",
                                                      "The program file name ..\\outside.txt is not allowed: "
                                                      "it must name a file inside the destination folder."},
                                           UnsafeCase{
                                               "parent_in_the_middle", "+sub\\..\\..\\outside.txt",
                                               "The program file name sub\\..\\..\\outside.txt is not "
                                               "allowed: it must name a file inside the destination folder."},
                                           UnsafeCase{"drive", "+C:\\outside.txt",
                                                      "The program file name C:\\outside.txt is not allowed: "
                                                      "it must name a file inside the destination folder."},
                                           UnsafeCase{"root", "+\\outside.txt",
                                                      "The program file name \\outside.txt is not allowed: "
                                                      "it must name a file inside the destination folder."},
                                           UnsafeCase{"system_parent", "*../outside.txt",
                                                      "The system file name ../outside.txt is not allowed: "
                                                      "it must name a file inside the system folder."}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_F(InstallTest, LongNamesAndManyFilesAreInstalledWhole) {
  std::string body;
  Lines names;
  for (int i = 0; i < 12; ++i) {
    names.push_back(std::string(90, static_cast<char>('a' + i)) + ".dat");
    body += "+" + names.back() + "\r\n";
  }
  Script(body, names);
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  EXPECT_EQ(sink_.Texts(), Lines{"You can now run the new application."});
  const Lines log = Log();
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(log[i + 1], "Copied " + names[i] + " to C:\\Program Files\\Clock\\" + names[i]);
    EXPECT_EQ(ReadText(C("Program Files/Clock/" + names[i])), "new " + names[i]);
  }
}

struct UnwritableCase {
  const char* label;
  const char* file;
  const char* message;
};

class UnwritableLogTest : public InstallTest, public ::testing::WithParamInterface<UnwritableCase> {};

TEST_P(UnwritableLogTest, StopsBeforeCopyingAnything) {
  files_ = std::make_unique<FailingFiles>(root_.path(), GetParam().file, 0);
  links_ = std::make_unique<HostShellLinkFactory>(*files_);
  Script("+Clock.exe\r\n", {"Clock.exe"});
  EXPECT_EQ(Install(), InstallOutcome::kNotStarted);
  EXPECT_EQ(sink_.Texts(), Lines{GetParam().message});
  EXPECT_FALSE(Exists(C("Program Files/Clock"))) << "the new, empty folder is taken away again";
  EXPECT_TRUE(controls_.shown.empty());
  // Nothing stands in the way of another try.
  files_ = std::make_unique<HostFiles>(root_.path());
  links_ = std::make_unique<HostShellLinkFactory>(*files_);
  Script("+Clock.exe\r\n", {"Clock.exe"});
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnwritableLogTest,
    ::testing::Values(UnwritableCase{"log", "setuplog.txt",
                                     "The installation log C:\\Program Files\\Clock\\setuplog.txt could not "
                                     "be created.\nNothing has been installed."},
                      UnwritableCase{"record", "uninstal.dat",
                                     "The uninstall record C:\\Program Files\\Clock\\uninstal.dat could not "
                                     "be created.\nNothing has been installed."}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(InstallTest, ALogThatCannotBeWrittenLaterIsAnError) {
  files_ = std::make_unique<FailingFiles>(root_.path(), "setuplog.txt", 2);
  links_ = std::make_unique<HostShellLinkFactory>(*files_);
  Script("+Clock.exe\r\n+Uninstal.exe\r\n", {"Clock.exe", "Uninstal.exe"});
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  EXPECT_EQ(sink_.Texts(),
            (Lines{"The installation log C:\\Program Files\\Clock\\setuplog.txt could not be written.",
                   "Installation errors were detected."}));
  // What was written is complete up to the failure.
  EXPECT_EQ(Log(),
            (Lines{"Setup log for: Clock", "Copied Clock.exe to C:\\Program Files\\Clock\\Clock.exe"}));
}

TEST_F(InstallTest, AnExistingStartMenuFolderIsReused) {
  Script("+Clock.exe\r\n", {"Clock.exe"});
  std::filesystem::create_directories(C("WINDOWS/Start Menu/Programs/QOVEN"));
  Install();
  EXPECT_EQ(Log()[2], "QOVEN program files directory already existed");
  EXPECT_TRUE(Exists(C("WINDOWS/Start Menu/Programs/QOVEN/Clock.LNK")));
}

TEST_F(InstallTest, TheDesktopFolderComesFromTheUsersShellFolders) {
  HKEY key = 0;
  ASSERT_EQ(registry_.RegOpenKeyExA(HKEY_CURRENT_USER,
                                    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                                    KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const char desk[] = "C:\\Users Desk";
  registry_.RegSetValueExA(key, "Desktop", REG_SZ, reinterpret_cast<const uint8_t*>(desk), sizeof desk);
  registry_.RegCloseKey(key);
  std::filesystem::create_directories(C("Users Desk"));
  Script("+Clock.exe\r\n", {"Clock.exe"});
  Install();
  EXPECT_TRUE(Exists(C("Users Desk/Clock.LNK")));
  EXPECT_EQ(Record().back(), "C:\\Users Desk\\Clock.LNK");
}

// A shell link whose description cannot be set.
class StubbornLink : public ShellLink {
 public:
  explicit StubbornLink(int* saves) : saves_(saves) {}
  HRESULT SetPath(const std::string&) override { return S_OK; }
  HRESULT SetDescription(const std::string&) override { return E_FAIL; }
  HRESULT SetWorkingDirectory(const std::string&) override { return S_OK; }
  HRESULT Save(const std::u16string&, bool) override {
    ++*saves_;
    return S_OK;
  }

 private:
  int* saves_;
};

class StubbornFactory : public ShellLinkFactory {
 public:
  HRESULT CreateShellLink(std::unique_ptr<ShellLink>* link) override {
    *link = std::make_unique<StubbornLink>(&saves);
    return S_OK;
  }
  int saves = 0;
};

TEST_F(InstallTest, AShortcutPropertyThatCannotBeSetIsToldAndTheShortcutStillSaved) {
  auto factory = std::make_unique<StubbornFactory>();
  StubbornFactory* stubborn = factory.get();
  links_ = std::move(factory);
  Script("+Clock.exe\r\n", {"Clock.exe"});
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  EXPECT_EQ(sink_.Texts(), (Lines{"SetDescription failed!", "SetDescription failed!",
                                  "You can now run the new application."}));
  EXPECT_EQ(sink_.messages[0].icon, MessageIcon::kNone);
  EXPECT_EQ(stubborn->saves, 2);
}

// Host files that count what reaches the log and the record.
class CountingFiles : public HostFiles {
 public:
  using HostFiles::HostFiles;
  LONG WriteFile(const std::string& path, std::string_view bytes) override {
    if (path.ends_with("setuplog.txt")) log_bytes += bytes.size();
    if (path.ends_with("uninstal.dat")) ++record_writes;
    return HostFiles::WriteFile(path, bytes);
  }
  LONG AppendFile(const std::string& path, std::string_view bytes, bool sync) override {
    if (path.ends_with("setuplog.txt")) {
      log_bytes += bytes.size();
      log_syncs += sync;
    }
    return HostFiles::AppendFile(path, bytes, sync);
  }
  size_t log_bytes = 0;
  int log_syncs = 0, record_writes = 0;
};

TEST_F(InstallTest, ManyFilesWriteTheLogOnceAndSyncItPerStep) {
  auto counting = std::make_unique<CountingFiles>(root_.path());
  CountingFiles* count = counting.get();
  files_ = std::move(counting);
  links_ = std::make_unique<HostShellLinkFactory>(*files_);
  std::string body;
  Lines names;
  for (int i = 0; i < 300; ++i) {
    names.push_back(std::string("f").append(std::to_string(i)).append(".dat"));
    body += "+" + names.back() + "\r\n";
  }
  Script(body, names);
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  // Each line reaches the file once (no rewriting of what is there), and the disk is asked to
  // keep it at the end of each step, not at each line.
  EXPECT_EQ(count->log_bytes, ReadText(C("Program Files/Clock/setuplog.txt")).size());
  EXPECT_LE(count->log_syncs, 10);
  EXPECT_LE(count->record_writes, 10);
  const Lines record = Record();
  ASSERT_EQ(record.size(), 5 + names.size() + 2);
  EXPECT_EQ(record[5 + 299], "C:\\Program Files\\Clock\\f299.dat");
}

TEST_F(InstallTest, ARelativeProgramFilesFolderInstallsNothingOutsideTheRoot) {
  HKEY key = 0;
  ASSERT_EQ(registry_.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                                      KEY_ALL_ACCESS, &key, nullptr),
            ERROR_SUCCESS);
  const char up[] = "..";
  registry_.RegSetValueExA(key, "ProgramFilesDir", REG_SZ, reinterpret_cast<const uint8_t*>(up), sizeof up);
  registry_.RegCloseKey(key);
  Script("+Clock.exe\r\n", {"Clock.exe"});
  ASSERT_EQ(members_.DestinationDir, "..\\Clock");
  // The name is on the installer's medium, which is never written.
  EXPECT_EQ(Install(), InstallOutcome::kDestinationNotCreated);
  EXPECT_FALSE(Exists(work_ / "Clock"));
  EXPECT_FALSE(Exists(work_ / "cwd/Clock"));
}

TEST_F(InstallTest, AProgramNameWithFoldersMakesNoShortcutElsewhere) {
  WriteText(work_ / "cwd/setup.dat", "..\\..\\..\\Evil\r\n1.0\r\nClock\r\n+Clock.exe\r\n");
  WriteText(work_ / "cwd/Clock.exe", "new");
  files_->UseInstallationMedium(work_ / "cwd");
  installer_ = std::make_unique<SetupInstaller>(members_, *files_, registry_, *links_, sink_);
  ASSERT_TRUE(installer_->ReadScript());
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);
  const std::string refusal =
      "The program name ..\\..\\..\\Evil cannot name a shortcut file: it must not hold \\, / or :. "
      "No shortcut was made.";
  EXPECT_EQ(sink_.Texts(), (Lines{refusal, "Installation errors were detected."}));
  for (const auto& e : std::filesystem::recursive_directory_iterator(root_ / "drive_c")) {
    EXPECT_NE(e.path().extension(), ".LNK") << e.path();
  }
  EXPECT_EQ(Record().size(), 6u) << "no shortcut lines";
}

TEST_F(InstallTest, ManyMissingFilesAreListedInOneBoundedBoxPerKind) {
  std::string body;
  for (int i = 0; i < 25; ++i) body += "+P" + std::to_string(i) + ".exe\r\n";
  body += "+" + std::string(5000, 'L') + "\r\n";
  for (int i = 0; i < 12; ++i) body += "*S" + std::to_string(i) + ".dll\r\n";
  Script(body, {});
  Install();
  const Lines texts = sink_.Texts(), log = Log();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[0].substr(0, texts[0].find("\nP2.exe")),
            "These program files could not be found:\nP0.exe\nP1.exe");
  EXPECT_EQ(texts[0].substr(texts[0].rfind('\n')), "\n... and 16 more.");
  EXPECT_EQ(texts[1].substr(0, texts[1].find('\n')), "These system files could not be found:");
  EXPECT_EQ(texts[1].substr(texts[1].rfind('\n')), "\n... and 2 more.");
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "One of the program files could not be found"), 0);
  // Every file still has its line in the log.
  EXPECT_EQ(std::count(log.begin(), log.end(), "One of the program files could not be found"), 26);
  EXPECT_EQ(std::count(log.begin(), log.end(), "System file S11.dll could not be found"), 1);
  EXPECT_EQ(log.back(), "Installation errors were detected.");
  // A name of any length leaves the box a readable size.
  const std::string long_first = "+" + std::string(5000, 'L') + "\r\n";
  Script(long_first + "+P0.exe\r\n", {});
  sink_.messages.clear();
  std::filesystem::remove_all(C("Program Files/Clock"));
  Install();
  ASSERT_FALSE(sink_.messages.empty());
  EXPECT_LT(sink_.messages[0].text.size(), 400u) << sink_.messages[0].text;
}

TEST_F(InstallTest, NoShortcutLeadsToARefusedMainProgram) {
  Script("+..\\Clock.exe\r\n+Uninstal.exe\r\n", {"Uninstal.exe"});
  WriteText(C("Program Files/Clock.exe"), "not installed by this script");
  Install();
  for (const auto& e : std::filesystem::recursive_directory_iterator(root_ / "drive_c")) {
    EXPECT_NE(e.path().extension(), ".LNK") << e.path();
  }
  const Lines log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "No shortcut was made: the main program file name ..\\Clock.exe is not allowed."),
            1);
  EXPECT_EQ(Record().back(), "C:\\Program Files\\Clock\\Uninstal.exe") << "no shortcut lines";
  EXPECT_EQ(log.back(), "Installation errors were detected.");
}

struct RegistryFailureCase {
  const char* label;
  void (*spoil)(const std::string& registry_folder);
  size_t program_name_parts;  // "\"-separated parts of the program name
};

class RegistryFailureTest : public InstallTest, public ::testing::WithParamInterface<RegistryFailureCase> {};

TEST_P(RegistryFailureTest, IsAnInstallationError) {
  const RegistryFailureCase& c = GetParam();
  std::string name = "Clock";
  for (size_t i = 1; i < c.program_name_parts; ++i) name += "\\p";
  WriteText(work_ / "cwd/setup.dat", name + "\r\n1.0\r\nClock\r\n+Clock.exe\r\n");
  WriteText(work_ / "cwd/Clock.exe", "new");
  files_->UseInstallationMedium(work_ / "cwd");
  installer_ = std::make_unique<SetupInstaller>(members_, *files_, registry_, *links_, sink_);
  ASSERT_TRUE(installer_->ReadScript());
  if (c.spoil != nullptr) c.spoil(root_ / "registry");
  EXPECT_EQ(Install(), InstallOutcome::kEndProgram);

  const Lines texts = sink_.Texts(), log = Log();
  const std::string failure = "The registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\";
  EXPECT_GE(std::count_if(texts.begin(), texts.end(),
                          [&](const std::string& t) {
                            return t.rfind(failure, 0) == 0 &&
                                   t.find("could not be written (error ") != t.npos;
                          }),
            1)
      << ::testing::PrintToString(texts);
  EXPECT_EQ(texts.back(), "Installation errors were detected.");
  EXPECT_EQ(std::count(log.begin(), log.end(), "Installation completed OK"), 0);
  EXPECT_EQ(log.back(), "Installation errors were detected.");
  if (c.spoil == nullptr) {
    // What the installer left is a hive every later start reads (quickly: no key too deep).
    HiveRegistry::Hive hive;
    EXPECT_TRUE(HiveRegistry::Parse("HKEY_LOCAL_MACHINE", Hklm(), &hive));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hives, RegistryFailureTest,
    ::testing::Values(RegistryFailureCase{"hive_is_a_folder",
                                          [](const std::string& dir) {
                                            std::filesystem::remove(dir + "/HKEY_LOCAL_MACHINE.reg");
                                            std::filesystem::create_directory(dir +
                                                                              "/HKEY_LOCAL_MACHINE.reg");
                                          },
                                          1},
                      RegistryFailureCase{"hive_is_a_fifo",
                                          [](const std::string& dir) {
                                            std::filesystem::remove(dir + "/HKEY_LOCAL_MACHINE.reg");
                                            ::mkfifo((dir + "/HKEY_LOCAL_MACHINE.reg").c_str(), 0644);
                                          },
                                          1},
                      RegistryFailureCase{"hive_links_to_a_device",
                                          [](const std::string& dir) {
                                            std::filesystem::remove(dir + "/HKEY_LOCAL_MACHINE.reg");
                                            std::filesystem::create_symlink("/dev/zero",
                                                                            dir + "/HKEY_LOCAL_MACHINE.reg");
                                          },
                                          1},
                      RegistryFailureCase{"registry_is_a_file",
                                          [](const std::string& dir) {
                                            std::filesystem::remove_all(dir);
                                            WriteText(dir, "not a folder");
                                          },
                                          1},
                      RegistryFailureCase{"key_too_deep", nullptr, 800}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(InstallerStart, WithoutAScriptNothingIsCreated) {
  TempRoot root, medium;
  HiveRegistry registry(root / "registry");
  HostFiles files(root.path());
  StartInstallerHost(files, registry, medium.path());
  EXPECT_TRUE(std::filesystem::is_empty(root.path()));
  WriteText(medium / "SETUP.DAT", "Clock\r\n1.0\r\nClock\r\n");
  StartInstallerHost(files, registry, medium.path());
  EXPECT_TRUE(std::filesystem::is_directory(root / "drive_c/Program Files"));
  std::string text;
  EXPECT_EQ(files.ReadFile("setup.dat", &text), ERROR_SUCCESS) << "read from the medium";
}

}  // namespace
