// SPDX-License-Identifier: GPL-3.0-or-later
// JJY, Japan: Ohtakadoya 40 kHz and Hagane 60 kHz, one code. The carrier is at full power
// from the start of every second for 200 ms (a position marker), 500 ms (a 1 bit) or 800 ms
// (a 0 bit) and at 10 % for the rest of the second -- the WWVB keying the other way round.
// Markers fall on seconds 0, 9, 19, 29, 39, 49 and 59, so two markers in a row (59, 0) mark the
// minute. The code sent during a minute gives Japan Standard Time (UTC+9, no summer time) at
// the start of that minute; the decoder runs just after the next minute has begun and so adds
// one minute.
//
// Fields read (second: field, weight):
//   1..3, 5..8       minute, BCD                     40 20 10 | 8 4 2 1
//   12, 13, 15..18   hour, BCD                       20 10 | 8 4 2 1
//   22, 23, 25..28,  day of year, BCD                200 100 | 80 40 20 10 | 8 4 2 1
//   30..33
//   36               PA1, even parity over 12..18
//   37               PA2, even parity over 1..8
//   41..48           year of the century, BCD        80 40 20 10 | 8 4 2 1
//   50..52           day of the week (0 = Sunday)    4 2 1
//   53, 54           leap second at the end of the month: LS1 announced, LS2 1 inserted 0 removed
// A minute is taken when both parities hold and the hour and minute are a time of day
// (BcdTime). In minutes 15 and 45 the call sign in Morse (the carrier keyed fully on and off)
// replaces seconds 40..48, and year, weekday and leap bits are not sent. A bit is 1 when the
// carrier is already reduced in its seventh tenth (600..700 ms).
#include <cstdio>

#include "app/varnol_doc.h"
#include "decoders/bcd_time.h"
#include "decoders/marker_probes.h"

namespace {

constexpr int MinuteSeconds[7] = {1, 2, 3, 5, 6, 7, 8};
constexpr int MinuteWeights[7] = {40, 20, 10, 8, 4, 2, 1};
constexpr int HourSeconds[6] = {12, 13, 15, 16, 17, 18};
constexpr int HourWeights[6] = {20, 10, 8, 4, 2, 1};
constexpr int DaySeconds[10] = {22, 23, 25, 26, 27, 28, 30, 31, 32, 33};
constexpr int DayWeights[10] = {200, 100, 80, 40, 20, 10, 8, 4, 2, 1};
constexpr int YearSeconds[8] = {41, 42, 43, 44, 45, 46, 47, 48};
constexpr int YearWeights[8] = {80, 40, 20, 10, 8, 4, 2, 1};

// Two 200 ms markers in a row: seconds 59 and 0 at full carrier in tenths 0 and 1 and reduced
// in tenths 2..9. Stops at the first probe that fails.
constexpr MarkerProbe JjyMarker[] = {
    {59, 0, 1, Tone::On},
    {59, 2, 9, Tone::Off},
    {0, 0, 1, Tone::On},
    {0, 2, 9, Tone::Off},
};

}  // namespace

bool CVarnolDoc::JjyBit(int second) const {
  return OffScore(second, 6) > 0;
}

// Seconds 40..48 keyed as pulses: full carrier in the first tenth and reduced in the last one,
// as every marker, 1 and 0 is. The Morse call sign breaks that pattern in several of them.
bool CVarnolDoc::JjyCallSignHeard() const {
  int broken = 0;
  for (int s = 40; s <= 48; ++s)
    if (!(OffScore(s, 0) < 0 && OffScore(s, 9) > 0)) broken += 1;
  return broken >= 3;
}

void CVarnolDoc::DecodeJjy() {
  DecoderFrame(ProbesHold(*this, JjyMarker), [this] {
    BcdTime time;
    int hour_ones = JjyBit(36) ? 1 : 0;
    for (int i = 0; i < 6; ++i) {
      if (JjyBit(HourSeconds[i])) {
        time.AddHour(HourWeights[i]);
        hour_ones += 1;
      }
    }
    int minute_ones = JjyBit(37) ? 1 : 0;
    for (int i = 0; i < 7; ++i) {
      if (JjyBit(MinuteSeconds[i])) {
        time.AddMinute(MinuteWeights[i]);
        minute_ones += 1;
      }
    }
    if (hour_ones % 2 != 0 || minute_ones % 2 != 0 || !time.IsTimeOfDay()) return;

    JjyMinuteInfo info;
    for (int i = 0; i < 10; ++i)
      if (JjyBit(DaySeconds[i])) info.DayOfYear += DayWeights[i];
    const bool call_minute = time.Minute() == 15 || time.Minute() == 45;
    info.CallSign = call_minute && JjyCallSignHeard() ? 1 : 0;
    if (!call_minute) {
      info.Year = 0;
      for (int i = 0; i < 8; ++i)
        if (JjyBit(YearSeconds[i])) info.Year += YearWeights[i];
      info.Weekday = (JjyBit(50) ? 4 : 0) + (JjyBit(51) ? 2 : 0) + (JjyBit(52) ? 1 : 0);
      if (JjyBit(53)) info.LeapSecond = JjyBit(54) ? 1 : 2;
      LeapAnnounced = info.LeapSecond;  // the call-sign minutes leave the last word standing
    }
    info.CodeHour = time.Hour();
    info.CodeMinute = time.Minute();

    int hour = time.Hour();
    int minute = time.Minute() + 1;  // the code gave the minute just ended
    if (minute >= 60) {
      minute = 0;
      hour += 1;
      if (hour >= 24) hour = 0;
    }
    char text[48];  // room for any int the compiler cannot bound
    std::snprintf(text, sizeof text, "Reset %02d:%02d", hour, minute);
    JjyInfo = info;
    RecordMinute(text, hour, minute);
  });
}
