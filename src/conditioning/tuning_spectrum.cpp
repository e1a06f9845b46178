// SPDX-License-Identifier: GPL-3.0-or-later
#include "conditioning/tuning_spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void SampleTap::Add(const int16_t* samples, int count) {
  if (count <= 0) return;
  // Only the newest Capacity samples of a larger buffer can stay.
  if (count > Capacity) {
    samples += count - Capacity;
    written_ += count - Capacity;
    count = Capacity;
  }
  const int at = static_cast<int>(written_ % Capacity);
  const int first = std::min(count, Capacity - at);
  std::memcpy(ring_.data() + at, samples, sizeof(int16_t) * static_cast<size_t>(first));
  std::memcpy(ring_.data(), samples + first, sizeof(int16_t) * static_cast<size_t>(count - first));
  written_ += count;
}

bool SampleTap::Copy(int64_t start, int16_t* out, int count) const {
  if (count <= 0 || start < 0 || start < written_ - Capacity || start + count > written_) return false;
  const int from = static_cast<int>(start % Capacity);
  const int first = std::min(count, Capacity - from);
  std::memcpy(out, ring_.data() + from, sizeof(int16_t) * static_cast<size_t>(first));
  std::memcpy(out + first, ring_.data(), sizeof(int16_t) * static_cast<size_t>(count - first));
  return true;
}

TuningSpectrum::TuningSpectrum() {
  constexpr double Pi = 3.14159265358979323846;
  for (int n = 0; n < Size; ++n) window_[n] = 0.5 - 0.5 * std::cos(2.0 * Pi * n / Size);
  for (int k = 0; k < Size / 2; ++k) {
    wr_[k] = std::cos(2.0 * Pi * k / Size);
    wi_[k] = -std::sin(2.0 * Pi * k / Size);
  }
}

int TuningSpectrum::BinOf(double hz) {
  const long bin = std::lround(hz / BinHz);
  return static_cast<int>(std::clamp(bin, 0L, static_cast<long>(Bins - 1)));
}

void TuningSpectrum::Compute(const int16_t* samples) {
  // Windowed, in bit-reversed order, then the radix-2 butterflies.
  constexpr int Bits = 10;
  static_assert(1 << Bits == Size);
  for (int n = 0; n < Size; ++n) {
    int r = 0;
    for (int b = 0; b < Bits; ++b) r |= ((n >> b) & 1) << (Bits - 1 - b);
    re_[r] = samples[n] * window_[n];
    im_[r] = 0.0;
  }
  for (int len = 2; len <= Size; len *= 2) {
    const int half = len / 2;
    const int step = Size / len;
    for (int start = 0; start < Size; start += len) {
      for (int j = 0; j < half; ++j) {
        const double c = wr_[j * step], s = wi_[j * step];
        const int a = start + j, b = a + half;
        const double tr = re_[b] * c - im_[b] * s;
        const double ti = re_[b] * s + im_[b] * c;
        re_[b] = re_[a] - tr;
        im_[b] = im_[a] - ti;
        re_[a] += tr;
        im_[a] += ti;
      }
    }
  }
  // A sine of amplitude A gives |X| = A * Size / 4 in its bin under the Hann window (coherent
  // gain 1/2, half the amplitude on each side of zero).
  constexpr double FullScale = 32767.0 * Size / 4.0;
  for (int k = 0; k < Bins; ++k) {
    const double p = (re_[k] * re_[k] + im_[k] * im_[k]) / (FullScale * FullScale);
    db_[k] = static_cast<float>(10.0 * std::log10(p + 1e-14));
  }
}
