#include "conditioning/tone_finder.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;
}

ToneFinder::ToneFinder() {
  for (int i = 0; i < FftSize; ++i) hann_[i] = 0.5 - 0.5 * std::cos(2.0 * Pi * i / FftSize);
  for (int k = 0; k < FftSize / 2; ++k) {
    wr_[k] = std::cos(2.0 * Pi * k / FftSize);
    wi_[k] = -std::sin(2.0 * Pi * k / FftSize);
  }
}

void ToneFinder::Reset() {
  fill_ = pos_ = since_frame_ = 0;
  frames_ = 0;
  sum_.fill(0.0);
  sum_sq_.fill(0.0);
  for (auto& p : phase_sum_) p.fill(0.0);
}

void ToneFinder::Add(const int16_t* samples, int count) {
  for (int i = 0; i < count; ++i) Push(samples[i]);
}

void ToneFinder::Add(const float* samples, int count, float scale) {
  for (int i = 0; i < count; ++i) Push(static_cast<double>(samples[i] * scale));
}

void ToneFinder::Push(double x) {
  ring_[static_cast<size_t>(pos_)] = x;
  pos_ = (pos_ + 1) % FftSize;
  if (fill_ < FftSize) ++fill_;
  if (++since_frame_ >= Hop && fill_ == FftSize) {
    since_frame_ = 0;
    Frame();
  }
}

void ToneFinder::Frame() {
  for (int i = 0; i < FftSize; ++i) {
    re_[i] = ring_[static_cast<size_t>((pos_ + i) % FftSize)] * hann_[i];
    im_[i] = 0.0;
  }
  // Radix-2 transform in place.
  for (int i = 1, j = 0; i < FftSize; ++i) {
    int bit = FftSize >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(re_[i], re_[j]);
      std::swap(im_[i], im_[j]);
    }
  }
  for (int len = 2; len <= FftSize; len <<= 1) {
    const int half = len / 2;
    const int stride = FftSize / len;
    for (int i = 0; i < FftSize; i += len) {
      for (int k = 0; k < half; ++k) {
        const int a = i + k;
        const int b = a + half;
        const double c = wr_[k * stride];
        const double d = wi_[k * stride];
        const double vr = re_[b] * c - im_[b] * d;
        const double vi = re_[b] * d + im_[b] * c;
        re_[b] = re_[a] - vr;
        im_[b] = im_[a] - vi;
        re_[a] += vr;
        im_[a] += vi;
      }
    }
  }
  const int phase = static_cast<int>(frames_ % FramesPerSecond);
  for (int k = 0; k < Bins; ++k) {
    const int b = LowBin + k;
    const double p = re_[b] * re_[b] + im_[b] * im_[b];
    sum_[k] += p;
    sum_sq_[k] += p * p;
    phase_sum_[k][phase] += p;
  }
  frames_ += 1;
}

ToneFound ToneFinder::Result() const {
  ToneFound r;
  r.seconds = Seconds();
  if (r.seconds < MinSeconds) return r;
  const double n = static_cast<double>(frames_);
  std::array<double, Bins> mean{};
  for (int k = 0; k < Bins; ++k) mean[k] = sum_[k] / n;
  std::array<double, Bins> sorted = mean;
  std::nth_element(sorted.begin(), sorted.begin() + Bins / 2, sorted.end());
  const double noise = std::max(sorted[Bins / 2], 1e-30);
  // Frames at each phase of the second (the first phases may have one more).
  std::array<double, FramesPerSecond> per_phase{};
  for (int p = 0; p < FramesPerSecond; ++p)
    per_phase[p] = static_cast<double>((frames_ - p + FramesPerSecond - 1) / FramesPerSecond);
  int best = -1;
  double best_keying = 0.0;
  for (int k = 0; k < Bins; ++k) {
    const double b = LowBin + k;
    const double hz = b * SampleRate / FftSize;
    if (hz < LowHz - 10.0 || hz > HighHz + 10.0) continue;
    if (mean[k] < noise * std::pow(10.0, MinAboveNoiseDb / 10.0)) continue;
    const double var = sum_sq_[k] / n - mean[k] * mean[k];
    if (var <= 0.0) continue;
    double explained = 0.0;
    for (int p = 0; p < FramesPerSecond; ++p) {
      if (per_phase[p] == 0.0) continue;
      const double d = phase_sum_[k][p] / per_phase[p] - mean[k];
      explained += per_phase[p] * d * d;
    }
    const double keying = explained / n / var;
    if (keying < MinKeying) continue;
    if (best < 0 || mean[k] > mean[best]) {
      best = k;
      best_keying = keying;
    }
  }
  if (best < 0) return r;
  double delta = 0.0;
  if (best > 0 && best + 1 < Bins) {
    const double l = std::log(std::max(mean[best - 1], 1e-30));
    const double c = std::log(mean[best]);
    const double h = std::log(std::max(mean[best + 1], 1e-30));
    const double den = l - 2.0 * c + h;
    if (den < 0.0) delta = std::clamp(0.5 * (l - h) / den, -0.5, 0.5);
  }
  r.found = true;
  r.hz = (LowBin + best + delta) * SampleRate / FftSize;
  r.above_noise_db = 10.0 * std::log10(mean[best] / noise);
  r.keying = best_keying;
  return r;
}
