// SPDX-License-Identifier: GPL-3.0-or-later
// CHU (Ottawa), short wave, AM audio. The 1000 Hz second pulses go through the front end like
// any station's tone (bins 15..17): 300 ms pulses, 500 ms in second 0 (1 s at the hour),
// nothing in second 29, and only a 10 ms tick in seconds 31..39 and 51..59. The time itself
// comes from the Bell 103 code of seconds 31..39 (decoders/chu_fsk.*), read from the same
// samples: format A gives the UTC day of year, hour, minute and second of the second it is
// sent in, format B the year, DUT1, TAI - UTC and the leap-second warning.
//
// Minute marker (for the "mark" interval and the calibration): seconds 58 and 59 hold only a
// tick (off from tenth 1 on), second 0 the long minute pulse (on in tenths 0..4).
//
// Leap second: format B's warning (second 31) is the document's LeapAnnounced until an hour
// passes without another format B frame.
//
// Clock step: a format A frame confirmed by the next second's, which must give the same day,
// hour and minute, the next second, and end one second of audio later (within 1 %). The first
// confirmation of each minute sets the clock to that second; the reset text gives UTC.
#include <cmath>
#include <cstdio>

#include "app/varnol_doc.h"
#include "decoders/marker_probes.h"

namespace {

constexpr MarkerProbe ChuMinute[] = {
    {58, 1, 9, Tone::Off},
    {59, 1, 9, Tone::Off},
    {0, 0, 4, Tone::On},
};

}  // namespace

// Once a frame has shown where the minute's seconds lie, only seconds 30.5 to 40 are
// demodulated: the code never lies elsewhere, and the demodulator is the dearest part of the
// loop. Without a frame for three minutes (a fade, a station lost, a card far off its
// calibration) every sample is searched again.
void CVarnolDoc::ChuDemodulate(const int16_t* block) {
  if (ChuAnchorEnd >= 0.0) {
    const double second_samples = BlocksPerMinute * BlockSize / 60.0;
    const double now = static_cast<double>(ChuDemod.SamplesSeen());
    if (now - ChuAnchorEnd > 180.0 * second_samples) {
      ChuAnchorEnd = -1.0;
    } else {
      // seconds into the minute at this block's first sample
      const double minute_start = ChuAnchorEnd - (ChuAnchorSecond + 0.5) * second_samples;
      double into = std::fmod((now - minute_start) / second_samples, 60.0);
      if (into < 0.0) into += 60.0;
      if (into < 30.5 || into >= 40.0) {
        ChuDemod.Skip(BlockSize);
        return;
      }
    }
  }
  ChuDemod.Process(block, BlockSize);
}

void CVarnolDoc::DecodeChu() {
  DecoderFrame(ProbesHold(*this, ChuMinute), [] {});
  ChuFrame frame;
  while (ChuDemod.TakeFrame(frame)) TakeChuFrame(frame);
}

void CVarnolDoc::TakeChuFrame(const ChuFrame& f) {
  ChuAnchorEnd = f.end_sample;
  ChuAnchorSecond = f.kind == ChuFrameKind::YearB ? 31 : f.time.second;
  if (f.kind == ChuFrameKind::YearB) {
    ChuYearInfo = f.year;
    ChuYearFrames += 1;
    ChuYearEnd = f.end_sample;
    // The warning says a leap second ends this month, not which way: one is inserted while UT1
    // falls behind UTC (DUT1 negative), and could only be removed while UT1 runs ahead.
    LeapAnnounced = !f.year.leap_warning ? 0 : f.year.dut1_tenths > 0 ? 2 : 1;
    return;
  }
  if (f.kind != ChuFrameKind::TimeA) return;

  const double second_samples = BlocksPerMinute * BlockSize / 60.0;  // one second of audio
  const ChuTime& p = ChuLastTime;
  const double measured_second = f.end_sample - ChuLastEnd;  // samples: the card's second, by the two frames
  const bool confirmed = ChuLastValid != 0 && f.time.day_of_year == p.day_of_year && f.time.hour == p.hour &&
                         f.time.minute == p.minute && f.time.second == p.second + 1 &&
                         std::fabs(measured_second - second_samples) <= 0.01 * second_samples;
  ChuLastTime = f.time;
  ChuLastEnd = f.end_sample;
  ChuLastValid = 1;
  if (!confirmed) return;
  // A warning not heard again for an hour is not carried into another month.
  if (ChuYearEnd < 0.0 || f.end_sample - ChuYearEnd > 3600.0 * second_samples) LeapAnnounced = 0;

  // minutes of day in the PC's time scale: UTC plus the user's offset
  int total =
      static_cast<int>(std::floor((f.time.hour * 60 + f.time.minute) + (PcClockOffset + 0.00001) * 60.0));
  total = (total + 1440) % 1440;
  if (total == ChuStepMinute) return;  // one step a minute
  ChuStepMinute = total;
  LastMinuteOfDay = total;
  const int hour = total / 60, minute = total % 60;

  char text[48];
  std::snprintf(text, sizeof text, "Reset %02d:%02d", f.time.hour, f.time.minute);
  SetStatusText(text);

  // The frame ended 500 ms into its second; the audio since then (the rest of this block and the
  // correlator's delay) is how far into the second the PC is now.
  const double late = (static_cast<double>(ChuDemod.SamplesSeen()) - f.end_sample) / second_samples;  // s
  int second = f.time.second;
  int milliseconds = static_cast<int>(std::lround((0.5 + late) * 1000.0));
  second += milliseconds / 1000;
  milliseconds %= 1000;

  // Observers expect the block about one second into the minute, where the other stations'
  // marker runs end: second 1 began (second - 0.5) seconds before this frame's end. Counted
  // back at the card's rate as the two frames measured it, not at the calibration's, which may
  // be off by up to 1 %: over 39 seconds that would move the block by more than a third of a
  // second, further than the second epochs let a minute stray. Before the capture's first
  // block, the block is 0 or less.
  const double back = (static_cast<double>(ChuDemod.SamplesSeen()) - f.end_sample) +
                      (f.time.second - 0.5) * measured_second;  // samples before this block's end
  const int64_t minute_block = BlocksProcessed - static_cast<int64_t>(std::llround(back / BlockSize));
  NotifyMinuteAccepted(f.time.hour, f.time.minute, minute_block);

  const int64_t now = Clock.Now();
  const int64_t decoded = NearestUtcTimeOfDay(now, hour * 3600 + minute * 60 + second);
  SetSyncOffset(decoded - now);
  if (AutoSetClock == 1) WriteSystemClock(hour, minute, second, milliseconds);
}
