// SPDX-License-Identifier: GPL-3.0-or-later
// The time of day: every minute of the day is a candidate for the minute just received, each
// advancing one minute a minute, each scored against the soft symbols of every minute heard.
//
// A candidate predicts the symbols of the minute it names through the station's table (which
// asks the simulator's encoders for the code): hour, minute, parity, fixed bits, summer-time
// bits and announcements. The absolute date of a candidate is the one that puts its minute
// nearest the capture's own clock; the date fields themselves are left open (see
// StationSymbols::expected), so a machine whose date is off does not pull the time of day.
//
// A station that sends its country's civil time (DCF77, HBG, MSF) has each minute of the day a
// candidate twice: in the offset from UTC the capture's date has, and in the other (summer
// time where the date has standard time, and the reverse). A date in the wrong season then
// costs the lock a few minutes rather than putting it an hour off.
//
// The scores leak slowly (a minute's evidence halves in about three hours) so that a candidate
// that was right and no longer is (the station stepped, the seconds slipped) can be overtaken.
#pragma once

#include <cstdint>
#include <memory>

#include "tracking/station_symbols.h"
#include "tracking/time_scorer.h"

constexpr int CandidateMinutes = 1440;

class TimeCandidates : public TimeScorer {
 public:
  explicit TimeCandidates(const StationSymbols& table);
  void Reset() override;
  // One minute received: `ll[p]` the soft symbols of its second p, `heard[p]` false where a
  // second gave no evidence. `reference_utc`: the capture's own idea of the minute's start
  // (only its date counts). `elapsed` minutes since the last minute added (1 for the next
  // minute; more when minutes in between were not received).
  void AddMinute(int64_t reference_utc, const double (*ll)[MaxSymbols], const bool* heard, int elapsed);

  // UTC of the start of the last minute added, as the leading candidate has it.
  int64_t BestUtc() const override { return best_utc_; }
  // ln of the likelihood ratio of the leading candidate to the next: nats.
  double Margin() const override { return margin_; }
  // ln of the likelihood ratio of the leading candidate to the open hypothesis, in which each
  // second carries any symbol its place in the minute allows, as if no time of day bound them:
  // nats. A signal that follows no candidate (no station, another station, interference with
  // a shape of its own) can favour one candidate over the others by chance or by its shape,
  // but it does not make that candidate fit better than the symbols left free.
  double LeadOverOpen() const override { return lead_over_open_; }
  // For the minute last added alone: ln of the likelihood ratio of the candidate that names
  // it `minute_of_day` to the open hypothesis (negative: the minute fits that candidate worse
  // than free symbols).
  double LastMinuteOverOpen(int minute_of_day) const override;
  // The leading candidate may be reported (see LockMargin).
  bool Sure() const override { return margin_ >= LockMargin && lead_over_open_ >= LockMargin; }
  // Minutes added since the reset.
  int Minutes() const override { return minutes_; }
  // The score of the candidate that names the last minute added `minute_of_day` (0..1439).
  double Score(int minute_of_day) const override;

  // When the lead makes a wrong pick improbable enough to report.
  //
  // Let t be the true candidate and w any wrong one. exp(S_w - S_t) is a product over the
  // seconds heard of the likelihood ratios P(second | w) / P(second | t), each raised to a
  // weight of at most 1 (the leak). For 0 <= a <= 1, E_t[(L_w / L_t)^a] <= (E_t[L_w / L_t])^a
  // = 1 (Jensen), so E_t[exp(S_w - S_t)] <= 1 and, by Markov's inequality, at any one check
  //     P(S_w - S_t >= T) <= exp(-T).
  // A wrong lock needs one of the 1439 wrong candidates to lead by T; the lead is checked once
  // a minute, 60 times an hour:
  //     P(wrong lock in an hour) <= 60 * 1439 * exp(-T) = 8.63e4 * exp(-T).
  // Below 1e-9 an hour: T >= ln(8.63e13) = 32.1 nats. The likelihoods rest on a model (Gaussian
  // noise of a measured level, wrecked seconds capped at LikelihoodCap); 8 nats more (a factor
  // of about 3000) cover its error: 40 nats.
  //
  // That bound holds when the signal follows one of the candidates. When it follows none, the
  // right comparison is with the open hypothesis O (symbols free): if the seconds come from O,
  // E_O[exp(S_c - S_O)] <= 1 for every candidate c in the same way, and a lead of T over O
  // has the same 60 * 1440 * exp(-T) bound an hour. A report needs both leads: over the next
  // candidate and over O.
  //
  // The candidates in the other zone start OtherZonePrior behind (see there), so the bound
  // holds as it stands while the capture's date is in the right season. In the wrong season
  // the true candidate starts that much behind, and the bound for its 1440 rivals becomes
  //     60 * 1440 * exp(-(T - OtherZonePrior)) = 3.6e-10 an hour at T = 40,
  // still below 1e-9, with the model's margin spent.
  //
  // What it costs: a DCF77 minute differs from the next or the previous in at least two bits
  // (the parity keeps the distance of the minute and hour fields at two), each worth up to
  // LikelihoodCap = 6.9 nats clean, d'^2 / 2 in noise (d' = level step over sigma): a clean
  // signal locks in three to four minutes, one with 15 % bit errors in about ten.
  static constexpr double LockMargin = 40.0;
  // A lock is dropped when another candidate leads it by this much: ln(60 * 1439) + 9, one
  // chance in 8000 an hour that noise alone drops a right lock.
  static constexpr double DropMargin = 20.0;
  static constexpr double LeakPerMinute = 1.0 / 240.0;
  // How much less likely, in nats, a candidate in the other zone is before any minute is
  // heard: ln 1000, one capture clock in a thousand dated in the wrong season. A minute in the
  // other zone sends the same hour and minute as the minute an hour before or after it in the
  // date's zone, and differs from it only in DCF77's two summer-time bits (MSF's one): that
  // rival of the true candidate starts this much of LockMargin behind.
  static constexpr double OtherZonePrior = 6.9;

 private:
  // The index of the candidate naming `minute_of_day` in zone `zone` (0: the date's).
  int Index(int minute_of_day, int zone) const {
    return zone * CandidateMinutes +
           ((minute_of_day - shift_) % CandidateMinutes + CandidateMinutes) % CandidateMinutes;
  }

  const StationSymbols* table_;
  int zones_ = 1;  // 2 where the station sends summer time
  // index zone * 1440 + (minute_of_day - shift_) mod 1440; the other zone's prior not in it
  double score_[2 * CandidateMinutes] = {};
  double last_[2 * CandidateMinutes] = {};  // the last minute's part of each score, same index
  double last_open_ = 0.0;
  // The predicted symbols of each absolute minute a candidate names, kept by zone and minute
  // of day: from one minute to the next only one candidate of each zone names a minute not
  // predicted before.
  struct Prediction {
    int64_t minute_utc = INT64_MIN;
    SymbolMask expected[60] = {};
  };
  std::unique_ptr<Prediction[]> predictions_;
  int shift_ = 0;
  int minutes_ = 0;
  int64_t best_utc_ = 0;
  double margin_ = 0.0;
  double open_score_ = 0.0;
  double lead_over_open_ = 0.0;
};
