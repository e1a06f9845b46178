// SPDX-License-Identifier: GPL-3.0-or-later
// Clock backends: the machine's real clock, and a simulated clock that follows the audio.
#pragma once

#include "platform/system_clock.h"

// Local calendar conversions through the C library and the process's time zone (TZ).
class LibcLocalTime : public SystemClock {
 public:
  LocalDateTime Local(int64_t t) override;
  int64_t LocalStandardToTime(const LocalDateTime& local) override;
};

// The machine's clock: clock_gettime / clock_settime. Writing needs CAP_SYS_TIME; a refused
// write returns false and changes nothing.
class RealSystemClock : public LibcLocalTime {
 public:
  int64_t Now() override;
  SYSTEMTIME GetSystemTime() override;
  bool SetSystemTime(const SYSTEMTIME& st) override;
};

// A clock for recordings and the simulated receiver: it starts at a given UTC time and moves
// on with the audio, 60 s for every `blocks_per_minute` blocks of 128 samples consumed.
// Setting it moves its offset; nothing outside the process changes.
class SimulatedClock : public LibcLocalTime {
 public:
  SimulatedClock(int64_t start_utc, double blocks_per_minute = 3756.0);
  // Moves the first sample's time to a moment that need not be a whole second.
  void StartAtMilliseconds(int64_t start_ms) { start_ms_ = start_ms; }

  // Tells the clock how many samples of audio have gone by since the first one.
  void SetAudioSamples(int64_t samples) { samples_ = samples; }
  // Makes the clock follow a running count of 128-sample blocks instead.
  void FollowBlocks(const int64_t* blocks) { blocks_ = blocks; }
  int64_t AudioSamples() const { return blocks_ != nullptr ? *blocks_ * 128 : samples_; }

  // Current simulated time in milliseconds since 1970 (for reports).
  int64_t NowMilliseconds() const;

  int64_t Now() override;
  SYSTEMTIME GetSystemTime() override;
  bool SetSystemTime(const SYSTEMTIME& st) override;

  // Makes the next writes fail, as a clock without the right to be set would.
  void RefuseWrites(bool refuse) { refuse_writes_ = refuse; }
  int WriteCount() const { return write_count_; }

 private:
  int64_t start_ms_;
  double blocks_per_minute_;
  int64_t samples_ = 0;
  const int64_t* blocks_ = nullptr;
  int64_t adjust_ms_ = 0;  // milliseconds added by clock writes
  bool refuse_writes_ = false;
  int write_count_ = 0;
};
