// SPDX-License-Identifier: GPL-3.0-or-later
// WWVB, Fort Collins (Colorado), 60 kHz. The carrier is reduced at the start of every second
// for 200 ms (a 0 bit), 500 ms (a 1 bit) or 800 ms (a position marker); markers fall on
// seconds 0, 9, 19, 29, 39, 49 and 59, so two markers in a row (59, 0) mark the minute. The code
// sent during a minute gives the UTC hour and minute at the start of that same minute; the
// decoder runs just after the next minute has begun and so adds one minute.
//
// Fields read (second: field, weight):
//   1..3, 5..8     minute, BCD                     40 20 10 | 8 4 2 1
//   12, 13, 15..18 hour, BCD                       20 10 | 8 4 2 1
// Seconds 4, 10, 11 and 14 are unused (always 0) and 9 is a marker. There is no check bit for
// these fields; a reading that is not a time of day (BcdTime) is dropped. A bit is 1 when the
// carrier is still reduced in its fourth tenth (300..400 ms).
#include <cstdio>

#include "app/varnol_doc.h"
#include "decoders/bcd_time.h"
#include "decoders/marker_probes.h"

namespace {

constexpr int MinuteSeconds[7] = {1, 2, 3, 5, 6, 7, 8};
constexpr int MinuteWeights[7] = {40, 20, 10, 8, 4, 2, 1};
constexpr int HourSeconds[6] = {12, 13, 15, 16, 17, 18};
constexpr int HourWeights[6] = {20, 10, 8, 4, 2, 1};

// Two 800 ms markers in a row: seconds 59 and 0 reduced for tenths 0..7 and at full carrier
// in tenths 8 and 9. Stops at the first probe that fails.
constexpr MarkerProbe WwvbMarker[] = {
    {59, 0, 7, Tone::Off},
    {59, 8, 9, Tone::On},
    {0, 0, 7, Tone::Off},
    {0, 8, 9, Tone::On},
};

}  // namespace

void CVarnolDoc::DecodeWwvb() {
  DecoderFrame(ProbesHold(*this, WwvbMarker), [this] {
    BcdTime time;
    for (int i = 0; i < 6; ++i)
      if (OffScore(HourSeconds[i], 3) > 0) time.AddHour(HourWeights[i]);
    for (int i = 0; i < 7; ++i)
      if (OffScore(MinuteSeconds[i], 3) > 0) time.AddMinute(MinuteWeights[i]);
    if (!time.IsTimeOfDay()) return;
    int hour = time.Hour();
    int minute = time.Minute();
    // The code gave the minute just ended; the minute now in progress is the next one.
    minute += 1;
    if (minute >= 60) {
      minute = 0;
      hour += 1;
      if (hour >= 24) hour = 0;
    }
    char text[48];  // room for any int the compiler cannot bound
    std::snprintf(text, sizeof text, "Reset %02d:%02d", hour, minute);
    RecordMinute(text, hour, minute);
  });
}
