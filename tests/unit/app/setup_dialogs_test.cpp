// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "app/setup_dialogs.h"

namespace {

struct OffsetCase {
  const char* text;
  FieldCheck check;
  double hours;
};

class OffsetEdit : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(OffsetEdit, AcceptsNumbersWithinThirteenHours) {
  const OffsetCase& c = GetParam();
  const OffsetField f = CheckOffsetEdit(c.text);
  EXPECT_EQ(f.check, c.check) << '"' << c.text << '"';
  if (c.check == FieldCheck::Accepted) {
    EXPECT_EQ(f.hours, c.hours);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, OffsetEdit,
    ::testing::Values(OffsetCase{"13", FieldCheck::Accepted, 13.0},
                      OffsetCase{"13.5", FieldCheck::OutOfRange, 0},
                      OffsetCase{"-13", FieldCheck::Accepted, -13.0},
                      OffsetCase{"-13.01", FieldCheck::OutOfRange, 0},
                      OffsetCase{"-3.5", FieldCheck::Accepted, -3.5},
                      OffsetCase{" 1 ", FieldCheck::Accepted, 1.0},
                      OffsetCase{"+2", FieldCheck::Accepted, 2.0},
                      OffsetCase{"0", FieldCheck::Accepted, 0.0},
                      OffsetCase{"", FieldCheck::NotANumber, 0},
                      OffsetCase{"abc", FieldCheck::NotANumber, 0},
                      OffsetCase{"1x", FieldCheck::NotANumber, 0},
                      OffsetCase{"1,5", FieldCheck::NotANumber, 0},
                      OffsetCase{"nan", FieldCheck::NotANumber, 0},
                      OffsetCase{"inf", FieldCheck::NotANumber, 0},
                      OffsetCase{"1e400", FieldCheck::NotANumber, 0}));

struct CalibrationCase {
  const char* text;
  FieldCheck check;
  int value;
};

class CalibrationEdit : public ::testing::TestWithParam<CalibrationCase> {};

TEST_P(CalibrationEdit, AcceptsWholeNumbersFrom3700To3800) {
  const CalibrationCase& c = GetParam();
  const CalibrationField f = CheckCalibrationEdit(c.text);
  EXPECT_EQ(f.check, c.check) << '"' << c.text << '"';
  if (c.check == FieldCheck::Accepted) {
    EXPECT_EQ(f.blocks_per_minute, c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, CalibrationEdit,
    ::testing::Values(CalibrationCase{"3700", FieldCheck::Accepted, 3700},
                      CalibrationCase{"3800", FieldCheck::Accepted, 3800},
                      CalibrationCase{"3699", FieldCheck::OutOfRange, 0},
                      CalibrationCase{"3801", FieldCheck::OutOfRange, 0},
                      CalibrationCase{" 3756\t", FieldCheck::Accepted, 3756},
                      CalibrationCase{"-3756", FieldCheck::OutOfRange, 0},
                      CalibrationCase{"99999999999999999999999", FieldCheck::OutOfRange, 0},
                      CalibrationCase{"3756.5", FieldCheck::NotANumber, 0},
                      CalibrationCase{"", FieldCheck::NotANumber, 0},
                      CalibrationCase{"37OO", FieldCheck::NotANumber, 0}));

TEST(SetupDialogs, RefusalMessagesNameTheRange) {
  EXPECT_STREQ(OffsetRefusal(FieldCheck::OutOfRange), "Enter a number between -13 and 13.");
  EXPECT_STREQ(OffsetRefusal(FieldCheck::NotANumber), "Enter a number.");
  EXPECT_STREQ(CalibrationRefusal(FieldCheck::OutOfRange), "Enter an integer between 3700 and 3800.");
  EXPECT_STREQ(CalibrationRefusal(FieldCheck::NotANumber), "Enter an integer.");
  EXPECT_STREQ(OffsetRefusal(FieldCheck::Accepted), "");
}

TEST(SetupDialogs, OffsetEditShowsTheShortestForm) {
  EXPECT_EQ(FormatOffsetEdit(1.0), "1");
  EXPECT_EQ(FormatOffsetEdit(-3.5), "-3.5");
  EXPECT_EQ(FormatOffsetEdit(0.0), "0");
  EXPECT_EQ(FormatOffsetEdit(5.75), "5.75");
  // What the edit shows is read back as the same value.
  for (double h : {0.1, -12.9, 1.0 / 3.0}) {
    const OffsetField f = CheckOffsetEdit(FormatOffsetEdit(h));
    EXPECT_EQ(f.check, FieldCheck::Accepted);
    EXPECT_NEAR(f.hours, h, 1e-14);
  }
  EXPECT_EQ(FormatCalibrationEdit(3756), "3756");
}

TEST(SetupDialogs, MixerIsFoundOnlyWhenInstalledAndExecutable) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("varnol-mixer-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "a");
  std::filesystem::create_directories(dir / "b");
  const std::string a = (dir / "a").string();
  const std::string b = (dir / "b").string();
  EXPECT_EQ(FindMixerProgram(a + ":" + b), "");
  EXPECT_EQ(FindMixerProgram(""), "");
  std::FILE* f = std::fopen((dir / "b" / "pavucontrol").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(FindMixerProgram(a + ":" + b), "");  // not executable
  ::chmod((dir / "b" / "pavucontrol").c_str(), 0755);
  EXPECT_EQ(FindMixerProgram(a + "::" + b), b + "/pavucontrol");
  std::filesystem::remove_all(dir);
}

// The desktops' level controls are tried in their order, and only installed ones; with none,
// the advice names every one tried and the Linux commands instead of the Windows control.
TEST(SetupDialogs, MixerCandidatesInOrderAndAdviceWithoutThem) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("varnol-mixers-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(FindMixerCommands(dir.string()).empty());
  for (const char* name : {"kcmshell6", "gnome-control-center", "pavucontrol"}) {
    const std::string file = (dir / name).string();
    std::fclose(std::fopen(file.c_str(), "w"));
    ::chmod(file.c_str(), 0755);
  }
  const std::vector<MixerCommand> found = FindMixerCommands(dir.string());
  ASSERT_EQ(found.size(), 3u);
  EXPECT_STREQ(found[0].name, "pavucontrol");
  EXPECT_EQ(found[0].program, (dir / "pavucontrol").string());
  EXPECT_STREQ(found[1].name, "gnome-control-center");
  EXPECT_STREQ(found[2].name, "kcmshell6");
  std::filesystem::remove_all(dir);

  const std::string advice = NoMixerAdvice();
  for (const MixerCommand& c : MixerCandidates()) EXPECT_NE(advice.find(c.name), std::string::npos) << c.name;
  EXPECT_NE(advice.find("alsamixer -V capture"), std::string::npos);
  EXPECT_NE(advice.find("pactl set-source-volume"), std::string::npos);
  EXPECT_EQ(advice.find("Recording Control"), std::string::npos);
}

}  // namespace
