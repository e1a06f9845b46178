// SPDX-License-Identifier: GPL-3.0-or-later
// The robust lock end to end on simulated receiver audio, the seconds' phase handed over as a
// perfect estimator would, or found by the lock itself: the time within the minutes the physics
// allows at each SNR, every label right, and the lock kept through a fade on the capture clock
// and given up after a gap longer than the capture clock can bridge.
#include "tracking/robust_lock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "simulator/receiver.h"

namespace {

constexpr double CardRate = 3756.0 * 128.0 / 60.0;  // 8012.8 samples per second
// The simulator's SNR is over 0..4 kHz; a 300 Hz receiver passband holds 11.25 dB less noise.
constexpr double PassbandGainDb = 11.25;

struct LockCase {
  const char* name;
  const char* station;
  int station_mode;
  int64_t start_utc;
  double snr_300hz_db;
  int minutes;
  int lock_by_minutes;       // locked by then (measured from the capture's start)
  int gap_from_minute;       // the signal and the seconds' line gone from here ... (-1: no gap)
  int gap_minutes;           // ... for this long
  bool kept;                 // the lock still stands at the end
  int jump_minute;           // from here on the station sends a time 3 h 17 min later (-1: never)
  bool own_seconds = false;  // no seconds' line handed over: the lock finds the seconds itself
  // The jump's size. LeapSecond: a second inserted (the one before the jump sent again), after
  // which no label may be wrong even for a moment.
  int64_t jump_seconds = 3 * 3600 + 17 * 60;
};

constexpr int64_t LeapSecond = -1;

constexpr int DropWithinMinutes = 2;  // a lock the signal contradicts is gone within

class RobustLockTest : public ::testing::TestWithParam<LockCase> {};

TEST_P(RobustLockTest, RightTimeOrNone) {
  const LockCase& c = GetParam();
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(c.start_utc) + 17.3;  // the capture starts mid-minute
  rs.card_rate = CardRate;
  rs.snr_db = c.snr_300hz_db - PassbandGainDb;
  rs.duration_s = c.minutes * 60.0;
  rs.seed = 3;
  SimulatedReceiver rx(MakeEncoder(c.station), rs);
  std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * CardRate) + 4096);
  audio.resize(rx.Read(audio.data(), audio.size()));
  // The fade: the station gone, the receiver's noise alone.
  const double noise_sigma = rs.amplitude / std::sqrt(2.0) / std::pow(10.0, rs.snr_db / 20.0);
  std::mt19937_64 rng(8);
  std::normal_distribution<double> normal(0.0, noise_sigma);
  // The jump: the rest of the audio from a receiver whose broadcast is later, on the same
  // seconds.
  // (a leap second goes in at the first midnight from there)
  const double jump_s =
      c.jump_seconds == LeapSecond
          ? std::ceil((rs.start_utc + c.jump_minute * 60.0) / 86400.0) * 86400.0 - rs.start_utc
          : c.jump_minute * 60.0;
  const size_t jump_at =
      c.jump_minute < 0 ? audio.size() : static_cast<size_t>(std::llround(jump_s * CardRate));
  if (jump_at < audio.size()) {
    ReceiverSettings later = rs;
    later.start_utc += static_cast<double>(c.jump_seconds) + static_cast<double>(jump_at) / CardRate;
    later.duration_s = static_cast<double>(audio.size() - jump_at) / CardRate + 1.0;
    later.seed = 4;
    SimulatedReceiver rx2(MakeEncoder(c.station), later);
    rx2.Read(&audio[jump_at], audio.size() - jump_at);
  }
  const size_t gap_begin =
      c.gap_from_minute < 0 ? audio.size() : static_cast<size_t>(c.gap_from_minute * 60 * CardRate);
  const size_t gap_end =
      std::min(audio.size(), gap_begin + static_cast<size_t>(c.gap_minutes * 60 * CardRate));
  for (size_t n = gap_begin; n < gap_end; ++n)
    audio[n] = static_cast<int16_t>(std::clamp(std::lround(normal(rng)), -32768L, 32767L));

  RobustLock lock(c.station_mode);
  ASSERT_TRUE(lock.Supported());
  const double first_second = std::ceil(rs.start_utc);  // the first whole second after the start
  const double first_sample = (first_second - rs.start_utc) * CardRate;
  constexpr int Buffer = 2048;
  int locked_at = -1;
  bool held_over = false;
  int64_t labels = 0;
  for (size_t at = 0; at + Buffer <= audio.size(); at += Buffer) {
    const bool in_gap = at + Buffer > gap_begin && at < gap_end;
    if (!in_gap && !c.own_seconds) lock.SetSecondLine(first_sample, CardRate);
    // the capture's stamps: they only choose the candidates' date
    const double stamp = rs.start_utc + static_cast<double>(at) / CardRate;
    lock.OnBuffer(&audio[at], Buffer, static_cast<int64_t>(at), static_cast<int64_t>(stamp * 1e9));
    if (!lock.Locked()) continue;
    if (locked_at < 0) locked_at = static_cast<int>(static_cast<double>(at) / CardRate / 60) + 1;
    held_over |= lock.Status().state == LockState::Holdover;
    int64_t utc = 0;
    double start = 0.0;
    // (from a midnight a leap second may precede, no label until the lock is taken again)
    if (!lock.UtcNear(static_cast<double>(at), &utc, &start)) {
      ASSERT_EQ(c.jump_seconds, LeapSecond) << c.name << " at " << static_cast<double>(at) / CardRate << " s";
      continue;
    }
    const bool jumped = start >= static_cast<double>(jump_at);
    // the UTC at that second's start
    const double truth =
        rs.start_utc + start / CardRate + (jumped ? static_cast<double>(c.jump_seconds) : 0.0);
    // Until the evidence turns against it, a lock goes on with the time it had.
    if (jumped && c.jump_seconds != LeapSecond &&
        at < jump_at + static_cast<size_t>(DropWithinMinutes * 60 * CardRate))
      continue;
    ASSERT_NEAR(truth, static_cast<double>(utc), c.own_seconds ? 0.005 : 0.01)
        << c.name << " at " << static_cast<double>(at) / CardRate << " s";
    ++labels;
  }
  const LockStatus end = lock.Status();
  std::printf(
      "%s: locked after %d minutes, %lld buffers labelled, held over: %d; at the end %s, margin %.1f, "
      "minutes %d, phase margin %.1f\n",
      c.name, locked_at, static_cast<long long>(labels), held_over, LockStateName(end.state), end.margin,
      end.minutes, end.phase_margin);
  EXPECT_GE(locked_at, 1) << c.name;
  EXPECT_LE(locked_at, c.lock_by_minutes) << c.name;
  EXPECT_EQ(lock.Locked(), c.kept) << c.name;
  if (c.gap_from_minute >= 0 && c.kept) {
    EXPECT_TRUE(held_over) << c.name;
  }
}

constexpr int64_t Afternoon = 1796648400;    // 2026-12-07 13:00 UTC
constexpr int64_t NewYearsEve = 1798760400;  // 2026-12-31 23:40 UTC

INSTANTIATE_TEST_SUITE_P(
    Audio, RobustLockTest,
    ::testing::Values(
        LockCase{"dcf77 +10 dB", "dcf77", StationDcf77, Afternoon, 10.0, 10, 6, -1, 0, true, -1},
        LockCase{"dcf77 -5 dB", "dcf77", StationDcf77, Afternoon, -5.0, 20, 15, -1, 0, true, -1},
        LockCase{"msf -5 dB", "msf", StationMsf, Afternoon, -5.0, 20, 15, -1, 0, true, -1},
        LockCase{"wwvb -5 dB", "wwvb", StationWwvb, Afternoon, -5.0, 20, 15, -1, 0, true, -1},
        LockCase{"jjy -5 dB", "jjy", StationJjy, Afternoon, -5.0, 20, 15, -1, 0, true, -1},
        LockCase{"dcf77 a 10 minute fade", "dcf77", StationDcf77, Afternoon, 5.0, 24, 8, 9, 10, true, -1},
        LockCase{"dcf77 a 35 minute gap", "dcf77", StationDcf77, Afternoon, 5.0, 46, 8, 9, 35, false, -1},
        LockCase{"dcf77 the station's time jumps", "dcf77", StationDcf77, Afternoon, 5.0, 26, 8, -1, 0, true,
                 9},
        LockCase{"dcf77 -5 dB, own seconds", "dcf77", StationDcf77, Afternoon, -5.0, 20, 15, -1, 0, true, -1,
                 true},
        LockCase{"msf -5 dB, own seconds", "msf", StationMsf, Afternoon, -5.0, 20, 15, -1, 0, true, -1, true},
        LockCase{"hbg -5 dB, own seconds", "hbg", StationHbg, Afternoon, -5.0, 20, 15, -1, 0, true, -1, true},
        LockCase{"wwv -5 dB, own seconds", "wwv", StationWwv, Afternoon, -5.0, 22, 20, -1, 0, true, -1, true},
        LockCase{"dcf77 -10 dB, own seconds", "dcf77", StationDcf77, Afternoon, -10.0, 60, 60, -1, 0, true,
                 -1, true},
        LockCase{"dcf77 a leap second", "dcf77", StationDcf77, NewYearsEve, 5.0, 32, 8, -1, 0, true, 19,
                 false, LeapSecond},
        LockCase{"dcf77 a leap second while the time is being found", "dcf77", StationDcf77,
                 NewYearsEve + 17 * 60, 0.0, 20, 16, -1, 0, true, 2, false, LeapSecond},
        LockCase{"dcf77 own seconds, a 10 minute fade", "dcf77", StationDcf77, Afternoon, 5.0, 24, 8, 9, 10,
                 true, -1, true},
        LockCase{"chu +10 dB", "chu", StationChu, Afternoon, 10.0, 4, 2, -1, 0, true, -1},
        LockCase{"chu 0 dB", "chu", StationChu, Afternoon, 0.0, 18, 15, -1, 0, true, -1},
        LockCase{"chu +10 dB, own seconds", "chu", StationChu, Afternoon, 10.0, 6, 4, -1, 0, true, -1, true},
        LockCase{"chu a 10 minute fade", "chu", StationChu, Afternoon, 5.0, 18, 4, 5, 10, true, -1},
        LockCase{"chu the station's time jumps", "chu", StationChu, Afternoon, 5.0, 14, 4, -1, 0, true, 6}));

}  // namespace
