// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated receiver: a station's time code turned into the audio a receiver feeds to the
// sound card -- the carrier as a beat tone near 1 kHz, keyed by the station, with white
// receiver noise, optional slow fading, sampled by a sound card whose clock is off nominal.
//
// Beside that idealised receiver, models of what real receivers do, each off by default (the
// defaults give the idealised signal sample for sample):
//   - the tone anywhere (a CW or USB receiver tuned by hand), or the carrier itself at a high
//     sample rate (a card taking the antenna directly);
//   - the level as a fraction of full scale (a line output or a web receiver);
//   - automatic gain control: fast attack, slow release, overshooting after every reduction;
//   - a band-pass filter of a given width around the tone (a CW filter rounds the edges);
//   - fading whose period is not a minute, and static crashes;
//   - the station's own carrier edges (the transmitting antenna's time constants).
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

  // --- Receiver models (off by default) ------------------------------------------------------
  // Nominal rate of the samples produced (a file's header rate); card_rate is the true rate of
  // a nominal 8000, so the true rate here is card_rate * sample_rate / 8000. The noise keeps
  // its density: snr_db stays the ratio over 0..4 kHz at any rate.
  double sample_rate = 8000.0;
  double agc_release_s = 0.0;      // seconds, release time constant; 0 = no AGC
  // Hz, -3 dB width of the receiver's filter; 0 = none. A band-pass around the tone (a CW
  // filter); for a station heard in AM (WWV, WWVH) the AM filter around the carrier, which
  // leaves the detected audio up to half the width.
  double filter_hz = 0.0;
  double static_per_minute = 0.0;  // mean number of static crashes a minute; 0 = none
  bool carrier_edges = false;      // the station's own carrier edges instead of steps
};

class SimulatedReceiver : public SampleSource {
 public:
  SimulatedReceiver(std::unique_ptr<StationEncoder> encoder, const ReceiverSettings& settings);
  size_t Read(int16_t* out, size_t count) override;

  int64_t SamplesProduced() const { return n_; }

  // The AGC's attack time constant for a release time constant (seconds): a fortieth of it,
  // never below 1 ms.
  static double AgcAttack(double release_s);

 private:
  double Crash();             // static: this sample's crash noise, in units of the carrier
  double BandPass(double v);  // the receiver's filter: two biquads in cascade
  double Agc(double v);       // the AGC's output for this sample

  std::unique_ptr<StationEncoder> encoder_;
  ReceiverSettings s_;
  CarrierKeying keying_;
  double true_rate_ = 0.0;  // samples per second of true time
  int64_t n_ = 0;          // samples produced
  int64_t total_ = -1;     // samples to produce, -1 endless
  double noise_sigma_ = 0.0;
  std::mt19937_64 rng_;
  std::normal_distribution<double> normal_{0.0, 1.0};

  // Carrier edges: the envelope through the antenna's time constants.
  double edge_envelope_ = 1.0;
  double fall_step_ = 1.0, rise_step_ = 1.0;  // fraction of the gap closed per sample
  // Static crashes: their own generator, so the receiver noise stays as it was.
  std::mt19937_64 static_rng_;
  double crash_level_ = 0.0;  // current crash amplitude, carrier units
  double crash_decay_ = 0.0;  // per sample
  // The filter: two biquads, their coefficients and states.
  double bp_b0_ = 0.0, bp_b1_ = 0.0, bp_b2_ = 0.0, bp_a1_ = 0.0, bp_a2_ = 0.0;
  double bp_x_[2][2] = {}, bp_y_[2][2] = {};
  // AGC: the detector (mean rectified output), the gain in dB and its two step sizes.
  double agc_detector_ = 0.0;
  double agc_gain_db_ = 0.0;
  double agc_attack_ = 0.0, agc_release_ = 0.0, agc_detect_ = 0.0;
};
