// SPDX-License-Identifier: GPL-3.0-or-later
// MSF, Anthorn (formerly Rugby), 60 kHz. The carrier is switched off at the start of every
// second for 100 ms; two data bits follow, bit A in the 100..200 ms slot and bit B in the
// 200..300 ms slot (carrier off = 1). Second 0 is marked by 500 ms of carrier off, and bits
// 52A..59A always carry 0 1 1 1 1 1 1 0. The code sent during a minute gives the hour and
// minute of the following minute in UK civil time: GMT (UT+0), or BST (UT+1) in summer.
//
// Fields read (second and bit: field, weight):
//   39A..44A   hour, BCD                             20 10 8 4 2 1
//   45A..51A   minute, BCD                           40 20 10 8 4 2 1
//   57B        odd parity over 39A..51A              counted only
//   58B        summer time (BST) in force            flag
// A minute is taken when the parity holds and the fields are a time of day (BcdTime).
// An A bit is 1 when the carrier is off in the second tenth of its second (100..200 ms), a B bit
// when it is off in the third tenth (200..300 ms).
#include <cstdio>

#include "app/varnol_doc.h"
#include "decoders/bcd_time.h"
#include "decoders/marker_probes.h"

namespace {

constexpr int HourWeights[6] = {20, 10, 8, 4, 2, 1};        // seconds 39..44, bit A
constexpr int MinuteWeights[7] = {40, 20, 10, 8, 4, 2, 1};  // seconds 45..51, bit A

// Carrier off for the first half second of the minute, then the fixed A-bit pattern
// 0 1 1 1 1 1 1 0 in seconds 52..59 of the minute just ended. Stops at the first probe
// that fails.
constexpr MarkerProbe MsfMarker[] = {
    {0, 0, 4, Tone::Off},
    {52, 1, 1, Tone::On},
    {53, 1, 1, Tone::Off},
    {54, 1, 1, Tone::Off},
    {55, 1, 1, Tone::Off},
    {56, 1, 1, Tone::Off},
    {57, 1, 1, Tone::Off},
    {58, 1, 1, Tone::Off},
    {59, 1, 1, Tone::On},
};

}  // namespace

void CVarnolDoc::DecodeMsf() {
  DecoderFrame(ProbesHold(*this, MsfMarker), [this] {
    BcdTime time;
    int ones = 0;
    for (int i = 0; i < 6; ++i) {
      if (OffScore(39 + i, 1) > 0) {
        time.AddHour(HourWeights[i]);
        ones += 1;
      }
    }
    for (int i = 0; i < 7; ++i) {
      if (OffScore(45 + i, 1) > 0) {
        time.AddMinute(MinuteWeights[i]);
        ones += 1;
      }
    }
    if (OffScore(57, 2) > 0) ones += 1;
    // The summer-time bit is taken on every marker block, whatever the parity says.
    SummerTimeFlag = OffScore(58, 2) > 0 ? 1 : 0;
    if (ones % 2 == 1 && time.IsTimeOfDay()) {
      const int hour = time.Hour();
      const int minute = time.Minute();
      char text[48];  // room for any int the compiler cannot bound
      std::snprintf(text, sizeof text, "Reset %02d:%02d %s", hour, minute,
                    SummerTimeFlag == 1 ? "UT+1" : "UT+0");
      RecordMinute(text, hour, minute);
    }
  });
}
