// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded-minute list, the end of a marker run and the clock step.
#include <gtest/gtest.h>

#include "fakes.h"

namespace {

class FrameTest : public DocTest {
 protected:
  void SetUp() override { doc.StationMode = StationWwvb; }  // no hour correction
  void Record(int n, int hour, int minute) {
    for (int i = 0; i < n; ++i) {
      char text[32];
      std::snprintf(text, sizeof text, "Reset %02d:%02d #%d", hour, minute + i, i);
      doc.RecordMinute(text, hour, minute + i);
    }
  }
};

class MiddleRecord : public FrameTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(MiddleRecord, ClockStepTakesTheMiddleOfTheRun) {
  const auto [count, index] = GetParam();
  doc.LastMinuteOfDay = 10 * 60 + 20 + index - 1;  // so the chosen record is consecutive
  Record(count, 10, 20);
  doc.SetPcClock();
  EXPECT_EQ(doc.MinuteRecordCount, 0);
  EXPECT_EQ(doc.LastMinuteOfDay, 10 * 60 + 20 + index);
  EXPECT_EQ(std::string(doc.StatusText), "Reset 10:" + std::to_string(20 + index) + " #" + std::to_string(index));
}

INSTANTIATE_TEST_SUITE_P(Counts, MiddleRecord,
                         ::testing::Values(std::pair{1, 0}, std::pair{2, 1}, std::pair{3, 1},
                                           std::pair{4, 2}, std::pair{5, 2}, std::pair{6, 3},
                                           std::pair{7, 3}, std::pair{9, 3}));

TEST_F(FrameTest, FirstMinuteAfterStartOnlyRecordsItselfEvenAtOneMinutePastMidnight) {
  Record(1, 0, 1);
  doc.SetPcClock();
  EXPECT_EQ(doc.LastMinuteOfDay, 1);
  EXPECT_TRUE(log.texts.empty());
  Record(1, 0, 2);
  doc.SetPcClock();
  EXPECT_STREQ(doc.StatusText, "Reset 00:02 #0");
}

TEST_F(FrameTest, MidnightNeverFollowsButTheNextMinuteDoes) {
  Record(1, 23, 59);
  doc.SetPcClock();
  Record(1, 0, 0);
  doc.SetPcClock();
  EXPECT_TRUE(log.texts.empty());
  EXPECT_EQ(doc.LastMinuteOfDay, 0);
  Record(1, 0, 1);
  doc.SetPcClock();
  EXPECT_STREQ(doc.StatusText, "Reset 00:01 #0");
}

struct OffsetCase {
  int station;
  int summer;
  int hour, minute;
  double offset;
  int expect_minute_of_day;
};

class OffsetConversion : public FrameTest, public ::testing::WithParamInterface<OffsetCase> {};

TEST_P(OffsetConversion, HourCorrectionAndOffset) {
  const OffsetCase c = GetParam();
  doc.StationMode = c.station;
  doc.SummerTimeFlag = c.summer;
  doc.PcClockOffset = c.offset;
  Record(1, c.hour, c.minute);
  doc.SetPcClock();
  EXPECT_EQ(doc.LastMinuteOfDay, c.expect_minute_of_day);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OffsetConversion,
    ::testing::Values(OffsetCase{StationWwvb, 0, 10, 0, 5.5, 15 * 60 + 30},
                      OffsetCase{StationWwvb, 0, 10, 0, -3.0, 7 * 60},
                      OffsetCase{StationWwvb, 0, 10, 0, 0.1, 10 * 60 + 6},
                      OffsetCase{StationDcf77, 1, 0, 30, 0.0, 22 * 60 + 30},  // -90 + 1440
                      OffsetCase{StationDcf77, 0, 0, 10, 0.0, 23 * 60 + 10},
                      OffsetCase{StationMsf, 1, 14, 7, 0.0, 13 * 60 + 7},
                      OffsetCase{StationHbg, 0, 14, 7, 0.0, 13 * 60 + 7},
                      OffsetCase{StationVng, 0, 14, 7, -13.0, 1 * 60 + 7}));

TEST_F(FrameTest, ConsecutiveMinuteSetsTheClockAtSecondOne) {
  doc.AutoSetClock = 1;
  clock.SetAudioSamples(0);  // 13:00:00 UTC
  Record(1, 13, 4);
  doc.SetPcClock();
  Record(1, 13, 5);
  doc.SetPcClock();
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_TRUE(log.write_ok[0]);
  EXPECT_EQ(log.writes[0].wHour, 13);
  EXPECT_EQ(log.writes[0].wMinute, 5);
  EXPECT_EQ(log.writes[0].wSecond, 1);
  EXPECT_EQ(log.writes[0].wDay, 7);
  EXPECT_EQ(doc.SyncOffset, 0);
  EXPECT_EQ(clock.Now(), kStart + 5 * 60 + 1);
  // Before the write the offset was measured: 13:05:01 minus 13:00:00.
  ASSERT_FALSE(log.offsets.empty());
  EXPECT_EQ(log.offsets.front(), 301);
}

TEST_F(FrameTest, WithoutAutoSetTheOffsetIsShownAndTheClockLeftAlone) {
  Record(1, 12, 59);
  doc.SetPcClock();
  Record(1, 13, 0);
  doc.SetPcClock();
  EXPECT_EQ(doc.SyncOffset, 1);  // 13:00:01 minus 13:00:00
  EXPECT_TRUE(log.writes.empty());
  EXPECT_EQ(clock.WriteCount(), 0);
}

TEST_F(FrameTest, RefusedClockWriteKeepsTheMeasuredOffset) {
  doc.AutoSetClock = 1;
  clock.RefuseWrites(true);
  Record(1, 13, 9);
  doc.SetPcClock();
  Record(1, 13, 10);
  doc.SetPcClock();
  ASSERT_EQ(log.write_ok.size(), 1u);
  EXPECT_FALSE(log.write_ok[0]);
  EXPECT_EQ(doc.SyncOffset, 601);
}

struct MidnightCase {
  int64_t now;       // the clock before the write, UTC
  int hour, minute;  // decoded, already UT
  const char* expect;
};

class DateCarry : public FrameTest, public ::testing::WithParamInterface<MidnightCase> {};

TEST_P(DateCarry, WriteTakesTheDateNearestTheClock) {
  const MidnightCase c = GetParam();
  SimulatedClock at(c.now);
  CVarnolDoc d(wave, at, errors);
  d.StationMode = StationWwvb;
  d.AutoSetClock = 1;
  EventLog l;
  d.AddObserver(&l);
  const int before = (c.hour * 60 + c.minute + 1439) % 1440;
  d.RecordMinute("a", before / 60, before % 60);
  d.SetPcClock();
  d.RecordMinute("b", c.hour, c.minute);
  d.SetPcClock();
  ASSERT_EQ(l.writes.size(), 1u);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", l.writes[0].wYear, l.writes[0].wMonth,
                l.writes[0].wDay, l.writes[0].wHour, l.writes[0].wMinute, l.writes[0].wSecond);
  EXPECT_STREQ(text, c.expect);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DateCarry,
    ::testing::Values(
        // clock a little before midnight, radio already past it: next day
        MidnightCase{1796687990 /* 2026-12-07 23:59:50 */, 0, 1, "2026-12-08 00:01:01"},
        // clock just past midnight, radio still before it: previous day
        MidnightCase{1796688005 /* 2026-12-08 00:00:05 */, 23, 59, "2026-12-07 23:59:01"},
        // clock slow across the year's end
        MidnightCase{1798761590 /* 2026-12-31 23:59:50 */, 0, 1, "2027-01-01 00:01:01"},
        // an ordinary write keeps the date
        MidnightCase{1796648400 /* 2026-12-07 13:00:00 */, 13, 0, "2026-12-07 13:00:01"}));

TEST_F(FrameTest, EighthMinuteIsDropped) {
  Record(9, 10, 0);
  EXPECT_EQ(doc.MinuteRecordCount, 7);
  EXPECT_EQ(doc.MinuteRecords[6].Minute, 6);
}

TEST_F(FrameTest, CountWithoutStoredRecordsNeverReadsOldEntries) {
  // A run of another station left entries; then a minute-mark run counted blocks only.
  Record(3, 9, 0);
  doc.SetPcClock();
  doc.MinuteRecordCount = 12;  // blocks counted, nothing stored
  doc.SetPcClock();
  EXPECT_EQ(doc.MinuteRecordCount, 0);
  EXPECT_EQ(doc.LastMinuteOfDay, 9 * 60 + 1);  // unchanged by the empty step
  // A decoder recording on top of a leftover count starts its list afresh.
  doc.MinuteRecordCount = 5;
  Record(1, 9, 2);
  EXPECT_EQ(doc.MinuteRecordCount, 1);
  doc.SetPcClock();
  EXPECT_STREQ(doc.StatusText, "Reset 09:02 #0");
}

struct NudgeCase {
  int blocks_since, run, adjust, bpm_before, bpm_after, interval;
};

class CalibrationNudge : public FrameTest, public ::testing::WithParamInterface<NudgeCase> {};

TEST_P(CalibrationNudge, FollowsPlausibleIntervalsOneBlockAtATime) {
  const NudgeCase c = GetParam();
  doc.BlocksSinceMarker = c.blocks_since;
  doc.MarkerRunLength = c.run;
  doc.AdjustCalibration = c.adjust;
  doc.BlocksPerMinute = c.bpm_before;
  doc.EndMarkerRun();
  EXPECT_EQ(doc.BlocksPerMinute, c.bpm_after);
  EXPECT_EQ(std::string(doc.StatusText), "mark " + std::to_string(c.interval));
  EXPECT_EQ(doc.BlocksSinceMarker, c.run / 2);
  EXPECT_EQ(doc.MarkerRunLength, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Intervals, CalibrationNudge,
    ::testing::Values(NudgeCase{3762, 4, 1, 3756, 3757, 3760}, NudgeCase{3752, 4, 1, 3756, 3755, 3750},
                      NudgeCase{3702, 4, 1, 3756, 3756, 3700}, NudgeCase{3802, 4, 1, 3756, 3756, 3800},
                      NudgeCase{3652, 4, 1, 3756, 3756, 3650}, NudgeCase{7514, 4, 1, 3756, 3756, 7512},
                      NudgeCase{3762, 4, 0, 3756, 3756, 3760},  // adjustment off
                      NudgeCase{-1, 5, 1, 3756, 3756, -3}));    // first mark after start

TEST_F(FrameTest, PerBlockFrameEndsTheRunOnItsFirstFailingBlock) {
  doc.BlocksSinceMarker = 3000;
  doc.DisplayColumn = 5;
  doc.DecoderFrame(true, [&] { doc.RecordMinute("Reset 10:00", 10, 0); });
  doc.DisplayColumn = 6;
  doc.DecoderFrame(true, [&] {});
  EXPECT_EQ(doc.MarkerRunLength, 2);
  EXPECT_EQ(doc.MarkerFlags[5], 1);
  doc.DisplayColumn = 7;
  doc.MarkerFlags[7] = 1;
  doc.DecoderFrame(false, [&] { FAIL() << "fields read on a non-marker block"; });
  EXPECT_EQ(doc.MarkerFlags[7], 0);
  EXPECT_EQ(doc.MarkerRunLength, 0);
  EXPECT_EQ(doc.MinuteRecordCount, 0);
  EXPECT_EQ(doc.LastMinuteOfDay, 600);
  ASSERT_FALSE(log.texts.empty());
  EXPECT_EQ(log.texts.front(), "mark 2999");
}

}  // namespace

namespace {

TEST_F(FrameTest, OffsetAcrossMidnightIsTheClocksErrorNotADay) {
  SimulatedClock at(1796687990);  // 2026-12-07 23:59:50 UTC, the PC a little slow
  CVarnolDoc d(wave, at, errors);
  d.StationMode = StationWwvb;
  d.RecordMinute("a", 0, 0);
  d.SetPcClock();
  d.RecordMinute("b", 0, 1);
  d.SetPcClock();
  EXPECT_EQ(d.SyncOffset, 71);  // 00:01:01 on the next day minus 23:59:50
}

}  // namespace
