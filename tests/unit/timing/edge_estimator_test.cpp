// SPDX-License-Identifier: GPL-3.0-or-later
// The edge finder on synthetic markers at known, fractional positions with white noise, and
// the robust line through seconds with outliers and gaps.
#include "timing/edge_estimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double TwoPi = 6.283185307179586;
constexpr int64_t RingSize = int64_t{1} << 14;

struct EdgeCase {
  const char* name;
  EdgeShape shape;
  double hz;             // tone, Hz at 8000 samples per second
  int cycles, period;    // the same tone for the envelope
  double before, after;  // tone amplitude before and after the edge, sample units
  int after_samples;     // how long the level after lasts (a tick: 40)
  double snr_db;         // tone power over noise power, whole band
  bool edge;             // false: the level does not change (DCF77's second 59)
};

EdgeShape Falling(bool silent) {
  EdgeShape s;
  s.pre_begin = -480;
  s.pre_end = -48;
  s.post_begin = 48;
  s.post_end = 720;
  s.silent_low = silent;
  return s;
}

EdgeShape Rising(bool tick) {
  EdgeShape s = Falling(true);
  s.rising = true;
  s.tick = tick;
  if (tick) {
    s.pre_begin = -200;
    s.pre_end = -24;
  } else {
    s.post_end = 380;
  }
  return s;
}

class EdgeFinder : public ::testing::TestWithParam<EdgeCase> {};

// Each case: 40 markers at random fractional positions, each found within five standard
// deviations of the timing noise the SNR allows (plus the sample grid), and without bias.
// The standard deviation of the middle of a ramp L samples long and `depth` deep, in an
// envelope whose noise is sigma * sqrt(2 / L), is about sigma * sqrt(2 L) / depth samples.
TEST_P(EdgeFinder, FindsKnownEdgesWithinTheNoise) {
  const EdgeCase& c = GetParam();
  const uint64_t seed = 20261207;
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> fraction(0.0, 1.0);
  const double sigma = 600.0 / std::sqrt(2.0) / std::pow(10.0, c.snr_db / 20.0);
  std::normal_distribution<double> noise(0.0, sigma);
  const double depth = std::fabs(c.after - c.before);
  const double timing_sd = depth > 0 ? sigma * std::sqrt(2.0 * EnvelopeWindow) / depth : 0.0;
  const double tolerance = 5.0 * timing_sd + 0.6;

  std::vector<float> ring(RingSize);
  double sum_error = 0.0;
  int found = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const double edge = 6000.0 + 37.0 * trial + fraction(rng);
    ToneEnvelope envelope(c.cycles, c.period);
    for (int64_t n = 0; n < 9000; ++n) {
      const double t = static_cast<double>(n);
      const double level = t < edge ? c.before : (t < edge + c.after_samples ? c.after : c.before);
      const double x = level * std::sin(TwoPi * c.hz * static_cast<double>(n) / 8000.0 + 0.3) + noise(rng);
      ring[n & (RingSize - 1)] = envelope.Next(static_cast<int16_t>(std::lround(x)));
    }
    const EnvelopeRing view{ring.data(), RingSize - 1};
    // predicted a few milliseconds off, as a line still settling would
    const double predicted = edge + (trial % 2 == 0 ? 23.0 : -31.0);
    // the threshold the tracker uses once the seconds are followed
    const EdgeResult r = FindEdge(view, c.shape, predicted, 96, 3.0);
    if (!c.edge) {
      EXPECT_FALSE(r.found) << "trial " << trial << " found an edge at " << r.position;
      continue;
    }
    if (!r.found) continue;  // a weak edge may be refused, never misplaced
    EXPECT_NEAR(r.position, edge, tolerance) << "trial " << trial;
    sum_error += r.position - edge;
    ++found;
  }
  if (c.edge) {
    EXPECT_GE(found, 36) << "edges refused";  // at 0 dB an edge is about 4 times the scatter
    EXPECT_NEAR(sum_error / std::max(found, 1), 0.0, timing_sd + 0.3) << "bias";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, EdgeFinder,
    ::testing::Values(
        // DCF77: the carrier drops to 15 %
        EdgeCase{"drop15_30dB", Falling(false), 1000, 1, 8, 600, 90, 800, 30, true},
        EdgeCase{"drop15_10dB", Falling(false), 1000, 1, 8, 600, 90, 800, 10, true},
        EdgeCase{"drop15_0dB", Falling(false), 1000, 1, 8, 600, 90, 800, 0, true},
        // the same tone 40 Hz off the envelope's frequency (bins 15..17 of the front end)
        EdgeCase{"drop15_offtone", Falling(false), 1040, 1, 8, 600, 90, 800, 10, true},
        // MSF, HBG: the carrier goes off
        EdgeCase{"off_20dB", Falling(true), 1000, 1, 8, 600, 0, 800, 20, true},
        EdgeCase{"off_0dB", Falling(true), 1000, 1, 8, 600, 0, 800, 0, true},
        // VNG: a tone pulse of 50 ms
        EdgeCase{"pulse_10dB", Rising(false), 1000, 1, 8, 0, 600, 400, 10, true},
        // WWV and WWVH: 5 ms ticks
        EdgeCase{"tick1000_10dB", Rising(true), 1000, 1, 8, 0, 600, 40, 10, true},
        EdgeCase{"tick1200_10dB", Rising(true), 1200, 3, 20, 0, 600, 40, 10, true},
        // DCF77's second 59: no drop at all
        EdgeCase{"no_drop", Falling(false), 1000, 1, 8, 600, 600, 800, 10, false},
        // a tick missing (WWV's seconds 29 and 59)
        EdgeCase{"no_tick", Rising(true), 1000, 1, 8, 0, 0, 40, 10, false}),
    [](const ::testing::TestParamInfo<EdgeCase>& case_info) { return std::string(case_info.param.name); });

// ------------------------------------------------------------------------------ the line --

struct LineCase {
  const char* name;
  double slope;          // samples per second: the card 0.1 % slow, nominal, 0.1 % fast
  double outlier_share;  // seconds moved by 10 to 40 samples either way
  int missing_every;     // every n-th second has no marker (0: none)
};

class RobustLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(RobustLine, OutliersAndGapsDoNotMoveTheLine) {
  const LineCase& c = GetParam();
  std::mt19937_64 rng(7);
  std::normal_distribution<double> jitter(0.0, 1.0);  // samples
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  LinePoint points[MaxLinePoints];
  std::vector<double> scratch(LineScratchSize);
  std::vector<bool> wild;
  const double intercept = 123456.7;
  int n = 0;
  for (int64_t k = 100; k < 164 && n < 48; ++k) {
    if (c.missing_every > 0 && k % c.missing_every == 0) continue;
    const bool outlier = unit(rng) < c.outlier_share;
    double position = intercept + c.slope * static_cast<double>(k - 100) + jitter(rng);
    if (outlier) position += (unit(rng) < 0.5 ? -1.0 : 1.0) * (10.0 + 30.0 * unit(rng));
    points[n].second = k;
    points[n].position = position;
    points[n].weight = 1.0;
    wild.push_back(outlier);
    ++n;
  }
  const LineFit fit = FitRobustLine(points, n, 4.0, scratch.data());
  ASSERT_TRUE(fit.ok);
  const int64_t last = points[n - 1].second;
  // The end of the window, where the newest epoch is read: within 1.5 samples (0.2 ms) of
  // the truth, when a single second's jitter is 1 sample.
  EXPECT_NEAR(fit.At(last), intercept + c.slope * static_cast<double>(last - 100), 1.5);
  EXPECT_NEAR(fit.slope, c.slope, 0.1);
  for (int i = 0; i < n; ++i) {
    if (!wild[static_cast<size_t>(i)]) continue;
    EXPECT_FALSE(points[i].inlier) << "second " << points[i].second;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, RobustLine,
    ::testing::Values(LineCase{"clean_slow", 8004.8, 0.0, 0}, LineCase{"clean_fast", 8020.8, 0.0, 0},
                      LineCase{"bursts_20pc", 8012.8, 0.2, 0}, LineCase{"bursts_30pc_gaps", 7992.0, 0.3, 7},
                      LineCase{"every_minute_gap", 8012.8, 0.1, 3}),
    [](const ::testing::TestParamInfo<LineCase>& case_info) { return std::string(case_info.param.name); });

TEST(RobustLineLimits, TooFewPointsGiveNoLine) {
  LinePoint points[2] = {{1, 8000.0, 1.0, false}, {2, 16000.0, 1.0, false}};
  std::vector<double> scratch(LineScratchSize);
  EXPECT_FALSE(FitRobustLine(points, 2, 4.0, scratch.data()).ok);
  EXPECT_FALSE(FitRobustLine(points, 0, 4.0, scratch.data()).ok);
}

}  // namespace
