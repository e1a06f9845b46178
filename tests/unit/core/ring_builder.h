// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a synthetic minute into the level ring, as the front end would have stored it: for
// every ring slot, the level of the tone at that moment of the last minute.
#pragma once

#include <functional>

#include "app/varnol_doc.h"

constexpr int kHigh = 200;  // carrier present
constexpr int kLow = 0;     // carrier reduced
constexpr int kThreshold = 100;

// `carrier(second, fraction)` tells whether the carrier is present at that moment; second 0
// is the second that has just begun (the newest), 1..59 those of the minute just past.
inline void FillRing(CVarnolDoc& doc, const std::function<bool(int, double)>& carrier) {
  doc.Threshold = kThreshold;
  const int bpm = doc.BlocksPerMinute;
  for (int k = 0; k < bpm; ++k) {
    const double t = static_cast<double>(k) * 60.0 / bpm;  // seconds since second 1 began
    int second = static_cast<int>(t) + 1;
    const double fraction = t - static_cast<int>(t);
    if (second == 60) second = 0;
    doc.LevelRing[(doc.RingIndex + k) % bpm] = carrier(second, fraction) ? kHigh : kLow;
  }
}

// A DCF77 minute: bits[s] for seconds 1..58 (1 = 200 ms drop, 0 = 100 ms), no drop in 59,
// a 100 ms drop at second 0.
inline void FillDcf77(CVarnolDoc& doc, const int (&bits)[60], double second0_drop = 0.1) {
  FillRing(doc, [&](int s, double f) {
    if (s == 59) return true;
    if (s == 0) return f >= second0_drop;
    return f >= (bits[s] ? 0.2 : 0.1);
  });
}

// DCF77 bits for hour:minute with correct parities; `summer` sets bit 17, else bit 18.
inline void Dcf77Time(int (&bits)[60], int hour, int minute, bool summer) {
  for (int& b : bits) b = 0;
  bits[17] = summer ? 1 : 0;
  bits[18] = summer ? 0 : 1;
  bits[20] = 1;
  // BCD: bits 0..3 of the field are the units (1 2 4 8), the higher ones the tens (10 20 40)
  const int m = minute % 10 + (minute / 10) * 16;
  const int h = hour % 10 + (hour / 10) * 16;
  int ones = 0;
  for (int i = 0; i < 7; ++i) ones += bits[21 + i] = (m >> i) & 1;
  bits[28] = ones % 2;
  ones = 0;
  for (int i = 0; i < 6; ++i) ones += bits[29 + i] = (h >> i) & 1;
  bits[35] = ones % 2;
}
