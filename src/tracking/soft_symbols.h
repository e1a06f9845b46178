// SPDX-License-Identifier: GPL-3.0-or-later
// Soft symbols: how likely each symbol of the station is in one second, from the tone,
// instead of a hard 0 or 1.
//
// The second is cut into 100 ms slots (every symbol keys the carrier in whole slots) and each
// slot's level is the matched filter of a rectangular reduction. Where the station keeps its
// carrier's phase through the second, the tone's sum over the slot, turned back by the tone's
// offset from its nominal frequency and projected onto the carrier's phase in the rest of the
// second (LevelTracker::Read); for a keyed tone, the mean over the slot of the tone's magnitude
// in 10 ms pieces (SlotLevels: long enough to average the noise coherently, short enough that a
// tone a few tens of hertz off its nominal frequency loses nothing). With the levels of the
// full and of the reduced carrier and the scatter of a slot's level, each symbol's
// log-likelihood is that of Gaussian noise about its template:
//
//   ln P(levels | symbol) = - sum over slots (level - template level)^2 / (2 sigma^2) + const
//
// Each is capped at LikelihoodCap below the best symbol's, the likelihood of a model in which a
// second is now and then wrecked whatever was sent (a static crash, a noise burst): one such
// second cannot outvote the evidence of a few good ones.
//
// Units: levels in sample units of the tone's amplitude; log-likelihoods in nats.
#pragma once

#include <cstdint>

#include "tracking/station_symbols.h"

// ln(1 / 1e-3): one second in a thousand taken as wrecked whatever the symbol.
constexpr double LikelihoodCap = 6.9;

// 10 ms pieces in a second.
constexpr int TonePieces = 100;

// The tone's amplitude (sample units) in each 10 ms piece of the second that begins at sample
// `start` and lasts `rate` samples, read as SlotLevels reads them (see below); 0 for a piece
// without samples.
void PieceLevels(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
                 double levels[TonePieces]);

// The ten slot levels of a second that begins at sample `start` (fractional, samples since the
// capture's first) and lasts `rate` samples, read from `ring` (`mask + 1` samples, a power of
// two, indexed by absolute sample number). The tone makes `cycles` whole cycles in `period`
// samples (1000 Hz at 8000 per second: 1 in 8; WWV's 100 Hz: 1 in 80; at most 128). The caller
// guarantees the samples are there.
void SlotLevels(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
                double levels[SlotsPerSecond]);

// The full and reduced carrier's levels and the scatter of a slot's level, followed from second
// to second: the full level from the slots high in every symbol (quickly, for fading), the
// scatter from the spread of those slots within each second (slowly), the reduced level from
// the slot low in nearly every second. For a keyed tone (StationSymbols::tone_keyed): the
// silent level and its scatter from the slots no symbol keys, the tone's level fitted together
// with each second's symbol.
class LevelTracker {
 public:
  explicit LevelTracker(const StationSymbols& table);
  void Reset();
  // The ten slot levels of a second (the arguments as SlotLevels'). Where the station keeps a
  // carrier through every second (not a keyed tone), read coherently: the tone's 10 ms pieces
  // turned back by the tone's offset from its nominal frequency (followed from second to
  // second), summed over each slot, and each slot's sum projected onto the carrier's phase in
  // the rest of the same second. The level is then the carrier's amplitude in phase with the
  // rest of the second plus Gaussian noise of one dimension and a tenth of the bandwidth, where
  // the magnitudes of ten pieces carry the noise's own magnitude into the reduced slots. A
  // keyed tone has no phase to keep between pulses: SlotLevels; a keyed subcarrier locked to
  // the seconds (StationSymbols::keyed_coherent) is read as a carrier is, its phase taken from
  // the seconds before as well.
  void Read(const int16_t* ring, int64_t mask, double start, double rate, int cycles, int period,
            double levels[SlotsPerSecond]);
  // The tone's offset from its nominal frequency as followed, in hertz (cycles per second of
  // the seconds read).
  double ToneOffset() const;
  void Add(const double levels[SlotsPerSecond]);
  // True once enough seconds have been seen for the levels to mean something.
  bool Ready() const { return seconds_ >= 5; }
  double High() const { return high_; }
  double Low() const { return low_; }
  double Sigma() const;
  // The variance of High()'s error about the tone's true level (sample units squared), for a
  // subcarrier read coherently (StationSymbols::keyed_coherent): its slots read with little
  // noise, the level's error is then what moves a second's likelihoods most; 0 otherwise.
  double LevelVariance() const { return table_->keyed_coherent ? level_variance_ : 0.0; }

 private:
  void AddToneKeyed(const double levels[SlotsPerSecond]);

  const StationSymbols* table_;
  // Each slot's weight in the carrier's phase reference: its expected share of the full carrier.
  double reference_weight_[SlotsPerSecond] = {};
  // Averages of the tone's lag products, each second's normalised by its power: their angles
  // are the tone's turn over a 10 ms piece (coarse) and over a 100 ms slot (fine).
  double coarse_re_ = 0.0, coarse_im_ = 0.0, fine_re_ = 0.0, fine_im_ = 0.0;
  int seconds_ = 0;
  double high_ = 0.0, low_ = 0.0, variance_ = 0.0;
  double on_variance_ = 0.0;  // a keyed tone's stations: the scatter of a slot with the tone on
  // A keyed subcarrier's phase reference, summed over the seconds read (see Read).
  double keyed_re_ = 0.0, keyed_im_ = 0.0;
  double level_variance_ = 0.0;  // see LevelVariance
};

// Log-likelihood of each symbol of `table` for one second's slot levels, the best one 0 and
// none below -LikelihoodCap; `out` holds table.symbol_count values. `level_variance`: the
// variance of `high`'s error about the true level where it is known (LevelTracker).
void SymbolLikelihoods(const StationSymbols& table, const double levels[SlotsPerSecond], double high,
                       double low, double sigma, double* out, double level_variance = 0.0);

// ln of the mean of exp(ll[s]) over the symbols in `mask` (each equally likely a priori):
// the log-likelihood of a second that may carry any of them. Empty mask: 0.
double MaskLikelihood(const double* ll, int symbol_count, SymbolMask mask);
