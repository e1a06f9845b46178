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
  // nothing is heard (a level that follows the noise would make noise look like pulses). The
  // silent slots' scatter only: the keyed slots' is measured about this level, so a floor
  // from it would feed on itself (a level set too high widens their scatter, which lifts the
  // level further) and never come back down.
  high_ = std::max(high_, low_ + 2.0 * std::sqrt(std::max(variance_, 0.0)));
  // The tone's level, fitted together with the second's symbol: for each symbol, the level x
  // above the silent one that best fits its template, level_j = low + w_j x (w_j the share of
  // slot j keyed on), held to the level followed so far, x0, by a weight of half a keyed slot:
  //     x = (sum w_j d_j + Pull x0) / (sum w_j^2 + Pull),  d_j = level_j - low,
  //     misfit = sum (d_j - w_j x)^2 + Pull (x - x0)^2.
  // The symbol that fits best gives the level. (A fit at the level followed alone would read a
  // faded 200 ms pulse of VNG, whose first slot looks like a 50 ms pulse at the full level, as
  // the short one, and hold the level up through the fade.)
  constexpr double Pull = 0.5;
  const double x0 = high_ - low_;
  int best = -1;
  double best_misfit = 0.0, best_x = x0;
  for (int s = 0; s < table_->symbol_count; ++s) {
    const SymbolShape& shape = table_->symbols[s];
    double ww = 0.0, wd = 0.0;
    for (int j = 0; j < SlotsPerSecond; ++j) {
      const double w = SlotTemplate(shape, j, 1.0, 0.0);
      ww += w * w;
      wd += w * (levels[j] - low_);
    }
    const double x = (wd + Pull * x0) / (ww + Pull);
    double misfit = Pull * (x - x0) * (x - x0);
    for (int j = 0; j < SlotsPerSecond; ++j) {
      const double r = levels[j] - low_ - SlotTemplate(shape, j, 1.0, 0.0) * x;
      misfit += r * r;
    }
    if (best < 0 || misfit < best_misfit) {
      best = s;
      best_misfit = misfit;
      best_x = x;
    }
  }
  const SymbolShape& shape = table_->symbols[best];
  double on_spread = 0.0;
  int on = 0;
  for (int j = 0; j < SlotsPerSecond; ++j) {
    if (SlotTemplate(shape, j, 1.0, 0.0) != 1.0) continue;
    on_spread += (levels[j] - high_) * (levels[j] - high_);
    ++on;
  }
  bool keyed = false;
  for (int j = 0; j < SlotsPerSecond; ++j) keyed |= SlotTemplate(shape, j, 1.0, 0.0) > 0.0;
  if (keyed) high_ += 0.5 * (low_ + best_x - high_);  // follows fading of a few seconds
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
