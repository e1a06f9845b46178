// SPDX-License-Identifier: GPL-3.0-or-later
// TimeScorer: what the robust lock asks of the scorer of the time of day, whatever the station
// sends it in: every minute of the day a candidate for the minute last added, each advancing one
// minute a minute, and the leading one's lead over the next and over free symbols. The stations
// whose seconds carry the time as one symbol each are scored by TimeCandidates
// (time_candidates.h), CHU's Bell 103 code of seconds 31..39 by ChuTimes (chu_times.h).
//
// Units: UTC in Unix seconds; scores and margins in nats.
#pragma once

#include <cstdint>

class TimeScorer {
 public:
  virtual ~TimeScorer() = default;
  virtual void Reset() = 0;
  // UTC of the start of the last minute added, as the leading candidate has it.
  virtual int64_t BestUtc() const = 0;
  // ln of the likelihood ratio of the leading candidate to the next.
  virtual double Margin() const = 0;
  // ln of the likelihood ratio of the leading candidate to the open hypothesis (the symbols or
  // bits free, as if no time of day bound them).
  virtual double LeadOverOpen() const = 0;
  // For the minute last added alone: the candidate naming it `minute_of_day` against an
  // alternative in which the minute stands alone (free symbols, or a frame naming any time).
  // Under the candidate, exp of minus this has a mean of at most 1 (RobustLock's CUSUM).
  virtual double LastMinuteOverOpen(int minute_of_day) const = 0;
  // The leading candidate may be reported (TimeCandidates::LockMargin).
  virtual bool Sure() const = 0;
  // Minutes added since the reset.
  virtual int Minutes() const = 0;
  // The score of the candidate that names the last minute added `minute_of_day` (0..1439).
  virtual double Score(int minute_of_day) const = 0;
};

// a / b rounded down (b > 0), for days before 1970 as after
inline int64_t FloorDiv(int64_t a, int64_t b) {
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// The start of the minute `minute_of_day` (0..1439) nearest `reference_utc`: how a candidate
// minute of the day is dated from the capture's clock.
inline int64_t NearestMinute(int64_t reference_utc, int minute_of_day) {
  int64_t utc = FloorDiv(reference_utc, 86400) * 86400 + int64_t{minute_of_day} * 60;
  if (utc - reference_utc > 43200) utc -= 86400;
  if (reference_utc - utc > 43200) utc += 86400;
  return utc;
}
