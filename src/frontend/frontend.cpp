// SPDX-License-Identifier: GPL-3.0-or-later
// Signal front end: per block of 128 samples, the strength of the station's tone (a windowed
// 128-point transform, bins 15..17 around 1 kHz), the off flag against the adaptive
// threshold, the peak and floor trackers, and the one-minute ring of levels that every
// decoder reads through OffScore.
#include <cmath>
#include <utility>

#include "app/varnol_doc.h"

void CVarnolDoc::Fft(int m, int n, int scaling_count, int scaling_flag) {
  // Radix-2 decimation in frequency, rotations by e^(+i 2 pi j step / 128). The order of the
  // operations is kept as it is: the spectrum bytes are truncated magnitudes, and a changed
  // rounding would change them.
  for (int s = 1; s <= m; ++s) {
    const int half = 1 << (m - s);
    const int span = 2 * half;
    const int step = 1 << (s - 1);
    for (int j = 0; j < half; ++j) {
      const double wr = CosTable[j * step];
      const double wi = NegSinTable[j * step];
      for (int g = 0; g + span <= n; g += span) {
        const int a = g + j;
        const int b = a + half;
        const double dr = FftRe[a] - FftRe[b];
        const double di = FftIm[a] - FftIm[b];
        FftRe[a] = FftRe[a] + FftRe[b];
        FftIm[a] = FftIm[a] + FftIm[b];
        FftRe[b] = wr * dr + wi * di;
        FftIm[b] = wr * di - wi * dr;
      }
    }
  }
  // Bit-reversal reordering, each pair exchanged once.
  for (int i = 0; i < n; ++i) {
    int r = 0;
    for (int bit = 0; bit < m; ++bit)
      if ((i >> bit) & 1) r |= 1 << (m - 1 - bit);
    if (r > i) {
      std::swap(FftRe[i], FftRe[r]);
      std::swap(FftIm[i], FftIm[r]);
    }
  }
  if (scaling_flag == 1) {
    for (int i = 0; i < scaling_count; ++i) {
      FftRe[i] /= scaling_count;
      FftIm[i] /= scaling_count;
    }
  }
}

void CVarnolDoc::LevelStep(const int16_t* block) {
  // Window: minus the sine of 2 pi j / 128 with j = (i + 1) / 2, each value used for two
  // consecutive samples, zero at both ends.
  for (int i = 0; i < BlockSize; ++i) {
    FftRe[i] = block[i] * NegSinTable[(i + 1) / 2];
    FftIm[i] = 0.0;
  }
  const int m = static_cast<int>(std::lround(std::log(128.0) / std::log(2.0)));
  Fft(m, 128, 128, 1);

  uint8_t* row = SpectrumTrace[DisplayColumn];
  for (int k = 0; k < SpectrumBins; ++k) {
    const double p = FftRe[k] * FftRe[k] + FftIm[k] * FftIm[k];
    uint8_t byte = 0;
    if (p > 1e-9) {
      const double magnitude = std::sqrt(p);
      byte = magnitude < 255.0 ? static_cast<uint8_t>(magnitude) : uint8_t{255};
    }
    row[k] = byte;
  }
  // Bins 15, 16 and 17: 937.5, 1000 and 1062.5 Hz at 8000 samples per second.
  LevelTrace[DisplayColumn] = row[15] + row[16] + row[17];
}

void CVarnolDoc::DecisionStep() {
  const int level = LevelTrace[DisplayColumn];
  OffFlags[DisplayColumn] = level <= Threshold ? 1 : 0;
  LevelRing[RingIndex] = level;

  // Per-block tracker steps by station: peak up, peak down, floor down, floor up.
  double peak_up = 2.0, peak_down = 0.5, floor_down = 2.0, floor_up = 0.2;
  if (StationMode == StationVng || StationMode == StationRwm) {
    peak_up = 3.0;
    peak_down = 0.2;
    floor_down = 2.0;
    floor_up = 0.5;
  } else if (StationMode == StationWwv) {
    peak_up = 2.0;
    peak_down = 0.5;
    floor_down = 1.0;
    floor_up = 0.5;
  }
  const double l = static_cast<double>(level);
  PeakLevel += l > PeakLevel ? peak_up : -peak_down;
  FloorLevel += l < FloorLevel ? -floor_down : floor_up;
  if (PeakLevel > 1536.0) PeakLevel = 1536.0;
  if (FloorLevel < 0.0) FloorLevel = 0.0;
  Threshold = static_cast<int>((PeakLevel + FloorLevel) / 2.0);
}

int CVarnolDoc::OffScore(int second, int tenth) const {
  int s = second - 1;
  if (s < 0) s += 60;
  // Integer products, real divisions: the nearest ring offset, halves rounding up.
  const int start = static_cast<int>((s * BlocksPerMinute) / 60.0 + 0.5 +
                                     (tenth * BlocksPerMinute) / 600.0);
  int index = (RingIndex + start) % BlocksPerMinute;
  int sum = 0;
  for (int i = 0; i < 6; ++i) {
    sum += LevelRing[index];
    if (++index == BlocksPerMinute) index = 0;
  }
  return 6 * Threshold - sum;
}
