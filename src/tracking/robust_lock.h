// SPDX-License-Identifier: GPL-3.0-or-later
// RobustLock: the time of day from a station's signal at signal-to-noise ratios where a hard
// decision per second fails, and never a time that the evidence does not carry.
//
// Another consumer of the capture buffers beside the document's loop; it reads the samples and
// the seconds' phase (where each second begins, as the second-epoch estimator measures it to
// the sample, or as a test gives it; in noise where the estimator sees no marker, as the lock
// finds it itself, second_finder.h, placed finer by WWV's tick where that stands out,
// tick_onset.h) and never writes the document. Per second: the soft
// symbols (soft_symbols.h); per second as well: the minute's phase (minute_phase.h); per
// minute, once the phase is sure: the time of day (time_candidates.h; CHU's from the code of
// its seconds 31..39, chu_times.h, once those have gone by).
//
// States:
//   searching  no seconds' phase yet (or the station is not read this way)
//   phasing    seconds followed, the minute's phase not yet sure
//   timing     the minute's phase sure, the time of day not yet (for a station that sends
//              no time of day, RWM, the last state reached)
//   locked     the time of day sure: UtcNear gives every second's label, up to the next
//              midnight that may follow a leap second (1 January, 1 July), where the lock
//              starts afresh
//   holdover   locked, but the seconds' phase has not been confirmed for a while: the seconds
//              are counted on from the last line (the capture clock), and the lock holds until
//              the evidence turns against it or the gap grows longer than MaxHoldoverSeconds
//
// Units: samples since the capture's first sample (at the card's rate); UTC in Unix seconds.
// Per-buffer path: no allocation after construction, no blocking.
#pragma once

#include <cstdint>
#include <memory>

#include "tracking/chu_times.h"
#include "tracking/minute_phase.h"
#include "tracking/second_finder.h"
#include "tracking/soft_symbols.h"
#include "tracking/time_candidates.h"

enum class LockState { Searching, Phasing, Timing, Locked, Holdover };
const char* LockStateName(LockState state);

struct LockStatus {
  LockState state = LockState::Searching;
  int64_t minute_utc = 0;     // while timing or locked: the leading candidate's last minute start
  double margin = 0.0;        // nats: lead of that candidate over the next (timing, locked)
  double phase_margin = 0.0;  // nats: lead of the minute's phase over the next
  int minutes = 0;            // minutes of evidence behind the time of day
};

class RobustLock {
 public:
  // `station_mode` a StationModes value; the tone makes `tone_cycles` whole cycles in
  // `tone_period` samples (1000 Hz at 8000 samples per second: 1 in 8).
  explicit RobustLock(int station_mode, int tone_cycles = 1, int tone_period = 8);
  ~RobustLock();
  RobustLock(const RobustLock&) = delete;
  RobustLock& operator=(const RobustLock&) = delete;

  bool Supported() const { return table_ != nullptr; }
  // The station sends no time of day (RWM): the lock finds its minute's phase and stays in
  // the timing state; UtcNear never answers.
  bool PhaseOnly() const { return table_ != nullptr && table_->expected == nullptr && !table_->fsk_code; }

  // The seconds' phase: a second begins at sample `sample`, and seconds last `rate` samples.
  // Call it whenever the estimator has a fresh line; a line that puts the seconds more than
  // MaxPhaseJump away from where the count had them starts everything afresh. While no line
  // has come this way for ExternalLineSeconds, the lock follows the seconds it finds itself
  // (SecondFinder: the tone folded over many seconds on the capture clock).
  void SetSecondLine(double sample, double rate);

  // A capture buffer: `count` samples, the first being sample `first_sample` of the capture;
  // `capture_time_ns` the system time of that sample (0 when unknown). A gap in the samples
  // (a new capture, samples lost) starts everything afresh. The capture's own clock only
  // chooses the date of the candidates; without stamps, the reference set below is used.
  void OnBuffer(const int16_t* samples, int count, int64_t first_sample, int64_t capture_time_ns);
  // UTC that the samples' first sample is taken to have when the buffers carry no stamps.
  void SetReferenceUtc(int64_t utc) { reference_utc_ = utc; }
  // The date of the times given is known: the buffers carry stamps, or a reference was set.
  // Without either only the time of day is (counted from 1970-01-01 by the samples alone).
  bool DateKnown() const { return stamp_ns_ > 0 || reference_utc_ != 0; }

  void Reset();

  LockStatus Status() const;
  bool Locked() const { return state_ == LockState::Locked || state_ == LockState::Holdover; }
  // UTC of the second that begins nearest sample `sample`, and where it begins. False unless
  // locked.
  bool UtcNear(double sample, int64_t* utc, double* second_start) const;
  // Where sample `sample` lies in its minute by the sure minute's phase: seconds (0..60, with a
  // fraction) since second 0 began. False while no phase is sure, or once another leads it.
  bool SecondOfMinuteNear(double sample, double* seconds) const;
  // Samples per second of the seconds' line (the card's rate).
  double SecondLength() const { return rate_; }
  // True once after each change of state or of the locked time (for a "lock" event).
  bool TakeChange();
  // The seconds the lock finds on its own.
  const SecondFinder& Finder() const { return finder_; }
  // Where the seconds' tick begins, for a station that sends one.
  const TickOnset& Tick() const { return tick_; }

  // Seconds of audio with no fresh seconds' line that the lock lives through: the capture
  // clock's rate, measured over half a minute to a few parts per million, keeps the seconds
  // within a few milliseconds for that long.
  static constexpr double MaxHoldoverSeconds = 1800.0;
  static constexpr double MaxPhaseJump = 0.1;  // seconds
  static constexpr double ExternalLineSeconds = 3.0;
  // ms: the tick's onset places the seconds found only where it lies this near the finder's
  // edge (further off, it is another station's tick, or not the tick at all)
  static constexpr double MaxTickMs = 4.0;
  // nats: the minute's phase is taken when it leads the next by this much. A wrong phase
  // would be taken with a chance of at most 3600 checks * 59 phases * exp(-25) = 3e-6 an hour;
  // even then it gives no wrong time, only a delay: the seconds of a wrong phase follow none
  // of the time candidates, and a time is reported only when its candidate leads the free
  // symbols as well (TimeCandidates::Sure).
  static constexpr double PhaseMargin = 25.0;
  // Samples kept: 262 s, so that the seconds heard while their phase was still being found
  // (SecondFinder, a minute or two in deep noise) are read once it is.
  static constexpr int RingSize = 1 << 21;
  // Seconds whose soft symbols are kept for the time of day to start from once the minute's
  // phase is sure.
  static constexpr int HistorySeconds = 900;

 private:
  void ApplyLine(double sample, double rate, bool fresh);
  // Everything counted starts afresh; the audio and the seconds found in it stay.
  void Restart();
  int64_t HoldoverAfter() const;  // seconds without a fresh line before holdover
  // UTC of running second `k` as far as anything says: the lock, the leading time candidate,
  // or the capture's own clock.
  int64_t TentativeUtc(int64_t k) const;
  // True when the evidence gathered since first_second_ reaches a midnight that may follow a
  // leap second, `utc` being second `k`'s.
  bool SpansLeapMidnight(int64_t k, int64_t utc) const;
  void ProcessSecond();
  void ScoreMinute();
  void SetState(LockState state);

  const StationSymbols* table_;
  int tone_cycles_, tone_period_;
  LevelTracker levels_;
  MinutePhase phase_;
  MinuteMark mark_;  // the minute's mark on tones of its own, where the station sends one
  TimeCandidates times_;
  // CHU: the time of day from the Bell 103 code of seconds 31..39 (nullptr for the others)
  std::unique_ptr<ChuTimes> chu_;
  TimeScorer* scorer_;  // times_ or chu_
  int score_at_ = 59;   // the second of the minute after which a minute is scored
  SecondFinder finder_;
  TickOnset tick_;
  bool have_external_ = false;
  int64_t external_at_ = 0;      // next_sample_ when a line last came from outside
  bool own_line_ = false;        // the line followed is the finder's
  bool finder_resting_ = false;  // not fed while a line comes from outside

  std::unique_ptr<int16_t[]> ring_;
  bool have_audio_ = false;
  int64_t next_sample_ = 0;   // the sample the next buffer should begin with
  int64_t stream_start_ = 0;  // the first sample of the present stretch of audio
  int64_t fresh_from_ = 0;    // no second before this sample is read again (a leap second)
  int64_t stamp_ns_ = 0, stamp_sample_ = 0;
  int64_t reference_utc_ = 0;

  // The seconds: second `count` of our own running count begins at line_sample_ +
  // (count - line_second_) * rate_.
  bool have_line_ = false;
  double line_sample_ = 0.0, rate_ = 8000.0;
  int64_t line_second_ = 0;
  int64_t next_second_ = 0;     // the next second to read
  int64_t line_refreshed_ = 0;  // second at which the line was last confirmed

  std::unique_ptr<double[]> history_;          // soft symbols by running second mod HistorySeconds
  std::unique_ptr<int64_t[]> history_second_;  // which second each holds (INT64_MIN: none)
  std::unique_ptr<float[]> code_history_;      // CHU: the code's bit statistics, same seconds
  std::unique_ptr<int64_t[]> code_second_;     // which second each holds (INT64_MIN: none)

  // The minute being gathered at the leading phase.
  int minute_phase_ = -1;            // the phase the time candidates were scored with
  int64_t minute_start_ = 0;         // running second of its second 0
  int64_t last_scored_ = INT64_MIN;  // running second 0 of the last minute scored
  double minute_ll_[60][MaxSymbols] = {};
  bool minute_heard_[60] = {};

  LockState state_ = LockState::Searching;
  int64_t locked_utc_ = 0;  // UTC of second locked_second_
  int64_t locked_second_ = 0;
  int64_t first_second_ = INT64_MIN;   // the first second read since the count started
  int64_t leap_midnight_ = INT64_MAX;  // UTC: the lock ends here (a leap second may come first)
  double against_ = 0.0;               // nats: evidence against the lock since it was taken (CUSUM)
  bool changed_ = false;
};
