// SPDX-License-Identifier: GPL-3.0-or-later
// The tone measure, the off flags and trackers, and the ring queries.
#include <gtest/gtest.h>

#include <cmath>

#include "fakes.h"

namespace {

using FrontEndTest = DocTest;

// A block that repeats eight samples: one cycle of 1000 Hz at 8000 samples per second.
void ToneBlock(int16_t* block, int peak) {
  const int pattern[8] = {0, 707, 1000, 707, 0, -707, -1000, -707};
  for (int i = 0; i < BlockSize; ++i) block[i] = static_cast<int16_t>(pattern[i % 8] * peak / 1000);
}

TEST_F(FrontEndTest, TablesUseTheShortPiAndIncludeBothEnds) {
  EXPECT_DOUBLE_EQ(doc.CosTable[0], 1.0);
  EXPECT_DOUBLE_EQ(doc.CosTable[32], std::cos(2.0 * 3.1415926536 * 32 / 128.0));
  EXPECT_DOUBLE_EQ(doc.NegSinTable[128], -std::sin(2.0 * 3.1415926536));
  EXPECT_NE(doc.NegSinTable[128], 0.0);  // 3.1415926536 is not pi
}

TEST_F(FrontEndTest, ThousandHertzToneLevels) {
  int16_t block[BlockSize];
  const int16_t small[8] = {0, 70, 100, 70, 0, -70, -100, -70};
  for (int i = 0; i < BlockSize; ++i) block[i] = small[i % 8];
  doc.LevelStep(block);
  EXPECT_EQ(doc.SpectrumTrace[0][15], 10);
  EXPECT_EQ(doc.SpectrumTrace[0][16], 31);
  EXPECT_EQ(doc.SpectrumTrace[0][17], 10);
  EXPECT_EQ(doc.LevelTrace[0], 51);

  ToneBlock(block, 1000);
  doc.LevelStep(block);
  EXPECT_EQ(doc.SpectrumTrace[0][15], 106);
  EXPECT_EQ(doc.SpectrumTrace[0][16], 255);  // saturated
  EXPECT_EQ(doc.SpectrumTrace[0][17], 106);
  EXPECT_EQ(doc.LevelTrace[0], 467);
}

TEST_F(FrontEndTest, FftMatchesTheScaledForwardTransformMagnitudes) {
  // Any real input: |X[k]| equals the textbook DFT magnitude divided by 128.
  for (int i = 0; i < 128; ++i) {
    doc.FftRe[i] = std::sin(i * 0.37) * 300 + (i % 5) * 11;
    doc.FftIm[i] = 0.0;
  }
  double ref[128];
  for (int k = 0; k < 128; ++k) {
    double re = 0, im = 0;
    for (int t = 0; t < 128; ++t) {
      const double x = std::sin(t * 0.37) * 300 + (t % 5) * 11;
      re += x * std::cos(2 * M_PI * t * k / 128);
      im -= x * std::sin(2 * M_PI * t * k / 128);
    }
    ref[k] = std::hypot(re, im) / 128;
  }
  doc.Fft(7, 128, 128, 1);
  for (int k = 0; k < 128; ++k) EXPECT_NEAR(std::hypot(doc.FftRe[k], doc.FftIm[k]), ref[k], 1e-6) << k;
}

TEST_F(FrontEndTest, SilenceSettlesTheThresholdAtZero) {
  int16_t block[BlockSize] = {};
  doc.StationMode = StationDcf77;
  for (int n = 0; n < 2000; ++n) {
    doc.LevelStep(block);
    doc.DecisionStep();
  }
  for (int k = 0; k < SpectrumBins; ++k) ASSERT_EQ(doc.SpectrumTrace[0][k], 0);
  EXPECT_EQ(doc.LevelTrace[0], 0);
  EXPECT_EQ(doc.OffFlags[0], 1);
  EXPECT_EQ(doc.Threshold, 0);
  // The peak swings between -0.5 and 1.5 once it has decayed; the floor between 0.0 and 0.2.
  EXPECT_GE(doc.PeakLevel, -0.5);
  EXPECT_LE(doc.PeakLevel, 1.5);
  EXPECT_GE(doc.FloorLevel, 0.0);
  EXPECT_LE(doc.FloorLevel, 0.2 + 1e-12);
}

struct TrackerCase {
  int mode;
  int level;
  double peak, floor;
  double peak_after, floor_after;
  int off_flag;
};

class TrackerSteps : public DocTest, public ::testing::WithParamInterface<TrackerCase> {};

TEST_P(TrackerSteps, MoveByTheStationsFixedSteps) {
  const TrackerCase c = GetParam();
  doc.StationMode = c.mode;
  doc.PeakLevel = c.peak;
  doc.FloorLevel = c.floor;
  doc.Threshold = 100;
  doc.LevelTrace[doc.DisplayColumn] = c.level;
  doc.DecisionStep();
  EXPECT_DOUBLE_EQ(doc.PeakLevel, c.peak_after);
  EXPECT_DOUBLE_EQ(doc.FloorLevel, c.floor_after);
  EXPECT_EQ(doc.OffFlags[doc.DisplayColumn], c.off_flag);
  EXPECT_EQ(doc.LevelRing[doc.RingIndex], c.level);
  EXPECT_EQ(doc.Threshold, static_cast<int>((c.peak_after + c.floor_after) / 2.0));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TrackerSteps,
    ::testing::Values(
        // mode level peak floor -> peak floor off
        TrackerCase{2, 300, 200.0, 50.0, 202.0, 50.2, 0},   // strong: peak up, floor creeps up
        TrackerCase{2, 10, 200.0, 50.0, 199.5, 48.0, 1},    // weak: peak decays, floor drops
        TrackerCase{2, 200, 200.0, 200.0, 199.5, 200.2, 0}, // equal: peak down, floor up
        TrackerCase{2, 100, 200.0, 50.0, 199.5, 50.2, 1},   // equal to threshold: off
        TrackerCase{4, 300, 200.0, 50.0, 203.0, 50.5, 0},
        TrackerCase{5, 10, 200.0, 50.0, 199.8, 48.0, 1},
        TrackerCase{6, 300, 200.0, 50.0, 202.0, 50.5, 0},
        TrackerCase{6, 10, 200.0, 50.0, 199.5, 49.0, 1},
        TrackerCase{0, 2000, 1535.0, 0.0, 1536.0, 0.2, 0},  // peak clamp
        TrackerCase{3, 0, 10.0, 1.0, 9.5, 0.0, 1}));        // floor clamp

TEST_F(FrontEndTest, OffScoreReadsSixSlotsAtTheRightOffsets) {
  doc.BlocksPerMinute = 3756;
  doc.RingIndex = 100;
  doc.Threshold = 10;
  // Mark each slot with its offset from RingIndex, so the sum tells where the window began.
  for (int k = 0; k < 3756; ++k) doc.LevelRing[(100 + k) % 3756] = k;
  auto start_of = [&](int second, int tenth) {
    const int sum = 6 * doc.Threshold - doc.OffScore(second, tenth);
    return (sum - 15) / 6;  // k + (k+1) + ... + (k+5) = 6k + 15 when no wrap
  };
  EXPECT_EQ(start_of(0, 0), 3693);
  EXPECT_EQ(start_of(30, 5), 1847);
  EXPECT_EQ(start_of(0, 9), 3750);
  EXPECT_EQ(start_of(2, 0), 63);  // 62.6 rounds up
  // (1, 0): the current block, then the five oldest blocks of the ring.
  EXPECT_EQ(6 * doc.Threshold - doc.OffScore(1, 0), 0 + 1 + 2 + 3 + 4 + 5);
}

TEST_F(FrontEndTest, OffScoreWrapsAroundTheEndOfTheRing) {
  doc.BlocksPerMinute = 3700;
  doc.RingIndex = 3699 - 3640;  // put (0, 9)'s window across the end of the ring
  doc.Threshold = 0;
  for (int k = 0; k < LevelRingCapacity; ++k) doc.LevelRing[k] = 1;
  doc.LevelRing[3700] = 1000;  // beyond the minute in use: must never be read
  for (int s = 0; s < 60; ++s)
    for (int t = 0; t < 10; ++t) ASSERT_EQ(doc.OffScore(s, t), -6) << s << "," << t;
}

TEST_F(FrontEndTest, ModeSixUsesTheDetectorAndBlanksTheSpectrum) {
  int16_t buffer[BufferSamples];
  for (int i = 0; i < BufferSamples; ++i)
    buffer[i] = static_cast<int16_t>(std::lround(1000 * std::cos(SyncPhaseStep * i)));
  doc.StationMode = StationWwv;
  for (auto& row : doc.SpectrumTrace)
    for (auto& b : row) b = 7;
  doc.StartCapture();
  wave.Complete(doc, 0, buffer);
  doc.ProcessCaptureBuffer();
  for (int c = 0; c < 16; ++c)
    for (int k = 0; k < SpectrumBins; ++k) ASSERT_EQ(doc.SpectrumTrace[c][k], 0);
  // A full ten-block window of a 100 Hz tone of peak 1000 reads about 2000.
  EXPECT_NEAR(doc.LevelTrace[15], 2000, 10);
  EXPECT_EQ(doc.LevelRing[15], doc.LevelTrace[15]);
}

}  // namespace
