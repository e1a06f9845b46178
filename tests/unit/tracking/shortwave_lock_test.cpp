// SPDX-License-Identifier: GPL-3.0-or-later
// The short-wave stations in the robust lock: WWV/WWVH's 100 Hz code, VNG's pulse lengths and
// RWM's minute mark. Minutes of soft symbols in known noise with flipped bits, false marks, a
// minute read a second off and a missing minute give the right minute phase and the right time
// or none; on simulated audio the lock finds them; and RWM's snap is made only where the lock's
// minute phase agrees.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/varnol_doc.h"
#include "platform/linux_clock.h"
#include "simulator/receiver.h"
#include "simulator/station_codes.h"
#include "tracking/lock_guard.h"
#include "tracking/minute_mark.h"
#include "tracking/minute_phase.h"
#include "tracking/soft_symbols.h"
#include "tracking/robust_lock.h"
#include "tracking/time_candidates.h"
#include "unit/tracking/known_noise.h"

namespace {

constexpr int64_t Afternoon = 1796648400;   // 2026-12-07 13:00 UTC
constexpr int64_t DayEnd = 1796687700;      // 2026-12-07 23:55 UTC
constexpr int64_t UsFallBack = 1793577000;  // 2026-11-01 23:50 UTC: a DST bit changes at 00:00

struct MinutesCase {
  const char* name;
  int station;
  int64_t start_utc;  // the minute the capture starts in (17 s into it)
  int minutes;
  double step_over_sigma;
  int flips;             // time-of-day seconds read wrong with full confidence in every minute
  int false_mark_every;  // every this many minutes a false minute mark at second 30 (0: none)
  int shifted_minute;    // a minute scored a second off, as after a false mark (-1: none)
  int missing_minute;    // a minute not received at all (-1: none)
  int phase_by;          // minutes by which the minute's phase is sure
  int lock_by;           // minutes by which the time is sure (0: the station sends none)
};

int First(SymbolMask mask) {
  for (int s = 0; s < MaxSymbols; ++s)
    if (mask >> s & 1) return s;
  return 0;
}

// Certainly `symbol` and nothing else.
void Certain(int symbol, int count, double* ll) {
  for (int s = 0; s < count; ++s) ll[s] = s == symbol ? 0.0 : -LikelihoodCap;
}

class ShortwaveMinutesTest : public ::testing::TestWithParam<MinutesCase> {};

TEST_P(ShortwaveMinutesTest, RightPhaseAndTimeOrNone) {
  const MinutesCase& c = GetParam();
  const StationSymbols& t = *SymbolsFor(c.station);
  KnownNoise noise(t, 1.0, 0.15, 0.85 / c.step_over_sigma, 19);
  MinutePhase phase(t);
  TimeCandidates times(t);
  constexpr int StartSecond = 17;
  constexpr int TruePhase = 60 - StartSecond;  // running seconds 43, 103, ... are second 0
  // seconds where the code's time of day lies (the flips go there)
  const int first_field = c.station == StationWwv ? 10 : 21;
  // The mark symbol and the silent second before it.
  const int mark = First(t.allowed[0]), before_mark = First(t.allowed[59]);
  int phase_at = -1, locked_at = -1, elapsed = 1;
  double ll[60][MaxSymbols] = {};
  bool heard[60] = {};
  for (int64_t k = 0; k < int64_t{60} * c.minutes - StartSecond; ++k) {
    const int m = static_cast<int>((k + StartSecond) / 60), p = static_cast<int>((k + StartSecond) % 60);
    if (m == c.missing_minute) {
      if (p == 59) ++elapsed;
      continue;
    }
    const int64_t minute = c.start_utc + 60 * m;
    SymbolMask expected[60];
    if (t.expected != nullptr) {
      t.expected(minute, expected);
    } else {
      std::copy(t.allowed, t.allowed + 60, expected);
    }
    noise.Second(First(expected[p]), ll[p]);
    heard[p] = m > 0 || p >= StartSecond;
    for (int f = 0; f < c.flips; ++f) {
      if (p != first_field + (m * 5 + f * 7) % 13) continue;
      Certain(First(expected[p]) == 0 ? 1 : 0, t.symbol_count, ll[p]);
    }
    if (c.false_mark_every > 0 && m % c.false_mark_every == 1) {
      if (p == 29) Certain(before_mark, t.symbol_count, ll[p]);
      if (p == 30) Certain(mark, t.symbol_count, ll[p]);
    }
    phase.Add(k, ll[p]);
    if (phase.Margin() >= RobustLock::PhaseMargin) {
      ASSERT_EQ(phase.Best(), TruePhase) << c.name << ", running second " << k;
      if (phase_at < 0) phase_at = m + 1;
    }
    if (p != 59 || t.expected == nullptr) continue;
    double scored[60][MaxSymbols];
    for (int q = 0; q < 60; ++q) {
      const int read = m == c.shifted_minute ? (q + 1) % 60 : q;
      std::copy(ll[read], ll[read] + MaxSymbols, scored[q]);
    }
    // the capture's clock two hours slow: it only chooses the candidates' date
    times.AddMinute(minute - 2 * 3600, scored, heard, elapsed);
    elapsed = 1;
    if (times.Sure()) {
      ASSERT_EQ(times.BestUtc(), minute) << c.name << ", minute " << m;
      if (locked_at < 0) locked_at = m + 1;
    }
  }
  std::printf("%s: phase after %d minutes, time after %d\n", c.name, phase_at, locked_at);
  EXPECT_GE(phase_at, 1) << c.name;
  EXPECT_LE(phase_at, c.phase_by) << c.name;
  if (c.lock_by > 0) {
    EXPECT_GE(locked_at, 1) << c.name;
    EXPECT_LE(locked_at, c.lock_by) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Minutes, ShortwaveMinutesTest,
    ::testing::Values(
        MinutesCase{"wwv clean", StationWwv, Afternoon, 12, 10.0, 0, 0, -1, -1, 3, 8},
        MinutesCase{"wwv one bit in six wrong", StationWwv, Afternoon, 30, 2.0, 0, 0, -1, -1, 6, 20},
        MinutesCase{"wwv a bit flipped each minute", StationWwv, Afternoon, 20, 10.0, 1, 0, -1, -1, 3, 14},
        MinutesCase{"wwv false marks", StationWwv, Afternoon, 20, 10.0, 0, 2, 3, -1, 4, 12},
        MinutesCase{"wwv a missing minute, the day's end", StationWwv, DayEnd, 14, 3.0, 0, 0, -1, 2, 4, 12},
        MinutesCase{"wwv daylight saving ends", StationWwv, UsFallBack, 14, 3.0, 0, 0, -1, -1, 4, 12},
        MinutesCase{"vng clean", StationVng, Afternoon, 12, 10.0, 0, 0, -1, -1, 3, 5},
        MinutesCase{"vng one bit in six wrong", StationVng, Afternoon, 30, 2.0, 0, 0, -1, -1, 6, 20},
        MinutesCase{"vng a bit flipped each minute", StationVng, Afternoon, 20, 10.0, 1, 0, -1, -1, 3, 16},
        MinutesCase{"vng false marks, the day's end", StationVng, DayEnd, 20, 10.0, 0, 2, 3, -1, 3, 10},
        MinutesCase{"vng a missing minute", StationVng, Afternoon, 12, 3.0, 0, 0, -1, 2, 4, 8},
        MinutesCase{"rwm clean", StationRwm, Afternoon, 6, 10.0, 0, 0, -1, -1, 3, 0},
        MinutesCase{"rwm one pulse in six wrong", StationRwm, Afternoon, 12, 2.0, 0, 0, -1, -1, 6, 0},
        MinutesCase{"rwm a false mark every other minute", StationRwm, Afternoon, 20, 10.0, 0, 2, -1, -1, 4,
                    0},
        MinutesCase{"chu pulses, clean", StationChu, Afternoon, 6, 10.0, 0, 0, -1, -1, 2, 0},
        MinutesCase{"chu one pulse in six wrong", StationChu, Afternoon, 12, 2.0, 0, 0, -1, -1, 4, 0},
        MinutesCase{"chu a false mark every other minute", StationChu, Afternoon, 20, 10.0, 0, 2, -1, -1, 3,
                    0}));

// On simulated receiver audio, the seconds' phase handed over as a perfect estimator would:
// WWV and VNG lock on the right time, RWM on the right minute phase, and nothing else.
struct AudioCase {
  const char* name;
  const char* station;
  int station_mode;
  double snr_300hz_db;
  int minutes;
  int by_minutes;  // locked (RWM: the phase sure) by then
  double fade = 0.0;  // depth of a fade locked to the minute
};

class ShortwaveAudioTest : public ::testing::TestWithParam<AudioCase> {};

TEST_P(ShortwaveAudioTest, RightLabelsOrNone) {
  const AudioCase& c = GetParam();
  constexpr double CardRate = 8012.8;
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Afternoon) + 17.3;
  rs.card_rate = CardRate;
  rs.snr_db = c.snr_300hz_db - 11.25;  // the simulator's SNR is over 0..4 kHz
  rs.duration_s = c.minutes * 60.0;
  rs.seed = 5;
  rs.fade_depth = c.fade;
  SimulatedReceiver rx(MakeEncoder(c.station), rs);
  std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * CardRate) + 4096);
  audio.resize(rx.Read(audio.data(), audio.size()));

  RobustLock lock(c.station_mode);
  ASSERT_TRUE(lock.Supported());
  const double first_sample = (std::ceil(rs.start_utc) - rs.start_utc) * CardRate;
  constexpr int Buffer = 2048;
  int at_minute = -1, checked = 0;
  for (size_t at = 0; at + Buffer <= audio.size(); at += Buffer) {
    lock.SetSecondLine(first_sample, CardRate);
    lock.OnBuffer(&audio[at], Buffer, static_cast<int64_t>(at),
                  static_cast<int64_t>((rs.start_utc + static_cast<double>(at) / CardRate) * 1e9));
    const double truth = rs.start_utc + static_cast<double>(at) / CardRate;  // UTC at sample `at`
    double into = 0.0;
    int64_t utc = 0;
    double start = 0.0;
    if (lock.PhaseOnly()) {
      ASSERT_FALSE(lock.UtcNear(static_cast<double>(at), &utc, &start));
      if (!lock.SecondOfMinuteNear(static_cast<double>(at), &into)) continue;
      ASSERT_NEAR(std::remainder(into - std::fmod(truth, 60.0), 60.0), 0.0, 0.01) << c.name;
    } else {
      if (!lock.UtcNear(static_cast<double>(at), &utc, &start)) continue;
      ASSERT_NEAR(rs.start_utc + start / CardRate, static_cast<double>(utc), 0.01) << c.name;
    }
    ++checked;
    if (at_minute < 0) at_minute = static_cast<int>(static_cast<double>(at) / CardRate / 60) + 1;
  }
  std::printf("%s: after %d minutes, %d buffers checked, state %s\n", c.name, at_minute, checked,
              LockStateName(lock.Status().state));
  EXPECT_GE(at_minute, 1) << c.name;
  EXPECT_LE(at_minute, c.by_minutes) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Audio, ShortwaveAudioTest,
                         ::testing::Values(AudioCase{"wwv -5 dB", "wwv", StationWwv, -5.0, 20, 15},
                                           AudioCase{"wwvh -5 dB", "wwvh", StationWwv, -5.0, 20, 15},
                                           // the 100 Hz code's markers repeat every ten seconds:
                                           // the minute's 800 ms tone tells the phase
                                           AudioCase{"wwv 7 dB fading", "wwv", StationWwv, 7.0, 12, 8, 0.6},
                                           AudioCase{"wwvh 7 dB fading", "wwvh", StationWwv, 7.0, 12, 8, 0.6},
                                           AudioCase{"vng 0 dB", "vng", StationVng, 0.0, 20, 15},
                                           AudioCase{"rwm -5 dB", "rwm", StationRwm, -5.0, 10, 5}));

// WWV's code bits read from simulated audio at -10 dB in 300 Hz, with and without fading and
// crashes: the log-likelihood ratio of the bit sent over the other one says how often such a
// second is read wrong, and the lock's margin rests on that. Over the seconds whose ratio is 3
// nats or more, the wrong ones may be at most twice what the ratios say (a level that follows
// each second's fit, taken as exact, makes them three times as many under fading).
TEST(SoftSymbols, WwvBitRatiosSayHowOftenTheyAreWrong) {
  constexpr double CardRate = 8012.8;
  for (const double fade : {0.0, 0.5}) {
    ReceiverSettings rs;
    rs.start_utc = static_cast<double>(Afternoon) + 17.3;
    rs.card_rate = CardRate;
    rs.snr_db = -10.0 - 11.25;
    rs.fade_depth = fade;
    rs.fade_period_s = 97.0;
    rs.static_per_minute = fade > 0.0 ? 2.0 : 0.0;
    rs.seed = 1;
    constexpr int Seconds = 3600;
    SimulatedReceiver rx(MakeEncoder("wwv"), rs);
    std::vector<int16_t> audio(static_cast<size_t>((Seconds + 3) * CardRate));
    audio.resize(rx.Read(audio.data(), audio.size()));
    const StationSymbols& t = *SymbolsFor(StationWwv);
    LevelTracker tracker(t);
    int confident = 0, wrong = 0;
    double said = 0.0;
    for (int m = 0; m < Seconds; ++m) {
      const int64_t utc = Afternoon + 18 + m;
      double levels[SlotsPerSecond];
      tracker.Read(audio.data(), (int64_t{1} << 40) - 1, (static_cast<double>(utc) - rs.start_utc) * CardRate,
                   CardRate, t.code_cycles, t.code_period, levels);
      tracker.Add(levels);
      if (m < 60) continue;
      double ll[MaxSymbols];
      SymbolLikelihoods(t, levels, tracker.High(), tracker.Low(), tracker.Sigma(), ll, tracker.LevelVariance());
      const int sent = WwvSymbols(utc - utc % 60)[utc % 60];
      if (sent != NistZero && sent != NistOne) continue;
      const double ratio = ll[sent] - ll[1 - sent];
      if (std::fabs(ratio) < 3.0) continue;
      ++confident;
      wrong += ratio < 0.0;
      said += 1.0 / (1.0 + std::exp(std::fabs(ratio)));
    }
    EXPECT_GT(confident, 1000) << "fade " << fade;
    EXPECT_LE(wrong, 2.0 * said) << "fade " << fade << ": " << wrong << " of " << confident;
  }
}

// WWV's and WWVH's minute tone (1500 Hz at the hour) in fading noise: every second 0 reads as
// the mark, every other second tells against it; noise alone leaves every second within the cap.
TEST(MinuteMark, SecondZeroAndNoOtherOnEitherStation) {
  constexpr double CardRate = 8012.8;
  for (const char* station : {"wwv", "wwvh", "none"}) {
    ReceiverSettings rs;
    rs.start_utc = static_cast<double>(Afternoon) + 3600.0 - 150.0;  // across 14:00
    rs.card_rate = CardRate;
    rs.snr_db = -4.0;
    rs.fade_depth = 0.6;
    rs.duration_s = 300.0;
    rs.seed = 9;
    const bool silent = std::string(station) == "none";
    if (silent) rs.amplitude = 0.0;
    SimulatedReceiver rx(MakeEncoder(silent ? "wwv" : station), rs);
    std::vector<int16_t> audio(1 << 22);  // 524 s: the whole run fits unwrapped
    audio.resize(rx.Read(audio.data(), audio.size()));
    MinuteMark mark(SymbolsFor(StationWwv)->mark_tones);
    int marks = 0, others_above = 0, others = 0;
    double others_sum = 0.0;
    for (int k = 0; k + 2 < 300; ++k) {
      const double start = (static_cast<double>(k) + 0.0) * CardRate;  // the seconds start on whole UTC
      const double ratio = mark.Add(audio.data(), (1 << 22) - 1, start, CardRate);
      ASSERT_LE(std::fabs(ratio), LikelihoodCap) << station;
      if (k < MinuteMark::History) continue;
      const bool second_zero = (k + 30) % 60 == 0;  // the run starts at second 30
      if (silent) continue;
      if (second_zero) {
        EXPECT_GT(ratio, 5.0) << station << " second " << k;
        ++marks;
      } else {
        others_above += ratio > 2.0;
        others_sum += ratio;
        ++others;
      }
    }
    if (!silent) {
      EXPECT_EQ(marks, 4) << station;
      EXPECT_EQ(others_above, 0) << station;
      EXPECT_LT(others_sum / others, -3.0) << station;  // each tells against being second 0
    }
  }
}

// RWM's snap: refused before the lock has the minute's phase, made where the write lands on
// the phase, refused a few seconds off it (a false mark), and untouched while no lock runs.
TEST(LockGuard, RwmSnapOnlyWhereTheMinutePhaseAgrees) {
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(Afternoon) + 23.0;
  rs.card_rate = 8000.0;
  rs.snr_db = 3.0;
  rs.duration_s = 4 * 60.0;
  SimulatedReceiver rx(MakeEncoder("rwm"), rs);
  std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * 8000.0));
  audio.resize(rx.Read(audio.data(), audio.size()));

  SimulatedClock inner(Afternoon);
  const double offset_hours = 5.5;  // the clock keeps UT + 5:30
  LockObserver idle(StationRwm);
  GuardedClock unguarded(inner, idle, &offset_hours);
  EXPECT_TRUE(unguarded.SetSystemTime(SystemTimeFromUnix(Afternoon + 7)));  // no lock runs

  LockObserver lock(StationRwm);
  GuardedClock guarded(inner, lock, &offset_hours);
  double written = 0.0, locked = 0.0;
  constexpr int Buffer = 2048;
  bool refused_early = false;
  for (size_t n = 0; n + Buffer <= audio.size(); n += Buffer) {
    lock.OnCaptureBuffer(&audio[n], Buffer, static_cast<int64_t>(n / BlockSize) + 1, 0);
    if (n == Buffer * 40) {  // ten seconds in: no phase yet
      EXPECT_FALSE(guarded.SetSystemTime(SystemTimeFromUnix(Afternoon + 60)));
      ASSERT_TRUE(guarded.TakeRefusal(&written, &locked));
      refused_early = std::isnan(locked);
    }
  }
  EXPECT_TRUE(refused_early);
  double into = 0.0;
  ASSERT_TRUE(lock.SecondOfMinuteNow(&into));
  const double truth = rs.start_utc + static_cast<double>(audio.size() / Buffer * Buffer) / 8000.0;
  EXPECT_NEAR(std::remainder(into - std::fmod(truth, 60.0), 60.0), 0.0, 0.01);

  const int64_t clock_now = static_cast<int64_t>(std::round(truth + offset_hours * 3600.0));
  const int writes = inner.WriteCount();
  for (const int off : {-29, -5, -1, 1, 2, 29}) {
    EXPECT_FALSE(guarded.SetSystemTime(SystemTimeFromUnix(clock_now + off))) << off;
    ASSERT_TRUE(guarded.TakeRefusal(&written, &locked)) << off;
    EXPECT_NEAR(written - locked, off, 0.6) << off;
  }
  EXPECT_EQ(inner.WriteCount(), writes);
  EXPECT_TRUE(guarded.SetSystemTime(SystemTimeFromUnix(clock_now)));
  EXPECT_EQ(inner.WriteCount(), writes + 1);
  EXPECT_FALSE(guarded.TakeRefusal(&written, &locked));
}

}  // namespace
