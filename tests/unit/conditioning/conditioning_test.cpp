// SPDX-License-Identifier: GPL-3.0-or-later
// Conditioning: the tone finder on keyed, steady and absent tones across 300..3000 Hz, the shift
// across rates (the moved tone's amplitude, nothing mirrored onto it), the tone decision, the
// level look-ahead against the front end's own measure, and the sound card's measured rate.
#include "conditioning/conditioning.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "conditioning/gain_stage.h"
#include "conditioning/level_probe.h"
#include "simulator/receiver.h"
#include "unit/app/fakes.h"

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr uint64_t Seed = 17;  // noise of every generated signal

// Seconds of a station's keyed carrier from the simulated receiver, at `tone_hz`.
std::vector<int16_t> Keyed(const char* station, double tone_hz, double amplitude, double snr_db,
                           double seconds) {
  ReceiverSettings rs;
  rs.start_utc = 1796648700.0;
  rs.tone_hz = tone_hz;
  rs.amplitude = amplitude;
  rs.snr_db = snr_db;
  rs.seed = Seed;
  rs.card_rate = 8000.0;
  rs.duration_s = seconds;
  SimulatedReceiver rx(MakeEncoder(station), rs);
  std::vector<int16_t> out(static_cast<size_t>(seconds * 8000.0));
  out.resize(rx.Read(out.data(), out.size()));
  return out;
}

// A steady carrier (amplitude 0 for none) in white noise of standard deviation `noise`.
std::vector<int16_t> Steady(double hz, double amplitude, double noise, double seconds) {
  std::mt19937_64 rng(Seed);
  std::normal_distribution<double> n(0.0, noise);
  std::vector<int16_t> out(static_cast<size_t>(seconds * 8000.0));
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(
        std::lround(amplitude * std::sin(2.0 * Pi * hz * static_cast<double>(i) / 8000.0) + n(rng)));
  return out;
}

// ---- Tone finder ------------------------------------------------------------------------------

struct FinderCase {
  const char* name;
  std::vector<int16_t> (*make)();
  bool found;
  double hz;
};

class Finder : public ::testing::TestWithParam<FinderCase> {};

TEST_P(Finder, FindsTheToneKeyedOnceASecond) {
  const FinderCase& c = GetParam();
  SCOPED_TRACE(testing::Message() << c.name << ", noise seed " << Seed);
  const std::vector<int16_t> audio = c.make();
  ToneFinder f;
  f.Add(audio.data(), static_cast<int>(audio.size()));
  const ToneFound r = f.Result();
  EXPECT_EQ(r.found, c.found) << "at " << r.hz << " Hz, keying " << r.keying;
  if (c.found && r.found) {
    EXPECT_NEAR(r.hz, c.hz, 3.0);
  }
}

template <int Hz, int Snr>
std::vector<int16_t> Dcf() {
  return Keyed("dcf77", Hz, 3000, Snr, 20);
}
template <int Hz>
std::vector<int16_t> Msf() {
  return Keyed("msf", Hz, 3000, 10, 20);
}
std::vector<int16_t> SteadyWhistle() {
  return Steady(1234, 3000, 300, 20);
}
std::vector<int16_t> NoiseOnly() {
  return Steady(0, 0, 1000, 20);
}
std::vector<int16_t> Silence() {
  return std::vector<int16_t>(160000, 0);
}
std::vector<int16_t> TooShort() {
  return Keyed("dcf77", 747, 3000, 20, 3);
}
// A keyed tone beside a steady whistle four times as strong: the keyed one is the station.
std::vector<int16_t> KeyedBesideWhistle() {
  std::vector<int16_t> a = Keyed("dcf77", 747, 3000, 20, 20);
  const std::vector<int16_t> w = Steady(1800, 12000, 0, 20);
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<int16_t>(std::clamp(a[i] + w[i], -32768, 32767));
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Finder,
    ::testing::Values(FinderCase{"dcf77 at 300 Hz", Dcf<300, 20>, true, 300},
                      FinderCase{"dcf77 at 747 Hz", Dcf<747, 20>, true, 747},
                      FinderCase{"dcf77 at 1000 Hz", Dcf<1000, 20>, true, 1000},
                      FinderCase{"dcf77 at 1733 Hz", Dcf<1733, 20>, true, 1733},
                      FinderCase{"dcf77 at 3000 Hz", Dcf<3000, 20>, true, 3000},
                      FinderCase{"dcf77 at 747 Hz in noise (3 dB)", Dcf<747, 3>, true, 747},
                      FinderCase{"msf (carrier cut) at 450 Hz", Msf<450>, true, 450},
                      FinderCase{"msf at 2500 Hz", Msf<2500>, true, 2500},
                      FinderCase{"keyed 747 Hz beside a stronger steady whistle", KeyedBesideWhistle, true,
                                 747},
                      FinderCase{"steady whistle", SteadyWhistle, false, 0},
                      FinderCase{"noise only", NoiseOnly, false, 0}, FinderCase{"silence", Silence, false, 0},
                      FinderCase{"three seconds are too few", TooShort, false, 0}));

// ---- The shift --------------------------------------------------------------------------------

struct ShiftCase {
  double rate, from_hz;
  double other_hz;  // a second input that must not reach the moved tone (0: none)
};

// Amplitude of the `hz` component of `x` (a whole number of its cycles is not needed: long run).
double Amplitude(const std::vector<double>& x, double rate, double hz) {
  double re = 0.0, im = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    re += x[i] * std::cos(2.0 * Pi * hz * static_cast<double>(i) / rate);
    im += x[i] * std::sin(2.0 * Pi * hz * static_cast<double>(i) / rate);
  }
  return 2.0 * std::hypot(re, im) / static_cast<double>(x.size());
}

// One second of `hz` at amplitude 0.5 through the shift, the first 0.1 s (the filter's start)
// left out.
std::vector<double> Shifted(const ShiftCase& c, double hz) {
  ToneShift s(c.rate, c.from_hz, FrontEndToneHz);
  const auto n = static_cast<size_t>(1.1 * c.rate);
  std::vector<float> x(n);
  for (size_t i = 0; i < n; ++i)
    x[i] = static_cast<float>(0.5 * std::sin(2.0 * Pi * hz * static_cast<double>(i) / c.rate));
  s.Process(x.data(), n);
  return std::vector<double>(x.begin() + static_cast<std::ptrdiff_t>(c.rate / 10), x.end());
}

class Shift : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(Shift, MovesTheToneTo1000HzAtItsAmplitudeAndNothingElseOntoIt) {
  const ShiftCase& c = GetParam();
  SCOPED_TRACE(testing::Message() << c.from_hz << " Hz at " << c.rate << " samples/s");
  ASSERT_TRUE(ToneShift::Fits(c.rate, c.from_hz, FrontEndToneHz));
  const std::vector<double> y = Shifted(c, c.from_hz);
  EXPECT_NEAR(Amplitude(y, c.rate, FrontEndToneHz), 0.5, 0.005);
  // Nothing else is left: all the power is the moved tone's.
  double power = 0.0;
  for (double v : y) power += v * v;
  const double rms = std::sqrt(power / static_cast<double>(y.size()));
  EXPECT_NEAR(rms, 0.5 / std::sqrt(2.0), 0.005) << "power beside the moved tone";
  if (c.other_hz > 0) {
    const std::vector<double> o = Shifted(c, c.other_hz);
    EXPECT_LT(Amplitude(o, c.rate, FrontEndToneHz), 0.005) << c.other_hz << " Hz reached 1000 Hz";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Shift,
                         ::testing::Values(ShiftCase{8000, 747, 0}, ShiftCase{8000, 300, 0},
                                           ShiftCase{8000, 2500, 500},  // 500 Hz mirrors onto 1000
                                           ShiftCase{8000, 3000, 1000}, ShiftCase{7119, 747, 494},
                                           ShiftCase{4000, 1800, 600}, ShiftCase{48000, 1500, 0},
                                           ShiftCase{192000, 77500, 75500},  // DCF77 from an antenna
                                           ShiftCase{384000, 60000, 58000},
                                           // a low rate's multiple away: folds onto the tone there
                                           ShiftCase{48000, 1500, 9500}, ShiftCase{44100, 747, 9567},
                                           ShiftCase{192000, 77500, 69500}));

// However a stream is cut into calls, every sample comes out the same, at every rate (the
// high rates work the tone's band in chunks at a lower rate).
TEST_P(Shift, GivesTheSameSamplesHoweverTheStreamIsCut) {
  const ShiftCase& c = GetParam();
  SCOPED_TRACE(testing::Message() << c.from_hz << " Hz at " << c.rate << " samples/s");
  const auto n = static_cast<size_t>(0.5 * c.rate);
  std::vector<float> whole(n);
  for (size_t i = 0; i < n; ++i)
    whole[i] = static_cast<float>(0.5 * std::sin(2.0 * Pi * c.from_hz * static_cast<double>(i) / c.rate) +
                                  0.1 * std::sin(2.0 * Pi * 1234.5 * static_cast<double>(i) / c.rate));
  std::vector<float> cut = whole;
  ToneShift one(c.rate, c.from_hz, FrontEndToneHz), pieces(c.rate, c.from_hz, FrontEndToneHz);
  one.Process(whole.data(), n);
  const size_t sizes[] = {1, 7, 513, 2, 4097, 64, 3, 1024, 331};
  for (size_t at = 0, k = 0; at < n; ++k) {
    const size_t take = std::min(sizes[k % std::size(sizes)], n - at);
    pieces.Process(cut.data() + at, take);
    at += take;
  }
  EXPECT_EQ(cut, whole);
}

TEST(Shift, RefusesWhatLiesAboveTheRatesReach) {
  EXPECT_FALSE(ToneShift::Fits(8000, 77500, FrontEndToneHz));
  EXPECT_FALSE(ToneShift::Fits(8000, 4000, FrontEndToneHz));
  EXPECT_FALSE(ToneShift::Fits(2400, 800, FrontEndToneHz));  // the moved band reaches 1200 Hz
  EXPECT_TRUE(ToneShift::Fits(4000, 1900, FrontEndToneHz));
}

// Live input: heard unchanged for its first ten seconds, then moved from where the tone was found.
TEST(LiveTone, DecidesAfterTenSecondsAndMovesTheTone) {
  std::vector<int16_t> audio = Keyed("dcf77", 747, 3000, 20, 30);
  const std::vector<int16_t> before = audio;
  LiveToneStage stage(ToneSetting{}, StationDcf77);
  size_t at = 0;
  for (; at + 2048 <= audio.size() && !stage.Decided(); at += 2048) stage.Apply(audio.data() + at, 2048);
  ASSERT_TRUE(stage.Decided());
  EXPECT_NEAR(static_cast<double>(at) / 8000.0, LiveToneStage::DecideAfterSeconds, 0.3);
  EXPECT_TRUE(std::equal(audio.begin(), audio.begin() + static_cast<std::ptrdiff_t>(at), before.begin()));
  EXPECT_NEAR(stage.Decision().from_hz, 747.0, 3.0);
  for (; at + 2048 <= audio.size(); at += 2048) stage.Apply(audio.data() + at, 2048);
  ToneFinder after;
  after.Add(audio.data() + 12 * 8000, 15 * 8000);
  EXPECT_NEAR(after.Result().hz, 1000.0, 3.0);
}

// ---- Decision -----------------------------------------------------------------------------------

TEST(ToneDecision, MovesOnlyWhatNeedsMoving) {
  ToneFound at747{true, 747.0, 29.0, 0.9, 20.0};
  ToneFound at1010{true, 1010.0, 29.0, 0.9, 20.0};
  const ToneSetting automatic{}, off{ToneSetting::Mode::Off, 0}, fixed{ToneSetting::Mode::Fixed, 77500};
  EXPECT_TRUE(DecideTone(automatic, at747, StationDcf77).shifted);
  EXPECT_DOUBLE_EQ(DecideTone(automatic, at747, StationDcf77).ShiftHz(), 253.0);
  EXPECT_FALSE(DecideTone(automatic, at1010, StationDcf77).shifted);
  EXPECT_FALSE(DecideTone(automatic, ToneFound{}, StationMsf).shifted);
  EXPECT_FALSE(DecideTone(automatic, at747, StationWwv).shifted);  // AM audio stays
  EXPECT_FALSE(DecideTone(automatic, at747, StationChu).shifted);
  EXPECT_FALSE(DecideTone(off, at747, StationDcf77).shifted);
  EXPECT_DOUBLE_EQ(DecideTone(fixed, ToneFound{}, StationDcf77).ShiftHz(), -76500.0);
  EXPECT_EQ(ParseToneSetting("77500")->hz, 77500.0);
  EXPECT_EQ(ParseToneSetting("auto")->mode, ToneSetting::Mode::Auto);
  for (const char* bad : {"", "99", "200000", "1k", "nan", "Auto"})
    EXPECT_FALSE(ParseToneSetting(bad)) << bad;
}

// ---- A recording looked at before it is decoded -----------------------------------------------

// A receiver's loud output: DCF77 at 747 Hz, 25 s at 8000 Hz.
// `faded` seconds of silence first: a fade that hides the tone at the recording's start.
std::string WriteRecording(const std::string& dir, double amplitude, int faded = 0) {
  std::vector<int16_t> audio(static_cast<size_t>(faded) * 8000, 0);
  const std::vector<int16_t> keyed = Keyed("dcf77", 747.0, amplitude, 20, 25);
  audio.insert(audio.end(), keyed.begin(), keyed.end());
  const std::string path = dir + "/rx.wav";
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) return "";
  sf_write_short(f, audio.data(), static_cast<sf_count_t>(audio.size()));
  sf_close(f);
  return path;
}

TEST(RecordingLookAhead, FindsTheToneAtTheFilesRateAndSetsTheGain) {
  char tmpl[] = "/tmp/varnol-conditioning-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string path = WriteRecording(tmpl, 8000);
  ASSERT_FALSE(path.empty());
  RecordingLookAhead look;
  std::string error;
  ASSERT_EQ(LookAheadRecording(path, ChannelChoice::Left, StationDcf77, ToneSetting{}, true, look, error),
            LookAheadOutcome::Done)
      << error;
  EXPECT_TRUE(look.tone.shifted);
  EXPECT_NEAR(look.tone.from_hz, 747.0, 3.0);
  ASSERT_TRUE(look.gain_db.has_value());
  EXPECT_LT(*look.gain_db, -15.0) << "amplitude 8000 is far above the trackers' range";
  // WWV's audio stays where it is; a carrier above the file's reach is refused with a reason.
  EXPECT_EQ(LookAheadRecording(path, ChannelChoice::Left, StationWwv, ToneSetting{}, false, look, error),
            LookAheadOutcome::Done);
  EXPECT_FALSE(look.tone.shifted);
  EXPECT_EQ(LookAheadRecording(path, ChannelChoice::Left, StationDcf77,
                               ToneSetting{ToneSetting::Mode::Fixed, 77500}, false, look, error),
            LookAheadOutcome::ToneOutOfReach);
  EXPECT_NE(error.find("77500"), std::string::npos) << error;
  EXPECT_EQ(LookAheadRecording(std::string(tmpl) + "/none.wav", ChannelChoice::Left, StationDcf77,
                               ToneSetting{}, true, look, error),
            LookAheadOutcome::CannotRead);
  // A tone faded out for the first 25 s is found in the next stretch.
  ASSERT_EQ(WriteRecording(tmpl, 8000, 25), path);
  ASSERT_EQ(LookAheadRecording(path, ChannelChoice::Left, StationDcf77, ToneSetting{}, false, look, error),
            LookAheadOutcome::Done);
  EXPECT_NEAR(look.tone.from_hz, 747.0, 3.0) << look.tone.text;
  std::remove(path.c_str());
  rmdir(tmpl);
}

// ---- Level look-ahead ---------------------------------------------------------------------------

// A steady tone's probed level is the front end's level of the same block while it is below the
// bytes' ceiling; the look-ahead's gain brings a loud recording's keyed tone to the target.
TEST(LevelLookAhead, ProbesAsTheFrontEndMeasuresAndAimsAtTheTarget) {
  FakeWaveInput wave;
  FakeClock clock;
  RecordingErrors errors;
  CVarnolDoc doc(wave, clock, errors);
  for (double hz : {990.0, 1000.0, 1040.0}) {
    const std::vector<int16_t> tone = Steady(hz, 300, 0, 1);
    LevelProbe one(StationDcf77);
    one.Add(tone.data() + 1280, 128);
    doc.LevelStep(tone.data() + 1280);
    // The front end truncates each of its three bytes.
    EXPECT_NEAR(one.Percentile(0.5), doc.LevelTrace[doc.DisplayColumn] + 1.5, 1.5) << hz;
  }
  const std::vector<int16_t> tone = Steady(1000, 300, 0, 1);
  LevelProbe probe(StationDcf77);
  probe.Add(tone.data(), static_cast<int>(tone.size()));
  EXPECT_EQ(LookAheadGainDb(probe, StationDcf77), 0.0) << "a level inside the range is left alone";

  for (double amplitude : {8000.0, 30000.0, 20.0}) {
    const std::vector<int16_t> loud = Keyed("dcf77", 1000, amplitude, 30, 20);
    LevelProbe p(StationDcf77);
    p.Add(loud.data(), static_cast<int>(loud.size()));
    const double db = LookAheadGainDb(p, StationDcf77);
    EXPECT_NEAR(p.Percentile(0.99) * std::pow(10.0, db / 20.0), GainStage::TargetBand(StationDcf77).target,
                1.0)
        << amplitude;
  }
  const std::vector<int16_t> wwv = Keyed("wwv", 1000, 30000, 30, 20);
  LevelProbe w(StationWwv);
  w.Add(wwv.data(), static_cast<int>(wwv.size()));
  EXPECT_LT(LookAheadGainDb(w, StationWwv), -20.0);
}

// ---- Sound card's rate ------------------------------------------------------------------------

TEST(CardRate, MeasuredOnceThirtySecondsOfStampsLieOnTheLine) {
  CardRateWatch watch;
  std::mt19937_64 rng(Seed);
  std::uniform_real_distribution<double> jitter(-0.0005, 0.0005);
  const double rate = 8012.8;  // 3756 blocks a minute
  int64_t block = 1;
  for (int buffer = 0; buffer < 4 * 60; ++buffer, block += 16) {
    const double t = static_cast<double>((block - 1) * 128) / rate + jitter(rng);
    watch.OnCaptureBuffer(nullptr, 2048, block, 1796648700000000000LL + static_cast<int64_t>(t * 1e9));
    if (buffer < 4 * 29) {
      EXPECT_FALSE(watch.BlocksPerMinute()) << buffer;
    }
  }
  ASSERT_TRUE(watch.BlocksPerMinute());
  EXPECT_EQ(*watch.BlocksPerMinute(), 3756);
}

}  // namespace
