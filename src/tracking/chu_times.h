// SPDX-License-Identifier: GPL-3.0-or-later
// CHU's time of day, from the Bell 103 code of seconds 31..39 by likelihood across seconds and
// minutes, where a bit-by-bit modem would need every one of a frame's 110 bits right.
//
// Soft bits: the code's 110 bits (ten characters of a start bit, eight data bits LSB first and
// two stop bits, 300 per second, ending 500 ms into the second) are read where the seconds'
// line puts them, each as the tone energy at 2225 Hz (mark) less that at 2025 Hz (space) over
// the bit. A bit lasts 26.7 samples, and a line found in deep noise may be a millisecond or two
// off: each second is read at ChuOffsets offsets ChuOffsetStep samples apart around the line,
// and the offset whose fixed bits (below) stand out best over the minutes heard is used.
// The energies of the bits every frame fixes (start bits space, stop bits mark) give,
// for the minute being scored, the mean of a mark's and of a space's statistic and its scatter;
// with Gaussian scatter about those means a bit's log-likelihood ratio, mark against space, is
//     LLR = 2 mu (x - mid) / sigma^2,   mu = (mean_mark - mean_space) / 2,
//                                       mid = (mean_mark + mean_space) / 2,
// mu taken one standard error below its estimate (a weaker signal than measured only makes
// the likelihoods less sure, see TimeCandidates::LockMargin: raising them to a power below 1
// keeps the bound), and each capped at BitCap: one bit in twenty taken as wrecked whatever was
// sent (a static crash in the middle of a frame cannot outvote the others). The fixed bits
// that choose the offset and measure mu are never among the bits scored, so in noise alone the
// scores stay as likely to fall as to rise.
//
// Candidates: every minute of the day, as TimeCandidates keeps them (advancing a minute a
// minute, leaking as slowly). A candidate predicts, in each format A frame of seconds 32..39
// (day of year, hour, minute, second, the five bytes sent twice), the hour and minute bytes;
// where the date is known (the capture's stamps or a reference), the day of year's digits too,
// and in second 31's format B the year's digits (sent plain, then inverted); otherwise those
// are left free. DUT1, TAI - UTC and the daylight indicator are free: nothing here knows them.
// The fixed digit 6 and the second's byte follow from the minute's phase, the same for every
// candidate: they are not scored. The open hypothesis leaves every predicted bit free, so a
// signal whose frames follow no candidate (a contradicting repetition, a time that does not
// advance, noise) does not lead it.
//
// Units: bit statistics in squared sample units; scores in nats; UTC in Unix seconds.
// Per-minute path: no allocation after construction.
#pragma once

#include <cstdint>

#include "tracking/time_candidates.h"
#include "tracking/time_scorer.h"

constexpr int ChuCodeBits = 110;
constexpr int ChuFirstCodeSecond = 31;  // format B
constexpr int ChuLastCodeSecond = 39;
constexpr int ChuCodeSeconds = ChuLastCodeSecond - ChuFirstCodeSecond + 1;
constexpr int ChuOffsets = 11;                             // readings of each second ...
constexpr int ChuOffsetStep = 3;                           // ... this many samples apart, centred on the line
constexpr int ChuSecondValues = ChuOffsets * ChuCodeBits;  // values kept for each second

class ChuTimes : public TimeScorer {
 public:
  ChuTimes();
  void Reset() override;

  // The code's bit statistics of the second that begins at sample `start` (fractional,
  // samples since the capture's first) and lasts `rate` samples, read from `ring` (`mask + 1`
  // samples, a power of two, indexed by absolute sample number): out[o * ChuCodeBits + j] the
  // mark tone's energy less the space tone's over bit j (of the 110 from 133.3 ms to 500 ms)
  // read (o - ChuOffsets / 2) * ChuOffsetStep samples after the line, in squared amplitudes.
  // The caller guarantees the samples are there (up to 20 samples beyond the bits).
  void ReadSecond(const int16_t* ring, int64_t mask, double start, double rate, float out[ChuSecondValues]);

  // One minute's code: `seconds[i]` the statistics of second 31 + i (ReadSecond), nullptr
  // where that second gave none. `reference_utc`: the capture's own idea of the minute's
  // start; its date counts only when `date_known`. `elapsed` minutes since the last minute
  // added.
  void AddMinute(int64_t reference_utc, bool date_known, const float* const seconds[ChuCodeSeconds],
                 int elapsed);

  int64_t BestUtc() const override { return best_utc_; }
  double Margin() const override { return margin_; }
  double LeadOverOpen() const override { return lead_over_open_; }
  // Against the minute's frames naming any one time of day, each alike a priori (rather than
  // free bits: a time that changes only a few of the bits it names, a step of the station's
  // clock, then counts fully against the candidate that no longer fits).
  double LastMinuteOverOpen(int minute_of_day) const override;
  // The same margins as the stations whose seconds carry the time one symbol each: one look a
  // minute at 1439 wrong candidates and at the open hypothesis (TimeCandidates::LockMargin).
  bool Sure() const override {
    return margin_ >= TimeCandidates::LockMargin && lead_over_open_ >= TimeCandidates::LockMargin;
  }
  int Minutes() const override { return minutes_; }
  double Score(int minute_of_day) const override;

  // The signal's mean step between a mark and a space bit over its scatter in the minute last
  // added (mu / sigma above, before the standard error is taken off), and the offset it was
  // read at (samples after the line).
  double StepOverSigma() const { return step_over_sigma_; }
  int Offset() const { return (offset_ - ChuOffsets / 2) * ChuOffsetStep; }

  static constexpr double BitCap = 3.0;  // nats: ln(19), one bit in twenty wrecked
  static constexpr double LeakPerMinute = TimeCandidates::LeakPerMinute;
  // How much of an offset's evidence is kept from one minute to the next: the line found in
  // noise wanders slowly.
  static constexpr double OffsetKeep = 0.8;

 private:
  // The log-likelihoods of one second's bits as mark (ll1) and as space (ll0), the better 0,
  // and of a free bit; false when the second gives no evidence.
  struct SecondBits {
    bool heard = false;
    double ll0[ChuCodeBits] = {}, ll1[ChuCodeBits] = {};
    double free[ChuCodeBits] = {};
  };
  // ln-likelihood of character `c` of a second carrying the data nibble `value` in its low
  // (`high` false) or high four data bits.
  static double Nibble(const SecondBits& s, int c, bool high, int value);
  static double FreeNibble(const SecondBits& s, int c, bool high);

  SecondBits seconds_[ChuCodeSeconds];
  double score_[CandidateMinutes] = {};  // index (minute_of_day - shift_) mod 1440
  double last_[CandidateMinutes] = {};
  double last_any_ = 0.0;  // the last minute naming any one time (LastMinuteOverOpen)
  int shift_ = 0;
  int minutes_ = 0;
  int64_t best_utc_ = 0;
  double margin_ = 0.0;
  double open_score_ = 0.0;
  double lead_over_open_ = 0.0;
  double step_over_sigma_ = 0.0;
  double offset_score_[ChuOffsets] = {};
  int offset_ = ChuOffsets / 2;
  // ReadSecond's running sums of the sample times each tone (mark cos, sin, space cos, sin)
  static constexpr int SpanSamples = 3400;  // the code's 367 ms and the offsets at up to 9000 per second
  double prefix_[4][SpanSamples + 1] = {};
};
