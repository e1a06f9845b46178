// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/setup_script.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/hive_registry.h"
#include "setup/setup_installer.h"
#include "unit/platform/temp_root.h"

namespace {

using Names = std::vector<std::string>;

struct ScriptCase {
  const char* label;
  std::string text;
  std::string program, version, destination;
  Names program_files, system_files;
};

class ScriptTest : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptTest, ReadsTheLinesAsWritten) {
  const ScriptCase& c = GetParam();
  ScriptResult r = ParseSetupScript(c.text);
  ASSERT_EQ(r.outcome, ScriptOutcome::kRead);
  EXPECT_EQ(r.script.ProgramName, c.program);
  EXPECT_EQ(r.script.VersionText, c.version);
  EXPECT_EQ(r.script.DestinationName, c.destination);
  EXPECT_EQ(r.script.ProgramFiles, c.program_files);
  EXPECT_EQ(r.script.SystemFiles, c.system_files);
}

std::string Many(char kind, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += std::string(1, kind) + "F" + std::to_string(i) + ".DLL\n";
  return out;
}
Names ManyNames(int n) {
  Names out;
  for (int i = 0; i < n; ++i) out.push_back("F" + std::to_string(i) + ".DLL");
  return out;
}
const std::string kLong(200, 'x');

INSTANTIATE_TEST_SUITE_P(
    Scripts, ScriptTest,
    ::testing::Values(
        ScriptCase{"crlf",
                   "Clock\r\n1.0\r\nClock\r\n+Clock.exe\r\n*A.DLL\r\n",
                   "Clock",
                   "1.0",
                   "Clock",
                   {"Clock.exe"},
                   {"A.DLL"}},
        ScriptCase{"lf",
                   "Clock\n1.0\nClock\n+Clock.exe\n*A.DLL\n",
                   "Clock",
                   "1.0",
                   "Clock",
                   {"Clock.exe"},
                   {"A.DLL"}},
        ScriptCase{"last_line_without_break",
                   "Clock\n1.0\nClock\n+Clock.exe",
                   "Clock",
                   "1.0",
                   "Clock",
                   {"Clock.exe"},
                   {}},
        ScriptCase{"three_lines_only", "Clock\n1.0\nClock", "Clock", "1.0", "Clock", {}, {}},
        ScriptCase{"plus_alone", "Clock\n1.0\nClock\n+\n", "Clock", "1.0", "Clock", {""}, {}},
        ScriptCase{"comments_blank_and_leading_space",
                   "Clock\n1.0\nClock\n; note\n\n +Not.exe\n *Not.dll\n+Yes.exe\n",
                   "Clock",
                   "1.0",
                   "Clock",
                   {"Yes.exe"},
                   {}},
        ScriptCase{"header_lines_whatever_they_start_with",
                   "+Clock\n*1.0\n Clock \n",
                   "+Clock",
                   "*1.0",
                   " Clock ",
                   {},
                   {}},
        ScriptCase{"spaces_kept",
                   "Clock\n1.0\nClock\n+My Clock.exe  \n",
                   "Clock",
                   "1.0",
                   "Clock",
                   {"My Clock.exe  "},
                   {}},
        ScriptCase{"more_than_ten_of_each", "Clock\n1.0\nClock\n" + Many('+', 12) + Many('*', 11), "Clock",
                   "1.0", "Clock", ManyNames(12), ManyNames(11)},
        ScriptCase{"long_lines_whole",
                   kLong + "\n1.0\n" + kLong + "\n+" + kLong + "\n",
                   kLong,
                   "1.0",
                   kLong,
                   {kLong},
                   {}},
        ScriptCase{"ctrl_z_ends_the_text",
                   "Clock\n1.0\nClock\n+A.exe\n\x1A+B.exe\n",
                   "Clock",
                   "1.0",
                   "Clock",
                   {"A.exe"},
                   {}},
        ScriptCase{
            "lone_cr_stays", "Clock\n1.0\nClock\n+A\rB.exe\n", "Clock", "1.0", "Clock", {"A\rB.exe"}, {}},
        // An editor's UTF-8 byte-order mark is no part of the program name; later ones are text.
        ScriptCase{"byte_order_mark",
                   "\xEF\xBB\xBF"
                   "Clock\r\n1.0\r\nClock\r\n+\xEF\xBB\xBF"
                   "A.exe\r\n",
                   "Clock",
                   "1.0",
                   "Clock",
                   {"\xEF\xBB\xBF"
                    "A.exe"},
                   {}}),
    [](const auto& p) { return std::string(p.param.label); });

struct ShortCase {
  const char* label;
  const char* text;
  const char* missing;
};

class ShortScriptTest : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortScriptTest, SaysWhichLineIsMissing) {
  ScriptResult r = ParseSetupScript(GetParam().text);
  EXPECT_EQ(r.outcome, ScriptOutcome::kIncomplete);
  EXPECT_EQ(r.message, std::string("The essential file SETUP.DAT is incomplete: ") + GetParam().missing +
                           ", is missing.\nThe first three lines must give the program name, its "
                           "version and the destination folder name.");
}

INSTANTIATE_TEST_SUITE_P(Scripts, ShortScriptTest,
                         ::testing::Values(ShortCase{"empty", "", "line 1, the program name"},
                                           ShortCase{"one_line", "Clock\r\n", "line 2, the version"},
                                           ShortCase{"two_lines", "Clock\r\n1.0",
                                                     "line 3, the destination folder name"}),
                         [](const auto& p) { return std::string(p.param.label); });

// The script as the dialog reads it at start, from the current directory.
class ReadScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(work_.path());
    files_.UseInstallationMedium(work_.path());
  }
  void TearDown() override { std::filesystem::current_path(old_dir_); }
  void SetProgramFilesDir(DWORD type, const std::string& value) {
    HKEY key = 0;
    ASSERT_EQ(registry_.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                                        KEY_ALL_ACCESS, &key, nullptr),
              ERROR_SUCCESS);
    registry_.RegSetValueExA(key, "ProgramFilesDir", type, reinterpret_cast<const uint8_t*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1));
    registry_.RegCloseKey(key);
  }

  std::filesystem::path old_dir_;
  TempRoot root_, work_;
  HiveRegistry registry_{root_ / "registry"};
  HostFiles files_{root_.path()};
  HostShellLinkFactory links_{files_};
  RecordingMessageSink sink_;
  SetupDialogMembers members_;
  SetupInstaller installer_{members_, files_, registry_, links_, sink_};
};

TEST_F(ReadScriptTest, AMissingScriptIsReportedAndNothingIsRead) {
  EXPECT_FALSE(installer_.ReadScript());
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_EQ(sink_.messages[0].text, "The essential file SETUP.DAT is missing.");
  EXPECT_EQ(sink_.messages[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(members_.IntroLine2, "");
}

TEST_F(ReadScriptTest, AnIncompleteScriptIsReported) {
  WriteText(work_ / "setup.dat", "Clock\r\n1.0\r\n");
  EXPECT_FALSE(installer_.ReadScript());
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_NE(sink_.messages[0].text.find("line 3, the destination folder name"), std::string::npos);
}

TEST_F(ReadScriptTest, FillsTheDialogAndLeavesTheStepLabelsBlank) {
  WriteText(work_ / "SETUP.DAT", "Clock\r\n1.0\r\nClock\r\n+Clock.exe\r\n*A.DLL\r\n*B.DLL\r\n");
  ASSERT_TRUE(installer_.ReadScript());
  EXPECT_TRUE(sink_.messages.empty());
  EXPECT_EQ(members_.IntroLine1, "Setup is preparing to install your copy of");
  EXPECT_EQ(members_.IntroLine2, "Clock Version 1.0");
  EXPECT_EQ(members_.IntroLine3, "to the directory shown below");
  EXPECT_EQ(members_.DestinationDir, "C:\\Program Files\\Clock");
  EXPECT_EQ(members_.ProgramFileCount, 1);
  EXPECT_EQ(members_.SystemFileCount, 2);
  EXPECT_EQ(members_.ProgressPos, 0);
  for (const std::string* label : {&members_.StepConfigLabel, &members_.StepCopyLabel,
                                   &members_.StepRegistryLabel, &members_.StepDiskLabel}) {
    EXPECT_EQ(*label, "");
  }
}

struct FolderCase {
  const char* label;
  DWORD type;  // REG_NONE: no value at all
  std::string value;
  std::string destination;
};

class ProgramFilesTest : public ReadScriptTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(ProgramFilesTest, ProposesTheDestinationUnderIt) {
  if (GetParam().type != REG_NONE) SetProgramFilesDir(GetParam().type, GetParam().value);
  WriteText(work_ / "setup.dat", "Clock\n1.0\nClock\n");
  ASSERT_TRUE(installer_.ReadScript());
  EXPECT_EQ(members_.DestinationDir, GetParam().destination);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ProgramFilesTest,
    ::testing::Values(FolderCase{"from_registry", REG_SZ, "D:\\Apps", "D:\\Apps\\Clock"},
                      FolderCase{"absent", REG_NONE, "", "C:\\Program Files\\Clock"},
                      FolderCase{"not_a_string", REG_BINARY, "D:\\Apps", "C:\\Program Files\\Clock"},
                      FolderCase{"longer_than_eighty", REG_SZ, "D:\\" + std::string(120, 'p'),
                                 "D:\\" + std::string(120, 'p') + "\\Clock"}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
