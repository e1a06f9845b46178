// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/minute_mark.h"

#include <algorithm>
#include <cmath>

#include "tracking/soft_symbols.h"

namespace {

// The mean magnitude of the tone (`cycles` in `period` samples) in the 10 ms pieces from
// `from_ms` to `to_ms` of the second: sample units of the tone's amplitude.
double ToneLevel(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
                 int from_ms, int to_ms) {
  double pieces[TonePieces];
  PieceLevels(ring, mask, start, rate, cycles, period, pieces);
  double sum = 0.0;
  for (int piece = from_ms / 10; piece < to_ms / 10; ++piece) sum += pieces[piece];
  return sum / (to_ms / 10 - from_ms / 10);
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
