#include "conditioning/tone_shift.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;
constexpr int RenormEvery = 1024;  // samples
}  // namespace

double ToneShift::HalfWidthFor(double rate, double from_hz) {
  const double mirror = std::min(2.0 * from_hz, rate - 2.0 * from_hz);  // Hz from the tone
  return std::clamp(mirror / 4.0, MinHalfWidthHz, DefaultHalfWidthHz);
}

bool ToneShift::Fits(double rate, double from_hz, double to_hz) {
  const double nyquist = rate / 2.0;
  if (rate <= 0 || from_hz <= 0 || from_hz >= nyquist) return false;
  const double half_width = HalfWidthFor(rate, from_hz);
  return 4.0 * half_width <= std::min(2.0 * from_hz, rate - 2.0 * from_hz) && to_hz > half_width &&
         to_hz + half_width < nyquist;
}

ToneShift::ToneShift(double rate, double from_hz, double to_hz, double half_width_hz)
    : rate_(rate), from_hz_(from_hz), to_hz_(to_hz) {
  const double down = -2.0 * Pi * from_hz / rate;
  const double up = 2.0 * Pi * to_hz / rate;
  down_step_r_ = std::cos(down);
  down_step_i_ = std::sin(down);
  up_step_r_ = std::cos(up);
  up_step_i_ = std::sin(up);
  // Butterworth of order 4 as two second-order sections, Q = 1 / (2 sin((2k - 1) pi / 8)),
  // by the bilinear transform. 1 - cos(w0) is written 2 sin^2(w0 / 2): at a small w0 the
  // difference would lose most of its digits.
  const double w0 = 2.0 * Pi * half_width_hz / rate;
  const double one_minus_cos = 2.0 * std::sin(w0 / 2.0) * std::sin(w0 / 2.0);
  const double qs[2] = {0.54119610014619698, 1.3065629648763766};
  for (int k = 0; k < 2; ++k) {
    const double alpha = std::sin(w0) / (2.0 * qs[k]);
    const double a0 = 1.0 + alpha;
    Biquad& b = stages_[k];
    b.b0 = one_minus_cos / 2.0 / a0;
    b.b1 = one_minus_cos / a0;
    b.b2 = b.b0;
    b.a1 = -2.0 * std::cos(w0) / a0;
    b.a2 = (1.0 - alpha) / a0;
  }
}

double ToneShift::Next(double x) {
  // Down to 0 Hz.
  double re = x * down_r_;
  double im = x * down_i_;
  for (Biquad& b : stages_) {
    const double yr = b.b0 * re + b.z1r;
    b.z1r = b.b1 * re - b.a1 * yr + b.z2r;
    b.z2r = b.b2 * re - b.a2 * yr;
    const double yi = b.b0 * im + b.z1i;
    b.z1i = b.b1 * im - b.a1 * yi + b.z2i;
    b.z2i = b.b2 * im - b.a2 * yi;
    re = yr;
    im = yi;
  }
  // Up to `to`, twice the real part.
  const double y = 2.0 * (re * up_r_ - im * up_i_);
  // Both phasors one step on.
  double r = down_r_ * down_step_r_ - down_i_ * down_step_i_;
  down_i_ = down_r_ * down_step_i_ + down_i_ * down_step_r_;
  down_r_ = r;
  r = up_r_ * up_step_r_ - up_i_ * up_step_i_;
  up_i_ = up_r_ * up_step_i_ + up_i_ * up_step_r_;
  up_r_ = r;
  if (++since_renorm_ >= RenormEvery) {
    since_renorm_ = 0;
    const double gd = 1.0 / std::hypot(down_r_, down_i_);
    down_r_ *= gd;
    down_i_ *= gd;
    const double gu = 1.0 / std::hypot(up_r_, up_i_);
    up_r_ *= gu;
    up_i_ *= gu;
  }
  return y;
}

void ToneShift::Process(float* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<float>(Next(samples[i]));
}

void ToneShift::Process(int16_t* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const double v = std::round(Next(samples[i]));
    samples[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
  }
}
