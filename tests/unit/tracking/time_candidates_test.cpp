// SPDX-License-Identifier: GPL-3.0-or-later
// The time of day from soft symbols in known noise: minutes with flipped bits, one read a
// second off, a missing one, the day's end, summer-time changes; the lock is reported only on
// the right time, and pure noise never reaches the margin.
#include "tracking/time_candidates.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "app/varnol_doc.h"
#include "unit/tracking/known_noise.h"

namespace {

struct TimeCase {
  const char* name;
  int station;
  int64_t start_utc;  // start of the first minute received
  int minutes;
  double step_over_sigma;
  int flips;           // time-of-day bits each minute received wrong with full confidence,
                       // a different one each minute
  int missing_minute;  // a minute not received at all (-1: none)
  int shifted_minute;  // a minute read one second off, as after a false marker (-1: none)
  int lock_by;         // minutes received by which the lock must stand
  // how far ahead of the signal the capture's clock is: it only chooses the candidates' date
  int64_t clock_ahead = 3 * 3600;
};

// The symbol sent in each second: the first the candidate's prediction allows (where the
// prediction is open, any symbol is as good for every candidate).
int Sent(SymbolMask mask) {
  for (int s = 0; s < MaxSymbols; ++s)
    if (mask >> s & 1) return s;
  return 0;
}

class TimeCandidatesTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimeCandidatesTest, LocksOnlyOnTheRightTime) {
  const TimeCase& c = GetParam();
  const StationSymbols& t = *SymbolsFor(c.station);
  KnownNoise noise(t, 1.0, 0.15, 0.85 / c.step_over_sigma, 99);
  TimeCandidates times(t);
  // seconds of the minute and hour fields, where the flips go
  const int first_bit = c.station == StationWwvb ? 5 : c.station == StationMsf ? 39 : 21;
  int locked_at = -1, elapsed = 1;
  for (int m = 0; m < c.minutes; ++m) {
    const int64_t minute = c.start_utc + 60 * m;
    if (m == c.missing_minute) {
      ++elapsed;
      continue;
    }
    SymbolMask expected[60];
    t.expected(minute, expected);
    double ll[60][MaxSymbols];
    bool heard[60];
    for (int p = 0; p < 60; ++p) {
      const int read = m == c.shifted_minute ? (p + 1) % 60 : p;
      noise.Second(Sent(expected[read]), ll[p]);
      heard[p] = true;
    }
    for (int f = 0; f < c.flips; ++f) {
      const int at = first_bit + (m * 5 + f * 7) % 13;
      const int wrong = Sent(expected[at]) == 0 ? 1 : 0;
      for (int s = 0; s < t.symbol_count; ++s) ll[at][s] = s == wrong ? 0.0 : -LikelihoodCap;
    }
    times.AddMinute(minute + c.clock_ahead, ll, heard, elapsed);
    elapsed = 1;
    if (times.Sure()) {
      // (on the capture clock's date)
      ASSERT_EQ(times.BestUtc(), minute + 86400 * FloorDiv(c.clock_ahead + 43200, 86400))
          << c.name << ", minute " << m;
      if (locked_at < 0) locked_at = m + 1;
    }
  }
  std::printf("%s: locked after %d minutes\n", c.name, locked_at);
  EXPECT_GE(locked_at, 1) << c.name;
  EXPECT_LE(locked_at, c.lock_by) << c.name;
}

constexpr int64_t Afternoon = 1796648400;    // 2026-12-07 13:00 UTC
constexpr int64_t Summer = 1783429200;       // 2026-07-07 13:00 UTC
constexpr int64_t Months = 153 * 86400;      // from 7 July to 7 December
constexpr int64_t DayEnd = 1796687700;       // 2026-12-07 23:55 UTC
constexpr int64_t SpringAhead = 1774745400;  // 2026-03-29 00:50 UTC, CEST and BST from 01:00
constexpr int64_t FallBack = 1792889400;     // 2026-10-25 00:50 UTC, CET and GMT from 01:00

INSTANTIATE_TEST_SUITE_P(
    Minutes, TimeCandidatesTest,
    ::testing::Values(
        TimeCase{"dcf77 clean", StationDcf77, Afternoon, 12, 10.0, 0, -1, -1, 4},
        TimeCase{"dcf77 one bit in six wrong", StationDcf77, Afternoon, 40, 2.0, 0, -1, -1, 25},
        TimeCase{"dcf77 a bit flipped each minute", StationDcf77, Afternoon, 20, 10.0, 1, -1, -1, 12},
        TimeCase{"dcf77 a minute read a second off", StationDcf77, Afternoon, 12, 10.0, 0, -1, 2, 10},
        TimeCase{"dcf77 a missing minute", StationDcf77, Afternoon, 12, 10.0, 0, 1, -1, 5},
        TimeCase{"dcf77 the day's end", StationDcf77, DayEnd, 12, 3.0, 0, -1, -1, 10},
        TimeCase{"dcf77 summer time begins", StationDcf77, SpringAhead, 20, 3.0, 0, -1, -1, 10},
        TimeCase{"dcf77 summer time ends", StationDcf77, FallBack, 20, 3.0, 0, -1, -1, 10},
        TimeCase{"dcf77 summer, the clock's date in winter", StationDcf77, Summer, 20, 3.0, 0, -1, -1, 12,
                 Months},
        TimeCase{"dcf77 winter, the clock's date in summer", StationDcf77, Afternoon, 20, 3.0, 0, -1, -1, 12,
                 -Months},
        TimeCase{"hbg clean", StationHbg, Afternoon, 12, 10.0, 0, -1, -1, 4},
        TimeCase{"hbg summer, the clock's date in winter", StationHbg, Summer + 3540, 12, 10.0, 0, -1, -1, 8,
                 Months},
        TimeCase{"msf one bit in six wrong", StationMsf, Afternoon, 40, 2.0, 0, -1, -1, 25},
        TimeCase{"msf summer time ends", StationMsf, FallBack, 20, 3.0, 1, -1, -1, 12},
        TimeCase{"msf summer, the clock's date in winter", StationMsf, Summer, 30, 3.0, 0, -1, -1, 20, Months},
        TimeCase{"wwvb clean", StationWwvb, DayEnd, 12, 10.0, 0, -1, -1, 6},
        TimeCase{"wwvb one bit in six wrong", StationWwvb, Afternoon, 40, 2.0, 0, -1, -1, 25}));

// The margin rule: with no signal, or with symbols that follow no time of day, a candidate
// may lead the others by chance or by the noise's shape, but it must never be reported, minute
// after minute for a day.
TEST(TimeCandidates, NoTimeWithoutATimeCode) {
  const StationSymbols& t = *SymbolsFor(StationDcf77);
  for (const bool random_bits : {false, true}) {
    KnownNoise noise(t, 1.0, 0.15, 0.85 / 3.0, 5);
    std::mt19937 bits(11);
    TimeCandidates times(t);
    double widest = 0.0, closest = -1e300;
    for (int m = 0; m < 720; ++m) {
      double ll[60][MaxSymbols];
      bool heard[60];
      for (int p = 0; p < 60; ++p) {
        if (random_bits) {
          noise.Second(p == 59 ? 2 : p == 20 ? 1 : p == 0 ? 0 : static_cast<int>(bits() & 1), ll[p]);
        } else {
          noise.Silence(ll[p]);
        }
        heard[p] = true;
      }
      times.AddMinute(Afternoon + 60 * m, ll, heard, 1);
      ASSERT_FALSE(times.Sure()) << "minute " << m;
      widest = std::max(widest, times.Margin());
      closest = std::max(closest, times.LeadOverOpen());
    }
    std::printf("%s: widest margin %.1f nats, best lead over the open symbols %.1f nats\n",
                random_bits ? "random bits" : "silence", widest, closest);
  }
}

}  // namespace
