// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_ids.h"
#include "unit/app/fakes.h"

namespace {

class DocTest : public ::testing::Test {
 protected:
  FakeWaveInput wave;
  FakeClock clock;
  RecordingErrors errors;
  CVarnolDoc doc{wave, clock, errors};

  RecordingCmdUI Update(int id) {
    RecordingCmdUI ui;
    EXPECT_TRUE(doc.OnUpdateCmdUI(id, ui)) << id;
    return ui;
  }
};

// --- Station commands ------------------------------------------------------------------------

struct StationCase {
  int command;
  int mode;
  const char* pane;
};

class StationCommand : public DocTest, public ::testing::WithParamInterface<StationCase> {};

TEST_P(StationCommand, SetsModeTextCheckMarkAndPane) {
  const StationCase& c = GetParam();
  doc.SetStatusText("mark 3756");
  ASSERT_TRUE(doc.OnCmdMsg(c.command, nullptr));
  EXPECT_EQ(doc.StationMode, c.mode);
  EXPECT_STREQ(doc.StatusText, "decoding...");
  for (int other : cmd::StationCommands) {
    const RecordingCmdUI ui = Update(other);
    EXPECT_EQ(ui.check, other == c.command ? 1 : 0) << other;
    EXPECT_FALSE(ui.text_set);
  }
  EXPECT_EQ(Update(cmd::ID_INDICATOR_STATION).text, c.pane);
  // Choosing it again still resets the status text.
  doc.SetStatusText("Reset 12:00 UT");
  doc.OnCmdMsg(c.command, nullptr);
  EXPECT_STREQ(doc.StatusText, "decoding...");
  EXPECT_EQ(doc.StationMode, c.mode);
}

INSTANTIATE_TEST_SUITE_P(Transmitter, StationCommand,
                         ::testing::Values(StationCase{32810, 0, "MSF"}, StationCase{32816, 1, "HBG"},
                                           StationCase{32811, 2, "DCF77"}, StationCase{32819, 3, "WWVB"},
                                           StationCase{32817, 4, "VNG"}, StationCase{32818, 5, "RWM"},
                                           StationCase{32821, 6, "WWV"}, StationCase{32823, 7, "JJY"},
                                           StationCase{32824, 8, "CHU"}));

TEST_F(DocTest, StationChangeWhileStoppedDecodesNothingAndKeepsCaptureState) {
  doc.OnCmdMsg(32811, nullptr);
  EXPECT_EQ(doc.Stopped, 1);
  EXPECT_EQ(wave.opens, 0);
  EXPECT_EQ(Update(cmd::ID_INDICATOR_RESET).text, "ready to start");
}

// --- Automatic setting -------------------------------------------------------------------------

TEST_F(DocTest, AutoSetReadsEnableUncheckedThenEnabledChecked) {
  RecordingCmdUI ui = Update(cmd::ID_AUTO_SET_CLOCK);
  EXPECT_EQ(ui.text, "Enable");
  EXPECT_EQ(ui.check, 0);
  doc.OnCmdMsg(cmd::ID_AUTO_SET_CLOCK, nullptr);
  EXPECT_EQ(doc.AutoSetClock, 1);
  ui = Update(cmd::ID_AUTO_SET_CLOCK);
  EXPECT_EQ(ui.text, "Enabled");
  EXPECT_EQ(ui.check, 1);
  doc.OnCmdMsg(cmd::ID_AUTO_SET_CLOCK, nullptr);
  EXPECT_EQ(doc.AutoSetClock, 0);
  EXPECT_EQ(Update(cmd::ID_AUTO_SET_CLOCK).text, "Enable");
}

TEST_F(DocTest, AutoSetTurnsAnyOtherValueOn) {
  doc.AutoSetClock = 7;
  EXPECT_EQ(Update(cmd::ID_AUTO_SET_CLOCK).text, "Enable");
  doc.OnAutoSetClock();
  EXPECT_EQ(doc.AutoSetClock, 1);
}

// --- Start and stop --------------------------------------------------------------------------

struct CheckStates {
  int start_menu, start_tool, stop_menu, stop_tool;
};

CheckStates Checks(DocTest& t, CVarnolDoc& doc) {
  auto check = [&](int id) {
    RecordingCmdUI ui;
    doc.OnUpdateCmdUI(id, ui);
    return ui.check;
  };
  (void)t;
  return {check(cmd::ID_START_MENU), check(cmd::ID_START_TOOL), check(cmd::ID_STOP_MENU),
          check(cmd::ID_STOP_TOOL)};
}

class StartStop : public DocTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

// Each start command (menu, button) with each stop command (menu, button).
TEST_P(StartStop, ChecksFollowTheCaptureState) {
  const auto [start, stop] = GetParam();
  CheckStates c = Checks(*this, doc);
  EXPECT_EQ(c.start_menu, 0);
  EXPECT_EQ(c.start_tool, 0);
  EXPECT_EQ(c.stop_menu, 1);
  EXPECT_EQ(c.stop_tool, 1);

  ASSERT_TRUE(doc.OnCmdMsg(start, nullptr));
  EXPECT_EQ(doc.Stopped, 0);
  EXPECT_STREQ(doc.StatusText, "decoding... ");
  c = Checks(*this, doc);
  EXPECT_EQ(c.start_menu, 1);
  EXPECT_EQ(c.start_tool, 1);
  EXPECT_EQ(c.stop_menu, 0);
  EXPECT_EQ(c.stop_tool, 0);
  EXPECT_EQ(Update(cmd::ID_INDICATOR_RESET).text, "decoding... ");

  doc.OnCmdMsg(start, nullptr);  // a second start opens nothing
  EXPECT_EQ(wave.opens, 1);

  ASSERT_TRUE(doc.OnCmdMsg(stop, nullptr));
  EXPECT_EQ(doc.Stopped, 1);
  c = Checks(*this, doc);
  EXPECT_EQ(c.start_menu, 0);
  EXPECT_EQ(c.stop_tool, 1);
  EXPECT_EQ(Update(cmd::ID_INDICATOR_RESET).text, "ready to start");
  std::remove("recording.wav");
}

INSTANTIATE_TEST_SUITE_P(Commands, StartStop,
                         ::testing::Values(std::pair{32787, 32779}, std::pair{32787, 32792},
                                           std::pair{32785, 32779}, std::pair{32785, 32792}));

TEST_F(DocTest, FailedOpenShowsTheWaveErrorAndStaysStopped) {
  wave.open_result = MMSYSERR_ALLOCATED;
  doc.OnCmdMsg(cmd::ID_START_MENU, nullptr);
  ASSERT_EQ(errors.shown.size(), 1u);
  EXPECT_EQ(errors.shown[0].first, "On opening the wave device..");
  EXPECT_EQ(errors.shown[0].second, "Another program is using the sound device");
  EXPECT_EQ(doc.Stopped, 1);
  EXPECT_STREQ(doc.StatusText, "decoding... ");
  EXPECT_EQ(Update(cmd::ID_INDICATOR_RESET).text, "ready to start");
  EXPECT_EQ(Checks(*this, doc).start_menu, 0);
}

// --- Status panes ------------------------------------------------------------------------------

struct TimeCase {
  const char* name;
  int64_t now;          // seconds since 1970, UTC (the fake clock's local time)
  int64_t sync_offset;  // seconds
  double offset;        // hours
  const char* pc;
  const char* syn;
};

class TimePanes : public DocTest, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(TimePanes, ShowLocalTimeOffsetAndLabel) {
  const TimeCase& c = GetParam();
  clock.now = c.now;
  doc.SyncOffset = c.sync_offset;
  doc.PcClockOffset = c.offset;
  doc.BuildUtOffsetLabel();
  EXPECT_EQ(Update(cmd::ID_INDICATOR_PC).text, c.pc);
  EXPECT_EQ(Update(cmd::ID_INDICATOR_SYN).text, c.syn);
}

// 2026-12-07 13:05:09 UTC = 1796648709
INSTANTIATE_TEST_SUITE_P(
    Panes, TimePanes,
    ::testing::Values(
        TimeCase{"same", 1796648709, 0, 0.0, "PC 13:05:09+00.0", "Syn 13:05:09+00.0"},
        TimeCase{"hourAhead", 1796648709, 3600, 0.0, "PC 13:05:09+00.0", "Syn 14:05:09+00.0"},
        TimeCase{"acrossMidnight", 1796685300, 3600, 1.0, "PC 23:15:00+01.0", "Syn 00:15:00+01.0"},
        TimeCase{"tenBehind", 1796648709, -10, -3.5, "PC 13:05:09-03.5", "Syn 13:04:59-03.5"},
        TimeCase{"beforeMidnightBack", 1796601600, -1, 0.0, "PC 00:00:00+00.0", "Syn 23:59:59+00.0"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(DocTest, ResetPaneShowsStatusTextOnlyWhileCapturing) {
  doc.SetStatusText("Reset 13:05 UT");
  EXPECT_EQ(Update(cmd::ID_INDICATOR_RESET).text, "ready to start");
  doc.OnCmdMsg(cmd::ID_START_MENU, nullptr);
  doc.SetStatusText("Reset 13:05 UT");
  EXPECT_EQ(Update(cmd::ID_INDICATOR_RESET).text, "Reset 13:05 UT");
  doc.SetStatusText("");
  const RecordingCmdUI blank = Update(cmd::ID_INDICATOR_RESET);
  EXPECT_TRUE(blank.text_set);
  EXPECT_EQ(blank.text, "");
  doc.OnCmdMsg(cmd::ID_STOP_MENU, nullptr);
  EXPECT_EQ(Update(cmd::ID_INDICATOR_RESET).text, "ready to start");
  std::remove("recording.wav");
}

TEST_F(DocTest, CommandsWithoutADocumentHandlerAreNotTaken) {
  RecordingCmdUI ui;
  EXPECT_FALSE(doc.OnCmdMsg(cmd::ID_APP_ABOUT, nullptr));
  EXPECT_FALSE(doc.OnUpdateCmdUI(cmd::ID_CLOCK_OFFSET, ui));  // setup commands have no update handler
  EXPECT_FALSE(doc.OnUpdateCmdUI(cmd::ID_MIXER, ui));
}

// --- Setup dialogs and mixer ----------------------------------------------------------------------

class ScriptedSetup : public CVarnolDoc::SetupUi {
 public:
  bool ok = true;
  double offset_in = -99, offset_out = 0;
  int bpm_in = -1, adjust_in = -1, bpm_out = 0, adjust_out = 0;
  std::vector<std::string> calls;
  bool RunClockOffsetDialog(double& offset) override {
    calls.push_back("offset");
    offset_in = offset;
    offset = offset_out;
    return ok;
  }
  bool RunCalibrationDialog(int& bpm, int& adjust) override {
    calls.push_back("calibration");
    bpm_in = bpm;
    adjust_in = adjust;
    bpm = bpm_out;
    adjust = adjust_out;
    return ok;
  }
  void StartMixer() override { calls.push_back("mixer"); }
  void ShowInformation(const char* text) override { calls.push_back(std::string("info:") + text); }
};

class OffsetLabel : public DocTest, public ::testing::WithParamInterface<std::pair<double, const char*>> {};

TEST_P(OffsetLabel, OkStoresOffsetAndBuildsTheDialogLabel) {
  ScriptedSetup ui;
  doc.PcClockOffset = 2.0;
  ui.offset_out = GetParam().first;
  ASSERT_TRUE(doc.OnCmdMsg(cmd::ID_CLOCK_OFFSET, &ui));
  EXPECT_EQ(ui.offset_in, 2.0);
  EXPECT_EQ(doc.PcClockOffset, GetParam().first);
  EXPECT_STREQ(doc.UtOffsetLabel, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Dialog, OffsetLabel,
                         ::testing::Values(std::pair{1.0, " [UT+01.0]  "}, std::pair{-5.5, " [UT-05.5]  "},
                                           std::pair{0.0, " [UT+00.0]  "}, std::pair{10.0, " [UT+10.0]  "},
                                           std::pair{-13.0, " [UT-13.0]  "}));

TEST_F(DocTest, CancelledDialogsChangeNothing) {
  ScriptedSetup ui;
  ui.ok = false;
  ui.offset_out = 5;
  ui.bpm_out = 3700;
  ui.adjust_out = 1;
  doc.OnCmdMsg(cmd::ID_CLOCK_OFFSET, &ui);
  doc.OnCmdMsg(cmd::ID_CALIBRATION, &ui);
  EXPECT_EQ(doc.PcClockOffset, 0.0);
  EXPECT_STREQ(doc.UtOffsetLabel, "+00.0");
  EXPECT_EQ(doc.BlocksPerMinute, 3756);
  EXPECT_EQ(doc.AdjustCalibration, 0);
}

TEST_F(DocTest, CalibrationOkTakesBothValues) {
  ScriptedSetup ui;
  doc.BlocksPerMinute = 3760;
  doc.AdjustCalibration = 1;
  ui.bpm_out = 3800;
  ui.adjust_out = 0;
  doc.OnCmdMsg(cmd::ID_CALIBRATION, &ui);
  EXPECT_EQ(ui.bpm_in, 3760);
  EXPECT_EQ(ui.adjust_in, 1);
  EXPECT_EQ(doc.BlocksPerMinute, 3800);
  EXPECT_EQ(doc.AdjustCalibration, 0);
}

TEST_F(DocTest, MixerStartsWithoutWaitingThenAdvisesEachTime) {
  ScriptedSetup ui;
  doc.OnCmdMsg(cmd::ID_MIXER, &ui);
  doc.OnCmdMsg(cmd::ID_MIXER, &ui);
  ASSERT_EQ(ui.calls.size(), 4u);
  EXPECT_EQ(ui.calls[0], "mixer");
  EXPECT_EQ(ui.calls[2], "mixer");
  EXPECT_EQ(ui.calls[1],
            "info:Select the audio source, adjust the volume, make sure it is not muted.  Ensure "
            "that the overall record level slider (leftmost) is at a suitable level and that "
            "Mute-all is not checked. If the source you require does not appear, in the Recording "
            "Control window, click on Options...Properties..Recording and check the input source "
            "that you require; then click on OK.");
}

}  // namespace
