// SPDX-License-Identifier: GPL-3.0-or-later
// The window's input stages: the tone looked for again when the station changes, a recording's
// own-rate shift switched off for it, nothing allocated once decided; the tuning aid's tap and
// spectrum.
#include "conditioning/input_stages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "simulator/receiver.h"
// The counting operators free what malloc gave; GCC cannot see that once they are inlined into
// the containers' code here.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
// The counting operator new is defined in no_allocation_test.cpp of this test program.
#define ALLOCATION_COUNTER_ELSEWHERE
#include "support/allocation_counter.h"
#include "unit/app/fakes.h"

namespace {

constexpr double Pi = 3.14159265358979323846;

// Seconds of a station's keyed carrier at `tone_hz` from the simulated receiver, 20 dB SNR.
std::vector<int16_t> Keyed(const char* station, double tone_hz, double seconds) {
  ReceiverSettings rs;
  rs.start_utc = 1796648700.0;
  rs.tone_hz = tone_hz;
  rs.amplitude = 3000;
  rs.snr_db = 20;
  rs.seed = 17;
  rs.card_rate = 8000.0;
  rs.duration_s = seconds;
  SimulatedReceiver rx(MakeEncoder(station), rs);
  std::vector<int16_t> out(static_cast<size_t>(seconds * 8000.0));
  out.resize(rx.Read(out.data(), out.size()));
  return out;
}

class InputStagesTest : public ::testing::Test {
 protected:
  FakeWaveInput wave;
  FakeClock clock;
  RecordingErrors errors;
  CVarnolDoc doc{wave, clock, errors};
  InputStages stages{doc};

  // Feeds `audio` a capture buffer at a time until the tone is decided; the seconds it took.
  double FeedUntilDecided(std::vector<int16_t>& audio) {
    size_t at = 0;
    for (; at + BufferSamples <= audio.size() && stages.Tone().phase != ToneState::Phase::Decided;
         at += BufferSamples)
      stages.Apply(audio.data() + at, BufferSamples);
    return static_cast<double>(at) / 8000.0;
  }
};

// DCF77 heard at 747 Hz, then the receiver tuned to MSF at 1500 Hz: the second station's tone
// is found and moved, not the first's shift kept; WWV's AM audio is then left where it is.
TEST_F(InputStagesTest, StationChangeLooksForTheToneAgain) {
  stages.SetTone(ToneSetting{}, StationDcf77);
  std::vector<int16_t> dcf = Keyed("dcf77", 747, 12);
  EXPECT_NEAR(FeedUntilDecided(dcf), LiveToneStage::DecideAfterSeconds, 0.3);
  ASSERT_TRUE(stages.Tone().decision.shifted);
  EXPECT_NEAR(stages.Tone().decision.from_hz, 747.0, 3.0);

  EXPECT_FALSE(stages.StationChanged(StationDcf77));  // the same station: nothing to do
  ASSERT_TRUE(stages.StationChanged(StationMsf));
  EXPECT_EQ(stages.Tone().phase, ToneState::Phase::Searching);
  std::vector<int16_t> msf = Keyed("msf", 1500, 12);
  const std::vector<int16_t> heard = msf;
  const double took = FeedUntilDecided(msf);
  EXPECT_NEAR(took, LiveToneStage::DecideAfterSeconds, 0.3);
  // Heard unchanged while looked for: the old shift no longer applies.
  EXPECT_EQ(std::vector<int16_t>(msf.begin(), msf.begin() + 8000),
            std::vector<int16_t>(heard.begin(), heard.begin() + 8000));
  ASSERT_TRUE(stages.Tone().decision.shifted);
  EXPECT_NEAR(stages.Tone().decision.from_hz, 1500.0, 3.0);

  ASSERT_TRUE(stages.StationChanged(StationWwv));
  EXPECT_EQ(stages.Tone().phase, ToneState::Phase::Decided);
  EXPECT_FALSE(stages.Tone().decision.shifted);
  EXPECT_EQ(stages.Tone().measured_hz, 100.0);
}

// A recording's tone moved at its own rate: a station change switches that shift off and looks
// on the 8000 Hz audio; a fixed frequency or "off" is kept whatever the station.
TEST_F(InputStagesTest, StationChangeSwitchesOffTheRecordingsShiftUnlessTheToneIsFixed) {
  // A recording whose tone needed no move (WWV's AM audio): decided before it played.
  doc.StationMode = StationWwv;
  stages.UseFileShift(ToneSetting{}, nullptr, ToneDecision{});
  EXPECT_EQ(stages.Tone().phase, ToneState::Phase::Decided);
  EXPECT_FALSE(stages.Tone().at_file_rate);

  FileToneShift shift(48000.0, 747.0, FrontEndToneHz);
  ToneDecision moved;
  moved.shifted = true;
  moved.from_hz = 747.0;
  doc.StationMode = StationDcf77;
  stages.UseFileShift(ToneSetting{}, &shift, moved);
  EXPECT_TRUE(stages.Tone().at_file_rate);
  ASSERT_TRUE(stages.StationChanged(StationHbg));
  EXPECT_FALSE(shift.On());
  EXPECT_EQ(stages.Tone().phase, ToneState::Phase::Searching);

  for (const ToneSetting fixed :
       {ToneSetting{ToneSetting::Mode::Fixed, 1500.0}, ToneSetting{ToneSetting::Mode::Off, 0.0}}) {
    FileToneShift kept(48000.0, 1500.0, FrontEndToneHz);
    stages.UseFileShift(fixed, &kept, moved);
    EXPECT_FALSE(stages.StationChanged(StationMsf));
    EXPECT_TRUE(kept.On());
    stages.NoTone();  // lets go of `kept` before it goes
  }
}

// From the first buffer on, the one on which the tone is decided included, the buffers pass
// the tap, the finder, the shift and the automatic gain without a single allocation.
TEST_F(InputStagesTest, StagesAllocateNothingPerBuffer) {
  stages.SetTone(ToneSetting{}, StationDcf77);
  stages.SetGain(GainSetting{true, 0.0});
  stages.SetTapOn(true);
  std::vector<int16_t> audio = Keyed("dcf77", 747, 20);
  long allocations = 0;
  for (size_t at = 0; at + BufferSamples <= audio.size(); at += BufferSamples) {
    const long before = g_allocations.load();
    stages.Apply(audio.data() + at, BufferSamples);
    allocations += g_allocations.load() - before;
  }
  ASSERT_EQ(stages.Tone().phase, ToneState::Phase::Decided);
  EXPECT_TRUE(stages.Tone().decision.shifted);
  EXPECT_EQ(allocations, 0);
  EXPECT_GT(stages.Tap().Written(), 8000 * 19);
}

// The tap keeps the newest second whatever the buffers' sizes, across the ring's end.
TEST(SampleTap, KeepsTheNewestSamplesAcrossTheRingsEnd) {
  SampleTap tap;
  std::vector<int16_t> all;
  for (int size : {1000, 2048, 5000, 3, 9000, 2048, 2048}) {
    std::vector<int16_t> buffer(static_cast<size_t>(size));
    for (int16_t& s : buffer) s = static_cast<int16_t>(all.size() * 7 % 32749), all.push_back(s);
    tap.Add(buffer.data(), size);
  }
  std::vector<int16_t> newest(SampleTap::Capacity);
  ASSERT_TRUE(tap.Latest(newest.data(), SampleTap::Capacity));
  EXPECT_EQ(newest, std::vector<int16_t>(all.end() - SampleTap::Capacity, all.end()));
  std::vector<int16_t> some(100);
  const int64_t from = tap.Written() - 5000;
  ASSERT_TRUE(tap.Copy(from, some.data(), 100));
  EXPECT_EQ(some, std::vector<int16_t>(all.begin() + from, all.begin() + from + 100));
  EXPECT_FALSE(tap.Copy(tap.Written() - SampleTap::Capacity - 1, some.data(), 100));  // gone
  EXPECT_FALSE(tap.Copy(tap.Written() - 50, some.data(), 100));                       // not yet come
}

// A sine shows in its own bin at its own level (0 dB at full scale), 60 dB above its far side.
class Spectrum : public ::testing::TestWithParam<double> {};

TEST_P(Spectrum, ShowsAToneInItsBinAtItsLevel) {
  const double hz = GetParam();
  const double amplitude = 3276.7;  // -20 dB
  std::vector<int16_t> sine(TuningSpectrum::Size);
  for (int n = 0; n < TuningSpectrum::Size; ++n)
    sine[static_cast<size_t>(n)] =
        static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * Pi * hz * n / 8000.0)));
  TuningSpectrum spectrum;
  spectrum.Compute(sine.data());
  const auto& db = spectrum.Db();
  int peak = 0;
  for (int k = 1; k < TuningSpectrum::Bins; ++k)
    if (db[static_cast<size_t>(k)] > db[static_cast<size_t>(peak)]) peak = k;
  EXPECT_NEAR(peak, TuningSpectrum::BinOf(hz), 0);
  // Between bins the Hann window loses up to 1.4 dB.
  EXPECT_NEAR(db[static_cast<size_t>(peak)], -20.0, 1.5);
  const int far = TuningSpectrum::BinOf(hz < 2000 ? hz + 1500 : hz - 1500);
  EXPECT_LT(db[static_cast<size_t>(far)], db[static_cast<size_t>(peak)] - 60.0);
}

INSTANTIATE_TEST_SUITE_P(Tones, Spectrum, ::testing::Values(300.0, 747.0, 1000.0, 2500.0, 3000.0));

}  // namespace
