// SPDX-License-Identifier: GPL-3.0-or-later
// TickOnset: where a short-wave station's seconds tick begins (WWV's 5 ms of 1000 Hz, WWVH's of
// 1200 Hz), folded over minutes of seconds, to a small fraction of a millisecond.
//
// The seconds the lock finds on its own in deep noise are placed by the 100 Hz code's rise 30 ms
// into each second, read in 10 ms windows: at -5 dB that line wanders by a millisecond or more
// over tens of minutes. The tick is sharper: 5 ms of a tone ten times higher, silent for 10 ms
// before and 25 ms after, and sent in the same phase every second. For each second, the
// complex sum of a 5 ms box at each tick tone is taken at every sample from 10 ms before the
// line's second start to 20 ms after it, divided by the root of its mean power over those
// places (a static crash then weighs no more than any other second), and turned by the
// reference's phase at the fold's place 0. These sums are folded, the older seconds forgotten
// with a time constant of FoldSeconds, on the fold's own count of seconds (samples at the
// line's rate), so that the line's own wandering does not smear them. Folded coherently, the
// noise falls as the number of seconds and not as its root: at -5 dB in a 300 Hz passband a
// tick box holds about a fifth of the noise's power, and only a coherent fold lifts it clear
// in minutes.
//
// In the fold's peak phase the tick is a triangle: the overlap of box and tick falls off
// linearly to either side of the onset. The onset is the triangle's centroid over its whole
// width, taken twice (about the peak, then about the first centroid): for a symmetric peak
// that is its centre, to a fraction of a sample.
//
// How sure: the fold's noise power is the median place's over ln 2 (the peak is a small part
// of the places). The peak must stand SureSigmas times its root above it (a place of noise
// alone passes that with a chance of e^-36), and the centroid's standard deviation, from that
// noise and the correlation of neighbouring boxes (1 - d / box for boxes d places apart), must
// be at most SureMs.
//
// Units: samples since the capture's first sample; tones in whole cycles per `period` samples at
// 8000 per second. Per-second path: no allocation after construction.
#pragma once

#include <cstdint>

struct TickTones {
  int count = 0;         // 0: the station sends no such tick
  int cycles[2] = {};    // whole cycles of each tone ...
  int period[2] = {};    // ... in this many samples at 8000 per second (at most 128)
  int length_ms = 0;     // the tick's length
};

class TickOnset {
 public:
  explicit TickOnset(const TickTones& tones);
  void Reset();

  // The second that the seconds' line puts at sample `start` (fractional), `rate` samples
  // long, read from `ring` (`mask + 1` samples indexed by absolute sample number); `has_tick`
  // false for a second known to carry none (or a minute's long tone instead).
  void Add(const int16_t* ring, int64_t mask, double start, double rate, bool has_tick);

  // True while the tick's onset is sure (see SureSigmas).
  bool Sure() const { return sure_; }
  // Where the tick began in one of the last few seconds added (samples, fractional; the fold is
  // looked at every few seconds): a point of the seconds' line. Meaningful while Sure().
  double Onset() const { return onset_; }
  // The peak's amplitude over the fold's noise, in the noise's root power (the stronger tone's).
  double Sigmas() const { return sigmas_; }
  // The onset's standard deviation from the fold's noise, ms.
  double SpreadMs() const { return spread_ms_; }

  // seconds: long enough to lift the tick out of -5 dB, short enough that a capture clock a
  // part per million off (8 ms a day) does not turn the tone's phase much within it
  static constexpr double FoldSeconds = 300.0;
  static constexpr double SureSigmas = 6.0;
  // ms: well inside the millisecond or more by which the code's edge wanders in deep noise
  static constexpr double SureMs = 0.5;
  static constexpr int MinSeconds = 60;
  static constexpr double FromMs = -10.0, ToMs = 20.0;  // the box's starts about the line's second
  // ms: a line further than this from the fold's own count of seconds starts the fold afresh
  static constexpr double RecentreMs = 6.0;
  // ms before the line's second start that Add reads (the fold's count of seconds may lie
  // RecentreMs from the line)
  static constexpr double ReadsBeforeMs = RecentreMs - FromMs + 1.0;
  static constexpr int MaxPlaces = 300;  // box starts: 30 ms at up to 9000 samples a second
  static constexpr int MaxBox = 64;

 private:
  void ClearFold();
  void Evaluate(double rate);

  TickTones tones_;
  double cos_[2][128] = {}, sin_[2][128] = {};
  bool have_origin_ = false;
  double origin_ = 0.0;  // sample of the fold's place 0 in the last second added
  int from_ = 0, places_ = 0, box_ = 0;
  double spread_jl_ = 0.0, spread_0_ = 0.0;  // see Add  // the fold's first place (samples from origin), count, box
  double fold_re_[2][MaxPlaces] = {}, fold_im_[2][MaxPlaces] = {};  // the boxes' sums, turned
  int64_t added_ = 0;  // seconds folded since the fold was cleared
  bool sure_ = false;
  double onset_ = 0.0, sigmas_ = 0.0, spread_ms_ = 0.0;
};
