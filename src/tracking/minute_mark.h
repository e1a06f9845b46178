// SPDX-License-Identifier: GPL-3.0-or-later
// A minute's mark sent on a tone of its own, beside the code the lock reads: WWV and WWVH send
// their time code on a 100 Hz subcarrier whose position markers repeat every ten seconds, so
// that code alone tells the minute's ten-second places apart only by second 0's missing pulse
// and a few always-zero bits. The same second 0 carries an 800 ms tone (1000 Hz from WWV,
// 1200 Hz from WWVH, 1500 Hz at the hour from either) where every other second carries a 5 ms
// tick or nothing: a far stronger mark, found here as each second's evidence that it is
// second 0.
//
// Each second, the tone's level on each mark frequency is the mean magnitude of 10 ms pieces
// over the middle of the mark (MarkBeginMs..MarkEndMs after the on-time marker). Against the
// last minute's levels on that frequency (their median the level without a mark, their scatter
// from the median absolute deviation, and the mark's height from the largest of them, never
// taken below FloorSigmas of the scatter) the log-likelihood ratio of "a mark" to "no mark" for
// Gaussian scatter about the two levels is
//
//   ln LR = A / sigma^2 * (x - b - A / 2)
//
// with x the second's level, b the level without a mark, A the mark's height. The frequencies
// are equally likely (ln of the mean of their ratios), and the result is held within
// LikelihoodCap either way, as every second's evidence is: a static crash or a voice
// announcement cannot do more than one wrecked second.
#pragma once

#include <cstdint>

struct MarkTones {
  int channels = 0;           // 0: the station sends no such mark
  int cycles[3] = {};         // whole cycles of each tone ...
  int period[3] = {};         // ... in this many samples at 8000 per second (at most 128)
};

class MinuteMark {
 public:
  explicit MinuteMark(const MarkTones& tones) : tones_(tones) {}
  void Reset();
  // The second that begins at sample `start` (fractional, samples of the capture) and lasts
  // `rate` samples, read from `ring` (`mask + 1` samples, indexed by absolute sample number):
  // ln of the likelihood ratio that it is a minute's second 0, nats; 0 until a minute of
  // seconds has been heard.
  double Add(const int16_t* ring, int64_t mask, double start, double rate);

  static constexpr int History = 60;          // seconds
  static constexpr double FloorSigmas = 4.0;  // the least mark height believed
  static constexpr int MarkBeginMs = 20;
  static constexpr int MarkEndMs = 780;

 private:
  MarkTones tones_;
  double levels_[3][History] = {};
  int heard_ = 0;  // seconds in levels_, at most History
  int next_ = 0;   // where the next second's levels go
};
