// SPDX-License-Identifier: GPL-3.0-or-later
// Soft symbols and the minute's phase in known noise: slot levels made from a symbol's template
// plus Gaussian noise of a known scatter, read back through the likelihoods.
#include "tracking/soft_symbols.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "app/varnol_doc.h"
#include "simulator/dcf77_code.h"
#include "simulator/station_codes.h"
#include "tracking/minute_phase.h"
#include "unit/tracking/known_noise.h"

namespace {

// Two symbols told apart in noise: the maximum-likelihood choice between them errs with
// probability Q(sqrt(n) * step / (2 sigma)), n the slots in which they differ.
struct PairCase {
  const char* name;
  int station;
  int sent, other;  // symbol indices in the station's table
  double step_over_sigma;
};

class SymbolPairTest : public ::testing::TestWithParam<PairCase> {};

TEST_P(SymbolPairTest, ErrorRateIsThePhysicsOne) {
  const PairCase& c = GetParam();
  const StationSymbols& t = *SymbolsFor(c.station);
  KnownNoise noise(t, 1.0, 0.15, (1.0 - 0.15) / c.step_over_sigma, 20260 + c.sent);
  const int differing = __builtin_popcount(t.symbols[c.sent].low_slots ^ t.symbols[c.other].low_slots);
  const double expected = 0.5 * std::erfc(std::sqrt(differing) * c.step_over_sigma / 2.0 / std::sqrt(2.0));
  constexpr int Trials = 20000;
  int errors = 0;
  for (int i = 0; i < Trials; ++i) {
    double ll[MaxSymbols];
    noise.Second(c.sent, ll);
    if (ll[c.other] > ll[c.sent]) ++errors;
  }
  const double rate = static_cast<double>(errors) / Trials;
  const double tolerance = 4.0 * std::sqrt(expected * (1.0 - expected) / Trials) + 1e-4;
  EXPECT_NEAR(rate, expected, tolerance) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    KnownNoise, SymbolPairTest,
    ::testing::Values(PairCase{"dcf77 0 vs 1, 1 sigma", StationDcf77, 0, 1, 1.0},
                      PairCase{"dcf77 1 vs 0, 2 sigma", StationDcf77, 1, 0, 2.0},
                      PairCase{"dcf77 0 vs 1, 3 sigma", StationDcf77, 0, 1, 3.0},
                      PairCase{"dcf77 59 vs 0, 2 sigma", StationDcf77, 2, 0, 2.0},
                      PairCase{"msf A vs B, 2 sigma (two slots)", StationMsf, 1, 2, 2.0},
                      PairCase{"msf marker vs AB, 1 sigma", StationMsf, 4, 3, 1.0},
                      PairCase{"wwvb 1 vs marker, 1 sigma (three slots)", StationWwvb, 1, 2, 1.0},
                      PairCase{"hbg mark 3 vs mark 2, 2 sigma", StationHbg, 4, 3, 2.0},
                      PairCase{"jjy marker vs 1, 1 sigma (three slots)", StationJjy, 2, 1, 1.0}));

// The carrier's slots read coherently: DCF77's carrier (reduced to 15 % in the low slots, its
// phase kept) at a tone off its nominal 1000 Hz, perhaps drifting, in white noise. After two
// minutes the offset is followed, the full slots read the carrier's amplitude (a frequency or
// phase followed wrongly reads less), the reduced level is the carrier's 15 % (no bias from the
// noise: a magnitude or a choice of the levels below the middle reads more or less), and the
// scatter of a slot is that of the noise in one 100 ms, one-dimensional matched filter.
struct CoherentCase {
  const char* name;
  double offset_hz;       // the tone's offset at the start
  double drift_hz_per_s;  // and its drift
  double snr_300hz_db;    // full carrier to noise in a 300 Hz passband
};

class CoherentLevelsTest : public ::testing::TestWithParam<CoherentCase> {};

TEST_P(CoherentLevelsTest, ReadsTheCarrierAsTheMatchedFilter) {
  const CoherentCase& c = GetParam();
  const StationSymbols& t = *SymbolsFor(StationDcf77);
  constexpr double Rate = 8000.0, Amplitude = 600.0, Reduced = 0.15;
  // white noise over 0..4 kHz: a 300 Hz passband holds 300 / 4000 of it
  const double sigma = Amplitude / std::sqrt(2.0 * std::pow(10.0, c.snr_300hz_db / 10.0) * 300.0 / 4000.0);
  // the scatter of 2 / N sum x cos over a slot of N samples
  const double slot_sigma = sigma * std::sqrt(2.0 / (Rate / SlotsPerSecond));
  constexpr int Mask = (1 << 15) - 1;
  std::vector<int16_t> ring(Mask + 1);
  std::mt19937_64 rng(31);
  std::normal_distribution<double> normal(0.0, sigma);
  std::bernoulli_distribution bit(0.5);
  LevelTracker tracker(t);
  constexpr int Warmup = 120, Seconds = 420;
  double high_sum = 0.0, high_sq = 0.0, low_sum = 0.0;
  int high_n = 0, low_n = 0;
  double phase = 0.3;
  for (int k = 0; k < Seconds; ++k) {
    const int symbol = k % 60 == 59 ? 2 : (bit(rng) ? 1 : 0);
    for (int n = 0; n < static_cast<int>(Rate); ++n) {
      const double time = k + n / Rate;
      phase += 2.0 * M_PI * (1000.0 + c.offset_hz + c.drift_hz_per_s * time) / Rate;
      const int slot = n * SlotsPerSecond / static_cast<int>(Rate);
      const double a = SlotTemplate(t.symbols[symbol], slot, Amplitude, Reduced * Amplitude);
      const double x = std::round(a * std::cos(phase) + normal(rng));
      ring[(k * static_cast<int>(Rate) + n) & Mask] = static_cast<int16_t>(std::clamp(x, -32768.0, 32767.0));
    }
    double levels[SlotsPerSecond];
    tracker.Read(ring.data(), Mask, k * Rate, Rate, 1, 8, levels);
    tracker.Add(levels);
    if (k < Warmup) continue;
    for (int j = 0; j < SlotsPerSecond; ++j) {
      if (!(t.always_high >> j & 1)) continue;
      high_sum += levels[j];
      high_sq += levels[j] * levels[j];
      ++high_n;
    }
    low_sum += tracker.Low();
    ++low_n;
  }
  const double offset_now = c.offset_hz + c.drift_hz_per_s * Seconds;
  EXPECT_NEAR(tracker.ToneOffset(), offset_now, 0.15) << c.name;
  const double high_mean = high_sum / high_n;
  const double high_scatter = std::sqrt(high_sq / high_n - high_mean * high_mean);
  // the mean of thousands of slots: within a few of its standard errors, plus 2 % for what
  // the phase reference's own noise and the tone's turn within a slot take
  EXPECT_NEAR(high_mean, Amplitude, 0.02 * Amplitude + 4.0 * slot_sigma / std::sqrt(high_n)) << c.name;
  EXPECT_NEAR(high_scatter, slot_sigma, 0.1 * slot_sigma) << c.name;
  EXPECT_NEAR(tracker.Sigma(), slot_sigma, 0.25 * slot_sigma) << c.name;
  // the reduced level followed over about ten seconds, averaged over the run
  EXPECT_NEAR(low_sum / low_n, Reduced * Amplitude, 0.25 * slot_sigma) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Dcf77Carrier, CoherentLevelsTest,
    ::testing::Values(CoherentCase{"on frequency, -10 dB", 0.0, 0.0, -10.0},
                      CoherentCase{"3.7 Hz high, -10 dB", 3.7, 0.0, -10.0},
                      CoherentCase{"13.2 Hz low (past the fine turn's 10 Hz step), -5 dB", -13.2, 0.0, -5.0},
                      CoherentCase{"2 Hz high drifting 3 Hz in half an hour, -5 dB", 2.0, 3.0 / 1800.0, -5.0},
                      CoherentCase{"on frequency, +10 dB", 0.0, 0.0, 10.0}));

TEST(SoftSymbols, CapBoundsOneWreckedSecond) {
  // A second far outside the model (a static crash) counts at most LikelihoodCap against any
  // symbol.
  const StationSymbols& t = *SymbolsFor(StationDcf77);
  double levels[SlotsPerSecond] = {40, 40, 40, 40, 40, 40, 40, 40, 40, 40};
  double ll[MaxSymbols];
  SymbolLikelihoods(t, levels, 1.0, 0.15, 0.1, ll);
  for (int s = 0; s < t.symbol_count; ++s) EXPECT_GE(ll[s], -LikelihoodCap);
  EXPECT_DOUBLE_EQ(ll[2], 0.0);  // no reduction fits best
}

// A keyed tone's levels after a bad start (seconds read tens of milliseconds off, the next
// pulse in the silent slots): the levels and the scatter come back to the signal's own once
// the seconds are read right, rather than feeding on their own overestimate.
TEST(SoftSymbols, KeyedToneLevelsRecoverFromABadStart) {
  const StationSymbols& t = *SymbolsFor(StationWwv);
  LevelTracker tracker(t);
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 50.0);
  constexpr double High = 575.0, Low = 135.0;
  for (int second = 0; second < 400; ++second) {
    const SymbolShape& sent = t.symbols[second % 3 == 0 ? 1 : 0];  // ones and zeros
    double levels[SlotsPerSecond];
    for (int j = 0; j < SlotsPerSecond; ++j) levels[j] = SlotTemplate(sent, j, High, Low) + noise(rng);
    // the first seconds 60 ms early: the next second's pulse fills the last slot, and the
    // pulse's end is smeared
    if (second < 12) {
      levels[9] = High + noise(rng);
      levels[8] = 0.5 * (High + Low) + noise(rng);
    }
    tracker.Add(levels);
  }
  EXPECT_NEAR(tracker.High(), High, 0.1 * High);
  EXPECT_NEAR(tracker.Low(), Low, 0.1 * Low + 20.0);
  EXPECT_LT(tracker.Sigma(), 2.0 * 50.0);
}

// WWV's 100 Hz code at -10 dB in a 300 Hz passband, through a card 0.16 % fast (the subcarrier
// starts every second in the same phase, which the reading's cycle does not): the silent slots
// read as nothing and the keyed ones at the tone's amplitude. (The mean of 10 ms magnitudes
// reads the noise alone well above nothing; a phase taken from the second alone, where a 0
// keys under two slots, reads the keyed slots a fifth low.)
TEST(SoftSymbols, WwvCodeIsReadCoherently) {
  const StationSymbols& t = *SymbolsFor(StationWwv);
  constexpr double Rate = 8012.8;
  constexpr int Seconds = 180;
  constexpr double Amplitude = 600.0;
  const double sigma = Amplitude / std::sqrt(2.0 * std::pow(10.0, -1.0) * 300.0 / 4000.0);
  constexpr int Mask = (1 << 15) - 1;
  std::vector<int16_t> ring(Mask + 1);
  std::mt19937_64 rng(5);
  std::normal_distribution<double> normal(0.0, sigma);
  LevelTracker tracker(t);
  double silent = 0.0, keyed = 0.0;
  int64_t n = 0;
  for (int k = 0; k < Seconds; ++k) {
    const int symbol = k % 10 == 9 ? NistMarker : k % 3 == 0 ? NistOne : NistZero;
    for (; static_cast<double>(n) < (k + 1) * Rate; ++n) {
      // on from 30 ms to 200, 500 or 800 ms
      const double f = static_cast<double>(n) / Rate - k;
      const double on = f >= 0.03 && f < (symbol == NistZero  ? 0.2
                                          : symbol == NistOne ? 0.5
                                                              : 0.8)
                            ? 1.0
                            : 0.0;
      const double x = std::round(on * Amplitude * std::sin(2.0 * M_PI * 100.0 * f) + normal(rng));
      ring[n & Mask] = static_cast<int16_t>(std::clamp(x, -32768.0, 32767.0));
    }
    double levels[SlotsPerSecond];
    tracker.Read(ring.data(), Mask, k * Rate, Rate, t.code_cycles, t.code_period, levels);
    tracker.Add(levels);
    if (k < 60) continue;
    silent += (levels[8] + levels[9]) / 2.0 / (Seconds - 60);
    keyed += levels[1] / (Seconds - 60);
  }
  EXPECT_NEAR(silent, 0.0, 0.05 * Amplitude);
  EXPECT_NEAR(keyed, Amplitude, 0.07 * Amplitude);
}

// The minute's phase from DCF77 minutes at 2 sigma (each bit wrong one time in six, as at
// -10 dB in a 300 Hz passband): the right phase leads by the margin within the hour, and a
// clean false "missing second" in one minute, once the phase is sure, does not move it.
TEST(MinutePhase, FoundThroughNoiseAndFalseMarks) {
  const StationSymbols& t = *SymbolsFor(StationDcf77);
  for (const bool false_marks : {false, true}) {
    KnownNoise noise(t, 1.0, 0.15, 0.85 / 2.0, 7);
    MinutePhase phase(t);
    constexpr int TruePhase = 23;  // running second 23 is second 0
    int64_t sure_at = -1;
    for (int64_t k = 0; k < 60 * 60; ++k) {
      const int position = static_cast<int>((k - TruePhase + 60) % 60);
      const std::array<int, 60> bits = Dcf77Bits(1796648400 + (k - position - TruePhase), true);
      const int symbol = position == 59 ? 2 : bits[position];
      double ll[MaxSymbols];
      noise.Second(symbol, ll);
      if (false_marks && k == 40 * 60 + TruePhase + 30) {  // a clean "no reduction" where there was one
        ll[0] = ll[1] = -LikelihoodCap;
        ll[2] = 0.0;
      }
      phase.Add(k, ll);
      if (sure_at < 0 && phase.Margin() >= 40.0) sure_at = k;
      if (phase.Margin() >= 40.0) {
        ASSERT_EQ(phase.Best(), TruePhase) << "second " << k;
      }
    }
    EXPECT_GE(sure_at, 0) << "false marks " << false_marks;
    EXPECT_EQ(phase.Best(), TruePhase);
    std::printf("minute phase sure after %lld s (false marks: %d)\n", static_cast<long long>(sure_at),
                false_marks);
  }
}

}  // namespace
