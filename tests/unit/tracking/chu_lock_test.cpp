// SPDX-License-Identifier: GPL-3.0-or-later
// CHU in the robust lock: the time of day from the Bell 103 code of seconds 31..39, scored
// across seconds and minutes. Minutes of bit statistics in known noise (a clean code, one bit
// in four wrong, a missing minute at the day's end, the date unknown, the time jumping) give
// the right time or none; a corrupted repetition or a time that does not advance gives none;
// and on simulated audio the lock's path allocates nothing, a clock write waits for the lock
// when asked to, and the guard refuses one an hour off the lock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "app/varnol_doc.h"
#include "platform/linux_clock.h"
#include "simulator/chu_code.h"
#include "simulator/receiver.h"
#define ALLOCATION_COUNTER_ELSEWHERE
#include "support/allocation_counter.h"
#include "tracking/chu_times.h"
#include "tracking/lock_guard.h"

namespace {

constexpr int64_t Afternoon = 1796648400;  // 2026-12-07 13:00 UTC
constexpr int64_t DayEnd = 1796687700;     // 2026-12-07 23:55 UTC

// What the frames of a minute say, beside the truth.
enum class Sent {
  Truth,
  SecondCopyOff,  // the repeated five bytes of each format A frame name a minute 17 later
  Stuck,          // every minute names the first minute again
};

struct CodeCase {
  const char* name;
  int64_t start_utc;  // the first minute's start
  int minutes;
  double step_over_sigma;  // mark statistic minus space statistic, halved, over the scatter
  bool date_known;
  Sent sent;
  int missing_minute;  // not received (-1: none)
  int jump_minute;     // from here on the frames name a time 3 h 17 min later (-1: never)
  int lock_by;         // minutes by which the time is sure (0: never sure)
};

// The 110 bits of the code sent in the second that begins at `second_utc`, 1 mark, 0 space.
void FrameBits(int64_t second_utc, Sent sent, int64_t first_minute, int bits[ChuCodeBits]) {
  ChuBytes bytes{};
  const int64_t minute = second_utc - second_utc % 60;
  const int second = static_cast<int>(second_utc % 60);
  ChuCodeOfSecond(sent == Sent::Stuck && second > ChuFirstCodeSecond ? first_minute + second : second_utc,
                  bytes);
  if (sent == Sent::SecondCopyOff && second > ChuFirstCodeSecond) {
    ChuBytes off{};
    ChuCodeOfSecond(minute + 17 * 60 + second, off);
    for (int i = 5; i < 10; ++i) bytes[i] = off[i];
  }
  for (int c = 0; c < 10; ++c) {
    bits[c * 11] = 0;
    for (int k = 0; k < 8; ++k) bits[c * 11 + 1 + k] = bytes[c] >> k & 1;
    bits[c * 11 + 9] = bits[c * 11 + 10] = 1;
  }
}

class ChuCodeTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ChuCodeTest, RightTimeOrNone) {
  const CodeCase& c = GetParam();
  std::mt19937_64 rng(11);
  std::normal_distribution<double> normal(0.0, 1.0);
  ChuTimes times;
  // The code stands out at the line's offset and half as much one step beside it.
  constexpr int TrueOffset = ChuOffsets / 2 + 2;
  std::vector<float> values(static_cast<size_t>(ChuCodeSeconds) * ChuSecondValues);
  int locked_at = -1, elapsed = 1;
  bool new_time_sure = false;
  for (int m = 0; m < c.minutes; ++m) {
    if (m == c.missing_minute) {
      ++elapsed;
      continue;
    }
    const int64_t truth = c.start_utc + 60 * m + (c.jump_minute >= 0 && m >= c.jump_minute ? 11820 : 0);
    const float* seconds[ChuCodeSeconds];
    for (int i = 0; i < ChuCodeSeconds; ++i) {
      int bits[ChuCodeBits];
      FrameBits(truth + ChuFirstCodeSecond + i, c.sent, c.start_utc, bits);
      float* v = &values[static_cast<size_t>(i) * ChuSecondValues];
      for (int o = 0; o < ChuOffsets; ++o) {
        const double share = o == TrueOffset ? 1.0 : std::abs(o - TrueOffset) == 1 ? 0.5 : 0.0;
        for (int j = 0; j < ChuCodeBits; ++j)
          v[o * ChuCodeBits + j] =
              static_cast<float>(1e4 * ((bits[j] ? 1.0 : -1.0) * c.step_over_sigma * share + normal(rng)));
      }
      seconds[i] = v;
    }
    // the capture's clock two hours slow: it only chooses the candidates' date
    times.AddMinute(truth - 2 * 3600, c.date_known, seconds, elapsed);
    elapsed = 1;
    if (!times.Sure()) continue;
    // After a jump the time gathered before it leads for a few minutes; never a third.
    const bool jumped = c.jump_minute >= 0 && m >= c.jump_minute;
    if (times.BestUtc() != truth) {
      ASSERT_TRUE(jumped) << c.name << ", minute " << m;
      ASSERT_EQ(times.BestUtc(), truth - 11820) << c.name << ", minute " << m;
    }
    new_time_sure |= jumped && times.BestUtc() == truth;
    if (locked_at < 0) locked_at = m + 1;
  }
  EXPECT_EQ(new_time_sure, c.jump_minute >= 0) << c.name;
  std::printf("%s: time after %d minutes, margin %.1f, over free bits %.1f, offset %d\n", c.name, locked_at,
              times.Margin(), times.LeadOverOpen(), times.Offset());
  EXPECT_EQ(times.Offset(), (TrueOffset - ChuOffsets / 2) * ChuOffsetStep) << c.name;
  if (c.lock_by == 0) {
    EXPECT_EQ(locked_at, -1) << c.name;
  } else {
    EXPECT_GE(locked_at, 1) << c.name;
    EXPECT_LE(locked_at, c.lock_by) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Minutes, ChuCodeTest,
    ::testing::Values(
        CodeCase{"clean", Afternoon, 3, 4.0, true, Sent::Truth, -1, -1, 1},
        CodeCase{"one bit in four wrong", Afternoon, 20, 0.67, true, Sent::Truth, -1, -1, 10},
        CodeCase{"the date unknown", Afternoon, 20, 0.67, false, Sent::Truth, -1, -1, 12},
        CodeCase{"a missing minute, the day's end", DayEnd, 12, 1.0, true, Sent::Truth, 2, -1, 8},
        CodeCase{"the time jumps", Afternoon, 12, 1.5, true, Sent::Truth, -1, 4, 2},
        CodeCase{"a corrupted repetition", Afternoon, 20, 1.0, true, Sent::SecondCopyOff, -1, -1, 0},
        CodeCase{"a time that does not advance", Afternoon, 20, 1.0, true, Sent::Stuck, -1, -1, 0}));

// Four minutes of CHU at +10 dB in a 300 Hz passband, stamped by the capture clock, through the
// observer the programs use (its own seconds: the epoch estimator does not follow CHU).
TEST(ChuGuard, WaitsForTheLockThenRefusesAWriteAnHourOff) {
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Afternoon) + 17.3;
  rs.snr_db = 10.0 - 11.25;  // the simulator's SNR is over 0..4 kHz
  rs.duration_s = 4 * 60.0;
  SimulatedReceiver rx(MakeEncoder("chu"), rs);
  std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * rs.card_rate));
  audio.resize(rx.Read(audio.data(), audio.size()));

  SimulatedClock inner(Afternoon);
  const double offset_hours = -5.0;  // the clock keeps UT - 5 h
  LockObserver lock(StationChu);
  GuardedClock guarded(inner, lock, &offset_hours);
  guarded.SetWaitForLock(true);
  ASSERT_TRUE(lock.Lock().Supported());
  ASSERT_FALSE(lock.Lock().PhaseOnly());

  const long before = g_allocations.load();
  int64_t block = 1;
  double held = 0.0;
  bool held_back = false;
  for (size_t pos = 0; pos + BufferSamples <= audio.size(); pos += BufferSamples) {
    const double stamp = rs.start_utc + static_cast<double>(pos) / rs.card_rate;
    lock.OnCaptureBuffer(audio.data() + pos, BufferSamples, block, static_cast<int64_t>(stamp * 1e9));
    block += BufferSamples / BlockSize;
    if (pos == BufferSamples * 40) {  // ten seconds in: no lock yet, the write waits
      EXPECT_FALSE(guarded.SetSystemTime(SystemTimeFromUnix(static_cast<int64_t>(stamp) - 5 * 3600)));
      held_back = guarded.TakeHeldBack(&held);
    }
  }
  EXPECT_EQ(g_allocations.load() - before, 0);
  EXPECT_TRUE(held_back);
  ASSERT_TRUE(lock.Lock().Locked());

  double utc = 0.0;
  ASSERT_TRUE(lock.UtcNow(&utc));
  const double truth =
      rs.start_utc + static_cast<double>(audio.size() / BufferSamples * BufferSamples) / rs.card_rate;
  EXPECT_NEAR(utc, truth, 0.01);
  const int64_t clock_now = static_cast<int64_t>(std::round(truth + offset_hours * 3600.0));
  const int writes = inner.WriteCount();
  double written = 0.0, locked = 0.0;
  EXPECT_FALSE(guarded.SetSystemTime(SystemTimeFromUnix(clock_now + 3600)));
  ASSERT_TRUE(guarded.TakeRefusal(&written, &locked));
  EXPECT_NEAR(written - locked, 3600.0, 1.0);
  EXPECT_EQ(inner.WriteCount(), writes);
  EXPECT_TRUE(guarded.SetSystemTime(SystemTimeFromUnix(clock_now)));
  EXPECT_EQ(inner.WriteCount(), writes + 1);
  EXPECT_FALSE(guarded.TakeRefusal(&written, &locked));
}

}  // namespace
