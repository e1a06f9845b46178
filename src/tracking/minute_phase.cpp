// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/minute_phase.h"

#include "tracking/soft_symbols.h"

void MinutePhase::Reset() {
  for (double& s : score_) s = 0.0;
  best_ = 0;
  margin_ = 0.0;
}

void MinutePhase::Add(int64_t second, const double* ll) {
  const int n = table_->symbol_count;
  // The likelihood of each allowed set once; phase p puts this second at position
  // (second - p) mod 60.
  const int at = static_cast<int>(((second % 60) + 60) % 60);
  for (int p = 0; p < 60; ++p) {
    const int position = (at - p + 60) % 60;
    score_[p] = score_[p] * (1.0 - LeakPerSecond) + MaskLikelihood(ll, n, table_->allowed[position]);
  }
  Rank();
}

void MinutePhase::AddMark(int64_t second, double ratio) {
  // the phase that makes this second the minute's second 0
  score_[((second % 60) + 60) % 60] += ratio;
  Rank();
}

void MinutePhase::Rank() {
  best_ = 0;
  for (int p = 1; p < 60; ++p)
    if (score_[p] > score_[best_]) best_ = p;
  double next = -1e300;
  for (int p = 0; p < 60; ++p)
    if (p != best_ && score_[p] > next) next = score_[p];
  margin_ = score_[best_] - next;
}
