// SPDX-License-Identifier: GPL-3.0-or-later
// WWV (Fort Collins, Colorado) and WWVH (Kekaha, Hawaii), short wave. Besides the voice and
// the seconds ticks, both stations send a time code on a 100 Hz subcarrier, one pulse per
// second: about 0.2 s for a 0, 0.5 s for a 1 and 0.8 s for a position marker (seconds 9, 19,
// ..., 59); second 0 carries no pulse. The level comes from the 100 Hz synchronous detector.
// The code sent during a minute gives the UTC hour and minute at the start of that minute;
// the decoder runs about one second into the next minute and so adds one minute.
//
// Fields read (second: field, weight), hour first:
//   26 25 23 22 21 20     hour, BCD                20 10 8 4 2 1
//   17 16 15 13 12 11 10  minute, BCD              40 20 10 8 4 2 1
// Seconds 14 and 24 are unused. There is no check bit for these fields; a reading that is not
// a time of day (BcdTime) is dropped. A bit is 1 when the subcarrier is still on 0.3 s into
// its second.
#include <cstdio>

#include "app/varnol_doc.h"
#include "decoders/bcd_time.h"
#include "decoders/marker_probes.h"

namespace {

constexpr int HourSeconds[6] = {26, 25, 23, 22, 21, 20};
constexpr int HourWeights[6] = {20, 10, 8, 4, 2, 1};
constexpr int MinuteSeconds[7] = {17, 16, 15, 13, 12, 11, 10};
constexpr int MinuteWeights[7] = {40, 20, 10, 8, 4, 2, 1};

// The 0.8 s position marker of second 59 (on through tenth 7, off in tenths 8 and 9), then a
// second 0 without any pulse. Stops at the first probe that fails.
constexpr MarkerProbe WwvFrame[] = {
    {59, 0, 7, Tone::On},
    {59, 8, 9, Tone::Off},
    {0, 0, 9, Tone::Off},
};

}  // namespace

void CVarnolDoc::DecodeWwv() {
  DecoderFrame(ProbesHold(*this, WwvFrame), [this] {
    BcdTime time;
    for (int i = 0; i < 6; ++i)
      if (OffScore(HourSeconds[i], 3) < 0) time.AddHour(HourWeights[i]);
    for (int i = 0; i < 7; ++i)
      if (OffScore(MinuteSeconds[i], 3) < 0) time.AddMinute(MinuteWeights[i]);
    if (!time.IsTimeOfDay()) return;
    int hour = time.Hour();
    int minute = time.Minute();
    // The code gave the minute just ended; the minute now in progress is the next one.
    minute += 1;
    if (minute > 59) {
      minute = 0;
      hour += 1;
      if (hour > 23) hour = 0;
    }
    char text[48];  // room for any int the compiler cannot bound
    std::snprintf(text, sizeof text, "Reset %02d:%02d", hour, minute);
    RecordMinute(text, hour, minute);
  });
}

// Every station of the "Transmitter" menu but JJY has its decoder in this build; JJY's menu
// entry, name and stored number exist already, and its decoder comes next.
bool StationSupported(int station_mode) {
  return station_mode >= 0 && station_mode < StationCount && station_mode != StationJjy;
}
