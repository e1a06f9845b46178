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
  double cos_table[128], sin_table[128];
  period = std::clamp(period, 1, 128);
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
  high_ = low_ = variance_ = on_variance_ = 0.0;
}

void LevelTracker::Add(const double levels[SlotsPerSecond]) {
  if (table_->tone_keyed) {
    AddToneKeyed(levels);
    return;
  }
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

void LevelTracker::AddToneKeyed(const double levels[SlotsPerSecond]) {
  // The silent level and the scatter about it from the slots no symbol keys.
  double sum = 0.0;
  int n = 0;
  for (int j = 0; j < SlotsPerSecond; ++j) {
    if (!(table_->always_low >> j & 1)) continue;
    sum += levels[j];
    ++n;
  }
  const double mean = sum / n;
  double spread = 0.0;
  for (int j = 0; j < SlotsPerSecond; ++j)
    if (table_->always_low >> j & 1) spread += (levels[j] - mean) * (levels[j] - mean);
  spread /= n - 1;
  const double weight = seconds_ < 20 ? 1.0 / (seconds_ + 1) : 0.05;
  if (seconds_ == 0) {
    low_ = mean;
    variance_ = on_variance_ = spread;
    high_ = *std::max_element(levels, levels + SlotsPerSecond);
  } else {
    low_ += 0.1 * (mean - low_);
    variance_ += weight * (spread - variance_);
  }
  // A tone below the scatter cannot be told from none: the level it is taken to have while
  // nothing is heard (a level that follows the noise would make noise look like pulses).
  high_ = std::max(high_, low_ + 2.0 * Sigma());
  // The tone's level: the least-squares fit of this second's slots to the template of its
  // most likely symbol, level_j = low + w_j (high - low), w_j the share of slot j keyed on.
  double ll[MaxSymbols];
  SymbolLikelihoods(*table_, levels, high_, low_, Sigma(), ll);
  int best = 0;
  for (int s = 1; s < table_->symbol_count; ++s)
    if (ll[s] > ll[best]) best = s;
  const SymbolShape& shape = table_->symbols[best];
  double ww = 0.0, wl = 0.0, on_spread = 0.0;
  int on = 0;
  for (int j = 0; j < SlotsPerSecond; ++j) {
    const double w = SlotTemplate(shape, j, 1.0, 0.0);
    ww += w * w;
    wl += w * (levels[j] - low_);
    if (w == 1.0) {
      on_spread += (levels[j] - high_) * (levels[j] - high_);
      ++on;
    }
  }
  if (ww > 0.0) high_ += 0.25 * (low_ + wl / ww - high_);  // follows fading of a few seconds
  // The scatter of a keyed slot (a tone plus noise scatters more than noise alone), slowly.
  if (on > 0) on_variance_ += weight * (on_spread / on - on_variance_);
  ++seconds_;
}

double LevelTracker::Sigma() const {
  if (table_->tone_keyed)
    return std::max(std::sqrt(std::max({variance_, on_variance_, 0.0})),
                    0.01 * std::fabs(high_ - low_) + 1e-9);
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
      const double expected = SlotTemplate(table.symbols[s], j, high, low);
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
