// SPDX-License-Identifier: GPL-3.0-or-later
// Slot levels of a known symbol in Gaussian noise of a known scatter, turned into soft symbols
// with the true levels: the tests' stand-in for a receiver whose noise is exactly the model's.
#pragma once

#include <random>

#include "tracking/soft_symbols.h"

class KnownNoise {
 public:
  KnownNoise(const StationSymbols& table, double high, double low, double sigma, uint64_t seed)
      : table_(table), high_(high), low_(low), sigma_(sigma), rng_(seed) {}
  // The soft symbols of one second that carried `symbol`.
  void Second(int symbol, double* ll) {
    double levels[SlotsPerSecond];
    for (int j = 0; j < SlotsPerSecond; ++j)
      levels[j] = SlotTemplate(table_.symbols[symbol], j, high_, low_) + sigma_ * normal_(rng_);
    SymbolLikelihoods(table_, levels, high_, low_, sigma_, ll);
  }
  // A second with no signal at all: noise about the reduced level.
  void Silence(double* ll) {
    double levels[SlotsPerSecond];
    for (double& l : levels) l = low_ + sigma_ * normal_(rng_);
    SymbolLikelihoods(table_, levels, high_, low_, sigma_, ll);
  }

 private:
  const StationSymbols& table_;
  double high_, low_, sigma_;
  std::mt19937_64 rng_;
  std::normal_distribution<double> normal_{0.0, 1.0};
};
