// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "app/simulated_input.h"

namespace {

TEST(SandboxClock, SettingMovesOnlyTheProgramsClock) {
  int64_t wall = 1796648709000;  // 2026-12-07 13:05:09.000 UTC
  SandboxClock clock([&] { return wall; });
  EXPECT_EQ(clock.Now(), 1796648709);
  SYSTEMTIME st = SystemTimeFromUnix(1796648709 + 3600);
  st.wSecond = 1;
  ASSERT_TRUE(clock.SetSystemTime(st));
  // 14:05:01 written at 13:05:09: an hour ahead minus eight seconds, and it keeps running.
  EXPECT_EQ(clock.Now(), 1796648709 + 3600 - 8);
  wall += 2500;
  EXPECT_EQ(clock.Now(), 1796648709 + 3600 - 8 + 2);
  const SYSTEMTIME now = clock.GetSystemTime();
  EXPECT_EQ(now.wHour, 14);
  EXPECT_EQ(now.wMinute, 5);
  EXPECT_EQ(now.wSecond, 3);
  EXPECT_EQ(now.wMilliseconds, 500);
}

TEST(LiveStation, TunesInAtTheFirstReadAndAgainAfterAPause) {
  int64_t wall = 1796648709000;
  LiveStation station("dcf77", ReceiverSettings{}, [&] { return wall; });
  int16_t samples[128];
  EXPECT_EQ(station.Tunings(), 0);
  EXPECT_EQ(station.Read(samples, 128), 128u);
  EXPECT_EQ(station.Tunings(), 1);
  wall += LiveStation::ResumeGapMs;  // a read every 16 ms or even a second later: same broadcast
  station.Read(samples, 128);
  EXPECT_EQ(station.Tunings(), 1);
  wall += LiveStation::ResumeGapMs + 1;  // the capture was stopped for a while
  station.Read(samples, 128);
  EXPECT_EQ(station.Tunings(), 2);
}

TEST(LiveStation, UnknownStationGivesNoSamples) {
  LiveStation station("nosuch", ReceiverSettings{});
  int16_t samples[16];
  EXPECT_EQ(station.Read(samples, 16), 0u);
}

}  // namespace
