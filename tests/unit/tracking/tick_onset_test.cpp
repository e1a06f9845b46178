// SPDX-License-Identifier: GPL-3.0-or-later
// The seconds' tick of WWV (1000 Hz) and WWVH (1200 Hz) placed from simulated receiver audio
// when the line it is read about is a millisecond or two off: sure and near the truth where the
// tick stands out of the fold's noise, never sure in noise alone.
#include "tracking/tick_onset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "app/varnol_doc.h"
#include "simulator/receiver.h"
#include "tracking/station_symbols.h"
#include "unit/tracking/afternoon_receiver.h"

namespace {

constexpr double CardRate = AfternoonCardRate;

struct TickCase {
  const char* station;
  double snr_300hz_db;
  double fade_depth;
  double static_per_minute;
  int minutes;
  double line_off_ms;  // where the line read about puts the seconds, from the truth
  double error_ms;     // sure at the end, within this of the truth (0: never sure)
};

class TickOnsetTest : public ::testing::TestWithParam<TickCase> {};

TEST_P(TickOnsetTest, PlacesTheTick) {
  const TickCase& c = GetParam();
  const ReceiverSettings rs = AfternoonReceiver(c.snr_300hz_db, c.fade_depth, c.static_per_minute, 4, c.error_ms != 0.0);
  SimulatedReceiver rx(MakeEncoder(c.station), rs);

  TickOnset tick(SymbolsFor(StationWwv)->ticks);
  constexpr int64_t Mask = (1 << 16) - 1;
  std::vector<int16_t> ring(Mask + 1);
  const double first_start = (std::ceil(rs.start_utc) - rs.start_utc) * CardRate;
  int64_t written = 0;
  bool ever_sure = false;
  for (int k = 0; k < c.minutes * 60; ++k) {
    const double truth = first_start + k * CardRate;
    // the second and 20 ms after it in the ring
    const auto until = static_cast<int64_t>(truth + 1.03 * CardRate);
    for (; written < until; ++written) {
      int16_t v = 0;
      rx.Read(&v, 1);
      ring[written & Mask] = v;
    }
    if (truth < 0.02 * CardRate) continue;
    const int64_t second = (static_cast<int64_t>(std::ceil(rs.start_utc)) + k) % 60;
    tick.Add(ring.data(), Mask, truth + c.line_off_ms * CardRate / 1000.0, CardRate,
             second != 0 && second != 29 && second != 59);
    ever_sure = ever_sure || tick.Sure();
    if (k + 1 == c.minutes * 60) {
      // (the onset of one of the last seconds: any second's start is the truth's plus whole seconds)
      const double seconds = (tick.Onset() - truth) / CardRate;
      const double error_ms = (seconds - std::round(seconds)) * 1000.0;
      std::printf("%s %+.0f dB, line %+.1f ms: %s, %.1f sigmas, sd %.2f ms, error %+.3f ms\n", c.station,
                  c.snr_300hz_db, c.line_off_ms, tick.Sure() ? "sure" : "not sure", tick.Sigmas(), tick.SpreadMs(),
                  error_ms);
      if (c.error_ms == 0.0) {
        EXPECT_FALSE(ever_sure) << "a tick placed in noise alone";
      } else {
        ASSERT_TRUE(tick.Sure());
        EXPECT_NEAR(error_ms, 0.0, c.error_ms);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stations, TickOnsetTest,
    ::testing::Values(TickCase{"wwv", 10.0, 0.0, 0.0, 3, 1.5, 0.1},
                      // WWVH's tick is 1200 Hz: the other tone's fold places it
                      TickCase{"wwvh", 10.0, 0.0, 0.0, 3, -2.5, 0.1},
                      // deep noise, fading and static crashes: the coherent fold still places it
                      TickCase{"wwv", -5.0, 0.5, 2.0, 15, 1.5, 0.5},
                      TickCase{"wwv", 0.0, 0.0, 0.0, 15, 1.0, 0.0}));

}  // namespace
