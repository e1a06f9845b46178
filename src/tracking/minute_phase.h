// SPDX-License-Identifier: GPL-3.0-or-later
// The minute's phase: which of the running seconds is second 0 of a minute, from the markers
// the station sends (DCF77's and HBG's missing second 59, MSF's 500 ms second 0 and its fixed
// minute identifier, WWVB's and WWV's position markers, VNG's and RWM's silent second 59 and
// long second 0), accumulated over many minutes.
//
// Every one of the 60 phases is a hypothesis. Each second adds, to each phase, the
// log-likelihood of its soft symbols given the symbols that phase allows at that second of the
// minute: ln of the mean likelihood over the allowed symbols. The scores leak slowly (half of a
// score is forgotten in about 40 minutes) so that a phase that truly moved (a leap second, a
// station change) takes over in time; a false marker adds at most LikelihoodCap to a wrong
// phase, far short of the lead the right phase gains every minute.
#pragma once

#include <cstdint>

#include "tracking/station_symbols.h"

class MinutePhase {
 public:
  explicit MinutePhase(const StationSymbols& table) : table_(&table) {}
  void Reset();
  // The soft symbols (log-likelihoods, see SymbolLikelihoods) of running second `second`.
  void Add(int64_t second, const double* ll);
  // Evidence that running second `second` is second 0 of a minute beyond what its symbols
  // say: `ratio`, ln of the likelihood ratio of "second 0" to "another second" (MinuteMark).
  void AddMark(int64_t second, double ratio);
  // The phase that leads: running seconds `s` with s mod 60 == Best() are second 0.
  int Best() const { return best_; }
  // ln of the likelihood ratio of the best phase to the next: nats.
  double Margin() const { return margin_; }
  double Score(int phase) const { return score_[phase]; }

  static constexpr double LeakPerSecond = 1.0 / 3600.0;

 private:
  void Rank();

  const StationSymbols* table_;
  double score_[60] = {};
  int best_ = 0;
  double margin_ = 0.0;
};
