// SPDX-License-Identifier: GPL-3.0-or-later
// WWV/WWVH: the 100 Hz synchronous detector (levels, selectivity, phase wrap, bit-identity
// with separate cosine and sine calls) and the minute-frame decoder on synthetic minutes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "station_pictures.h"

namespace {

constexpr double TwoPi = 6.283185307179586;
constexpr double CardRate = 3756.0 * 128.0 / 60.0;  // samples per second, 8012.8

// A block of a sine of `hz` (in true time at the card's nominal rate) and peak `amplitude`.
std::vector<int16_t> Tone(double hz, double amplitude, double phase, int blocks) {
  std::vector<int16_t> x(static_cast<size_t>(blocks) * BlockSize);
  for (size_t n = 0; n < x.size(); ++n)
    x[n] = static_cast<int16_t>(
        std::lround(amplitude * std::sin(TwoPi * hz * static_cast<double>(n) / CardRate + phase)));
  return x;
}

class DetectorTest : public DocTest {
 protected:
  void SetUp() override {
    doc.StationMode = StationWwv;
    doc.ResetSyncDetector();
  }
  // Runs the detector over `x`, block after block, returning each block's level.
  std::vector<int> Levels(const std::vector<int16_t>& x) {
    std::vector<int> levels;
    for (size_t b = 0; b + BlockSize <= x.size(); b += BlockSize) {
      doc.RunSyncDetector(x.data() + b);
      levels.push_back(doc.LevelTrace[doc.DisplayColumn]);
      doc.DisplayColumn = (doc.DisplayColumn + 1) % TraceColumns;
    }
    return levels;
  }
};

class HundredHertzLevel : public DetectorTest, public ::testing::WithParamInterface<double> {};

TEST_P(HundredHertzLevel, TwiceThePeakOnceTheWindowIsFull) {
  const std::vector<int> levels = Levels(Tone(100.0, 1000.0, GetParam(), 30));
  // the window fills over ten blocks
  for (int b = 0; b < 9; ++b) {
    EXPECT_LT(levels[b], levels[b + 1]) << b;
    EXPECT_NEAR(levels[b], 1997.0 * (b + 1) / 10.0, 25.0) << b;
  }
  // about 2A whatever the phase: 1280 samples hold 15.97 periods, not a whole number, so the
  // level wobbles by a few parts in a thousand from block to block
  for (int b = 9; b < 30; ++b) EXPECT_NEAR(levels[b], 1997, 8) << b;
}

INSTANTIATE_TEST_SUITE_P(Wwv, HundredHertzLevel, ::testing::Values(0.0, 0.7, 1.9, 3.1, 5.5));

TEST_F(DetectorTest, SilenceGivesZero) {
  for (int level : Levels(std::vector<int16_t>(40 * BlockSize, 0))) EXPECT_EQ(level, 0);
}

TEST_F(DetectorTest, SecondsTicksAreRejected) {
  // the 1000 Hz (WWV) and 1200 Hz (WWVH) ticks at the same amplitude: under 1 % of 1997
  for (double hz : {1000.0, 1200.0, 1500.0}) {
    doc.ResetSyncDetector();
    const std::vector<int> levels = Levels(Tone(hz, 1000.0, 0.3, 40));
    for (int b = 9; b < 40; ++b) EXPECT_LT(levels[b], 20) << hz << " Hz, block " << b;
  }
}

TEST_F(DetectorTest, SpectrumColumnIsCleared) {
  std::memset(doc.SpectrumTrace[doc.DisplayColumn], 0xAB, SpectrumBins);
  const std::vector<int16_t> x = Tone(100.0, 500.0, 0.0, 1);
  doc.RunSyncDetector(x.data());
  for (int k = 0; k < SpectrumBins; ++k) EXPECT_EQ(doc.SpectrumTrace[doc.DisplayColumn][k], 0) << k;
}

// The detector as written out sample by sample: cos and sin called separately (through
// volatile pointers, so the compiler cannot fuse them into one call), the sums in order.
struct ReferenceDetector {
  double phase = 0.0;
  double sums_i[10] = {};
  double sums_q[10] = {};
  int Block(const int16_t* x) {
    double (*volatile cosine)(double) = std::cos;
    double (*volatile sine)(double) = std::sin;
    double i_sum = 0.0, q_sum = 0.0;
    for (int n = 0; n < 128; ++n) {
      const double s = static_cast<double>(x[n]);
      i_sum += cosine(phase) * s;
      q_sum += sine(phase) * s;
      phase += 0.07841414786627582;
      if (phase > 6.2831853072) phase -= 6.2831853072;
    }
    for (int k = 0; k < 9; ++k) {
      sums_i[k] = sums_i[k + 1];
      sums_q[k] = sums_q[k + 1];
    }
    sums_i[9] = i_sum;
    sums_q[9] = q_sum;
    double si = 0.0, sq = 0.0;
    for (int k = 0; k < 10; ++k) {
      si += sums_i[k];
      sq += sums_q[k];
    }
    return static_cast<int>(std::sqrt(si * si + sq * sq) / 1280 * 4);
  }
};

TEST_F(DetectorTest, FirstWrapOnThe81stSample) {
  // 80 steps from 0 stay below the wrap; the 81st passes it
  double p = 0.0;
  for (int n = 0; n < 80; ++n) p += SyncPhaseStep;
  EXPECT_NEAR(p, 6.2731, 1e-4);
  EXPECT_LT(p, SyncPhaseWrap);
  EXPECT_GT(p + SyncPhaseStep, SyncPhaseWrap);
  // one block of 128 samples wraps exactly once
  const std::vector<int16_t> x(BlockSize, 0);
  doc.RunSyncDetector(x.data());
  EXPECT_NEAR(doc.SyncPhase, 128 * SyncPhaseStep - SyncPhaseWrap, 1e-12);
}

TEST_F(DetectorTest, BitIdenticalToSeparateCosineAndSine) {
  // VARNOL_TEST_SEED replays a run
  const char* given = std::getenv("VARNOL_TEST_SEED");
  const unsigned seed =
      given != nullptr ? static_cast<unsigned>(std::strtoul(given, nullptr, 10)) : std::random_device{}();
  std::printf("detector bit-identity seed %u (VARNOL_TEST_SEED=%u to repeat)\n", seed, seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  ReferenceDetector ref;
  std::vector<int16_t> x(BlockSize);
  const int blocks = 40000;  // 5.1 million samples, some 64 000 wraps
  int mismatches = 0;
  for (int b = 0; b < blocks && mismatches < 5; ++b) {
    for (auto& s : x) s = static_cast<int16_t>(sample(rng));
    const int expected = ref.Block(x.data());
    doc.RunSyncDetector(x.data());
    const bool same = doc.LevelTrace[doc.DisplayColumn] == expected &&
                      std::memcmp(&doc.SyncPhase, &ref.phase, sizeof(double)) == 0 &&
                      std::memcmp(doc.SyncSumsI, ref.sums_i, sizeof ref.sums_i) == 0 &&
                      std::memcmp(doc.SyncSumsQ, ref.sums_q, sizeof ref.sums_q) == 0;
    if (!same) {
      ++mismatches;
      ADD_FAILURE() << "block " << b << " differs";
    }
    ASSERT_GE(doc.SyncPhase, 0.0);
    ASSERT_LE(doc.SyncPhase, SyncPhaseWrap);
  }
}

// Capture start resets the detector; a station change neither resets nor advances it.
TEST_F(DetectorTest, StateRunsOnAcrossStationChangesAndResetsAtStart) {
  ScratchDirectory scratch;
  doc.StartCapture();
  ASSERT_EQ(doc.Stopped, 0);
  const std::vector<int16_t> tone = Tone(100.0, 800.0, 0.0, 16);
  wave.Complete(doc, 0, tone.data());
  doc.ProcessCaptureBuffer();
  const double phase = doc.SyncPhase;
  EXPECT_GT(phase, 0.0);
  for (int c = 0; c < TraceColumns; ++c) {
    if (doc.LevelTrace[c] == 0) continue;
    for (int k = 0; k < SpectrumBins; ++k) ASSERT_EQ(doc.SpectrumTrace[c][k], 0);
  }
  doc.StationMode = StationDcf77;
  wave.Complete(doc, 1, tone.data());
  doc.ProcessCaptureBuffer();
  EXPECT_EQ(doc.SyncPhase, phase);
  doc.StationMode = StationWwv;
  doc.StopCapture();
  doc.StartCapture();
  EXPECT_EQ(doc.SyncPhase, 0.0);
  for (int k = 0; k < SyncWindowBlocks; ++k) EXPECT_EQ(doc.SyncSumsI[k], 0.0);
  doc.StopCapture();
}

// ------------------------------------------------------------------------------- decoder --

enum { Zero = 0, One = 1, Marker = 2, NoPulse = 3, Short1 = 4, Long0 = 5 };

// 100 Hz pulses from 30 ms to 200, 500 or 800 ms; second 0 without a pulse.
void WwvTime(int (&sym)[60], int hour, int minute) {
  for (int& s : sym) s = Zero;
  sym[0] = NoPulse;
  for (int p : {9, 19, 29, 39, 49, 59}) sym[p] = Marker;
  int bits[60] = {};
  PutWeights(bits, {17, 16, 15, 13, 12, 11, 10}, {40, 20, 10, 8, 4, 2, 1}, minute);
  PutWeights(bits, {26, 25, 23, 22, 21, 20}, {20, 10, 8, 4, 2, 1}, hour);
  for (int s = 0; s < 60; ++s)
    if (bits[s]) sym[s] = One;
}

// Short1 and Long0: pulses a receiver's filters have shortened to 400 ms or lengthened to 300.
void FillWwv(CVarnolDoc& doc, const int (&sym)[60]) {
  FillRing(doc, [&](int s, double f) {
    constexpr double end[6] = {0.2, 0.5, 0.8, 0.0, 0.4, 0.3};
    return f >= 0.03 && f < end[sym[s]];
  });
}

class WwvTest : public DocTest {
 protected:
  void SetUp() override {
    doc.StationMode = StationWwv;
    doc.RingIndex = 3000;
    doc.SummerTimeFlag = 1;  // never read by this station
  }
};

struct WwvFieldCase {
  const char* name;
  int hour, minute;
  int extra[3];  // seconds whose pulse is set to `kind` besides the time, 0-terminated
  int kind;
  const char* record;
  int rec_hour, rec_minute;
};

class WwvFields : public WwvTest, public ::testing::WithParamInterface<WwvFieldCase> {};

TEST_P(WwvFields, MinuteOfTheCodePlusOne) {
  const WwvFieldCase& c = GetParam();
  int sym[60];
  WwvTime(sym, c.hour, c.minute);
  for (int s : c.extra)
    if (s != 0) sym[s] = c.kind;
  FillWwv(doc, sym);
  DecodeOnce(doc);
  ASSERT_EQ(doc.MarkerFlags[doc.DisplayColumn], 1);
  ASSERT_EQ(OnlyRecord(doc), c.record);
  if (*c.record == 0) return;  // not recorded: nothing more to compare
  EXPECT_EQ(doc.MinuteRecords[0].Hour, c.rec_hour);
  EXPECT_EQ(doc.MinuteRecords[0].Minute, c.rec_minute);
}

INSTANTIATE_TEST_SUITE_P(
    Wwv, WwvFields,
    ::testing::Values(
        WwvFieldCase{"Code1407", 14, 7, {0}, One, "Reset 14:08", 14, 8},
        WwvFieldCase{"Code1458", 14, 58, {0}, One, "Reset 14:59", 14, 59},
        WwvFieldCase{"Code2359", 23, 59, {0}, One, "Reset 00:00", 0, 0},
        WwvFieldCase{"Code1259", 12, 59, {0}, One, "Reset 13:00", 13, 0},
        // no check bit: a reading that is not a time of day is dropped
        WwvFieldCase{"Minute75IsNotATime", 5, 75, {0}, One, "", 0, 0},
        WwvFieldCase{"Hour24IsNotATime", 24, 10, {0}, One, "", 0, 0},
        WwvFieldCase{"HourUnits12IsNotATime", 14, 7, {23, 0}, One, "", 0, 0},
        WwvFieldCase{"Seconds14And24NotRead", 14, 7, {14, 24, 0}, One, "Reset 14:08", 14, 8},
        WwvFieldCase{"OneShortenedTo400msReadsOne", 14, 7, {15, 0}, Short1, "Reset 14:18", 14, 18},
        WwvFieldCase{"ZeroLengthenedTo300msReadsZero", 14, 7, {15, 0}, Long0, "Reset 14:08", 14, 8}),
    CaseName<WwvFields::ParamType>);

struct WwvFrameCase {
  const char* name;
  double pulse_end59;   // seconds: end of the second-59 pulse
  double pulse_end0;    // seconds: end of a pulse in second 0, 0 = none
  double pulse_start0;  // where that pulse starts
  bool frame;
};

class WwvFrame : public WwvTest, public ::testing::WithParamInterface<WwvFrameCase> {};

TEST_P(WwvFrame, MarkerThenAnEmptySecond) {
  const WwvFrameCase& c = GetParam();
  int sym[60];
  WwvTime(sym, 14, 7);
  FillRing(doc, [&](int s, double f) {
    if (s == 59) return f >= 0.03 && f < c.pulse_end59;
    if (s == 0) return f >= c.pulse_start0 && f < c.pulse_end0;
    constexpr double end[4] = {0.2, 0.5, 0.8, 0.0};
    return f >= 0.03 && f < end[sym[s]];
  });
  DecodeOnce(doc);
  EXPECT_EQ(doc.MarkerFlags[doc.DisplayColumn], c.frame ? 1 : 0);
  EXPECT_EQ(doc.MinuteRecordCount, c.frame ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Wwv, WwvFrame,
                         ::testing::Values(WwvFrameCase{"Frame", 0.8, 0.0, 0.0, true},
                                           WwvFrameCase{"Second59PulseEndedBefore700ms", 0.65, 0.0, 0.0,
                                                        false},
                                           WwvFrameCase{"Second59PulseIntoTenth8", 0.9, 0.0, 0.0, false},
                                           WwvFrameCase{"Second0ZeroPulse", 0.8, 0.2, 0.03, false},
                                           WwvFrameCase{"Second0PulseInTenth9", 0.8, 1.0, 0.9, false},
                                           WwvFrameCase{"Second59ZeroPulse", 0.2, 0.0, 0.0, false}),
                         CaseName<WwvFrame::ParamType>);

// 23:59 becomes 00:00, which never follows 23:59 in the clock step; 00:01 then does.
TEST_F(WwvTest, MidnightIsWrittenOneMinuteLate) {
  doc.AutoSetClock = 1;
  int sym[60];
  for (int minute : {58, 59}) {
    WwvTime(sym, 23, minute);
    FillWwv(doc, sym);
    DecodeOnce(doc);
    EndRun(doc);
  }
  EXPECT_EQ(doc.LastMinuteOfDay, 0);
  EXPECT_TRUE(log.writes.empty());
  EXPECT_EQ(std::string(doc.StatusText).rfind("mark ", 0), 0u);
  WwvTime(sym, 0, 0);
  FillWwv(doc, sym);
  DecodeOnce(doc);
  EndRun(doc);
  EXPECT_STREQ(doc.StatusText, "Reset 00:01");
  ASSERT_EQ(log.writes.size(), 1u);
  EXPECT_EQ(log.writes[0].wHour, 0);
  EXPECT_EQ(log.writes[0].wMinute, 1);
  EXPECT_EQ(log.writes[0].wSecond, 1);
}

}  // namespace
