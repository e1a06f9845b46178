// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/soft_symbols.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int PiecesPerSlot = 10;  // 10 ms pieces
constexpr int Pieces = SlotsPerSecond * PiecesPerSlot;

}  // namespace

void SlotLevels(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
                double levels[SlotsPerSecond]) {
  double cos_table[64], sin_table[64];
  period = std::clamp(period, 1, 64);
  for (int k = 0; k < period; ++k) {
    const double phase = 2.0 * M_PI * cycles * k / period;
    cos_table[k] = std::cos(phase);
    sin_table[k] = std::sin(phase);
  }
  int64_t from = std::llround(start);
  for (int j = 0; j < SlotsPerSecond; ++j) {
    double sum = 0.0;
    for (int i = 0; i < PiecesPerSlot; ++i) {
      const int piece = j * PiecesPerSlot + i;
      const int64_t to = std::llround(start + rate * (piece + 1) / Pieces);
      double re = 0.0, im = 0.0;
      // the phase from the absolute sample number, so that it never drifts between pieces
      int k = static_cast<int>(((from % period) + period) % period);
      for (int64_t n = from; n < to; ++n) {
        const double x = ring[n & mask];
        re += x * cos_table[k];
        im -= x * sin_table[k];
        k = k + 1 == period ? 0 : k + 1;
      }
      // the tone's amplitude: a tone of peak A sums to A / 2 per sample
      if (to > from) sum += 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(to - from);
      from = to;
    }
    levels[j] = sum / PiecesPerSlot;
  }
}

void LevelTracker::Reset() {
  seconds_ = 0;
  high_ = low_ = variance_ = 0.0;
}

void LevelTracker::Add(const double levels[SlotsPerSecond]) {
  double sum = 0.0;
  int n = 0;
  for (int j = 0; j < SlotsPerSecond; ++j) {
    if (!(table_->always_high >> j & 1)) continue;
    sum += levels[j];
    ++n;
  }
  const double mean = sum / n;
  double spread = 0.0;
  for (int j = 0; j < SlotsPerSecond; ++j)
    if (table_->always_high >> j & 1) spread += (levels[j] - mean) * (levels[j] - mean);
  spread /= n - 1;
  const double low = levels[table_->usually_low];
  if (seconds_ == 0) {
    high_ = mean;
    low_ = low;
    variance_ = spread;
  } else {
    high_ += 0.5 * (mean - high_);  // follows fading of a few seconds
    // A second without a reduction in that slot (DCF77's second 59) is not the low level.
    if (low < 0.5 * (high_ + low_)) low_ += 0.1 * (low - low_);
    variance_ += (seconds_ < 20 ? 1.0 / (seconds_ + 1) : 0.05) * (spread - variance_);
  }
  ++seconds_;
}

double LevelTracker::Sigma() const {
  // never below a hundredth of the full level: a noiseless signal must not give infinite
  // certainty to a slot that a small imperfection moves
  return std::max(std::sqrt(std::max(variance_, 0.0)), 0.01 * std::fabs(high_) + 1e-9);
}

void SymbolLikelihoods(const StationSymbols& table, const double levels[SlotsPerSecond], double high,
                       double low, double sigma, double* out) {
  const double scale = 1.0 / (2.0 * sigma * sigma);
  double best = -1e300;
  for (int s = 0; s < table.symbol_count; ++s) {
    double d2 = 0.0;
    for (int j = 0; j < SlotsPerSecond; ++j) {
      const double expected = (table.symbols[s].low_slots >> j & 1) ? low : high;
      d2 += (levels[j] - expected) * (levels[j] - expected);
    }
    out[s] = -d2 * scale;
    best = std::max(best, out[s]);
  }
  for (int s = 0; s < table.symbol_count; ++s) out[s] = std::max(out[s] - best, -LikelihoodCap);
}

double MaskLikelihood(const double* ll, int symbol_count, SymbolMask mask) {
  double sum = 0.0;
  int n = 0;
  for (int s = 0; s < symbol_count; ++s) {
    if (!(mask >> s & 1)) continue;
    sum += std::exp(ll[s]);
    ++n;
  }
  return n > 0 ? std::log(sum / n) : 0.0;
}
