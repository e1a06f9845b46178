// SPDX-License-Identifier: GPL-3.0-or-later
// VNG, Llandilo (Australia), short wave. The receiver's audio carries tone pulses: the
// minute is announced by at least 1.4 s without tone, followed by a tone of about 0.5 s at
// second 0. Hour and minute of the minute just begun, in UT, are sent in seconds 21..35 as
// pulse lengths: a pulse still on 100 ms into its second is a 1, a short pulse a 0.
//
// Fields read (second: field, weight), in reading order:
//   34 33 32 31 30 29   hour, BCD                  20 10 8 4 2 1
//   35                  even parity over 29..35
//   27 26 25 24 23 22 21  minute, BCD              40 20 10 8 4 2 1
//   28                  even parity over 21..28
// A minute is taken when both parities hold and the fields are a time of day (BcdTime).
#include <cstdio>

#include "app/varnol_doc.h"
#include "decoders/bcd_time.h"
#include "decoders/marker_probes.h"

namespace {

constexpr int HourWeights[6] = {20, 10, 8, 4, 2, 1};        // seconds 34 down to 29
constexpr int MinuteWeights[7] = {40, 20, 10, 8, 4, 2, 1};  // seconds 27 down to 21

// No tone from 58.6 s through the end of second 59, then a tone for the first half of second
// 0 and none for its second half. Stops at the first probe that fails.
constexpr MarkerProbe VngMarker[] = {
    {58, 6, 9, Tone::Off},
    {59, 0, 9, Tone::Off},
    {0, 0, 4, Tone::On},
    {0, 5, 9, Tone::Off},
};

// A pulse still on 100 ms into its second.
bool VngBit(const CVarnolDoc& d, int second) {
  return d.OffScore(second, 1) < 0;
}

}  // namespace

void CVarnolDoc::DecodeVng() {
  DecoderFrame(ProbesHold(*this, VngMarker), [this] {
    BcdTime time;
    int hour_ones = 0;
    for (int i = 0; i < 6; ++i) {
      if (VngBit(*this, 34 - i)) {
        time.AddHour(HourWeights[i]);
        hour_ones += 1;
      }
    }
    if (VngBit(*this, 35)) hour_ones += 1;
    int minute_ones = 0;
    for (int i = 0; i < 7; ++i) {
      if (VngBit(*this, 27 - i)) {
        time.AddMinute(MinuteWeights[i]);
        minute_ones += 1;
      }
    }
    if (VngBit(*this, 28)) minute_ones += 1;
    if (hour_ones % 2 != 0 || minute_ones % 2 != 0 || !time.IsTimeOfDay()) return;
    // Already the minute in progress, in UT: no minute added.
    const int hour = time.Hour();
    const int minute = time.Minute();
    char text[48];  // room for any int the compiler cannot bound
    std::snprintf(text, sizeof text, "Reset %02d:%02d %s", hour, minute, "UT+0");
    RecordMinute(text, hour, minute);
  });
}
