// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/time_candidates.h"

#include "tracking/soft_symbols.h"

TimeCandidates::TimeCandidates(const StationSymbols& table)
    : table_(&table), predictions_(std::make_unique<Prediction[]>(CandidateMinutes)) {}

void TimeCandidates::Reset() {
  for (double& s : score_) s = 0.0;
  shift_ = 0;
  minutes_ = 0;
  best_utc_ = 0;
  margin_ = 0.0;
  open_score_ = 0.0;
  lead_over_open_ = 0.0;
}

double TimeCandidates::LastMinuteOverOpen(int minute_of_day) const {
  return last_[((minute_of_day - shift_) % CandidateMinutes + CandidateMinutes) % CandidateMinutes] -
         last_open_;
}

double TimeCandidates::Score(int minute_of_day) const {
  return score_[((minute_of_day - shift_) % CandidateMinutes + CandidateMinutes) % CandidateMinutes];
}

void TimeCandidates::AddMinute(int64_t reference_utc, const double (*ll)[MaxSymbols], const bool* heard,
                               int elapsed) {
  const int n = table_->symbol_count;
  // Each second's likelihood for every set of symbols a candidate may predict, once.
  double by_mask[60][1 << MaxSymbols];
  for (int p = 0; p < 60; ++p)
    for (int m = 0; m < (1 << n); ++m)
      by_mask[p][m] = heard[p] ? MaskLikelihood(ll[p], n, static_cast<SymbolMask>(m)) : 0.0;

  if (minutes_ > 0)
    shift_ = static_cast<int>((shift_ + static_cast<int64_t>(elapsed) % CandidateMinutes) % CandidateMinutes);
  const double keep = 1.0 - LeakPerMinute;
  double open = 0.0;
  for (int p = 0; p < 60; ++p) open += by_mask[p][table_->allowed[p]];
  open_score_ = open_score_ * keep + open;
  last_open_ = open;
  double best = -1e300, next = -1e300;
  int best_minute = 0;
  for (int i = 0; i < CandidateMinutes; ++i) {
    const int minute_of_day = (i + shift_) % CandidateMinutes;
    const int64_t minute_utc = NearestMinute(reference_utc, minute_of_day);
    Prediction& prediction = predictions_[minute_of_day];
    if (prediction.minute_utc != minute_utc) {
      table_->expected(minute_utc, prediction.expected);
      prediction.minute_utc = minute_utc;
    }
    double sum = 0.0;
    for (int p = 0; p < 60; ++p) sum += by_mask[p][prediction.expected[p]];
    score_[i] = score_[i] * keep + sum;
    last_[i] = sum;
    if (score_[i] > best) {
      next = best;
      best = score_[i];
      best_minute = minute_of_day;
    } else if (score_[i] > next) {
      next = score_[i];
    }
  }
  ++minutes_;
  best_utc_ = NearestMinute(reference_utc, best_minute);
  margin_ = best - next;
  lead_over_open_ = best - open_score_;
}
