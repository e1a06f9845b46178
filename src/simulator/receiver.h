// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated receiver: a station's time code turned into the audio a receiver feeds to the
// sound card -- the carrier as a beat tone near 1 kHz, keyed by the station, with white
// receiver noise, optional slow fading, sampled by a sound card whose clock is off nominal.
#pragma once

#include <cstdint>
#include <memory>
#include <random>

#include "capture/sample_source.h"
#include "simulator/encoder.h"

struct ReceiverSettings {
  double start_utc = 0.0;            // seconds since 1970 at the first sample
  double card_rate = 3756.0 * 128.0 / 60.0;  // samples per second of true time (8012.8)
  double tone_hz = 1000.0;           // beat tone at the nominal 8000 samples per second
  double amplitude = 600.0;          // peak of the full-carrier tone, in sample units
  // Full-carrier tone power to noise power over the whole 0..4 kHz band. 3 dB there is about
  // 16 dB within the 187 Hz the tone measure sums (bins 15..17): a fair long-wave reception.
  // A much cleaner tone is not kinder to the decoders: with flat pulse bottoms and tops, a
  // six-block window half over a pulse edge sits exactly at the threshold, and without noise
  // such windows can line up into false minute markers when the sound card is off nominal.
  double snr_db = 3.0;
  bool noise = true;
  uint64_t seed = 1;                 // noise generator seed
  double fade_depth = 0.0;           // 0 = none; 0.8 = gain swings down to 20 %
  double fade_period_s = 60.0;       // seconds per fading cycle
  double duration_s = -1.0;          // seconds of true time; negative = endless
};

class SimulatedReceiver : public SampleSource {
 public:
  SimulatedReceiver(std::unique_ptr<StationEncoder> encoder, const ReceiverSettings& settings);
  size_t Read(int16_t* out, size_t count) override;

  int64_t SamplesProduced() const { return n_; }

 private:
  std::unique_ptr<StationEncoder> encoder_;
  ReceiverSettings s_;
  int64_t n_ = 0;          // samples produced
  int64_t total_ = -1;     // samples to produce, -1 endless
  double noise_sigma_ = 0.0;
  std::mt19937_64 rng_;
  std::normal_distribution<double> normal_{0.0, 1.0};
};
