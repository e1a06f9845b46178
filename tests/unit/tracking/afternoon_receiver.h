// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated receiver the lock's audio tests start from: 17.3 s into 13:00 UTC of
// 2026-12-07, a sound card at 8012.8 samples per second, the SNR given in a 300 Hz receiver
// passband (the simulator's own is over 0..4 kHz, 11.25 dB lower for the same signal), fading
// of 97 s (not locked to the minute).
#pragma once

#include <cstdint>

#include "simulator/receiver.h"

inline constexpr double AfternoonCardRate = 3756.0 * 128.0 / 60.0;
inline constexpr int64_t AfternoonHour = 1796648400;  // 2026-12-07 13:00 UTC

// `signal` false: the receiver's noise as loud as usual, the station 60 dB below it.
inline ReceiverSettings AfternoonReceiver(double snr_300hz_db, double fade_depth, double static_per_minute,
                                          uint64_t seed, bool signal = true) {
  ReceiverSettings rs;
  rs.start_utc = static_cast<double>(AfternoonHour) + 17.3;
  rs.card_rate = AfternoonCardRate;
  rs.snr_db = snr_300hz_db - 11.25;
  rs.fade_depth = fade_depth;
  rs.fade_period_s = 97.0;
  rs.static_per_minute = static_per_minute;
  rs.seed = seed;
  if (!signal) {
    rs.amplitude = 0.4;
    rs.snr_db = -60.0;
  }
  return rs;
}
