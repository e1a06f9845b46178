// SPDX-License-Identifier: GPL-3.0-or-later
// A sound card taking the long-wave carrier from the antenna at 96..384 kHz: the carrier moved to
// 1000 Hz at the card's rate and brought to 8000 samples a second, a sample out for every
// `factor` in, whatever pieces the card hands over; nothing from beside the carrier folds onto
// the moved tone (the path allocates nothing: no_allocation_test.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "capture/high_rate_stage.h"
#include "conditioning/conditioning.h"

namespace {

constexpr double TwoPi = 6.283185307179586;

// `seconds` of a sine of amplitude `amp` at `hz`, sampled `rate` times a second.
std::vector<int16_t> Sine(double hz, double amp, int rate, double seconds) {
  std::vector<int16_t> x(static_cast<size_t>(seconds * rate));
  for (size_t i = 0; i < x.size(); ++i)
    x[i] = static_cast<int16_t>(std::lround(amp * std::sin(TwoPi * hz * static_cast<double>(i) / rate)));
  return x;
}

// Amplitude of `hz` in the 8000 Hz samples from `from` seconds on.
double Amplitude(const std::vector<int16_t>& y, double hz, double from) {
  double re = 0.0, im = 0.0;
  const size_t a = static_cast<size_t>(from * 8000);
  for (size_t i = a; i < y.size(); ++i) {
    re += y[i] * std::cos(TwoPi * hz * static_cast<double>(i) / 8000.0);
    im += y[i] * std::sin(TwoPi * hz * static_cast<double>(i) / 8000.0);
  }
  return 2.0 * std::hypot(re, im) / static_cast<double>(y.size() - a);
}

// Through the stage in pieces of `piece` card samples (at most the stage's chunk).
std::vector<int16_t> Through(const std::vector<int16_t>& x, int rate, double carrier_hz, size_t piece) {
  ToneShift shift(rate, carrier_hz, FrontEndToneHz);
  HighRateStage stage(rate / 8000, &shift);
  std::vector<int16_t> y(x.size() / static_cast<size_t>(rate / 8000) + 1);
  size_t made = 0;
  for (size_t at = 0; at < x.size(); at += piece)
    made += stage.Process(x.data() + at, std::min(piece, x.size() - at), y.data() + made);
  y.resize(made);
  return y;
}

struct HighRateCase {
  const char* name;
  int rate;
  double carrier_hz;
  size_t piece;  // card samples per call
};

class HighRate : public ::testing::TestWithParam<HighRateCase> {};

TEST_P(HighRate, MovesTheCarrierAndLetsNothingFoldOntoIt) {
  const HighRateCase& c = GetParam();
  const int factor = c.rate / 8000;
  const std::vector<int16_t> carrier = Sine(c.carrier_hz, 10000.0, c.rate, 2.0);
  const std::vector<int16_t> y = Through(carrier, c.rate, c.carrier_hz, c.piece);
  EXPECT_EQ(y.size(), carrier.size() / static_cast<size_t>(factor));
  // The averaging costs the moved tone a quarter of a decibel at most.
  EXPECT_NEAR(Amplitude(y, FrontEndToneHz, 0.5), 10000.0, 10000.0 * 0.03);
  // A carrier 8 kHz beside it lands on 9000 Hz, which 8000 samples a second fold onto 1000 Hz:
  // the shift's low-pass and the average keep it 80 dB down.
  const std::vector<int16_t> beside = Sine(c.carrier_hz + 8000.0, 10000.0, c.rate, 2.0);
  EXPECT_LT(Amplitude(Through(beside, c.rate, c.carrier_hz, c.piece), FrontEndToneHz, 0.5), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Cards, HighRate,
                         ::testing::Values(HighRateCase{"Dcf77At192k", 192000, 77500, 256},
                                           HighRateCase{"Dcf77At192kOddPieces", 192000, 77500, 97},
                                           HighRateCase{"Msf60kAt384k", 384000, 60000, 256},
                                           HighRateCase{"Carrier40kAt96k", 96000, 40000, 200}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
