// SPDX-License-Identifier: GPL-3.0-or-later
#include "tracking/time_candidates.h"

#include <algorithm>

#include "tracking/soft_symbols.h"

TimeCandidates::TimeCandidates(const StationSymbols& table)
    : table_(&table),
      zones_(table.expected_other_zone != nullptr ? 2 : 1),
      predictions_(std::make_unique<Prediction[]>(static_cast<size_t>(zones_) * CandidateMinutes)) {}

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
  double best = last_[Index(minute_of_day, 0)];
  if (zones_ == 2) best = std::max(best, last_[Index(minute_of_day, 1)]);
  return best - last_open_;
}

double TimeCandidates::Score(int minute_of_day) const {
  double best = score_[Index(minute_of_day, 0)];
  if (zones_ == 2) best = std::max(best, score_[Index(minute_of_day, 1)] - OtherZonePrior);
  return best;
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
  int best_minute = -1;
  for (int zone = 0; zone < zones_; ++zone) {
    const auto expected = zone == 0 ? table_->expected : table_->expected_other_zone;
    const double prior = zone == 0 ? 0.0 : OtherZonePrior;
    for (int i = 0; i < CandidateMinutes; ++i) {
      const int minute_of_day = (i + shift_) % CandidateMinutes;
      const int64_t minute_utc = NearestMinute(reference_utc, minute_of_day);
      Prediction& prediction = predictions_[zone * CandidateMinutes + minute_of_day];
      if (prediction.minute_utc != minute_utc) {
        expected(minute_utc, prediction.expected);
        prediction.minute_utc = minute_utc;
      }
      double sum = 0.0;
      for (int p = 0; p < 60; ++p) sum += by_mask[p][prediction.expected[p]];
      double& score = score_[zone * CandidateMinutes + i];
      score = score * keep + sum;
      last_[zone * CandidateMinutes + i] = sum;
      // The two candidates of one minute of the day name the same UTC: the runner-up is the
      // best candidate that names another.
      const double s = score - prior;
      if (s > best) {
        if (minute_of_day != best_minute) next = best;
        best = s;
        best_minute = minute_of_day;
      } else if (s > next && minute_of_day != best_minute) {
        next = s;
      }
    }
  }
  ++minutes_;
  best_utc_ = NearestMinute(reference_utc, best_minute);
  margin_ = best - next;
  lead_over_open_ = best - open_score_;
}
