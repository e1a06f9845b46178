// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulator/receiver.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double TwoPi = 6.283185307179586;

// A second-order band-pass narrows to 0.6436 of its own -3 dB width when two are cascaded
// (1 / (1 + x^2) = 1 / sqrt(2) at x^2 = sqrt(2) - 1): each stage is made that much wider.
constexpr double CascadeNarrowing = 0.6436;
// A second-order Butterworth low-pass narrows to 0.8022 of its corner when two are cascaded
// (1 / (1 + x^4) = 1 / sqrt(2) at x^4 = sqrt(2) - 1).
constexpr double LowPassCascadeNarrowing = 0.8022;

// The AGC's detector: the mean of the rectified output over about 5 ms, times pi / 2 to give
// the peak of a sine.
constexpr double AgcDetectorSeconds = 0.005;
constexpr double AgcGainLimitDb = 60.0;  // the receiver's gain range either way

// Static crashes: each one a burst of noise decaying exponentially, peak 2 to 30 times the
// full carrier (log-uniform), decaying in 3 to 30 ms.
constexpr double CrashPeakMin = 2.0, CrashPeakMax = 30.0;
constexpr double CrashDecayMin = 0.003, CrashDecayMax = 0.030;

// Fraction of the gap a one-pole filter of time constant `tau` closes in one sample.
double StepFor(double tau_s, double rate) {
  return tau_s > 0.0 ? 1.0 - std::exp(-1.0 / (tau_s * rate)) : 1.0;
}

}  // namespace

double SimulatedReceiver::AgcAttack(double release_s) {
  return std::max(release_s / 40.0, 0.001);
}

SimulatedReceiver::SimulatedReceiver(std::unique_ptr<StationEncoder> encoder,
                                     const ReceiverSettings& settings)
    : encoder_(std::move(encoder)),
      s_(settings),
      rng_(settings.seed),
      static_rng_(settings.seed ^ 0x5a7a71c) {
  // At the nominal 8000 samples a second the card's rate is the true rate as given.
  true_rate_ = s_.sample_rate == 8000.0 ? s_.card_rate : s_.card_rate * (s_.sample_rate / 8000.0);
  if (s_.duration_s >= 0.0) total_ = static_cast<int64_t>(std::llround(s_.duration_s * true_rate_));
  // A sine of peak A carries A^2 / 2 of power; the noise gets that divided by the SNR.
  if (s_.noise) noise_sigma_ = s_.amplitude / std::sqrt(2.0) / std::pow(10.0, s_.snr_db / 20.0);
  // The same noise density at another rate: its power grows with the band.
  if (s_.noise && s_.sample_rate != 8000.0) noise_sigma_ *= std::sqrt(s_.sample_rate / 8000.0);

  keying_ = encoder_->Keying();
  fall_step_ = StepFor(keying_.fall_s, true_rate_);
  rise_step_ = StepFor(keying_.rise_s, true_rate_);

  if (s_.filter_hz > 0.0 && encoder_->AmAudio()) {
    // An AM receiver: its filter of filter_hz around the carrier leaves the detected audio up
    // to half that width. Two equal Butterworth low-passes, each a little wider.
    const double w0 = TwoPi * std::min(s_.filter_hz / 2.0 / LowPassCascadeNarrowing, 0.45 * s_.sample_rate) /
                      s_.sample_rate;
    const double alpha = std::sin(w0) / (2.0 * std::sqrt(0.5));
    const double a0 = 1.0 + alpha;
    bp_b0_ = (1.0 - std::cos(w0)) / 2.0 / a0;
    bp_b1_ = (1.0 - std::cos(w0)) / a0;
    bp_b2_ = bp_b0_;
    bp_a1_ = -2.0 * std::cos(w0) / a0;
    bp_a2_ = (1.0 - alpha) / a0;
  } else if (s_.filter_hz > 0.0) {
    // Two equal resonators at the tone (peak gain 1), each of width filter_hz / 0.6436.
    const double w0 = TwoPi * s_.tone_hz / s_.sample_rate;
    const double q = s_.tone_hz / (s_.filter_hz / CascadeNarrowing);
    const double alpha = std::sin(w0) / (2.0 * q);
    const double a0 = 1.0 + alpha;
    bp_b0_ = alpha / a0;
    bp_b1_ = 0.0;
    bp_b2_ = -bp_b0_;
    bp_a1_ = -2.0 * std::cos(w0) / a0;
    bp_a2_ = (1.0 - alpha) / a0;
  }
  if (s_.agc_release_s > 0.0) {
    agc_attack_ = StepFor(AgcAttack(s_.agc_release_s), true_rate_);
    agc_release_ = StepFor(s_.agc_release_s, true_rate_);
    agc_detect_ = StepFor(AgcDetectorSeconds, true_rate_);
    agc_detector_ = s_.amplitude * 2.0 / 3.141592653589793;  // as if the full carrier were on
  }
}

double SimulatedReceiver::Crash() {
  const double p = s_.static_per_minute / 60.0 / true_rate_;  // chance of a crash this sample
  if (std::uniform_real_distribution<double>(0.0, 1.0)(static_rng_) < p) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    crash_level_ = CrashPeakMin * std::pow(CrashPeakMax / CrashPeakMin, u(static_rng_));
    const double decay_s = CrashDecayMin + (CrashDecayMax - CrashDecayMin) * u(static_rng_);
    crash_decay_ = std::exp(-1.0 / (decay_s * true_rate_));
  }
  if (crash_level_ < 1e-3) return 0.0;
  const double v = crash_level_ * std::normal_distribution<double>(0.0, 1.0)(static_rng_);
  crash_level_ *= crash_decay_;
  return v;
}

double SimulatedReceiver::BandPass(double v) {
  for (int k = 0; k < 2; ++k) {
    double* x = bp_x_[k];
    double* y = bp_y_[k];
    const double out = bp_b0_ * v + bp_b1_ * x[0] + bp_b2_ * x[1] - bp_a1_ * y[0] - bp_a2_ * y[1];
    x[1] = x[0];
    x[0] = v;
    y[1] = y[0];
    y[0] = out;
    v = out;
  }
  return v;
}

double SimulatedReceiver::Agc(double v) {
  // The gain follows the output's level in dB towards the set level (s_.amplitude): quickly
  // down when the output is above it, slowly up when below. During a carrier reduction the
  // gain creeps up, so the returning carrier comes out too strong until the attack catches
  // it: the overshoot after every pulse.
  const double out = v * std::pow(10.0, agc_gain_db_ / 20.0);
  agc_detector_ += (std::fabs(out) - agc_detector_) * agc_detect_;
  const double level = std::max(agc_detector_ * 3.141592653589793 / 2.0, s_.amplitude * 1e-6);
  const double error_db = 20.0 * std::log10(level / s_.amplitude);
  agc_gain_db_ -= error_db * (error_db > 0.0 ? agc_attack_ : agc_release_);
  agc_gain_db_ = std::clamp(agc_gain_db_, -AgcGainLimitDb, AgcGainLimitDb);
  return out;
}

size_t SimulatedReceiver::Read(int16_t* out, size_t count) {
  const double tone_step = TwoPi * s_.tone_hz / s_.sample_rate;  // radians per sample
  const bool edges = s_.carrier_edges && keying_.keyed;
  size_t produced = 0;
  for (; produced < count; ++produced) {
    if (total_ >= 0 && n_ >= total_) break;
    const double utc = s_.start_utc + static_cast<double>(n_) / true_rate_;
    const double phase = std::fmod(tone_step * static_cast<double>(n_), TwoPi);
    double gain = 1.0;
    if (s_.fade_depth > 0.0) {
      const double elapsed = static_cast<double>(n_) / true_rate_;
      gain = 1.0 - s_.fade_depth * 0.5 * (1.0 - std::cos(TwoPi * elapsed / s_.fade_period_s));
    }
    double audio = 0.0;
    if (edges) {
      const double target = encoder_->Envelope(utc);
      edge_envelope_ += (target - edge_envelope_) * (target < edge_envelope_ ? fall_step_ : rise_step_);
      audio = edge_envelope_ * std::sin(phase);
    } else {
      audio = encoder_->Audio(utc, phase);
    }
    double v = s_.amplitude * gain * audio;
    if (noise_sigma_ > 0.0) v += noise_sigma_ * normal_(rng_);
    if (s_.static_per_minute > 0.0) v += s_.amplitude * Crash();
    if (s_.filter_hz > 0.0) v = BandPass(v);
    if (s_.agc_release_s > 0.0) v = Agc(v);
    v = std::clamp(std::round(v), -32768.0, 32767.0);
    out[produced] = static_cast<int16_t>(v);
    ++n_;
  }
  return produced;
}
