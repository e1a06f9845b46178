// SPDX-License-Identifier: GPL-3.0-or-later
// SecondFinder: where the station's seconds begin, found in noise too deep for a marker to be
// seen in any one second.
//
// Every millisecond the tone's magnitude over the last 10 ms (its coherent sum: 100 Hz of noise
// instead of the 1000 Hz a 1 ms piece lets in) is folded at one second's period of the capture
// clock: the card's rate in samples per second comes from the buffers' capture stamps (a
// recording's own 8000 per second, a sound card's rate against the system clock), and each
// window lands in the millisecond of the second where the capture clock puts its middle. Over
// many seconds the noise averages out and the fold shows the station's mean second: the carrier
// reduced at the start of every second, and in the tenths after it as often as the symbols
// reduce them. That shape is known from the station's table (the share of seconds in which each
// tenth is low, the symbols a second allows taken as equally likely), and the phase is where the
// fold correlates best with it; the edge every second starts with then places it finer (see
// Evaluate).
//
// Each window's magnitude is divided by its running mean (fading does not weigh one stretch
// more than another) and clipped at ClipRatio times it (a static crash adds at most that).
// The fold forgets with a time constant of FoldSeconds, so that it gathers ten minutes of
// evidence for the weakest signals and still follows a capture clock whose rate is slightly off.
//
// How sure: the noise of the correlation is measured in the fold itself (the scatter of 20 ms
// sums, where the station's shape is flat), so the best phase's lead is in standard deviations
// of that noise. With noise alone the correlation at each of the 1000
// phases is about normal with that deviation; the largest of them passes FindSigmas = 8 with
// a chance of about 1000 * 6e-16 per look. A wrong phase would in any case give no time: the
// seconds read along it match none of the time of day's candidates.
//
// Freshness: a phase found once stays in the fold through a fade. Whether the seconds are
// still heard is asked of the evidence since the last confirmation alone (a fold that is not
// forgotten, restarted at each confirmation): ConfirmSigmas at the found phase confirms it.
//
// Units: samples since the capture's first sample (at the card's rate), phases in seconds.
// Per-buffer path: no allocation after construction, no blocking.
#pragma once

#include <cstdint>
#include <memory>

#include "tracking/station_symbols.h"

class SecondFinder {
 public:
  // The tone makes `tone_cycles` whole cycles in `tone_period` samples (1000 Hz at 8000 per
  // second: 1 in 8).
  SecondFinder(const StationSymbols& table, int tone_cycles, int tone_period);
  ~SecondFinder();
  SecondFinder(const SecondFinder&) = delete;
  SecondFinder& operator=(const SecondFinder&) = delete;

  void Reset();
  // `count` samples, the first being sample `first_sample` of the capture, following the last
  // buffer without a gap (the owner resets on a gap); `capture_time_ns` the capture clock's
  // time of that sample (0: unknown, the card taken to run at 8000 per second).
  void Add(const int16_t* samples, int count, int64_t first_sample, int64_t capture_time_ns);

  // True while the seconds' phase is sure (see FindSigmas).
  bool Found() const { return found_; }
  // A sample at which a second begins (samples since the capture's first, fractional) and the
  // length of a second in samples (the capture clock's rate). Meaningful while Found().
  double SecondStart() const { return start_sample_; }
  double Rate() const { return rate_; }
  // Standard deviations of the noise: the best phase's correlation, and its lead over the best
  // phase more than a slot's half away.
  double Sigmas() const { return sigmas_; }
  double LeadSigmas() const { return lead_sigmas_; }
  // Seconds of audio folded (forgetting counted).
  double Seconds() const { return seconds_; }
  // True once for each confirmation of the found phase by fresh evidence alone.
  bool TakeConfirmation();

  static constexpr int Bins = 1000;  // phases per second: 1 ms each
  static constexpr int PieceSamples = 8;
  static constexpr int WindowPieces = 10;  // the tone over 10 ms, every millisecond
  static_assert(PieceSamples == 8 && WindowPieces == 10, "the sums in Add are written out for these");
  static constexpr double FoldSeconds = 600.0;
  static constexpr double ClipRatio = 6.0;
  static constexpr double FindSigmas = 8.0;
  static constexpr double LeadNeeded = 4.0;  // sigmas: over any phase outside the main lobe
  static constexpr double LoseSigmas = 5.0;  // a found phase is given up below this
  static constexpr double ConfirmSigmas = 4.0;
  static constexpr int MinSeconds = 20;  // before the first look

 private:
  struct Fold {
    std::unique_ptr<double[]> sum, count;
  };
  void Evaluate();
  // Correlation of `fold` with the station's shape at every phase, into corr_; returns the
  // standard deviation of its noise.
  double Correlate(const Fold& fold, bool all_phases, int at);
  void ClearRecent();
  void UpdateRate(int64_t first_sample, int64_t capture_time_ns);

  double slot_weight_[SlotsPerSecond] = {};  // the station's mean second, zero mean
  double weight_norm2_ = 0.0;                // sum over slots of the weight squared
  bool supported_ = false;
  int edge_bins_ = 0;  // the edge's place in the second
  bool edge_rises_ = false;
  static constexpr int MaxPeriod = 128;  // samples of the tone's table

  double cos_[MaxPeriod] = {}, sin_[MaxPeriod] = {};
  // [place in the cycle][sample]
  double piece_cos_[MaxPeriod][PieceSamples] = {}, piece_sin_[MaxPeriod][PieceSamples] = {};
  int piece_next_[MaxPeriod] = {};  // the place in the cycle a piece later
  int period_ = 8;
  double ramp_mean_ = 0.5;               // see Evaluate
  std::unique_ptr<double[]> power_sum_;  // the fold of the window's power

  Fold fold_, recent_;
  std::unique_ptr<double[]> profile_, prefix_, corr_;

  // the capture clock
  bool have_stamp_ = false;
  int64_t stamp0_ns_ = 0, stamp0_sample_ = 0;
  double rate_ = 8000.0;  // samples per second

  // the piece being gathered
  bool started_ = false;
  double re_ = 0.0, im_ = 0.0;
  int in_piece_ = 0;
  // the last WindowPieces pieces' sums: the window is their sum
  double window_re_[16] = {}, window_im_[16] = {};
  double sum_re_ = 0.0, sum_im_ = 0.0;  // their running sum
  bool counters_set_ = false;
  int tone_k_ = 0;             // the tone's table position
  double mean_power_ = -1.0;   // running mean of the window's power
  int window_fill_ = 0, window_pos_ = 0;
  int64_t piece_start_ = 0;
  double phase_ = 0.0;        // seconds (0..1): phase of the capture clock at piece_start_
  double mean_level_ = -1.0;  // running mean of the window's magnitude
  double inverse_level_ = 0.0, inverse_power_ = 0.0;
  int pieces_ = 0;  // pieces since the last look

  double seconds_ = 0.0;
  bool found_ = false;
  double best_phase_ = 0.0;  // seconds (0..1)
  double start_sample_ = 0.0;
  double sigmas_ = 0.0, lead_sigmas_ = 0.0;
  double recent_seconds_ = 0.0;  // seconds in the fold of fresh evidence
  bool confirmed_ = false;
};
