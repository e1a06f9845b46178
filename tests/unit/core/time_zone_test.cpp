// SPDX-License-Identifier: GPL-3.0-or-later
// The clock step in the PC's time zone. The system clock counts UTC whatever the zone, so the
// time written and the offset measured must come out the same in every zone, around local and
// UTC midnight and across daylight-saving changes; only the texts shown as local time differ.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fakes.h"

namespace {

std::string Iso(const SYSTEMTIME& st) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond);
  return text;
}

const char* const kZones[] = {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata", "Pacific/Auckland"};
enum { kZoneCount = 5 };

class InZone : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    setenv("TZ", kZones[GetParam()], 1);
    tzset();
  }
  void TearDown() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ScriptedWave wave;
  RecordingErrors errors;
};

std::string ZoneName(const ::testing::TestParamInfo<int>& info) {
  std::string name = kZones[info.param];
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

struct ClockCase {
  const char* what;
  int64_t now;       // the PC clock when the second minute is handed over, UTC
  int hour, minute;  // decoded, UT (WWVB: no hour correction)
  double offset;     // PcClockOffset, hours
  const char* written;
  int64_t sync;  // seconds, decoded minus PC, measured before the write
};

const ClockCase kClockCases[] = {
    {"afternoon", 1796648690 /* 2026-12-07 13:04:50 */, 13, 5, 0.0, "2026-12-07 13:05:01", 11},
    {"UTC midnight", 1796687998 /* 2026-12-07 23:59:58 */, 0, 1, 0.0, "2026-12-08 00:01:01", 63},
    {"Berlin midnight", 1796684395 /* 2026-12-07 22:59:55 */, 23, 0, 0.0, "2026-12-07 23:00:01", 6},
    {"New York midnight", 1796705995 /* 2026-12-08 04:59:55 */, 5, 0, 0.0, "2026-12-08 05:00:01", 6},
    {"Kolkata midnight", 1796668195 /* 2026-12-07 18:29:55 */, 18, 30, 0.0, "2026-12-07 18:30:01", 6},
    {"Auckland midnight", 1796641195 /* 2026-12-07 10:59:55 */, 11, 0, 0.0, "2026-12-07 11:00:01", 6},
    {"Berlin summer time begins", 1774745995 /* 2026-03-29 00:59:55 */, 1, 0, 0.0, "2026-03-29 01:00:01", 6},
    {"New York summer time begins", 1772953195 /* 2026-03-08 06:59:55 */, 7, 0, 0.0, "2026-03-08 07:00:01",
     6},
    {"Auckland summer time ends", 1775311195 /* 2026-04-04 13:59:55 */, 14, 0, 0.0, "2026-04-04 14:00:01", 6},
    // a deliberate offset runs the clock that far from UT, in every zone alike
    {"offset +5.5 h in July", 1782930895 /* 2026-07-01 18:34:55 */, 13, 5, 5.5, "2026-07-01 18:35:01", 6},
};

TEST_P(InZone, ClockStepWritesAndMeasuresOnTheUtcScale) {
  for (const ClockCase& c : kClockCases) {
    SCOPED_TRACE(c.what);
    SimulatedClock clock(c.now);
    CVarnolDoc doc(wave, clock, errors);
    EventLog log;
    doc.AddObserver(&log);
    doc.StationMode = StationWwvb;
    doc.PcClockOffset = c.offset;
    doc.AutoSetClock = 1;
    const int before = (c.hour * 60 + c.minute + 1439) % 1440;
    doc.RecordMinute("a", before / 60, before % 60);
    doc.SetPcClock();
    doc.RecordMinute("b", c.hour, c.minute);
    doc.SetPcClock();
    ASSERT_EQ(log.writes.size(), 1u);
    EXPECT_EQ(Iso(log.writes[0]), c.written);
    ASSERT_FALSE(log.offsets.empty());
    EXPECT_EQ(log.offsets.front(), c.sync);
    EXPECT_EQ(doc.SyncOffset, 0);
  }
}

// The RWM snap: the rounded minute is the system clock's, written back as UTC; the reset text
// shows the snapped time in the PC's local time.
struct SnapTime {
  int64_t now;
  const char* written;
  int64_t sync;
};

const SnapTime kSnapTimes[] = {
    {1796638529 /* 2026-12-07 10:15:29 */, "2026-12-07 10:15:01", -28},
    {1796687980 /* 2026-12-07 23:59:40 */, "2026-12-08 00:00:01", 21},
    {1774745980 /* 2026-03-29 00:59:40, Berlin's summer time begins */, "2026-03-29 01:00:01", 21},
};

// Reset texts of the three snaps, by zone (in kZones order).
const char* const kSnapTexts[kZoneCount][3] = {
    {"Reset 10:15", "Reset 00:00", "Reset 01:00"},  // UTC
    {"Reset 11:15", "Reset 01:00", "Reset 03:00"},  // Europe/Berlin
    {"Reset 05:15", "Reset 19:00", "Reset 21:00"},  // America/New_York
    {"Reset 15:45", "Reset 05:30", "Reset 06:30"},  // Asia/Kolkata
    {"Reset 23:15", "Reset 13:00", "Reset 14:00"},  // Pacific/Auckland
};

TEST_P(InZone, MinuteMarkSnapRoundsTheUtcClockAndShowsLocalTime) {
  for (int i = 0; i < 3; ++i) {
    const SnapTime& s = kSnapTimes[i];
    SCOPED_TRACE(s.written);
    SimulatedClock clock(s.now);
    CVarnolDoc doc(wave, clock, errors);
    EventLog log;
    doc.AddObserver(&log);
    doc.StationMode = StationRwm;
    doc.AutoSetClock = 1;
    doc.MinuteRecordCount = 3;  // a mark run of three blocks has just ended
    doc.SnapToMinuteMark();
    EXPECT_STREQ(doc.StatusText, kSnapTexts[GetParam()][i]);
    ASSERT_EQ(log.writes.size(), 1u);
    EXPECT_EQ(Iso(log.writes[0]), s.written);
    ASSERT_FALSE(log.offsets.empty());
    EXPECT_EQ(log.offsets.front(), s.sync);
    // and a second snap right after finds the clock on the minute: no further move
    doc.MinuteRecordCount = 1;
    doc.SnapToMinuteMark();
    ASSERT_EQ(log.writes.size(), 2u);
    EXPECT_EQ(Iso(log.writes[1]), s.written);
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, InZone, ::testing::Range(0, static_cast<int>(kZoneCount)), ZoneName);

}  // namespace
