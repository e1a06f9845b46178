// SPDX-License-Identifier: GPL-3.0-or-later
// VNG decoder and RWM minute marks on synthetic minutes: markers, pulse-length fields with
// their parities, the RWM snap to the nearest minute (including the three faults mended
// there: a refused write keeps the offset, 23:59:30 and later write 00 of the next day, and a
// mark count left by a station change is never read as records).
#include <gtest/gtest.h>

#include <string>

#include "station_pictures.h"

namespace {

// ---------------------------------------------------------------------------------- VNG --

// Seconds 21..35 of a VNG minute giving hour:minute, with both even parities.
void VngTime(int (&bits)[60], int hour, int minute) {
  for (int& b : bits) b = 0;
  PutWeights(bits, {27, 26, 25, 24, 23, 22, 21}, {40, 20, 10, 8, 4, 2, 1}, minute);
  PutWeights(bits, {34, 33, 32, 31, 30, 29}, {20, 10, 8, 4, 2, 1}, hour);
  int ones = 0;
  for (int s = 21; s <= 27; ++s) ones += bits[s];
  bits[28] = ones % 2;
  ones = 0;
  for (int s = 29; s <= 34; ++s) ones += bits[s];
  bits[35] = ones % 2;
}

struct VngShape {
  double second0_tone = 0.5;  // seconds of tone at second 0
  int tone_tenth58 = -1;      // a tenth of second 58 holding tone, -1 none
  int tone_tenth59 = -1;      // a tenth of second 59 holding tone, -1 none
};

// Tone pulses: 50 ms for a 0 and 200 ms for a 1 in every second 1..58, none in 59.
void FillVng(CVarnolDoc& doc, const int (&bits)[60], const VngShape& shape = {}) {
  FillRing(doc, [&](int s, double f) {
    const int tenth = static_cast<int>(f * 10.0);
    if (s == 0) return f < shape.second0_tone;
    if (s == 59) return tenth == shape.tone_tenth59;
    if (s == 58 && tenth == shape.tone_tenth58) return true;
    return f < (bits[s] ? 0.2 : 0.05);
  });
}

class VngTest : public DocTest {
 protected:
  void SetUp() override {
    doc.StationMode = StationVng;
    doc.RingIndex = 3755;
    doc.SummerTimeFlag = 1;  // left by a long-wave station: never read here
  }
};

struct VngFieldCase {
  const char* name;
  int on[8];  // seconds whose pulse is long (a 1), 0-terminated
  const char* record;
};

class VngFields : public VngTest, public ::testing::WithParamInterface<VngFieldCase> {};

TEST_P(VngFields, EvenParitiesInBothGroups) {
  const VngFieldCase& c = GetParam();
  int bits[60] = {};
  for (int s : c.on)
    if (s != 0) bits[s] = 1;
  FillVng(doc, bits);
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], 1);
  EXPECT_EQ(OnlyRecord(doc), c.record);
  EXPECT_EQ(doc.SummerTimeFlag, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Vng, VngFields,
    ::testing::Values(VngFieldCase{"AllZeroIsMidnight", {0}, "Reset 00:00 UT+0"},
                      VngFieldCase{"Hour12", {33, 30, 0}, "Reset 12:00 UT+0"},
                      VngFieldCase{"Hour12WithParity35", {33, 30, 35, 0}, ""},
                      // even parities but not a time of day: dropped
                      VngFieldCase{"Minute79IsNotATime", {27, 26, 25, 24, 21, 28, 0}, ""},
                      VngFieldCase{"MinuteUnits14IsNotATime", {24, 23, 22, 28, 0}, ""},
                      VngFieldCase{"Hour31IsNotATime", {34, 33, 29, 35, 0}, ""},
                      VngFieldCase{"MinuteParityOdd", {21, 0}, ""},
                      VngFieldCase{"Time1407", {33, 31, 23, 22, 21, 28, 0}, "Reset 14:07 UT+0"},
                      VngFieldCase{"Time1407MissingMinuteParity", {33, 31, 23, 22, 21, 0}, ""}),
    CaseName<VngFields::ParamType>);

TEST_F(VngTest, EncodedTimeRoundTrips) {
  int bits[60];
  VngTime(bits, 23, 59);
  FillVng(doc, bits);
  DecodeOnce(doc);
  ASSERT_EQ(OnlyRecord(doc), "Reset 23:59 UT+0");
  EXPECT_EQ(doc.MinuteRecords[0].Hour, 23);
  EXPECT_EQ(doc.MinuteRecords[0].Minute, 59);
}

struct VngMarkerCase {
  const char* name;
  VngShape shape;
  bool marker;
};

class VngMarker : public VngTest, public ::testing::WithParamInterface<VngMarkerCase> {};

TEST_P(VngMarker, SilenceThenHalfSecondTone) {
  const VngMarkerCase& c = GetParam();
  int bits[60];
  VngTime(bits, 14, 7);
  FillVng(doc, bits, c.shape);
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], c.marker ? 1 : 0);
  EXPECT_EQ(doc.MinuteRecordCount, c.marker ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Vng, VngMarker,
                         ::testing::Values(VngMarkerCase{"Minute", {0.5, -1, -1}, true},
                                           VngMarkerCase{"ToneStillOnAt550ms", {0.7, -1, -1}, false},
                                           VngMarkerCase{"ToneEndedBefore400ms", {0.35, -1, -1}, false},
                                           VngMarkerCase{"ToneAt58point5NotExamined", {0.5, 5, -1}, true},
                                           VngMarkerCase{"ToneAt58point6", {0.5, 6, -1}, false},
                                           VngMarkerCase{"ToneAt58point9", {0.5, 9, -1}, false},
                                           VngMarkerCase{"ToneAt59point0", {0.5, -1, 0}, false},
                                           VngMarkerCase{"ToneAt59point5", {0.5, -1, 5}, false}),
                         CaseName<VngMarker::ParamType>);

TEST_F(VngTest, ConsecutiveMinutesWriteUtWithoutCorrection) {
  doc.AutoSetClock = 1;
  int bits[60];
  VngTime(bits, 14, 6);
  FillVng(doc, bits);
  DecodeOnce(doc);
  EndRun(doc);
  VngTime(bits, 14, 7);
  FillVng(doc, bits);
  DecodeOnce(doc);
  EndRun(doc);
  EXPECT_STREQ(doc.StatusText, "Reset 14:07 UT+0");
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(Hhmmss(log.writes[0]), "2026-12-07 14:07:01");
}

// ---------------------------------------------------------------------------------- RWM --

// 100 ms ticks in seconds 1..58, silence in 59 (apart from an optional tenth of tone), and
// `second0_tone` seconds of tone at second 0.
void FillRwm(CVarnolDoc& doc, double second0_tone = 0.5, int tone_tenth59 = -1) {
  FillRing(doc, [&](int s, double f) {
    if (s == 0) return f < second0_tone;
    if (s == 59) return static_cast<int>(f * 10.0) == tone_tenth59;
    return f < 0.1;
  });
}

class RwmTest : public DocTest {
 protected:
  void SetUp() override {
    doc.StationMode = StationRwm;
    doc.RingIndex = 100;
  }
};

struct RwmMarkCase {
  const char* name;
  double second0_tone;
  int tone_tenth59;
  bool mark;
};

class RwmMark : public RwmTest, public ::testing::WithParamInterface<RwmMarkCase> {};

TEST_P(RwmMark, CountsMarkBlocksAndStoresNothing) {
  const RwmMarkCase& c = GetParam();
  std::snprintf(doc.StatusText, sizeof doc.StatusText, "%s", "before");
  FillRwm(doc, c.second0_tone, c.tone_tenth59);
  DecodeOnce(doc);
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], c.mark ? 1 : 0);
  EXPECT_EQ(doc.MarkerRunLength, c.mark ? 2 : 0);
  EXPECT_EQ(doc.MinuteRecordCount, c.mark ? 2 : 0);
  EXPECT_EQ(doc.MinuteRecordsStored, 0);
  EXPECT_STREQ(doc.StatusText, "before");
}

INSTANTIATE_TEST_SUITE_P(Rwm, RwmMark,
                         ::testing::Values(RwmMarkCase{"Mark", 0.5, -1, true},
                                           RwmMarkCase{"TickInTenthZeroOf59Allowed", 0.5, 0, true},
                                           RwmMarkCase{"ToneInTenthOneOf59", 0.5, 1, false},
                                           RwmMarkCase{"ToneInTenthNineOf59", 0.5, 9, false},
                                           RwmMarkCase{"ToneStillOnAt550ms", 0.7, -1, false},
                                           RwmMarkCase{"ToneEndedBefore400ms", 0.3, -1, false}),
                         CaseName<RwmMark::ParamType>);

// The snap at a given PC time (TZ=UTC, so local time is UTC and standard time).
struct SnapCase {
  const char* name;
  int64_t now;  // PC clock, UTC seconds
  const char* text;
  int64_t offset;       // seconds, snapped minus PC
  const char* written;  // UTC system time written
  int day_of_week;      // of the written date, 0 = Sunday
};

class RwmSnap : public ::testing::TestWithParam<SnapCase> {
 protected:
  RwmSnap() : clock(GetParam().now), doc(wave, clock, errors) {
    doc.AddObserver(&log);
    doc.StationMode = StationRwm;
    doc.AutoSetClock = 1;
  }
  static void SetUpTestSuite() {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  // One mark block, then the block after it, which ends the run and snaps.
  void MarkRun() {
    FillRwm(doc);
    DecodeOnce(doc);
    EndRun(doc);
  }
  ScriptedWave wave;
  RecordingErrors errors;
  SimulatedClock clock;
  CVarnolDoc doc;
  EventLog log;
};

TEST_P(RwmSnap, NearestMinuteAtSecondOne) {
  const SnapCase& c = GetParam();
  MarkRun();
  EXPECT_STREQ(doc.StatusText, c.text);
  // the snap's text replaces the run's "mark" text on the same block
  ASSERT_GE(log.texts.size(), 2u);
  EXPECT_EQ(log.texts[log.texts.size() - 2].rfind("mark ", 0), 0u);
  ASSERT_FALSE(log.offsets.empty());
  EXPECT_EQ(log.offsets.front(), c.offset);
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_TRUE(log.write_ok[0]);
  EXPECT_EQ(Hhmmss(log.writes[0]), c.written);
  EXPECT_EQ(log.writes[0].wDayOfWeek, c.day_of_week);
  EXPECT_EQ(doc.SyncOffset, 0);
  EXPECT_EQ(doc.MinuteRecordCount, 0);
  EXPECT_EQ(doc.MinuteRecordsStored, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rwm, RwmSnap,
    ::testing::Values(
        // 2026-12-07 (a Monday)
        SnapCase{"At101529RoundsDown", 1796638529, "Reset 10:15", -28, "2026-12-07 10:15:01", 1},
        SnapCase{"At101530RoundsUp", 1796638530, "Reset 10:16", 31, "2026-12-07 10:16:01", 1},
        SnapCase{"At235929StaysToday", 1796687969, "Reset 23:59", -28, "2026-12-07 23:59:01", 1},
        SnapCase{"At235940IsNextDay", 1796687980, "Reset 00:00", 21, "2026-12-08 00:00:01", 2},
        SnapCase{"NewYear", 1798761570, "Reset 00:00", 31, "2027-01-01 00:00:01", 5},
        SnapCase{"LeapDay", 1835395185, "Reset 00:00", 16, "2028-02-29 00:00:01", 2}),
    CaseName<RwmSnap::ParamType>);

class RwmClock : public RwmTest {};

// A refused clock write leaves the PC time as it was, so the measured offset stays on show.
TEST_F(RwmClock, RefusedWriteKeepsTheOffset) {
  doc.AutoSetClock = 1;
  clock.SetSystemTime(SystemTimeFromUnix(1796638530));  // 10:15:30
  clock.RefuseWrites(true);
  FillRwm(doc);
  DecodeOnce(doc);
  EndRun(doc);
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_FALSE(log.write_ok[0]);
  EXPECT_STREQ(doc.StatusText, "Reset 10:16");
  EXPECT_EQ(doc.SyncOffset, 31);
}

TEST_F(RwmClock, WithoutAutoSetOnlyTextAndOffset) {
  doc.AutoSetClock = 0;
  clock.SetSystemTime(SystemTimeFromUnix(1796638529));  // 10:15:29
  const int writes_before = clock.WriteCount();
  FillRwm(doc);
  DecodeOnce(doc);
  EndRun(doc);
  EXPECT_TRUE(log.writes.empty());
  EXPECT_EQ(clock.WriteCount(), writes_before);
  EXPECT_STREQ(doc.StatusText, "Reset 10:15");
  EXPECT_EQ(doc.SyncOffset, -28);
}

// A long RWM mark run counts far past seven; after a change of station its count must not
// make the next clock step read records of an earlier run.
TEST_F(RwmClock, StationChangeNeverReadsStaleRecords) {
  doc.AutoSetClock = 1;
  for (MinuteRecord& r : doc.MinuteRecords) {  // an earlier run's records, already used
    std::snprintf(r.Text, sizeof r.Text, "%s", "Reset 13:08 UT+0");
    r.Hour = 13;
    r.Minute = 8;
  }
  doc.LastMinuteOfDay = 13 * 60 + 7;  // they would pass the consecutive-minute test
  FillRwm(doc);
  for (int i = 0; i < 12; ++i) DecodeOnce(doc);
  ASSERT_EQ(doc.MinuteRecordCount, 12);
  doc.StationMode = StationMsf;
  EndRun(doc);
  EXPECT_TRUE(log.writes.empty());
  EXPECT_EQ(doc.LastMinuteOfDay, 13 * 60 + 7);
  EXPECT_EQ(std::string(doc.StatusText).rfind("mark ", 0), 0u);
  EXPECT_EQ(doc.MinuteRecordCount, 0);
}

// The new station's own run, begun while the RWM count stood at 5, is what the clock step
// reads: the middle of the three minutes it recorded.
TEST_F(RwmClock, StationChangeMidRunUsesOnlyTheNewRecords) {
  doc.AutoSetClock = 1;
  FillRwm(doc);
  for (int i = 0; i < 5; ++i) DecodeOnce(doc);
  doc.StationMode = StationHbg;
  doc.LastMinuteOfDay = 13 * 60 + 6;
  int bits[60];
  for (int minute : {5, 7, 9}) {  // three different minutes, so the index shows
    Dcf77Time(bits, 14, minute, false);
    FillRing(doc, [&](int s, double f) {
      if (s == 59) return true;
      if (s == 0) return !(f < 0.1 || (f >= 0.2 && f < 0.3));
      return f >= (bits[s] ? 0.2 : 0.1);
    });
    DecodeOnce(doc);
  }
  ASSERT_EQ(doc.MinuteRecordCount, 3);
  EndRun(doc);
  EXPECT_STREQ(doc.StatusText, "Reset 14:07 UT+1");
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(Hhmmss(log.writes[0]), "2026-12-07 13:07:01");
}

// Another station's unfinished run makes the first RWM block without a mark snap; the snap
// empties the list, so returning to that station writes nothing from it.
TEST_F(RwmClock, UnfinishedRunOfAnotherStationSnapsAndIsGone) {
  doc.AutoSetClock = 1;
  doc.StationMode = StationVng;
  doc.LastMinuteOfDay = 13 * 60 + 6;
  int bits[60];
  VngTime(bits, 13, 7);
  FillVng(doc, bits);
  DecodeOnce(doc);
  ASSERT_EQ(doc.MinuteRecordCount, 1);
  doc.StationMode = StationRwm;
  EndRun(doc);
  EXPECT_STREQ(doc.StatusText, "Reset 13:00");
  EXPECT_EQ(doc.MinuteRecordCount, 0);
  EXPECT_EQ(doc.MinuteRecordsStored, 0);
  doc.StationMode = StationVng;
  EndRun(doc);
  EXPECT_EQ(doc.LastMinuteOfDay, 13 * 60 + 6);
  ASSERT_EQ(log.writes.size(), 1u);  // the snap's only
  EXPECT_EQ(Hhmmss(log.writes[0]), "2026-12-07 13:00:01");
}

}  // namespace

namespace {

// The level trackers' steps of the short-wave modes: the tone stations (VNG, RWM) let the
// peak rise fast and fall slowly; the 100 Hz detector's floor falls at half the usual rate.
struct TrackerCase {
  const char* name;
  int mode;
  int level;
  double peak, floor;  // after one block, from peak 500 and floor 100
};

class TrackerSteps : public DocTest, public ::testing::WithParamInterface<TrackerCase> {};

TEST_P(TrackerSteps, OneBlock) {
  const TrackerCase& c = GetParam();
  doc.StationMode = c.mode;
  doc.PeakLevel = 500.0;
  doc.FloorLevel = 100.0;
  doc.LevelTrace[doc.DisplayColumn] = c.level;
  doc.DecisionStep();
  EXPECT_DOUBLE_EQ(doc.PeakLevel, c.peak);
  EXPECT_DOUBLE_EQ(doc.FloorLevel, c.floor);
  EXPECT_EQ(doc.Threshold, static_cast<int>((c.peak + c.floor) / 2.0));
}

INSTANTIATE_TEST_SUITE_P(Stations, TrackerSteps,
                         ::testing::Values(TrackerCase{"VngAbovePeak", StationVng, 600, 503.0, 100.5},
                                           TrackerCase{"VngBetween", StationVng, 300, 499.8, 100.5},
                                           TrackerCase{"VngBelowFloor", StationVng, 50, 499.8, 98.0},
                                           TrackerCase{"VngAtFloorRaisesIt", StationVng, 100, 499.8, 100.5},
                                           TrackerCase{"RwmAbovePeak", StationRwm, 600, 503.0, 100.5},
                                           TrackerCase{"RwmBelowFloor", StationRwm, 50, 499.8, 98.0},
                                           TrackerCase{"WwvAbovePeak", StationWwv, 600, 502.0, 100.5},
                                           TrackerCase{"WwvAtPeakLowersIt", StationWwv, 500, 499.5, 100.5},
                                           TrackerCase{"WwvBelowFloor", StationWwv, 50, 499.5, 99.0},
                                           TrackerCase{"MsfBelowFloor", StationMsf, 50, 499.5, 98.0},
                                           TrackerCase{"WwvbBetween", StationWwvb, 300, 499.5, 100.2}),
                         CaseName<TrackerSteps::ParamType>);

}  // namespace
