// SPDX-License-Identifier: GPL-3.0-or-later
// What every station decoder shares: the list of minutes decoded during one run of marker
// blocks, the end of a marker run (interval text and calibration nudge), and the clock step
// that turns the middle decoded minute into the PC's time scale and, when enabled, sets the
// PC clock.
#include <cmath>
#include <cstdio>

#include "app/varnol_doc.h"

// The summer-time bit is the one the station's reader has just taken on this block, read with
// the hour and minute; it stays with them, since the clock step converts this minute and not
// whatever a later block of the run read (often the worst aligned one).
void CVarnolDoc::RecordMinute(const char* text, int hour, int minute) {
  // A count left by the minute-mark station (which counts blocks without storing records)
  // must not make entries of an earlier run look like this run's.
  if (MinuteRecordCount != MinuteRecordsStored) MinuteRecordCount = MinuteRecordsStored;
  if (MinuteRecordCount >= MaxMinuteRecords) return;  // an eighth minute in one run is dropped
  MinuteRecord& r = MinuteRecords[MinuteRecordCount];
  std::snprintf(r.Text, sizeof r.Text, "%s", text);
  r.Hour = hour;
  r.Minute = minute;
  r.SummerTime = SummerTimeFlag;
  MinuteRecordCount += 1;
  MinuteRecordsStored = MinuteRecordCount;
}

void CVarnolDoc::EndMarkerRun() {
  // blocks between the centre of the previous marker run and the centre of this one
  const int interval = BlocksSinceMarker - MarkerRunLength / 2;
  char text[32];
  std::snprintf(text, sizeof text, "mark %d", interval);
  SetStatusText(text);
  // Follow the measured minute one block at a time, only for plausible intervals.
  if (interval > MinBlocksPerMinute && interval < BlocksPerMinute && AdjustCalibration != 0)
    BlocksPerMinute -= 1;
  if (interval > BlocksPerMinute && interval < MaxBlocksPerMinute && AdjustCalibration != 0)
    BlocksPerMinute += 1;
  BlocksSinceMarker = MarkerRunLength / 2;
  MarkerRunLength = 0;
}

namespace {

// Hours to subtract from the station's time to reach UT.
int HourCorrection(int station_mode, int summer_time) {
  switch (station_mode) {
    case StationMsf: return summer_time;
    case StationHbg:
    case StationDcf77: return 1 + summer_time;
    case StationJjy: return 9;  // Japan Standard Time, the whole year
    default: return 0;
  }
}

}  // namespace

void CVarnolDoc::SetPcClock() {
  // Only records stored in this run count: after a mark run of the minute-mark station the
  // count can stand above zero (and above seven) with nothing stored behind it.
  const int count = MinuteRecordCount < MinuteRecordsStored ? MinuteRecordCount : MinuteRecordsStored;
  MinuteRecordCount = 0;
  MinuteRecordsStored = 0;
  if (count <= 0) return;

  const MinuteRecord& record = MinuteRecords[count / 2];
  int hour = record.Hour - HourCorrection(StationMode, record.SummerTime);
  int minute = record.Minute;
  const int ut_hour = hour, ut_minute = minute;

  // minutes of day in the PC's time scale: UT plus the user's offset (0.00001 h guards
  // against offsets such as 0.1 h landing a hair below the whole minute)
  int total = static_cast<int>(std::floor((hour * 60 + minute) + (PcClockOffset + 0.00001) * 60.0));
  total = (total + 1440) % 1440;
  hour = total / 60;
  minute = total % 60;

  if (total == LastMinuteOfDay + 1) {
    SetStatusText(record.Text);
    NotifyMinuteAccepted(ut_hour, ut_minute);

    // seconds, decoded minus PC. The system clock counts UTC whatever the PC's time zone, and
    // the decoded minute (UT plus the user's offset) is what will be written into it, so both
    // are compared on that one scale: hour:minute:01 on the UTC date nearest the PC's time,
    // so that near midnight the offset is the clock's error, not a day.
    const int64_t now = Clock.Now();
    const int64_t decoded = NearestUtcTimeOfDay(now, hour * 3600 + minute * 60 + 1);
    SetSyncOffset(decoded - now);

    if (AutoSetClock == 1) WriteSystemClock(hour, minute);
  }
  LastMinuteOfDay = total;
}

void CVarnolDoc::WriteSystemClock(int hour, int minute, int second, int milliseconds) {
  SYSTEMTIME st = Clock.GetSystemTime();
  // The date goes with the time: of the day before, the day read and the day after, take the
  // one that puts hour:minute:second nearest to the clock's current value, so that a write near
  // midnight never moves the clock a day, nor 12 hours or more. An hour of 24 is 00 of the
  // next day.
  const int64_t best = NearestUtcTimeOfDay(UnixFromSystemTime(st), hour * 3600 + minute * 60 + second);
  const SYSTEMTIME target = SystemTimeFromUnix(best, st.wMilliseconds);
  st.wYear = target.wYear;
  st.wMonth = target.wMonth;
  st.wDay = target.wDay;
  st.wDayOfWeek = target.wDayOfWeek;
  st.wHour = target.wHour;
  st.wMinute = target.wMinute;
  st.wSecond = static_cast<uint16_t>(second);
  if (milliseconds >= 0) st.wMilliseconds = static_cast<uint16_t>(milliseconds);
  const bool ok = Clock.SetSystemTime(st);
  NotifyClockWrite(st, ok);
  // A refused write leaves the clock as it was: keep the measured offset on show.
  if (ok) SetSyncOffset(0);
}
