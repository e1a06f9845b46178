// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/minute_mark.h"

#include <algorithm>
#include <cmath>

#include "tracking/soft_symbols.h"

namespace {

// The mean magnitude of the tone (`cycles` in `period` samples) in 10 ms pieces from `from_ms`
// to `to_ms` of the second: sample units of the tone's amplitude.
double ToneLevel(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
                 int from_ms, int to_ms) {
  double cos_table[128], sin_table[128];
  period = std::clamp(period, 1, 128);
  for (int k = 0; k < period; ++k) {
    const double phase = 2.0 * M_PI * cycles * k / period;
    cos_table[k] = std::cos(phase);
    sin_table[k] = std::sin(phase);
  }
  double sum = 0.0;
  int pieces = 0;
  for (int ms = from_ms; ms + 10 <= to_ms; ms += 10) {
    const int64_t from = std::llround(start + rate * ms / 1000.0);
    const int64_t to = std::llround(start + rate * (ms + 10) / 1000.0);
    if (to <= from) continue;
    double re = 0.0, im = 0.0;
    int k = static_cast<int>(((from % period) + period) % period);
    for (int64_t n = from; n < to; ++n) {
      const double x = ring[n & mask];
      re += x * cos_table[k];
      im -= x * sin_table[k];
      k = k + 1 == period ? 0 : k + 1;
    }
    sum += 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(to - from);
    ++pieces;
  }
  return pieces > 0 ? sum / pieces : 0.0;
}

}  // namespace

void MinuteMark::Reset() {
  heard_ = 0;
  next_ = 0;
}

double MinuteMark::Add(const int16_t* ring, int64_t mask, double start, double rate) {
  double ratios[3] = {};
  const int channels = std::clamp(tones_.channels, 0, 3);
  double x[3] = {};
  for (int c = 0; c < channels; ++c)
    x[c] = ToneLevel(ring, mask, start, rate, tones_.cycles[c], tones_.period[c], MarkBeginMs, MarkEndMs);
  const bool ready = heard_ == History;
  if (ready) {
    for (int c = 0; c < channels; ++c) {
      double sorted[History];
      std::copy(levels_[c], levels_[c] + History, sorted);
      std::nth_element(sorted, sorted + History / 2, sorted + History);
      const double base = sorted[History / 2];
      const double top = *std::max_element(levels_[c], levels_[c] + History);
      for (double& v : sorted) v = std::fabs(v - base);
      std::nth_element(sorted, sorted + History / 2, sorted + History);
      const double sigma = 1.4826 * sorted[History / 2];
      if (!(sigma > 1e-9)) {
        ratios[c] = 0.0;
        continue;
      }
      const double height = std::max(top - base, FloorSigmas * sigma);
      ratios[c] = height / (sigma * sigma) * (x[c] - base - height / 2.0);
    }
  }
  for (int c = 0; c < channels; ++c) levels_[c][next_] = x[c];
  next_ = (next_ + 1) % History;
  heard_ = std::min(heard_ + 1, History);
  if (!ready || channels == 0) return 0.0;
  // ln of the mean of e^ratio, computed from the largest
  const double top = *std::max_element(ratios, ratios + channels);
  double sum = 0.0;
  for (int c = 0; c < channels; ++c) sum += std::exp(ratios[c] - top);
  const double ratio = top + std::log(sum / channels);
  return std::clamp(ratio, -LikelihoodCap, LikelihoodCap);
}
