// SPDX-License-Identifier: GPL-3.0-or-later
// RWM, Moscow, short wave (4996, 9996, 14996 kHz). Nothing is decoded from this station: its
// seconds are marked by short tone pulses, and the minute by a silent second 59 followed by
// a 0.5 s tone at second 0. After each minute mark the PC clock is snapped to the nearest
// whole minute. The rounding is done on the system clock's own UTC time of day, the scale it
// is written back in, so the PC's time zone and its daylight saving never enter the step;
// only the reset text shows the snapped minute in local time.
#include <cstdio>

#include "app/varnol_doc.h"
#include "decoders/marker_probes.h"

namespace {

// No tone in tenths 1..9 of second 59 (tenth 0 may still hold that second's tick), then a
// tone for the first half of second 0 and none for its second half. Stops at the first probe
// that fails.
constexpr MarkerProbe RwmMark[] = {
    {59, 1, 9, Tone::Off},
    {0, 0, 4, Tone::On},
    {0, 5, 9, Tone::Off},
};

}  // namespace

void CVarnolDoc::DetectRwmMark() {
  if (ProbesHold(*this, RwmMark)) {
    MarkerFlags[DisplayColumn] = 1;
    MarkerRunLength += 1;
    // A count of mark blocks since the last snap; nothing is stored in MinuteRecords.
    MinuteRecordCount += 1;
    return;
  }
  if (MarkerRunLength > 0) EndMarkerRun();
  MarkerFlags[DisplayColumn] = 0;
  if (MinuteRecordCount > 0) SnapToMinuteMark();
}

void CVarnolDoc::SnapToMinuteMark() {
  // The count held no records; nothing of the list may be read by the next clock step.
  MinuteRecordCount = 0;
  MinuteRecordsStored = 0;

  // The system clock's UTC time of day rounded to the nearest minute, 30 s and more
  // rounding up.
  const int64_t now = Clock.Now();
  const int64_t midnight = now - UtcSecondsOfDay(now);
  const int q = static_cast<int>((UtcSecondsOfDay(now) + 30) / 60);
  const int hour = q / 60;  // 24 from 23:59:30 on
  const int minute = q % 60;

  // That minute at second 1 (hour 24 is 00 of the next day), shown in the PC's local time.
  const int64_t snapped = midnight + q * 60 + 1;
  const LocalDateTime shown = Clock.Local(snapped);
  char text[32];
  std::snprintf(text, sizeof text, "Reset %02d:%02d", shown.hour, shown.minute);
  SetStatusText(text);
  SetSyncOffset(snapped - now);  // seconds, snapped minus PC: -28 .. +31

  if (AutoSetClock == 1) WriteSystemClock(hour, minute);  // hour 24 writes 00 of the next day
}
