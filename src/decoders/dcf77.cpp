// SPDX-License-Identifier: GPL-3.0-or-later
// DCF77, Mainflingen, 77.5 kHz. The carrier is reduced at the start of every second, for
// 100 ms (a 0 bit) or 200 ms (a 1 bit); second 59 has no reduction, so the reduction after
// it marks the minute. The code sent during a minute gives the hour and minute of the
// following minute in the station's legal time, CET (UT+1) or CEST (UT+2).
//
// Fields read (second: bit, weight):
//   17        summer time (CEST) announced         flag
//   18        standard time (CET) announced        flag
//   21..27    minute, BCD                          1 2 4 8 10 20 40
//   28        even parity over 21..28
//   29..34    hour, BCD                            1 2 4 8 10 20
//   35        even parity over 29..35
// A minute is taken when both parities hold and the fields are a time of day (BcdTime).
// A bit is 1 when the carrier is still reduced in its second tenth (100..200 ms).
#include <cstdio>

#include "app/varnol_doc.h"
#include "decoders/bcd_time.h"
#include "decoders/marker_probes.h"

namespace {

constexpr int MinuteWeights[7] = {1, 2, 4, 8, 10, 20, 40};  // seconds 21..27
constexpr int HourWeights[6] = {1, 2, 4, 8, 10, 20};        // seconds 29..34

// Carrier present after the pulse of second 58, through second 59, a 100 ms reduction at
// second 0 and carrier again for the rest of it. Stops at the first probe that fails.
constexpr MarkerProbe Dcf77Marker[] = {
    {58, 2, 9, Tone::On},
    {59, 0, 9, Tone::On},
    {0, 0, 0, Tone::Off},
    {0, 1, 9, Tone::On},
};

}  // namespace

// The Central European code shared with HBG: hour, minute, their even parities and the zone
// bits, read on a marker block; the minute is recorded when both parities hold and the
// fields are a time of day.
void CVarnolDoc::ReadCentralEuropeanCode() {
  BcdTime time;
  int hour_ones = 0;
  for (int i = 0; i < 7; ++i) {
    if (OffScore(29 + i, 1) > 0) {
      if (i < 6) time.AddHour(HourWeights[i]);
      hour_ones += 1;
    }
  }
  int minute_ones = 0;
  for (int i = 0; i < 8; ++i) {
    if (OffScore(21 + i, 1) > 0) {
      if (i < 7) time.AddMinute(MinuteWeights[i]);
      minute_ones += 1;
    }
  }
  SummerTimeFlag = (OffScore(17, 1) > 0 && OffScore(18, 1) < 0) ? 1 : 0;
  if (hour_ones % 2 == 0 && minute_ones % 2 == 0 && time.IsTimeOfDay()) {
    const int hour = time.Hour();
    const int minute = time.Minute();
    char text[48];  // room for any int the compiler cannot bound
    std::snprintf(text, sizeof text, "Reset %02d:%02d %s", hour, minute, SummerTimeFlag == 1 ? "UT+2" : "UT+1");
    RecordMinute(text, hour, minute);
  }
}

void CVarnolDoc::DecodeDcf77() {
  DecoderFrame(ProbesHold(*this, Dcf77Marker), [this] { ReadCentralEuropeanCode(); });
}
