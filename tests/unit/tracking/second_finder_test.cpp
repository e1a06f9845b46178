// SPDX-License-Identifier: GPL-3.0-or-later
// The seconds' phase found from the station's mean second on simulated receiver audio, at
// signal-to-noise ratios where no single second's marker can be seen: found in time, within a
// millisecond or a block of the truth, and never found in noise alone.
#include "tracking/second_finder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "app/varnol_doc.h"
#include "simulator/receiver.h"
#include "unit/tracking/afternoon_receiver.h"

namespace {

constexpr double CardRate = AfternoonCardRate;  // 8012.8 samples per second

struct FinderCase {
  const char* station;
  int station_mode;
  double snr_300hz_db;
  double fade_depth;
  double static_per_minute;
  int minutes;           // of audio
  int found_by_seconds;  // found by then
  double error_ms;       // the phase at the end within this of the truth
  bool signal = true;    // false: the receiver's noise alone
};

class SecondFinderTest : public ::testing::TestWithParam<FinderCase> {};

TEST_P(SecondFinderTest, FindsThePhase) {
  const FinderCase& c = GetParam();
  ReceiverSettings rs = AfternoonReceiver(c.snr_300hz_db, c.fade_depth, c.static_per_minute, 11, c.signal);
  rs.duration_s = c.minutes * 60.0;
  SimulatedReceiver rx(MakeEncoder(c.station), rs);
  std::vector<int16_t> audio(static_cast<size_t>(rs.duration_s * CardRate) + 4096);
  audio.resize(rx.Read(audio.data(), audio.size()));

  // the station's tone at 1000 Hz, or its code's subcarrier (WWV's 100 Hz)
  const StationSymbols& table = *SymbolsFor(c.station_mode);
  SecondFinder finder(table, table.code_period > 0 ? table.code_cycles : 1,
                      table.code_period > 0 ? table.code_period : 8);
  const double first_start = (std::ceil(rs.start_utc) - rs.start_utc) * CardRate;
  constexpr int Buffer = 2048;
  double found_at = -1.0;
  for (size_t at = 0; at + Buffer <= audio.size(); at += Buffer) {
    const double stamp = rs.start_utc + static_cast<double>(at) / CardRate;
    finder.Add(&audio[at], Buffer, static_cast<int64_t>(at), static_cast<int64_t>(stamp * 1e9));
    if (finder.Found() && found_at < 0.0) found_at = static_cast<double>(at) / CardRate;
  }
  double error_ms = 0.0;
  if (finder.Found()) {
    double d = std::fmod(finder.SecondStart() - first_start, CardRate);
    if (d > CardRate / 2) d -= CardRate;
    if (d < -CardRate / 2) d += CardRate;
    error_ms = d / CardRate * 1000.0;
  }
  std::printf(
      "%s %+.0f dB fade %.1f static %.0f: found after %.0f s, %.1f sigmas (lead %.1f), error %+.2f ms, "
      "rate %.2f\n",
      c.station, c.snr_300hz_db, c.fade_depth, c.static_per_minute, found_at, finder.Sigmas(),
      finder.LeadSigmas(), error_ms, finder.Rate());
  if (!c.signal) {
    EXPECT_LT(found_at, 0.0) << "a phase found in noise alone";
    return;
  }
  ASSERT_TRUE(finder.Found());
  EXPECT_GE(found_at, 0.0);
  EXPECT_LE(found_at, c.found_by_seconds);
  EXPECT_NEAR(error_ms, 0.0, c.error_ms);
  EXPECT_NEAR(finder.Rate(), CardRate, 0.01);
}

INSTANTIATE_TEST_SUITE_P(
    Snr, SecondFinderTest,
    ::testing::Values(FinderCase{"dcf77", StationDcf77, 10.0, 0.0, 0.0, 2, 40, 1.0},
                      FinderCase{"dcf77", StationDcf77, 0.0, 0.5, 2.0, 4, 60, 1.0},
                      FinderCase{"dcf77", StationDcf77, -5.0, 0.5, 2.0, 8, 240, 3.0},
                      FinderCase{"dcf77", StationDcf77, -10.0, 0.5, 2.0, 20, 900, 6.0},
                      // a carrier switched off: its edge's ramp read without a lean
                      FinderCase{"msf", StationMsf, 10.0, 0.0, 0.0, 4, 40, 0.3},
                      FinderCase{"hbg", StationHbg, 10.0, 0.0, 0.0, 4, 40, 0.3},
                      FinderCase{"msf", StationMsf, -5.0, 0.5, 2.0, 8, 240, 3.0},
                      FinderCase{"hbg", StationHbg, -5.0, 0.5, 2.0, 8, 240, 3.0},
                      FinderCase{"wwvb", StationWwvb, -5.0, 0.5, 2.0, 8, 240, 3.0},
                      FinderCase{"wwvb", StationWwvb, -10.0, 0.5, 2.0, 20, 900, 6.0},
                      // JJY by the full carrier's return at the second's start
                      FinderCase{"jjy", StationJjy, 10.0, 0.0, 0.0, 2, 60, 0.5},
                      // WWV by its code, which rises 30 ms into the second
                      FinderCase{"wwv", StationWwv, 10.0, 0.0, 0.0, 2, 60, 1.0},
                      FinderCase{"wwv", StationWwv, 0.0, 0.5, 2.0, 8, 240, 2.0},
                      FinderCase{"wwv", StationWwv, 0.0, 0.0, 0.0, 20, 0, 0.0, false},
                      FinderCase{"dcf77", StationDcf77, 0.0, 0.0, 0.0, 20, 0, 0.0, false},
                      FinderCase{"wwvb", StationWwvb, 0.0, 0.5, 0.0, 20, 0, 0.0, false}));

}  // namespace
