// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulator/receiver.h"

#include <algorithm>
#include <cmath>

SimulatedReceiver::SimulatedReceiver(std::unique_ptr<StationEncoder> encoder,
                                     const ReceiverSettings& settings)
    : encoder_(std::move(encoder)), s_(settings), rng_(settings.seed) {
  if (s_.duration_s >= 0.0) total_ = static_cast<int64_t>(std::llround(s_.duration_s * s_.card_rate));
  // A sine of peak A carries A^2 / 2 of power; the noise gets that divided by the SNR.
  if (s_.noise) noise_sigma_ = s_.amplitude / std::sqrt(2.0) / std::pow(10.0, s_.snr_db / 20.0);
}

size_t SimulatedReceiver::Read(int16_t* out, size_t count) {
  constexpr double TwoPi = 6.283185307179586;
  const double tone_step = TwoPi * s_.tone_hz / 8000.0;  // radians per sample
  size_t produced = 0;
  for (; produced < count; ++produced) {
    if (total_ >= 0 && n_ >= total_) break;
    const double utc = s_.start_utc + static_cast<double>(n_) / s_.card_rate;
    const double phase = std::fmod(tone_step * static_cast<double>(n_), TwoPi);
    double gain = 1.0;
    if (s_.fade_depth > 0.0) {
      const double elapsed = static_cast<double>(n_) / s_.card_rate;
      gain = 1.0 - s_.fade_depth * 0.5 * (1.0 - std::cos(TwoPi * elapsed / s_.fade_period_s));
    }
    double v = s_.amplitude * gain * encoder_->Audio(utc, phase);
    if (noise_sigma_ > 0.0) v += noise_sigma_ * normal_(rng_);
    v = std::clamp(std::round(v), -32768.0, 32767.0);
    out[produced] = static_cast<int16_t>(v);
    ++n_;
  }
  return produced;
}
