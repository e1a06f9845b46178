// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated receiver's models of real receivers, measured on the audio they make: the
// stations' reduced carrier and edges, the tone and the rate, the level, the AGC's overshoot,
// the band-pass's rounding, static crashes and fading that is not locked to the minute.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "simulator/receiver.h"
#include "station_pictures.h"

namespace {

constexpr double At1305 = 1796648700.0;  // 2026-12-07 13:05:00 UTC

// `seconds` of audio from the start of a minute, the card's clock exact.
std::vector<int16_t> Render(const std::string& station, ReceiverSettings rs, double seconds) {
  rs.start_utc = At1305;
  rs.card_rate = 8000.0;
  rs.duration_s = seconds;
  SimulatedReceiver receiver(MakeEncoder(station), rs);
  std::vector<int16_t> out(static_cast<size_t>(seconds * rs.sample_rate) + 16);
  out.resize(receiver.Read(out.data(), out.size()));
  return out;
}

// Peak of a sine from the RMS of samples [from, to) seconds.
double Level(const std::vector<int16_t>& x, double rate, double from, double to) {
  const size_t a = static_cast<size_t>(from * rate), b = static_cast<size_t>(to * rate);
  double sum = 0.0;
  for (size_t i = a; i < b; ++i) sum += static_cast<double>(x[i]) * x[i];
  return std::sqrt(2.0 * sum / static_cast<double>(b - a));
}

ReceiverSettings Quiet() {
  ReceiverSettings rs;
  rs.snr_db = 80.0;  // noise far below a sample step
  return rs;
}

// ------------------------------------------------------------------ carrier keying --

struct KeyingCase {
  const char* name;
  const char* station;
  bool keyed;
  double reduced;  // of the full amplitude
};

class StationKeying : public ::testing::TestWithParam<KeyingCase> {};

// The reduced carrier as the broadcasters describe it, and the envelope really reaching it.
TEST_P(StationKeying, ReducedCarrierAsBroadcast) {
  const KeyingCase& c = GetParam();
  auto encoder = MakeEncoder(c.station);
  const CarrierKeying k = encoder->Keying();
  EXPECT_EQ(k.keyed, c.keyed);
  if (!c.keyed) return;
  EXPECT_NEAR(k.reduced, c.reduced, 1e-4);
  EXPECT_GT(k.fall_s, 0.0);
  EXPECT_GT(k.rise_s, 0.0);
  double lowest = 1.0;
  for (double t = 1.0; t < 3.0; t += 0.001) lowest = std::min(lowest, encoder->Envelope(At1305 + t));
  EXPECT_NEAR(lowest, c.reduced, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Stations, StationKeying,
                         ::testing::Values(KeyingCase{"Dcf77", "dcf77", true, 0.15},
                                           KeyingCase{"Wwvb", "wwvb", true, 0.1413},  // -17 dB
                                           KeyingCase{"Msf", "msf", true, 0.0},
                                           KeyingCase{"Hbg", "hbg", true, 0.0},
                                           KeyingCase{"Vng", "vng", false, 0.0},
                                           KeyingCase{"Wwv", "wwv", false, 0.0}),
                         CaseName<StationKeying::ParamType>);

// ------------------------------------------------------------- tone, rate and level --

struct ToneCase {
  const char* name;
  double tone_hz;
  double sample_rate;
  double level;  // of full scale
};

class ToneRateLevel : public ::testing::TestWithParam<ToneCase> {};

// Power of the frequency `hz` in samples [from, to) seconds (Goertzel), per sample.
double PowerAt(const std::vector<int16_t>& x, double rate, double hz, double from, double to) {
  const size_t a = static_cast<size_t>(from * rate), b = static_cast<size_t>(to * rate);
  const double w = 2.0 * M_PI * hz / rate;
  double re = 0.0, im = 0.0;
  for (size_t i = a; i < b; ++i) {
    re += x[i] * std::cos(w * static_cast<double>(i));
    im += x[i] * std::sin(w * static_cast<double>(i));
  }
  const double n = static_cast<double>(b - a);
  return (re * re + im * im) / (n * n);
}

// The tone where it was put, as many samples a second as the rate says, the carrier's peak
// at the level asked for.
TEST_P(ToneRateLevel, WhereAndHowLoud) {
  const ToneCase& c = GetParam();
  ReceiverSettings rs = Quiet();
  rs.tone_hz = c.tone_hz;
  rs.sample_rate = c.sample_rate;
  rs.amplitude = c.level * 32767.0;
  const auto x = Render("dcf77", rs, 2.0);
  EXPECT_EQ(x.size(), static_cast<size_t>(2.0 * c.sample_rate));
  // carrier on from 0.2 s to the end of second 1
  const double at_tone = PowerAt(x, c.sample_rate, c.tone_hz, 1.3, 1.9);
  EXPECT_GT(at_tone, 1000.0 * PowerAt(x, c.sample_rate, c.tone_hz * 1.25, 1.3, 1.9));
  EXPECT_NEAR(Level(x, c.sample_rate, 1.3, 1.9), std::min(c.level * 32767.0, 32767.0),
              c.level * 32767.0 * 0.02);
}

INSTANTIATE_TEST_SUITE_P(Receivers, ToneRateLevel,
                         ::testing::Values(ToneCase{"Tone300", 300, 8000, 0.02},
                                           ToneCase{"WebReceiver747", 747, 8000, 0.25},
                                           ToneCase{"Tone3000FullScale", 3000, 8000, 1.0},
                                           ToneCase{"Tone1000At44100", 1000, 44100, 0.5},
                                           ToneCase{"Carrier77500At192000", 77500, 192000, 0.1},
                                           ToneCase{"Carrier60000At384000", 60000, 384000, 0.01}),
                         CaseName<ToneRateLevel::ParamType>);

// ----------------------------------------------------------------- AGC, filter, edges --

// Second 20 of DCF77 always carries a 1: the carrier is reduced from 20.0 to 20.2 s.
struct ShapeCase {
  const char* name;
  double agc_s, filter_hz;
  bool edges;
  double fall_lo, fall_hi;      // level in the 1 ms after the fall, of the steady level
  double return_lo, return_hi;  // level 0..5 ms after the carrier returns
  double after_lo, after_hi;    // level 5..15 ms after it returns (the AGC's overshoot)
};

class PulseShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(PulseShape, EdgesAndOvershoot) {
  const ShapeCase& c = GetParam();
  ReceiverSettings rs = Quiet();
  rs.agc_release_s = c.agc_s;
  rs.filter_hz = c.filter_hz;
  rs.carrier_edges = c.edges;
  const auto x = Render("dcf77", rs, 21.0);
  const double steady = Level(x, 8000, 20.7, 20.95);
  // the AGC holds the carrier near its set level between pulses (a slow release leaves it a
  // little above: the attack has not quite taken back what every reduction added)
  EXPECT_NEAR(steady, 600.0, 600.0 * 0.08);
  const double fall = Level(x, 8000, 20.0, 20.001) / steady;
  EXPECT_GE(fall, c.fall_lo);
  EXPECT_LE(fall, c.fall_hi);
  const double back = Level(x, 8000, 20.2, 20.205) / steady;
  EXPECT_GE(back, c.return_lo);
  EXPECT_LE(back, c.return_hi);
  const double after = Level(x, 8000, 20.205, 20.215) / steady;
  EXPECT_GE(after, c.after_lo);
  EXPECT_LE(after, c.after_hi);
}

INSTANTIATE_TEST_SUITE_P(Receivers, PulseShape,
                         ::testing::Values(
                             // steps: the full level right after the return, 1.0 after it
                             ShapeCase{"Ideal", 0, 0, false, 0.1, 0.3, 0.95, 1.05, 0.97, 1.03},
                             // the antenna's 1 ms time constant: the fall takes a few ms
                             ShapeCase{"CarrierEdges", 0, 0, true, 0.55, 0.8, 0.75, 0.95, 0.97, 1.03},
                             // a 100 Hz CW filter rounds both edges over several ms; 1000 Hz hardly
                             ShapeCase{"Filter100", 0, 100, false, 0.8, 1.05, 0.1, 0.5, 0.6, 0.95},
                             ShapeCase{"Filter1000", 0, 1000, false, 0.3, 0.8, 0.8, 1.02, 0.97, 1.03},
                             // the AGC's gain creeps up during the 200 ms reduction: the carrier comes back
                             // too strong, the more so the shorter the release
                             ShapeCase{"Agc10s", 10, 0, false, 0.1, 0.3, 1.02, 1.08, 1.02, 1.08},
                             ShapeCase{"Agc2s", 2, 0, false, 0.1, 0.3, 1.15, 1.3, 1.1, 1.3},
                             ShapeCase{"Agc05s", 0.5, 0, false, 0.1, 0.35, 1.5, 2.2, 1.1, 1.9}),
                         CaseName<PulseShape::ParamType>);

// WWV is heard in AM: the receiver's filter is its AM filter, which keeps the 100 Hz code and
// passes the ticks' 1000 Hz the better the wider it is (a CW band-pass around 1000 Hz would
// take the code away).
struct AmFilterCase {
  const char* name;
  double filter_hz;
  double code_lo, tone_lo, tone_hi;  // amplitude after the filter, of the amplitude before it
};

class AmFilter : public ::testing::TestWithParam<AmFilterCase> {};

// Amplitude of `hz` in samples [from, to) seconds.
double Amplitude(const std::vector<int16_t>& x, double hz, double from, double to) {
  const size_t a = static_cast<size_t>(from * 8000), b = static_cast<size_t>(to * 8000);
  double re = 0.0, im = 0.0;
  for (size_t i = a; i < b; ++i) {
    re += x[i] * std::cos(6.283185307179586 * hz * static_cast<double>(i) / 8000.0);
    im += x[i] * std::sin(6.283185307179586 * hz * static_cast<double>(i) / 8000.0);
  }
  return 2.0 * std::hypot(re, im) / static_cast<double>(b - a);
}

TEST_P(AmFilter, KeepsTheCodeAndPassesAudioToHalfItsWidth) {
  const AmFilterCase& c = GetParam();
  ReceiverSettings rs = Quiet();
  const auto plain = Render("wwv", rs, 3.0);
  rs.filter_hz = c.filter_hz;
  const auto filtered = Render("wwv", rs, 3.0);
  // second 1: the code pulse from 30 ms on; second 0: the minute's 1000 Hz tone for 0.8 s
  const double code = Amplitude(filtered, 100.0, 1.05, 1.15) / Amplitude(plain, 100.0, 1.05, 1.15);
  const double tone = Amplitude(filtered, 1000.0, 0.3, 0.7) / Amplitude(plain, 1000.0, 0.3, 0.7);
  EXPECT_GE(code, c.code_lo);
  EXPECT_LE(code, 1.02);
  EXPECT_GE(tone, c.tone_lo);
  EXPECT_LE(tone, c.tone_hi);
}

INSTANTIATE_TEST_SUITE_P(Widths, AmFilter,
                         ::testing::Values(AmFilterCase{"Am2400", 2400, 0.98, 0.76, 0.9},
                                           AmFilterCase{"Am6000", 6000, 0.98, 0.97, 1.02},
                                           AmFilterCase{"Am9000", 9000, 0.98, 0.97, 1.02}),
                         CaseName<AmFilter::ParamType>);

// ------------------------------------------------------------------ static, fading --

// Crashes stand far above the carrier, a few a minute, from their own generator: the receiver
// noise between them is the same as without them.
TEST(ReceiverStatic, CrashesAboveTheCarrierAndTheNoiseUntouched) {
  ReceiverSettings rs;
  const auto plain = Render("dcf77", rs, 60.0);
  rs.static_per_minute = 30.0;
  const auto crashes = Render("dcf77", rs, 60.0);
  int loud_plain = 0, loud = 0, same = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    loud_plain += std::abs(plain[i]) > 4 * 600 ? 1 : 0;  // 8 times the noise's sigma
    loud += std::abs(crashes[i]) > 4 * 600 ? 1 : 0;
    same += plain[i] == crashes[i] ? 1 : 0;
  }
  EXPECT_EQ(loud_plain, 0);
  EXPECT_GT(loud, 30);
  EXPECT_GT(same, static_cast<int>(plain.size() * 9 / 10));
}

struct FadeCase {
  const char* name;
  double period_s;
  double low_at_s;  // the fading's deepest point
};

class FadingPeriod : public ::testing::TestWithParam<FadeCase> {};

TEST_P(FadingPeriod, DeepestWhereThePeriodPutsIt) {
  const FadeCase& c = GetParam();
  ReceiverSettings rs = Quiet();
  rs.fade_depth = 0.6;
  rs.fade_period_s = c.period_s;
  const auto x = Render("wwvb", rs, c.period_s + 1.0);
  // WWVB's carrier is full from 0.8 s in every second
  const double deep = std::floor(c.low_at_s);
  EXPECT_NEAR(Level(x, 8000, deep + 0.85, deep + 0.95), 600.0 * 0.4, 600.0 * 0.05);
  EXPECT_NEAR(Level(x, 8000, c.period_s - 1.0 + 0.85, c.period_s - 1.0 + 0.95), 600.0, 600.0 * 0.05);
}

INSTANTIATE_TEST_SUITE_P(Periods, FadingPeriod,
                         ::testing::Values(FadeCase{"Minute", 60, 30}, FadeCase{"NotLocked37s", 37, 18.5},
                                           FadeCase{"NotLocked83s", 83, 41.5}),
                         CaseName<FadingPeriod::ParamType>);

}  // namespace
