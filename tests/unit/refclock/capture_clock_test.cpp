// SPDX-License-Identifier: GPL-3.0-or-later
// The capture clock's line against stamps whose truth is known: a card off nominal, driver
// jitter, late callbacks, lost samples; and the stamps the simulated capture puts on buffers.
#include "timing/capture_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "capture/source_wave_input.h"

namespace {

constexpr int64_t T0 = 1796648400LL * 1000000000LL;  // 2026-12-07T13:00:00Z in ns

struct LineCase {
  const char* name;
  double rate;          // the card's true samples per second of system time
  double jitter_s;      // +- uniform on every stamp
  int late_every;       // every n-th stamp 50 ms late (0: none)
  int64_t lost_at;      // buffer index after which 4096 samples go missing (-1: none)
  double tolerance_s;   // largest error of the line at the newest buffers
};

class LineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineTest, FollowsTheTrueTimeOfEachSample) {
  const LineCase& c = GetParam();
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> jitter(-c.jitter_s, c.jitter_s);
  CaptureClock clock;
  int64_t lost = 0;  // samples the card took that the capture never counted
  const int buffers = 4 * 90;  // 90 s of 2048-sample buffers
  double worst = 0.0;
  for (int b = 0; b < buffers; ++b) {
    if (c.lost_at >= 0 && b == c.lost_at) lost += 4096;
    const int64_t sample = int64_t{b} * 2048;
    const double true_s = static_cast<double>(sample + lost) / c.rate;
    double stamp_s = true_s + (c.jitter_s > 0 ? jitter(rng) : 0.0);
    if (c.late_every > 0 && b % c.late_every == c.late_every - 1) stamp_s += 0.050;
    clock.Add(sample, T0 + std::llround(stamp_s * 1e9));
    if (b >= buffers - 40) {
      ASSERT_TRUE(clock.Ready()) << "buffer " << b;
      // A point between two buffers, as a second's marker would lie.
      const double at = static_cast<double>(sample) - 777.25;
      const double truth = (at + static_cast<double>(lost)) / c.rate;
      const double err = static_cast<double>(clock.TimeNs(at) - T0) * 1e-9 - truth;
      worst = std::max(worst, std::fabs(err));
    }
  }
  EXPECT_LT(worst, c.tolerance_s);
  EXPECT_NEAR(clock.Rate(), c.rate, c.rate * 2e-5);
  EXPECT_EQ(clock.Restarts(), c.lost_at >= 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, LineTest,
    ::testing::Values(LineCase{"exact", 8000.0, 0.0, 0, -1, 2e-6},
                      LineCase{"fast_card_jitter", 8008.0, 0.002, 0, -1, 4e-4},
                      LineCase{"slow_card_jitter", 7992.0, 0.002, 0, -1, 4e-4},
                      LineCase{"late_callbacks", 8008.0, 0.002, 37, -1, 4e-4},
                      LineCase{"samples_lost", 7992.0, 0.002, 0, 200, 6e-4}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CaptureClock, UnstampedBuffersAndANewCaptureLeaveNoTrace) {
  CaptureClock clock;
  for (int b = 0; b < 40; ++b) clock.Add(int64_t{b} * 2048, 0);
  EXPECT_FALSE(clock.Ready());
  for (int b = 0; b < 40; ++b) clock.Add(int64_t{b} * 2048, T0 + int64_t{b} * 256000000);
  ASSERT_TRUE(clock.Ready());
  // The sample count starts again (a restarted capture) an hour later.
  const int64_t t1 = T0 + 3600LL * 1000000000LL;
  clock.Add(0, t1);
  EXPECT_FALSE(clock.Ready());
  for (int b = 1; b < 40; ++b) clock.Add(int64_t{b} * 2048, t1 + int64_t{b} * 256000000);
  ASSERT_TRUE(clock.Ready());
  EXPECT_EQ(clock.TimeNs(2048.0 * 10), t1 + 10LL * 256000000);
}

// A source of silence, so that only the stamps matter.
class Silence : public SampleSource {
 public:
  size_t Read(int16_t* out, size_t count) override {
    std::memset(out, 0, count * sizeof *out);
    return count;
  }
};

TEST(SourceStamps, BuffersCarryTheSystemTimeOfTheirFirstSample) {
  // A card 0.1 % fast whose driver reads the clock 20 ms late, +-2 ms, and says so.
  CaptureStamps st;
  st.first_ns = T0;
  st.samples_per_second = 8008.0;
  st.latency_s = 0.020;
  st.jitter_s = 0.002;
  SourceWaveInput wave(std::make_unique<Silence>());
  wave.SetCaptureStamps(st);
  WAVEFORMATEX fmt{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  HWAVEIN h = 0;
  ASSERT_EQ(wave.waveInOpen(&h, WAVE_MAPPER, &fmt, 0, 0, 0), MMSYSERR_NOERROR);
  std::vector<int16_t> data(2048);
  WAVEHDR hdr;
  hdr.lpData = reinterpret_cast<char*>(data.data());
  hdr.dwBufferLength = 4096;
  ASSERT_EQ(wave.waveInPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  ASSERT_EQ(wave.waveInStart(h), MMSYSERR_NOERROR);
  CaptureClock clock;
  double worst_stamp = 0.0;
  for (int b = 0; b < 200; ++b) {
    ASSERT_EQ(wave.waveInAddBuffer(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    ASSERT_TRUE(wave.Pump());
    const double truth = static_cast<double>(b) * 2048 / 8008.0;
    const double err = static_cast<double>(hdr.CaptureTimeNs - T0) * 1e-9 - truth;
    worst_stamp = std::max(worst_stamp, std::fabs(err));
    clock.Add(int64_t{b} * 2048, hdr.CaptureTimeNs);
  }
  // Each stamp within the jitter, the latency gone; the line much closer than the jitter.
  EXPECT_LT(worst_stamp, 0.002 + 1e-6);
  EXPECT_GT(worst_stamp, 0.001);  // the jitter really is there
  const double line_err = static_cast<double>(clock.TimeNs(199.0 * 2048) - T0) * 1e-9 - 199.0 * 2048 / 8008.0;
  EXPECT_LT(std::fabs(line_err), 4e-4);
  wave.waveInReset(h);
  wave.waveInClose(h);
}

}  // namespace
